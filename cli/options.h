// The command line of `zelk`.
#pragma once

#include <string>
#include <vector>

namespace zelk::cli {

struct Options {
  std::u16string player1 = u"AA9";         // plays second
  std::u16string player2 = u"2QQJJ77553";  // leads
  std::vector<std::string> off;           // rule switches to turn off, by suffix
  bool fastEngine = false;                // --engine fast
  bool noReplay = false;
  bool json = false;
  bool debug = false;
  bool u1f = false;
  bool log = false;
  bool help = false;
  bool version = false;
};

// False with a message for an unknown option, a missing value or an unknown switch name.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// Turns off the listed rule switches (the others stay on) and sets the debug switches.
void applySwitches(const Options& options);

extern const char* const USAGE;

}  // namespace zelk::cli
