// The exhaustive solver.
//
// Plays are generated for the mover one at a time, in the canonical order of
// kinds and candidates, and each resulting position is searched at once; the
// first play that wins for the mover ends the node, and KillBrother drops the
// plays searched before it. What stays behind is the winner's strategy tree.
//
// The cost per node is what matters here (tens of millions of nodes per
// second): the mover's hand is read once into per-rank counts, candidates are
// built in small buffers on the stack, a child is made by copying the
// parent's position block and rewriting the mover's hand with one merge.
//
// Sibling duplicates can only arise in three kinds (four with two singles,
// and the airplanes with single wings): two picks of the same cards from
// different positions of the hand, and, for three triples, another split of
// the same twelve cards into triples and wings. Two siblings are the same
// position exactly when they play the same multiset of cards, so instead of
// materialising every pick and comparing it with every sibling, those kinds
// walk the distinct card multisets in the order in which their first pick
// is generated, and count the repeated picks as created nodes that were
// dropped at once — the counters are the same as if each had been made.
#include "solver/solver.h"

#include <cstdint>
#include <cstring>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "solver/nodepool.h"

namespace zelk {

int64_t lastReportCount = 0;
int32_t lastReportSecond = 0;

namespace {

// Rank characters by rank number.
constexpr char RANK_CHAR[RANK_COUNT + 1] = "34567890JQKA2XY";
constexpr int RANK_A = 11;  // the highest rank a run may hold

int64_t choose2(int64_t m) { return m < 2 ? 0 : m * (m - 1) / 2; }
int64_t choose3(int64_t m) { return m < 3 ? 0 : m * (m - 1) * (m - 2) / 6; }

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

  // Beats by rank: a free lead, or a first card above the play to beat.
  bool beats(int rank) const { return lastType_ == TYPE_PASS || rank > lastRank_; }
  bool leads() const { return lastType_ == TYPE_PASS; }
  int count(int rank) const { return count_[rank]; }
  int size() const { return n_; }
  int lastType() const { return lastType_; }
  int lastLength() const { return lastLength_; }
  char mover() const { return mover_; }
  char other() const { return other_; }
  // Ranks held, as bits; and the ranks whose first card beats by rank.
  uint32_t present() const { return present_; }
  uint32_t withPairs() const { return pairs_; }
  uint32_t withTriples() const { return triples_; }
  uint32_t withFours() const { return fours_; }
  // True when every rank from s to s + length - 1 is in the mask.
  static bool run(uint32_t mask, int s, int length) {
    uint32_t want = ((1u << length) - 1u) << s;
    return (mask & want) == want;
  }
  uint32_t beatable() const {
    return lastType_ == TYPE_PASS ? 0x7FFFu : 0x7FFFu & ~((2u << lastRank_) - 1u);
  }

  // Makes, checks, links and searches one candidate. True when it wins for
  // the mover: the siblings before it are gone and the node is decided.
  bool play(const char* cards, int length, int type) {
    Context child;
    GameNode* c = makeChild(cards, length, type, child);
    if (checks_ && type != TYPE_ZD && type != TYPE_WZ &&
        cmpPzSmallN(c->lastPlay, node_->lastPlay, type, lastType_) == 1) {
      ConsolePrint(0, checkMessage(type, moverU2_));
      deleteNode(c);
      return false;
    }
    return search(c, child);
  }

  // A bomb is made first and then compared with the play to beat.
  bool bomb(const char* cards) {
    if (lastType_ != TYPE_PASS && cmpPzSmallN(cards, node_->lastPlay, TYPE_ZD, lastType_) == 1) {
      countDropped(1);
      return false;
    }
    Context child;
    GameNode* c = makeChild(cards, 4, TYPE_ZD, child);
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

  GameNode* makeChild(const char* cards, int length, int type, Context& child) {
    GameNode* c = newChild();
    child = ctx_;
    uint8_t* left = child.count[mover_index_];
    const int m = mover_index_;
    for (int i = 0; i < length; ++i) {
      int r = rankAt(cards[i]);
      uint32_t gone = ~(1u << r);
      switch (--left[r]) {
        case 0: child.present[m] &= gone; [[fallthrough]];
        case 1: child.pairs[m] &= gone; [[fallthrough]];
        case 2: child.triples[m] &= gone; [[fallthrough]];
        case 3: child.fours[m] &= gone; break;
        default: break;
      }
    }
    child.size[mover_index_] = n_ - length;
    child.lastLength = length;
    child.lastRank = rankAt(cards[0]);
    // The hand that stays, still in ascending order.
    char* out = moverU2_ ? c->u2Cards : c->u1Cards;
    for (uint32_t bits = present_; bits; bits &= bits - 1) {
      int r = __builtin_ctz(bits);
      for (int k = left[r]; k > 0; --k) *out++ = RANK_CHAR[r];
    }
    *out = '\0';
    std::memcpy(c->lastPlay, cards, static_cast<std::size_t>(length));
    c->lastPlay[length] = '\0';
    c->playType = type;
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

// Picks of cards from the m eligible positions of a hand come in
// lexicographic order of their positions; these give a pick's index in that
// order, so that a win can count the duplicate picks made before it.
int64_t pickIndex2(int64_t m, int64_t j, int64_t k) {
  return j * (m - 1) - j * (j - 1) / 2 + (k - j - 1);
}
int64_t pickIndex3(int64_t m, int64_t i, int64_t j, int64_t k) {
  int64_t before = 0;
  for (int64_t t = 0; t < i; ++t) before += choose2(m - 1 - t);
  return before + pickIndex2(m - i - 1, j - i - 1, k - i - 1);
}

// Number of cards below rank a whose rank lies outside [low, high].
int64_t eligibleBelow(const Expansion& e, int a, int low, int high) {
  int64_t n = 0;
  for (int q = 0; q < a; ++q)
    if (q < low || q > high) n += e.count(q);
  return n;
}

// Writes `times` copies of a rank character.
char* put(char* p, int rank, int times) {
  for (int i = 0; i < times; ++i) *p++ = RANK_CHAR[rank];
  return p;
}

// The kinds in the order they are tried; each returns true on a win. Each is
// called only when its kind may answer the play to beat (see solveNode).

bool pairs(Expansion& e) {
  if (!on(F_TYPE_D) || e.size() < 2) return false;
  for (uint32_t bits = e.withPairs() & e.beatable(); bits; bits &= bits - 1) {
    int r = __builtin_ctz(bits);
    {
      char b[2] = {RANK_CHAR[r], RANK_CHAR[r]};
      if (e.play(b, 2, TYPE_D)) return true;
    }
  }
  return false;
}

bool threes(Expansion& e) {
  if (!on(F_TYPE_3) || e.size() < 3) return false;
  for (uint32_t bits = e.withTriples() & e.beatable(); bits; bits &= bits - 1) {
    int r = __builtin_ctz(bits);
    {
      char b[3] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r]};
      if (e.play(b, 3, TYPE_3)) return true;
    }
  }
  return false;
}

bool straights(Expansion& e) {
  if (!on(F_TYPE_SZ)) return false;
  for (int w = 5; w <= 12 && w <= e.size(); ++w) {
    if (!e.leads() && w != e.lastLength()) continue;
    for (int s = 0; s + w <= 12; ++s) {
      if (!e.beats(s) || !Expansion::run(e.present(), s, w)) continue;
      char b[12];
      for (int i = 0; i < w; ++i) b[i] = RANK_CHAR[s + i];
      if (e.play(b, w, TYPE_SZ)) return true;
    }
  }
  return false;
}

bool threeWithSingle(Expansion& e) {
  if (!on(F_TYPE_31) || e.size() < 3) return false;
  for (uint32_t threes = e.withTriples() & e.beatable(); threes; threes &= threes - 1) {
    int r = __builtin_ctz(threes);
    for (uint32_t kickers = e.present() & ~(1u << r); kickers; kickers &= kickers - 1) {
      int q = __builtin_ctz(kickers);
      char b[4] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[q]};
      if (e.play(b, 4, TYPE_31)) return true;
    }
  }
  return false;
}

bool threeWithPair(Expansion& e) {
  if (!on(F_TYPE_32)) return false;
  for (uint32_t threes = e.withTriples() & e.beatable(); threes; threes &= threes - 1) {
    int r = __builtin_ctz(threes);
    for (uint32_t kickers = e.withPairs() & ~(1u << r); kickers; kickers &= kickers - 1) {
      int q = __builtin_ctz(kickers);
      char b[5] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[q], RANK_CHAR[q]};
      if (e.play(b, 5, TYPE_32)) return true;
    }
  }
  return false;
}

// Four with two singles: the picks j < k of two cards outside the four give
// each distinct pair of ranks (a <= b) first in lexicographic order; the
// other picks of the same ranks are duplicates.
bool fourWithTwo(Expansion& e) {
  if (!on(F_TYPE_411) || e.size() < 4) return false;
  for (uint32_t fours = e.withFours() & e.beatable(); fours; fours &= fours - 1) {
    int r = __builtin_ctz(fours);
    int64_t played = 0;
    int64_t m = e.size() - e.count(r);
    for (int a = 0; a < RANK_COUNT; ++a) {
      if (a == r || e.count(a) == 0) continue;
      for (int b = a; b < RANK_COUNT; ++b) {
        if (b == r || e.count(b) == 0 || (b == a && e.count(a) < 2)) continue;
        char buf[6];
        char* p = put(buf, r, 4);
        *p++ = RANK_CHAR[a];
        *p++ = RANK_CHAR[b];
        ++played;
        if (e.play(buf, 6, TYPE_411)) {
          int64_t j = eligibleBelow(e, a, r, r);
          int64_t k = b == a ? j + 1 : eligibleBelow(e, b, r, r);
          e.countDropped(pickIndex2(m, j, k) + 1 - played);
          return true;
        }
      }
    }
    e.countDropped(choose2(m) - played);
  }
  return false;
}

bool fourWithTwoPairs(Expansion& e) {
  if (!on(F_TYPE_422) || e.size() < 4) return false;
  for (uint32_t fours = e.withFours() & e.beatable(); fours; fours &= fours - 1) {
    int r = __builtin_ctz(fours);
    for (int a = 0; a < RANK_COUNT; ++a) {
      if (a == r || e.count(a) < 2) continue;
      for (int b = a + 1; b < RANK_COUNT; ++b) {
        if (b == r || e.count(b) < 2) continue;
        char buf[8];
        char* p = put(buf, r, 4);
        p = put(p, a, 2);
        put(p, b, 2);
        if (e.play(buf, 8, TYPE_422)) return true;
      }
    }
  }
  return false;
}

// Runs of pairs (width 2) and airplanes (width 3) cut from their templates.
constexpr int RUN_BUFFER = 24;
// Runs of pairs and of triples are cut from these.
constexpr char PAIR_RUN[] = "3344556677889900JJQQKKAA";
constexpr char TRIPLE_RUN[] = "333444555666777888999000JJJQQQKKKAAA";

bool runs(Expansion& e, int width, int type, int minGroups, int maxGroups) {
  const uint32_t groupsHeld = width == 2 ? e.withPairs() : e.withTriples();
  if ((groupsHeld & (groupsHeld >> 1)) == 0) return false;  // no two neighbours
  for (int groups = minGroups; groups <= maxGroups; ++groups) {
    int w = groups * width;
    // The second test never fires (at most ten pairs or seven triples), but
    // it shows the compiler that the cards fit the buffer.
    if (w > e.size() || w > RUN_BUFFER) break;
    if (!e.leads() && w != e.lastLength()) continue;
    for (int s = 0; s + groups <= 12; ++s) {
      if (!e.beats(s) || !Expansion::run(groupsHeld, s, groups)) continue;
      char b[RUN_BUFFER];
      std::memcpy(b, (width == 2 ? PAIR_RUN : TRIPLE_RUN) + s * width, w);
      if (e.play(b, w, type)) return true;
    }
  }
  return false;
}

bool pairRuns(Expansion& e) {
  if (!on(F_TYPE_LD)) return false;
  return runs(e, 2, TYPE_LD, 3, 10);
}

bool airplanes(Expansion& e) {
  if (!on(F_TYPE_F)) return false;
  return runs(e, 3, TYPE_F, 2, 7);
}

bool tripleRunStands(const Expansion& e, int s, int groups) {
  return Expansion::run(e.withTriples(), s, groups);
}

bool twoNeighbourTriples(const Expansion& e) {
  return (e.withTriples() & (e.withTriples() >> 1)) != 0;
}

bool airplanesWithTwoSingles(Expansion& e) {
  if (!on(F_TYPE_F11) || e.size() < 8 || !twoNeighbourTriples(e)) return false;
  if (!e.leads() && e.lastLength() != 8) return false;
  for (int s = 0; s + 2 <= 12; ++s) {
    if (!e.beats(s) || !tripleRunStands(e, s, 2)) continue;
    int64_t played = 0;
    int64_t m = e.size() - e.count(s) - e.count(s + 1);
    for (int a = 0; a < RANK_COUNT; ++a) {
      if (a == s || a == s + 1 || e.count(a) == 0) continue;
      for (int b = a; b < RANK_COUNT; ++b) {
        if (b == s || b == s + 1 || e.count(b) == 0 || (b == a && e.count(a) < 2)) continue;
        char buf[8];
        char* p = put(buf, s, 3);
        p = put(p, s + 1, 3);
        *p++ = RANK_CHAR[a];
        *p++ = RANK_CHAR[b];
        ++played;
        if (e.play(buf, 8, TYPE_F11)) {
          int64_t j = eligibleBelow(e, a, s, s + 1);
          int64_t k = b == a ? j + 1 : eligibleBelow(e, b, s, s + 1);
          e.countDropped(pickIndex2(m, j, k) + 1 - played);
          return true;
        }
      }
    }
    e.countDropped(choose2(m) - played);
  }
  return false;
}

bool airplanesWithThreeSingles(Expansion& e) {
  if (!on(F_TYPE_F11) || e.size() < 12 || !twoNeighbourTriples(e)) return false;
  if (!e.leads() && e.lastLength() != 12) return false;
  // The four-triple airplane of the same cards was generated earlier on a lead.
  const bool fourTripleAirplanes = e.leads() && on(F_TYPE_F);
  for (int s = 0; s + 3 <= 12; ++s) {
    if (!e.beats(s) || !tripleRunStands(e, s, 3)) continue;
    int64_t played = 0;
    int64_t m = e.size() - e.count(s) - e.count(s + 1) - e.count(s + 2);
    auto outside = [&](int r) { return r < s || r > s + 2; };
    for (int a = 0; a < RANK_COUNT; ++a) {
      if (!outside(a) || e.count(a) == 0) continue;
      for (int b = a; b < RANK_COUNT; ++b) {
        if (!outside(b) || e.count(b) < 1 + (b == a)) continue;
        for (int c = b; c < RANK_COUNT; ++c) {
          if (!outside(c) || e.count(c) < 1 + (c == b) + (c == a)) continue;
          char buf[12];
          char* p = put(buf, s, 3);
          p = put(p, s + 1, 3);
          p = put(p, s + 2, 3);
          *p++ = RANK_CHAR[a];
          *p++ = RANK_CHAR[b];
          *p++ = RANK_CHAR[c];
          if (a == c) {
            // Three wings of one rank next to the run: the same twelve cards
            // also form a four-triple airplane, or the three-triple airplane
            // one rank lower with this run's top triple as wings.
            bool below = a == s - 1;
            bool above = a == s + 3 && a <= RANK_A;
            if ((fourTripleAirplanes && (below || above)) || (below && e.beats(s - 1))) continue;
          }
          ++played;
          if (e.play(buf, 12, TYPE_F11)) {
            int64_t i = eligibleBelow(e, a, s, s + 2);
            int64_t j = b == a ? i + 1 : eligibleBelow(e, b, s, s + 2);
            int64_t k = c == b ? j + 1 : eligibleBelow(e, c, s, s + 2);
            e.countDropped(pickIndex3(m, i, j, k) + 1 - played);
            return true;
          }
        }
      }
    }
    e.countDropped(choose3(m) - played);
  }
  return false;
}

// The number of triples is a template argument so that the compiler sees
// that the cards fit the buffer.
template <int GROUPS>
bool airplanesWithPairs(Expansion& e) {
  static_assert(GROUPS == 2 || GROUPS == 3);
  constexpr int groups = GROUPS;
  const int length = groups * 5;
  if (!on(F_TYPE_F22) || e.size() < length || !twoNeighbourTriples(e)) return false;
  if (!e.leads() && e.lastLength() != length) return false;
  for (int s = 0; s + groups <= 12; ++s) {
    if (!e.beats(s) || !tripleRunStands(e, s, groups)) continue;
    auto wing = [&](int r) { return (r < s || r >= s + groups) && e.count(r) >= 2; };
    char buf[15];
    char* run = buf;
    for (int r = s; r < s + groups; ++r) run = put(run, r, 3);
    for (int a = 0; a < RANK_COUNT; ++a) {
      if (!wing(a)) continue;
      for (int b = a + 1; b < RANK_COUNT; ++b) {
        if (!wing(b)) continue;
        if (groups == 2) {
          char* p = put(run, a, 2);
          put(p, b, 2);
          if (e.play(buf, 10, TYPE_F22)) return true;
          continue;
        }
        for (int c = b + 1; c < RANK_COUNT; ++c) {
          if (!wing(c)) continue;
          char* p = put(run, a, 2);
          p = put(p, b, 2);
          put(p, c, 2);
          if (e.play(buf, 15, TYPE_F22)) return true;
        }
      }
    }
  }
  return false;
}

bool bombs(Expansion& e) {
  if (!on(F_TYPE_ZD) || e.size() < 4) return false;
  for (uint32_t fours = e.withFours(); fours; fours &= fours - 1) {
    int r = __builtin_ctz(fours);
    char b[5] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], '\0'};
    if (e.bomb(b)) return true;
  }
  return false;
}

bool rocket(Expansion& e) {
  // The rocket beats everything, so it is searched whatever is to be beaten.
  if ((e.present() & 0x6000u) != 0x6000u || !on(F_TYPE_WZ)) return false;
  return e.play("XY", 2, TYPE_WZ);
}

bool singles(Expansion& e) {
  for (uint32_t bits = e.present() & e.beatable(); bits; bits &= bits - 1) {
    int r = __builtin_ctz(bits);
    char b[1] = {RANK_CHAR[r]};
    if (e.play(b, 1, TYPE_G)) return true;
  }
  return false;
}

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

  // 2. Expansion for the mover, kind by kind, until a play wins. A reply
  // can only be of the kind of the play to beat, a bomb, the rocket or a
  // pass, so only those kinds are visited, still in table order.
  Expansion e(node, depth, node->turn == RESULT_U2, ctx);
  bool won;
  switch (node->playType) {
    case TYPE_PASS:
      won = pairs(e) || threes(e) || straights(e) || threeWithSingle(e) || threeWithPair(e) ||
            fourWithTwo(e) || fourWithTwoPairs(e) || pairRuns(e) || airplanes(e) ||
            airplanesWithTwoSingles(e) || airplanesWithThreeSingles(e) ||
            airplanesWithPairs<2>(e) || airplanesWithPairs<3>(e) || bombs(e) || rocket(e) ||
            singles(e);
      return won ? e.mover() : e.other();
    case TYPE_D: won = pairs(e); break;
    case TYPE_3: won = threes(e); break;
    case TYPE_SZ: won = straights(e); break;
    case TYPE_31: won = threeWithSingle(e); break;
    case TYPE_32: won = threeWithPair(e); break;
    case TYPE_411: won = fourWithTwo(e); break;
    case TYPE_422: won = fourWithTwoPairs(e); break;
    case TYPE_LD: won = pairRuns(e); break;
    case TYPE_F: won = airplanes(e); break;
    case TYPE_F11: won = airplanesWithTwoSingles(e) || airplanesWithThreeSingles(e); break;
    case TYPE_F22: won = airplanesWithPairs<2>(e) || airplanesWithPairs<3>(e); break;
    default: won = false; break;
  }
  won = won || bombs(e) || rocket(e) || (node->playType == TYPE_G && singles(e)) || e.pass();
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

char ZelkSolver(GameNode* node, int depth) {
  Context ctx;
  countHand(ctx, 0, node->u1Cards);
  countHand(ctx, 1, node->u2Cards);
  ctx.lastLength = static_cast<int>(std::strlen(node->lastPlay));
  ctx.lastRank =
      node->playType != TYPE_PASS ? c2sn(static_cast<unsigned char>(node->lastPlay[0])) : -1;
  return solveNode(node, depth, ctx);
}

}  // namespace zelk
