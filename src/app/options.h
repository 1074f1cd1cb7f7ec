#pragma once
// The program's command line.
#include <optional>
#include <string>
#include <vector>

#include "app/log_level.h"

namespace tidewell {

struct Options {
    bool headless = false;
    bool noSetClock = false;
    bool demo = false;
    bool help = false;
    bool version = false;
    std::string settingsFile;          // empty: beside the executable
    std::optional<LogLevel> logLevel;  // empty: the settings file's
    bool history = false;      // print the clock history and exit
    std::string plotFile;      // draw the clock history as SVG there and exit
    // --status: ask the running program, print its answer and exit; `statusRequest` is the
    // line sent ("status", "status json", "history").
    bool status = false;
    std::string statusRequest;
    std::string statusSocket;  // --status-socket: empty for the platform's places
};

// Parses argv[1..]; on a mistake returns nothing and sets `error` to a one-line reason.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error);

// Why `--settings FILE` cannot be used (its folder is missing or not a folder, or FILE is a
// folder), or empty. Every write would otherwise be lost without a word.
std::string settingsFileProblem(const std::string& settingsFile);

extern const char* const kUsage;

}  // namespace tidewell
