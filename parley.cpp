// parley: sends two operator-chosen bytes to the board on SPI channel 0 about
// twice a second and prints what the board clocks back, until the board's
// first byte is 'i'.

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cerrno>
#include <cstring>
#include <iostream>

static unsigned char buffer[2];
static unsigned char out[2];
static unsigned char in[2];

static const char *reason(int err)
{
    return err != 0 ? std::strerror(err) : "unknown error";
}

int main()
{
    errno = 0;
    if (wiringPiSPISetup(0, 5000) < 0) {
        std::cerr << "parley: cannot open SPI channel 0: " << reason(errno) << '\n';
        return 1;
    }

    std::cout << "out0 -> a/b ?\n";
    std::cin >> out[0];
    std::cout << "out1 -> c/d ?\n";
    std::cin >> out[1];

    do {
        buffer[0] = out[0];
        buffer[1] = out[1];
        errno = 0;
        // Unchecked, a failed transfer would show our own bytes as the board's.
        if (wiringPiSPIDataRW(0, buffer, 2) < 0) {
            std::cerr << "parley: SPI transfer failed: " << reason(errno) << '\n';
            return 1;
        }
        delay(10);
        in[0] = buffer[0];
        in[1] = buffer[1];

        // A fresh state, so a failure here reports this write's own errno.
        std::cout.clear();
        errno = 0;
        // Flushed now: Ctrl-C is the usual way out and must not lose lines.
        std::cout << " arduino dit :" << in[0] << in[1] << '\n' << std::flush;
        if (!std::cout) {
            std::cerr << "parley: cannot write reply line: " << reason(errno) << '\n';
            return 1;
        }
        delay(500);
    } while (in[0] != 'i');

    return 0;
}
