#include "app/single_instance.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/ascii.h"

namespace tidewell {

// FNV-1a over the canonical path: short, and the same in every process.
std::string instanceName(const std::string& settingsFile) {
    std::error_code ec;
    std::string path = std::filesystem::weakly_canonical(settingsFile, ec).string();
    if (ec) path = std::filesystem::absolute(settingsFile, ec).string();
    if (std::filesystem::path::preferred_separator == '\\') path = ascii::lowerCased(path);
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ULL;
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return "tidewell-" + std::string(text);
}

std::optional<int> endSecondCopy(const InstanceLock& lock, bool windowed,
                                 const std::string& settingsFile) {
    if (lock.held()) return std::nullopt;
    if (windowed && lock.showHolder()) return 0;
    const long pid = lock.holderPid();
    std::fprintf(stderr, "tidewell: already running%s with settings %s\n",
                 pid > 0 ? (" (PID " + std::to_string(pid) + ")").c_str() : "",
                 settingsFile.c_str());
    return 1;
}

}  // namespace tidewell
