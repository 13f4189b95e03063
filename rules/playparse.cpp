#include "rules/playparse.h"

#include <array>

#include "platform/text.h"
#include "rules/cards.h"
#include "rules/plays.h"
#include "rules/playtypes.h"

namespace zelk {

namespace {

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
  plays::CardCounts whole = 0;
  int n = 0;
  for (char ch : typed(text)) {
    const int r = rankOf(static_cast<unsigned char>(ch));
    if (r < 0 || ++c[r] > (r > RANK_2 ? 1 : 4)) return {};
    whole += plays::rankUnit(r);
    ++n;
  }
  // The plays a hand of just these cards can lead that take all of them,
  // every split into triples and wings included.
  std::vector<TypedPlay> out;
  auto take = [&](const plays::Candidate& p) {
    if (p.cards == whole) {
      char cards[4 * RANK_COUNT];
      out.push_back(TypedPlay{std::string(cards, p.write(cards)), p.type});
    }
    return true;
  };
  constexpr plays::Options FORMS{.pass = false, .oneLength = true, .allForms = true};
  if (n > 0) plays::forEachPlay<FORMS>(plays::HandRanks::counted(c.data()), {}, R_ALL, take, n);
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
      // Built piece by piece in a new string: GCC 12 reports a false -Wrestrict
      // where a literal goes in front of a string or replaces one.
      std::string message(1, '\'');
      message += ch;
      message +=
          "' is not a card (cards: Y X 2 A K Q J 0 9 8 7 6 5 4 3; Y big joker, X small "
          "joker, 0 is ten)";
      error = std::move(message);
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
  for (const TypedPlay& p : allowed) {
    error += ' ';
    error += describe(p.type);
    error += ' ';
    error += p.cards;
    error += ',';
  }
  error.back() = ';';
  error += " name the type, and for two readings of one type write the cards in the order shown";
  return false;
}

}  // namespace zelk
