// Steps the solving run's modes share: the stop check, the report of a
// failure, the console's position lines, and the modes that judge plays by
// their moves to win (studyrun.cpp). Internal to the solving run.
#pragma once

#include <functional>
#include <string>

#include "run/solverun.h"
#include "solver/engine.h"

namespace zelk::runsteps {

// Ends the run (after "ERRORBREAK!") when a stop was requested.
bool stopCheck();
// The run failed: the front end says so.
void markFailed();
// Changes the last run's report under its lock.
void updateReport(const std::function<void(RunReport&)>& change);

// A typed line as a play: blanks removed, letters in upper case.
std::u16string typedPlay(const std::u16string& line);

// "牌局【player1 %s player2 %s】轮到player%c出牌(回车表示过牌)..\n" for the mover.
const char16_t* positionLine(char mover);
// The play on the table at the start of a game, where there is one.
bool showPlayToBeat(const std::string& cards, int type);

char otherSide(char side);

// --analyse: every play of the mover judged, then the verdict.
void analyseRun(Engine& engine, const Position& position, fast::Rules rules);
// --practice: the user plays the winning side, game after game.
void practiceRun(Engine& engine, const Position& position, fast::Rules rules);

}  // namespace zelk::runsteps
