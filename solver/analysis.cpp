#include "solver/analysis.h"

#include <algorithm>
#include <bit>
#include <functional>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "solver/ticker.h"

namespace zelk {

using fast::Beat;
using fast::Hand;
using fast::Move;
using fast::Rules;

namespace {

// A win in k plays of the mover's own scores WIN - k, a loss in k plays of
// the opponent's k - WIN; no side ever needs WIN plays.
constexpr int WIN = 100;
// Scores sit in the table as proof and disproof numbers, lifted above 0.
constexpr uint32_t LIFT = 128;
constexpr int64_t POLL_MASK = 1023;
// Zero-window tests on the side guessed before the engine is asked who wins.
constexpr int PATIENCE = 2;
constexpr std::size_t HAND_LINES = std::size_t(1) << 16;  // a power of two

// The score of a card play from the score x of what follows it, seen from
// the same side: a win takes one play longer. And the other way, for a
// window: the least x that gives more than a.
inline int afterCardPlay(int x) { return x > 0 ? x - 1 : x; }
inline int beforeCardPlay(int a) { return a >= 0 ? a + 1 : a; }

// The play to beat as the table keys it, marking the positions whose kinds
// of consecutive ranks are over (their hands are packed differently).
inline uint16_t tableBeat(Beat b, Rules rules) {
  return static_cast<uint16_t>(fast::packBeat(b) | ((rules & fast::R_SEQUENCES) ? 0 : 1u << 13));
}

// Meanwhile the engine writes no progress line of its own: the analysis
// writes one for both.
class EngineWatch {
 public:
  EngineWatch(FastEngine& engine, std::function<void()> watcher) : engine_(engine) {
    engine.setWatcher(std::move(watcher));
  }
  ~EngineWatch() { engine_.setWatcher(nullptr); }
  EngineWatch(const EngineWatch&) = delete;
  EngineWatch& operator=(const EngineWatch&) = delete;

 private:
  FastEngine& engine_;
};

}  // namespace

Analysis::Analysis(FastEngine& engine, std::size_t tableBytes)
    : engine_(engine),
      table_(tableBytes),
      rules_(engine.nextRules()),
      hands_(static_cast<HandLine*>(mapBlock(HAND_LINES * sizeof(HandLine), false))),
      arena_(std::size_t(2) * fast::MAX_MOVES),
      kids_(arena_.size()) {
  if (!hands_) throw CMemoryException("Analysis: no memory for the hands");
}

Analysis::~Analysis() = default;

void Analysis::Unmap::operator()(HandLine* lines) const {
  unmapBlock(lines, HAND_LINES * sizeof(HandLine));
}

void Analysis::reset() {
  table_.clear();
  table_.setWide(false);
  searched_ = 0;
  engineSearched_ = 0;
}

void Analysis::poll() {
  if (stopRequested()) throw Stop{};
  progressLine();
}

void Analysis::progressLine() {
  if (!progress_) return;
  const bool ticker = tickerRunning();
  const int32_t sec = ticker ? tickSeconds.load(std::memory_order_relaxed)
                             : static_cast<int32_t>((tickCount() - startMs_) / 1000);
  if (sec <= lastSecond_) return;
  const int64_t count =
      positionsSearched() + (engineAt_ < 0 ? 0 : engine_.positionsSearched() - engineAt_);
  const int64_t speed = (count - lastCount_) / (sec - lastSecond_);
  // As the fast engine's line; while judging every play, how many are done.
  if (plays_ > 0)
    ConsolePrint(0, u"sec %d  推演 %I64d  置换表 %I64d  speed %I64d/s %d/%d \r\n", sec, count,
                 table_.stored(), speed, judged_, plays_);
  else
    ConsolePrint(0, u"sec %d  推演 %I64d  置换表 %I64d  speed %I64d/s \r\n", sec, count,
                 table_.stored(), speed);
  lastSecond_ = sec;
  lastCount_ = count;
}

void Analysis::reserve() {
  if (top_ + fast::MAX_MOVES <= arena_.size()) return;
  arena_.resize(arena_.size() * 2);
  kids_.resize(arena_.size());
}

Analysis::HandFacts Analysis::facts(Hand hand, Rules rules) {
  const Hand mixed = hand ^ (Hand(rules) * 0xD6E8FEB86659FD93ULL);
  HandLine& line = hands_[((mixed * 0x9E3779B97F4A7C15ULL) >> 40) & (HAND_LINES - 1)];
  if (line.hand == hand && line.rules == rules && hand != 0)
    return HandFacts{line.fewest, line.forms};
  HandFacts f;
  f.forms = fast::wholeHandForms(hand, rules);
  f.fewest = hand == 0 ? 0 : f.forms.count ? 1 : fewestPlays(hand, rules);
  // The search below may have used the line meanwhile: written only now.
  line.hand = hand;
  line.rules = rules;
  line.fewest = static_cast<uint8_t>(f.fewest);
  line.forms = f.forms;
  return f;
}

// The fewest legal plays the hand splits into, for a hand that is not one
// play. Some play takes the lowest card, so only those plays are tried.
int Analysis::fewestPlays(Hand hand, Rules rules) {
  reserve();
  const std::size_t base = top_;
  const int count = fast::generateMoves(hand, Beat{}, rules, &arena_[base]);
  top_ = base + static_cast<std::size_t>(count);
  const int lowest = std::countr_zero(hand) / 4;
  int best = fast::cardCount(hand);
  for (int i = 0; i < count && best > 2; ++i) {
    const Hand cards = arena_[base + static_cast<std::size_t>(i)].cards;
    if (fast::countOf(cards, lowest) == 0) continue;
    best = std::min(best, 1 + facts(hand - cards, rules).fewest);
  }
  top_ = base;
  return best;
}

bool Analysis::engineWins(Hand me, Hand opp, Beat last) {
  engineAt_ = engine_.positionsSearched();
  const int won = engine_.wins(me, opp, last);
  engineSearched_ += engine_.positionsSearched() - engineAt_;
  engineAt_ = -1;
  if (won < 0) throw Stop{};
  return won == 1;
}

int Analysis::search(Hand me, Hand opp, Beat last, Rules rules, int alpha, int beta) {
  if ((++searched_ & POLL_MASK) == 0) poll();
  const HandFacts mine = facts(me, rules);
  if (mine.forms.beats(last)) return WIN - 1;
  const HandFacts theirs = facts(opp, rules);
  // Each side needs at least its fewest plays.
  int lo = theirs.fewest - WIN, hi = WIN - mine.fewest;
  const fast::FastTable::Key key = table_.key(me, opp, tableBeat(last, rules));
  fast::ProofNumbers known;
  uint32_t hint = 0;  // which play decided here before: see fingerprint()
  if (table_.probe(key, known)) {
    lo = std::max(lo, static_cast<int>(known.pn & 0xFF) - static_cast<int>(LIFT));
    hi = std::min(hi, static_cast<int>(known.dn) - static_cast<int>(LIFT));
    hint = known.pn >> 8;
  }
  if (lo >= beta) return lo;
  if (hi <= alpha || lo == hi) return hi;

  reserve();
  const std::size_t base = top_;
  const int count = fast::generateMoves(me, last, rules, &arena_[base]);
  top_ = base + static_cast<std::size_t>(count);
  const int kept = children(me, opp, rules, theirs.forms, base, count);
  Child* kid = &kids_[base];
  // Likeliest to decide first: the play that decided here before; looking
  // for a win within a number of plays, those that keep to the fewest plays
  // of the hand; then a play the opponent cannot answer, then the one that
  // sheds most cards (orders are all different: see children()).
  for (int i = 0; i < kept; ++i) {
    Child& c = kid[i];
    if (hint && fingerprint(c) == hint) c.order |= 1u << 24;
    if (c.kind != Child::LEAD && c.kind != Child::REPLY) continue;
    int waste = 14;
    if (alpha >= 0)
      waste = facts(c.kind == Child::LEAD ? c.mover : c.other, c.rules).fewest + 1 - mine.fewest;
    c.order |= static_cast<uint32_t>(std::max(1, 15 - waste)) << 20;
  }
  std::sort(kid, kid + kept, [](const Child& a, const Child& b) { return a.order > b.order; });
  // A position after a play may be known well enough already to decide here.
  for (int i = 0; i < kept; ++i) {
    const Child& c = kid[i];
    if (c.kind == Child::WON || c.kind == Child::LOST) continue;
    fast::ProofNumbers k;
    if (!table_.probe(c.key, k)) continue;
    const int clo = static_cast<int>(k.pn & 0xFF) - static_cast<int>(LIFT);
    const int chi = static_cast<int>(k.dn) - static_cast<int>(LIFT);
    const int v = c.kind == Child::PASS   ? -chi
                  : c.kind == Child::LEAD ? afterCardPlay(clo)
                                          : afterCardPlay(-chi);
    if (v >= beta) {
      top_ = base;
      return v;
    }
  }

  const int64_t before = searched_;
  const int alpha0 = alpha;
  int best = -WIN;
  uint32_t bestPlay = 0;
  for (int i = 0; i < kept && best < beta; ++i) {
    const Child c = kids_[base + static_cast<std::size_t>(i)];  // the search below may move it
    int v;
    // A card play that keeps cards wins at best in one play more than the
    // fewest the rest splits into.
    if (alpha >= 0 && (c.kind == Child::LEAD || c.kind == Child::REPLY)) {
      const Hand rest = c.kind == Child::LEAD ? c.mover : c.other;
      const int bound = WIN - 1 - facts(rest, c.rules).fewest;
      v = bound <= alpha ? bound : score(c, alpha, beta);
    } else {
      v = score(c, alpha, beta);
    }
    if (v > best) {
      best = v;
      bestPlay = fingerprint(c);
    }
    alpha = std::max(alpha, best);
  }
  top_ = base;
  // Fail-soft: below the window an upper bound, above it a lower bound.
  if (best <= alpha0)
    hi = std::min(hi, best);
  else if (best >= beta)
    lo = std::max(lo, best);
  else
    lo = hi = best;
  table_.store(
      key,
      fast::ProofNumbers{static_cast<uint32_t>(lo + static_cast<int>(LIFT)) | bestPlay << 8,
                         static_cast<uint32_t>(hi + static_cast<int>(LIFT))},
      static_cast<uint64_t>(searched_ - before));
  return best;
}

int Analysis::children(Hand me, Hand opp, Rules rules, const fast::WholeHand& oppForms,
                       std::size_t base, int count) {
  const fast::RankMasks oppMasks = fast::rankMasks(opp);
  const bool oppSequences = (rules & fast::R_SEQUENCES) && fast::sequencesPossible(opp, rules);
  const uint16_t freeMe = fast::freeRanks(me, rules);
  unsigned wholeRankLeads = 0;  // kinds of which such a play was kept
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const Move& m = arena_[base + static_cast<std::size_t>(i)];
    Child& c = kids_[base + static_cast<std::size_t>(kept)];
    c.rules = rules;
    // Its kind and size above its place in canonical order (see search()).
    c.order = static_cast<uint32_t>(fast::cardCount(m.cards)) << 12 | (4095 - kept);
    if (m.type == TYPE_PASS) {
      c.kind = Child::PASS;
      c.mover = opp;
      c.other = me;
      c.beat = Beat{};
      // The same ranks, but a play to beat no longer splits the blocks.
      if (!(rules & fast::R_SEQUENCES)) fast::canonicalize(c.mover, c.other, c.beat, c.rules);
    } else {
      const Hand rest = me - m.cards;
      Beat next = fast::normalizeBeat(oppMasks, m.beat());
      if (rest == 0) {
        c.kind = Child::WON;
        c.order |= 255u << 12 | 15u << 20;
        ++kept;
        continue;
      }
      if (oppForms.beats(next)) {  // he plays out at once
        c.kind = Child::LOST;
        c.order &= 4095;
        ++kept;
        continue;
      }
      if (fast::cannotAnswer(oppMasks, next, rules)) {
        // He can only pass: the mover leads again. Of two such plays of a
        // whole free rank of one kind the higher is left out.
        if (fast::isWholeFreeRank(m, me, freeMe)) {
          const unsigned kind = fast::wholeRankKind(m.type);
          if (wholeRankLeads & kind) continue;
          wholeRankLeads |= kind;
        }
        c.kind = Child::LEAD;
        c.order += 64u << 12;
        c.mover = rest;
        c.other = opp;
        c.beat = Beat{};
      } else {
        c.kind = Child::REPLY;
        c.mover = opp;
        c.other = rest;
        c.beat = next;
      }
      if (!fast::formKept(me, rest, opp, rules, oppSequences))
        fast::canonicalize(c.mover, c.other, c.beat, c.rules);
    }
    c.key = table_.key(c.mover, c.other, tableBeat(c.beat, c.rules));
    table_.prefetch(c.key);
    ++kept;
  }
  return kept;
}

int Analysis::exact(Hand me, Hand opp, Beat last, Rules rules, bool wins,
                    const std::function<bool()>& ask, int enough) {
  // MTD(f): zero-window tests from the winner's fewest plays on, each
  // narrowing the bounds the table keeps. Scores are never 0.
  int lower = facts(opp, rules).fewest - WIN, upper = WIN - facts(me, rules).fewest;
  if (!ask) (wins ? lower : upper) = wins ? 1 : -1;
  int g = wins ? upper : lower;
  for (int tests = 0; lower < upper; ++tests) {
    if (enough > 0 && lower > 0) return lower;
    if (enough < 0 && upper < 0) return upper;
    // Tests that go on failing on the side guessed: ask who wins. Where
    // only the winner counts, after the one test that is cheap: at the
    // guessed winner's fewest plays.
    if (tests == (enough ? 1 : PATIENCE) && ask && lower < 0 && upper > 0) {
      // From the winner's fewest plays on, as when it is known.
      if (ask()) {
        lower = 1;
        g = upper;
      } else {
        upper = -1;
        g = lower;
      }
      continue;
    }
    const int beta = g == lower ? g + 1 : g;
    g = search(me, opp, last, rules, beta - 1, beta);
    if (g < beta)
      upper = g;
    else
      lower = g;
  }
  return lower;
}

uint32_t Analysis::fingerprint(const Child& c) {
  // 18 bits of the key's hash, never 0; the plays that end the game have
  // no key and need no hint: they come first anyway.
  return c.kind == Child::WON || c.kind == Child::LOST
             ? 0
             : static_cast<uint32_t>(c.key.hash >> 46) | 1;
}

Analysis::Child Analysis::rootChild(const Root& root, const Move& m) const {
  Child c;
  c.rules = rules_ | fast::R_DOMINANCE;
  if (m.type == TYPE_PASS) {
    c.kind = Child::PASS;
    c.mover = root.opp;
    c.other = root.me;
  } else {
    const Hand rest = root.me - m.cards;
    const fast::RankMasks oppMasks = fast::rankMasks(root.opp);
    const Beat next = fast::normalizeBeat(oppMasks, m.beat());
    if (rest == 0) {
      c.kind = Child::WON;
      return c;
    }
    if (fast::wholeHandForms(root.opp, rules_).beats(next)) {
      c.kind = Child::LOST;
      return c;
    }
    const bool lead = fast::cannotAnswer(oppMasks, next, rules_);
    c.kind = lead ? Child::LEAD : Child::REPLY;
    c.mover = lead ? rest : root.opp;
    c.other = lead ? root.opp : rest;
    c.beat = lead ? Beat{} : next;
  }
  fast::canonicalize(c.mover, c.other, c.beat, c.rules);
  return c;
}

int Analysis::score(const Child& c, int alpha, int beta) {
  switch (c.kind) {
    case Child::WON: return WIN - 1;
    case Child::LOST: return 1 - WIN;
    case Child::PASS: return -search(c.mover, c.other, c.beat, c.rules, -beta, -alpha);
    case Child::LEAD:
      return afterCardPlay(
          search(c.mover, c.other, c.beat, c.rules, beforeCardPlay(alpha), beforeCardPlay(beta)));
    default:
      return afterCardPlay(-search(c.mover, c.other, c.beat, c.rules, -beforeCardPlay(beta),
                                   -beforeCardPlay(alpha)));
  }
}

int Analysis::exactPlay(const Root& root, const Move& m, bool rootLost, bool winningOnly) {
  const Child c = rootChild(root, m);
  if (c.kind == Child::WON || c.kind == Child::LOST) return score(c, -WIN, WIN);
  // After every play of a lost position the opponent wins. In a won one
  // most plays lose too, and a short win of the opponent is found much
  // sooner than the engine proves that he wins at all: the search starts on
  // that side and asks the engine only when a few tests there fail.
  const bool lead = c.kind == Child::LEAD;  // the mover moves again
  auto ask = [&] {
    const bool theyWin = m.type == TYPE_PASS ? engineWins(root.opp, root.me, Beat{})
                                             : engineWins(root.opp, root.me - m.cards, m.beat());
    return theyWin != lead;
  };
  // Where only a win counts, a loss is known soon enough: once the
  // position after the play is known won by the opponent.
  const int x = exact(c.mover, c.other, c.beat, c.rules, !lead,
                      rootLost ? std::function<bool()>() : ask, winningOnly ? (lead ? -1 : 1) : 0);
  return c.kind == Child::PASS ? -x : afterCardPlay(lead ? x : -x);
}

int Analysis::exactRoot(const Root& root, bool wins) {
  Hand me = root.me, opp = root.opp;
  Beat last = fast::normalizeBeat(fast::rankMasks(me), root.last);
  Rules rules = rules_ | fast::R_DOMINANCE;
  fast::canonicalize(me, opp, last, rules);
  return exact(me, opp, last, rules, wins, nullptr);
}

Analysis::Outcome Analysis::outcomeOf(int score, char mover) const {
  const char other = mover == RESULT_U1 ? RESULT_U2 : RESULT_U1;
  return score > 0 ? Outcome{mover, WIN - score} : Outcome{other, score + WIN};
}

bool Analysis::begin(const Position& p, Root& root, Outcome& outcome) {
  Hand h1 = 0, h2 = 0;
  Beat beat;
  if (!fast::handFromCards(p.u1Cards, h1) || !fast::handFromCards(p.u2Cards, h2) || h1 == 0 ||
      h2 == 0 || (p.turn != RESULT_U1 && p.turn != RESULT_U2) ||
      !fast::beatFromPlay(p.lastPlay, p.playType, beat)) {
    LogPrint(u"Analysis:异常..\r\n");
    outcome = Outcome{RESULT_OPEN, 0};
    return false;
  }
  if (stopRequested()) {
    outcome = Outcome{RESULT_STOPPED, 0};
    return false;
  }
  root.me = p.turn == RESULT_U2 ? h2 : h1;
  root.opp = p.turn == RESULT_U2 ? h1 : h2;
  root.last = beat;
  root.mover = p.turn;
  table_.readyFor(engine_.nextRules(), rules_, h1, h2);
  top_ = 0;
  judged_ = plays_ = 0;
  startMs_ = tickCount();
  lastSecond_ = tickerRunning() ? tickSeconds.load(std::memory_order_relaxed) : 0;
  lastCount_ = positionsSearched();
  return true;
}

Analysis::Outcome Analysis::judge(const Position& p) {
  Root root;
  Outcome outcome;
  if (!begin(p, root, outcome)) return outcome;
  EngineWatch watch(engine_, [this] { progressLine(); });
  try {
    return outcomeOf(exactRoot(root, engineWins(root.me, root.opp, root.last)), root.mover);
  } catch (const Stop&) {
    return Outcome{RESULT_STOPPED, 0};
  }
}

Analysis::Outcome Analysis::analyse(const Position& p, std::vector<JudgedPlay>& plays,
                                    bool winningOnly) {
  plays.clear();
  Root root;
  Outcome outcome;
  if (!begin(p, root, outcome)) return outcome;
  EngineWatch watch(engine_, [this] { progressLine(); });
  std::vector<Move> moves(fast::MAX_MOVES);
  const int count = fast::generateMoves(root.me, root.last, rules_, moves.data());
  plays_ = count;
  int best = -WIN;
  try {
    const bool lost = !engineWins(root.me, root.opp, root.last);
    if (lost && winningOnly) return outcomeOf(exactRoot(root, false), root.mover);
    for (int i = 0; i < count; ++i) {
      const Move& m = moves[static_cast<std::size_t>(i)];
      const int score = exactPlay(root, m, lost, winningOnly);
      judged_ = i + 1;
      if (winningOnly && score < 0) continue;  // a bound only
      plays.push_back(JudgedPlay{fast::moveCards(m), m.type, outcomeOf(score, root.mover)});
      best = std::max(best, score);
    }
  } catch (const Stop&) {
    return Outcome{RESULT_STOPPED, 0};
  }
  return outcomeOf(best, root.mover);
}

Analysis::JudgedPlay Analysis::reply(const Position& p) {
  JudgedPlay chosen;
  Root root;
  if (!begin(p, root, chosen.after)) return chosen;
  EngineWatch watch(engine_, [this] { progressLine(); });
  std::vector<Move> moves(fast::MAX_MOVES);
  const int count = fast::generateMoves(root.me, root.last, rules_, moves.data());
  plays_ = count;
  try {
    const int best = exactRoot(root, engineWins(root.me, root.opp, root.last));
    // The first play in canonical order that reaches the position's score.
    for (int i = 0; i < count; ++i) {
      const Move& m = moves[static_cast<std::size_t>(i)];
      judged_ = i;
      if (score(rootChild(root, m), best - 1, best) >= best) {
        chosen.cards = fast::moveCards(m);
        chosen.type = m.type;
        chosen.after = outcomeOf(best, root.mover);
        return chosen;
      }
    }
    LogPrint(u"Analysis:异常..\r\n");  // unreachable while the search is sound
    chosen.after = Outcome{RESULT_OPEN, 0};
  } catch (const Stop&) {
    chosen.after = Outcome{RESULT_STOPPED, 0};
  }
  return chosen;
}

}  // namespace zelk
