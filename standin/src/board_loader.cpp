// Finds the simulated board: a module built beside this library that runs the
// firmware in simavr. Where it was not built, there is no board.

#include "diagnostic.hpp"
#include "event_log.hpp"
#include "firmware_check.hpp"
#include "peer.hpp"

#include <cstdlib>
#include <dlfcn.h>
#include <string>

#ifndef BOARD_MODULE
#define BOARD_MODULE ""
#endif
#ifndef BOARD_FIRMWARE
#define BOARD_FIRMWARE ""
#endif

namespace wpisim
{

std::unique_ptr<Peer> make_board_peer(bool named)
{
    if (*BOARD_MODULE == '\0') {
        if (named)
            fail("WPISIM_PEER=board", "this build has no simulated board (it needs simavr and "
                                      "the AVR toolchain)");
        return nullptr;
    }
    // This build has the board: anything missing from here on is an error, never
    // a quiet fall back to another peer that would answer differently.
    const char *asked = std::getenv("WPISIM_FIRMWARE");
    const bool chosen = asked != nullptr && *asked != '\0';
    const std::string firmware = chosen ? asked : BOARD_FIRMWARE;
    const std::string what = (chosen ? "WPISIM_FIRMWARE=" : "firmware ") + quoted(firmware);
    const std::string refused = firmware_problem(firmware);
    if (!refused.empty())
        fail(what, refused);

    const std::string where = "simulated board module " + quoted(BOARD_MODULE);
    void *module = dlopen(BOARD_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        // dlerror names the file again; the message already does.
        std::string why = dlerror();
        const std::string prefix = std::string(BOARD_MODULE) + ": ";
        if (why.rfind(prefix, 0) == 0)
            why.erase(0, prefix.size());
        fail(where, why);
    }
    using Make = Peer *(*)(const char *);
    auto make = reinterpret_cast<Make>(dlsym(module, "wpisim_board_peer"));
    if (make == nullptr)
        fail(where, "no wpisim_board_peer in it");
    Peer *board = make(firmware.c_str());
    if (board == nullptr)
        fail(what, "the board did not start (the call log's board-error line says why)");
    Record("board-firmware").text("path", firmware).emit();
    // The module stays loaded for the life of the process: the board's code
    // lives there. The board reads the path only while it is being made.
    // cppcheck-suppress [resourceLeak, returnDanglingLifetime]
    return std::unique_ptr<Peer>(board);
}

} // namespace wpisim
