// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* pwm: a servo's 50 Hz pulse on GPIO 18 (header pin 12), the hardware PWM,
 * and an LED dimmed to a quarter by software PWM on GPIO 23 (header pin 16). */
#include <softPwm.h>
#include <stdio.h>
#include <wiringPi.h>

#define SERVO 18
#define LED 23

int main(void)
{
    if (wiringPiSetupGpio() != 0) {
        fprintf(stderr, "pwm: wiringPiSetupGpio failed\n");
        return 1;
    }
    /* 19.2 MHz / 192 = 100 kHz ticks, 2000 of them a period: 50 Hz. In
     * mark-space mode the pulse is one block, as a servo wants it. */
    pinMode(SERVO, PWM_OUTPUT);
    pwmSetMode(PWM_MODE_MS);
    pwmSetClock(192);
    pwmSetRange(2000);
    pwmWrite(SERVO, 150); /* 1.5 ms: the servo's middle */
    printf("servo: 1.5 ms pulse every 20 ms\n");

    /* 100 steps of 100 us: a 10 ms period. */
    if (softPwmCreate(LED, 25, 100) != 0) {
        fprintf(stderr, "pwm: softPwmCreate failed\n");
        return 1;
    }
    printf("led: 25%% for one second\n");
    delay(1000);
    softPwmStop(LED);
    /* The hardware PWM runs on after we exit, as on a Pi. */
    return 0;
}
