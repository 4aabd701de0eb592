// Built where the AVR simulator is not: there is no simulated board.

#include "peer.hpp"

namespace wpisim
{

std::unique_ptr<Peer> make_board_peer()
{
    return nullptr;
}

} // namespace wpisim
