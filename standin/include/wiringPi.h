// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
/* wiringPi 3.14's main header, as the stand-in serves it: every name, value and
 * signature is the library's, so a program builds unchanged against either and
 * a program built against one runs on the other. The guard is the library's
 * own, so a program that reaches both headers sees one. */
#ifndef __WIRING_PI_H__ // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#define __WIRING_PI_H__ // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// NOLINTBEGIN: the library's macros and C declarations, kept as it spells them.

// Spaced as the library spells them, so a second definition of the same name
// elsewhere is the same definition.
// clang-format off
#ifndef TRUE
#define TRUE (1==1)
#define FALSE (!TRUE)
#endif
// clang-format on

#define UNU __attribute__((unused))

/* Pins 0-63 are the Pi's own; extension nodes take numbers above. */
#define PI_GPIO_MASK (0xFFFFFFC0)

/* Numbering schemes */
#define WPI_MODE_PINS 0
#define WPI_MODE_GPIO 1
#define WPI_MODE_GPIO_SYS 2 /* deprecated since 3.2 */
#define WPI_MODE_PHYS 3
#define WPI_MODE_PIFACE 4
#define WPI_MODE_GPIO_DEVICE_BCM 5
#define WPI_MODE_GPIO_DEVICE_WPI 6
#define WPI_MODE_GPIO_DEVICE_PHYS 7
#define WPI_MODE_UNINITIALISED -1

/* Pin modes */
#define INPUT 0
#define OUTPUT 1
#define PWM_OUTPUT 2
#define PWM_MS_OUTPUT 8
#define PWM_BAL_OUTPUT 9
#define GPIO_CLOCK 3
#define SOFT_PWM_OUTPUT 4
#define SOFT_TONE_OUTPUT 5
#define PWM_TONE_OUTPUT 6
#define PM_OFF 7

#define LOW 0
#define HIGH 1

#define PUD_OFF 0
#define PUD_DOWN 1
#define PUD_UP 2

#define PWM_MODE_MS 0
#define PWM_MODE_BAL 1

#define INT_EDGE_SETUP 0
#define INT_EDGE_FALLING 1
#define INT_EDGE_RISING 2
#define INT_EDGE_BOTH 3

/* piBoardId's model, the index of piModelNames */
#define PI_MODEL_A 0
#define PI_MODEL_B 1
#define PI_MODEL_AP 2
#define PI_MODEL_BP 3
#define PI_MODEL_2 4
#define PI_ALPHA 5
#define PI_MODEL_CM 6

#define PI_MODEL_3B 8
#define PI_MODEL_ZERO 9
#define PI_MODEL_CM3 10

#define PI_MODEL_ZERO_W 12
#define PI_MODEL_3BP 13
#define PI_MODEL_3AP 14

#define PI_MODEL_CM3P 16
#define PI_MODEL_4B 17
#define PI_MODEL_ZERO_2W 18
#define PI_MODEL_400 19
#define PI_MODEL_CM4 20
#define PI_MODEL_CM4S 21

#define PI_MODEL_5 23
#define PI_MODEL_CM5 24
#define PI_MODEL_500 25
#define PI_MODEL_CM5L 26

#define PI_MODELS_MAX 27

#define PI_VERSION_1 0
#define PI_VERSION_1_1 1
#define PI_VERSION_1_2 2
#define PI_VERSION_2 3

#define PI_MAKER_SONY 0
#define PI_MAKER_EGOMAN 1
#define PI_MAKER_EMBEST 2
#define PI_MAKER_UNKNOWN 3

#define GPIO_LAYOUT_PI1_REV1 1 /* Pi 1 A/B revision 1 and 1.1, CM */
#define GPIO_LAYOUT_DEFAULT 2

// clang-format off
#define PI_THREAD(X) void *X (UNU void *dummy)

/* wiringPiFailure's first argument */
#define WPI_FATAL (1==1)
#define WPI_ALMOST (1==2)
// clang-format on

#ifdef __cplusplus
extern "C" {
#endif

extern const char *piModelNames[PI_MODELS_MAX];
extern const char *piProcessor[5];
extern const char *piRevisionNames[16];
extern const char *piMakerNames[16];
extern const int piMemorySize[8];

/* A device that extends the pin numbers from pinBase to pinMax. */
struct wiringPiNodeStruct {
    int pinBase;
    int pinMax;

    int fd;
    unsigned int data0;
    unsigned int data1;
    unsigned int data2;
    unsigned int data3;

    void (*pinMode)(struct wiringPiNodeStruct *node, int pin, int mode);
    void (*pullUpDnControl)(struct wiringPiNodeStruct *node, int pin, int mode);
    int (*digitalRead)(struct wiringPiNodeStruct *node, int pin);
    void (*digitalWrite)(struct wiringPiNodeStruct *node, int pin, int value);
    void (*pwmWrite)(struct wiringPiNodeStruct *node, int pin, int value);
    int (*analogRead)(struct wiringPiNodeStruct *node, int pin);
    void (*analogWrite)(struct wiringPiNodeStruct *node, int pin, int value);

    struct wiringPiNodeStruct *next;
};

extern struct wiringPiNodeStruct *wiringPiNodes;

extern volatile unsigned int *_wiringPiGpio;
extern volatile unsigned int *_wiringPiPwm;
extern volatile unsigned int *_wiringPiClk;
extern volatile unsigned int *_wiringPiPads;
extern volatile unsigned int *_wiringPiTimer;
extern volatile unsigned int *_wiringPiTimerIrqRaw;

extern void piGpioLayoutOops(const char *why);
extern int wiringPiFailure(int fatal, const char *message, ...);

extern struct wiringPiNodeStruct *wiringPiFindNode(int pin);
extern struct wiringPiNodeStruct *wiringPiNewNode(int pinBase, int numPins);

enum WPIPinType {
    WPI_PIN_BCM = 1,
    WPI_PIN_WPI,
    WPI_PIN_PHYS,
};

extern void wiringPiVersion(int *major, int *minor);
extern int wiringPiGlobalMemoryAccess(void);
extern int wiringPiUserLevelAccess(void);
extern int wiringPiSetup(void);
extern int wiringPiSetupSys(void);
extern int wiringPiSetupGpio(void);
extern int wiringPiSetupPhys(void);
extern int wiringPiSetupPinType(enum WPIPinType pinType);
extern int wiringPiSetupGpioDevice(enum WPIPinType pinType);

/* getPinModeAlt's answer: the order is the BCM function-select code's. */
enum WPIPinAlt {
    WPI_ALT_UNKNOWN = -1,
    WPI_ALT_INPUT = 0,
    WPI_ALT_OUTPUT,
    WPI_ALT5,
    WPI_ALT4,
    WPI_ALT0,
    WPI_ALT1,
    WPI_ALT2,
    WPI_ALT3,
    WPI_ALT6,
    WPI_ALT7,
    WPI_ALT8,
    WPI_ALT9,
    WPI_NONE = 0x1F, /* a Pi 5 pin's function after power-on */
};

/* The library declares it with (); (void) is the same call and keeps C's
 * -Wstrict-prototypes quiet. */
extern int wiringPiGpioDeviceGetFd(void);
extern void pinModeAlt(int pin, int mode);
extern enum WPIPinAlt getPinModeAlt(int pin);
extern void pinMode(int pin, int mode);
extern void pullUpDnControl(int pin, int pud);
extern int digitalRead(int pin);
extern void digitalWrite(int pin, int value);
extern unsigned int digitalRead8(int pin);
extern void digitalWrite8(int pin, int value);
extern void pwmWrite(int pin, int value);
extern int analogRead(int pin);
extern void analogWrite(int pin, int value);

/* Deprecated in the library */
extern int wiringPiSetupPiFace(void);
extern int wiringPiSetupPiFaceForGpioProg(void);

extern int piGpioLayout(void);
extern int piBoardRev(void);
extern void piBoardId(int *model, int *rev, int *mem, int *maker, int *overVolted);
extern int piBoard40Pin(void);
extern int piRP1Model(void);
extern int wpiPinToGpio(int wpiPin);
extern int physPinToGpio(int physPin);
extern void setPadDrive(int group, int value);
extern void setPadDrivePin(int pin, int value);
extern int getAlt(int pin);
extern void pwmToneWrite(int pin, int freq);
extern void pwmSetMode(int mode);
extern void pwmSetRange(unsigned int range);
extern void pwmSetClock(int divisor);
extern void gpioClockSet(int pin, int freq);
extern unsigned int digitalReadByte(void);
extern unsigned int digitalReadByte2(void);
extern void digitalWriteByte(int value);
extern void digitalWriteByte2(int value);

extern int waitForInterrupt(int pin, int mS);
extern int wiringPiISR(int pin, int mode, void (*function)(void));
extern int wiringPiISRStop(int pin);
extern int waitForInterruptClose(int pin);

extern int piThreadCreate(void *(*fn)(void *));
extern void piLock(int key);
extern void piUnlock(int key);

extern int piHiPri(const int pri);

extern void delay(unsigned int howLong);
extern void delayMicroseconds(unsigned int howLong);
extern unsigned int millis(void);
extern unsigned int micros(void);

extern unsigned long long piMicros64(void);

#ifdef __cplusplus
}
#endif

// NOLINTEND

#endif
