#pragma once
// A fresh temp folder removed afterwards, and an environment variable restored afterwards.
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <random>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace tidewell::testing {

struct TempFolder {
    std::filesystem::path root = [] {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto path = std::filesystem::temp_directory_path() /
                        ("tidewell-" + std::to_string(random()));
            if (std::filesystem::create_directory(path)) return path;
        }
        throw std::runtime_error("no temp folder");
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
        set(value.c_str());
    }
    ~EnvOverride() { set(old ? old->c_str() : nullptr); }
    void set(const char* value) {
#ifdef _WIN32
        ::_putenv_s(name.c_str(), value ? value : "");
#else
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
#endif
        ::tzset();
    }
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace tidewell::testing
