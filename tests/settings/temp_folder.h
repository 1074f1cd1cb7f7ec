#pragma once
// A fresh temp folder removed afterwards, and an environment variable restored afterwards.
#include <stdlib.h>

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

class EnvOverride {
public:
    EnvOverride(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~EnvOverride() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }

private:
    std::string name_;
    std::optional<std::string> old_;
};

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace tidewell::testing
