// Calls the library as told on the command line, one line of results per
// call, so tests can check the stand-in's own contract.
//   spi-setup CH SPEED | transfer CH HEX | gpio-setup | mode PIN M | write PIN V

#include <wiringPi.h>
#include <wiringPiSPI.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

int number(const char *text)
{
    return static_cast<int>(std::strtol(text, nullptr, 0));
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string verb = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : "0"; };
        errno = 0;
        if (verb == "spi-setup") {
            const int channel = number(next());
            const int r = wiringPiSPISetup(channel, number(next()));
            std::printf("%d %d\n", r < 0 ? -1 : 0, errno);
        } else if (verb == "transfer") {
            const int channel = number(next());
            const std::string hex = next();
            std::vector<unsigned char> data;
            for (std::size_t k = 0; k + 1 < hex.size(); k += 2)
                data.push_back(
                    static_cast<unsigned char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
            const int r = wiringPiSPIDataRW(channel, data.data(), static_cast<int>(data.size()));
            std::printf("%d %d ", r, errno);
            for (const unsigned char b : data)
                std::printf("%02x", b);
            std::printf("\n");
        } else if (verb == "gpio-setup") {
            std::printf("%d %d\n", wiringPiSetup(), errno);
        } else if (verb == "mode") {
            const int pin = number(next());
            pinMode(pin, number(next()));
        } else if (verb == "write") {
            const int pin = number(next());
            digitalWrite(pin, number(next()));
        } else {
            std::fprintf(stderr, "library_probe: unknown call %s\n", verb.c_str());
            return 2;
        }
    }
    return 0;
}
