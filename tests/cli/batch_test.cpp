// `zelk --batch` end to end: each answer is the single run's `--json
// --engine fast` answer with its line number, in input order whatever the
// number of workers; bad lines are answered in their place.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zelkprocess.h"

namespace {

using zelktest::Result;
using zelktest::runZelk;
using zelktest::Terminal;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string maskElapsed(const std::string& text) {
  return std::regex_replace(text, std::regex(R"("elapsed_ms":\d+)"), R"("elapsed_ms":T)");
}

// The value of a number field ("line", "winner") of a JSON line, -1 when absent.
long numberField(const std::string& json, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + name + "\":(\\d+)"))) return -1;
  return std::stol(m[1]);
}

// The "error" string of a JSON line, unescaped (the escapes zelk writes).
std::string errorField(const std::string& json) {
  const std::string key = "\"error\":\"";
  std::size_t i = json.find(key);
  if (i == std::string::npos) return "<no error>";
  std::string out;
  for (i += key.size(); i < json.size() && json[i] != '"'; ++i) {
    if (json[i] != '\\') {
      out += json[i];
    } else if (json[i + 1] == 'u') {
      out += static_cast<char>(std::stoi(json.substr(i + 2, 4), nullptr, 16));
      i += 5;
    } else {
      out += json[++i];
    }
  }
  return out;
}

// The single run's JSON answer, as batch mode writes it for line n.
std::string singleAnswer(const std::vector<std::string>& args, long n) {
  std::vector<std::string> all{"--json", "--engine", "fast"};
  all.insert(all.end(), args.begin(), args.end());
  Result r = runZelk(all, "");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string json = maskElapsed(r.out);
  if (json.empty()) return json;
  return "{\"line\":" + std::to_string(n) + "," + json.substr(1, json.size() - 2);
}

TEST(ZelkBatch, AnswersInInputOrderAsTheSingleRunWhateverTheJobs) {
  // The first endgame takes the longest, so with several workers the later
  // answers are ready first and must wait for it.
  struct Row {
    std::string player1, player2;
  } rows[] = {{"2AKQJ09876543", "2AKQJ09876543"},
              {"A", "KKK5"},
              {"aa9", "2qqjj77553"},
              {"3", "45"},
              {"2", "34"},
              {"AKQJ0987", "2AKQJ0986"},
              {"225543", "KK5543"},
              {"AA8", "2KK0077554"}};
  std::string input = "# player1 player2\n\n";
  const long first = 3;  // the line of the first endgame
  for (const Row& row : rows) input += row.player1 + " \t" + row.player2 + "\r\n";

  Result one = runZelk({"--batch", "--jobs", "1"}, input);
  ASSERT_EQ(one.status, 0) << one.err;
  std::vector<std::string> answers = linesOf(maskElapsed(one.out));
  ASSERT_EQ(answers.size(), std::size(rows)) << one.out;
  for (std::size_t i = 0; i < answers.size(); ++i)
    EXPECT_EQ(answers[i], singleAnswer({"--player1", rows[i].player1, "--player2", rows[i].player2},
                                       first + static_cast<long>(i)));
  for (const char* jobs : {"2", "3"}) {
    Result many = runZelk({"--batch", "--jobs", jobs}, input);
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(maskElapsed(many.out), maskElapsed(one.out)) << "--jobs " << jobs;
  }
  Result none = runZelk({"--batch"}, "\n# nothing\n");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
}

// A line's position fields, and --analyse, answer as the single run does.
TEST(ZelkBatch, PositionFieldsAndAnalysisAsTheSingleRun) {
  const std::string input = "AA9 2QQJJ553 mover=1 beat=77\nKKQ9 2QQJJ753 , type=D beat=55\n";
  const std::vector<std::vector<std::string>> single = {
      {"--player1", "AA9", "--player2", "2QQJJ553", "--mover", "1", "--to-beat", "77"},
      {"--player1", "KKQ9", "--player2", "2QQJJ753", "--to-beat", "55", "--to-beat-type", "D"}};
  for (bool analyse : {false, true}) {
    Result r = runZelk(analyse ? std::vector<std::string>{"--batch", "--analyse"}
                               : std::vector<std::string>{"--batch"},
                       input);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> answers = linesOf(maskElapsed(r.out));
    ASSERT_EQ(answers.size(), 2u) << r.out;
    for (std::size_t i = 0; i < 2; ++i) {
      std::vector<std::string> args = single[i];
      if (analyse) args.push_back("--analyse");
      EXPECT_EQ(answers[i], singleAnswer(args, static_cast<long>(i + 1)));
    }
  }
}

TEST(ZelkBatch, BadLinesAreAnsweredInPlaceWithTheSingleRunsMessage) {
  struct Row {
    std::string line;
    std::vector<std::string> single;  // the same fault in a single run; empty: batch only
    std::string message;              // else part of the expected message
  } rows[] = {
      {"10JQKA 3", {"--player1", "10JQKA", "--player2", "3"}, ""},
      {"3 XX", {"--player1", "3", "--player2", "XX"}, ""},
      {"33333 XX", {"--player1", "33333", "--player2", "XX"}, ""},
      {"3 33334444555566667777AAA", {"--player1", "3", "--player2", "33334444555566667777AAA"}, ""},
      {"3 4 ZD,QQ", {"--off", "ZD,QQ", "--player1", "3", "--player2", "4"}, ""},
      {"3 4 5 6", {}, "found 4 fields"},
      {"AA9", {}, "found 1 field"},
      {std::string(5000, '3') + " 4", {}, "line longer than"},
      {"3 4 beat=34", {"--player1", "3", "--player2", "4", "--to-beat", "34"}, ""},
      {"3 4 D beat=33", {"--off", "D", "--player1", "3", "--player2", "4", "--to-beat", "33"}, ""},
      {"3 4 mover=3", {}, "mover is 1 (player1) or 2 (player2)"},
      {"3 4 beat=3 beat=4", {}, "field 'beat' given twice"},
      {"3 4 mover=1 D", {}, "'D' after a key=value field"},
      {"3 4 lead=1", {}, "unknown field 'lead'"},
  };
  std::string input;
  for (const Row& row : rows) input += "3 45\n" + row.line + "\n";
  input += "3 45";  // the last line needs no line end
  Result r = runZelk({"--batch", "--jobs", "2"}, input);
  EXPECT_EQ(r.status, 2) << r.err;
  std::vector<std::string> answers = linesOf(r.out);
  ASSERT_EQ(answers.size(), 2 * std::size(rows) + 1) << r.out;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(numberField(answers[i], "line"), static_cast<long>(i + 1)) << answers[i];
    if (i % 2 == 0) {
      EXPECT_EQ(numberField(answers[i], "winner"), 2) << answers[i];
      continue;
    }
    const Row& row = rows[i / 2];
    if (row.single.empty()) {
      EXPECT_NE(errorField(answers[i]).find(row.message), std::string::npos) << answers[i];
      continue;
    }
    Result single = runZelk(row.single, "");
    EXPECT_EQ(single.status, 2);
    std::string message = single.err;
    // An option's fault comes as "zelk: MESSAGE\nTry 'zelk --help'.\n".
    if (message.rfind("zelk: ", 0) == 0) message = message.substr(6, message.find('\n') - 6);
    EXPECT_EQ(errorField(answers[i]), message) << row.line;
  }
}

TEST(ZelkBatch, TheLinesSwitchesOverrideTheCommandLine) {
  // Without pairs, triples and triples with one, player2's KKK5 must go out
  // card by card, and the ace takes the last one.
  const std::string noPairsNorTriples = "D,3,31,32";
  Result r = runZelk({"--batch", "--off", noPairsNorTriples},
                     "A KKK5\nA KKK5 ,\nA KKK5 3\nA KKK5 d,3,31,32\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> answers = linesOf(maskElapsed(r.out));
  ASSERT_EQ(answers.size(), 4u) << r.out;
  const std::vector<std::string> hands{"--player1", "A", "--player2", "KKK5"};
  auto with = [&](std::vector<std::string> off) {
    std::vector<std::string> args = hands;
    args.insert(args.end(), off.begin(), off.end());
    return args;
  };
  EXPECT_EQ(answers[0], singleAnswer(with({"--off", noPairsNorTriples}), 1));
  EXPECT_EQ(answers[1], singleAnswer(hands, 2));
  EXPECT_EQ(answers[2], singleAnswer(with({"--off", "3"}), 3));
  EXPECT_EQ(answers[3], singleAnswer(with({"--off", noPairsNorTriples}), 4));
  // The rules matter here: otherwise the rows above prove little.
  EXPECT_EQ(numberField(answers[0], "winner"), 1);
  EXPECT_EQ(numberField(answers[1], "winner"), 2);
}

TEST(ZelkBatch, OptionsThatDoNotGoWithIt) {
  struct Row {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--batch", "--player1", "3"}, "--batch reads the hands from standard input"},
      {{"--batch", "--player2", "3"}, "--batch reads the hands from standard input"},
      {{"--batch", "--debug"}, "--batch does not go with --debug"},
      {{"--batch", "--u1f"}, "--batch does not go with --u1f"},
      {{"--batch", "--engine", "exhaustive"}, "--batch solves with the fast engine only"},
      {{"--jobs", "2"}, "--jobs goes with --batch"},
      {{"--batch", "--jobs", "0"}, "--jobs needs a whole number from 1 to"},
      {{"--batch", "--jobs", "2x"}, "--jobs needs a whole number from 1 to"},
      {{"--batch", "--table-mib", ""}, "--table-mib needs a whole number from 1 to"},
      {{"--batch=1"}, "option --batch takes no value"},
  };
  for (const Row& row : rows) {
    Result r = runZelk(row.args, "3 4\n");
    EXPECT_EQ(r.status, 2) << row.err;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Implied or harmless.
  Result r = runZelk({"--batch", "--json", "--no-replay", "--engine", "fast", "--table-mib", "8"},
                     "3 4\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(numberField(r.out, "winner"), 2) << r.out;
}

// On a terminal the answers come while the input is still open, and Ctrl-C
// stops the reading as well as the workers' searches (the endgame below
// takes the fast engine far longer than the test's bounds).
TEST(ZelkBatch, AnswersAsLinesComeAndCtrlCStopsEverything) {
  {
    Terminal t({"--batch"});
    ASSERT_TRUE(t.started());
    for (char c : std::string("3 45\n")) t.type(c);
    EXPECT_TRUE(t.waitFor("{\"line\":1,", std::chrono::seconds(10))) << t.seen;
    t.type(3);
    EXPECT_EQ(t.exitWithin(std::chrono::seconds(10)), 130);
  }
  {
    Terminal t({"--batch", "--jobs", "2"});
    ASSERT_TRUE(t.started());
    const std::string longOne = "6J53J0A2AYK5JAQQ46J8 QK385XA994097QK36302\n";
    for (char c : longOne + longOne + "3 45\n") t.type(c);
    ASSERT_TRUE(t.waitFor("3 45", std::chrono::seconds(10))) << t.seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    t.type(3);
    EXPECT_EQ(t.exitWithin(std::chrono::seconds(10)), 130);
    EXPECT_EQ(t.seen.find("\"line\""), std::string::npos) << t.seen;
  }
}

}  // namespace
