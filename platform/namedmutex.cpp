// Provisional in-process implementation; see the header for the contract.
#include "platform/namedmutex.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace zelk {

struct NamedMutex::Shared {
  std::mutex m;
  std::condition_variable cv;
  std::thread::id owner;
  int depth = 0;
};

namespace {
std::mutex registryMutex;
std::map<std::u16string, std::weak_ptr<NamedMutex::Shared>>& registry() {
  static auto* r = new std::map<std::u16string, std::weak_ptr<NamedMutex::Shared>>;
  return *r;
}
}  // namespace

NamedMutex::NamedMutex(const std::u16string& name) : name_(name) {
  std::lock_guard<std::mutex> g(registryMutex);
  auto& slot = registry()[name];
  shared_ = slot.lock();
  if (!shared_) {
    shared_ = std::make_shared<Shared>();
    slot = shared_;
  }
}

NamedMutex::~NamedMutex() = default;

WaitResult NamedMutex::lock() {
  std::unique_lock<std::mutex> l(shared_->m);
  auto self = std::this_thread::get_id();
  shared_->cv.wait(l, [&] { return shared_->depth == 0 || shared_->owner == self; });
  shared_->owner = self;
  ++shared_->depth;
  return WaitResult::Acquired;
}

WaitResult NamedMutex::tryLock() {
  std::unique_lock<std::mutex> l(shared_->m);
  auto self = std::this_thread::get_id();
  if (shared_->depth != 0 && shared_->owner != self) return WaitResult::Timeout;
  shared_->owner = self;
  ++shared_->depth;
  return WaitResult::Acquired;
}

void NamedMutex::unlock() {
  std::unique_lock<std::mutex> l(shared_->m);
  if (shared_->depth == 0 || shared_->owner != std::this_thread::get_id()) return;
  if (--shared_->depth == 0) {
    shared_->owner = {};
    shared_->cv.notify_all();
  }
}

}  // namespace zelk
