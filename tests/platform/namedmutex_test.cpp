#include "platform/namedmutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

extern char** environ;

using namespace zelk;
using namespace std::chrono_literals;

namespace {

// Names carry the process id: test runs of other build folders may run at
// the same time under the same user.
std::u16string uniqueName(const char* what) {
  return utf8ToUtf16(std::string("zelk-test-") + what + "-" + std::to_string(::getpid()));
}

// ---- The other process: this test program started again in helper mode. ----
// ZELK_MUTEX_HELPER=<mode>:<name>. It reports on stdout with one letter and
// takes orders (any byte, or end of input) on stdin.
//   try:   tryLock once; prints A (acquired), T (timeout) or F; exits.
//   lock:  prints W, waits in lock(), prints A; exits without unlocking.
//   hold:  lock(), prints A, waits for stdin, exits without unlocking.
int runHelper(const std::string& request) {
  auto colon = request.find(':');
  std::string mode = request.substr(0, colon);
  NamedMutex m(utf8ToUtf16(request.substr(colon + 1)));
  auto say = [](char c) { return ::write(1, &c, 1) == 1; };
  if (mode == "try") {
    WaitResult r = m.tryLock();
    say(r == WaitResult::Acquired ? 'A' : r == WaitResult::Timeout ? 'T' : 'F');
    return 0;
  }
  if (mode == "lock" || mode == "hold") {
    if (mode == "lock") say('W');
    WaitResult r = m.lock();
    say(r == WaitResult::Acquired ? 'A' : 'F');
    if (mode == "hold") {
      char c;
      while (::read(0, &c, 1) < 0 && errno == EINTR) {
      }
    }
    return 0;
  }
  return 2;
}

[[maybe_unused]] const bool helperMode = [] {
  if (const char* request = std::getenv("ZELK_MUTEX_HELPER")) std::_Exit(runHelper(request));
  return false;
}();

struct Helper {
  pid_t pid = -1;
  int toChild = -1;    // its stdin
  int fromChild = -1;  // its stdout

  Helper(const std::string& mode, const std::u16string& name) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string var = "ZELK_MUTEX_HELPER=" + mode + ":" + utf16ToUtf8(name);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(var.data());
    env.push_back(nullptr);
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, nullptr};
    if (posix_spawn(&pid, exe, &fa, nullptr, argv, env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    toChild = in[1];
    fromChild = out[0];
  }
  ~Helper() {
    release();
    if (fromChild >= 0) ::close(fromChild);
    if (pid > 0) {
      int st;
      ::waitpid(pid, &st, 0);
    }
  }
  // The next letter the helper prints; '?' when it ended without one.
  char next() {
    char c;
    ssize_t n;
    while ((n = ::read(fromChild, &c, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 ? c : '?';
  }
  void release() {
    if (toChild >= 0) ::close(toChild);
    toChild = -1;
  }
  int wait() {
    release();
    int st = 0;
    ::waitpid(pid, &st, 0);
    pid = -1;
    return st;
  }
};

bool listedInProcNetUnix(const std::string& socketName) {
  std::ifstream f("/proc/net/unix");
  std::string line;
  while (std::getline(f, line)) {
    if (line.size() >= socketName.size() + 1 &&
        line.compare(line.size() - socketName.size() - 1, std::string::npos, "@" + socketName) == 0)
      return true;
  }
  return false;
}

}  // namespace

TEST(NamedMutex, OwnerMayLockAgainAndNeedsOneUnlockPerLock) {
  NamedMutex m(uniqueName("recursion"));
  ASSERT_EQ(m.lock(), WaitResult::Acquired);
  ASSERT_EQ(m.tryLock(), WaitResult::Acquired);
  ASSERT_EQ(m.lock(), WaitResult::Acquired);

  auto otherTry = [&] {
    WaitResult r{};
    std::thread([&] { r = m.tryLock(); }).join();
    return r;
  };
  EXPECT_TRUE(m.unlock());
  EXPECT_TRUE(m.unlock());
  EXPECT_EQ(otherTry(), WaitResult::Timeout);
  EXPECT_TRUE(m.unlock());
  EXPECT_FALSE(m.unlock()) << "one unlock too many";

  std::thread([&] {
    EXPECT_EQ(m.tryLock(), WaitResult::Acquired);
    EXPECT_TRUE(m.unlock());
  }).join();
}

TEST(NamedMutex, ObjectsOfOneNameAreOneMutexAndOtherNamesAreNot) {
  std::u16string name = uniqueName("same");
  NamedMutex a(name), b(name), other(uniqueName("other"));
  ASSERT_EQ(a.lock(), WaitResult::Acquired);
  std::thread([&] {
    EXPECT_EQ(b.tryLock(), WaitResult::Timeout);
    EXPECT_EQ(other.tryLock(), WaitResult::Acquired);
    EXPECT_TRUE(other.unlock());
  }).join();
  EXPECT_TRUE(b.unlock()) << "one mutex: either object releases it";
  EXPECT_FALSE(a.unlock());
}

TEST(NamedMutex, OnlyTheOwnerReleases) {
  NamedMutex m(uniqueName("owner"));
  EXPECT_FALSE(m.unlock());
  ASSERT_EQ(m.lock(), WaitResult::Acquired);
  std::thread([&] { EXPECT_FALSE(m.unlock()); }).join();
  std::thread([&] { EXPECT_EQ(m.tryLock(), WaitResult::Timeout); }).join();
  EXPECT_TRUE(m.unlock());
}

TEST(NamedMutex, LockWaitsUntilTheOwnerReleases) {
  NamedMutex m(uniqueName("wait"));
  ASSERT_EQ(m.lock(), WaitResult::Acquired);
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    EXPECT_EQ(m.lock(), WaitResult::Acquired);
    acquired = true;
    m.unlock();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(acquired.load()) << "lock() returned while another thread held the mutex";
  m.unlock();
  waiter.join();
  EXPECT_TRUE(acquired.load());
}

TEST(NamedMutex, ThreadEndingWhileHoldingLeavesItAbandonedOnce) {
  NamedMutex m(uniqueName("abandoned"));
  std::thread([&] {
    ASSERT_EQ(m.lock(), WaitResult::Acquired);
    ASSERT_EQ(m.lock(), WaitResult::Acquired);  // held twice, released never
  }).join();
  EXPECT_EQ(m.lock(), WaitResult::Abandoned);
  EXPECT_TRUE(m.unlock());
  EXPECT_FALSE(m.unlock()) << "the dead thread's second level must not survive it";
  EXPECT_EQ(m.lock(), WaitResult::Acquired) << "abandonment is reported once";
  m.unlock();

  std::thread([&] { m.lock(); }).join();
  EXPECT_EQ(m.tryLock(), WaitResult::Abandoned);
  m.unlock();
}

TEST(NamedMutex, AbandonmentWakesAWaiter) {
  NamedMutex m(uniqueName("abandoned-wait"));
  std::atomic<bool> held{false}, go{false};
  std::thread owner([&] {
    m.lock();
    held = true;
    while (!go) std::this_thread::yield();
  });
  while (!held) std::this_thread::yield();
  WaitResult r{};
  std::thread waiter([&] {
    r = m.lock();
    m.unlock();
  });
  go = true;
  owner.join();
  waiter.join();
  EXPECT_EQ(r, WaitResult::Abandoned);
}

TEST(NamedMutex, ManyThreadsNeverOverlapInside) {
  NamedMutex m(uniqueName("exclusion"));
  int inside = 0, overlaps = 0, total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        m.lock();
        if (++inside != 1) ++overlaps;
        ++total;
        --inside;
        m.unlock();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(total, 800);
}

TEST(NamedMutex, SocketNameFitsAndKeepsNamesApart) {
  std::string shortName = namedMutexSocketName(u"sMutex_CQueue_[083630][25]");
  EXPECT_EQ(shortName,
            "ZelkSolver." + std::to_string(::getuid()) + ".n.sMutex_CQueue_[083630][25]");
  std::u16string longA(200, u'a'), longB = longA;
  longB.back() = u'b';
  std::string a = namedMutexSocketName(longA), b = namedMutexSocketName(longB);
  EXPECT_LE(a.size(), 107u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a, namedMutexSocketName(longA));
  EXPECT_NE(namedMutexSocketName(u"牌"), namedMutexSocketName(u"?"));
}

TEST(NamedMutexAcrossProcesses, AnotherProcessSeesItHeldUntilReleased) {
  std::u16string name = uniqueName("xproc-try");
  NamedMutex m(name);
  {
    Helper h("try", name);
    ASSERT_GT(h.pid, 0);
    EXPECT_EQ(h.next(), 'A') << "free mutex";
  }
  ASSERT_EQ(m.lock(), WaitResult::Acquired);
  {
    Helper h("try", name);
    EXPECT_EQ(h.next(), 'T') << "held by this process";
  }
  m.unlock();
  {
    Helper h("try", name);
    EXPECT_EQ(h.next(), 'A') << "released by this process";
  }
}

TEST(NamedMutexAcrossProcesses, WaitEndsWhenTheOwnerReleases) {
  std::u16string name = uniqueName("xproc-wait");
  NamedMutex m(name);
  ASSERT_EQ(m.lock(), WaitResult::Acquired);
  Helper h("lock", name);
  ASSERT_EQ(h.next(), 'W');
  std::this_thread::sleep_for(50ms);
  m.unlock();
  EXPECT_EQ(h.next(), 'A');
  EXPECT_EQ(h.wait(), 0);
}

TEST(NamedMutexAcrossProcesses, DeathOfTheOwningProcessFreesTheNameAndLeavesNothing) {
  std::u16string name = uniqueName("xproc-death");
  std::string socketName = namedMutexSocketName(name);
  NamedMutex m(name);
  Helper h("hold", name);
  ASSERT_EQ(h.next(), 'A');
  EXPECT_EQ(m.tryLock(), WaitResult::Timeout);
  EXPECT_TRUE(listedInProcNetUnix(socketName));

  ::kill(h.pid, SIGKILL);
  h.wait();
  // Another process's death is not reported: the kernel only frees the name.
  EXPECT_EQ(m.lock(), WaitResult::Acquired);
  m.unlock();
  EXPECT_FALSE(listedInProcNetUnix(socketName)) << "the name outlived its last owner";
}

namespace {

// Every entry of a folder, or none when it cannot be read.
std::vector<std::string> entriesOf(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(NamedMutexAcrossProcesses, UseLeavesNoFileAnywhere) {
  // Both processes get folders of their own for everything a lock could be
  // kept in; /dev/shm is shared with whatever else runs, so there only a
  // file named after the mutex or the program would count.
  char pattern[] = "/tmp/zelk-mutex-files-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  const char* vars[] = {"HOME",           "TMPDIR",          "XDG_RUNTIME_DIR",
                        "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const char* v : vars) {
    const char* old = std::getenv(v);
    saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
    const std::string dir = root + "/" + v;
    std::filesystem::create_directory(dir);
    ::setenv(v, dir.c_str(), 1);
  }
  const std::u16string name = uniqueName("xproc-files");
  const std::vector<std::string> shmBefore = entriesOf("/dev/shm");
  {
    NamedMutex m(name);
    ASSERT_EQ(m.lock(), WaitResult::Acquired);
    Helper waiter("lock", name);
    ASSERT_EQ(waiter.next(), 'W');
    m.unlock();
    EXPECT_EQ(waiter.next(), 'A');
    EXPECT_EQ(waiter.wait(), 0);
    Helper holder("hold", name);
    ASSERT_EQ(holder.next(), 'A');
    EXPECT_EQ(m.tryLock(), WaitResult::Timeout);
    ::kill(holder.pid, SIGKILL);
    holder.wait();
    EXPECT_EQ(m.lock(), WaitResult::Acquired);
    m.unlock();
  }
  for (const auto& [var, old] : saved) {
    EXPECT_TRUE(entriesOf(root + "/" + var).empty()) << var << " holds a file";
    if (old)
      ::setenv(var.c_str(), old->c_str(), 1);
    else
      ::unsetenv(var.c_str());
  }
  const std::string mutexName = utf16ToUtf8(name);
  for (const std::string& e : entriesOf("/dev/shm")) {
    if (std::binary_search(shmBefore.begin(), shmBefore.end(), e)) continue;
    EXPECT_EQ(e.find(mutexName), std::string::npos) << "/dev/shm/" << e;
    EXPECT_EQ(e.find("zelk"), std::string::npos) << "/dev/shm/" << e;
  }
  std::filesystem::remove_all(root);
}
