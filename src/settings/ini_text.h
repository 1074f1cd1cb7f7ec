#pragma once
// The profile (INI) format on text already in memory: finding a value and producing the text
// with one value set. Pure functions; the file handling is in IniProfileStore.
//
// A leading UTF-8 byte-order mark is skipped on reading and kept on writing.
// Lines end with CRLF, LF or a bare CR. Leading blanks of a line are ignored. "[name]" opens a
// section (name up to the first ']', blanks around it ignored); "key=value" is a key; lines
// starting with ';' are comments. Section and key names match without regard to ASCII case;
// the first matching section, and in it the first matching key, win. Keys before any section
// belong to no section.
#include <optional>
#include <string>
#include <string_view>

namespace tidewell::ini {

// The key's value cut at a NUL byte, with surrounding blanks and then one pair of matching
// quotes around it removed; nullopt when the section or the key is missing.
std::optional<std::string> findValue(std::string_view text, std::string_view section,
                                     std::string_view key);

// `text` with the key set to `value`: an existing key's line keeps everything up to its '=' and
// its line end; a new key follows the section's last key line; a new section goes at the end.
// New lines take the text's most common line end (LF when it has none).
std::string withValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value);

}  // namespace tidewell::ini
