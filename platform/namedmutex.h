// A mutex known by name to every process of this user, like a desktop
// system's named mutex: blocking wait, non-blocking try, recursion by the
// owning thread, and "abandoned" when its owner thread ended while holding it.
//
// Objects of one process that carry the same name are one mutex. Ownership
// belongs to a thread: only the owner's unlock releases it, and each lock by
// the owner needs its own unlock.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace zelk {

enum class WaitResult {
  Acquired,   // the caller owns the mutex
  Abandoned,  // the caller owns it, but the previous owner thread ended without releasing it
  Timeout,    // tryLock only: another thread or process holds it
  Failed,     // tryLock only: the system refused the means to take it; the caller does not own it
};

class NamedMutex {
 public:
  // Creates (or opens) the mutex, unowned.
  explicit NamedMutex(const std::u16string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Waits without time limit; returns Acquired or Abandoned.
  WaitResult lock();
  // Never waits: Acquired, Abandoned, Timeout or Failed.
  WaitResult tryLock();
  // Releases one level of the caller's ownership; false when the caller does not own it.
  bool unlock();
  const std::u16string& name() const { return name_; }

  struct Shared;

 private:
  // With the name bound under `fd` (and s.m held by `l`): takes the lock
  // over and tells whether its last owner died holding it.
  WaitResult takeOver(std::unique_lock<std::mutex>& l, int fd);

  std::u16string name_;
  std::shared_ptr<Shared> shared_;
};

// The abstract socket name (without its leading NUL) under which processes
// meet for a mutex name: "ZelkSolver.<uid>.n.<name>", or ".h.<hash>" for a
// name too long to fit. Exposed for tests.
std::string namedMutexSocketName(const std::u16string& name);

}  // namespace zelk
