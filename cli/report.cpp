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

std::string reportJson(const RunReport& r, const std::u16string& player1,
                       const std::u16string& player2, long line) {
  std::string firstPlay = "null", firstType = "null";
  if (r.firstPlayType >= 0) {
    firstPlay = jsonString(r.firstPlay);
    firstType = jsonString(utf16ToUtf8(pt2Str(r.firstPlayType)));
  }
  std::string out = "{";
  if (line > 0) out += "\"line\":" + std::to_string(line) + ",";
  out += "\"player1\":" + jsonString(utf16ToUtf8(player1));
  out += ",\"player2\":" + jsonString(utf16ToUtf8(player2));
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

std::string errorJson(long line, const std::string& message) {
  return "{\"line\":" + std::to_string(line) + ",\"error\":" + jsonString(message) + "}\n";
}

}  // namespace zelk::cli
