// The verdict of a solve as one line of JSON, shared by --json and --batch so
// that a script reads both the same way.
#pragma once

#include <string>

#include "run/solverun.h"

namespace zelk::cli {

// A JSON string literal: quotes, backslashes and control characters escaped,
// bytes that are no UTF-8 replaced by U+FFFD.
std::string jsonString(const std::string& text);

// The rest of the position a run started from. Only a position other than
// the opening one (player2 leading) shows in the answers, after the hands:
// "mover", "to_beat" (null for a free lead) and "to_beat_type".
struct StartFields {
  char mover = RESULT_U2;
  std::string toBeat;
  int toBeatType = TYPE_PASS;
};
StartFields startOf(const SolveRequest& request);

// The object for a completed run, with a trailing newline. line > 0 puts
// "line":line first (batch mode).
std::string reportJson(const RunReport& report, const std::u16string& player1,
                       const std::u16string& player2, long line = 0, const StartFields& start = {});

// The object of an analysis (--analyse): the hands, the position, every
// play of the mover in canonical order ("plays": play, type, winner,
// moves_to_win; the pass has the play ""), the position's winner and
// moves_to_win, then positions, elapsed_ms and engine.
std::string analysisJson(const RunReport& report, const std::u16string& player1,
                         const std::u16string& player2, const StartFields& start, long line = 0);

// {"line":line,"error":message} with a trailing newline.
std::string errorJson(long line, const std::string& message);

}  // namespace zelk::cli
