#include "update/openpage.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/text.h"

extern char** environ;

namespace zelk {

namespace {

constexpr uint32_t OPEN_WAIT_MS = 500;

// Starts program with the URL as its only argument. The child is reaped on
// a thread of its own: a browser may run for as long as the user likes.
bool spawnWithUrl(const char* program, const std::u16string& url) {
  std::string arg = utf16ToUtf8(url);
  char* argv[] = {const_cast<char*>(program), arg.data(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
  std::thread([pid] {
    int status;
    waitpid(pid, &status, 0);
  }).detach();
  return true;
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs(path);
  std::size_t from = 0;
  while (from <= dirs.size()) {
    std::size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    std::string dir = dirs.substr(from, to - from);
    std::string file = (dir.empty() ? std::string(".") : dir) + "/" + program;
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
      return true;
    from = to + 1;
  }
  return false;
}

class SpawnPageOpener : public PageOpener {
 public:
  void openDefault(const std::u16string& url) override { spawnWithUrl("xdg-open", url); }
  bool openBrowser(const std::u16string& url) override {
    if (!onPath("x-www-browser")) return false;
    spawnWithUrl("x-www-browser", url);
    return true;
  }
};

std::atomic<PageOpener*> currentOpener{nullptr};

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

PageOpener& defaultPageOpener() {
  static SpawnPageOpener* opener = new SpawnPageOpener;
  return *opener;
}

void setPageOpener(PageOpener* opener) { currentOpener.store(opener); }

PageOpener& pageOpener() {
  PageOpener* opener = currentOpener.load();
  return opener ? *opener : defaultPageOpener();
}

bool isWebUrl(std::u16string_view url) {
  std::size_t rest;
  if (startsWithNoCase(url, u"http://")) {
    rest = 7;
  } else if (startsWithNoCase(url, u"https://")) {
    rest = 8;
  } else {
    return false;
  }
  if (rest >= url.size() || url[rest] == u'/') return false;  // no host
  for (char16_t c : url) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

void OpenPage(const std::u16string& url) {
  if (!isWebUrl(url)) {
    LogPrint(u"OpenPage:不是网页地址，拒绝打开[%s]\r\n", url);
    return;
  }
  PageOpener& opener = pageOpener();
  opener.openDefault(url);
  sleepMs(OPEN_WAIT_MS);
  if (opener.openBrowser(url)) sleepMs(OPEN_WAIT_MS);
}

}  // namespace zelk
