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

#include <cstring>

#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "run/output.h"
#include "solver/nodepool.h"

namespace zelk {

std::atomic<int32_t> tickSeconds{0};
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
    case TYPE_D: return moverU2 ? u"ZelkSolver:U2-TYPE_D-异常\r\n" : u"ZelkSolver:U1-TYPE_D-异常\r\n";
    case TYPE_3: return moverU2 ? u"ZelkSolver:U2-TYPE_3-异常\r\n" : u"ZelkSolver:U1-TYPE_3-异常\r\n";
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
    case TYPE_F: return moverU2 ? u"ZelkSolver:U2-TYPE_F-异常\r\n" : u"ZelkSolver:U1-TYPE_F-异常\r\n";
    case TYPE_F11:
      return moverU2 ? u"ZelkSolver:U2-TYPE_F11-异常\r\n" : u"ZelkSolver:U1-TYPE_F11-异常\r\n";
    case TYPE_F22:
      return moverU2 ? u"ZelkSolver:U2-TYPE_F22-异常\r\n" : u"ZelkSolver:U1-TYPE_F22-异常\r\n";
    default: return moverU2 ? u"ZelkSolver:U2-TYPE_G-异常\r\n" : u"ZelkSolver:U1-TYPE_G-异常\r\n";
  }
}

// One node's expansion: the mover's hand as counts, and the child factory.
class Expansion {
 public:
  Expansion(GameNode* node, int depth, bool moverU2)
      : node_(node), depth_(depth), moverU2_(moverU2),
        mover_(moverU2 ? RESULT_U2 : RESULT_U1), other_(moverU2 ? RESULT_U1 : RESULT_U2) {
    hand_ = moverU2 ? node->u2Cards : node->u1Cards;
    std::memset(count_, 0, sizeof count_);
    n_ = 0;
    for (const char* p = hand_; *p; ++p) {
      int r = rankOf(static_cast<unsigned char>(*p));
      if (r < 0) r = 0;  // the solver never sees foreign characters in a hand
      handRank_[n_++] = static_cast<signed char>(r);
      ++count_[r];
    }
    lastType_ = node->playType;
    lastLength_ = static_cast<int>(std::strlen(node->lastPlay));
    lastRank_ = lastType_ != TYPE_PASS ? c2sn(static_cast<unsigned char>(node->lastPlay[0])) : -1;
    checks_ = lastType_ != TYPE_PASS && on(F_DEBUG);
  }

  // Beats by rank: a free lead, or a first card above the play to beat.
  bool beats(int rank) const { return lastType_ == TYPE_PASS || rank > lastRank_; }
  bool leads() const { return lastType_ == TYPE_PASS; }
  bool gate(int type) const { return lastType_ == TYPE_PASS || lastType_ == type; }
  int count(int rank) const { return count_[rank]; }
  int size() const { return n_; }
  int lastType() const { return lastType_; }
  int lastLength() const { return lastLength_; }
  char mover() const { return mover_; }
  char other() const { return other_; }

  // Makes, checks, links and searches one candidate. True when it wins for
  // the mover: the siblings before it are gone and the node is decided.
  bool play(const char* cards, int length, int type) {
    GameNode* c = makeChild(cards, length, type);
    if (checks_ && type != TYPE_ZD && type != TYPE_WZ && type != TYPE_PASS &&
        cmpPzSmallN(c->lastPlay, node_->lastPlay, type, lastType_) == 1) {
      ConsolePrint(0, checkMessage(type, moverU2_));
      deleteNode(c);
      return false;
    }
    return search(c);
  }

  // A bomb is made first and then compared with the play to beat.
  bool bomb(const char* cards) {
    if (lastType_ != TYPE_PASS && cmpPzSmallN(cards, node_->lastPlay, TYPE_ZD, lastType_) == 1) {
      countDropped(1);
      return false;
    }
    return search(makeChild(cards, 4, TYPE_ZD));
  }

  bool pass() {
    GameNode* c = newChild();
    c->lastPlay[0] = '\0';
    c->playType = TYPE_PASS;
    c->turn = other_;
    return search(c);
  }

  // Candidates that were made and dropped at once as duplicates of a sibling.
  void countDropped(int64_t n) { nodeCount += n; }

 private:
  GameNode* newChild() {
    GameNode* c = nodepool::allocate();
    c->next = nullptr;
    c->child = nullptr;
    std::memcpy(reinterpret_cast<char*>(c) + POSITION_OFFSET,
                reinterpret_cast<const char*>(node_) + POSITION_OFFSET, POSITION_BYTES);
    c->result = RESULT_OPEN;
    ++nodeCount;
    return c;
  }

  GameNode* makeChild(const char* cards, int length, int type) {
    GameNode* c = newChild();
    // The new hand is the old one less the played cards, first equal card first.
    int remove[RANK_COUNT] = {};
    for (int i = 0; i < length; ++i) ++remove[rankOf(static_cast<unsigned char>(cards[i]))];
    char* out = moverU2_ ? c->u2Cards : c->u1Cards;
    int k = 0;
    for (int i = 0; i < n_; ++i) {
      int r = handRank_[i];
      if (remove[r] > 0) {
        --remove[r];
      } else {
        out[k++] = hand_[i];
      }
    }
    out[k] = '\0';
    std::memcpy(c->lastPlay, cards, static_cast<std::size_t>(length));
    c->lastPlay[length] = '\0';
    c->playType = type;
    c->turn = other_;
    return c;
  }

  bool search(GameNode* c) {
    addChild(node_, c);
    char r = ZelkSolver(c, depth_ + 1);
    c->result = r;
    if (r == mover_) {
      KillBrother(node_, c);
      return true;
    }
    return false;
  }

  GameNode* node_;
  int depth_;
  bool moverU2_;
  char mover_, other_;
  const char* hand_;
  int n_;
  signed char handRank_[CARD_FIELD * 2];
  int count_[RANK_COUNT];
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
template <class E>
int64_t eligibleBelow(const E& e, int a, int low, int high) {
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

// The kinds in the order they are tried; each returns true on a win.

bool pairs(Expansion& e) {
  if (!on(F_TYPE_D) || !e.gate(TYPE_D) || e.size() < 2) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) >= 2 && e.beats(r)) {
      char b[2] = {RANK_CHAR[r], RANK_CHAR[r]};
      if (e.play(b, 2, TYPE_D)) return true;
    }
  }
  return false;
}

bool threes(Expansion& e) {
  if (!on(F_TYPE_3) || !e.gate(TYPE_3) || e.size() < 3) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) >= 3 && e.beats(r)) {
      char b[3] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r]};
      if (e.play(b, 3, TYPE_3)) return true;
    }
  }
  return false;
}

bool straights(Expansion& e) {
  if (!on(F_TYPE_SZ) || !e.gate(TYPE_SZ)) return false;
  for (int w = 5; w <= 12 && w <= e.size(); ++w) {
    if (!e.leads() && w != e.lastLength()) continue;
    for (int s = 0; s + w <= 12; ++s) {
      if (!e.beats(s)) continue;
      bool stands = true;
      for (int r = s; r < s + w && stands; ++r) stands = e.count(r) >= 1;
      if (!stands) continue;
      char b[12];
      for (int i = 0; i < w; ++i) b[i] = RANK_CHAR[s + i];
      if (e.play(b, w, TYPE_SZ)) return true;
    }
  }
  return false;
}

bool threeWithSingle(Expansion& e) {
  if (!on(F_TYPE_31) || !e.gate(TYPE_31) || e.size() < 3) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) < 3 || !e.beats(r)) continue;
    for (int q = 0; q < RANK_COUNT; ++q) {
      if (q == r || e.count(q) == 0) continue;
      char b[4] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[q]};
      if (e.play(b, 4, TYPE_31)) return true;
    }
  }
  return false;
}

bool threeWithPair(Expansion& e) {
  if (!on(F_TYPE_32) || !e.gate(TYPE_32)) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) < 3 || !e.beats(r)) continue;
    for (int q = 0; q < RANK_COUNT; ++q) {
      if (q == r || e.count(q) < 2) continue;
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
  if (!on(F_TYPE_411) || !e.gate(TYPE_411) || e.size() < 4) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) < 4 || !e.beats(r)) continue;
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
  if (!on(F_TYPE_422) || !e.gate(TYPE_422) || e.size() < 4) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) < 4 || !e.beats(r)) continue;
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
bool runs(Expansion& e, int width, int type, int minGroups, int maxGroups) {
  for (int groups = minGroups; groups <= maxGroups; ++groups) {
    int w = groups * width;
    if (w > e.size()) break;
    if (!e.leads() && w != e.lastLength()) continue;
    for (int s = 0; s + groups <= 12; ++s) {
      if (!e.beats(s)) continue;
      bool stands = true;
      for (int r = s; r < s + groups && stands; ++r) stands = e.count(r) >= width;
      if (!stands) continue;
      char b[24];
      char* p = b;
      for (int r = s; r < s + groups; ++r) p = put(p, r, width);
      if (e.play(b, w, type)) return true;
    }
  }
  return false;
}

bool pairRuns(Expansion& e) {
  if (!on(F_TYPE_LD) || !e.gate(TYPE_LD)) return false;
  return runs(e, 2, TYPE_LD, 3, 10);
}

bool airplanes(Expansion& e) {
  if (!on(F_TYPE_F) || !e.gate(TYPE_F)) return false;
  return runs(e, 3, TYPE_F, 2, 7);
}

bool tripleRunStands(const Expansion& e, int s, int groups) {
  for (int r = s; r < s + groups; ++r)
    if (e.count(r) < 3) return false;
  return true;
}

bool airplanesWithTwoSingles(Expansion& e) {
  if (!on(F_TYPE_F11) || !e.gate(TYPE_F11) || e.size() < 8) return false;
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
  if (!on(F_TYPE_F11) || !e.gate(TYPE_F11) || e.size() < 12) return false;
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

bool airplanesWithPairs(Expansion& e, int groups) {
  const int length = groups * 5;
  if (!on(F_TYPE_F22) || !e.gate(TYPE_F22) || e.size() < length) return false;
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
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) < 4) continue;
    char b[5] = {RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], RANK_CHAR[r], '\0'};
    if (e.bomb(b)) return true;
  }
  return false;
}

bool rocket(Expansion& e) {
  // The rocket beats everything, so it is searched whatever is to be beaten.
  if (!on(F_TYPE_WZ) || e.count(13) == 0 || e.count(14) == 0) return false;
  return e.play("XY", 2, TYPE_WZ);
}

bool singles(Expansion& e) {
  if (!e.gate(TYPE_G)) return false;
  for (int r = 0; r < RANK_COUNT; ++r) {
    if (e.count(r) == 0 || !e.beats(r)) continue;
    char b[1] = {RANK_CHAR[r]};
    if (e.play(b, 1, TYPE_G)) return true;
  }
  return false;
}

}  // namespace

char ZelkSolver(GameNode* node, int depth) {
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

  // 2. Expansion for the mover, kind by kind, until a play wins.
  Expansion e(node, depth, node->turn == RESULT_U2);
  if (pairs(e) || threes(e) || straights(e) || threeWithSingle(e) || threeWithPair(e) ||
      fourWithTwo(e) || fourWithTwoPairs(e) || pairRuns(e) || airplanes(e) ||
      airplanesWithTwoSingles(e) || airplanesWithThreeSingles(e) || airplanesWithPairs(e, 2) ||
      airplanesWithPairs(e, 3) || bombs(e) || rocket(e) || singles(e) ||
      (e.lastType() != TYPE_PASS && e.pass())) {
    return e.mover();
  }
  return e.other();
}

}  // namespace zelk
