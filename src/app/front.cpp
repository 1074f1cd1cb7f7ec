#include "app/front.h"

#include <cstdio>

#include "app/clock_history.h"
#include "app/status_command.h"
#include "platform/paths.h"
#include "settings/settings_path.h"

namespace tidewell {

std::optional<int> answerWithoutRunning(const std::optional<Options>& options,
                                        const std::string& error) {
    if (!options) return std::fprintf(stderr, "tidewell: %s\n%s", error.c_str(), kUsage), 2;
    if (options->help) return std::fputs(kUsage, stdout), 0;
    if (options->version)
        return std::printf("Tidewell %d.%d.%d\n", TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                           TIDEWELL_VERSION_REVISION),
               0;
    if (options->status) return runStatusCommand(*options, stdout, stderr);
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty())
        return std::fprintf(stderr, "tidewell: %s\n", problem.c_str()), 2;
    if (options->history || !options->plotFile.empty()) {
        const std::string settingsFile =
            settingsFilePath(paths::folderOf(paths::executablePath()), options->settingsFile);
        return historyCommand(historyFilePath(settingsFile, !options->settingsFile.empty()),
                              options->history, options->plotFile);
    }
    return std::nullopt;
}

}  // namespace tidewell
