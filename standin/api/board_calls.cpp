// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The parley authors
// The library's calls about the board itself: its version, the Pi's model and
// numbering, and the failure report, as wiringPi 3.14 answers them.

#include "call_faults.hpp"
#include "event_log.hpp"
#include "pi_model.hpp"
#include "pi_pins.hpp"
#include "pi_session.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>

#include <sys/resource.h>
#include <sys/utsname.h>

namespace
{

// 3.14's table reads: any int is masked into its 64 entries.
int masked(int pin)
{
    return pin & 63;
}

// Before a set-up 3.14's table pointer is null, and reading it kills the
// program; the stand-in says why first.
[[noreturn]] void without_tables(const char *call, int pin)
{
    wpisim::Record("misuse")
        .text("call", call)
        .num("pin", pin)
        .text("reason", "no set-up: the library crashes")
        .emit();
    std::fprintf(stderr,
                 "wpisim: %s(%d): called before any wiringPiSetup: wiringPi 3.14 reads its pin "
                 "table before it has one, and the program dies of SIGSEGV\n",
                 call, pin);
    std::fflush(stderr);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
    // A program may have blocked it.
    // cppcheck-suppress unreachableCode
    std::_Exit(128 + SIGSEGV);
}

int layout_now()
{
    return wpisim::pi::detect_board().layout;
}

} // namespace

// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables): the library's exported data

const char *piModelNames[PI_MODELS_MAX] = {
    "Model A",   "Model B",   "Model A+", "Model B+", "Pi 2",       "Alpha",     "CM",
    "Unknown07", "Pi 3",      "Pi Zero",  "CM3",      "Unknown11",  "Pi Zero-W", "Pi 3B+",
    "Pi 3A+",    "Unknown15", "CM3+",     "Pi 4B",    "Pi Zero2-W", "Pi 400",    "CM4",
    "CM4S",      "Unknown22", "Pi 5",     "CM5",      "Pi 500",     "CM5 Lite",
};

const char *piProcessor[5] = {"BCM2835", "BCM2836", "BCM2837", "BCM2711", "BCM2712"};

const char *piRevisionNames[16] = {"00", "01", "02", "03", "04", "05", "06", "07",
                                   "08", "09", "10", "11", "12", "13", "14", "15"};

const char *piMakerNames[16] = {"Sony UK",   "Egoman",    "Embest",    "Sony Japan",
                                "Embest",    "Stadium",   "Unknown06", "Unknown07",
                                "Unknown08", "Unknown09", "Unknown10", "Unknown11",
                                "Unknown12", "Unknown13", "Unknown14", "Unknown15"};

const int piMemorySize[8] = {256, 512, 1024, 2048, 4096, 8192, 16384, 0};

// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

namespace
{

// The release whose calls, messages and values the stand-in follows.
constexpr int version_major = 3;
constexpr int version_minor = 14;

} // namespace

extern "C" void wiringPiVersion(int *major, int *minor)
{
    wpisim::Record("version").emit();
    *major = version_major;
    *minor = version_minor;
}

extern "C" int piGpioLayout(void)
{
    const int layout = layout_now();
    wpisim::Record("gpio-layout").num("layout", layout).emit();
    return layout;
}

extern "C" int piBoardRev(void)
{
    const int layout = layout_now();
    wpisim::Record("board-rev").num("layout", layout).emit();
    return layout;
}

extern "C" void piBoardId(int *model, int *rev, int *mem, int *maker, int *overVolted)
{
    const wpisim::pi::Model &m = wpisim::pi::detect_board();
    wpisim::Record("board-id")
        .text("pi", std::string(m.word))
        .num("model", m.id.model)
        .num("rev", m.id.rev)
        .num("mem", m.id.mem)
        .num("maker", m.id.maker)
        .emit();
    *model = m.id.model;
    *rev = m.id.rev;
    *mem = m.id.mem;
    *maker = m.id.maker;
    *overVolted = m.id.over_volted;
}

extern "C" int piBoard40Pin(void)
{
    const int forty = wpisim::pi::detect_board().forty_pins ? 1 : 0;
    wpisim::Record("board-40pin").num("result", forty).emit();
    return forty;
}

extern "C" int piRP1Model(void)
{
    // Only a board already read is known: before that 3.14 says 0 even on a Pi 5.
    const int rp1 = wpisim::pi::board_detected() && wpisim::pi::model().rp1 ? 1 : 0;
    wpisim::Record("rp1-model").num("result", rp1).emit();
    return rp1;
}

extern "C" int wpiPinToGpio(int wpiPin)
{
    if (!wpisim::pi::pin_tables_installed())
        without_tables("wpiPinToGpio", wpiPin);
    const int gpio = wpisim::pi::wpi_to_bcm(layout_now(), masked(wpiPin));
    wpisim::Record("wpi-pin-to-gpio").num("pin", wpiPin).num("gpio", gpio).emit();
    return gpio;
}

extern "C" int physPinToGpio(int physPin)
{
    if (!wpisim::pi::pin_tables_installed())
        without_tables("physPinToGpio", physPin);
    const int gpio = wpisim::pi::phys_to_bcm(layout_now(), masked(physPin));
    wpisim::Record("phys-pin-to-gpio").num("pin", physPin).num("gpio", gpio).emit();
    return gpio;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): the library's variadic C call
extern "C" int wiringPiFailure(int fatal, const char *message, ...)
{
    va_list args;
    va_start(args, message);
    const int result = wpisim::pi::failure(fatal, message, args);
    va_end(args);
    return result;
}

extern "C" int wiringPiUserLevelAccess(void)
{
    wpisim::pi::detect_board();
    // /dev/gpiomem (gpiomem0 on a Pi 5) is there unless the set-up fault
    // says the devices are missing.
    const int result = wpisim::gpio_setup_fault() == ENOENT ? 0 : 1;
    wpisim::Record("user-level-access").num("result", result).emit();
    return result;
}

extern "C" int wiringPiGlobalMemoryAccess(void)
{
    wpisim::pi::detect_board();
    // The stand-in plays a run that may map all of the GPIO and PWM memory,
    // unless the set-up fault says it may not open it.
    const int result = wpisim::gpio_setup_fault() == 0 ? 2 : 0;
    wpisim::Record("global-memory-access").num("result", result).emit();
    return result;
}

// As 3.14 says it when it cannot read the board's revision; the bench always
// can, but a program may call it itself.
extern "C" void piGpioLayoutOops(const char *why)
{
    std::fprintf(stderr, "Oops: Unable to determine Raspberry Pi board revision from "
                         "/proc/device-tree/system/linux,revision and from /proc/cpuinfo\n");
    utsname sys{};
    if (uname(&sys) == 0) {
        std::fprintf(stderr, "      WiringPi    : %d.%d\n", version_major, version_minor);
        std::fprintf(stderr, "      system name : %s\n", sys.sysname);
        std::fprintf(stderr, "      release     : %s\n", sys.release);
        std::fprintf(stderr, "      version     : %s\n", sys.version);
        std::fprintf(stderr, "      machine     : %s\n", sys.machine);
        if (std::strstr(sys.machine, "arm") == nullptr &&
            std::strstr(sys.machine, "aarch") == nullptr)
            std::fprintf(stderr,
                         " -> This is not an ARM architecture; it cannot be a Raspberry Pi.\n");
    }
    std::fprintf(stderr, " -> %s\n", why);
    std::fprintf(stderr, " -> WiringPi is designed for Raspberry Pi and can only be used with a "
                         "Raspberry Pi.\n\n");
    std::fprintf(stderr, " -> Check at https://github.com/wiringpi/wiringpi/issues.\n\n");
    std::exit(EXIT_FAILURE);
}

// The GPIO character device's descriptor: a real one, opened once, as the
// library keeps /dev/gpiochip0 open.
extern "C" int wiringPiGpioDeviceGetFd(void)
{
    static const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    return fd;
}
