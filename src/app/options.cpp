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
    "  --status [history] [--json]\n"
    "                    ask the running program how it is, print the answer and exit:\n"
    "                    0 working, 1 degraded, 2 not running, 3 no answer\n"
    "  --status-socket PATH\n"
    "                    the status endpoint to answer on, or to ask (a socket; on Windows a\n"
    "                    pipe name)\n"
    "  --help            show this text\n"
    "  --version         show the version\n";

namespace {

// The option that takes a value, as "--name VALUE" or "--name=VALUE"; null for others.
const char* valueOption(const std::string& arg) {
    for (const char* name : {"--settings", "--status-socket", "--log", "--plot"})
        if (arg == name || arg.starts_with(std::string(name) + "=")) return name;
    return nullptr;
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    bool json = false;
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
        } else if (arg == "--status") {
            options.status = true;
            if (i + 1 < args.size() && args[i + 1] == "history") options.statusRequest = args[++i];
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--history") {
            options.history = true;
        } else if (const char* name = valueOption(arg)) {
            std::string value;
            if (arg == name) {
                if (i + 1 < args.size()) value = args[++i];
            } else {
                value = arg.substr(std::string(name).size() + 1);
            }
            const std::string option = name;
            if (option == "--log") {
                if (!(options.logLevel = parseLogLevel(value))) {
                    error = "--log takes events or seconds";
                    return std::nullopt;
                }
                continue;
            }
            if (value.empty()) {
                error = option + (option == "--status-socket" ? " needs a path" : " needs a file name");
                return std::nullopt;
            }
            (option == "--settings"        ? options.settingsFile
             : option == "--status-socket" ? options.statusSocket
                                           : options.plotFile) = value;
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    if (json && (!options.status || !options.statusRequest.empty())) {
        error = "--json goes with --status alone";
        return std::nullopt;
    }
    if (options.status && options.statusRequest.empty())
        options.statusRequest = json ? "status json" : "status";
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
