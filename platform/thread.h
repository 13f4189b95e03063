// Threads with a given stack size.
//
// The solver recurses with large scratch buffers per level and needs a 32 MiB
// stack; the background threads ask for 5 MB and 1 MiB. std::thread cannot
// set a stack size, so this starts POSIX threads with the size in their attributes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace zelk {

// Stack sizes of the system's threads.
inline constexpr std::size_t SOLVER_STACK = 0x2000000;  // 32 MiB: the solver thread
inline constexpr std::size_t RELEASE_STACK = 0x500000;  // SecondTicker, ThreadZelkFree
inline constexpr std::size_t UPDATE_STACK = 0x100000;   // the update check

class ThreadHandle {
 public:
  ThreadHandle() = default;
  ~ThreadHandle();  // closes the handle: detaches a thread still running
  ThreadHandle(ThreadHandle&& other) noexcept;
  ThreadHandle& operator=(ThreadHandle&& other) noexcept;
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;

  bool valid() const { return started_; }
  // Why the thread could not be started (an errno value); 0 otherwise.
  int error() const { return error_; }
  void join();   // waits for the thread to end; the handle becomes empty
  void close();  // forgets the thread (it runs on); the handle becomes empty

 private:
  friend ThreadHandle startThread(std::size_t, std::function<void()>);
  unsigned long id_ = 0;
  bool started_ = false;
  int error_ = 0;
};

// Starts body on a new thread with the given stack size; an empty handle
// that tells the error on failure (a stack the system refuses, say).
ThreadHandle startThread(std::size_t stackBytes, std::function<void()> body);

}  // namespace zelk
