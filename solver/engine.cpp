#include "solver/engine.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "base/format.h"
#include "rules/cards.h"
#include "solver/analysis.h"
#include "solver/fastengine.h"
#include "solver/fastreplay.h"
#include "solver/movegen.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace zelk {

namespace {

int64_t childCount(const GameNode* node) {
  int64_t n = 0;
  for (const GameNode* c = node ? node->child : nullptr; c; c = c->next) ++n;
  return n;
}

void seedPosition(GameNode* node, const Position& p) {
  auto copy = [](char(&field)[CARD_FIELD], const std::string& cards) {
    std::string sorted = cards.substr(0, MAXPN);
    sortCardsAsc(sorted);
    std::memcpy(field, sorted.c_str(), sorted.size() + 1);
  };
  copy(node->u1Cards, p.u1Cards);
  copy(node->u2Cards, p.u2Cards);
  copy(node->lastPlay, p.lastPlay);
  node->playType = p.playType;
  node->turn = p.turn;
  node->result = RESULT_OPEN;
}

// Speed and seconds of a statistics line; a solve faster than the clock counts 1 ms.
struct Pace {
  int64_t speed;
  float seconds;
};
Pace paceOf(int64_t positions, uint32_t elapsedMs) {
  if (elapsedMs == 0) elapsedMs = 1;
  return {positions * 1000 / elapsedMs, static_cast<float>(elapsedMs) / 1000.0f};
}

// The brute-force search of the original program: it keeps the winner's
// strategy tree while it searches, so the replay only walks it.
class ExhaustiveEngine : public Engine {
 public:
  // `search` stands in for ZelkSolver (tests); without it the engine plays by its rules.
  explicit ExhaustiveEngine(SearchFunction search = nullptr) : search_(search) {}

  const char* name() const override { return "exhaustive"; }
  void reset(fast::Rules rules) override { rules_ = rules; }
  void countMoverPlays(bool on) { moverPlays_ = on; }

  char solve(GameNode* root) override {
    // The table of the leader's first plays feeds the progress line.
    tableRoot = newNode();
    copyPosition(tableRoot, root);
    // The generator makes player2's plays: player1's are made with the hands
    // swapped, and swapped back so that the progress line finds them.
    const bool player1Moves = moverPlays_ && root->turn == RESULT_U1;
    if (player1Moves) std::swap(tableRoot->u1Cards, tableRoot->u2Cards);
    tableRoot->turn = RESULT_U2;
    ZelkCN(tableRoot, 0, rules_);
    if (player1Moves) {
      std::swap(tableRoot->u1Cards, tableRoot->u2Cards);
      for (GameNode* c = tableRoot->child; c; c = c->next) std::swap(c->u1Cards, c->u2Cards);
    }
    topMoveCount = childCount(tableRoot);
    lastReportCount = 0;
    tickSeconds.exchange(0);
    lastReportSecond = 0;
    topNode = nullptr;  // never a node of an earlier, released tree
    root->result = search_ ? search_(root, 0) : ZelkSolver(root, 0, rules_);
    // The table's positions are not the search's.
    searched_ = std::max<int64_t>(nodeCount - countNodes(tableRoot), 1);
    return root->result;
  }

  void grow(GameNode*) override {}  // the tree is there already

  Verdict decide(const Position& position) override {
    GameNode* root = newNode();
    struct Release {
      GameNode* root;
      ~Release() {
        deleteNode(root);
        if (tableRoot) {
          deleteNode(tableRoot);
          tableRoot = nullptr;
        }
      }
    } release{root};
    seedPosition(root, position);
    Verdict v;
    v.result = solve(root);
    if (v.result == root->turn && root->child) {
      v.found = true;
      v.play = root->child->lastPlay;
      v.type = root->child->playType;
    }
    return v;
  }

  int64_t positionsSearched() const override { return searched_; }
  int64_t positionsKept(const GameNode* root) const override { return countNodes(root); }

  std::u16string statisticsLine(const GameNode* root, int64_t openingPlays,
                                uint32_t elapsedMs) const override {
    const int64_t tree = positionsKept(root);
    const Pace pace = paceOf(searched_, elapsedMs);
    const float share = static_cast<float>(tree) * 100.0f / static_cast<float>(searched_);
    return formatText(
        u"推演牌局总数 %I64d 牌局树牌局数 %I64d(%0.2f%%) N1=%I64d speed %I64d/s sec %0.3fs \r\n",
        searched_, tree, share, openingPlays, pace.speed, pace.seconds);
  }

 private:
  SearchFunction search_;
  fast::Rules rules_ = fast::R_ALL;
  bool moverPlays_ = false;
  int64_t searched_ = 1;
};

// The transposition-table engine: it decides the root, then grows the
// replay's tree from its table as the replay goes.
class FastAnswers : public Engine {
 public:
  explicit FastAnswers(const EngineSettings& settings)
      : engine_(settings.tableBytes ? settings.tableBytes : FastEngine::DEFAULT_TABLE_BYTES),
        analysisBytes_(settings.tableBytes ? settings.tableBytes / 2
                                           : Analysis::DEFAULT_TABLE_BYTES),
        progress_(settings.progress) {
    engine_.setThreads(settings.threads);
    engine_.setRules(settings.rules);
    engine_.setProgress(settings.progress);
  }

  const char* name() const override { return "fast"; }

  void reset(fast::Rules rules) override {
    engine_.reset();
    engine_.setRules(rules);
    if (analysis_) analysis_->reset();
  }

  char solve(GameNode* root) override {
    engine_.setProgress(progress_);
    root->result =
        engine_.solve(root->u1Cards, root->u2Cards, root->lastPlay, root->playType, root->turn);
    if (root->result != RESULT_U1 && root->result != RESULT_U2) return root->result;
    // The replay's questions print nothing of their own.
    engine_.setProgress(false);
    // The root's kept children, as the exhaustive solver leaves them: the
    // first winning play is part of the answer.
    return growLikeSolver(engine_, root);
  }

  void grow(GameNode* node) override { growLikeSolver(engine_, node); }

  Verdict decide(const Position& p) override {
    Verdict v;
    engine_.setProgress(progress_);
    // As solve does: the verdict, then the first play from what it proved
    // (the positions counted are the same either way).
    v.result =
        engine_.solve(p.u1Cards.c_str(), p.u2Cards.c_str(), p.lastPlay.c_str(), p.playType, p.turn);
    if (v.result != RESULT_U1 && v.result != RESULT_U2) return v;
    engine_.setProgress(false);
    FastEngine::Answer a = engine_.bestMove(p.u1Cards.c_str(), p.u2Cards.c_str(),
                                            p.lastPlay.c_str(), p.playType, p.turn);
    v.result = a.result;
    v.found = a.found;
    v.play = a.cards;
    v.type = a.type;
    return v;
  }

  Analysis* analysis() override {
    if (!analysis_) analysis_ = std::make_unique<Analysis>(engine_, analysisBytes_);
    analysis_->setProgress(progress_);
    return analysis_.get();
  }

  int64_t positionsSearched() const override {
    return std::max<int64_t>(engine_.positionsSearched(), 1);
  }
  int64_t positionsKept(const GameNode*) const override { return engine_.positionsStored(); }

  std::u16string statisticsLine(const GameNode*, int64_t openingPlays,
                                uint32_t elapsedMs) const override {
    const int64_t searched = positionsSearched();
    const Pace pace = paceOf(searched, elapsedMs);
    return formatText(
        u"推演牌局总数 %I64d 置换表局面数 %I64d N1=%I64d speed %I64d/s sec %0.3fs \r\n", searched,
        engine_.positionsStored(), openingPlays, pace.speed, pace.seconds);
  }

 private:
  FastEngine engine_;
  std::unique_ptr<Analysis> analysis_;  // its table is mapped only when asked for
  std::size_t analysisBytes_;
  bool progress_;
};

}  // namespace

std::unique_ptr<Engine> makeEngine(const EngineSettings& settings) {
  if (settings.kind == EngineKind::Fast) return std::make_unique<FastAnswers>(settings);
  auto engine = std::make_unique<ExhaustiveEngine>();
  engine->reset(settings.rules);
  engine->countMoverPlays(settings.moverPlaysInProgress);
  return engine;
}

std::unique_ptr<Engine> makeExhaustiveEngine(SearchFunction search) {
  return std::make_unique<ExhaustiveEngine>(search);
}

int64_t openingPlayCount(const char* hand, fast::Rules rules) {
  fast::Hand h = 0;
  if (!hand || !fast::handFromCards(hand, h) || h == 0) return 0;
  std::vector<fast::Move> moves(fast::MAX_MOVES);
  return fast::generateMoves(h, fast::Beat{}, rules, moves.data());
}

int64_t moverPlayCount(const Position& p, fast::Rules rules) {
  fast::Hand h = 0;
  fast::Beat beat;
  if (!fast::handFromCards(p.turn == RESULT_U1 ? p.u1Cards : p.u2Cards, h) || h == 0 ||
      !fast::beatFromPlay(p.lastPlay, p.playType, beat))
    return 0;
  std::vector<fast::Move> moves(fast::MAX_MOVES);
  return fast::generateMoves(h, beat, rules, moves.data());
}

}  // namespace zelk
