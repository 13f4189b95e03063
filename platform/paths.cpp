#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zelk {

namespace {

std::string homeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/tmp";
}

std::string xdgDir(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  // Relative values are invalid by the XDG rules and are ignored.
  if (v && v[0] == '/') return std::string(v) + "/ZelkSolver";
  return homeDir() + "/" + fallback + "/ZelkSolver";
}

}  // namespace

std::string configDir() { return xdgDir("XDG_CONFIG_HOME", ".config"); }
std::string stateDir() { return xdgDir("XDG_STATE_HOME", ".local/state"); }

bool ensureParentDir(const std::string& filePath) {
  std::filesystem::path parent = std::filesystem::path(filePath).parent_path();
  if (parent.empty()) return true;
  std::error_code ec;
  // A home folder that does not exist is not ours to make (a HOME set
  // wrongly, a user without one): no folder tree appears under it.
  std::string home = homeDir();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  const std::string folder = parent.string();
  const bool underHome = folder.compare(0, home.size(), home) == 0 &&
                         (folder.size() == home.size() || folder[home.size()] == '/');
  if (underHome && !std::filesystem::is_directory(home, ec)) return false;
  std::filesystem::create_directories(parent, ec);
  return !ec;
}

}  // namespace zelk
