#include "settings/ini_profile.h"

#include <optional>

#include "settings/file_ops.h"
#include "settings/ini_text.h"

namespace tidewell {

namespace {

// Characters that would break the line structure of the file.
constexpr std::string_view kLineBreakers("\r\n\0", 3);

bool breaksLine(std::string_view s) {
    return s.find_first_of(kLineBreakers) != s.npos;
}

bool validNames(std::string_view section, std::string_view key) {
    if (breaksLine(section) || section.find(']') != section.npos) return false;
    if (key.empty() || breaksLine(key) || key.find('=') != key.npos) return false;
    return key.find_first_not_of(" \t") != key.npos && key.front() != '[' && key.front() != ';';
}

}  // namespace

std::string IniProfileStore::getString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue, std::size_t size,
                                       const std::string& file) {
    if (size == 0) return {};
    files::Prefix read = files::readPrefix(file, kMaxFileBytes);
    std::optional<std::string> value;
    if (read.status == files::Prefix::Status::Ok) value = ini::findValue(read.bytes, section, key);
    std::string out = value ? std::move(*value) : std::string(defaultValue);
    if (out.size() > size - 1) out.resize(size - 1);
    return out;
}

WriteOutcome IniProfileStore::writeString(std::string_view section, std::string_view key,
                                          std::string_view value, const std::string& file) {
    if (!validNames(section, key) || breaksLine(value))
        return WriteOutcome::failed("a name or value that would break the file's lines");
    files::Prefix read = files::readPrefix(file, kMaxFileBytes);
    if (read.status == files::Prefix::Status::Unusable)
        return WriteOutcome::failed("it cannot be read, or is not a regular file");
    // A file too big to have been written by us is left exactly as it is.
    if (read.status == files::Prefix::Status::Ok && !read.whole)
        return WriteOutcome::failed("it is larger than a settings file can be (" + std::to_string(kMaxFileBytes) +
                " bytes)");
    std::string updated = ini::withValue(read.bytes, section, key, value);
    if (read.status == files::Prefix::Status::Ok && updated == read.bytes) return {};
    return files::replaceAtomically(file, updated);
}

}  // namespace tidewell
