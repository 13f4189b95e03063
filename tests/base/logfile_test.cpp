// The log file: its place, its byte format and its record discipline.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/flags.h"
#include "base/output.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/hubcapture.h"

using namespace zelk;
namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string fromLe(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return out;
}

const std::string BOM = "\xFF\xFE";
constexpr std::size_t PREFIX_LENGTH = 22;  // "[yyyy.mm.dd-hh:mm:ss]:"

// Reads a record prefix at the start of text.
bool parsePrefix(std::u16string_view text, LocalTime& t) {
  if (text.size() < PREFIX_LENGTH) return false;
  const std::u16string_view form = u"[0000.00.00-00:00:00]:";
  for (std::size_t i = 0; i < PREFIX_LENGTH; ++i) {
    bool digit = text[i] >= u'0' && text[i] <= u'9';
    if (form[i] == u'0' ? !digit : text[i] != form[i]) return false;
  }
  auto num = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (text[i] - u'0');
    return v;
  };
  t = {num(1, 4), num(6, 2), num(9, 2), num(12, 2), num(15, 2), num(18, 2)};
  return true;
}

// The texts of the records in a log's text (after the mark).
std::vector<std::u16string> splitRecords(std::u16string_view text) {
  std::vector<std::u16string> records;
  LocalTime t{};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (parsePrefix(text.substr(i), t)) {
      records.emplace_back();
      i += PREFIX_LENGTH - 1;
    } else if (!records.empty()) {
      records.back().push_back(text[i]);
    } else {
      records.emplace_back(u"(no prefix)");
    }
  }
  return records;
}

long long stamp(const LocalTime& t) {
  return ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100 + t.minute) * 100 +
         t.second;
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/zelk-logtest-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir = templ;
    path = dir / "ZelkSolver.log";
    setLogFilePath(path.string());
    discardLogQueue();
    setFlag(F_LOG, 1);
  }
  void TearDown() override {
    setFlag(F_LOG, 0);
    setLogFilePath("");
    discardLogQueue();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir, path;
};

TEST_F(LogFile, NothingIsWrittenWhileLoggingIsOff) {
  setFlag(F_LOG, 0);
  LogPrint(u"quiet\r\n");
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(mStrSeq.size(), 1u) << "the view still gets it";
}

TEST_F(LogFile, FirstRecordMakesTheFileWithTheMarkAndAStampedRecord) {
  long long before = stamp(localTimeNow());
  LogPrint(u"版本 1.16\r\n");
  long long after = stamp(localTimeNow());

  std::string bytes = readBytes(path);
  ASSERT_GE(bytes.size(), 2u + 2 * 22);
  EXPECT_EQ(bytes.substr(0, 2), BOM);
  std::u16string prefix = fromLe(bytes.substr(2, 2 * 22));
  LocalTime t{};
  ASSERT_TRUE(parsePrefix(prefix, t)) << utf16ToUtf8(prefix);
  EXPECT_GE(stamp(t), before);
  EXPECT_LE(stamp(t), after);
  EXPECT_EQ(bytes.substr(2 + 2 * 22), le(u"版本 1.16\r\n"))
      << "the text, as UTF-16LE units, nothing added";
}

TEST_F(LogFile, LaterRecordsAreAppendedWithoutAnotherMark) {
  setConsole(nullptr);
  LogPrint(u"one\r\n");
  ConsolePrint(0, u"two\r\nand more\r\n");  // no console: also logs the write error
  setStop(0);
  std::u16string text = fromLe(readBytes(path).substr(2));
  EXPECT_EQ(splitRecords(text), (std::vector<std::u16string>{u"one\r\n", u"two\r\nand more\r\n",
                                                             u"WriteConsole:eno 9\r\n"}))
      << "a record of several lines carries one prefix";
  EXPECT_EQ(readBytes(path).find(BOM, 2), std::string::npos);
  EXPECT_EQ(text.find(u'\xFEFF'), std::u16string::npos);
}

TEST_F(LogFile, AnExistingLogIsAppendedToNeverTruncated) {
  {
    std::ofstream f(path, std::ios::binary);
    f << BOM << le(u"from an earlier run\r\n");
  }
  LogPrint(u"now\r\n");
  std::string bytes = readBytes(path);
  ASSERT_EQ(bytes.substr(0, 2 + 2 * 21), BOM + le(u"from an earlier run\r\n"));
  EXPECT_EQ(bytes.size(), 2 + 2 * 21 + 2 * (22 + 5));
}

TEST_F(LogFile, AnEmptyExistingFileGetsTheMark) {
  { std::ofstream f(path, std::ios::binary); }
  LogPrint(u"x");
  EXPECT_EQ(readBytes(path).substr(0, 2), BOM);
}

TEST_F(LogFile, UnwritablePlacesDropTheRecordSilently) {
  { std::ofstream f(dir / "plainfile"); }
  for (fs::path bad : {dir / "plainfile" / "ZelkSolver.log", dir}) {
    setLogFilePath(bad.string());
    LogPrint(u"lost\r\n");
    EXPECT_EQ(mStrSeq.size(), 1u) << bad;
    discardLogQueue();
  }
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  setLogFilePath(path.string());
  LogPrint(u"lost\r\n");  // must neither hang nor write into the FIFO
  EXPECT_EQ(mStrSeq.size(), 1u);
  EXPECT_TRUE(fs::is_fifo(path));
}

TEST_F(LogFile, RecordsOfSeveralThreadsNeverInterleave) {
  constexpr int threads = 4, perThread = 150;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([t] {
      for (int i = 0; i < perThread; ++i)
        LogPrint(u"thread %d record %d %s\r\n", t, i,
                 std::u16string(200, static_cast<char16_t>(u'a' + t)));
    });
  for (auto& th : pool) th.join();

  std::string bytes = readBytes(path);
  ASSERT_EQ(bytes.substr(0, 2), BOM);
  std::map<int, int> nextOf;
  int records = 0;
  for (const std::u16string& record : splitRecords(fromLe(bytes.substr(2)))) {
    std::string rec = utf16ToUtf8(record);
    int t = -1, i = -1, at = -1;
    std::sscanf(rec.c_str(), "thread %d record %d %n", &t, &i, &at);
    ASSERT_TRUE(t >= 0 && t < threads && at > 0) << "a record was broken up: " << rec.substr(0, 80);
    EXPECT_EQ(rec.substr(at), std::string(200, static_cast<char>('a' + t)) + "\r\n")
        << "a record was broken up: " << rec.substr(0, 80);
    EXPECT_EQ(i, nextOf[t]) << "one thread's records keep their order";
    nextOf[t] = i + 1;
    ++records;
  }
  EXPECT_EQ(records, threads * perThread);
}

TEST(LogFilePlace, StateFolderFromXdgOrHome) {
  const char* oldState = std::getenv("XDG_STATE_HOME");
  std::string saved = oldState ? oldState : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setLogFilePath("");

  ::setenv("XDG_STATE_HOME", "/somewhere/state", 1);
  EXPECT_EQ(logFilePath(), "/somewhere/state/ZelkSolver/ZelkSolver.log");
  ::setenv("XDG_STATE_HOME", "relative/state", 1);  // invalid: ignored
  EXPECT_EQ(logFilePath(), home + "/.local/state/ZelkSolver/ZelkSolver.log");
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(logFilePath(), home + "/.local/state/ZelkSolver/ZelkSolver.log");

  if (oldState) ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
}

TEST(LogFilePlace, MissingFoldersAreMade) {
  char templ[] = "/tmp/zelk-logplace-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  fs::path root = templ;
  const char* oldState = std::getenv("XDG_STATE_HOME");
  std::string saved = oldState ? oldState : "";
  ::setenv("XDG_STATE_HOME", (root / "deep" / "state").c_str(), 1);
  setLogFilePath("");
  setFlag(F_LOG, 1);
  LogPrint(u"x");
  setFlag(F_LOG, 0);
  discardLogQueue();
  EXPECT_EQ(readBytes(root / "deep/state/ZelkSolver/ZelkSolver.log").substr(0, 2), BOM);
  if (oldState)
    ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_STATE_HOME");
  fs::remove_all(root);
}

}  // namespace
