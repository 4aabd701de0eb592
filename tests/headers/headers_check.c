// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* A program as a wiringPi user writes it, in plain C: the headers must give it
 * every name it uses, clean under the strictest warnings, in C and in C++. */
#include <softPwm.h>
#include <softTone.h>
#include <wiringPi.h>
#include <wiringPiI2C.h>
#include <wiringPiSPI.h>
#include <wiringSerial.h>

/* Each header again: those without a guard only declare. */
#include <softPwm.h>
#include <softTone.h>
#include <wiringPi.h>
#include <wiringPiI2C.h>
#include <wiringPiSPI.h>
#include <wiringSerial.h>

static PI_THREAD(blinker)
{
    return 0;
}

static void on_edge(void) {}

static void analog_write(struct wiringPiNodeStruct *node, int pin, int value)
{
    node->data0 = (unsigned int)(pin + value);
}

int main(void)
{
    int model = 0, rev = 0, mem = 0, maker = 0, over = 0, major = 0, minor = 0;
    unsigned char bytes[2] = {0, 0};
    enum WPIPinType type = WPI_PIN_PHYS;
    enum WPIPinAlt alt = WPI_NONE;
    struct wiringPiNodeStruct *node;
    const unsigned int mask = PI_GPIO_MASK;
    const int modes[] = {WPI_MODE_PINS,
                         WPI_MODE_GPIO,
                         WPI_MODE_GPIO_SYS,
                         WPI_MODE_PHYS,
                         WPI_MODE_PIFACE,
                         WPI_MODE_GPIO_DEVICE_BCM,
                         WPI_MODE_GPIO_DEVICE_WPI,
                         WPI_MODE_GPIO_DEVICE_PHYS,
                         WPI_MODE_UNINITIALISED,
                         INPUT,
                         OUTPUT,
                         PWM_OUTPUT,
                         PWM_MS_OUTPUT,
                         PWM_BAL_OUTPUT,
                         GPIO_CLOCK,
                         SOFT_PWM_OUTPUT,
                         SOFT_TONE_OUTPUT,
                         PWM_TONE_OUTPUT,
                         PM_OFF,
                         PUD_OFF,
                         PUD_DOWN,
                         PUD_UP,
                         PWM_MODE_MS,
                         PWM_MODE_BAL,
                         INT_EDGE_SETUP,
                         INT_EDGE_FALLING,
                         INT_EDGE_RISING,
                         INT_EDGE_BOTH,
                         PI_MODEL_A,
                         PI_MODEL_B,
                         PI_MODEL_AP,
                         PI_MODEL_BP,
                         PI_MODEL_2,
                         PI_ALPHA,
                         PI_MODEL_CM,
                         PI_MODEL_3B,
                         PI_MODEL_ZERO,
                         PI_MODEL_CM3,
                         PI_MODEL_ZERO_W,
                         PI_MODEL_3BP,
                         PI_MODEL_3AP,
                         PI_MODEL_CM3P,
                         PI_MODEL_4B,
                         PI_MODEL_ZERO_2W,
                         PI_MODEL_400,
                         PI_MODEL_CM4,
                         PI_MODEL_CM4S,
                         PI_MODEL_5,
                         PI_MODEL_CM5,
                         PI_MODEL_500,
                         PI_MODEL_CM5L,
                         PI_VERSION_1,
                         PI_VERSION_1_1,
                         PI_VERSION_1_2,
                         PI_VERSION_2,
                         PI_MAKER_SONY,
                         PI_MAKER_EGOMAN,
                         PI_MAKER_EMBEST,
                         PI_MAKER_UNKNOWN,
                         GPIO_LAYOUT_PI1_REV1,
                         GPIO_LAYOUT_DEFAULT,
                         LOW,
                         HIGH,
                         TRUE,
                         FALSE};

    wiringPiVersion(&major, &minor);
    if (wiringPiSetupPinType(type) < 0 || wiringPiSetupGpioDevice(WPI_PIN_BCM) < 0 ||
        wiringPiSetup() < 0 || wiringPiSetupGpio() < 0 || wiringPiSetupPhys() < 0 ||
        wiringPiSetupSys() < 0 || wiringPiSetupPiFace() < 0 || wiringPiSetupPiFaceForGpioProg() < 0)
        return wiringPiFailure(WPI_FATAL, "setup: %d\n", wiringPiGpioDeviceGetFd());
    piBoardId(&model, &rev, &mem, &maker, &over);
    if (model < PI_MODELS_MAX && piModelNames[model] && piRevisionNames[rev] &&
        piMakerNames[maker] && piProcessor[0] && piMemorySize[mem] > 0)
        piGpioLayoutOops("unknown");
    node = wiringPiNewNode(100, 8);
    node->analogWrite = analog_write;
    if (wiringPiFindNode(100) != node || wiringPiNodes == 0 || _wiringPiGpio == 0 ||
        _wiringPiPwm == 0 || _wiringPiClk == 0 || _wiringPiPads == 0 || _wiringPiTimer == 0 ||
        _wiringPiTimerIrqRaw == 0)
        (void)wiringPiFailure(WPI_ALMOST, "no node\n");

    pinModeAlt(wpiPinToGpio(1), WPI_ALT5);
    alt = getPinModeAlt(physPinToGpio(12));
    pinMode(0, OUTPUT);
    pullUpDnControl(0, PUD_UP);
    digitalWrite(0, digitalRead(1) + (int)digitalRead8(2) + (int)alt);
    digitalWrite8(0, 0xff);
    pwmSetMode(PWM_MODE_MS);
    pwmSetRange(1024u);
    pwmSetClock(32);
    pwmWrite(1, 512);
    pwmToneWrite(1, 440);
    gpioClockSet(7, 100000);
    analogWrite(100, analogRead(100));
    setPadDrive(0, 7);
    setPadDrivePin(1, 7);
    digitalWriteByte((int)digitalReadByte());
    digitalWriteByte2((int)digitalReadByte2());
    if (piGpioLayout() != piBoardRev() || piBoard40Pin() < 0 || piRP1Model() < 0 || getAlt(1) < 0 ||
        wiringPiUserLevelAccess() < 0 || wiringPiGlobalMemoryAccess() < 0)
        return 1;

    if (wiringPiISR(0, INT_EDGE_BOTH, on_edge) < 0 || waitForInterrupt(0, 100) < 0 ||
        wiringPiISRStop(0) < 0 || waitForInterruptClose(0) < 0)
        return 1;
    if (piThreadCreate(blinker) != 0 || piHiPri(55) != 0)
        return 1;
    piLock(0);
    piUnlock(0);
    delay(1);
    delayMicroseconds(10);
    if (millis() + micros() + piMicros64() == 0)
        return 1;

    if (wiringPiSPISetup(0, 500000) < 0 || wiringPiSPISetupMode(1, 500000, 0) < 0 ||
        wiringPiSPIDataRW(0, bytes, 2) < 0 || wiringPiSPIGetFd(0) < 0 ||
        wiringPiSPIxSetup(0, 0, 500000) < 0 || wiringPiSPIxSetupMode(0, 1, 500000, 3) < 0 ||
        wiringPiSPIxDataRW(0, 0, bytes, 2) < 0 || wiringPiSPIxGetFd(0, 0) < 0 ||
        wiringPiSPIxClose(0, 0) < 0 || wiringPiSPIClose(0) < 0)
        return 1;

    {
        const int fd = serialOpen("/dev/serial0", 115200);
        serialPutchar(fd, 'a');
        serialPuts(fd, "bc");
        serialPrintf(fd, "%d", fd);
        serialFlush(fd);
        if (serialDataAvail(fd) < 0 || serialGetchar(fd) < 0)
            return 1;
        serialClose(fd);
    }

    {
        const int fd = wiringPiI2CSetup(0x08);
        uint8_t block[4] = {0, 0, 0, 0};
        if (fd < 0 || wiringPiI2CSetupInterface("/dev/i2c-1", 0x09) < 0 ||
            wiringPiI2CRead(fd) < 0 || wiringPiI2CReadReg8(fd, 0) < 0 ||
            wiringPiI2CReadReg16(fd, 0) < 0 || wiringPiI2CReadBlockData(fd, 0, block, 4) < 0 ||
            wiringPiI2CRawRead(fd, block, 4) < 0 || wiringPiI2CWrite(fd, 1) < 0 ||
            wiringPiI2CWriteReg8(fd, 0, 1) < 0 || wiringPiI2CWriteReg16(fd, 0, 1) < 0 ||
            wiringPiI2CWriteBlockData(fd, 0, block, 4) < 0 || wiringPiI2CRawWrite(fd, block, 4) < 0)
            return 1;
    }

    if (softPwmCreate(3, 0, 100) != 0 || softToneCreate(4) != 0)
        return 1;
    softPwmWrite(3, 50);
    softToneWrite(4, 440);
    softPwmStop(3);
    softToneStop(4);
    return modes[0] + (int)(mask & 1u);
}
