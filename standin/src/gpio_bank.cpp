// Simulated GPIO bank. A pin's mode and level live in small text files in the
// state directory (pin0.mode, pin0.level), so a level set by one process is
// still there for the next, as on a Pi.

#include "event_log.hpp"
#include "faults.hpp"
#include "state_dir.hpp"

#include <wiringPi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int pin_count = 32;

bool set_up = false;
std::string state_dir;

} // namespace

namespace wpisim
{

std::string default_state_dir()
{
    if (const char *dir = std::getenv("WPISIM_STATE_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    if (const char *dir = std::getenv("XDG_STATE_HOME"); dir != nullptr && *dir != '\0')
        return std::string(dir) + "/wpisim";
    if (const char *home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.local/state/wpisim";
    return "/tmp/wpisim-" + std::to_string(getuid());
}

// mkdir -p; true when the directory exists afterwards.
bool make_dirs(const std::string &path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

} // namespace wpisim

namespace
{

[[noreturn]] void die(const char *call, const std::string &what)
{
    std::fprintf(stderr, "wiringPi stand-in: %s: cannot write %s: %s\n", call, what.c_str(),
                 std::strerror(errno));
    std::exit(1);
}

// Mode and level are separate files, as separate as the hardware's registers,
// so each call writes one file and reads none. Written to a temporary file and
// renamed, so a reader never sees half a state.
void write_state(const char *call, int pin, const char *what, const char *value)
{
    const std::string path = state_dir + "/pin" + std::to_string(pin) + "." + what;
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        die(call, tmp);
    const std::string text = std::string(value) + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0 || !written)
        die(call, tmp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0)
        die(call, path);
}

// The real library crashes or exits on these; flagging and ignoring the call
// lets a test see the mistake.
bool usable(const char *call, int pin)
{
    const char *reason = nullptr;
    if (!set_up)
        reason = "before-wiringPiSetup";
    else if (pin < 0 || pin >= pin_count)
        reason = "no-such-pin";
    if (reason == nullptr)
        return true;
    wpisim::Record("misuse").text("call", call).num("pin", pin).text("reason", reason).emit();
    std::fprintf(stderr, "wiringPi stand-in: %s(%d) ignored: %s\n", call, pin, reason);
    return false;
}

} // namespace

extern "C" int wiringPiSetup(void)
{
    int fault = wpisim::gpio_setup_fault();
    const std::string dir = wpisim::default_state_dir();
    if (fault == 0 && !wpisim::make_dirs(dir)) {
        fault = errno;
        std::fprintf(stderr, "wiringPi stand-in: GPIO state directory %s: %s\n", dir.c_str(),
                     std::strerror(fault));
    }
    wpisim::Record("gpio-setup")
        .text("state_dir", dir)
        .num("result", fault == 0 ? 0 : -1)
        .num("errno", fault)
        .emit();
    if (fault != 0) {
        errno = fault;
        return -1;
    }
    state_dir = dir;
    set_up = true;
    return 0;
}

extern "C" void pinMode(int pin, int mode)
{
    wpisim::Record("pin-mode").num("pin", pin).num("mode", mode).emit();
    if (!usable("pinMode", pin))
        return;
    write_state("pinMode", pin, "mode", mode == OUTPUT ? "output" : "input");
}

extern "C" void digitalWrite(int pin, int value)
{
    wpisim::Record("digital-write").num("pin", pin).num("value", value).emit();
    if (!usable("digitalWrite", pin))
        return;
    write_state("digitalWrite", pin, "level", value == LOW ? "low" : "high");
}
