// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* Asks the library about the board, as told on the command line, in plain C
 * as a wiringPi program would; one line per call:
 *   id | rp1 | setup | wpi | phys | failure ALMOST|FATAL
 * wpi and phys print the GPIO of pins -1 to 64. */
#include <wiringPi.h>

#include <stdio.h>
#include <string.h>

static void numbering(const char *name, int (*to_gpio)(int))
{
    int pin;
    printf("%s", name);
    for (pin = -1; pin <= 64; ++pin)
        printf(" %d", to_gpio(pin));
    printf("\n");
}

int main(int argc, char **argv)
{
    int i;
    for (i = 1; i < argc; ++i) {
        const char *verb = argv[i];
        if (strcmp(verb, "id") == 0) {
            int model = -9, rev = -9, mem = -9, maker = -9, over = -9, major = 0, minor = 0;
            piBoardId(&model, &rev, &mem, &maker, &over);
            wiringPiVersion(&major, &minor);
            printf("%d.%d rev %d layout %d 40pin %d rp1 %d id %d %d %d %d %d %s, %s, %d MB\n",
                   major, minor, piBoardRev(), piGpioLayout(), piBoard40Pin(), piRP1Model(), model,
                   rev, mem, maker, over, piModelNames[model], piMakerNames[maker],
                   piMemorySize[mem]);
        } else if (strcmp(verb, "rp1") == 0) {
            printf("rp1 %d\n", piRP1Model());
        } else if (strcmp(verb, "setup") == 0) {
            printf("setup %d\n", wiringPiSetup());
        } else if (strcmp(verb, "wpi") == 0) {
            numbering("wpi", wpiPinToGpio);
        } else if (strcmp(verb, "phys") == 0) {
            numbering("phys", physPinToGpio);
        } else if (strcmp(verb, "failure") == 0 && i + 1 < argc) {
            const int fatal = strcmp(argv[++i], "FATAL") == 0 ? WPI_FATAL : WPI_ALMOST;
            printf("failure %d\n", wiringPiFailure(fatal, "board_probe: %s: %d\n", "asked", 7));
        } else {
            fprintf(stderr, "board_probe: unknown call %s\n", verb);
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
