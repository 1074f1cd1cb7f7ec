#include "app/options.h"

#include <filesystem>

namespace tidewell {

const char* const kUsage =
    "Usage: tidewell [OPTIONS]\n"
    "Keeps the PC clock set from a GPS receiver and sends the time to wall clocks.\n"
    "\n"
    "  --headless        run without a window; report each event as one line on stdout\n"
    "  --settings FILE   use FILE instead of Tidewell.ini beside the executable\n"
    "  --no-set-clock    never change the PC clock; report what would have been set\n"
    "  --log LEVEL       events: only events, no line each second (for a service);\n"
    "                    seconds: also the GPS time and frames each second (default)\n"
    "  --demo            simulated GPS receiver on a pseudo-terminal, UDP once per second to\n"
    "                    127.0.0.1, a temporary settings file; implies --no-set-clock\n"
    "  --history         print the last 20 clock updates and a summary of the last day from\n"
    "                    the history file (beside --settings FILE, else in the state folder)\n"
    "  --plot FILE.svg   draw the history's clock offsets over time as an SVG chart\n"
    "  --help            show this text\n"
    "  --version         show the version\n";

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--no-set-clock") {
            options.noSetClock = true;
        } else if (arg == "--demo") {
            options.demo = options.noSetClock = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--log" || arg.starts_with("--log=")) {
            const std::string value =
                arg == "--log" ? (i + 1 < args.size() ? args[++i] : "") : arg.substr(6);
            if (!(options.logLevel = parseLogLevel(value))) {
                error = "--log takes events or seconds";
                return std::nullopt;
            }
        } else if (arg == "--settings" || arg.starts_with("--settings=")) {
            std::string value;
            if (arg == "--settings") {
                if (i + 1 >= args.size()) {
                    error = "--settings needs a file name";
                    return std::nullopt;
                }
                value = args[++i];
            } else {
                value = arg.substr(std::string("--settings=").size());
            }
            if (value.empty()) {
                error = "--settings needs a file name";
                return std::nullopt;
            }
            options.settingsFile = value;
        } else if (arg == "--history") {
            options.history = true;
        } else if (arg == "--plot" || arg.starts_with("--plot=")) {
            options.plotFile = arg == "--plot" ? (i + 1 < args.size() ? args[++i] : "")
                                               : arg.substr(std::string("--plot=").size());
            if (options.plotFile.empty()) {
                error = "--plot needs a file name";
                return std::nullopt;
            }
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    if (options.demo && !options.settingsFile.empty()) {
        error = "--demo uses its own temporary settings file; leave out --settings";
        return std::nullopt;
    }
    return options;
}

std::string settingsFileProblem(const std::string& settingsFile) {
    namespace fs = std::filesystem;
    if (settingsFile.empty()) return {};
    const fs::path file(settingsFile);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return "--settings " + settingsFile + ": the folder " + folder.string() + " does not exist";
    if (!fs::is_directory(folder, ec))
        return "--settings " + settingsFile + ": " + folder.string() + " is not a folder";
    if (fs::is_directory(file, ec))
        return "--settings " + settingsFile + " is a folder, not a file";
    return {};
}

}  // namespace tidewell
