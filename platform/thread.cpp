#include "platform/thread.h"

#include <pthread.h>

#include <utility>

namespace zelk {

namespace {
void* trampoline(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}
}  // namespace

ThreadHandle startThread(std::size_t stackBytes, std::function<void()> body) {
  ThreadHandle h;
  pthread_attr_t attr;
  if ((h.error_ = pthread_attr_init(&attr)) != 0) return h;
  pthread_attr_setstacksize(&attr, stackBytes);
  auto* arg = new std::function<void()>(std::move(body));
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, trampoline, arg);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete arg;
    h.error_ = rc;
    return h;
  }
  h.id_ = static_cast<unsigned long>(tid);
  h.started_ = true;
  return h;
}

ThreadHandle::~ThreadHandle() { close(); }

ThreadHandle::ThreadHandle(ThreadHandle&& other) noexcept
    : id_(other.id_), started_(std::exchange(other.started_, false)), error_(other.error_) {}

ThreadHandle& ThreadHandle::operator=(ThreadHandle&& other) noexcept {
  if (this != &other) {
    close();
    id_ = other.id_;
    started_ = std::exchange(other.started_, false);
    error_ = other.error_;
  }
  return *this;
}

void ThreadHandle::join() {
  if (!started_) return;
  pthread_join(static_cast<pthread_t>(id_), nullptr);
  started_ = false;
}

void ThreadHandle::close() {
  if (!started_) return;
  pthread_detach(static_cast<pthread_t>(id_));
  started_ = false;
}

}  // namespace zelk
