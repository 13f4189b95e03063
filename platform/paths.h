// Per-user folders, following the XDG base directory rules.
#pragma once

#include <string>

namespace zelk {

// $XDG_CONFIG_HOME/ZelkSolver, else ~/.config/ZelkSolver.
std::string configDir();
// $XDG_STATE_HOME/ZelkSolver, else ~/.local/state/ZelkSolver.
std::string stateDir();
// Creates the folders above a file path when they are missing; false on failure.
bool ensureParentDir(const std::string& filePath);

}  // namespace zelk
