#pragma once
// The few file-system operations the settings unit needs from the platform.
#include <cstddef>
#include <string>
#include <string_view>

namespace tidewell::files {

struct Prefix {
    enum class Status { Ok, Missing, Unusable };  // Unusable: unreadable or not a regular file
    Status status = Status::Missing;
    std::string bytes;   // at most the limit asked for
    bool whole = false;  // `bytes` is the entire file
};

// Reads at most `limit` bytes from the start of a regular file without ever blocking on it.
Prefix readPrefix(const std::string& path, std::size_t limit);

// Replaces (or creates) the file with `contents` through a temporary file in the same folder
// that is flushed to disk and renamed over it. An existing file keeps its permission bits; a
// symbolic link keeps pointing at the replaced file. On failure nothing is left behind and
// the original is untouched.
bool replaceAtomically(const std::string& path, std::string_view contents);

// Whether this process may create files in `folder`.
bool folderWritable(const std::string& folder);

// Creates `folder` and any missing parents; true when it exists afterwards.
bool makeFolders(const std::string& folder);

}  // namespace tidewell::files
