#pragma once
// Profile (INI) file access with the semantics of the platform's profile functions
// (GetPrivateProfileStringA / WritePrivateProfileStringA).
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace tidewell {

// How a write went: written when `failure` is empty, else `failure` says why in the system's
// words ("Permission denied"). `note` tells of a file written with a change its owner should
// hear of (another group).
struct WriteOutcome {
    std::string failure;
    std::string note;
    explicit operator bool() const { return failure.empty(); }
    static WriteOutcome failed(std::string why) { return {std::move(why), {}}; }
};

class ProfileStore {
public:
    virtual ~ProfileStore() = default;

    // The value of `key` in `section` of `file`, both names matched without regard to case,
    // surrounding blanks removed, at most size - 1 characters. `defaultValue` when the file,
    // the section or the key is missing or unreadable. Never throws for file problems.
    virtual std::string getString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::size_t size,
                                  const std::string& file) = 0;

    // Replaces the value of the key (or adds the key at the end of its section, or the section
    // at the end of the file, creating the file when missing). Every other line is kept.
    // Says why when the write was lost; never throws for file problems.
    virtual WriteOutcome writeString(std::string_view section, std::string_view key, std::string_view value,
                             const std::string& file) = 0;
};

}  // namespace tidewell
