#include "update/d2mem.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/flags.h"
#include "base/output.h"
#include "platform/text.h"
#include "testserver.h"

extern char** environ;

namespace zelk {
namespace {

// A listening socket on 127.0.0.1 at a port of the system's choosing (in
// `addr`), with the accept queue `backlog`; -1 when one cannot be had.
int listenOnLoopback(int flags, int backlog, sockaddr_in& addr) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
  if (fd < 0) return -1;
  addr = sockaddr_in{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || listen(fd, backlog) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

using test::RefusingPort;
using test::TestServer;

std::vector<std::string> takeLog() {
  std::vector<std::string> lines;
  while (auto text = mStrSeq.take()) lines.push_back(utf16ToUtf8(*text));
  return lines;
}

std::u16string wide(const std::string& s) { return utf8ToUtf16(s); }

class D2mem : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
    takeLog();
    setFlag(F_DEBUG, 1);
  }
  void TearDown() override {
    setFlag(F_DEBUG, 0);
    setD2memReceiveTimeout(0);
  }

  // Fetches into a buffer of `capacity` bytes (filled with 0xAA first).
  int fetch(const std::string& url, uint32_t capacity) {
    buffer.assign(capacity, 0xAA);
    length = capacity;
    return d2mem(wide(url), buffer.data(), length);
  }
  std::string stored() const { return std::string(buffer.begin(), buffer.begin() + length); }
  bool zerosAfterBody() const {
    for (uint32_t i = length; i < length + 6; ++i)
      if (buffer[i] != 0) return false;
    return true;
  }

  TestServer server;
  std::vector<uint8_t> buffer;
  uint32_t length = 0;
};

// ---------------------------------------------------------------------------
// 200 answers: how much of the body is stored.

struct BodyCase {
  const char* label;
  std::size_t bodySize;
  uint32_t capacity;
  uint32_t stored;
};

class D2memBody : public D2mem, public testing::WithParamInterface<BodyCase> {};

TEST_P(D2memBody, StoresTheBodyCutToCapacityLessEight) {
  const BodyCase& c = GetParam();
  std::string body(c.bodySize, 'x');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  server.set("/doc", 200, body);
  const std::string url = server.url("/doc");
  ASSERT_EQ(fetch(url, c.capacity), 1);
  EXPECT_EQ(length, c.stored);
  EXPECT_EQ(stored(), body.substr(0, c.stored));
  EXPECT_TRUE(zerosAfterBody());
  EXPECT_EQ(takeLog(), (std::vector<std::string>{"d..\r\n", "HTTP_STATUS_OK[" + url + "]\r\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Fetch, D2memBody,
    testing::Values(BodyCase{"small", 5, 100, 5}, BodyCase{"empty", 0, 100, 0},
                    BodyCase{"exact_limit", 100, 108, 100},
                    BodyCase{"one_over_limit", 101, 108, 100}, BodyCase{"capacity_nine", 3, 9, 1},
                    BodyCase{"several_chunks", 3 * D2MEM_CHUNK + 17, 204800, 3 * D2MEM_CHUNK + 17},
                    BodyCase{"oversized", 300000, 204800, 204792},
                    BodyCase{"exact_update_limit", 204792, 204800, 204792}),
    [](const testing::TestParamInfo<BodyCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Other answers.

TEST_F(D2mem, CapacityOfEightFailsWithoutAnyRequest) {
  server.set("/doc", 200, "x");
  EXPECT_EQ(fetch(server.url("/doc"), 8), 0);
  EXPECT_EQ(server.requestCount(), 0);
  EXPECT_TRUE(takeLog().empty());
}

class D2memRedirect : public D2mem, public testing::WithParamInterface<int> {};

TEST_P(D2memRedirect, ReportsTheTargetAndDoesNotFollow) {
  const int status = GetParam();
  server.set("/old", status, "moved", "Location: " + server.url("/new") + "\r\n");
  server.set("/new", 200, "new");
  const std::string url = server.url("/old");
  EXPECT_EQ(fetch(url, 100), 1);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(server.requestCount(), 1);
  EXPECT_EQ(takeLog(), (std::vector<std::string>{"d..\r\n", "d2mem跳转[" + url + "]\r\n",
                                                 "d2mem结果[" + server.url("/new") + "]\r\n"}));
}

INSTANTIATE_TEST_SUITE_P(Fetch, D2memRedirect, testing::Values(301, 302, 303));

TEST_F(D2mem, OtherStatusesFail) {
  for (int status : {204, 404, 500, 307}) {
    server.set("/s", status, status == 204 ? "" : "nope");
    EXPECT_EQ(fetch(server.url("/s"), 100), 0) << status;
    EXPECT_EQ(takeLog(),
              (std::vector<std::string>{
                  "d..\r\n", "d2mem failed[dwStateCode " + std::to_string(status) + "]\r\n"}))
        << status;
  }
}

TEST_F(D2mem, RequestAsksForAFreshCopyWithoutRedirects) {
  server.set("/doc?a=1", 200, "x");
  ASSERT_EQ(fetch(server.url("/doc?a=1#frag"), 100), 1);
  ASSERT_EQ(server.requestCount(), 1);
  const std::string head = server.requests()[0];
  EXPECT_EQ(head.rfind("GET /doc?a=1 HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: ZelkSolver\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("\r\nAccept:"), std::string::npos) << head;
}

TEST_F(D2mem, SchemeIsIgnoredAndTheConnectionIsPlainHttp) {
  server.set("/doc", 200, "plain");
  ASSERT_EQ(fetch("https://" + server.hostPort() + "/doc", 100), 1);
  EXPECT_EQ(stored(), "plain");
  ASSERT_EQ(fetch("ftp://" + server.hostPort() + "/doc", 100), 1);
  EXPECT_EQ(stored(), "plain");
}

TEST_F(D2mem, RefusedConnectionReportsTheLibraryError) {
  RefusingPort refusing;
  EXPECT_EQ(fetch("http://" + refusing.hostPort() + "/x", 100), 0);
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "d..\r\n");
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 7[", 0), 0u) << log[1];
  EXPECT_EQ(log[1].substr(log[1].size() - 3), "]\r\n");
}

TEST_F(D2mem, BrokenAnswersReportTheLibraryError) {
  struct Row {
    std::string raw;
    std::vector<std::string> before;  // lines ahead of the error line
  };
  const std::string url = server.url("/b");
  const Row rows[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly ten..",
       {"d..\r\n", "HTTP_STATUS_OK[" + url + "]\r\n"}},
      {"HTTP/1.1 abc\r\n\r\n", {"d..\r\n"}},
      {"", {"d..\r\n"}},
  };
  for (const Row& row : rows) {
    server.setRaw("/b", row.raw);
    EXPECT_EQ(fetch(url, 100), 0) << row.raw;
    std::vector<std::string> log = takeLog();
    ASSERT_EQ(log.size(), row.before.size() + 1) << row.raw;
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.end() - 1), row.before);
    EXPECT_EQ(log.back().rfind("d2mem catch CInternetException ", 0), 0u) << log.back();
  }
}

// A listener whose accept queue is full drops new connection requests, as
// an unreachable host would: the fetch gives up after the connect time-out
// and its one retry.
TEST_F(D2mem, SilentHostTimesOutAfterOneRetry) {
  sockaddr_in addr{};
  const int listener = listenOnLoopback(0, 0, addr);
  ASSERT_GE(listener, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 2; ++i) {
    int f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(f);
  }
  usleep(100000);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x", 100), 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(3900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(12000));  // loose: the machine may be loaded
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 28[", 0), 0u) << log[1];
  for (int f : fillers) close(f);
  close(listener);
}

// A server that takes the connection and then sends nothing ends the fetch
// at the receive time-out, and it is not asked a second time: the retry is
// for connections that could not be made.
TEST_F(D2mem, SilentServerIsAskedOnce) {
  sockaddr_in addr{};
  // The kernel takes the connections; nobody answers.
  const int listener = listenOnLoopback(SOCK_NONBLOCK, 8, addr);
  ASSERT_GE(listener, 0);
  setD2memReceiveTimeout(1);
  EXPECT_EQ(fetch("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x", 100), 0);
  int connections = 0;
  for (int c; (c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(c)) ++connections;
  close(listener);
  EXPECT_EQ(connections, 1);
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 28[", 0), 0u) << log[1];
}

TEST_F(D2mem, MalformedUrlFailsWithoutTraffic) {
  EXPECT_EQ(fetch("http://", 100), 0);
  EXPECT_EQ(fetch("http://[zz/x", 100), 0);
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 3[", 0), 0u) << log[1];
  EXPECT_EQ(log[3].rfind("d2mem catch CInternetException 3[", 0), 0u) << log[3];
}

TEST_F(D2mem, NothingIsLoggedWithoutDebug) {
  setFlag(F_DEBUG, 0);
  RefusingPort refusing;
  server.set("/ok", 200, "x");
  server.set("/moved", 302, "", "Location: /x\r\n");
  EXPECT_EQ(fetch(server.url("/ok"), 100), 1);
  EXPECT_EQ(fetch(server.url("/moved"), 100), 1);
  EXPECT_EQ(fetch(server.url("/missing"), 100), 0);
  EXPECT_EQ(fetch("http://" + refusing.hostPort() + "/", 100), 0);
  EXPECT_TRUE(takeLog().empty());
}

// ---------------------------------------------------------------------------
// Name lookup failure. The lookup must never reach the machine's resolver,
// so the test runs itself again inside network and mount namespaces of its
// own: nothing but a downed loopback exists, and a fresh /run hides the
// resolver daemons that glibc would otherwise ask through Unix sockets.

// Exit status of the inner run when the resolver daemons cannot be hidden.
constexpr int CANNOT_ISOLATE = 77;

bool resolverSocketsVisible() {
  for (const char* path :
       {"/run/nscd/socket", "/var/run/nscd/socket", "/run/systemd/resolve",
        "/var/run/systemd/resolve", "/run/avahi-daemon/socket", "/var/run/avahi-daemon/socket"}) {
    struct stat st;
    if (lstat(path, &st) == 0) return true;
  }
  return false;
}

// Covers /run (and /var/run where it is a folder of its own) with an empty
// file system, visible to this process only.
void hideRunFolders() {
  mount("none", "/run", "tmpfs", 0, nullptr);
  struct stat st;
  if (lstat("/var/run", &st) == 0 && S_ISDIR(st.st_mode))
    mount("none", "/var/run", "tmpfs", 0, nullptr);
}

int spawnAndWait(const char* const* argv) {
  pid_t pid;
  int status = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return -1;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(D2mem, UnresolvableNameInOwnNetworkNamespace) {
  if (!std::getenv("ZELK_IN_NETNS")) {
    std::string filter = "--gtest_filter=D2mem.UnresolvableNameInOwnNetworkNamespace";
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    // Does this machine allow private network and mount namespaces at all?
    const char* probe[] = {"unshare", "-rnm", "true", nullptr};
    if (spawnAndWait(probe) != 0) GTEST_SKIP() << "no private namespaces here";
    setenv("ZELK_IN_NETNS", "1", 1);
    const char* argv[] = {"unshare", "-rnm", exe, filter.c_str(), nullptr};
    int rc = spawnAndWait(argv);
    unsetenv("ZELK_IN_NETNS");
    if (rc == CANNOT_ISOLATE) GTEST_SKIP() << "the resolver daemons cannot be hidden here";
    EXPECT_EQ(rc, 0) << "the test failed inside its namespaces";
    return;
  }
  hideRunFolders();
  if (resolverSocketsVisible()) {
    std::fflush(nullptr);
    _exit(CANNOT_ISOLATE);
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch("http://zelk-update.invalid/sm/zelks/CONFIG.xml", 100), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  std::vector<std::string> log = takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("d2mem catch CInternetException 6[", 0), 0u) << log[1];
}

}  // namespace
}  // namespace zelk
