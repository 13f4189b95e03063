#include "update/updatecheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/flags.h"
#include "base/output.h"
#include "buildconfig.h"
#include "platform/text.h"
#include "testserver.h"
#include "update/openpage.h"
#include "update/xmldoc.h"

namespace zelk {
namespace {

using test::RefusingPort;
using test::TestServer;

const std::string DOC_PATH = "/sm/zelks/CONFIG.xml";

std::vector<std::string> takeLog() {
  std::vector<std::string> lines;
  while (auto text = mStrSeq.take()) lines.push_back(utf16ToUtf8(*text));
  return lines;
}

std::string u8(const char16_t* s) { return utf16ToUtf8(s); }

class RecordingTarget : public CommandTarget {
 public:
  void postCommand(int id) override {
    std::lock_guard<std::mutex> g(mutex_);
    ids_.push_back(id);
  }
  std::vector<int> ids() {
    std::lock_guard<std::mutex> g(mutex_);
    return ids_;
  }

 private:
  std::mutex mutex_;
  std::vector<int> ids_;
};

class ScriptedBoxes : public MessageBoxes {
 public:
  explicit ScriptedBoxes(bool answer) : answer_(answer) {}
  void information(const std::u16string&, const std::u16string&) override {}
  bool okCancel(const std::u16string& text, const std::u16string& caption) override {
    std::lock_guard<std::mutex> g(mutex_);
    texts.push_back(text);
    captions.push_back(caption);
    return answer_;
  }
  std::mutex mutex_;
  std::vector<std::u16string> texts, captions;

 private:
  bool answer_;
};

class RecordingOpener : public PageOpener {
 public:
  explicit RecordingOpener(bool browser = true) : browser_(browser) {}
  void openDefault(const std::u16string& url) override {
    std::lock_guard<std::mutex> g(mutex_);
    calls.push_back("default " + utf16ToUtf8(url));
  }
  bool openBrowser(const std::u16string& url) override {
    std::lock_guard<std::mutex> g(mutex_);
    if (browser_) calls.push_back("browser " + utf16ToUtf8(url));
    return browser_;
  }
  std::mutex mutex_;
  std::vector<std::string> calls;

 private:
  bool browser_;
};

class UpdateCheck : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
    resetIdentityRecord();
    setUpdateServers(first.hostPort(), second.hostPort(), third.hostPort());
    setCommandTarget(&target);
    setPageOpener(&opener);
    takeLog();
  }
  void TearDown() override {
    setCommandTarget(nullptr);
    setMessageBoxes(nullptr);
    setPageOpener(nullptr);
    setUpdateServers("", "", "");
    setFlag(F_DEBUG, 0);
    resetIdentityRecord();
  }
  void publish(TestServer& server, const std::string& xml) { server.set(DOC_PATH, 200, xml); }

  TestServer first, second, third;
  RecordingTarget target;
  RecordingOpener opener;
};

// ---------------------------------------------------------------------------
// The document's elements.

TEST_F(UpdateCheck, ReadsEveryFieldInOrderAndAsksForARefresh) {
  publish(first,
          "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ROOT>"
          "<version>1.17</version><message>\xE6\x96\xB0\xE7\x89\x88 &amp; more</message>"
          "<softpage>http://127.0.0.1/soft</softpage><adpage>http://127.0.0.1/ad</adpage>"
          "<homepage>http://127.0.0.1/home</homepage><email>a@b.invalid</email></ROOT>");
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), "1.17");
  EXPECT_EQ(u8(sm.n_message), "新版 & more");
  EXPECT_EQ(u8(sm.n_softpage), "http://127.0.0.1/soft");
  EXPECT_EQ(u8(sm.n_adpage), "http://127.0.0.1/ad");
  EXPECT_EQ(u8(sm.n_homepage), "http://127.0.0.1/home");
  EXPECT_EQ(u8(sm.n_email), "a@b.invalid");
  EXPECT_EQ(takeLog(), std::vector<std::string>{"\r\n新版 & more\r\n"});
  EXPECT_EQ(target.ids(), std::vector<int>{ID_UPDATE_INFO});
  EXPECT_EQ(second.requestCount(), 0);
  ASSERT_EQ(first.requestCount(), 1);
  EXPECT_EQ(first.requests()[0].rfind("GET /sm/zelks/CONFIG.xml HTTP/1.1\r\n", 0), 0u);
}

void setField(char16_t* field, std::u16string_view text) {
  std::copy(text.begin(), text.end(), field);
  field[text.size()] = 0;
}

// Sets every n_ field to the same text.
void fillFields(const char16_t* text) {
  for (char16_t* field :
       {sm.n_ver, sm.n_message, sm.n_softpage, sm.n_adpage, sm.n_homepage, sm.n_email})
    setField(field, text);
}

struct OrderCase {
  const char* label;
  std::string body;  // children of ROOT
  std::string ver, message, email, homepage;
  std::vector<std::string> log;
  bool refresh;
};

class UpdateOrder : public UpdateCheck, public testing::WithParamInterface<OrderCase> {};

TEST_P(UpdateOrder, FieldsFollowTheSearchOrder) {
  const OrderCase& c = GetParam();
  fillFields(u"kept");
  publish(first, "<ROOT>" + c.body + "</ROOT>");
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), c.ver);
  EXPECT_EQ(u8(sm.n_message), c.message);
  EXPECT_EQ(u8(sm.n_email), c.email);
  EXPECT_EQ(u8(sm.n_homepage), c.homepage);
  EXPECT_EQ(takeLog(), c.log);
  EXPECT_EQ(target.ids().size(), c.refresh ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Document, UpdateOrder,
    testing::Values(
        OrderCase{"message_before_version",
                  "<message>m</message><version>2</version>",
                  "2",
                  "kept",
                  "kept",
                  "kept",
                  {},
                  false},
        OrderCase{"email_before_message",
                  "<version>2</version><email>e</email><message>m</message>",
                  "2",
                  "m",
                  "kept",
                  "kept",
                  {"\r\nm\r\n"},
                  false},
        OrderCase{"others_in_between",
                  "<x/><version>2</version><junk><message>no</message></junk><message>m</message>",
                  "2",
                  "m",
                  "kept",
                  "kept",
                  {"\r\nm\r\n"},
                  false},
        OrderCase{"empty_message_logs_an_empty_line",
                  "<message></message>",
                  "kept",
                  "",
                  "kept",
                  "kept",
                  {"\r\n\r\n"},
                  false},
        OrderCase{"empty_value_overwrites",
                  "<version/><email></email>",
                  "",
                  "kept",
                  "",
                  "kept",
                  {},
                  false},
        OrderCase{"homepage_of_five",
                  "<homepage>12345</homepage>",
                  "kept",
                  "kept",
                  "kept",
                  "12345",
                  {},
                  false},
        OrderCase{"homepage_of_six",
                  "<homepage>123456</homepage>",
                  "kept",
                  "kept",
                  "kept",
                  "123456",
                  {},
                  true},
        OrderCase{"missing_homepage_keeps_its_value",
                  "<version>3</version>",
                  "3",
                  "kept",
                  "kept",
                  "kept",
                  {},
                  false},
        OrderCase{"cdata_value",
                  "<message><![CDATA[<b>bold</b>]]></message>",
                  "kept",
                  "<b>bold</b>",
                  "kept",
                  "kept",
                  {"\r\n<b>bold</b>\r\n"},
                  false}),
    [](const testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.label); });

TEST_F(UpdateCheck, LongValuesAreCutToTheirFields) {
  std::string version(300, '9');
  std::string message(3000, 'm');
  // A supplementary character straddling the cut is dropped whole.
  std::string email(1022, 'e');
  email += "\xF0\x9F\x98\x80";
  publish(first, "<ROOT><version>" + version + "</version><message>" + message +
                     "</message><email>" + email + "</email></ROOT>");
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(std::u16string_view(sm.n_ver).size(), SM_VERSION_UNITS - 1);
  EXPECT_EQ(std::u16string_view(sm.n_message).size(), SM_TEXT_UNITS - 1);
  EXPECT_EQ(u8(sm.n_email), std::string(1022, 'e'));
}

// ---------------------------------------------------------------------------
// Servers.

TEST_F(UpdateCheck, LowerCaseRootFailsWithoutReadingAnything) {
  publish(first, "<root><version>9</version><homepage>http://x.invalid/</homepage></root>");
  publish(second, "<ROOT><version>8</version></ROOT>");
  EXPECT_FALSE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), "");
  EXPECT_EQ(second.requestCount(), 0);  // the document parsed: no other server is asked
  EXPECT_TRUE(target.ids().empty());
}

TEST_F(UpdateCheck, HtmlInsteadOfXmlMovesOnToTheNextServer) {
  publish(first, "<html><head><title>Moved</title></head><body><p>Gone<br></body></html>");
  publish(second, "<ROOT><version>1.5</version></ROOT>");
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), "1.5");
  EXPECT_EQ(first.requestCount(), 1);
  EXPECT_EQ(second.requestCount(), 1);
}

TEST_F(UpdateCheck, EachKindOfBadServerMovesOnToTheNext) {
  RefusingPort refusing;
  first.set(DOC_PATH, 302, "", "Location: http://127.0.0.1:1/elsewhere\r\n");
  second.set(DOC_PATH, 200, "");
  publish(third, std::string("<ROOT><version>7</version></ROOT>\0<ROOT>", 39));
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), "7");

  std::string tooLong =
      "<ROOT><version>6</version><message>" + std::string(102400, 'x') + "</message></ROOT>";
  publish(first, tooLong);
  setUpdateServers(first.hostPort(), refusing.hostPort(), third.hostPort());
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(u8(sm.n_ver), "7");
}

TEST_F(UpdateCheck, InvalidUtf8BecomesReplacementCharacters) {
  publish(first,
          "<ROOT><message>a\xFF"
          "b</message></ROOT>");
  ASSERT_TRUE(GetUpdateInfo());
  EXPECT_EQ(std::u16string(sm.n_message), u"a\uFFFDb");
}

TEST_F(UpdateCheck, ThreeBadServersFail) {
  RefusingPort refusing;
  first.set(DOC_PATH, 404, "missing");
  publish(second, "<html><head><title>Moved</title></head><body><p>Gone<br></body></html>");
  setUpdateServers(refusing.hostPort(), first.hostPort(), second.hostPort());
  setFlag(F_DEBUG, 1);
  EXPECT_FALSE(GetUpdateInfo());
  EXPECT_EQ(first.requestCount(), 1);
  EXPECT_EQ(second.requestCount(), 1);
  // One fetch per server, the refused one included, in the configured order.
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0], "d..\r\n");
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 7[", 0), 0u) << log[1];
  EXPECT_EQ(log[2], "d..\r\n");
  EXPECT_EQ(log[3], "d2mem failed[dwStateCode 404]\r\n");
  EXPECT_EQ(log[4], "d..\r\n");
  EXPECT_EQ(log[5], "HTTP_STATUS_OK[" + utf16ToUtf8(updateUrl(second.hostPort())) + "]\r\n");
  EXPECT_TRUE(target.ids().empty());
}

TEST_F(UpdateCheck, NoServerConfiguredFailsAtOnceWithoutTraffic) {
  setUpdateServers("", "", "");
  setFlag(F_DEBUG, 1);  // a fetch would log "d.."
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(GetUpdateInfo());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(takeLog().empty());
}

// ---------------------------------------------------------------------------
// Versions and the prompt.

struct VersionCase {
  std::u16string candidate;
  bool newer;
};

class VersionRule : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionRule, ComparesAsText) {
  EXPECT_EQ(isNewerVersion(GetParam().candidate, u"1.16"), GetParam().newer)
      << utf16ToUtf8(GetParam().candidate);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionRule,
                         testing::Values(VersionCase{u"1.17", true}, VersionCase{u"1.2", true},
                                         VersionCase{u"1.16.1", true}, VersionCase{u"1.16 ", true},
                                         VersionCase{u"2", true}, VersionCase{u"1.16", false},
                                         VersionCase{u"1.100", false}, VersionCase{u"1.0", false},
                                         VersionCase{u"1.1", false}, VersionCase{u"", false},
                                         VersionCase{u"\uFF11", true}));

const std::string PROMPT =
    "本软件已有新版本!\r\n点击确认将自动打开如下所示的官方下载页面下载最新版软件!\r\n"
    "点击取消，则会关闭本次升级提醒。\r\n最新版软件下载地址: \r\n";

TEST_F(UpdateCheck, PromptOkOpensTheDownloadPage) {
  ScriptedBoxes boxes(true);
  setMessageBoxes(&boxes);
  setField(sm.n_softpage, u"https://127.0.0.1/download");
  ShowUpdatePrompt();
  const std::string text = PROMPT + "https://127.0.0.1/download\r\n";
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(utf16ToUtf8(boxes.texts[0]), text);
  EXPECT_EQ(utf16ToUtf8(boxes.captions[0]), "请升级本软件!!");
  EXPECT_EQ(takeLog(), std::vector<std::string>{text + "\r\n"});
  EXPECT_EQ(opener.calls, (std::vector<std::string>{"default https://127.0.0.1/download",
                                                    "browser https://127.0.0.1/download"}));
}

TEST_F(UpdateCheck, PromptCancelOpensNothing) {
  ScriptedBoxes boxes(false);
  setMessageBoxes(&boxes);
  ShowUpdatePrompt();
  EXPECT_EQ(boxes.texts.size(), 1u);
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(UpdateCheck, PromptNeverOpensAnUnsafePage) {
  ScriptedBoxes boxes(true);
  setMessageBoxes(&boxes);
  setField(sm.n_softpage, u"file:///bin/sh");
  ShowUpdatePrompt();
  EXPECT_TRUE(opener.calls.empty());
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "OpenPage:不是网页地址，拒绝打开[file:///bin/sh]\r\n");
}

// ---------------------------------------------------------------------------
// The thread.

// Waits until the check has run; false after `seconds`.
bool waitForState(int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (sm.state.load(std::memory_order_relaxed) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST_F(UpdateCheck, ThreadChecksOnceAndPromptsForANewerVersion) {
  ScriptedBoxes boxes(true);
  setMessageBoxes(&boxes);
  publish(first,
          "<ROOT><version>1.17</version><softpage>http://127.0.0.1/soft</softpage>"
          "<homepage>http://127.0.0.1/</homepage></ROOT>");
  ThreadHandle thread = startUpdateCheck();
  ASSERT_TRUE(thread.valid());
  ASSERT_TRUE(waitForState(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the prompt and the idle loop
  stopUpdateCheck();
  thread.join();
  EXPECT_EQ(sm.state.load(), 1);
  EXPECT_EQ(first.requestCount(), 1);  // never again in this run
  EXPECT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(opener.calls.size(), 2u);
  EXPECT_EQ(target.ids(), std::vector<int>{ID_UPDATE_INFO});
}

TEST_F(UpdateCheck, ThreadMarksAFailedCheck) {
  ScriptedBoxes boxes(true);
  setMessageBoxes(&boxes);
  RefusingPort refusing;
  first.set(DOC_PATH, 404, "missing");
  publish(second, "<html><body>not the document</body></html>");
  setUpdateServers(refusing.hostPort(), first.hostPort(), second.hostPort());
  ThreadHandle thread = startUpdateCheck();
  ASSERT_TRUE(waitForState(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));  // an idle round
  stopUpdateCheck();
  thread.join();
  EXPECT_EQ(sm.state.load(), -1);
  EXPECT_EQ(first.requestCount(), 1);  // never again in this run
  EXPECT_EQ(second.requestCount(), 1);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_TRUE(target.ids().empty());
}

TEST_F(UpdateCheck, ThreadShowsNoPromptForTheSameVersion) {
  ScriptedBoxes boxes(true);
  setMessageBoxes(&boxes);
  publish(first, "<ROOT><version>1.16</version></ROOT>");
  ThreadHandle thread = startUpdateCheck();
  ASSERT_TRUE(waitForState(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stopUpdateCheck();
  thread.join();
  EXPECT_EQ(sm.state.load(), 1);
  EXPECT_TRUE(boxes.texts.empty());
}

// A build that names no server: nothing is configured, and the check fails
// without a single fetch (with F_DEBUG on, a fetch would log "d..").
TEST(UpdateDefaults, NoServerMeansNoRequest) {
  if (*ZELK_UPDATE_SERVER1 || *ZELK_UPDATE_SERVER2 || *ZELK_UPDATE_SERVER3)
    GTEST_SKIP() << "this build names update servers";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(updateServer(i), "") << i;
  resetIdentityRecord();
  takeLog();
  setFlag(F_DEBUG, 1);
  ThreadHandle thread = startUpdateCheck();
  const bool checked = waitForState(10);
  stopUpdateCheck();
  thread.join();
  setFlag(F_DEBUG, 0);
  EXPECT_TRUE(checked);
  EXPECT_EQ(sm.state.load(), -1);
  EXPECT_TRUE(takeLog().empty());
  resetIdentityRecord();
}

}  // namespace
}  // namespace zelk
