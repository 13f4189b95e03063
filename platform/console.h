// The replay console: one 16-bit character in or out at a time.
//
// A front end provides the console (a terminal, the dialog's console window,
// a script in tests) and publishes it with setConsole. Detaching makes every
// pending and every later read and write fail: that is how a stop wakes a
// solver thread that waits for the user's line.
#pragma once

#include <memory>
#include <string>

namespace zelk {

class Console {
 public:
  virtual ~Console() = default;
  // Writes one character; false on failure (error() tells why).
  virtual bool writeChar(char16_t c) = 0;
  // Blocks until one character is read; false on failure or end of input.
  virtual bool readChar(char16_t& c) = 0;
  virtual void setTitle(const std::u16string& title) = 0;
  // Makes every pending and later read and write fail. Idempotent.
  virtual bool detach() = 0;
  // The error code of the last failure (an errno value).
  virtual int error() const = 0;
};

// The process's console, or null when none is attached.
std::shared_ptr<Console> currentConsole();
void setConsole(std::shared_ptr<Console> console);

// The errno value reported when no console is attached.
inline constexpr int NO_CONSOLE_ERROR = 9;  // EBADF
// The error of a read or write after detach().
inline constexpr int DETACHED_ERROR = 9;  // EBADF
// The error of a read at the end of the input.
inline constexpr int END_OF_INPUT_ERROR = 61;  // ENODATA

}  // namespace zelk
