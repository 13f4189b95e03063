#include "rules/playparse.h"

#include <array>

#include "platform/text.h"
#include "rules/cards.h"
#include "rules/playtypes.h"

namespace zelk {

namespace {

constexpr int RANK_A = 11;  // runs end here
constexpr int RANK_2 = 12;

struct TypeName {
  int type;
  const char* code;
};
// Singles first, then the rule switches' codes.
constexpr TypeName TYPE_NAMES[] = {
    {TYPE_G, "G"},     {TYPE_D, "D"},     {TYPE_3, "3"},   {TYPE_31, "31"},   {TYPE_32, "32"},
    {TYPE_411, "411"}, {TYPE_422, "422"}, {TYPE_F, "F"},   {TYPE_F11, "F11"}, {TYPE_F22, "F22"},
    {TYPE_SZ, "SZ"},   {TYPE_LD, "LD"},   {TYPE_ZD, "ZD"}, {TYPE_WZ, "WZ"},
};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string typed(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out.push_back(upper(c));
  return out;
}

// "F11 (飞机带个子翅膀)"
std::string describe(int type) {
  return std::string(playTypeCode(type)) + " (" + utf16ToUtf8(pt2Str(type)) + ")";
}

// "F (飞机) or F11 (飞机带个子翅膀)"
std::string typesOf(const std::vector<TypedPlay>& readings) {
  std::string out = describe(readings.front().type);
  for (std::size_t i = 1; i < readings.size(); ++i)
    if (readings[i].type != readings[i - 1].type) out += " or " + describe(readings[i].type);
  return out;
}

using Counts = std::array<int, RANK_COUNT>;

// The cards with ranks from..to taken `each` times first, then the rest
// ascending: how the generator writes a play.
std::string written(const Counts& c, int from, int to, int each) {
  std::string main, rest;
  for (int r = 0; r < RANK_COUNT; ++r) {
    int k = c[r];
    if (r >= from && r <= to) {
      main.append(static_cast<std::size_t>(each), RANK_ORDER[r]);
      k -= each;
    }
    rest.append(static_cast<std::size_t>(k), RANK_ORDER[r]);
  }
  return main + rest;
}

}  // namespace

const char* playTypeCode(int type) {
  for (const TypeName& t : TYPE_NAMES)
    if (t.type == type) return t.code;
  return "";
}

int playTypeByName(std::string_view name) {
  const std::string code = typed(name);
  for (const TypeName& t : TYPE_NAMES)
    if (code == t.code || name == utf16ToUtf8(pt2Str(t.type))) return t.type;
  return -1;
}

std::vector<TypedPlay> readPlay(std::string_view text) {
  Counts c{};
  int n = 0;
  for (char ch : typed(text)) {
    const int r = rankOf(static_cast<unsigned char>(ch));
    if (r < 0 || ++c[r] > (r > RANK_2 ? 1 : 4)) return {};
    ++n;
  }
  int ranks = 0, lo = -1, hi = -1, with[5] = {-1, -1, -1, -1, -1}, many[5] = {};
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (!c[r]) continue;
    if (lo < 0) lo = r;
    hi = r;
    ++ranks;
    ++many[c[r]];
    if (with[c[r]] < 0) with[c[r]] = r;
  }
  std::vector<TypedPlay> out;
  auto add = [&](int type, int from = -1, int to = -1, int each = 0) {
    out.push_back(TypedPlay{written(c, from, to, each), type});
  };
  // Consecutive ranks within 3 to A, each held `each` times, `least` to `most` of them.
  auto run = [&](int each, int least, int most) {
    return hi <= RANK_A && ranks == hi - lo + 1 && many[each] == ranks && ranks >= least &&
           ranks <= most;
  };
  // `t` consecutive ranks from a, within 3 to A, each held exactly three times.
  auto triples = [&](int a, int t) {
    if (a + t - 1 > RANK_A) return false;
    for (int r = a; r < a + t; ++r)
      if (c[r] != 3) return false;
    return true;
  };
  if (n == 2 && ranks == 1) add(TYPE_D);
  if (n == 3 && ranks == 1) add(TYPE_3);
  if (run(1, 5, 12)) add(TYPE_SZ);
  if (n == 4 && ranks == 2 && with[3] >= 0) add(TYPE_31, with[3], with[3], 3);
  if (n == 5 && ranks == 2 && with[3] >= 0 && with[2] >= 0) add(TYPE_32, with[3], with[3], 3);
  if (n == 6 && with[4] >= 0) add(TYPE_411, with[4], with[4], 4);
  if (n == 8 && ranks == 3 && many[4] == 1 && many[2] == 2) add(TYPE_422, with[4], with[4], 4);
  if (run(2, 3, 10)) add(TYPE_LD);
  if (run(3, 2, 7)) add(TYPE_F);
  for (int t = 2; t <= 3; ++t)
    for (int a = 0; n == 4 * t && a <= RANK_A; ++a)
      if (triples(a, t)) add(TYPE_F11, a, a + t - 1, 3);
  for (int t = 2; t <= 3; ++t)
    for (int a = 0; n == 5 * t && a <= RANK_A; ++a)
      if (triples(a, t) && ranks == 2 * t && many[2] == t) add(TYPE_F22, a, a + t - 1, 3);
  if (n == 4 && ranks == 1) add(TYPE_ZD);
  if (n == 2 && c[RANK_COUNT - 2] && c[RANK_COUNT - 1]) add(TYPE_WZ);
  if (n == 1) add(TYPE_G);
  return out;
}

bool parsePlayToBeat(std::string_view cards, std::string_view typeName,
                     const std::function<bool(int type)>& typeOn, TypedPlay& play,
                     std::string& error) {
  const std::string text = typed(cards);
  if (text.empty()) {
    error = "no cards given for the play to beat";
    return false;
  }
  Counts c{};
  for (char ch : text) {
    const int r = rankOf(static_cast<unsigned char>(ch));
    if (r < 0) {
      error = "'" + std::string(1, ch) +
              "' is not a card (cards: Y X 2 A K Q J 0 9 8 7 6 5 4 3; Y big joker, X small "
              "joker, 0 is ten)";
      return false;
    }
    if (++c[r] > (r > RANK_2 ? 1 : 4)) {
      error = "the play " + text + " holds more " + std::string(1, ch) + " than one pack has";
      return false;
    }
  }
  std::vector<TypedPlay> readings = readPlay(text);
  if (readings.empty()) {
    error = text + " is not a play of any type";
    return false;
  }
  if (!typeName.empty()) {
    const int type = playTypeByName(typeName);
    if (type < 0) {
      error = "unknown play type '" + std::string(typeName) +
              "' (known: G,D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ or the names the log prints)";
      return false;
    }
    std::vector<TypedPlay> named;
    for (const TypedPlay& p : readings)
      if (p.type == type) named.push_back(p);
    if (named.empty()) {
      error = text + " is not a play of type " + describe(type) + "; it is " + typesOf(readings);
      return false;
    }
    readings = named;
  }
  std::vector<TypedPlay> allowed;
  for (const TypedPlay& p : readings)
    if (typeOn(p.type)) allowed.push_back(p);
  if (allowed.empty()) {
    error = text + " is " + typesOf(readings);
    error += ", which the rule switches turn off: the opponent could not have played it";
    return false;
  }
  if (allowed.size() == 1) {
    play = allowed.front();
    return true;
  }
  // Written as exactly one of them: that one.
  const TypedPlay* asWritten = nullptr;
  int matches = 0;
  for (const TypedPlay& p : allowed)
    if (p.cards == text) {
      asWritten = &p;
      ++matches;
    }
  if (matches == 1) {
    play = *asWritten;
    return true;
  }
  error = text + " can be read as several plays:";
  for (const TypedPlay& p : allowed) error += " " + describe(p.type) + " " + p.cards + ",";
  error.back() = ';';
  error += " name the type, and for two readings of one type write the cards in the order shown";
  return false;
}

}  // namespace zelk
