// The verdict of a solve as one line of JSON, shared by --json and --batch so
// that a script reads both the same way.
#pragma once

#include <string>

#include "run/solverun.h"

namespace zelk::cli {

// A JSON string literal: quotes, backslashes and control characters escaped,
// bytes that are no UTF-8 replaced by U+FFFD.
std::string jsonString(const std::string& text);

// The object for a completed run, with a trailing newline. line > 0 puts
// "line":line first (batch mode).
std::string reportJson(const RunReport& report, const std::u16string& player1,
                       const std::u16string& player2, long line = 0);

// {"line":line,"error":message} with a trailing newline.
std::string errorJson(long line, const std::string& message);

}  // namespace zelk::cli
