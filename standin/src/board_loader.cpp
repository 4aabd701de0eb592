// Finds the simulated board: a module built beside this library that runs the
// firmware in simavr. Where it was not built, there is no board.

#include "peer.hpp"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#ifndef BOARD_MODULE
#define BOARD_MODULE ""
#endif
#ifndef BOARD_FIRMWARE
#define BOARD_FIRMWARE ""
#endif

namespace wpisim
{

namespace
{

Peer *load(const char *firmware)
{
    if (*BOARD_MODULE == '\0' || *firmware == '\0')
        return nullptr;
    void *module = dlopen(BOARD_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    using Make = Peer *(*)(const char *);
    auto make = reinterpret_cast<Make>(dlsym(module, "wpisim_board_peer"));
    Peer *board = make == nullptr ? nullptr : make(firmware);
    if (board == nullptr) {
        dlclose(module);
        return nullptr;
    }
    // The module stays loaded for the life of the process: the board's code lives there.
    // cppcheck-suppress resourceLeak
    return board;
}

} // namespace

std::unique_ptr<Peer> make_board_peer()
{
    const char *asked = std::getenv("WPISIM_FIRMWARE");
    if (asked == nullptr || *asked == '\0')
        return std::unique_ptr<Peer>(load(BOARD_FIRMWARE));
    // A firmware named on purpose must run; falling back would hide the mistake.
    std::unique_ptr<Peer> board(load(asked));
    if (!board) {
        std::fprintf(stderr, "wiringPi stand-in: WPISIM_FIRMWARE=%s: cannot run it\n", asked);
        std::exit(2);
    }
    return board;
}

} // namespace wpisim
