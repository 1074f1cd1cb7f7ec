#pragma once
// The few file-system operations the settings file and the clock history need from the
// platform.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/profile_store.h"

namespace tidewell::files {

struct Prefix {
    enum class Status { Ok, Missing, Unusable };  // Unusable: unreadable or not a regular file
    Status status = Status::Missing;
    std::string bytes;   // at most the limit asked for
    bool whole = false;  // `bytes` is the entire file
    std::string reason;  // why it is Unusable, in the system's words
};

// Reads at most `limit` bytes from the start of a regular file without ever blocking on it.
Prefix readPrefix(const std::string& path, std::size_t limit);

// Replaces (or creates) the file with `contents` through a temporary file in the same folder
// that is flushed to disk and renamed over it. An existing file keeps its owner and permission
// bits, and its group where this process may give it (else it takes this process's group, and
// the outcome's note says so); a symbolic link keeps pointing at the replaced file. Refused,
// with the reason, when the file is not a regular file, when this process may not write it,
// when its owner has no write permission (so a read-only file stays so even for root), or when
// its owner or permission bits cannot be kept. On failure nothing is left behind and the
// original is untouched.
WriteOutcome replaceAtomically(const std::string& path, std::string_view contents);

// Removes the temporary files that writes to `path` left behind when their process died.
// A writer holds a lock on its temporary file until it is renamed, so a live writer's file,
// even another process's, is kept; so is every name this program would not have made.
void removeStaleTemporaryFiles(const std::string& path);

// Appends `bytes` to a regular file in one write, creating the file (not its folder) when
// missing. The reason in the system's words when it fails, else empty. A write may block on
// a slow or stalled disk: never call it from the event loop.
std::string append(const std::string& path, std::string_view bytes);

// Renames `from` to `to`, replacing `to`; the reason when it fails, else empty.
std::string renameOver(const std::string& from, const std::string& to);

// Whether this process may create files in `folder`.
bool folderWritable(const std::string& folder);

// Creates `folder` and any missing parents; true when it exists afterwards.
bool makeFolders(const std::string& folder);

}  // namespace tidewell::files
