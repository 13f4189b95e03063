#include "cli/options.h"

#include <cstring>

#include "platform/text.h"
#include "rules/switches.h"

namespace zelk::cli {

const char* const USAGE =
    "Usage: zelk [OPTIONS]\n"
    "       zelk --analyse [OPTIONS]\n"
    "       zelk --practice [OPTIONS]\n"
    "       zelk --batch [--analyse] [--off LIST] [--jobs N] [--table-mib N] < ENDGAMES\n"
    "\n"
    "Decides who wins a two-hand Zelk endgame with perfect play, prints the\n"
    "search statistics, then plays the winning side against you: type one play\n"
    "per line (Enter alone passes), one more line after a game replays it.\n"
    "\n"
    "Cards: Y X 2 A K Q J 0 9 8 7 6 5 4 3  (Y big joker, X small joker, 0 is ten)\n"
    "\n"
    "A position is both hands, the play on the table that the mover must beat\n"
    "(or none: he leads) and the mover. The opening position is player2\n"
    "leading. The moves to win of a position are the card plays (passes do not\n"
    "count) the winning side still makes until its hand is empty, the winner\n"
    "playing to make them few and the loser to make them many; a play that\n"
    "empties the hand counts 1. Those of one play of the mover: the moves to\n"
    "win of the position it leads to, plus 1 when the mover wins and the play\n"
    "is not a pass.\n"
    "\n"
    "Play types, by the names --off and --to-beat-type take:\n"
    "  G    个子            single (no switch: always allowed)\n"
    "  D    对子            pair\n"
    "  3    三个            three of a kind\n"
    "  31   三带一          three with a single\n"
    "  32   三带二          three with a pair\n"
    "  411  四带两个        four of a kind with two more cards (or a pair)\n"
    "  422  四带两对        four with two pairs\n"
    "  F    飞机            airplane: 2 to 7 triples of running ranks (3 to A)\n"
    "  F11  飞机带个子翅膀  airplane of 2 or 3 triples with a single each\n"
    "  F22  飞机带对子翅膀  airplane of 2 or 3 triples with a pair each\n"
    "  SZ   顺子            straight: 5 to 12 cards of running ranks (3 to A)\n"
    "  LD   连对            pair run: 3 to 10 pairs of running ranks (3 to A)\n"
    "  ZD   炸弹            bomb: four of a kind\n"
    "  WZ   王炸            rocket: both jokers\n"
    "\n"
    "Options:\n"
    "  --player1 HAND   player1's cards, who plays second (default AA9)\n"
    "  --player2 HAND   player2's cards, who leads (default 2QQJJ77553)\n"
    "  --mover 1|2      who moves in the position (default 2)\n"
    "                   e.g. zelk --mover 1 --player1 AA9 --player2 2QQJJ\n"
    "  --to-beat PLAY   the play on the table that the mover must beat, made\n"
    "                   by the other player (default none: the mover leads);\n"
    "                   refused when the cards form no play or only types the\n"
    "                   rule switches turn off\n"
    "                   e.g. zelk --mover 1 --to-beat 77 --player1 AA9 --player2 2QQJJ553\n"
    "  --to-beat-type NAME  its type where the cards form several, by code or\n"
    "                   Chinese name (see above)\n"
    "                   e.g. zelk --engine fast --to-beat 333444555666 --to-beat-type F11 ...\n"
    "  --analyse        every legal play of the mover in canonical order (the\n"
    "                   pass last), each with who wins after it and its moves\n"
    "                   to win, then the position's winner and moves to win.\n"
    "                   With --json one object: \"plays\" (play, type, winner,\n"
    "                   moves_to_win), \"winner\", \"moves_to_win\". Fast engine\n"
    "                   only; no replay. e.g. zelk --analyse --json\n"
    "  --practice       you play the side that wins (the other side when the\n"
    "                   mover loses), the machine defends as long as it can.\n"
    "                   At your prompt: ? lists the winning plays with their\n"
    "                   moves to win, u takes back your last play and the\n"
    "                   machine's answer. A play that throws the win away is\n"
    "                   played, and the machine then plays to win. Fast engine\n"
    "                   only; refuses --json, --no-replay and --batch.\n"
    "                   e.g. zelk --practice --player1 KK9 --player2 2QQJJ77553\n"
    "  --off LIST       rule switches to turn off, comma separated:\n"
    "                   D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ\n"
    "  --engine NAME    exhaustive (default) or fast: the fast engine proves\n"
    "                   positions with a transposition table; use it for\n"
    "                   endgames of more than about ten cards a side, where\n"
    "                   the exhaustive solver's strategy tree is out of reach\n"
    "  --threads N      --engine fast: 1 (default) or 2 threads for a search\n"
    "                   past 50 000 positions. Two are faster on the long\n"
    "                   ones; the positions counted then vary from run to\n"
    "                   run (the verdict and the plays do not)\n"
    "  --no-replay      end after the statistics line\n"
    "  --json           print one JSON object with the verdict; no replay\n"
    "  --debug          consistency checks, long progress line, verbose replay\n"
    "  --u1f            player1 leads; list its first plays instead of a replay\n"
    "                   (then echoes each line typed; refuses --json,\n"
    "                   --no-replay, --analyse, --practice and a position)\n"
    "  --log            append every message to the log file\n"
    "                   ($XDG_STATE_HOME/ZelkSolver/ZelkSolver.log)\n"
    "  --batch          solve the endgames on standard input with the fast\n"
    "                   engine, one a line: PLAYER1 PLAYER2 [OFFLIST], blank\n"
    "                   separated. OFFLIST is a list as for --off (a lone comma\n"
    "                   turns nothing off); without it --off applies. Blank\n"
    "                   lines and lines starting with # are skipped. Prints\n"
    "                   one JSON line per endgame, in input order, as --json\n"
    "                   --engine fast does but with \"line\":N first; a bad\n"
    "                   line gets {\"line\":N,\"error\":\"...\"} and the rest go\n"
    "                   on. Implies --json; refuses --player1, --player2,\n"
    "                   --debug, --u1f, --mover, --to-beat and --engine\n"
    "                   exhaustive. After those fields a line may give its\n"
    "                   position as key=value fields: mover=1|2, beat=PLAY,\n"
    "                   type=NAME (as --mover, --to-beat, --to-beat-type),\n"
    "                   e.g. AA9 2QQJJ553 mover=1 beat=77. With --analyse each\n"
    "                   line is analysed as --analyse --json does\n"
    "  --jobs N         --batch: endgames solved at once (default: one per core)\n"
    "  --table-mib N    the fast engine's table in MiB (default 512; with\n"
    "                   --batch 1024 shared by the jobs, at most 512 each).\n"
    "                   The positions counts depend on it once it is full\n"
    "  --help           show this help\n"
    "  --version        show the version\n"
    "\n"
    "Exit status: 0 done (also at the end of input), 1 the solve failed,\n"
    "2 bad options or hands (--batch: a bad line, unless a solve failed),\n"
    "130 stopped with Ctrl-C (twice: at once).\n";

namespace {

bool knownSwitch(const std::string& name) {
  for (const RuleSwitch& s : RULE_SWITCHES)
    if (name == s.suffix) return true;
  return false;
}

// A whole number from lo to hi, digits only.
bool parseCount(const std::string& text, long lo, long hi, long& n) {
  if (text.empty() || text.size() > 9) return false;
  n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= lo && n <= hi;
}

constexpr long MAX_JOBS = 256;  // each worker keeps about 2 MiB besides its table
constexpr long MAX_TABLE_MIB = long(1) << 20;

// The analysis and practice: moves to win come from the fast engine, and
// practice is played on the console. Neither has a listing mode, and
// neither has the listing mode a position other than player1 leading.
bool checkModes(const Options& o, std::string& error) {
  const char* mode = o.analyse ? "--analyse" : "--practice";
  if (o.analyse && o.practice)
    error = "--analyse does not go with --practice";
  else if ((o.analyse || o.practice) && !o.fastEngine)
    error = std::string(mode) + " works with the fast engine only";
  else if ((o.analyse || o.practice) && o.u1f)
    error = std::string("--u1f does not go with ") + mode;
  else if (o.practice && (o.json || o.noReplay || o.batch))
    error = std::string("--practice does not go with ") +
            (o.json       ? "--json"
             : o.noReplay ? "--no-replay"
                          : "--batch") +
            ": practice is played on the console";
  else if (o.positionGiven && o.u1f)
    error = "--u1f does not go with --mover or --to-beat (--mover 1 lets player1 lead)";
  else if (o.positionGiven && o.batch)
    error = "--batch reads the position from each line (mover=, beat=, type=)";
  return error.empty();
}

// Options that have no meaning beside --batch, or none without it, and
// those that contradict --u1f: its listing is console text, read to the end
// of the input.
bool checkCombination(const Options& o, std::string& error) {
  if (!checkModes(o, error)) return false;
  if (o.threads != 0 && (!o.fastEngine || o.batch)) {
    error = o.batch ? "--threads does not go with --batch: it solves one endgame a core"
                    : "--threads goes with --engine fast";
    return false;
  }
  if (!o.batch) {
    if (o.jobs != 0)
      error = "--jobs goes with --batch";
    else if (o.u1f && o.json)
      error = "--u1f does not go with --json: the listing is console text";
    else if (o.u1f && o.noReplay)
      error = "--u1f does not go with --no-replay: the listing reads lines until the end of input";
    return error.empty();
  }
  if (o.handsGiven)
    error = "--batch reads the hands from standard input; drop --player1 and --player2";
  else if (o.debug)
    error = "--batch does not go with --debug";
  else if (o.u1f)
    error = "--batch does not go with --u1f";
  else if (o.engineGiven && !o.fastEngine)
    error = "--batch solves with the fast engine only";
  return error.empty();
}

}  // namespace

bool parseOffList(const std::string& list, std::vector<std::string>& names, std::string& error) {
  std::vector<std::string> found;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string name =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!name.empty()) {
      if (!knownSwitch(name)) {
        // The echo of a name that may be anything is kept short.
        if (name.size() > 40) name = name.substr(0, 40) + "...";
        error = "unknown rule switch '" + name +
                "' in --off (known: D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ)";
        return false;
      }
      found.push_back(name);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  names.insert(names.end(), found.begin(), found.end());
  return true;
}

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
    // A whole number from 1 to `most` as the option's value.
    auto needCount = [&](long most, long& n) -> bool {
      if (!needValue()) return false;
      if (parseCount(value, 1, most, n)) return true;
      error = arg + " needs a whole number from 1 to " + std::to_string(most);
      return false;
    };
    auto noValue = [&]() -> bool {
      if (!hasValue) return true;
      error = "option " + arg + " takes no value";
      return false;
    };
    if (arg == "--player1" || arg == "--player2") {
      if (!needValue()) return false;
      (arg == "--player1" ? o.player1 : o.player2) = utf8ToUtf16(value);
      o.handsGiven = true;
    } else if (arg == "--off") {
      if (!needValue() || !parseOffList(value, o.off, error)) return false;
    } else if (arg == "--engine") {
      if (!needValue()) return false;
      if (value != "exhaustive" && value != "fast") {
        error = "unknown engine '" + value + "' (known: exhaustive, fast)";
        return false;
      }
      o.fastEngine = value == "fast";
      o.engineGiven = true;
    } else if (arg == "--batch") {
      if (!noValue()) return false;
      o.batch = true;
    } else if (arg == "--jobs") {
      long n = 0;
      if (!needCount(MAX_JOBS, n)) return false;
      o.jobs = static_cast<int>(n);
    } else if (arg == "--threads") {
      long n = 0;
      if (!needCount(2, n)) return false;
      o.threads = static_cast<int>(n);
    } else if (arg == "--table-mib") {
      long n = 0;
      if (!needCount(MAX_TABLE_MIB, n)) return false;
      o.tableMib = static_cast<std::size_t>(n);
    } else if (arg == "--mover") {
      if (!needValue()) return false;
      if (value != "1" && value != "2") {
        error = "--mover is 1 (player1) or 2 (player2)";
        return false;
      }
      o.mover = value[0];
      o.positionGiven = true;
    } else if (arg == "--to-beat" || arg == "--to-beat-type") {
      if (!needValue()) return false;
      (arg == "--to-beat" ? o.toBeat : o.toBeatType) = value;
      o.positionGiven = true;
    } else if (arg == "--analyse" || arg == "--analyze") {
      if (!noValue()) return false;
      o.analyse = true;
    } else if (arg == "--practice") {
      if (!noValue()) return false;
      o.practice = true;
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
  // Moves to win come from the fast engine: it is the default there.
  if ((o.analyse || o.practice) && !o.engineGiven) o.fastEngine = true;
  return o.help || o.version || checkCombination(o, error);
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
