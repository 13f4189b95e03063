// Test helpers for code that prints through the output hub.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/output.h"
#include "platform/scriptconsole.h"

namespace zelk::testing {

// Takes every text queued for the log view, oldest first.
inline std::vector<std::u16string> takeQueuedTexts() {
  std::vector<std::u16string> out;
  while (auto t = mStrSeq.take()) out.push_back(std::move(*t));
  return out;
}

// For the life of the object: an empty log queue at the start, a script
// console as the process's console, and stopFlag cleared; afterwards no
// console and stopFlag cleared again.
class HubCapture {
 public:
  explicit HubCapture(std::u16string_view script = u"",
                      ScriptConsole::AtEnd atEnd = ScriptConsole::AtEnd::Fail)
      : console_(std::make_shared<ScriptConsole>(script, atEnd)) {
    discardLogQueue();
    setStop(0);
    setConsole(console_);
  }
  ~HubCapture() {
    setConsole(nullptr);
    setStop(0);
    discardLogQueue();
  }
  HubCapture(const HubCapture&) = delete;
  HubCapture& operator=(const HubCapture&) = delete;

  ScriptConsole& console() { return *console_; }
  std::vector<std::u16string> queued() { return takeQueuedTexts(); }

 private:
  std::shared_ptr<ScriptConsole> console_;
};

}  // namespace zelk::testing
