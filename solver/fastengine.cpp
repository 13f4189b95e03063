#include "solver/fastengine.h"

#include <algorithm>
#include <bit>
#include <system_error>
#include <thread>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "solver/ticker.h"

namespace zelk {

using fast::Beat;
using fast::Hand;
using fast::Move;

namespace {

constexpr int64_t POLL_MASK = 1023;  // stop and progress tests every 1024 positions
constexpr std::size_t FORMS_LINES = std::size_t(1) << 15;  // a power of two
// A search uses the first lines only until it has searched this many
// positions: each line it touches first costs a page fault, and a small
// search, such as a published endgame's, would touch every page of the
// cache for a few hits more (13 against 12: 670 faults, about a
// millisecond, against 2 % more instructions).
constexpr std::size_t FORMS_FIRST_LINES = std::size_t(1) << 12;
constexpr int64_t FORMS_WIDEN_AT = int64_t(1) << 17;
constexpr int EST_SCALE = 4;

// The starting numbers below work on a flag a rank, one a nibble (at bit
// 4r for rank r), as the packed hand gives them: few instructions, and a
// multiplication counts them (at most fifteen, summed in the top nibble).
constexpr Hand FLAGS = 0x1111111111111111ULL;
constexpr Hand RUN_FLAGS = FLAGS & ((Hand(1) << (4 * plays::RANK_A + 4)) - 1);  // 3 to A
constexpr Hand BELOW_X_FLAGS = FLAGS & ((Hand(1) << (4 * fast::RANK_X)) - 1);
constexpr Hand JOKER_FLAGS = fast::unit(fast::RANK_X) | fast::unit(fast::RANK_Y);

inline int flagCount(Hand f) { return static_cast<int>((f * FLAGS) >> 60); }

// The ranks of the runs of `width` or more ranks of `f` from 3 to A, and
// how many runs they make.
template <int width>
inline Hand runsOf(Hand f, int& runs) {
  f &= RUN_FLAGS;
  Hand starts = f;
  for (int i = 1; i < width; ++i) starts &= f >> (4 * i);
  Hand cover = starts;
  for (int i = 1; i < width; ++i) cover |= starts << (4 * i);
  runs = flagCount(cover & ~(cover << 4));
  return cover;
}

// A hand's plays as the starting numbers count them: its ranks by how many
// cards each holds, less those that runs take (while plays of consecutive
// ranks are possible, a straight takes its lone cards and a run of pairs
// its pairs), and the number of plays the whole hand needs: a play a rank,
// a run, or a triple with a single or a pair, the rocket one, and a run of
// triples one.
struct Shape {
  Hand ones, twos, threes, fours;
  int triples, plays;
};

inline Shape shapeOf(Hand h, fast::Rules rules) {
  const Hand ge1 = (h | (h >> 1) | (h >> 2)) & FLAGS;
  const Hand ge2 = ((h >> 1) | (h >> 2)) & FLAGS;
  const Hand ge3 = ((h >> 2) | (h & (h >> 1))) & FLAGS;
  const Hand eq4 = (h >> 2) & FLAGS;
  Shape s{ge1 & ~ge2, ge2 & ~ge3, ge3 & ~eq4, eq4, 0, 0};
  int plays = 0;
  if ((rules & fast::R_WZ) && (s.ones & JOKER_FLAGS) == JOKER_FLAGS) {
    s.ones &= ~JOKER_FLAGS;
    plays = 1;
  }
  if (rules & fast::R_SEQUENCES) {
    int runs;
    if (rules & fast::R_SZ) {
      const Hand cover = runsOf<5>(ge1, runs);
      if (flagCount(cover & s.ones) > runs) {
        plays += runs;
        s.ones &= ~cover;
      }
    }
    if (rules & fast::R_F) {
      const Hand cover = runsOf<2>(s.threes, runs);
      plays -= flagCount(cover) - runs;
    }
    if (rules & fast::R_LD) {
      const Hand cover = runsOf<3>(ge2, runs);
      if (flagCount(cover & s.twos) > runs) {
        plays += runs;
        s.twos &= ~cover;
      }
    }
  }
  const int ranks = flagCount(s.ones | s.twos | s.threes | s.fours);
  s.triples = flagCount(s.threes);
  s.plays = plays + ranks - std::min(s.triples, ranks - s.triples);
  return s;
}

// The ranks of each kind a hand cannot answer, as leadsOut counts them:
// those at or above its highest of the kind, when it has no bomb.
struct Reach {
  Hand safe1, safe2, safe3, safe4;
};

inline Reach reachOf(Hand h, fast::Rules rules) {
  const Hand ge1 = (h | (h >> 1) | (h >> 2)) & FLAGS;
  const Hand ge2 = ((h >> 1) | (h >> 2)) & BELOW_X_FLAGS;
  const Hand ge3 = ((h >> 2) | (h & (h >> 1))) & BELOW_X_FLAGS;
  const Hand eq4 = (h >> 2) & BELOW_X_FLAGS;
  const bool rocket = (rules & fast::R_WZ) && (ge1 & JOKER_FLAGS) == JOKER_FLAGS;
  const bool bomb = rocket || ((rules & fast::R_ZD) && eq4);
  auto from = [](Hand held) -> Hand {
    return held ? ~((Hand(1) << (63 - std::countl_zero(held))) - 1) : ~Hand(0);
  };
  return Reach{bomb ? 0 : from(ge1), bomb ? 0 : from(ge2), bomb ? 0 : from(ge3),
               rocket ? 0 : from(eq4)};
}

// How far a hand is from going out against a hand of reach `r`: its plays,
// and three more for each of them the other hand can answer (a triple
// carrying an answerable single or pair takes it out of reach). A play
// that cannot be answered keeps the lead, so a hand's low lone cards, not
// its size, decide most endgames.
inline int distance(const Shape& s, const Reach& r) {
  const int lowOnes = flagCount(s.ones & ~r.safe1), lowTwos = flagCount(s.twos & ~r.safe2);
  const int answered = lowOnes + lowTwos + flagCount(s.threes & ~r.safe3) +
                       flagCount(s.fours & ~r.safe4) - std::min(s.triples, lowOnes + lowTwos);
  return s.plays + 3 * answered;
}

// Proof numbers to start from for a position no search has seen, from how
// much farther the mover is from going out than the other side (`d`): the
// side nearer to it, moving first, is the likelier winner. A side answering
// a play counts one nearer than its hand says, since it may also pass and
// keep its cards while the other side has spent one of its plays.
inline fast::ProofNumbers estimate(int d) {
  return fast::ProofNumbers{static_cast<uint32_t>(1 + EST_SCALE * std::max(0, d)),
                            static_cast<uint32_t>(1 + EST_SCALE * std::max(0, 2 - d))};
}

// The play to beat as the table keys it, with a mark for positions whose
// kinds of consecutive ranks are over (their hands are packed differently).
inline uint16_t tableBeat(Beat b, fast::Rules rules) {
  return static_cast<uint16_t>(fast::packBeat(b) | ((rules & fast::R_SEQUENCES) ? 0 : 1u << 13));
}

// Of two lone cards of free ranks (see fast::isWholeFreeRank) that leave
// the opponent the same play to beat, the higher is never better than the
// lower: the mover keeps the higher rank, which does in every later play
// what the lower one would, and the opponent has the same replies. Lone
// cards come lowest first, and so do the plays to beat they leave, so a
// card is left out where the latest one kept left the same play to beat.
// The same holds of pairs, threes and fours, but there it changed the
// search's path more than it saved.
struct AnsweredSingles {
  uint16_t latest = 0xFFFF;
  bool again(const Move& m, Beat next) {
    if (m.type != TYPE_G) return false;
    const uint16_t packed = fast::packBeat(next);
    if (packed == latest) return true;
    latest = packed;
    return false;
  }
};

// What the search notes on each play of a position it expands (Move::marks).
enum : uint16_t {
  UNANSWERED = 1,     // the opponent can only pass: the child is the mover's next lead
  SEQUENCES_END = 2,  // the kinds of consecutive ranks end with this play
  LEFT_OUT = 4,       // never better than a play kept (see fast::isWholeFreeRank), or
                      // leads to the position an earlier play leads to
};

// The rules after a play.
inline fast::Rules childRules(const Move& m, fast::Rules rules) {
  return (m.marks & SEQUENCES_END)
             ? static_cast<fast::Rules>((rules & ~fast::R_SEQUENCES) | fast::R_DOMINANCE)
             : rules;
}

// Among plays that look equally good, the one worked on first: a play the
// opponent cannot answer, then the one that sheds most cards.
inline int rank(const Move& m) { return (m.marks & UNANSWERED) * 64 + fast::cardCount(m.cards); }

// True when the mover, leading, wins by playing his ranks whole: each
// rank's cards as one play (the jokers together as the rocket), a triple
// carrying a single or a pair of another rank where that helps, and all
// of them but the last one plays the opponent cannot answer. He only
// passes, and the last play empties the hand.
// Set bits of a mask of ranks (fifteen at most), without a library call
// where the processor has no instruction for it.
inline int rankCount(uint32_t m) {
  m = m - ((m >> 1) & 0x5555);
  m = (m & 0x3333) + ((m >> 2) & 0x3333);
  return static_cast<int>((((m + (m >> 4)) & 0x0F0F) * 0x0101) >> 8 & 0x1F);
}

// `k` and `o`: the masks of `me` and of the opponent's hand.
bool leadsOut(Hand me, const fast::RankMasks& k, const fast::RankMasks& o, fast::Rules rules) {
  constexpr Hand LOW = 0x1111111111111111ULL;
  constexpr uint32_t BELOW_X = (1u << fast::RANK_X) - 1;
  constexpr uint32_t JOKERS = (1u << fast::RANK_X) | (1u << fast::RANK_Y);
  uint32_t ones = k.ge1 & ~k.ge2, twos = k.ge2 & ~k.ge3, threes = k.ge3 & ~k.eq4;
  const uint32_t fours = k.eq4;
  // Two of a joker or five of a rank (a second pack) make no such play.
  const Hand five = ((me >> 2) & (me | (me >> 1)) & LOW) | ((me >> 3) & LOW);
  if (five || (twos & JOKERS) || (twos && !(rules & fast::R_D)) ||
      (threes && !(rules & fast::R_3)) || (fours && !(rules & fast::R_ZD)))
    return false;
  if ((rules & fast::R_WZ) && (ones & JOKERS) == JOKERS)
    ones &= ~JOKERS;  // the rocket: one play, and nothing answers it
  // The ranks of a kind the opponent cannot answer: those at or above his
  // highest of that kind, when he has no bomb (and none at all against
  // his rocket).
  const bool oppRocket = (rules & fast::R_WZ) && (o.ge1 & JOKERS) == JOKERS;
  const bool oppBomb = oppRocket || ((rules & fast::R_ZD) && (o.eq4 & BELOW_X));
  auto from = [](uint32_t opp) -> uint32_t {  // the ranks at or above the highest of `opp`
    return opp ? ~((1u << (31 - std::countl_zero(opp))) - 1) : ~0u;
  };
  const uint32_t safe1 = oppBomb ? 0 : from(o.ge1);
  const uint32_t safe2 = oppBomb ? 0 : from(o.ge2 & BELOW_X);
  const uint32_t safe3 = oppBomb ? 0 : from(o.ge3 & BELOW_X);
  const uint32_t safe4 = oppRocket ? 0 : from(o.eq4 & BELOW_X);
  const int singles = rankCount(ones & ~safe1), pairs = rankCount(twos & ~safe2);
  const int answered = singles + pairs + rankCount(threes & ~safe3) + rankCount(fours & ~safe4);
  if (answered <= 1) return true;
  // Each unanswerable three takes along an answerable single or pair, as
  // far as the switches let it.
  const int carriers = rankCount(threes & safe3);
  const int carriable = ((rules & fast::R_31) ? singles : 0) + ((rules & fast::R_32) ? pairs : 0);
  return answered - std::min(carriers, carriable) <= 1;
}
inline bool leadsOut(Hand me, Hand opp, fast::Rules rules) {
  return leadsOut(me, fast::rankMasks(me), fast::rankMasks(opp), rules);
}

}  // namespace

FastEngine::FastEngine(std::size_t tableBytes)
    : ownTable_(std::make_unique<fast::FastTable>(tableBytes)),
      table_(*ownTable_),
      rules_(fast::currentRules()),
      // The search grows these as it goes deeper; most need no more.
      arena_(std::size_t(2) * fast::MAX_MOVES),
      kids_(arena_.size()),
      keys_(arena_.size()),
      nexts_(std::make_unique_for_overwrite<Next[]>(arena_.size())),
      forms_(static_cast<FormsLine*>(mapBlock(FORMS_LINES * sizeof(FormsLine), false))),
      formsMask_(FORMS_FIRST_LINES - 1) {
  if (!forms_) throw CMemoryException("FastEngine: no memory for the forms cache");
}

FastEngine::FastEngine(FastEngine& owner)
    : table_(owner.table_),
      rules_(owner.rules_),
      arena_(std::size_t(2) * fast::MAX_MOVES),
      kids_(arena_.size()),
      keys_(arena_.size()),
      nexts_(std::make_unique_for_overwrite<Next[]>(arena_.size())),
      forms_(static_cast<FormsLine*>(mapBlock(FORMS_LINES * sizeof(FormsLine), false))),
      formsMask_(FORMS_FIRST_LINES - 1),
      owner_(&owner) {
  progress_ = false;
  if (!forms_) throw CMemoryException("FastEngine: no memory for the forms cache");
}

FastEngine::~FastEngine() = default;

void FastEngine::Unmap::operator()(FormsLine* lines) const {
  unmapBlock(lines, FORMS_LINES * sizeof(FormsLine));
}

inline std::size_t FastEngine::formsLineOf(Hand hand, fast::Rules rules) const {
  const Hand mixed = hand ^ (Hand(rules) * 0xD6E8FEB86659FD93ULL);
  return ((mixed * 0x9E3779B97F4A7C15ULL) >> 40) & formsMask_;
}

inline void FastEngine::prefetchForms(Hand hand, fast::Rules rules) const {
  __builtin_prefetch(&forms_[formsLineOf(hand, rules)]);
}

const fast::WholeHand& FastEngine::formsOf(Hand hand, fast::Rules rules) {
  FormsLine& line = forms_[formsLineOf(hand, rules)];
  if (line.hand != hand || line.rules != rules || hand == 0) {
    line.hand = hand;
    line.rules = rules;
    line.forms = fast::wholeHandForms(hand, rules);
  }
  return line.forms;
}

void FastEngine::reset() {
  table_.clear();
  table_.setWide(false);
  searched_ = 0;
  helperSearched_ = 0;
}

int64_t FastEngine::countSoFar() const {
  int64_t n = searched_ + helperSearched_;
  if (finish_ && helper_) n += helper_->shownSearched_.load(std::memory_order_relaxed);
  return n;
}

void FastEngine::poll() {
  if (searched_ >= FORMS_WIDEN_AT) formsMask_ = FORMS_LINES - 1;
  if (stopRequested()) throw Stop{};
  if (searched_ >= aloneUntil_) throw OutOfBudget{};
  if (finish_ && finish_->load(std::memory_order_acquire)) throw Finished{};
  if (owner_) {
    shownSearched_.store(searched_, std::memory_order_relaxed);
    return;
  }
  if (watcher_) {
    watcher_();
    return;
  }
  if (!progress_) return;
  // The seconds of SecondTicker when it runs (the solving run resets them),
  // else the engine's own clock.
  const bool ticker = tickerRunning();
  const int32_t sec = ticker ? tickSeconds.load(std::memory_order_relaxed)
                             : static_cast<int32_t>((tickCount() - startMs_) / 1000);
  if (sec <= lastSecond_) return;
  const int64_t count = countSoFar();
  const int64_t speed = (count - lastCount_) / (sec - lastSecond_);
  ConsolePrint(0, u"sec %d  推演 %I64d  置换表 %I64d  speed %I64d/s \r\n", sec, count,
               table_.stored(), speed);
  lastSecond_ = sec;
  lastCount_ = count;
}

bool FastEngine::prepare(const char* u1, const char* u2, const char* lastPlay, int playType,
                         char turn, Hand& me, Hand& opp, Beat& beat, char& result) {
  if (stopRequested()) {
    result = RESULT_STOPPED;
    return false;
  }
  Hand h1 = 0, h2 = 0;
  if (!u1 || !u2 || !lastPlay || !fast::handFromCards(u1, h1) || !fast::handFromCards(u2, h2) ||
      !fast::beatFromPlay(lastPlay, playType, beat)) {
    LogPrint(u"FastEngine:异常..\r\n");
    result = RESULT_OPEN;
    return false;
  }
  if (h1 == 0) {
    result = RESULT_U1;
    return false;
  }
  if (h2 == 0) {
    result = RESULT_U2;
    return false;
  }
  if (turn != RESULT_U1 && turn != RESULT_U2) {
    LogPrint(u"FastEngine:异常..\r\n");
    result = RESULT_OPEN;
    return false;
  }
  me = turn == RESULT_U2 ? h2 : h1;
  opp = turn == RESULT_U2 ? h1 : h2;
  useRulesFor(h1, h2);
  startMs_ = tickCount();
  lastSecond_ = tickerRunning() ? tickSeconds.load(std::memory_order_relaxed) : 0;
  lastCount_ = positionsSearched();
  top_ = 0;
  return true;
}

void FastEngine::useRulesFor(Hand a, Hand b) { table_.readyFor(nextRules(), rules_, a, b); }

int FastEngine::wins(Hand me, Hand opp, Beat last) {
  if (stopRequested()) return -1;
  if (opp == 0) return 0;  // the opponent played out: the game is over
  if (me == 0) return 1;
  useRulesFor(me, opp);
  top_ = 0;
  try {
    return search(me, opp, last) ? 1 : 0;
  } catch (const Stop&) {
    top_ = 0;
    return -1;
  }
}

char FastEngine::solve(const char* u1, const char* u2, const char* lastPlay, int playType,
                       char turn) {
  Hand me, opp;
  Beat beat;
  char result;
  if (!prepare(u1, u2, lastPlay, playType, turn, me, opp, beat, result)) return result;
  try {
    return search(me, opp, beat) ? turn : (turn == RESULT_U1 ? RESULT_U2 : RESULT_U1);
  } catch (const Stop&) {
    top_ = 0;
    return RESULT_STOPPED;
  }
}

FastEngine::Answer FastEngine::bestMove(const char* u1, const char* u2, const char* lastPlay,
                                        int playType, char turn) {
  Answer answer;
  Hand me, opp;
  Beat beat;
  if (!prepare(u1, u2, lastPlay, playType, turn, me, opp, beat, answer.result)) return answer;
  const char other = turn == RESULT_U1 ? RESULT_U2 : RESULT_U1;
  try {
    // Decide the position first: a lost one needs no walk through its plays.
    if (!search(me, opp, beat)) {
      answer.result = other;
      return answer;
    }
    // The plays' positions go straight to the proof-number search: the
    // quick depth-first try has had its turn at the whole position, and
    // what the verdict's search left in the table settles many of them.
    std::vector<Move> moves(fast::MAX_MOVES);
    int count = fast::generateMoves(me, beat, rules_, moves.data());
    for (int i = 0; i < count; ++i) {
      const Move& m = moves[static_cast<std::size_t>(i)];
      bool wins;
      if (m.type == TYPE_PASS)
        wins = !search(opp, me, Beat{}, false);
      else
        wins = me == m.cards || !search(opp, me - m.cards, m.beat(), false);
      if (wins) {
        answer.result = turn;
        answer.cards = fast::moveCards(m);
        answer.type = m.type;
        answer.found = true;
        return answer;
      }
    }
    // Unreachable while the search is sound: the position was proven won.
    LogPrint(u"FastEngine:异常..\r\n");
    answer.result = other;
    return answer;
  } catch (const Stop&) {
    top_ = 0;
    answer.result = RESULT_STOPPED;
    return answer;
  }
}

// Two searches share the table. First a plain depth-first search in
// canonical order, cut off at the first win, on a small budget: many
// endgames fall to it at once, since the canonical order tries the low
// combinations first. When the budget runs out its proofs stay in the
// table and the proof-number search takes over, which does not get lost
// in long fights. It hands the small positions it meets (Tuning) back to
// the depth-first search, without a budget: a step of that costs half of
// one of its own (no estimates, no table line for every play, no returns
// and re-expansions), and few cards leave it little room to go astray.
// "Few" grows with the endgame: once the depth-first search looks up every
// play's position before searching any, handing it positions of up to
// half the cards (at most 16) took the 17- and 20-card endgames a third
// less time, while on endgames of about 25 cards more than 12 cost time.
bool FastEngine::search(Hand me, Hand opp, Beat last, bool quickTry) {
  last = fast::normalizeBeat(fast::rankMasks(me), last);
  fast::Rules rules = rules_ | fast::R_DOMINANCE;
  fast::canonicalize(me, opp, last, rules);
  const int cards = fast::cardCount(me) + fast::cardCount(opp);
  leafLimit_ = std::clamp(cards / 2 - 1, tuning_.leafCards,
                          std::max(tuning_.leafCards, tuning_.leafCardsMost));
  if (quickTry || cards <= leafLimit_) {
    const std::size_t top = top_;
    budgetEnd_ = searched_ + tuning_.quickBudget;
    try {
      return alphaBeta(me, opp, last, rules);
    } catch (const OutOfBudget&) {
      top_ = top;
    }
  }
  depth_ = 0;
  if (threads_ > 1 && tuning_.aloneBudget > 0) {
    // The helper only pays where the search is long: the thread's start,
    // the locks of a shared table and the work the two repeat cost more
    // than it brings on a search of some tens of thousands of positions.
    // (Since the table's filter answers most probes without a lock, it
    // pays from fewer positions than it did.)
    const std::size_t top = top_;
    aloneUntil_ = searched_ + tuning_.aloneBudget;
    struct Alone {  // however the search ends, the budget ends with it
      int64_t& until;
      ~Alone() { until = INT64_MAX; }
    } alone{aloneUntil_};
    try {
      return mid(me, opp, last, rules, fast::PN_INF, fast::PN_INF).pn == 0;
    } catch (const OutOfBudget&) {
      top_ = top;
      depth_ = 0;
    }
  }
  if (threads_ > 1) return searchTogether(me, opp, last, rules);
  return mid(me, opp, last, rules, fast::PN_INF, fast::PN_INF).pn == 0;
}

// The helper starts from the same position; its table is this engine's.
// Each proof either thread stores serves the other, and the helper, seeing
// where this thread is, works on the plays just behind it (see steer).
bool FastEngine::searchTogether(Hand me, Hand opp, Beat last, fast::Rules rules) {
  using fast::PN_INF;
  const std::size_t top = top_;
  if (!helper_) {
    try {
      helper_.reset(new FastEngine(*this));
    } catch (const std::exception&) {  // no memory for it: search alone
      return mid(me, opp, last, rules, PN_INF, PN_INF).pn == 0;
    }
  }
  FastEngine& h = *helper_;
  h.rules_ = rules_;
  h.tuning_ = tuning_;
  h.leafLimit_ = leafLimit_;
  h.top_ = 0;
  h.depth_ = 0;
  h.searched_ = 0;
  h.shownSearched_.store(0, std::memory_order_relaxed);
  h.finish_ = &finished_;
  finished_.store(false, std::memory_order_relaxed);
  helperWon_.store(-1, std::memory_order_relaxed);
  for (auto& at : path_) at.store(0, std::memory_order_relaxed);
  table_.beginShared();
  std::thread thread;
  try {
    thread = std::thread([&h, me, opp, last, rules] { h.help(me, opp, last, rules); });
  } catch (const std::system_error&) {  // no thread to spare: search alone
    table_.endShared();
    return mid(me, opp, last, rules, PN_INF, PN_INF).pn == 0;
  }
  finish_ = &finished_;
  publish_ = true;
  auto end = [&] {
    finished_.store(true, std::memory_order_release);
    thread.join();
    table_.endShared();
    finish_ = nullptr;
    publish_ = false;
    helperSearched_ += h.searched_;
    top_ = top;
    depth_ = 0;
  };
  int won = -1;
  try {
    won = mid(me, opp, last, rules, PN_INF, PN_INF).pn == 0 ? 1 : 0;
  } catch (const Finished&) {
  } catch (...) {
    end();
    throw;
  }
  end();
  if (won < 0) won = helperWon_.load(std::memory_order_acquire);
  return won == 1;
}

void FastEngine::help(Hand me, Hand opp, Beat last, fast::Rules rules) {
  try {
    const fast::ProofNumbers r = mid(me, opp, last, rules, fast::PN_INF, fast::PN_INF);
    if (r.pn == 0 || r.dn == 0) {
      owner_->helperWon_.store(r.pn == 0 ? 1 : 0, std::memory_order_relaxed);
      owner_->finished_.store(true, std::memory_order_release);
    }
  } catch (const Stop&) {
  } catch (const Finished&) {
  } catch (...) {
    // Out of memory, say: the engine's own thread goes on alone.
  }
  table_.helperDone();
}

bool FastEngine::steer(std::size_t base, int count, int depth, uint32_t pn, uint32_t thpn,
                       int& best, uint32_t& childThdn) {
  using fast::PN_INF;
  using fast::ProofNumbers;
  const uint64_t busy =
      owner_->path_[static_cast<std::size_t>(depth + 1)].load(std::memory_order_relaxed);
  const fast::FastTable::Key& key = keys_[base + static_cast<std::size_t>(best)];
  if (busy == 0 || key.hash != busy) return false;
  // The other thread may have moved its numbers on.
  ProofNumbers fresh;
  if (table_.probe(key, fresh)) {
    if (arena_[base + static_cast<std::size_t>(best)].marks & UNANSWERED)
      fresh = ProofNumbers{fresh.dn, fresh.pn};
    ProofNumbers& k = kids_[base + static_cast<std::size_t>(best)];
    if (fresh.pn != k.pn || fresh.dn != k.dn) {
      k = fresh;
      return true;
    }
  }
  // The play closest to a proof after it, and the next one's number.
  int alt = -1, altRank = -1;
  uint32_t altDn = PN_INF, third = PN_INF;
  for (int i = 0; i < count; ++i) {
    if (i == best) continue;
    const uint32_t d = kids_[base + static_cast<std::size_t>(i)].dn;
    const int r = rank(arena_[base + static_cast<std::size_t>(i)]);
    if (alt < 0 || d < altDn || (d == altDn && r > altRank)) {
      if (alt >= 0) third = std::min(third, altDn);
      alt = i;
      altDn = d;
      altRank = r;
    } else {
      third = std::min(third, d);
    }
  }
  // The busy play counts as twice as far from a proof as it is; another
  // play is worked on only while it is closer than that.
  const uint64_t busyDn = 2 * uint64_t(pn) + 1;
  if (alt < 0 || altDn >= busyDn || altDn >= thpn) return false;
  best = alt;
  const uint64_t bound = 2 * std::min<uint64_t>(busyDn, third) + 1;
  childThdn = static_cast<uint32_t>(std::min<uint64_t>({thpn, bound, PN_INF}));
  return false;
}

inline void FastEngine::reservePlays(std::size_t base) {
  if (base + fast::MAX_MOVES > arena_.size()) {
    arena_.resize(arena_.size() * 2);
    kids_.resize(arena_.size());
    keys_.resize(arena_.size());
    auto nexts = std::make_unique_for_overwrite<Next[]>(arena_.size());
    std::copy(nexts_.get(), nexts_.get() + base, nexts.get());
    nexts_ = std::move(nexts);
  }
}

bool FastEngine::alphaBeta(Hand me, Hand opp, Beat last, fast::Rules rules,
                           const fast::FastTable::Key* probed) {
  using fast::PN_INF;
  using fast::ProofNumbers;
  if ((++searched_ & POLL_MASK) == 0) poll();
  if (searched_ > budgetEnd_) throw OutOfBudget{};
  if (owner_) table_.pausePoint();
  const fast::FastTable::Key key = probed ? *probed : table_.key(me, opp, tableBeat(last, rules));
  ProofNumbers known;
  if (!probed && table_.probe(key, known) && (known.pn == 0 || known.dn == 0)) return known.pn == 0;
  if (formsOf(me, rules).beats(last)) return true;
  if (last.type == TYPE_PASS && leadsOut(me, opp, rules)) return true;
  table_.prefetchForStore(key);
  const std::size_t base = top_;
  reservePlays(base);
  const int count = fast::generateMoves(me, last, rules, &arena_[base]);
  top_ = base + static_cast<std::size_t>(count);
  const fast::WholeHand oppOut = formsOf(opp, rules);
  const fast::RankMasks oppMasks = fast::rankMasks(opp);
  int freeMe = -1;  // worked out when first needed
  unsigned wholeRankLeads = 0;
  AnsweredSingles answeredSingles;
  const int64_t before = searched_;
  bool win = false;
  // The position the latest play kept leads to: a play that leads to it
  // again is passed over, as in markPlays.
  struct Child {
    Hand mover = 0, other = 0;
    uint16_t beat = 0;
    bool lead = false;
    bool again(Hand a, Hand b, Beat last, fast::Rules r, bool mine) {
      const uint16_t packed = tableBeat(last, r);
      if (a == mover && b == other && packed == beat && mine == lead) return true;
      *this = Child{a, b, packed, mine};
      return false;
    }
  } latest;
  // Below the proof-number search, the positions the plays lead to are all
  // worked out before any is searched: one the table already holds as won,
  // wherever it comes in the order, settles the position without the
  // searches of the plays before it, and those it holds as lost are passed
  // over. The quick try, on its budget, searches each play as it comes:
  // there the first play mostly wins, and working out the others first
  // cost more than it saved.
  const bool ahead = budgetEnd_ == INT64_MAX;
  std::size_t kept = base;
  for (int i = 0; i < count && !win; ++i) {
    const Move m = arena_[base + static_cast<std::size_t>(i)];
    const Beat beat = m.type == TYPE_PASS ? Beat{} : fast::normalizeBeat(oppMasks, m.beat());
    if (oppOut.beats(beat)) continue;
    Hand rest = me - m.cards;
    const bool unanswered = m.type != TYPE_PASS && fast::cannotAnswer(oppMasks, beat, rules);
    // The free ranks only matter to whole-rank plays the opponent cannot
    // answer and to lone cards.
    if (freeMe < 0 && (unanswered || m.type == TYPE_G)) freeMe = fast::freeRanks(me, rules);
    if (!unanswered && m.type == TYPE_G &&
        fast::isWholeFreeRank(m, me, static_cast<uint16_t>(freeMe)) &&
        answeredSingles.again(m, beat))
      continue;
    Hand mover = opp, other = rest;
    Beat after = beat;
    fast::Rules r = rules;
    if (unanswered) {
      // The opponent can only pass: the mover leads again, as in mid, and
      // of two such whole-rank plays of one kind the higher is left out.
      if (fast::isWholeFreeRank(m, me, static_cast<uint16_t>(freeMe))) {
        const unsigned kind = fast::wholeRankKind(m.type);
        if (wholeRankLeads & kind) continue;
        wholeRankLeads |= kind;
      }
      mover = rest;
      other = opp;
      after = Beat{};
    }
    if (m.type != TYPE_PASS) fast::canonicalize(mover, other, after, r);
    if (latest.again(mover, other, after, r, unanswered)) continue;
    if (!ahead) {
      win = unanswered == alphaBeta(mover, other, after, r);
      continue;
    }
    Next& n = nexts_[kept++];
    n = Next{table_.key(mover, other, tableBeat(after, r)), after, r, unanswered, false};
    table_.prefetch(n.key);
  }
  const std::size_t end = kept;
  for (std::size_t j = base; j < end && !win; ++j) {
    Next& n = nexts_[j];
    ProofNumbers v;
    n.settled = table_.probe(n.key, v) && (v.pn == 0 || v.dn == 0);
    if (n.settled) win = (v.pn == 0) == n.lead;
  }
  for (std::size_t j = base; j < end && !win; ++j) {
    const Next n = nexts_[j];
    if (!n.settled) win = n.lead == alphaBeta(n.key.mover, n.key.opponent, n.beat, n.rules, &n.key);
  }
  top_ = base;
  table_.store(key, win ? ProofNumbers{0, PN_INF} : ProofNumbers{PN_INF, 0},
               static_cast<uint64_t>(searched_ - before), !owner_);
  return win;
}

// Depth-first proof-number search in negamax form: the mover wins when one
// play leads to a position the opponent loses, so the mover's proof number
// is the least disproof number of the positions after his plays, and his
// disproof number their proof numbers added up. The play worked on is the
// one closest to a proof; it keeps the focus while it stays the best.
fast::ProofNumbers FastEngine::mid(Hand me, Hand opp, Beat last, fast::Rules rules, uint32_t thpn,
                                   uint32_t thdn) {
  using fast::PN_INF;
  using fast::ProofNumbers;
  if ((++searched_ & POLL_MASK) == 0) poll();
  if (owner_) table_.pausePoint();
  const fast::FastTable::Key key = table_.key(me, opp, tableBeat(last, rules));
  prefetchForms(me, rules);
  prefetchForms(opp, rules);
  // Known well enough, played out at once, or small enough for the
  // depth-first search: no expansion.
  ProofNumbers known;
  if (table_.probe(key, known) && (known.pn >= thpn || known.dn >= thdn)) return known;
  if (formsOf(me, rules).beats(last) || (last.type == TYPE_PASS && leadsOut(me, opp, rules))) {
    ProofNumbers won{0, PN_INF};
    table_.store(key, won, 1, !owner_);
    return won;
  }
  if (fast::cardCount(me) + fast::cardCount(opp) <= leafLimit_) {
    const int64_t budget = budgetEnd_;
    budgetEnd_ = INT64_MAX;
    const bool won = alphaBeta(me, opp, last, rules);
    budgetEnd_ = budget;
    return won ? ProofNumbers{0, PN_INF} : ProofNumbers{PN_INF, 0};
  }
  table_.prefetchForStore(key);
  const int depth = depth_++;
  if (publish_ && depth < PATH_DEPTH)
    path_[static_cast<std::size_t>(depth)].store(key.hash, std::memory_order_relaxed);

  const std::size_t base = top_;
  const int count = expand(me, opp, last, rules, base);
  const int64_t before = searched_;
  const ProofNumbers result = workOnPlays(base, count, depth, rules, thpn, thdn);
  top_ = base;
  --depth_;
  if (publish_ && depth < PATH_DEPTH)
    path_[static_cast<std::size_t>(depth)].store(0, std::memory_order_relaxed);
  table_.store(key, result, static_cast<uint64_t>(searched_ - before), !owner_);
  return result;
}

// The plays of the position at arena_[base], each with its marks, the
// table key of the position it leads to and that position's numbers.
[[gnu::always_inline]] inline int FastEngine::expand(Hand me, Hand opp, Beat last,
                                                     fast::Rules rules, std::size_t base) {
  reservePlays(base);
  const int count = fast::generateMoves(me, last, rules, &arena_[base]);
  top_ = base + static_cast<std::size_t>(count);
  markPlays(me, opp, rules, base, count);
  // Every child's table line was asked for before the first one is read, so
  // the memory fetches overlap.
  startNumbers(opp, rules, base, count);
  return count;
}

// A play the opponent cannot answer leaves him only the pass, and the
// position after it is the mover's lead with what he has left: the child
// is taken as that lead, seen from the other side, so forced passes take
// neither a search step nor a table entry. The play's marks say so.
[[gnu::always_inline]] inline void FastEngine::markPlays(Hand me, Hand opp, fast::Rules rules,
                                                         std::size_t base, int count) {
  const fast::RankMasks oppMasks = fast::rankMasks(opp);
  const bool oppSequences = (rules & fast::R_SEQUENCES) && fast::sequencesPossible(opp, rules);
  unsigned wholeRankLeads = 0;  // kinds of which such a play was kept
  AnsweredSingles answeredSingles;
  const uint16_t freeMe = fast::freeRanks(me, rules);
  // The plays kept, by a few bits of their position's hash (+1; 0: none).
  uint16_t keptAt[64] = {};
  for (int i = 0; i < count; ++i) {
    Move& m = arena_[base + static_cast<std::size_t>(i)];
    fast::FastTable::Key& childKey = keys_[base + static_cast<std::size_t>(i)];
    const Hand rest = me - m.cards;
    if (m.type == TYPE_PASS) {
      m.marks = 0;
      childKey = table_.key(opp, rest, tableBeat(Beat{}, rules));  // same ranks: in form
    } else {
      Beat next = fast::normalizeBeat(oppMasks, m.beat());
      m.marks = fast::cannotAnswer(oppMasks, next, rules) ? UNANSWERED : 0;
      // Of two such plays of one kind that are a whole free rank, the
      // higher is left out (see fast::isWholeFreeRank), and of two answered
      // lone cards (see AnsweredSingles).
      if (fast::isWholeFreeRank(m, me, freeMe)) {
        const unsigned kind = fast::wholeRankKind(m.type);
        if (m.marks ? (wholeRankLeads & kind) != 0 : answeredSingles.again(m, next)) {
          m.marks = LEFT_OUT;
          continue;
        }
        if (m.marks) wholeRankLeads |= kind;
      }
      Hand mover = m.marks ? rest : opp, other = m.marks ? opp : rest;
      if (m.marks) next = Beat{};
      fast::Rules after = rules;
      if (!fast::formKept(me, rest, opp, rules, oppSequences))
        fast::canonicalize(mover, other, next, after);
      childKey = table_.key(mover, other, tableBeat(next, after));
      // Plays of one kind often lead to the same position once it is in
      // canonical form (two ranks nothing tells apart any more, a triple
      // carrying either of two such cards): a later one would only count
      // that position's numbers twice.
      uint16_t& slot = keptAt[(childKey.hash >> 20) & 63];
      if (slot) {
        const std::size_t j = base + slot - 1u;
        const fast::FastTable::Key& kept = keys_[j];
        if (kept.mover == childKey.mover && kept.opponent == childKey.opponent &&
            kept.beat == childKey.beat && ((arena_[j].marks ^ m.marks) & UNANSWERED) == 0) {
          m.marks = LEFT_OUT;
          continue;
        }
      }
      slot = static_cast<uint16_t>(i + 1);
      if (after != rules) m.marks |= SEQUENCES_END;
      m.len = next.len;  // the play as the opponent's position keys it
      m.rank = next.rank;
      // Its forms are read below unless it is in the table, and are not
      // the opponent's hand as it stands (looked up once for all).
      if (!(m.marks & UNANSWERED) && (mover != opp || (m.marks & SEQUENCES_END)))
        prefetchForms(mover, after);
    }
    table_.prefetch(childKey);
  }
}

// Each play's numbers: from the table, or estimated for a position no
// search has seen yet.
[[gnu::always_inline]] inline void FastEngine::startNumbers(Hand opp, fast::Rules rules,
                                                            std::size_t base, int count) {
  using fast::PN_INF;
  using fast::ProofNumbers;
  const fast::WholeHand oppForms = formsOf(opp, rules);
  // The opponent's hand is one of the two hands of most plays' positions:
  // sized once.
  const Shape oppShape = shapeOf(opp, rules);
  const Reach oppReach = reachOf(opp, rules);
  auto guess = [&](Hand mover, Hand other, fast::Rules after, int shift) {
    int d;
    if (after == rules && mover == opp)
      d = distance(oppShape, reachOf(other, after)) - distance(shapeOf(other, after), oppReach);
    else if (after == rules && other == opp)
      d = distance(shapeOf(mover, after), oppReach) - distance(oppShape, reachOf(mover, after));
    else
      d = distance(shapeOf(mover, after), reachOf(other, after)) -
          distance(shapeOf(other, after), reachOf(mover, after));
    return estimate(d - shift);
  };
  // In a table past the caches, the estimates come first and the table
  // after: the children's lines, asked for in markPlays, then have the
  // estimates' time to arrive (a child the table holds wastes its estimate,
  // which costs less than the wait). In a small one the table comes first.
  const bool late = table_.large();
  // A table entry is the child's own side: one after a play the opponent
  // cannot answer is the mover's next lead, its numbers the other way round.
  auto fromTable = [](const Move& m, ProofNumbers v) {
    return (m.marks & UNANSWERED) ? ProofNumbers{v.dn, v.pn} : v;
  };
  for (int i = 0; i < count; ++i) {
    const Move& m = arena_[base + static_cast<std::size_t>(i)];
    ProofNumbers& k = kids_[base + static_cast<std::size_t>(i)];
    const fast::FastTable::Key& childKey = keys_[base + static_cast<std::size_t>(i)];
    if (m.marks & LEFT_OUT) {  // as good as lost: it never decides the position
      k = ProofNumbers{0, PN_INF};
      continue;
    }
    if (!late && table_.probe(childKey, k)) {
      k = fromTable(m, k);
      continue;
    }
    const fast::Rules after = childRules(m, rules);
    if (m.marks & UNANSWERED) {
      const ProofNumbers mine = leadsOut(childKey.mover, childKey.opponent, rules)
                                    ? ProofNumbers{0, PN_INF}
                                    : guess(childKey.mover, childKey.opponent, after, 0);
      k = ProofNumbers{mine.dn, mine.pn};
      continue;
    }
    // Mostly the opponent's hand as it stands: its forms are looked up once.
    const bool asIs = childKey.mover == opp && !(m.marks & SEQUENCES_END);
    const fast::WholeHand& forms = asIs ? oppForms : formsOf(childKey.mover, after);
    if (forms.beats(m.type == TYPE_PASS ? Beat{} : m.beat()) ||
        (m.type == TYPE_PASS && leadsOut(childKey.mover, childKey.opponent, rules)))
      k = ProofNumbers{0, PN_INF};
    else
      k = guess(childKey.mover, childKey.opponent, after, m.type == TYPE_PASS ? 0 : 1);
  }
  if (!late) return;
  for (int i = 0; i < count; ++i) {
    const Move& m = arena_[base + static_cast<std::size_t>(i)];
    ProofNumbers found;
    if ((m.marks & LEFT_OUT) || !table_.probe(keys_[base + static_cast<std::size_t>(i)], found))
      continue;
    kids_[base + static_cast<std::size_t>(i)] = fromTable(m, found);
  }
}

// Works on the most promising play until the position's numbers reach a
// threshold or it is proven either way; returns the numbers.
[[gnu::always_inline]] inline fast::ProofNumbers FastEngine::workOnPlays(
    std::size_t base, int count, int depth, fast::Rules rules, uint32_t thpn, uint32_t thdn) {
  using fast::PN_INF;
  using fast::ProofNumbers;
  for (;;) {
    const ProofNumbers* kid = &kids_[base];  // again each time: the search below may move it
    // The least disproof number of the plays, the next least, and the sum
    // of their proof numbers. (A play with an infinite proof number has a
    // disproof number of 0: the pn rule below covers it.)
    uint32_t pn = PN_INF, second = PN_INF;
    uint64_t sum = 0;
    for (int i = 0; i < count; ++i) {
      const uint32_t d = kid[i].dn;
      second = std::min(second, std::max(pn, d));
      pn = std::min(pn, d);
      sum += kid[i].pn;
    }
    uint32_t dn = sum >= PN_INF - 1 ? PN_INF - 1 : static_cast<uint32_t>(sum);
    if (pn == 0) dn = PN_INF;
    if (dn == 0) pn = PN_INF;
    if (pn >= thpn || dn >= thdn || pn == 0 || dn == 0) return ProofNumbers{pn, dn};
    // The play worked on: of those closest to a proof, the first of the
    // best rank.
    int best = -1, bestRank = -1;
    for (int i = 0; i < count; ++i) {
      if (kid[i].dn != pn) continue;
      const int r = rank(arena_[base + static_cast<std::size_t>(i)]);
      if (r > bestRank) {
        best = i;
        bestRank = r;
      }
    }
    uint32_t childThdn = std::min<uint32_t>(thpn, second >= PN_INF ? PN_INF : 2 * second + 1);
    if (owner_ && depth + 1 < PATH_DEPTH && steer(base, count, depth, pn, thpn, best, childThdn))
      continue;
    const ProofNumbers& k = kids_[base + static_cast<std::size_t>(best)];
    const uint64_t childPn = uint64_t(thdn) - dn + k.pn;
    const uint32_t childThpn = childPn >= PN_INF ? PN_INF : static_cast<uint32_t>(childPn);
    const Move m = arena_[base + static_cast<std::size_t>(best)];
    const fast::FastTable::Key childKey = keys_[base + static_cast<std::size_t>(best)];
    ProofNumbers r;
    const fast::Rules after = childRules(m, rules);
    if (m.marks & UNANSWERED) {
      const ProofNumbers mine =
          mid(childKey.mover, childKey.opponent, Beat{}, after, childThdn, childThpn);
      r = ProofNumbers{mine.dn, mine.pn};
    } else {
      r = mid(childKey.mover, childKey.opponent, m.type == TYPE_PASS ? Beat{} : m.beat(), after,
              childThpn, childThdn);
    }
    kids_[base + static_cast<std::size_t>(best)] = r;
  }
}

}  // namespace zelk
