// A mutex known by name to every process of this user, like a desktop
// system's named mutex: blocking wait, non-blocking try, recursion by the
// owning thread, and "abandoned" when its owner thread ended while holding it.
#pragma once

#include <memory>
#include <string>

namespace zelk {

enum class WaitResult {
  Acquired,   // the caller owns the mutex
  Abandoned,  // the caller owns it, but the previous owner ended without releasing it
  Timeout,    // tryLock only: another thread or process holds it
  Failed,     // the mutex could not be used
};

class NamedMutex {
 public:
  // Creates (or opens) the mutex, unowned.
  explicit NamedMutex(const std::u16string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  WaitResult lock();
  WaitResult tryLock();
  void unlock();
  const std::u16string& name() const { return name_; }

  struct Shared;

 private:
  std::u16string name_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace zelk
