// A console for tests: input comes from a script, output is captured.
//
// At the end of the script a read either fails like the end of a terminal's
// input, or blocks until more input is fed or the console is detached, as a
// user who does not type would. Every member is safe to call from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace zelk {

class ScriptConsole : public Console {
 public:
  enum class AtEnd {
    Fail,   // a read past the script fails with END_OF_INPUT_ERROR
    Block,  // a read past the script waits for feed() or detach()
  };

  explicit ScriptConsole(std::u16string_view script = u"", AtEnd atEnd = AtEnd::Fail);

  bool writeChar(char16_t c) override;
  bool readChar(char16_t& c) override;
  void setTitle(const std::u16string& title) override;
  bool detach() override;
  int error() const override;

  // Appends input and wakes a blocked read.
  void feed(std::u16string_view more);
  // Everything written so far; takeOutput also clears it.
  std::u16string output() const;
  std::u16string takeOutput();
  std::u16string title() const;
  bool detached() const;
  // Writes beyond the next `count` characters fail with EIO.
  void failWritesAfter(std::size_t count);
  // True once the output holds text (waiting up to timeout for it).
  bool waitForOutput(std::u16string_view text, std::chrono::milliseconds timeout) const;
  // True once a read waits with the whole script read (waiting up to timeout).
  bool waitForBlockedRead(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::u16string input_;
  std::size_t position_ = 0;
  AtEnd atEnd_;
  std::u16string output_;
  std::u16string title_;
  bool detached_ = false;
  bool limited_ = false;
  std::size_t writesLeft_ = 0;
  int blockedReads_ = 0;
  int error_ = 0;
};

}  // namespace zelk
