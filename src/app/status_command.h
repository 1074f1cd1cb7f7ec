#pragma once
// `tidewell --status`: asks the running program through its status endpoint and prints the
// answer. Starts no event loop and opens no port.
#include <cstdio>

#include "app/options.h"

namespace tidewell {

// The exit status: 0 working, 1 degraded, 2 no program running, 3 no answer (refused,
// timed out, or an error line).
int runStatusCommand(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace tidewell
