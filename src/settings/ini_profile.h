#pragma once
// A portable profile (INI) file reader and writer with the platform profile functions'
// behaviour; every write replaces the file atomically.
#include <cstddef>

#include "platform/profile_store.h"

namespace tidewell {

class IniProfileStore final : public ProfileStore {
public:
    // Files larger than this are read only up to it, and are never rewritten.
    static constexpr std::size_t kMaxFileBytes = 1 << 20;

    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t size,
                          const std::string& file) override;
    WriteOutcome writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::string& file) override;
};

}  // namespace tidewell
