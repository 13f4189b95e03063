// The replay console over a terminal, or over any pair of file descriptors
// (stdin/stdout by default): UTF-8 on the wire, UTF-16 code units to the
// caller, so a character outside the basic plane arrives as two units and
// goes out from two writeChar calls.
//
// detach() wakes a read that waits for input at once (through a pipe the
// read also polls) and makes every later read and write fail; the
// descriptors themselves are never closed here. End of input is a read
// failure (END_OF_INPUT_ERROR), and stays one.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/console.h"

namespace zelk {

class TerminalConsole : public Console {
 public:
  explicit TerminalConsole(int inFd = 0, int outFd = 1);
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  bool writeChar(char16_t c) override;
  bool readChar(char16_t& c) override;
  // Sets the terminal's window title when the output is a terminal.
  void setTitle(const std::u16string& title) override;
  bool detach() override;
  int error() const override { return error_.load(std::memory_order_relaxed); }
  // The first failed read or write of the descriptors themselves (an errno
  // value; neither the end of input nor a detach counts); 0 when none failed.
  int readError() const { return readError_.load(); }
  int writeError() const { return writeError_.load(); }

 private:
  bool readByte(unsigned char& b);
  bool writeBytes(const char* data, std::size_t size);
  bool fail(int error);
  bool ioFailure(std::atomic<int>& first, int error);

  const int inFd_;
  const int outFd_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  bool outIsPipe_ = false;  // writes may raise SIGPIPE
  std::atomic<bool> detached_{false};
  std::atomic<int> error_{0};
  std::atomic<int> readError_{0};
  std::atomic<int> writeError_{0};

  std::mutex readMutex_;
  bool endOfInput_ = false;
  int pushback_ = -1;     // a byte that broke a sequence, read again next
  char inBuffer_[65536];  // bytes read ahead, from inStart_ to inEnd_
  std::size_t inStart_ = 0, inEnd_ = 0;
  char16_t pendingLow_ = 0;  // second unit of a pair, handed out next

  std::mutex writeMutex_;
  char16_t pendingHigh_ = 0;  // first unit of a pair, written with the second
};

}  // namespace zelk
