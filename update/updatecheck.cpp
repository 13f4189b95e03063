#include "update/updatecheck.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/output.h"
#include "buildconfig.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "update/d2mem.h"
#include "update/openpage.h"
#include "update/xmldoc.h"

namespace zelk {

// Constant-initialised: the record is complete before any code runs.
constinit IdentityRecord sm{
    .state{0},
    .hwnd = nullptr,
    .ver = ZELK_VERSION_TEXT,
    .name = u"ZelkSolver ",
    .email = u"" ZELK_CONTACT_EMAIL,
    .homepage = u"" ZELK_HOMEPAGE,
    .credit = u"" ZELK_CREDIT,
    .n_ver = u"",
    .n_message = u"",
    .n_softpage = u"",
    .n_adpage = u"",
    .n_homepage = u"",
    .n_email = u"",
};

namespace {

constexpr char16_t PROMPT_TEXT[] =
    u"本软件已有新版本!\r\n"
    u"点击确认将自动打开如下所示的官方下载页面下载最新版软件!\r\n"
    u"点击取消，则会关闭本次升级提醒。\r\n"
    u"最新版软件下载地址: \r\n";
constexpr char16_t PROMPT_CAPTION[] = u"请升级本软件!!";

constexpr uint32_t START_DELAY_MS = 1000;
constexpr uint32_t IDLE_MS = 1000;
constexpr uint32_t AFTER_PROMPT_MS = 200;
constexpr std::size_t HOMEPAGE_REFRESH_MIN = 6;

// The update thread's receive buffer; only that thread fetches.
uint8_t recvBuf[UPDATE_RECV_BYTES];

// Never destroyed: the update thread is abandoned at exit and may still ask.
struct Servers {
  std::mutex mutex;
  std::string names[3] = {ZELK_UPDATE_SERVER1, ZELK_UPDATE_SERVER2, ZELK_UPDATE_SERVER3};
};
Servers& servers() {
  static Servers* s = new Servers;
  return *s;
}

std::atomic<bool> quitRequested{false};

// Sleeps ms, in short steps so that a stop request is seen; false on a stop.
bool pause(uint32_t ms) {
  for (uint32_t slept = 0; slept < ms; slept += 20) {
    if (quitRequested.load(std::memory_order_relaxed)) return false;
    sleepMs(std::min<uint32_t>(20, ms - slept));
  }
  return !quitRequested.load(std::memory_order_relaxed);
}

template <std::size_t N>
void store(char16_t (&field)[N], std::u16string_view value) {
  static_assert(N >= 2);
  std::size_t n = value.size();
  if (n > N - 1) {
    n = N - 1;
    // A cut never leaves half of a surrogate pair behind.
    if (value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
  }
  std::copy_n(value.data(), n, field);
  field[n] = 0;
}

// A literal: its length is known where it is written.
template <std::size_t N, std::size_t M>
void store(char16_t (&field)[N], const char16_t (&value)[M]) {
  store(field, std::u16string_view(value, M - 1));
}

// Stores the data of the next element of that name; false when there is none.
template <std::size_t N>
bool readElement(XmlDoc& doc, std::u16string_view name, char16_t (&field)[N]) {
  if (!doc.FindElement(name)) return false;
  store(field, doc.ElementData());
  return true;
}

}  // namespace

void resetIdentityRecord() {
  sm.state.store(0, std::memory_order_relaxed);
  sm.hwnd = nullptr;
  store(sm.ver, ZELK_VERSION_TEXT);
  store(sm.name, u"ZelkSolver ");
  store(sm.email, u"" ZELK_CONTACT_EMAIL);
  store(sm.homepage, u"" ZELK_HOMEPAGE);
  store(sm.credit, u"" ZELK_CREDIT);
  for (char16_t* field :
       {sm.n_ver, sm.n_message, sm.n_softpage, sm.n_adpage, sm.n_homepage, sm.n_email})
    field[0] = 0;
}

void setUpdateServers(const std::string& first, const std::string& second,
                      const std::string& third) {
  Servers& s = servers();
  std::lock_guard<std::mutex> g(s.mutex);
  s.names[0] = first;
  s.names[1] = second;
  s.names[2] = third;
}

std::string updateServer(int index) {
  Servers& s = servers();
  std::lock_guard<std::mutex> g(s.mutex);
  return index >= 0 && index < 3 ? s.names[index] : std::string();
}

std::u16string updateUrl(const std::string& server) {
  return u"http://" + utf8ToUtf16(server) + u"/sm/zelks/CONFIG.xml";
}

bool isNewerVersion(std::u16string_view candidate, std::u16string_view running) {
  std::size_t n = std::min(candidate.size(), running.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (candidate[i] != running[i]) return candidate[i] > running[i];
  }
  return candidate.size() > running.size();
}

bool LoadXmlFromUrl(const std::u16string& url, XmlDoc& doc) {
  std::memset(recvBuf, 0, sizeof recvBuf);
  uint32_t length = sizeof recvBuf;
  if (!d2mem(url, recvBuf, length)) return false;
  recvBuf[length] = 0;  // length is at most the capacity less 8
  if (recvBuf[0] == 0) return false;
  const char* bytes = reinterpret_cast<const char*>(recvBuf);
  std::u16string text = utf8ToUtf16(std::string_view(bytes, strnlen(bytes, length)));
  if (text.empty() || text.size() + 1 > UPDATE_TEXT_UNITS) return false;
  return doc.LoadText(std::move(text));
}

bool GetUpdateInfo() {
  XmlDoc doc;
  bool loaded = false;
  for (int i = 0; i < 3 && !loaded; ++i) {
    std::string server = updateServer(i);
    if (server.empty()) continue;  // not configured: no request, no lookup
    loaded = LoadXmlFromUrl(updateUrl(server), doc);
  }
  if (!loaded) return false;
  if (!doc.FindElement(u"ROOT")) return false;
  doc.EnterElement();
  // Each search starts after the last element found: the order is fixed.
  readElement(doc, u"version", sm.n_ver);
  if (readElement(doc, u"message", sm.n_message)) LogPrint(u"\r\n%s\r\n", sm.n_message);
  readElement(doc, u"softpage", sm.n_softpage);
  readElement(doc, u"adpage", sm.n_adpage);
  readElement(doc, u"homepage", sm.n_homepage);
  readElement(doc, u"email", sm.n_email);
  doc.LeaveElement();
  if (std::u16string_view(sm.n_homepage).size() >= HOMEPAGE_REFRESH_MIN)
    postCommand(ID_UPDATE_INFO);
  return true;
}

void ShowUpdatePrompt() {
  std::u16string text = std::u16string(PROMPT_TEXT) + sm.n_softpage + u"\r\n";
  LogPrint(u"%s\r\n", text);
  MessageBoxes* boxes = messageBoxes();
  if (boxes && boxes->okCancel(text, PROMPT_CAPTION)) OpenPage(sm.n_softpage);
}

void ThreadUpdateCheck() {
  if (!pause(START_DELAY_MS)) return;
  for (;;) {
    if (sm.state.load(std::memory_order_relaxed) != 0) {
      if (!pause(IDLE_MS)) return;
      continue;
    }
    bool read;
    try {
      read = GetUpdateInfo();
    } catch (...) {  // out of memory for the document: a failed check like any other
      read = false;
    }
    if (!read) {
      sm.state.store(-1, std::memory_order_relaxed);
      if (!pause(IDLE_MS)) return;
      continue;
    }
    sm.state.store(1, std::memory_order_relaxed);
    if (isNewerVersion(sm.n_ver, sm.ver)) ShowUpdatePrompt();
    if (!pause(AFTER_PROMPT_MS) || !pause(IDLE_MS)) return;
  }
}

ThreadHandle startUpdateCheck() {
  quitRequested.store(false, std::memory_order_relaxed);
  return startThread(UPDATE_STACK, ThreadUpdateCheck);
}

void stopUpdateCheck() { quitRequested.store(true, std::memory_order_relaxed); }

}  // namespace zelk
