// The running miner: start-up after the command line, the one-second main loop and
// the orderly shutdown.
#pragma once

#include "app/cli/options.h"

namespace tlm {

// Checks the processor, tests the engine, starts the miner and the pool client and
// runs until SIGINT, SIGTERM or SIGHUP. Returns the exit code: 0 after an orderly
// stop, 1 when a TLS pool is asked for or the processor or the self-test fails.
int run(Options opts);

}  // namespace tlm
