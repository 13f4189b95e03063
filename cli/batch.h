// zelk --batch: many endgames from standard input, decided by the fast
// engine on a pool of workers, answered one JSON line each in input order.
#pragma once

#include "cli/options.h"

namespace zelk::cli {

// Reads the endgames until the end of input (the process-wide switches
// already set from the command line are the default rules of a line).
// Returns the exit status: 0 all solved, 1 a solve failed or the answers
// could not be written, 2 a line was bad, 130 stopped by a signal.
int runBatch(const Options& options);

}  // namespace zelk::cli
