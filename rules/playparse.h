// A play typed by the user, read as the play a player made: the cards, and
// which play type they form.
//
// Elsewhere a play only ever comes from the generator, together with its
// type. A position taken from the middle of a game starts with a play on the
// table that nobody generated, so its cards have to be read: most sets of
// cards form one play type at most, a few form several (the twelve cards of
// four consecutive triples are an airplane, and also an airplane of three
// triples with single wings in two ways), and the type then has to be named.
//
// "Could the opponent have made it" is decided by the rules alone: the
// cards must form the named type (or the only type they form) and that
// type's switch must be on. The cards are not held against either hand:
// they left the opponent's hand when he played them, and the hands are
// checked each on their own (two hands may come from two packs).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

struct TypedPlay {
  std::string cards;  // as the generator writes lastPlay: main part first, attached cards after
  int type = 0;       // play-type code
};

// Every play type the cards form (blanks and letter case as typed are
// fine), in the canonical kind order and, within a kind, lowest deciding
// rank first; each reading with its cards as the generator writes them
// (the readings are the plays of the canonical enumeration, rules/plays.h,
// that take all the cards).
// Empty when the text holds something other than card characters, more of
// a card than one pack has, or cards that form no play.
std::vector<TypedPlay> readPlay(std::string_view cards);

// A play type from its name: the name the log prints (pt2Str, UTF-8) or its
// English code (G for singles, then the rule switches' codes D, 3, 31, 32,
// 411, 422, F, F11, F22, SZ, LD, ZD, WZ; any letter case). -1 for none; the
// pass is no play and has no name here.
int playTypeByName(std::string_view name);
// The English code of a play type ("G", "D", ..., "WZ"); "" for the pass
// and unknown codes.
const char* playTypeCode(int type);

// The play a player must beat, from typed cards and a type name (empty:
// none given). `typeOn` tells which play types the rule switches allow.
// False with a message saying why when the cards are no play, do not form
// the named type, form a type that is switched off (the opponent could not
// have made it), or form several types and no name says which. When two
// readings of one type remain (an airplane with single wings read from two
// runs), the cards written in the order of one of them choose it.
bool parsePlayToBeat(std::string_view cards, std::string_view typeName,
                     const std::function<bool(int type)>& typeOn, TypedPlay& play,
                     std::string& error);

}  // namespace zelk
