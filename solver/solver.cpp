// The exhaustive solver.
//
// Plays are generated for the mover one at a time, in the canonical order of
// kinds and candidates (rules/plays.h), and each resulting position is
// searched at once; the first play that wins for the mover ends the node, and
// KillBrother drops the plays searched before it. What stays behind is the
// winner's strategy tree.
//
// The cost per node is what matters here (tens of millions of nodes per
// second): the hands are handed down as per-rank counts, a candidate comes as
// ranks and widths, so the child's counts change rank by rank and its play is
// written straight into the node, and a child is made by copying the
// parent's position block and rewriting the mover's hand with one merge.
//
// Sibling duplicates (two picks of the same cards) are never made: the
// enumeration visits each distinct play once, and reports the repeated picks
// so that they count as created nodes that were dropped at once — the
// counters are the same as if each had been made and compared.
#include "solver/solver.h"

#include <cstdint>
#include <cstring>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/plays.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "solver/nodepool.h"

namespace zelk {

int64_t lastReportCount = 0;
int32_t lastReportSecond = 0;

namespace {

void writeProgressLine() {
  int32_t sec = tickSeconds.load(std::memory_order_relaxed);
  int64_t stnum = nodeCount;
  int64_t seconds = static_cast<int64_t>(sec) - lastReportSecond;
  int64_t speed = seconds > 0 ? (nodeCount - lastReportCount) / seconds : 0;
  int64_t position = topMoveCount - topMovePosition() + 1;
  if (on(F_DEBUG)) {
    const char* cards = topNode ? topNode->lastPlay : "";
    int type = topNode ? topNode->playType : 999;
    ConsolePrint(0, u"sec %d  stnum %I64d  speed %I64d/s  %s(%s) %I64d/%I64d \r\n", sec, stnum,
                 speed, cards, pt2Str(type), position, topMoveCount);
  } else {
    ConsolePrint(0, u"sec %d  stnum %I64d  speed %I64d/s %I64d/%I64d \r\n", sec, stnum, speed,
                 position, topMoveCount);
  }
}

// The message of a kind whose consistency check failed, by mover.
const char16_t* checkMessage(int type, bool moverU2) {
  switch (type) {
    case TYPE_D:
      return moverU2 ? u"ZelkSolver:U2-TYPE_D-异常\r\n" : u"ZelkSolver:U1-TYPE_D-异常\r\n";
    case TYPE_3:
      return moverU2 ? u"ZelkSolver:U2-TYPE_3-异常\r\n" : u"ZelkSolver:U1-TYPE_3-异常\r\n";
    case TYPE_SZ:
      return moverU2 ? u"ZelkSolver:U2-TYPE_SZ-异常\r\n" : u"ZelkSolver:U1-TYPE_SZ-异常\r\n";
    case TYPE_31:
      return moverU2 ? u"ZelkSolver:U2-TYPE_31-异常\r\n" : u"ZelkSolver:U1-TYPE_31-异常\r\n";
    case TYPE_32:
      return moverU2 ? u"ZelkSolver:U2-TYPE_32-异常\r\n" : u"ZelkSolver:U1-TYPE_32-异常\r\n";
    case TYPE_411:
      return moverU2 ? u"ZelkSolver:U2-TYPE_411-异常\r\n" : u"ZelkSolver:U1-TYPE_411-异常\r\n";
    case TYPE_422:
      return moverU2 ? u"ZelkSolver:U2-TYPE_422-异常\r\n" : u"ZelkSolver:U1-TYPE_422-异常\r\n";
    case TYPE_LD:
      return moverU2 ? u"ZelkSolver:U2-TYPE_LD-异常\r\n" : u"ZelkSolver:U1-TYPE_LD-异常\r\n";
    case TYPE_F:
      return moverU2 ? u"ZelkSolver:U2-TYPE_F-异常\r\n" : u"ZelkSolver:U1-TYPE_F-异常\r\n";
    case TYPE_F11:
      return moverU2 ? u"ZelkSolver:U2-TYPE_F11-异常\r\n" : u"ZelkSolver:U1-TYPE_F11-异常\r\n";
    case TYPE_F22:
      return moverU2 ? u"ZelkSolver:U2-TYPE_F22-异常\r\n" : u"ZelkSolver:U1-TYPE_F22-异常\r\n";
    default: return moverU2 ? u"ZelkSolver:U2-TYPE_G-异常\r\n" : u"ZelkSolver:U1-TYPE_G-异常\r\n";
  }
}

// Both hands as counts per rank, and what the mover has to beat, handed
// down the recursion so that no node has to read its strings again.
struct Context {
  uint8_t count[2][16];  // [0] player1, [1] player2; by rank number
  uint32_t present[2];   // ranks held, as bits
  uint32_t pairs[2];     // ranks held at least twice
  uint32_t triples[2];   // ... three times
  uint32_t fours[2];     // ... four times
  int size[2];
  int lastLength;  // cards in the play to beat
  int lastRank;    // rank of its first card, -1 when nothing is to be beaten
  Rules rules;     // the rule switches, read once per solve
};

constexpr signed char rankTable(int c) { return static_cast<signed char>(rankOf(c)); }
struct RankTable {
  signed char r[256];
  constexpr RankTable() : r() {
    for (int c = 0; c < 256; ++c) r[c] = rankTable(c);
  }
};
constexpr RankTable RANKS;

inline int rankAt(char c) { return RANKS.r[static_cast<unsigned char>(c)]; }

char solveNode(GameNode* node, int depth, const Context& ctx);

// One node's expansion: the mover's counts, and the child factory.
class Expansion {
 public:
  Expansion(GameNode* node, int depth, bool moverU2, const Context& ctx)
      : node_(node),
        ctx_(ctx),
        depth_(depth),
        mover_index_(moverU2 ? 1 : 0),
        moverU2_(moverU2),
        mover_(moverU2 ? RESULT_U2 : RESULT_U1),
        other_(moverU2 ? RESULT_U1 : RESULT_U2) {
    count_ = ctx.count[mover_index_];
    n_ = ctx.size[mover_index_];
    present_ = ctx.present[mover_index_];
    pairs_ = ctx.pairs[mover_index_];
    triples_ = ctx.triples[mover_index_];
    fours_ = ctx.fours[mover_index_];
    lastType_ = node->playType;
    lastLength_ = ctx.lastLength;
    lastRank_ = ctx.lastRank;
    checks_ = lastType_ != TYPE_PASS && on(F_DEBUG);
  }

  int count(int rank) const { return count_[rank]; }
  char mover() const { return mover_; }
  char other() const { return other_; }
  plays::HandRanks hand() const {
    return plays::HandRanks::of(present_, pairs_, triples_, fours_, n_);
  }
  plays::ToBeat toBeat() const { return plays::ToBeat{lastType_, lastLength_, lastRank_}; }
  Rules rules() const { return ctx_.rules; }

  // Makes, checks, links and searches one candidate. True when it wins for
  // the mover: the siblings before it are gone and the node is decided.
  [[gnu::always_inline]] bool play(const plays::Candidate& p) {
    Context child;
    GameNode* c = makeChild(p, child);
    if (checks_ && p.type != TYPE_WZ &&
        cmpPzSmallN(c->lastPlay, node_->lastPlay, p.type, lastType_) == 1) {
      ConsolePrint(0, checkMessage(p.type, moverU2_));
      deleteNode(c);
      return false;
    }
    return search(c, child);
  }

  // A bomb is made first and then compared with the play to beat.
  [[gnu::always_inline]] bool bomb(const plays::Candidate& p) {
    if (lastType_ != TYPE_PASS) {
      char cards[5];
      *p.write(cards) = '\0';
      if (cmpPzSmallN(cards, node_->lastPlay, TYPE_ZD, lastType_) == 1) {
        countDropped(1);
        return false;
      }
    }
    Context child;
    GameNode* c = makeChild(p, child);
    return search(c, child);
  }

  bool pass() {
    GameNode* c = newChild();
    c->lastPlay[0] = '\0';
    c->playType = TYPE_PASS;
    c->turn = other_;
    Context child = ctx_;
    child.lastLength = 0;
    child.lastRank = -1;
    return search(c, child);
  }

  // Candidates that were made and dropped at once as duplicates of a sibling.
  void countDropped(int64_t n) { nodeCount += n; }

 private:
  GameNode* newChild() {
    GameNode* c = nodepool::allocate();
    c->next = nullptr;
    c->child = nullptr;
    copyPositionBlock(c, node_);
    c->result = RESULT_OPEN;
    ++nodeCount;
    return c;
  }

  [[gnu::always_inline]] GameNode* makeChild(const plays::Candidate& p, Context& child) {
    GameNode* c = newChild();
    child = ctx_;
    const int m = mover_index_;
    uint8_t* left = child.count[m];
    auto take = [&](int r, int cards) {
      const uint32_t gone = ~(1u << r);
      switch (left[r] -= static_cast<uint8_t>(cards)) {
        case 0: child.present[m] &= gone; [[fallthrough]];
        case 1: child.pairs[m] &= gone; [[fallthrough]];
        case 2: child.triples[m] &= gone; [[fallthrough]];
        case 3: child.fours[m] &= gone; break;
        default: break;
      }
    };
    for (int g = 0; g < p.runRanks; ++g) take(p.rank + g, p.width);
    for (int a = 0; a < p.attached; ++a) take(p.attach[a], p.attachWidth);
    child.size[m] = n_ - p.length;
    child.lastLength = p.length;
    child.lastRank = p.rank;
    // The hand that stays, still in ascending order.
    char* out = moverU2_ ? c->u2Cards : c->u1Cards;
    for (uint32_t bits = present_; bits; bits &= bits - 1) {
      int r = __builtin_ctz(bits);
      for (int k = left[r]; k > 0; --k) *out++ = RANK_ORDER[r];
    }
    *out = '\0';
    *p.write(c->lastPlay) = '\0';
    c->playType = p.type;
    c->turn = other_;
    return c;
  }

  bool search(GameNode* c, const Context& child) {
    addChild(node_, c);
    char r = solveNode(c, depth_ + 1, child);
    c->result = r;
    if (r == mover_) {
      KillBrother(node_, c);
      return true;
    }
    return false;
  }

  GameNode* node_;
  const Context& ctx_;
  int depth_;
  int mover_index_;
  bool moverU2_;
  char mover_, other_;
  const uint8_t* count_;
  int n_;
  uint32_t present_, pairs_, triples_, fours_;
  int lastType_, lastLength_, lastRank_;
  bool checks_;
};

// The solver's work for each play of the enumeration: a node made, checked,
// linked and searched; false (stop) once a play wins.
struct SearchPlays {
  Expansion& e;

  [[gnu::always_inline]] bool operator()(const plays::Candidate& c) {
    if (c.type == TYPE_PASS) return !e.pass();
    if (c.type == TYPE_ZD) return !e.bomb(c);
    return !e.play(c);
  }
  int count(int rank) const { return e.count(rank); }
  void dropped(int64_t n) { e.countDropped(n); }
};

// Plays of the kind to beat that lose by rank or length make no node; a
// bomb is made first and then compared with the play to beat.
constexpr plays::Options SEARCH{.beatingOnly = true, .bombsThatBeat = false, .countPicks = true};

}  // namespace

namespace {

char solveNode(GameNode* node, int depth, const Context& ctx) {
  // 1. Entry.
  if (stopRequested()) return RESULT_STOPPED;
  if (depth == 1) topNode = node;
  int32_t sec = tickSeconds.load(std::memory_order_relaxed);
  if (sec != 0 && sec - lastReportSecond > 0) {
    writeProgressLine();
    lastReportCount = nodeCount;
    lastReportSecond = sec;
  }
  if (node->u1Cards[0] == '\0') return RESULT_U1;
  if (node->u2Cards[0] == '\0') return RESULT_U2;
  if (node->turn != RESULT_U1 && node->turn != RESULT_U2) {
    ConsolePrint(0, u"ZelkSolver:异常..\r\n");
    return RESULT_OPEN;
  }

  // 2. Expansion for the mover, play by play, until one wins.
  Expansion e(node, depth, node->turn == RESULT_U2, ctx);
  SearchPlays visit{e};
  const bool won = !plays::forEachPlay<SEARCH>(e.hand(), e.toBeat(), e.rules(), visit);
  return won ? e.mover() : e.other();
}

void countHand(Context& ctx, int who, const char* hand) {
  uint8_t* count = ctx.count[who];
  std::memset(count, 0, sizeof ctx.count[who]);
  int size = 0;
  for (const char* p = hand; *p; ++p, ++size) {
    int r = rankAt(*p);
    ++count[r < 0 ? 15 : r];  // never in a checked hand; kept out of every kind
  }
  ctx.size[who] = size;
  ctx.present[who] = ctx.pairs[who] = ctx.triples[who] = ctx.fours[who] = 0;
  for (int r = 0; r < RANK_COUNT; ++r) {
    uint32_t bit = 1u << r;
    if (count[r] >= 1) ctx.present[who] |= bit;
    if (count[r] >= 2) ctx.pairs[who] |= bit;
    if (count[r] >= 3) ctx.triples[who] |= bit;
    if (count[r] >= 4) ctx.fours[who] |= bit;
  }
}

}  // namespace

char ZelkSolver(GameNode* node, int depth, Rules rules) {
  Context ctx;
  countHand(ctx, 0, node->u1Cards);
  countHand(ctx, 1, node->u2Cards);
  ctx.lastLength = static_cast<int>(std::strlen(node->lastPlay));
  ctx.lastRank =
      node->playType != TYPE_PASS ? c2sn(static_cast<unsigned char>(node->lastPlay[0])) : -1;
  ctx.rules = rules;
  return solveNode(node, depth, ctx);
}

char ZelkSolver(GameNode* node, int depth) { return ZelkSolver(node, depth, currentRules()); }

}  // namespace zelk
