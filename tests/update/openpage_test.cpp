#include "update/openpage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "platform/text.h"

namespace zelk {
namespace {

struct UrlCase {
  std::u16string url;
  bool web;
};

class WebUrl : public testing::TestWithParam<UrlCase> {};

TEST_P(WebUrl, OnlyHttpAndHttpsWithAHost) {
  EXPECT_EQ(isWebUrl(GetParam().url), GetParam().web) << utf16ToUtf8(GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    OpenPage, WebUrl,
    testing::Values(UrlCase{u"http://127.0.0.1/x", true},
                    UrlCase{u"HTTPS://example.invalid/a?b=c", true}, UrlCase{u"https://h", true},
                    UrlCase{u"http://", false}, UrlCase{u"http:///etc/passwd", false},
                    UrlCase{u"file:///etc/passwd", false}, UrlCase{u"/usr/bin/xterm", false},
                    UrlCase{u"calc.exe", false}, UrlCase{u"javascript:alert(1)", false},
                    UrlCase{u"mailto:a@b.invalid", false}, UrlCase{u"", false},
                    UrlCase{u" http://h/", false}, UrlCase{u"http://h/\nrm -rf /", false},
                    UrlCase{u"-http://h", false}));

std::vector<std::string> takeLog() {
  std::vector<std::string> lines;
  while (auto text = mStrSeq.take()) lines.push_back(utf16ToUtf8(*text));
  return lines;
}

TEST(OpenPage, RefusedUrlIsLoggedAndNeverOpened) {
  takeLog();
  OpenPage(u"file:///etc/passwd");
  EXPECT_EQ(takeLog(),
            std::vector<std::string>{"OpenPage:不是网页地址，拒绝打开[file:///etc/passwd]\r\n"});
}

// The default opener starts the programs found on PATH; stand-ins record
// their arguments in a file.
class DefaultOpener : public testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("zelk-open-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    record = dir / "calls";
    const char* path = std::getenv("PATH");
    savedPath = path ? path : "";
    setenv("PATH", dir.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", savedPath.c_str(), 1);
    std::filesystem::remove_all(dir);
  }
  void standIn(const std::string& name) {
    std::filesystem::path file = dir / name;
    std::ofstream(file) << "#!/bin/sh\necho \"${0##*/} $# $1\" >> '" << record.string() << "'\n";
    chmod(file.c_str(), 0755);
  }
  std::vector<std::string> calls(std::size_t expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
      lines.clear();
      std::ifstream in(record);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

  std::filesystem::path dir, record;
  std::string savedPath;
};

TEST_F(DefaultOpener, OpensWithTheDesktopHandlerThenTheSystemBrowser) {
  standIn("xdg-open");
  standIn("x-www-browser");
  const std::u16string url = u"http://127.0.0.1/a b;$(touch x)";
  OpenPage(url);
  std::vector<std::string> lines = calls(2);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"x-www-browser 1 http://127.0.0.1/a b;$(touch x)",
                                             "xdg-open 1 http://127.0.0.1/a b;$(touch x)"}));
  EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST_F(DefaultOpener, SkipsTheBrowserWhereNoneIsInstalled) {
  standIn("xdg-open");
  auto start = std::chrono::steady_clock::now();
  OpenPage(u"https://127.0.0.1/");
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(calls(1), std::vector<std::string>{"xdg-open 1 https://127.0.0.1/"});
  EXPECT_LT(elapsed,
            std::chrono::milliseconds(1000));  // one wait, not two (two take at least 1000)
}

}  // namespace
}  // namespace zelk
