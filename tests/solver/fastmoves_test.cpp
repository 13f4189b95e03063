// The packed move generator against the literal enumeration and the
// reference play-tree counts.
#include "solver/fastmoves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fastref.h"
#include "rules/cards.h"
#include "solver/movegen_testutil.h"

namespace zelk::fast {
namespace {

std::string sortedAsc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return rankOf(a) < rankOf(b); });
  return s;
}

Hand hand(const std::string& cards) {
  Hand h = 0;
  EXPECT_TRUE(handFromCards(cards, h)) << cards;
  return h;
}

// "cards/type" for every play, in order.
std::vector<std::string> listFast(const std::string& H, const std::string& L, int T, Rules rules) {
  Beat b;
  EXPECT_TRUE(beatFromPlay(L, T, b));
  std::vector<Move> moves(MAX_MOVES);
  int n = generateMoves(hand(H), b, rules, moves.data());
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) {
    const Move& m = moves[static_cast<std::size_t>(i)];
    std::string s = moveCards(m);
    EXPECT_EQ(hand(s), m.cards) << s;
    out.push_back(s + "/" + std::to_string(m.type));
  }
  return out;
}

std::vector<std::string> listRef(const std::string& H, const std::string& L, int T, Rules rules) {
  std::vector<std::string> out;
  for (const ref::Play& p : ref::generate(sortedAsc(H), L, T, rules))
    out.push_back(p.cards + "/" + std::to_string(p.type));
  return out;
}

struct GenCase {
  const char* name;
  const char* hand;
  const char* last;
  int type;
  Rules rules;
  std::vector<std::string> plays;  // in order of generation
};

class GenerationTable : public ::testing::TestWithParam<GenCase> {};

TEST_P(GenerationTable, PlaysInCanonicalOrder) {
  const GenCase& c = GetParam();
  EXPECT_EQ(listFast(sortedAsc(c.hand), c.last, c.type, c.rules), c.plays);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GenerationTable,
    ::testing::Values(
        GenCase{"StraightAndSingles",
                "34567",
                "",
                0,
                R_ALL,
                {"34567/61", "3/1", "4/1", "5/1", "6/1", "7/1"}},
        GenCase{"SingleReplyOnceAndPass", "3455", "4", TYPE_G, R_ALL, {"5/1", "/0"}},
        GenCase{"BombOverLowerBomb", "44446", "3333", TYPE_ZD, R_ALL, {"4444/81", "/0"}},
        GenCase{"NoBombOverHigherBomb", "44446", "5555", TYPE_ZD, R_ALL, {"/0"}},
        GenCase{"NoBombOverRocket", "44446XY", "XY", TYPE_WZ, R_ALL, {"XY/91", "/0"}},
        GenCase{"FourWithTwoSkipsSecondPick",
                "3333556",
                "",
                0,
                R_411 | R_ZD,
                {"333355/41", "333356/41", "3333/81", "3/1", "5/1", "6/1"}},
        GenCase{"SingleWingsOnceEach",
                "33344455XY",
                "",
                0,
                R_F11,
                {"33344455/52", "3334445X/52", "3334445Y/52", "333444XY/52", "3/1", "4/1", "5/1",
                 "X/1", "Y/1"}},
        GenCase{"FourTriplesHideThreeTripleWings",
                "333444555666",
                "",
                0,
                R_F | R_F11,
                {"333444/51", "444555/51", "555666/51", "333444555/51", "444555666/51",
                 "333444555666/51", "33344455/52", "33344456/52", "33344466/52", "44455533/52",
                 "44455536/52", "44455566/52", "55566633/52", "55566634/52", "55566644/52", "3/1",
                 "4/1", "5/1", "6/1"}},
        GenCase{"WithoutAirplanesThreeTripleWingsSurviveOnce",
                "333444555666",
                "",
                0,
                R_F11,
                {"33344455/52", "33344456/52", "33344466/52", "44455533/52", "44455536/52",
                 "44455566/52", "55566633/52", "55566634/52", "55566644/52", "333444555666/52",
                 "3/1", "4/1", "5/1", "6/1"}},
        GenCase{"ReplyKeepsHigherDecomposition",
                "333444555666",
                "333444555777",
                TYPE_F11,
                R_ALL,
                {"444555666333/52", "/0"}},
        GenCase{
            "AllSwitchesOffSinglesOnly", "33445XY", "", 0, 0, {"3/1", "4/1", "5/1", "X/1", "Y/1"}},
        GenCase{"RocketOnAnything", "XY", "2222", TYPE_ZD, R_ALL, {"XY/91", "/0"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every hand the tests deal: drawn from one pack, sometimes from two (two
// hands may then hold more than four of a rank between them, or two rockets).
std::string deal(std::mt19937& rng, int n) {
  static const std::string pack = [] {
    std::string p;
    for (int r = 0; r < 13; ++r) p.append(4, RANK_ORDER[r]);
    return p + "XY";
  }();
  std::string deck = pack;
  std::shuffle(deck.begin(), deck.end(), rng);
  return sortedAsc(deck.substr(0, static_cast<std::size_t>(n)));
}

// Hands rich in combinations, so that every kind meets its edge cases.
std::string dealRich(std::mt19937& rng, int n) {
  std::string deck;
  int first = static_cast<int>(rng() % 8);
  for (int r = first; r < first + 5; ++r) deck.append(4, RANK_ORDER[r]);
  deck += "22XY";
  std::shuffle(deck.begin(), deck.end(), rng);
  return sortedAsc(deck.substr(0, static_cast<std::size_t>(n)));
}

// A random position for round `round`: the mover's hand, and a lead or a
// play the other hand could make.
struct RandomPosition {
  Rules rules;
  std::string H, L;
  int T = 0;
};
RandomPosition randomPosition(std::mt19937& rng, int round) {
  RandomPosition p;
  p.rules = (round % 3 == 0) ? static_cast<Rules>(R_ALL) : static_cast<Rules>(rng() & R_ALL);
  int n = 1 + static_cast<int>(rng() % 20);
  p.H = round % 2 ? deal(rng, n) : dealRich(rng, n);
  if (round % 4 != 0) {
    std::string other = round % 2 ? deal(rng, 20) : dealRich(rng, 20);
    auto plays = ref::generate(other, "", 0, p.rules | R_ALL);
    const ref::Play& play = plays[rng() % plays.size()];
    p.L = play.cards;
    p.T = play.type;
  }
  return p;
}

TEST(FastMoves, MatchesTheLiteralEnumeration) {
  std::mt19937 rng(20240611);
  int compared = 0;
  for (int round = 0; round < 1500; ++round) {
    const RandomPosition p = randomPosition(rng, round);
    ASSERT_EQ(listFast(p.H, p.L, p.T, p.rules), listRef(p.H, p.L, p.T, p.rules))
        << "hand " << p.H << " last " << p.L << "/" << p.T << " rules " << p.rules;
    ++compared;
  }
  EXPECT_EQ(compared, 1500);
}

// The table of first plays (ZelkCN, player2's plays as nodes) lists the
// same plays in the same order with the same strings.
TEST(FastMoves, SameListAsTheTableOfFirstPlays) {
  std::mt19937 rng(15);
  testutil::ConsoleCapture console;
  for (int round = 0; round < 1500; ++round) {
    const RandomPosition p = randomPosition(rng, round);
    testutil::SwitchGuard guard(p.rules);
    std::vector<std::string> table;
    for (const testutil::Child& c : testutil::generate("3", p.H, p.L, p.T))
      table.insert(table.begin(), c.play + "/" + std::to_string(c.type));
    ASSERT_EQ(listFast(p.H, p.L, p.T, p.rules), table)
        << "hand " << p.H << " last " << p.L << "/" << p.T << " rules " << p.rules;
  }
  EXPECT_EQ(console.text(), u"");
}

// Positions at each depth below the start, every play and pass followed.
void perft(Hand me, Hand opp, Beat last, Rules rules, int depth, int maxDepth,
           std::vector<int64_t>& counts, std::vector<Move>& arena, std::size_t base) {
  if (me == 0 || opp == 0 || depth == maxDepth) return;
  Move* moves = &arena[base];
  int n = generateMoves(me, last, rules, moves);
  counts[static_cast<std::size_t>(depth)] += n;
  for (int i = 0; i < n; ++i) {
    Move m = arena[base + static_cast<std::size_t>(i)];
    if (m.type == TYPE_PASS)
      perft(opp, me, Beat{}, rules, depth + 1, maxDepth, counts, arena,
            base + static_cast<std::size_t>(n));
    else
      perft(opp, me - m.cards, m.beat(), rules, depth + 1, maxDepth, counts, arena,
            base + static_cast<std::size_t>(n));
  }
}

struct PerftCase {
  const char* name;
  const char* player1;
  const char* player2;
  Rules off;
  std::vector<int64_t> counts;
};

class PerftTable : public ::testing::TestWithParam<PerftCase> {};

TEST_P(PerftTable, CountsPerDepth) {
  const PerftCase& c = GetParam();
  std::vector<int64_t> counts(c.counts.size(), 0);
  std::vector<Move> arena(static_cast<std::size_t>(MAX_MOVES) * (c.counts.size() + 1));
  perft(hand(c.player2), hand(c.player1), Beat{}, static_cast<Rules>(R_ALL & ~c.off), 0,
        static_cast<int>(c.counts.size()), counts, arena, 0);
  EXPECT_EQ(counts, c.counts);
}

INSTANTIATE_TEST_SUITE_P(
    Reference, PerftTable,
    ::testing::Values(
        PerftCase{"Small", "AA9", "2QQJJ77553", 0, {10, 22, 112, 230, 1000}},
        PerftCase{"Jokers", "99990JJQQKKAA22", "3334445556667788XY", 0, {207, 779, 8224, 50309}},
        PerftCase{"RunOfPairs", "KKKKAAA22XY", "3344556677889900JJQQ", 0, {77, 308, 2475, 15492}},
        PerftCase{"Quads", "3333444456", "555666777889900JJ", 0, {147, 442, 4211, 14471}},
        PerftCase{"QuadsNoPlanesNoBombs",
                  "3333444456",
                  "555666777889900JJ",
                  R_F | R_F22 | R_ZD | R_WZ,
                  {120, 121, 3397, 3489}},
        PerftCase{"JokersNoWingsNo411NoStraights",
                  "99990JJQQKKAA22",
                  "3334445556667788XY",
                  R_F11 | R_411 | R_SZ,
                  {103, 566, 4896, 32773}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FastMoves, PlaysOutAtOnce) {
  struct Row {
    const char* hand;
    const char* last;
    int type;
    bool expected;
  } rows[] = {
      {"KK", "", 0, true},           {"KK", "QQ", TYPE_D, true}, {"KK", "AA", TYPE_D, false},
      {"XY", "2222", TYPE_ZD, true}, {"34567", "", 0, true},     {"34567", "45678", TYPE_SZ, false},
      {"KKKK56", "", 0, true},       {"3334", "", 0, true},      {"33344", "", 0, true},
      {"3335", "", 0, true},         {"33345", "", 0, false},    {"5", "4", TYPE_G, true},
  };
  for (const Row& r : rows) {
    Beat b;
    ASSERT_TRUE(beatFromPlay(r.last, r.type, b));
    EXPECT_EQ(playsOutAtOnce(hand(r.hand), b, R_ALL), r.expected) << r.hand << " on " << r.last;
  }
  Beat lead;
  EXPECT_FALSE(playsOutAtOnce(hand("3334"), lead, R_ALL & ~R_31));
}

// A play raised by normalizeBeat must leave the replies exactly as they were
// (same plays, same order), and cannotAnswer must never hide a reply.
TEST(FastMoves, NormalizedPlaysAllowTheSameReplies) {
  std::mt19937 rng(7031);
  std::vector<Move> before(MAX_MOVES), after(MAX_MOVES);
  int raised = 0, unanswerable = 0;
  for (int round = 0; round < 4000; ++round) {
    Rules rules = (round % 3 == 0) ? static_cast<Rules>(R_ALL) : static_cast<Rules>(rng() & R_ALL);
    int n = 1 + static_cast<int>(rng() % 20);
    Hand h = hand(round % 2 ? deal(rng, n) : dealRich(rng, n));
    std::string other = round % 2 ? deal(rng, 20) : dealRich(rng, 20);
    auto plays = ref::generate(other, "", 0, rules | R_ALL);
    const ref::Play& p = plays[rng() % plays.size()];
    Beat b;
    ASSERT_TRUE(beatFromPlay(p.cards, p.type, b));
    const RankMasks masks = rankMasks(h);
    const Beat nb = normalizeBeat(masks, b);
    ASSERT_EQ(nb.type, b.type);
    ASSERT_EQ(nb.len, b.len);
    ASSERT_GE(nb.rank, b.rank);
    raised += nb.rank != b.rank;
    const int cb = generateMoves(h, b, rules, before.data());
    const int ca = generateMoves(h, nb, rules, after.data());
    ASSERT_EQ(ca, cb) << handToCards(h) << " on " << p.cards;
    for (int i = 0; i < cb; ++i)
      ASSERT_EQ(after[static_cast<std::size_t>(i)].cards, before[static_cast<std::size_t>(i)].cards)
          << handToCards(h) << " on " << p.cards;
    if (cannotAnswer(masks, nb, rules)) {
      ++unanswerable;
      EXPECT_EQ(cb, 1) << handToCards(h) << " on " << p.cards;  // the pass alone
    }
    EXPECT_EQ(normalizeBeat(masks, nb), nb);
  }
  EXPECT_GT(raised, 1000);
  EXPECT_GT(unanswerable, 300);
}

TEST(FastMoves, NormalizingMergesPlaysWithNoReplyBetween) {
  Beat three, four, five;
  ASSERT_TRUE(beatFromPlay("3", TYPE_G, three));
  ASSERT_TRUE(beatFromPlay("4", TYPE_G, four));
  ASSERT_TRUE(beatFromPlay("5", TYPE_G, five));
  const RankMasks m = rankMasks(hand("59"));
  EXPECT_EQ(normalizeBeat(m, three), normalizeBeat(m, four));
  EXPECT_NE(normalizeBeat(m, four), normalizeBeat(m, five));
  EXPECT_FALSE(cannotAnswer(m, normalizeBeat(m, five), R_ALL));
  Beat nine;
  ASSERT_TRUE(beatFromPlay("9", TYPE_G, nine));
  EXPECT_TRUE(cannotAnswer(m, normalizeBeat(m, nine), R_ALL));
  // A bomb answers anything but the rocket, so the hand can still reply.
  const RankMasks bomb = rankMasks(hand("55559"));
  EXPECT_FALSE(cannotAnswer(bomb, normalizeBeat(bomb, nine), R_ALL));
  EXPECT_TRUE(cannotAnswer(bomb, normalizeBeat(bomb, nine), R_ALL & ~R_ZD));
}

// The canonical form of a position offers both sides the same plays (kind,
// size, order) as the position itself, and is its own canonical form.
TEST(FastMoves, CanonicalFormKeepsEveryPlay) {
  std::mt19937 rng(5119);
  std::vector<Move> x(MAX_MOVES), y(MAX_MOVES);
  auto samePlays = [&](Hand h, Beat b, Rules r, Hand h2, Beat b2, Rules r2) {
    const int n = generateMoves(h, b, r, x.data());
    const int n2 = generateMoves(h2, b2, r2, y.data());
    if (n != n2) return false;
    for (int i = 0; i < n; ++i) {
      const Move& p = x[static_cast<std::size_t>(i)];
      const Move& q = y[static_cast<std::size_t>(i)];
      if (p.type != q.type || p.len != q.len || cardCount(p.cards) != cardCount(q.cards))
        return false;
    }
    return true;
  };
  int moved = 0, packed = 0;
  for (int round = 0; round < 4000; ++round) {
    Rules rules = (round % 3 == 0) ? static_cast<Rules>(R_ALL) : static_cast<Rules>(rng() & R_ALL);
    std::string pack = deal(rng, 27);
    int n1 = 1 + static_cast<int>(rng() % 13), n2 = 1 + static_cast<int>(rng() % 13);
    Hand me = hand(pack.substr(0, static_cast<std::size_t>(n1)));
    Hand opp = hand(pack.substr(static_cast<std::size_t>(n1), static_cast<std::size_t>(n2)));
    Beat b;
    if (round % 3 != 0) {  // something the other side could have played
      std::vector<Move> plays(MAX_MOVES);
      int count = generateMoves(opp, Beat{}, rules, plays.data());
      if (count > 0) b = plays[rng() % static_cast<unsigned>(count)].beat();
    }
    b = normalizeBeat(rankMasks(me), b);
    Hand cm = me, co = opp;
    Beat cb = b;
    Rules cr = rules;
    canonicalize(cm, co, cb, cr);
    moved += cm != me || co != opp;
    packed += cr != rules;
    ASSERT_EQ(cardCount(cm), cardCount(me));
    ASSERT_EQ(cardCount(co), cardCount(opp));
    // The canonical form keeps every play; leaving out dominated ones is a
    // separate matter.
    const Rules all = static_cast<Rules>(cr & ~R_DOMINANCE);
    ASSERT_TRUE(samePlays(me, b, rules, cm, cb, all))
        << handToCards(me) << " vs " << handToCards(opp) << " rules " << rules;
    ASSERT_TRUE(samePlays(opp, Beat{}, rules, co, Beat{}, all))
        << handToCards(opp) << " vs " << handToCards(me) << " rules " << rules;
    Hand am = cm, ao = co;
    Beat ab = cb;
    Rules ar = cr;
    canonicalize(am, ao, ab, ar);
    EXPECT_TRUE(am == cm && ao == co && ab == cb && ar == cr) << handToCards(me);
  }
  EXPECT_GT(moved, 300);
  EXPECT_GT(packed, 500);
}

// Without kinds of consecutive ranks, attached lone cards and pairs are the
// lowest ones; everything else stays, in order.
TEST(FastMoves, DominanceLeavesOutHigherAttachedCards) {
  auto plays = [](const std::string& h, Rules rules) {
    std::vector<Move> moves(MAX_MOVES);
    int n = generateMoves(hand(h), Beat{}, rules, moves.data());
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(moveCards(moves[static_cast<std::size_t>(i)]));
    return out;
  };
  const Rules base = static_cast<Rules>(R_ALL & ~R_SEQUENCES);
  const Rules pruned = static_cast<Rules>(base | R_DOMINANCE);
  EXPECT_EQ(plays("3336", pruned), plays("3336", base));  // one choice: nothing to leave out
  std::vector<std::string> all = plays("333569Y", base), kept = plays("333569Y", pruned);
  EXPECT_EQ(kept, (std::vector<std::string>{"33", "333", "3335", "333Y", "3", "5", "6", "9", "Y"}));
  for (const std::string& p : kept) EXPECT_NE(std::find(all.begin(), all.end(), p), all.end()) << p;
  // Pairs held exactly twice: the lowest two ride along with a four; the
  // cards of a pair may still go as two single wings.
  auto count = [](const std::vector<std::string>& list, std::size_t size) {
    return std::count_if(list.begin(), list.end(),
                         [&](const std::string& p) { return p.size() == size; });
  };
  std::vector<std::string> quadsAll = plays("3333557799JJ", base),
                           quads = plays("3333557799JJ", pruned);
  EXPECT_EQ(count(quadsAll, 8), 6);  // four with two pairs: any two of 55 77 99 JJ
  EXPECT_EQ(count(quads, 8), 1);
  EXPECT_NE(std::find(quads.begin(), quads.end(), "33335577"), quads.end());
  EXPECT_EQ(count(quads, 6), count(quadsAll, 6));  // four with two cards: no lone card to leave out
}

// Without plays of consecutive ranks, one side's neighbouring ranks trade
// counts: the positions meet in one form. The other side's cards between
// them, or a play to beat the mover must top, keep them apart.
TEST(FastMoves, OneSidedRanksShareACanonicalForm) {
  auto form = [](const std::string& me, const std::string& opp, Beat b) {
    Hand m = hand(me), o = hand(opp);
    Rules r = R_ALL;
    canonicalize(m, o, b, r);
    return handToCards(m) + "/" + handToCards(o) + "/" + std::to_string(b.rank);
  };
  EXPECT_EQ(form("5669", "8K", Beat{}), form("5569", "8K", Beat{}));
  EXPECT_EQ(form("5K", "779", Beat{}), form("5K", "799", Beat{}));    // the other side's too
  EXPECT_NE(form("5669", "8K", Beat{}), form("5599", "8K", Beat{}));  // 8 lies between 6 and 9
  EXPECT_NE(form("56", "8K", Beat{}), form("55", "8K", Beat{}));      // counts differ as a whole
  // A single to beat between the mover's 5 and 66: only the 6s may reply.
  Beat five;
  ASSERT_TRUE(beatFromPlay("5", TYPE_G, five));
  EXPECT_NE(form("5669", "8K", normalizeBeat(rankMasks(hand("5669")), five)),
            form("5569", "8K", normalizeBeat(rankMasks(hand("5569")), five)));
}

// Ranks a play of consecutive ranks may still use are not free to trade.
TEST(FastMoves, FreeRanksAreOutsideEveryPossibleRun) {
  auto bits = [](std::initializer_list<int> ranks) {
    uint16_t m = 0;
    for (int r : ranks) m = static_cast<uint16_t>(m | (1u << r));
    return m;
  };
  const uint16_t all = static_cast<uint16_t>((1u << RANK_X) - 1);
  EXPECT_EQ(freeRanks(hand("345679"), R_ALL), all & ~bits({0, 1, 2, 3, 4}));  // 3 to 7
  EXPECT_EQ(freeRanks(hand("345679"), R_ALL & ~R_SZ), all);
  EXPECT_EQ(freeRanks(hand("3344559"), R_ALL & ~R_SZ), all & ~bits({0, 1, 2}));  // 33 44 55
  EXPECT_EQ(freeRanks(hand("333444"), R_ALL & ~R_SZ & ~R_LD), all & ~bits({0, 1}));
  EXPECT_EQ(freeRanks(hand("333444"), R_ALL & ~R_SEQUENCES), all);
  EXPECT_EQ(freeRanks(hand("0JQKA2"), R_ALL), all & ~bits({7, 8, 9, 10, 11}));  // the 2 stays free
}

TEST(FastMoves, RefusesWhatIsNoHand) {
  Hand h;
  EXPECT_FALSE(handFromCards("33333", h));
  EXPECT_FALSE(handFromCards("XX", h));
  EXPECT_FALSE(handFromCards("1", h));
  EXPECT_TRUE(handFromCards("", h));
  EXPECT_EQ(h, 0u);
  Beat b;
  EXPECT_FALSE(beatFromPlay("", TYPE_G, b));
  EXPECT_FALSE(beatFromPlay("3", 42, b));
  EXPECT_FALSE(beatFromPlay("Z", TYPE_G, b));
}

}  // namespace
}  // namespace zelk::fast
