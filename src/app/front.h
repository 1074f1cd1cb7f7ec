#pragma once
// What a start answers before any part of the program runs: a mistake on the command line,
// help, the version, `--status` (the running program's answer), a settings file that cannot be
// used, and the clock history (`--history`, `--plot`). Every main begins with it.
#include <optional>
#include <string>

#include "app/options.h"

namespace tidewell {

// The exit status when the start ends here; nothing when the program is to run.
std::optional<int> answerWithoutRunning(const std::optional<Options>& options,
                                        const std::string& error);

}  // namespace tidewell
