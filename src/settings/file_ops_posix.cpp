#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "settings/file_ops.h"

namespace tidewell::files {

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The file a write replaces, with the folder (ending in '/', or empty) and name it lies in.
struct Target {
    std::string path;
    std::string folderPrefix;
    std::string base;
};

// A symbolic link is followed, so the link survives the replacement.
std::optional<Target> resolve(const std::string& requested) {
    Target t{requested, {}, {}};
    struct stat st {};
    if (::lstat(requested.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(requested.c_str(), nullptr);
        if (!real) return std::nullopt;
        t.path = real;
        std::free(real);
    }
    std::size_t slash = t.path.rfind('/');
    t.folderPrefix = slash == std::string::npos ? "" : t.path.substr(0, slash + 1);
    t.base = t.path.substr(t.folderPrefix.size());
    if (t.base.empty()) return std::nullopt;
    return t;
}

// Temporary names are this prefix, the writer's process id, '-' and a counter.
std::string temporaryPrefix(const Target& t) {
    return t.folderPrefix + "." + t.base.substr(0, 200) + ".tmp";
}

bool isTemporaryName(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return false;
    name.remove_prefix(prefix.size());
    std::size_t dash = name.find('-');
    auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == s.npos;
    };
    return dash != name.npos && digits(name.substr(0, dash)) && digits(name.substr(dash + 1));
}

// The kernel's answer covers ACLs, read-only mounts and immutable files; root passes it for
// any file, so the owner's write bit must be set too: we write as the owner could.
bool ownerMayWrite(const std::string& path, const struct stat& st) {
    return (st.st_mode & S_IWUSR) && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string groupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid)) return g->gr_name;
    return std::to_string(gid);
}

// A user may own a file whose group they are not in (what `sudo chown user file` leaves): the
// file is theirs to write, so it takes their group rather than stay unwritten.
WriteOutcome keepOwnerAndMode(int fd, const struct stat& original) {
    struct stat mine {};
    if (::fstat(fd, &mine) != 0) return WriteOutcome::failed(std::strerror(errno));
    WriteOutcome out;
    if ((mine.st_uid != original.st_uid || mine.st_gid != original.st_gid) &&
        ::fchown(fd, original.st_uid, original.st_gid) != 0) {
        if (errno != EPERM || mine.st_uid != original.st_uid)
            return WriteOutcome::failed(std::string("its owner cannot be kept: ") +
                                        std::strerror(errno));
        out.note = "its group is now " + groupName(mine.st_gid) + ", not " +
                   groupName(original.st_gid) + ", which this user may not give it";
    }
    if (::fchmod(fd, original.st_mode & 07777) != 0) return WriteOutcome::failed(std::strerror(errno));
    return out;
}

// Creates a new temporary file and locks it; -1 when none can be made.
int createLockedTemporary(const std::string& prefix, std::string& temp) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        // 0666: a new file gets the user's umask like any other file they create.
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        // A clean-up may have taken the name between open and flock; it unlinks only under the
        // lock, so a file still linked once locked is ours. Without lock support a clean-up
        // removes nothing, so an unlocked file is safe there.
        int locked = ::flock(fd, LOCK_EX | LOCK_NB);
        struct stat st {};
        if ((locked == 0 || errno != EWOULDBLOCK) && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

}  // namespace

Prefix readPrefix(const std::string& path, std::size_t limit) {
    Prefix out;
    // O_NONBLOCK: a FIFO or device put in the file's place must not stall the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        out.status = (errno == ENOENT || errno == ENOTDIR) ? Prefix::Status::Missing
                                                           : Prefix::Status::Unusable;
        out.reason = std::strerror(errno);
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        out.status = Prefix::Status::Unusable;
        out.reason = "not a regular file";
        return out;
    }
    std::string& buf = out.bytes;
    std::size_t total = 0;
    while (total <= limit) {
        // The size it had is a hint only: the file may grow while it is read.
        const std::size_t hint = total == 0 ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
        std::size_t chunk = std::min<std::size_t>(limit + 1 - total, hint);
        buf.resize(total + chunk);
        ssize_t n = ::read(fd, buf.data() + total, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            return {Prefix::Status::Unusable, {}, false, std::strerror(error)};
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.whole = total <= limit;
    buf.resize(std::min(total, limit));
    out.status = Prefix::Status::Ok;
    return out;
}

WriteOutcome replaceAtomically(const std::string& requested, std::string_view contents) {
    const auto failed = [](const char* what) {
        return WriteOutcome::failed(std::string(what) + ": " + std::strerror(errno));
    };
    std::optional<Target> target = resolve(requested);
    if (!target) return failed("following its link");
    const std::string& path = target->path;
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return failed("reading its state");
    if (exists && !S_ISREG(st.st_mode)) return WriteOutcome::failed("it is not a regular file");
    if (exists && !(st.st_mode & S_IWUSR)) return WriteOutcome::failed("it is read-only");
    if (exists && !ownerMayWrite(path, st)) return failed("writing it");

    std::string temp;
    int fd = createLockedTemporary(temporaryPrefix(*target), temp);
    if (fd < 0) return failed("creating a file in its folder");
    WriteOutcome out = exists ? keepOwnerAndMode(fd, st) : WriteOutcome{};
    if (out && !writeAll(fd, contents)) out = failed("writing");
    if (out && ::fsync(fd) != 0) out = failed("flushing to disk");
    // Renamed before the lock goes with the close, so a clean-up never takes it half-way.
    if (out && ::rename(temp.c_str(), path.c_str()) != 0) out = failed("replacing it");
    if (!out) ::unlink(temp.c_str());
    ::close(fd);  // the data is on disk already; nothing left to fail
    if (out) syncFolder(target->folderPrefix.empty() ? "." : target->folderPrefix);
    return out;
}

void removeStaleTemporaryFiles(const std::string& path) {
    std::optional<Target> target = resolve(path);
    if (!target) return;
    const std::string prefix = temporaryPrefix(*target).substr(target->folderPrefix.size());
    DIR* dir = ::opendir(target->folderPrefix.empty() ? "." : target->folderPrefix.c_str());
    if (!dir) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (!isTemporaryName(name, prefix)) continue;
        int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat held {};
        struct stat named {};
        // Unlinked only under the lock and only if the name still means the file locked.
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlinkat(dirFd, name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

std::string append(const std::string& path, std::string_view bytes) {
    // O_NONBLOCK: a FIFO put in the file's place fails to open rather than wait for a reader.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    std::string reason;
    if (::fstat(fd, &st) != 0)
        reason = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (!writeAll(fd, bytes))
        reason = std::strerror(errno);
    if (::close(fd) != 0 && reason.empty()) reason = std::strerror(errno);
    return reason;
}

std::string renameOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::string() : std::strerror(errno);
}

bool folderWritable(const std::string& folder) {
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

bool makeFolders(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

}  // namespace tidewell::files
