// The command line of `zelk`.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelk::cli {

struct Options {
  std::u16string player1 = u"AA9";         // plays second
  std::u16string player2 = u"2QQJJ77553";  // leads
  bool handsGiven = false;                 // --player1 or --player2 on the command line
  std::vector<std::string> off;            // rule switches to turn off, by suffix
  bool fastEngine = false;                 // --engine fast
  bool engineGiven = false;                // --engine on the command line
  bool batch = false;                      // endgames from standard input
  int jobs = 0;                            // batch workers; 0: one per core
  std::size_t tableMib = 0;                // fast engine's table; 0: the default
  int threads = 0;                         // fast engine's threads; 0: not given (one)
  // The position, where it is not the opening one (makePosition checks it).
  char mover = 0;              // --mover: '1' or '2'; 0 when not given (player2)
  std::string toBeat;          // --to-beat: the play the mover must beat
  std::string toBeatType;      // --to-beat-type: its type, where the cards form several
  bool positionGiven = false;  // --mover, --to-beat or --to-beat-type on the command line
  bool analyse = false;        // judge every play by its moves to win
  bool practice = false;       // the user plays the winning side
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

// Reads a comma-separated list of rule switch names (any case, empty names
// skipped) into `names`, upper case. False with a message for an unknown name.
bool parseOffList(const std::string& list, std::vector<std::string>& names, std::string& error);

// Turns off the listed rule switches (the others stay on) and sets the debug switches.
void applySwitches(const Options& options);

extern const char* const USAGE;

}  // namespace zelk::cli
