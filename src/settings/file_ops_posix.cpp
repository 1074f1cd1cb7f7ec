#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
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

}  // namespace

Prefix readPrefix(const std::string& path, std::size_t limit) {
    Prefix out;
    // O_NONBLOCK: a FIFO or device put in the file's place must not stall the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        out.status = (errno == ENOENT || errno == ENOTDIR) ? Prefix::Status::Missing
                                                           : Prefix::Status::Unusable;
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        out.status = Prefix::Status::Unusable;
        return out;
    }
    std::string& buf = out.bytes;
    std::size_t total = 0;
    while (total <= limit) {
        std::size_t chunk = std::min<std::size_t>(limit + 1 - total, 1 << 16);
        buf.resize(total + chunk);
        ssize_t n = ::read(fd, buf.data() + total, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return {Prefix::Status::Unusable, {}, false};
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

bool replaceAtomically(const std::string& requested, std::string_view contents) {
    std::string path = requested;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return false;
        path = real;
        std::free(real);
    }
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return false;

    std::size_t slash = path.rfind('/');
    std::string folderPrefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = path.substr(folderPrefix.size());
    if (base.empty()) return false;

    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folderPrefix + "." + base.substr(0, 200) + ".tmp" + std::to_string(::getpid()) +
               "-" + std::to_string(counter++);
        // 0666: a new file gets the user's umask like any other file they create.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = !exists || ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && writeAll(fd, contents) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folderPrefix.empty() ? "." : folderPrefix);
    return true;
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
