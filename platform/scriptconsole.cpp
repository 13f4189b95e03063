#include "platform/scriptconsole.h"

#include <cerrno>
#include <utility>

namespace zelk {

ScriptConsole::ScriptConsole(std::u16string_view script, AtEnd atEnd)
    : input_(script), atEnd_(atEnd) {}

bool ScriptConsole::writeChar(char16_t c) {
  std::lock_guard<std::mutex> g(m_);
  if (detached_) {
    error_ = DETACHED_ERROR;
    return false;
  }
  if (limited_) {
    if (writesLeft_ == 0) {
      error_ = EIO;
      return false;
    }
    --writesLeft_;
  }
  output_.push_back(c);
  cv_.notify_all();
  return true;
}

bool ScriptConsole::readChar(char16_t& c) {
  std::unique_lock<std::mutex> l(m_);
  for (;;) {
    if (detached_) {
      error_ = DETACHED_ERROR;
      return false;
    }
    if (position_ < input_.size()) {
      c = input_[position_++];
      return true;
    }
    if (atEnd_ == AtEnd::Fail) {
      error_ = END_OF_INPUT_ERROR;
      return false;
    }
    ++blockedReads_;
    cv_.notify_all();
    cv_.wait(l);
    --blockedReads_;
  }
}

void ScriptConsole::setTitle(const std::u16string& title) {
  std::lock_guard<std::mutex> g(m_);
  if (!detached_) title_ = title;
}

bool ScriptConsole::detach() {
  std::lock_guard<std::mutex> g(m_);
  detached_ = true;
  cv_.notify_all();
  return true;
}

int ScriptConsole::error() const {
  std::lock_guard<std::mutex> g(m_);
  return error_;
}

void ScriptConsole::feed(std::u16string_view more) {
  std::lock_guard<std::mutex> g(m_);
  input_.append(more);
  cv_.notify_all();
}

std::u16string ScriptConsole::output() const {
  std::lock_guard<std::mutex> g(m_);
  return output_;
}

std::u16string ScriptConsole::takeOutput() {
  std::lock_guard<std::mutex> g(m_);
  return std::exchange(output_, std::u16string());
}

std::u16string ScriptConsole::title() const {
  std::lock_guard<std::mutex> g(m_);
  return title_;
}

bool ScriptConsole::detached() const {
  std::lock_guard<std::mutex> g(m_);
  return detached_;
}

void ScriptConsole::failWritesAfter(std::size_t count) {
  std::lock_guard<std::mutex> g(m_);
  limited_ = true;
  writesLeft_ = count;
}

bool ScriptConsole::waitForOutput(std::u16string_view text,
                                  std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, timeout, [&] { return output_.find(text) != std::u16string::npos; });
}

bool ScriptConsole::waitForBlockedRead(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> l(m_);
  return cv_.wait_for(l, timeout, [&] { return blockedReads_ > 0 && position_ == input_.size(); });
}

}  // namespace zelk
