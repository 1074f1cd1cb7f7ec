#pragma once
// A fresh temp folder removed afterwards, and an environment variable restored afterwards.
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace tidewell::testing {

struct TempFolder {
    std::filesystem::path root = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tidewell-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return std::filesystem::path(pattern);
    }();
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string file(const std::string& name) const { return (root / name).string(); }
    // Hidden names too, so a leftover temporary file shows.
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(root))
            out.insert(e.path().filename().string());
        return out;
    }
};

// TZ is read again on entry and on leaving: localtime_r need not look at it.
struct EnvOverride {
    std::string name;
    std::optional<std::string> old;
    EnvOverride(std::string n, const std::string& value) : name(std::move(n)) {
        if (const char* was = std::getenv(name.c_str())) old = was;
        ::setenv(name.c_str(), value.c_str(), 1), ::tzset();
    }
    ~EnvOverride() { (old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str())), ::tzset(); }
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace tidewell::testing
