// One run of the solver from the terminal: the thread control driven by a
// small event loop, Ctrl-C as the stop command.
#pragma once

#include <functional>
#include <string>

#include "cli/options.h"
#include "run/solverun.h"

namespace zelk::cli {

// The solve the options describe, but for the hands (and the console, which
// the session makes): the engine, its rules (the switches as applySwitches
// set them), table and threads, the replay, the listing mode.
SolveRequest requestOf(const Options& options);

// The rest of the position the options give (--mover, --to-beat,
// --to-beat-type), for the hands already in the request. False with a
// message when it is no position under the request's rules.
bool positionOf(const Options& options, SolveRequest& request, std::string& error);

// Runs the solve (and the replay) for hands already accepted into the
// request. Returns the exit status.
int runSession(const Options& options, SolveRequest request);

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts
// later, so that one thread can wait for them; call first thing in main.
void blockStopSignals();

// Opens /dev/null (for reading only) on each of the descriptors 0, 1 and 2
// that is closed, so that no other file takes its number; call first thing.
void reserveStandardDescriptors();

// Writes all of text to standard output; 0, or the error.
int writeOut(const std::string& text);
// "zelk: WHAT: the error's text" on standard error; returns 1, the status.
int failWith(const std::string& what, int error);
// With --log: once, a warning on standard error when a record of the log
// file could not be written.
void warnIfTheLogFails(const Options& options);

// Starts the thread that waits for SIGINT and SIGTERM (blocked with
// blockStopSignals): the first one calls onFirst on that thread, a second
// one ends the program at once with status 130.
void watchStopSignals(std::function<void()> onFirst);

}  // namespace zelk::cli
