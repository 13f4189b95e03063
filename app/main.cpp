// ZelkSolver: the dialog.
#include <cstdio>
#include <cstdlib>

#include "app/updateui.h"
#include "app/zelksapp.h"

namespace {
bool set(const char* variable) {
  const char* v = std::getenv(variable);
  return v && *v;
}
}  // namespace

int main(int argc, char** argv) {
  // Without a display Qt would abort; say why and leave instead.
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
    std::fprintf(stderr,
                 "ZelkSolver: no display (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "Start it on a desktop, or use the command-line solver: zelk\n");
    return 2;
  }
  updateui::prepareApplication();
  {
    CZelkSApp app(argc, argv);
    updateui::installPageOpener();
    app.InitInstance();
  }
  // The solver, release and update threads may still run; the process ends
  // without tearing down the objects they use, as a desktop process ends
  // its abandoned threads.
  std::fflush(nullptr);
  std::_Exit(0);
}
