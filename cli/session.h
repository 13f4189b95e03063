// One run of the solver from the terminal: the thread control driven by a
// small event loop, Ctrl-C as the stop command.
#pragma once

#include <functional>

#include "cli/options.h"

namespace zelk::cli {

// Runs the solve (and the replay) for hands already accepted into inputA and
// inputB. Returns the exit status.
int runSession(const Options& options);

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts
// later, so that one thread can wait for them; call first thing in main.
void blockStopSignals();

// Starts the thread that waits for SIGINT and SIGTERM (blocked with
// blockStopSignals): the first one calls onFirst on that thread, a second
// one ends the program at once with status 130.
void watchStopSignals(std::function<void()> onFirst);

}  // namespace zelk::cli
