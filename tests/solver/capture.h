// Test helpers: a console that records what is written, and the texts queued
// for the log view.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/output.h"
#include "platform/console.h"
#include "platform/text.h"

namespace zelk::testing {

class RecordingConsole : public Console {
 public:
  bool writeChar(char16_t c) override {
    std::lock_guard<std::mutex> g(m_);
    if (detached_) return false;
    out_.push_back(c);
    return true;
  }
  bool readChar(char16_t&) override { return false; }
  void setTitle(const std::u16string&) override {}
  bool detach() override {
    std::lock_guard<std::mutex> g(m_);
    detached_ = true;
    return true;
  }
  int error() const override { return 9; }
  std::string text() {
    std::lock_guard<std::mutex> g(m_);
    return utf16ToUtf8(out_);
  }

 private:
  std::mutex m_;
  std::u16string out_;
  bool detached_ = false;
};

// Takes every text queued for the log view, as UTF-8.
inline std::vector<std::string> drainQueued() {
  std::vector<std::string> texts;
  while (auto t = mStrSeq.take()) texts.push_back(utf16ToUtf8(*t));
  return texts;
}

}  // namespace zelk::testing
