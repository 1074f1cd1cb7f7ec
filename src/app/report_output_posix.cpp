#include "app/report_output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewell {

namespace {

// systemd names the stream it connected as "device:inode"; an output that a script sent
// elsewhere keeps the variable but not the stream.
bool isJournalStream(int fd) {
    const char* named = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    unsigned long long device = 0, inode = 0;
    char extra = 0;
    return named && ::fstat(fd, &st) == 0 &&
           std::sscanf(named, "%llu:%llu%c", &device, &inode, &extra) == 2 && device == st.st_dev &&
           inode == st.st_ino;
}

}  // namespace

ReportOutput::ReportOutput(int fd, EventLoop& loop, std::size_t queueLimit)
    : fd_(fd), queue_(queueLimit, isJournalStream(fd)), loop_(loop) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        gone_ = true;
        return;
    }
    if (S_ISSOCK(st.st_mode)) {
        socket_ = true;  // send() takes MSG_DONTWAIT per call
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        // An open file description of our own: O_NONBLOCK on the inherited one would also
        // make the writes of the shell that shares the terminal or pipe fail with EAGAIN.
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        ownFd_ = fd_ >= 0;
        if (!ownFd_) {
            // No /proc, or no right to reopen the terminal: share the flag, and give the
            // description back as it was at the end.
            fd_ = fd;
            sharedFlags_ = ::fcntl(fd, F_GETFL);
            ::fcntl(fd, F_SETFL, sharedFlags_ | O_NONBLOCK);
        }
    }
    // Regular files never block, so they are written as they are.
    blocks_ = !S_ISREG(st.st_mode);
}

ReportOutput::~ReportOutput() {
    flush();  // what fits now; the program does not wait for a reader at exit
    writable_.reset();
    if (ownFd_) ::close(fd_);
    if (sharedFlags_ >= 0) ::fcntl(fd_, F_SETFL, sharedFlags_);
}

void ReportOutput::write(const std::string& line) {
    if (gone_) return;
    queue_.push(line);
    if (!writable_) flush();
}

void ReportOutput::flush() {
    while (!gone_ && !queue_.empty()) {
        const std::string_view bytes = queue_.pending();
        const ssize_t n = socket_
                              ? ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            queue_.consume(std::size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            // EPIPE: nobody will ever read. Anything else (a full disk, a hung-up terminal)
            // loses what is queued, and the next line tries again.
            gone_ = errno == EPIPE;
            queue_.clear();
        }
    }
    // Watched only while lines wait, so an idle report costs no wake-ups.
    if (gone_ || queue_.empty())
        writable_.reset();
    else if (!writable_ && blocks_)
        writable_ = loop_.watchWritable(fd_, [this] { flush(); });
}

}  // namespace tidewell
