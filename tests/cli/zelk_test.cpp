// The `zelk` command end to end: the real binary with piped input, and a
// pseudo-terminal for Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "buildconfig.h"
#include "cli/session.h"
#include "platform/text.h"
#include "zelkprocess.h"

namespace {

using namespace std::chrono_literals;
using zelktest::Result;
using zelktest::runZelk;
using zelktest::Terminal;

// Sanitizer builds run several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int SLOWDOWN = 5;
#else
constexpr int SLOWDOWN = 1;
#endif

std::string maskTiming(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(speed \d+/s sec \d+\.\d{3}s)"),
                            "speed S/s sec T.TTTs");
}

// A state folder of its own for one test, removed at the end; zelk keeps its
// log file in it.
class StateDir {
 public:
  StateDir() {
    const char* base = std::getenv("XDG_STATE_HOME");
    std::filesystem::path parent = base ? base : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(parent);
    std::string pattern = (parent / "zelk-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~StateDir() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  std::string env() const { return "XDG_STATE_HOME=" + path_.string(); }
  std::filesystem::path logFile() const { return path_ / "ZelkSolver" / "ZelkSolver.log"; }

 private:
  std::filesystem::path path_;
};

// The records of a log file (UTF-16LE after its byte-order mark), without
// their time stamps; empty when the file is missing or has no mark.
std::vector<std::string> logRecords(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return {};
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  std::string utf8 = zelk::utf16ToUtf8(text);
  static const std::regex stamp(R"(\[\d{4}\.\d{2}\.\d{2}-\d{2}:\d{2}:\d{2}\]:)");
  std::vector<std::string> records;
  std::sregex_token_iterator it(utf8.begin(), utf8.end(), stamp, -1), end;
  for (; it != end; ++it)
    if (it->length() > 0) records.push_back(*it);
  return records;
}

int indexOf(const std::vector<std::string>& records, const std::string& prefix) {
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  return -1;
}

TEST(Zelk, JsonOnTheDefaultEndgame) {
  Result r = runZelk({"--json"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  std::regex expected(
      R"(^\{"player1":"AA9","player2":"2QQJJ77553","winner":1,"first_play":null,)"
      R"("first_play_type":null,"positions":3823,"tree_positions":3083,"opening_plays":10,)"
      R"("elapsed_ms":\d+,"engine":"exhaustive"\}\n$)");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

TEST(Zelk, JsonNamesTheFirstPlayWhenPlayer2Wins) {
  // KK loses (the ace takes the last single), KKK wins: the first win in
  // canonical order is the three.
  Result r = runZelk({"--json", "--player1", "a", "--player2", "k k k 5"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("player1":"A","player2":"KKK5","winner":2,"first_play":"KKK",)"
                       R"("first_play_type":"三个")"),
            std::string::npos)
      << r.out;
}

// Two threads: the same verdict and first play as one, on an endgame that
// outlasts the first quick try.
TEST(Zelk, TwoThreadsGiveTheSameAnswer) {
  const std::vector<std::string> common = {"--json",       "--engine",  "fast",         "--player1",
                                           "X22AA0886633", "--player2", "YAQQJJ0999844"};
  std::vector<std::string> two = common;
  two.insert(two.end(), {"--threads", "2"});
  Result a = runZelk(common, ""), b = runZelk(two, "");
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  const std::string verdict = R"("winner":2,"first_play":)";
  ASSERT_NE(a.out.find(verdict), std::string::npos) << a.out;
  // Everything up to the positions counted is the same.
  const std::size_t upTo = a.out.find(",\"positions\"");
  ASSERT_NE(upTo, std::string::npos);
  EXPECT_EQ(b.out.substr(0, upTo), a.out.substr(0, upTo));
  EXPECT_NE(b.out.find(R"("engine":"fast")"), std::string::npos) << b.out;
}

TEST(Zelk, BadHandsAndOptionsExitWithStatus2) {
  struct Row {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--player1", "10JQKA"},
       "玩家1的牌不合法!\r\n因为[输入范围之外的字符(1)]!请重新输入!!!\r\n"},
      {{"--player1", "33333", "--player2", "XX"},
       "玩家1的牌不合法!\r\n因为[3超过了4张]!请重新输入!!!\r\n"},
      {{"--player2", "XX"},
       "玩家2的牌不合法!\r\n因为[输入了2张小王，最多只能1张小王]!请重新输入!!!\r\n"},
      {{"--player1", ""}, "每个玩家的牌太少!!!\r\n请重新输入!!![0][10]\r\n"},
      {{"--player2", "33334444555566667777AAA"},
       "每个玩家的牌不能超过22张!!!\r\n请重新输入!!![3][23]\r\n"},
  };
  for (const Row& row : rows) {
    Result r = runZelk(row.args, "");
    EXPECT_EQ(r.status, 2) << row.err;
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out, "");
  }
  const std::vector<std::pair<std::vector<std::string>, std::string>> threads = {
      {{"--threads", "2"}, "--threads goes with --engine fast"},
      {{"--engine", "fast", "--threads", "3"}, "--threads needs a whole number from 1 to 2"},
      {{"--engine", "fast", "--threads", "0"}, "--threads needs a whole number from 1 to 2"},
      {{"--batch", "--threads", "2"}, "--threads does not go with --batch"},
  };
  for (const auto& [args, err] : threads) {
    Result r = runZelk(args, "");
    EXPECT_EQ(r.status, 2) << err;
    EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  Result unknown = runZelk({"--frobnicate"}, "");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos);
  Result badSwitch = runZelk({"--off", "ZD,QQ"}, "");
  EXPECT_EQ(badSwitch.status, 2);
  EXPECT_NE(badSwitch.err.find("unknown rule switch 'QQ'"), std::string::npos);
  Result help = runZelk({"--help"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--player1 HAND"), std::string::npos);
  // The listing is console text that reads to the end of the input: it has
  // nothing to give --json, and --no-replay would leave it waiting.
  for (const char* other : {"--json", "--no-replay"}) {
    Result r = runZelk({"--u1f", other}, "x\n");
    EXPECT_EQ(r.status, 2) << other;
    EXPECT_EQ(r.err.rfind(std::string("zelk: --u1f does not go with ") + other + ": ", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("Try 'zelk --help'.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Zelk, Version) {
  Result r = runZelk({"--version"}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "zelk " + zelk::utf16ToUtf8(ZELK_VERSION_TEXT) + "\n");
  EXPECT_EQ(r.err, "");
}

TEST(Zelk, AFullGameFromPipedInputEndsAtTheEndOfInput) {
  Result r = runZelk({"--player1", "2", "--player2", "34"}, "5\n\n4\n\n3\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(maskTiming(r.out),
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 5 牌局树牌局数 5(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:5\n"
            "player2出牌不合法\n"
            "player2:player2过牌\n"
            "player2出牌不合法\n"
            "player2:player2出牌:4\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:3\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST(Zelk, MachineAsPlayer2) {
  Result r = runZelk({"--player1", "3", "--player2", "45"}, "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(maskTiming(r.out),
            "player1牌:3\r\n"
            "player2牌:54  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player2 \r\n"
            "推演牌局总数 4 牌局树牌局数 4(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n"
            "牌局【player1 3 player2 45】轮到player2出牌(回车表示过牌)..\n"
            "player2出牌:4\n"
            "牌局【player1 3 player2 5】轮到player1出牌(回车表示过牌)..\n"
            "player1:player1过牌\n"
            "player2出牌:5\n"
            "player2赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST(Zelk, SwitchesAndNoReplay) {
  // With every kind but singles off, player2 has one opening play per rank.
  Result r = runZelk({"--no-replay", "--off", "D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("N1=6 "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("现在开始游戏"), std::string::npos);
  // Pairs alone off: the default endgame loses its four opening pairs.
  Result pairs = runZelk({"--no-replay", "--off", "d"}, "");
  EXPECT_EQ(pairs.status, 0) << pairs.err;
  EXPECT_EQ(maskTiming(pairs.out),
            "player1牌:AA9\r\n"
            "player2牌:2QQJJ77553  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 383 牌局树牌局数 383(100.00%) N1=6 speed S/s sec T.TTTs \r\n");
}

// --debug makes the replay name each position it looks for, and the child found.
TEST(Zelk, DebugShowsTheReplaysSearch) {
  Result r = runZelk({"--debug", "--player1", "2", "--player2", "34"}, "4\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string out = maskTiming(r.out);
  std::string game =
      "player2:player2出牌:4\n"
      "findC:[2][3][4]--n\r\n"
      "C:[2][3][4]--while--个子\r\n"
      "player1出牌:2\n"
      "player1赢\r\n"
      "按回车键重玩此局...\r\n";
  ASSERT_GE(out.size(), game.size()) << out;
  EXPECT_EQ(out.substr(out.size() - game.size()), game) << out;
  Result plain = runZelk({"--player1", "2", "--player2", "34"}, "4\n");
  EXPECT_EQ(plain.out.find("findC:"), std::string::npos) << plain.out;
}

TEST(Zelk, ListingMode) {
  Result r = runZelk({"--u1f", "--player1", "3", "--player2", "45"}, "hi\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "player1牌:3\r\n"
            "player2牌:54  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "C:[45][][3]--while--个子\r\n"
            "findcU1C:List of U1\n"
            "由于U1成了赢家，所以U1的出牌表是不完整的!!!!\r\n"
            "你只有让U1成为输家，才能看到U1的完整出牌表!!!\r\n"
            "input:e-cho:hi\r\n"
            "input:");
}

// --log appends every message to the log file, console lines included; a
// run without it writes nothing there.
TEST(Zelk, LogFile) {
  StateDir state;
  Result quiet = runZelk({"--player1", "2", "--player2", "34"}, "4\n", {state.env()});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_FALSE(std::filesystem::exists(state.logFile()));

  Result r = runZelk({"--log", "--player1", "2", "--player2", "34"}, "4\n", {state.env()});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> records = logRecords(state.logFile());
  std::vector<std::string> opening = {"玩家1:2[1]\r\n",  "玩家2:43[2]\r\n",
                                      "p_thread:\r\n",   "zelkmain:\r\n",
                                      "player1牌:2\r\n", "player2牌:43  ---先出牌者\r\n"};
  ASSERT_GE(records.size(), opening.size());
  EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 6), opening);
  int played = indexOf(records, "player2出牌:4\n");
  int endOfInput = indexOf(records, "ReadConsoleLine:eno 61\r\n");
  int errorBreak = indexOf(records, "ERRORBREAK!\r\n");
  int over = indexOf(records, "p_thread:over\r\n");
  EXPECT_GT(played, 0);
  EXPECT_GT(endOfInput, played);
  EXPECT_GT(errorBreak, endOfInput);
  EXPECT_GT(over, errorBreak);
  EXPECT_GT(indexOf(records, "DestroyOk:成功停止("), over);
}

// Ctrl-C on a terminal stops a long search within a second (the full solve
// would take minutes): no verdict, the stop on standard error, status 130.
TEST(Zelk, CtrlCStopsALongSearch) {
  Terminal t({"--player1", "2AKQJ09876543", "--player2", "2AKQJ09876543"});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("开始暴力求解", 10s)) << t.seen;
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(t.seen.find("最终获胜方") == std::string::npos) << "the search ended too soon";
  auto pressed = std::chrono::steady_clock::now();
  t.type(3);
  EXPECT_EQ(t.exitWithin(10s), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, 1s * SLOWDOWN);
  EXPECT_EQ(t.seen.find("最终获胜方"), std::string::npos) << t.seen;
  EXPECT_EQ(t.err, "zelk: stopped\n");
}

// Ctrl-C while the replay waits for the user's line; the log shows the stop
// command first, then the read it made fail.
TEST(Zelk, CtrlCStopsAWaitingReplay) {
  StateDir state;
  Terminal t({"--log"}, {state.env()});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("player2:", 10s)) << t.seen;
  auto pressed = std::chrono::steady_clock::now();
  t.type(3);
  EXPECT_EQ(t.exitWithin(10s), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, 1s * SLOWDOWN);
  EXPECT_EQ(t.err, "zelk: stopped\n");

  std::vector<std::string> records = logRecords(state.logFile());
  int prompt = indexOf(records, "player2:");
  ASSERT_GE(prompt, 0);
  std::vector<std::string> stop(records.begin() + prompt + 1, records.end());
  ASSERT_FALSE(stop.empty());
  EXPECT_EQ(stop[0], "Destroy:\r\n");
  int failed = indexOf(stop, "ReadConsoleLine:eno ");
  if (failed < 0) failed = indexOf(stop, "WriteConsole:eno ");
  EXPECT_GT(failed, 0);
  EXPECT_GT(indexOf(stop, "ERRORBREAK!\r\n"), failed);
  EXPECT_GT(indexOf(stop, "p_thread:over\r\n"), indexOf(stop, "ERRORBREAK!\r\n"));
  EXPECT_GT(indexOf(stop, "DestroyOk:成功停止("), indexOf(stop, "p_thread:over\r\n"));
}

// zelk as a shell runs it, with zelk on the PATH.
Result shell(const std::string& command, const std::string& input = "") {
  const std::string dir = std::filesystem::path(ZELK_BINARY).parent_path().string();
  return runZelk({"-c", command}, input, {"PATH=" + dir + ":" + std::getenv("PATH")}, "/bin/sh");
}

// Whether every line is one flat JSON object in valid UTF-8.
bool jsonLines(const std::string& text) {
  static const std::string string = R"("(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-f]{4})*")";
  static const std::string member = string + ":(?:" + string + "|-?\\d+|null)";
  static const std::regex object("\\{" + member + "(?:," + member + ")*\\}");
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!std::regex_match(line, object) || line.size() > 400) return false;
  return zelk::utf16ToUtf8(zelk::utf8ToUtf16(text)) == text && !text.empty();
}

// Failures of the surroundings: each ends with its reason on standard error
// (all of it: "zelk: " `err`) and the status, losing nothing.
TEST(Zelk, FailuresAreReported) {
  struct Row {
    const char *command, *err, *out;  // err: a regular expression, empty for none
    int status;
  } rows[] = {
    {"zelk <&-", "", "player2:", 0},  // closed input: its end, not our own pipe
    {"zelk --batch <&-", "", "", 0},
    {"zelk --json >&-", "cannot write the answer: Bad file descriptor", "", 1},
    {"zelk --json >/dev/full", "cannot write the answer: No space left on device", "", 1},
    {"zelk --no-replay >/dev/full", "cannot write to standard output: No space left.*", "", 1},
    {"zelk >&-", "cannot write to standard output: Bad file descriptor", "", 1},
    {"echo A KKK5 | zelk --batch >/dev/full", "cannot write the answers: No space left.*", "", 1},
    {"zelk --help >/dev/full", "cannot write to standard output: .*", "", 1},
    {"zelk </", "cannot read standard input: Is a directory", "", 1},
    {"zelk --batch </", "cannot read standard input: Is a directory", "", 1},
    {"printf 4 | zelk --player1 2 --player2 34", "", "player2出牌:4\nplayer1出牌:2\n", 0},
    {"printf '4\\r\\n' | zelk --player1 2 --player2 34", "", "player2出牌:4\nplayer1出牌:2\n", 0},
    {"XDG_STATE_HOME=/dev/null zelk --log --json",
     "warning: cannot write the log file /dev/null/.*: Not a directory", "\"winner\"", 0},
    {"HOME=\"$HOME/no\" XDG_STATE_HOME= zelk --log --json && test ! -e \"$HOME/no\"",
     "warning: cannot write the log file .*/no/.*: No such file or directory", "\"winner\"", 0},
    {"zelk --json --engine fast --table-mib 1048576 --log",
     "out of memory: .* refused 1048576 MiB .*\\(the log: .*ZelkSolver.log\\)", "", 1},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they need the address space
    {"ulimit -v 40000; zelk --json", "cannot start the solver thread: .+", "", 1},
#endif
  };
  for (const Row& row : rows) {
    Result r = shell(row.command);
    EXPECT_EQ(r.status, row.status) << row.command << "\n" << r.err;
    const std::string err = *row.err ? std::string("zelk: ") + row.err + "\n" : "";
    EXPECT_TRUE(std::regex_match(r.err, std::regex(err))) << row.command << "\n" << r.err;
    EXPECT_NE(r.out.find(row.out), std::string::npos) << row.command << "\n" << r.out;
  }
  // Bytes that are no UTF-8, control characters and a very long name in
  // bad lines: every answer is still a line of JSON.
  Result batch = shell(
      "printf 'A KKK5 D,\\377\\n\\377\\001 3\\nA KKK5 %s\\n' $(printf %3000s | tr ' ' x)"
      " | zelk --batch");
  EXPECT_EQ(batch.status, 2) << batch.err;
  EXPECT_TRUE(jsonLines(batch.out)) << batch.out;
}

// The README's examples, run as written; a line typed at a prompt is input.
TEST(Zelk, TheReadmeExamplesHold) {
  auto mask = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return std::regex_replace(maskTiming(text), std::regex(R"("elapsed_ms":\d+)"), "T");
  };
  std::ifstream readme(ZELK_README);
  int examples = 0;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("$ ", 0) != 0) continue;
    std::string command = line.substr(2), input, expected;
    while (std::getline(readme, line) && line != "```") {
      const bool typed =
          line.size() > 8 && std::regex_match(line.substr(0, 8), std::regex("player[12]:"));
      if (typed) input += line.substr(8) + "\n";
      expected += typed ? line.substr(0, 8) : line + "\n";  // a pipe echoes nothing typed
    }
    EXPECT_EQ(mask(shell(command, input).out), mask(expected)) << command;
    ++examples;
  }
  EXPECT_EQ(examples, 8);
}

// The second stop signal ends the program at once, even while the first
// one's work has not come back. In a fresh process: the signals are blocked
// for all its threads, and it ends with the status.
TEST(StopSignals, TheSecondEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        zelk::cli::blockStopSignals();
        static std::atomic<bool> firstBegun{false};
        zelk::cli::watchStopSignals([] {
          firstBegun = true;
          for (;;) std::this_thread::sleep_for(1h);
        });
        kill(getpid(), SIGINT);
        for (int i = 0; i < 1000 && !firstBegun; ++i) std::this_thread::sleep_for(10ms);
        if (!firstBegun) std::exit(1);
        kill(getpid(), SIGINT);
        std::this_thread::sleep_for(10s);
        std::exit(2);
      },
      ::testing::ExitedWithCode(130), "");
}

}  // namespace
