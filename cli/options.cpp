#include "cli/options.h"

#include <cstring>

#include "platform/text.h"
#include "rules/switches.h"

namespace zelk::cli {

const char* const USAGE =
    "Usage: zelk [OPTIONS]\n"
    "\n"
    "Decides who wins a two-hand Zelk endgame with perfect play, prints the\n"
    "search statistics, then plays the winning side against you: type one play\n"
    "per line (Enter alone passes), one more line after a game replays it.\n"
    "\n"
    "Cards: Y X 2 A K Q J 0 9 8 7 6 5 4 3  (Y big joker, X small joker, 0 is ten)\n"
    "\n"
    "Options:\n"
    "  --player1 HAND   player1's cards, who plays second (default AA9)\n"
    "  --player2 HAND   player2's cards, who leads (default 2QQJJ77553)\n"
    "  --off LIST       rule switches to turn off, comma separated:\n"
    "                   D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ\n"
    "  --engine NAME    exhaustive (default) or fast: the fast engine proves\n"
    "                   positions with a transposition table; use it for\n"
    "                   endgames of more than a few cards\n"
    "  --no-replay      end after the statistics line\n"
    "  --json           print one JSON object with the verdict; no replay\n"
    "  --debug          consistency checks, long progress line, verbose replay\n"
    "  --u1f            player1 leads; list its first plays instead of a replay\n"
    "  --log            append every message to the log file\n"
    "                   ($XDG_STATE_HOME/ZelkSolver/ZelkSolver.log)\n"
    "  --help           show this help\n"
    "  --version        show the version\n"
    "\n"
    "Exit status: 0 done (also at the end of input), 1 the solve failed,\n"
    "2 bad options or hands, 130 stopped with Ctrl-C (twice: at once).\n";

namespace {

bool knownSwitch(const std::string& name) {
  for (const RuleSwitch& s : RULE_SWITCHES)
    if (name == s.suffix) return true;
  return false;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    }
    auto needValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto noValue = [&]() -> bool {
      if (!hasValue) return true;
      error = "option " + arg + " takes no value";
      return false;
    };
    if (arg == "--player1" || arg == "--player2") {
      if (!needValue()) return false;
      (arg == "--player1" ? o.player1 : o.player2) = utf8ToUtf16(value);
    } else if (arg == "--off") {
      if (!needValue()) return false;
      std::size_t start = 0;
      while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        std::string name = value.substr(start, comma == std::string::npos ? std::string::npos
                                                                          : comma - start);
        for (char& c : name)
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!name.empty()) {
          if (!knownSwitch(name)) {
            error = "unknown rule switch '" + name +
                    "' in --off (known: D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ)";
            return false;
          }
          o.off.push_back(name);
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (arg == "--engine") {
      if (!needValue()) return false;
      if (value != "exhaustive" && value != "fast") {
        error = "unknown engine '" + value + "' (known: exhaustive, fast)";
        return false;
      }
      o.fastEngine = value == "fast";
    } else if (arg == "--no-replay") {
      if (!noValue()) return false;
      o.noReplay = true;
    } else if (arg == "--json") {
      if (!noValue()) return false;
      o.json = true;
    } else if (arg == "--debug") {
      if (!noValue()) return false;
      o.debug = true;
    } else if (arg == "--u1f") {
      if (!noValue()) return false;
      o.u1f = true;
    } else if (arg == "--log") {
      if (!noValue()) return false;
      o.log = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

void applySwitches(const Options& o) {
  resetRuleSwitches();
  for (const std::string& name : o.off)
    for (const RuleSwitch& s : RULE_SWITCHES)
      if (name == s.suffix) setFlag(*s.flag, 0);
  setFlag(F_DEBUG, o.debug);
  setFlag(F_U1F, o.u1f);
  setFlag(F_LOG, o.log);
}

}  // namespace zelk::cli
