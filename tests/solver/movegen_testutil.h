// Helpers shared by the move-generator, perft and solver cross-check tests:
// running ZelkCN on a position given as strings, reading the child list back,
// mirroring a position so that player1's plays come from the same generator,
// setting the rule switches for one test and capturing diagnostic lines.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/output.h"
#include "platform/console.h"
#include "rules/cards.h"
#include "rules/switches.h"
#include "solver/gamenode.h"
#include "solver/movegen.h"

namespace zelk::testutil {

// The thirteen play switches, one bit each, in this order.
inline Flag* const SWITCH_FLAGS[13] = {
    &F_TYPE_D,  &F_TYPE_3,   &F_TYPE_31,  &F_TYPE_32, &F_TYPE_SZ,  &F_TYPE_LD, &F_TYPE_ZD,
    &F_TYPE_WZ, &F_TYPE_411, &F_TYPE_422, &F_TYPE_F,  &F_TYPE_F11, &F_TYPE_F22};
inline constexpr unsigned ALL_SWITCHES = (1u << 13) - 1;

// Sets the play switches to `mask` for the lifetime of the guard, then back to all on.
class SwitchGuard {
 public:
  explicit SwitchGuard(unsigned mask) {
    for (int i = 0; i < 13; ++i) setFlag(*SWITCH_FLAGS[i], (mask >> i) & 1u);
  }
  ~SwitchGuard() { resetRuleSwitches(); }
  SwitchGuard(const SwitchGuard&) = delete;
  SwitchGuard& operator=(const SwitchGuard&) = delete;
};

// Collects what ConsolePrint writes; restores "no console" when destroyed.
class CaptureConsole : public Console {
 public:
  bool writeChar(char16_t c) override {
    text.push_back(c);
    return true;
  }
  bool readChar(char16_t&) override { return false; }
  void setTitle(const std::u16string&) override {}
  bool detach() override { return true; }
  int error() const override { return 0; }
  std::u16string text;
};

class ConsoleCapture {
 public:
  ConsoleCapture() : console_(std::make_shared<CaptureConsole>()) {
    setConsole(console_);
    setStop(0);
  }
  ~ConsoleCapture() {
    setConsole(nullptr);
    setStop(0);
  }
  const std::u16string& text() const { return console_->text; }

 private:
  std::shared_ptr<CaptureConsole> console_;
};

inline std::string sorted(std::string cards) {
  sortCardsAsc(cards);
  return cards;
}

inline void putCards(char (&field)[CARD_FIELD], const std::string& cards) {
  std::size_t n = std::min(cards.size(), static_cast<std::size_t>(MAXPN));
  std::memcpy(field, cards.data(), n);
  field[n] = '\0';
}

// A root node; the caller deletes it.
inline GameNode* makeNode(const std::string& u1, const std::string& u2, const std::string& last,
                          int type, char turn = '2') {
  GameNode* node = newNode();
  putCards(node->u1Cards, sorted(u1));
  putCards(node->u2Cards, sorted(u2));
  putCards(node->lastPlay, last);
  node->playType = type;
  node->turn = turn;
  return node;
}

struct Child {
  std::string play;  // lastPlay as written
  int type;
  char result;
  std::string u1, u2;
  char turn;
};

inline std::vector<Child> childList(const GameNode* node) {
  std::vector<Child> out;
  for (const GameNode* c = node->child; c; c = c->next)
    out.push_back({c->lastPlay, c->playType, c->result, c->u1Cards, c->u2Cards, c->turn});
  return out;
}

// Player2's plays in list order (newest first).
inline std::vector<Child> generate(const std::string& u1, const std::string& u2,
                                   const std::string& last, int type) {
  GameNode* node = makeNode(u1, u2, last, type);
  ZelkCN(node, 0);
  std::vector<Child> out = childList(node);
  deleteNode(node);
  return out;
}

// Children of a position for whichever side is to move: player1's plays come
// from the generator on the mirrored position (hands swapped) and are swapped
// back, so both sides follow one definition of the legal plays. The children
// are linked under node in the generator's order.
inline void expandEitherSide(GameNode* node) {
  if (node->turn == '2') {
    ZelkCN(node, 0);
    return;
  }
  GameNode* mirror = newNode();
  copyPosition(mirror, node);
  std::memcpy(mirror->u1Cards, node->u2Cards, CARD_FIELD);
  std::memcpy(mirror->u2Cards, node->u1Cards, CARD_FIELD);
  mirror->turn = '2';
  ZelkCN(mirror, 0);
  // Move the children over, keeping their order.
  node->child = mirror->child;
  mirror->child = nullptr;
  deleteNode(mirror);
  for (GameNode* c = node->child; c; c = c->next) {
    char hand[CARD_FIELD];
    std::memcpy(hand, c->u1Cards, CARD_FIELD);
    std::memcpy(c->u1Cards, c->u2Cards, CARD_FIELD);
    std::memcpy(c->u2Cards, hand, CARD_FIELD);
    c->turn = '2';
    c->result = c->u1Cards[0] == '\0' ? '1' : (c->u2Cards[0] == '\0' ? '2' : '3');
  }
}

}  // namespace zelk::testutil
