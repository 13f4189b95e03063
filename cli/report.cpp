#include "cli/report.h"

#include <cstdio>

#include "platform/text.h"
#include "rules/playtypes.h"

namespace zelk::cli {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  // Bytes that are no UTF-8 (echoed from bad input) become U+FFFD: the line
  // stays valid JSON.
  for (unsigned char c : utf16ToUtf8(utf8ToUtf16(text))) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

StartFields startOf(const SolveRequest& request) {
  return StartFields{request.mover, request.toBeat, request.toBeatType};
}

namespace {

std::string typeName(int type) { return jsonString(utf16ToUtf8(pt2Str(type))); }

// The opening of an answer: its line, the hands, and the position where it
// is not the opening one.
std::string head(const std::u16string& player1, const std::u16string& player2,
                 const StartFields& start, long line) {
  std::string out = "{";
  if (line > 0) out.append("\"line\":").append(std::to_string(line)).append(",");
  out.append("\"player1\":").append(jsonString(utf16ToUtf8(player1)));
  out.append(",\"player2\":").append(jsonString(utf16ToUtf8(player2)));
  if (start.mover != RESULT_U2 || !start.toBeat.empty()) {
    const bool free = start.toBeat.empty();
    out.append(",\"mover\":").append(1, start.mover);
    out.append(",\"to_beat\":").append(free ? std::string("null") : jsonString(start.toBeat));
    out.append(",\"to_beat_type\":")
        .append(free ? std::string("null") : typeName(start.toBeatType));
  }
  return out;
}

}  // namespace

std::string reportJson(const RunReport& r, const std::u16string& player1,
                       const std::u16string& player2, long line, const StartFields& start) {
  std::string firstPlay = "null", firstType = "null";
  if (r.firstPlayType >= 0) {
    firstPlay = jsonString(r.firstPlay);
    firstType = typeName(r.firstPlayType);
  }
  std::string out = head(player1, player2, start, line);
  out += ",\"winner\":" + std::string(1, r.winner);
  out += ",\"first_play\":" + firstPlay;
  out += ",\"first_play_type\":" + firstType;
  out += ",\"positions\":" + std::to_string(r.positions);
  out += ",\"tree_positions\":" + std::to_string(r.keptPositions);
  out += ",\"opening_plays\":" + std::to_string(r.openingPlays);
  out += ",\"elapsed_ms\":" + std::to_string(r.elapsedMs);
  out += std::string(",\"engine\":\"") + r.engine + "\"}\n";
  return out;
}

std::string analysisJson(const RunReport& r, const std::u16string& player1,
                         const std::u16string& player2, const StartFields& start, long line) {
  std::string out = head(player1, player2, start, line);
  out.append(",\"plays\":[");
  for (std::size_t i = 0; i < r.plays.size(); ++i) {
    const AnalysedPlay& p = r.plays[i];
    if (i > 0) out.append(",");
    out.append("{\"play\":").append(jsonString(p.cards));
    out.append(",\"type\":").append(typeName(p.type));
    out.append(",\"winner\":").append(1, p.winner);
    out.append(",\"moves_to_win\":").append(std::to_string(p.movesToWin)).append("}");
  }
  out.append("],\"winner\":").append(1, r.winner);
  out.append(",\"moves_to_win\":").append(std::to_string(r.movesToWin));
  out.append(",\"positions\":").append(std::to_string(r.positions));
  out.append(",\"elapsed_ms\":").append(std::to_string(r.elapsedMs));
  out.append(",\"engine\":\"").append(r.engine).append("\"}\n");
  return out;
}

std::string errorJson(long line, const std::string& message) {
  return "{\"line\":" + std::to_string(line) + ",\"error\":" + jsonString(message) + "}\n";
}

}  // namespace zelk::cli
