#pragma once
// Profile (INI) file access with the semantics of the platform's profile functions
// (GetPrivateProfileStringA / WritePrivateProfileStringA).
#include <cstddef>
#include <string>
#include <string_view>

namespace tidewell {

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
    // Returns false when the write was lost; never throws for file problems.
    virtual bool writeString(std::string_view section, std::string_view key, std::string_view value,
                             const std::string& file) = 0;
};

}  // namespace tidewell
