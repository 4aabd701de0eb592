#include "peer.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wpisim
{

namespace
{

// MISO wired to MOSI: every byte comes back as it was sent.
class LoopbackPeer : public Peer
{
  public:
    void exchange(unsigned char * /*data*/, int /*len*/, std::int64_t /*start_ns*/,
                  std::int64_t /*bit_ns*/) override
    {
    }
    const char *name() const override { return "loopback"; }
};

[[noreturn]] void unknown_peer(const char *wanted)
{
    std::fprintf(stderr,
                 "wiringPi stand-in: WPISIM_PEER=%s: not a peer (script, model, loopback, "
                 "board)\n",
                 wanted);
    std::exit(2);
}

} // namespace

std::unique_ptr<Peer> make_loopback_peer()
{
    return std::make_unique<LoopbackPeer>();
}

std::unique_ptr<Peer> make_peer()
{
    const char *replies = std::getenv("WPISIM_REPLIES");
    const char *wanted = std::getenv("WPISIM_PEER");
    if (wanted == nullptr || *wanted == '\0') {
        if (replies != nullptr)
            return make_script_peer(replies);
        if (auto board = make_board_peer())
            return board;
        return make_model_peer();
    }
    if (std::strcmp(wanted, "script") == 0)
        return make_script_peer(replies != nullptr ? replies : "");
    if (std::strcmp(wanted, "model") == 0)
        return make_model_peer();
    if (std::strcmp(wanted, "loopback") == 0)
        return make_loopback_peer();
    if (std::strcmp(wanted, "board") == 0) {
        if (auto board = make_board_peer())
            return board;
        std::fprintf(stderr, "wiringPi stand-in: WPISIM_PEER=board: the simulated board is "
                             "not available\n");
        std::exit(2);
    }
    unknown_peer(wanted);
}

} // namespace wpisim
