#pragma once

#include <string>

namespace wpisim
{

// Where the stand-in's state outlives a process: the pins' files and the
// simulated board's socket. WPISIM_STATE_DIR, else $XDG_STATE_HOME/wpisim,
// else ~/.local/state/wpisim.
std::string default_state_dir();

// mkdir -p; true when the directory exists afterwards (errno says why not).
bool make_dirs(const std::string &path);

} // namespace wpisim
