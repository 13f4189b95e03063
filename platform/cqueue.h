// First-in first-out queue guarded by a named mutex: the one way threads hand
// data to each other. The mutex is held for one push, take or size reading,
// never while the caller does other work.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "platform/namedmutex.h"

namespace zelk {

// "sMutex_CQueue_[%02d%02d%02d][%d]" from the local time and the next sequence
// number (25, 27, 29, ...).
std::u16string nextQueueMutexName();

template <class T>
class CQueue {
 public:
  CQueue() : queueMutex_(nextQueueMutexName()) {}

  // The waits have no time limit; a mutex abandoned by its previous owner is
  // taken like any other.
  void push(T element) {
    queueMutex_.lock();
    items_.push_back(std::move(element));
    queueMutex_.unlock();
  }

  // The front element, or nothing when the queue is empty.
  std::optional<T> take() {
    queueMutex_.lock();
    if (items_.empty()) {
      queueMutex_.unlock();
      return std::nullopt;
    }
    std::optional<T> front(std::move(items_.front()));
    items_.pop_front();
    queueMutex_.unlock();
    return front;
  }

  uint64_t size() {
    queueMutex_.lock();
    uint64_t n = items_.size();
    queueMutex_.unlock();
    return n;
  }

  const std::u16string& mutexName() const { return queueMutex_.name(); }

 private:
  NamedMutex queueMutex_;
  std::deque<T> items_;
};

}  // namespace zelk
