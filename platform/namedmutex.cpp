// Named mutexes shared between the processes of one user.
//
// Why an abstract unix socket name: a desktop named mutex is shared by name
// between processes, is freed by the system when its owner process dies, and
// leaves nothing behind. A robust process-shared pthread mutex gives the
// first two but must live in a file under /dev/shm that somebody unlinks,
// and no process knows whether it is the last user, so a crash leaves the
// file behind; flock() needs a file as well. Binding a socket to an abstract
// name ("\0..." in sun_path) is an atomic test-and-set in the kernel's name
// space: only one socket holds a name at a time, the name vanishes the moment
// that socket is closed (also when its process dies), and nothing ever
// touches the disk. So "this process owns the mutex" is "this process holds a
// socket bound to the mutex's name". The kernel wakes nobody when a name is
// freed, so a waiting process retries bind with a short backoff; contention
// between processes is rare (two instances meet only on equal names), so the
// few milliseconds of latency do not matter.
//
// Inside a process, every NamedMutex object of one name shares one state
// (the registry below): owner thread, recursion depth and a condition
// variable, so threads of one process wait without polling and recursion
// never touches the socket. Each thread lists the mutexes it holds in a
// thread_local record whose destructor runs when the thread ends: a mutex
// still held then is released and marked abandoned, and its next taker gets
// WaitResult::Abandoned. When a whole process dies holding a mutex, the
// kernel frees the name but reports nothing, so a taker in another process
// sees an ordinary acquisition.
#include "platform/namedmutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace zelk {

struct NamedMutex::Shared {
  std::string socketName;
  std::mutex m;
  std::condition_variable cv;
  std::thread::id owner;  // none while free; set as soon as a thread claims it
  int depth = 0;          // 0 while the owner is still fetching the process-wide lock
  bool abandoned = false;
  int fd = -1;  // the socket bound to the name while owned
};

namespace {

using SharedPtr = std::shared_ptr<NamedMutex::Shared>;

std::mutex registryMutex;
std::map<std::u16string, std::weak_ptr<NamedMutex::Shared>>& registry() {
  // Never destroyed: mutexes of static objects outlive every other static.
  static auto* r = new std::map<std::u16string, std::weak_ptr<NamedMutex::Shared>>;
  return *r;
}

// Releases a mutex whose owner thread is ending.
void abandon(NamedMutex::Shared& s) {
  std::lock_guard<std::mutex> g(s.m);
  if (s.owner != std::this_thread::get_id()) return;
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.depth = 0;
  s.owner = {};
  s.abandoned = true;
  s.cv.notify_all();
}

// The held list lives in a thread_local with a destructor; once that has run
// (the thread is ending), tEnded keeps later locks from touching it.
thread_local bool tEnded = false;
struct HeldByThread {
  std::vector<SharedPtr> held;
  ~HeldByThread() {
    tEnded = true;
    for (SharedPtr& s : held) abandon(*s);
  }
};
thread_local HeldByThread tHeld;

void remember(const SharedPtr& s) {
  if (!tEnded) tHeld.held.push_back(s);
}

void forget(const SharedPtr& s) {
  if (tEnded) return;
  auto& v = tHeld.held;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (*it == s) {
      v.erase(it);
      return;
    }
  }
}

enum class BindResult { Bound, Busy, Error };

BindResult bindName(const std::string& name, int& fd) {
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return BindResult::Error;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  addr.sun_path[0] = '\0';
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(s, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
    fd = s;
    return BindResult::Bound;
  }
  int e = errno;
  ::close(s);
  return e == EADDRINUSE ? BindResult::Busy : BindResult::Error;
}

// Waits without time limit for the name. Errors other than "in use" (out of
// descriptors or memory) are passing states of the system, so they are
// waited out like another holder.
int bindNameBlocking(const std::string& name) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int fd = -1;
    if (bindName(name, fd) == BindResult::Bound) return fd;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(20)) pause *= 2;
  }
}

}  // namespace

std::string namedMutexSocketName(const std::u16string& name) {
  // Abstract names are shared by every user of the network name space, so
  // the user id keeps users apart.
  std::string prefix = "ZelkSolver." + std::to_string(::getuid()) + ".";
  std::string utf8 = utf16ToUtf8(name);
  constexpr std::size_t room = sizeof(sockaddr_un::sun_path) - 1;  // after the leading NUL
  if (prefix.size() + 2 + utf8.size() <= room) return prefix + "n." + utf8;
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : utf8) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return prefix + "h." + hex;
}

NamedMutex::NamedMutex(const std::u16string& name) : name_(name) {
  std::lock_guard<std::mutex> g(registryMutex);
  auto& slot = registry()[name];
  shared_ = slot.lock();
  if (!shared_) {
    shared_ = std::make_shared<Shared>();
    shared_->socketName = namedMutexSocketName(name);
    slot = shared_;
  }
}

NamedMutex::~NamedMutex() {
  std::lock_guard<std::mutex> g(registryMutex);
  shared_.reset();
  auto it = registry().find(name_);
  if (it != registry().end() && it->second.expired()) registry().erase(it);
}

WaitResult NamedMutex::takeOver(std::unique_lock<std::mutex>& l, int fd) {
  Shared& s = *shared_;
  s.fd = fd;
  s.depth = 1;
  bool abandoned = std::exchange(s.abandoned, false);
  l.unlock();
  remember(shared_);
  return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
}

WaitResult NamedMutex::lock() {
  Shared& s = *shared_;
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> l(s.m);
  if (s.owner == self) {
    ++s.depth;
    return WaitResult::Acquired;
  }
  s.cv.wait(l, [&] { return s.owner == std::thread::id(); });
  s.owner = self;
  l.unlock();
  int fd = bindNameBlocking(s.socketName);
  l.lock();
  return takeOver(l, fd);
}

WaitResult NamedMutex::tryLock() {
  Shared& s = *shared_;
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> l(s.m);
  if (s.owner == self) {
    ++s.depth;
    return WaitResult::Acquired;
  }
  if (s.owner != std::thread::id()) return WaitResult::Timeout;
  s.owner = self;
  l.unlock();
  int fd = -1;
  BindResult r = bindName(s.socketName, fd);
  l.lock();
  if (r != BindResult::Bound) {
    s.owner = {};
    s.cv.notify_all();
    return r == BindResult::Busy ? WaitResult::Timeout : WaitResult::Failed;
  }
  return takeOver(l, fd);
}

bool NamedMutex::unlock() {
  Shared& s = *shared_;
  std::unique_lock<std::mutex> l(s.m);
  if (s.owner != std::this_thread::get_id() || s.depth == 0) return false;
  if (--s.depth > 0) return true;
  ::close(s.fd);
  s.fd = -1;
  s.owner = {};
  s.cv.notify_all();
  l.unlock();
  forget(shared_);
  return true;
}

}  // namespace zelk
