#pragma once
// Built programs run as children, pseudo-terminals standing in for serial devices, UDP sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tidewell::testing {

using Clock = std::chrono::steady_clock;

inline std::string readSome(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = ::poll(&p, 1, waitMs) == 1 ? ::read(fd, buffer, sizeof buffer) : 0;
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// A UDP socket bound to `address`:`port`, 0 for a free one; the port it got.
inline int boundUdp(int& fd, const char* address, int port = 0) {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    socklen_t length = sizeof addr;
    const int on = 1;
    if (::inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
        throw std::runtime_error(std::string("cannot bind a UDP socket to ") + address);
    return ntohs(addr.sin_port);
}

// Its stdout read line by line; killed in the destructor so a failing test leaves none behind.
class ChildProcess {
public:
    // env entries "NAME=value" are set on top of this process's own.
    ChildProcess(const std::string& program, std::vector<std::string> args,
                 std::vector<std::string> env = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe for " + program);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if ((pid_ = ::fork()) == 0) {
            for (auto& e : env) ::putenv(e.data());
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]), ::close(err[1]), out_ = out[0], err_ = err[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        if (pid_ < 0) throw std::runtime_error("cannot start " + program);
    }
    ~ChildProcess() {
        if (!status_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        ::close(out_), ::close(err_);
    }

    pid_t pid() const { return pid_; }
    int stdoutFd() const { return out_; }
    const std::vector<std::string>& lines() const { return lines_; }

    // Takes in what stdout holds now; false once it has ended.
    bool pump() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(out_, buffer, sizeof buffer)) > 0) pending_.append(buffer, size_t(n));
        ended_ = ended_ || n == 0;
        for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
            lines_.push_back(pending_.substr(0, nl));
            pending_.erase(0, nl + 1);
        }
        return !ended_;
    }

    // Line number i, or "" when it does not come within the wait.
    std::string line(std::size_t i, int waitMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (pollfd p{out_, POLLIN, 0}; pump() && lines_.size() <= i && Clock::now() < deadline;)
            ::poll(&p, 1, 20);
        return i < lines_.size() ? lines_[i] : std::string();
    }

    // Sends `sig` unless 0, then waits: the exit status, or -1 when it did not exit normally
    // within the wait. Reading stdout meanwhile keeps a talkative child from blocking; a test
    // of a stalled reader must not.
    int waitExit(int waitMs, int sig = 0, bool readStdout = true) {
        if (sig && !status_) ::kill(pid_, sig);
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (int status = 0; !status_; ::usleep(5000)) {
            if (readStdout) pump();
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = status;
            else if (Clock::now() >= deadline)
                return -1;
        }
        for (pollfd p{out_, POLLIN, 0}; pump() && ::poll(&p, 1, 1000) == 1;) continue;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
    }

    std::string stderrText() {
        std::string text, got;
        while (!(got = readSome(err_, 100)).empty()) text += got;
        return text;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool ended_ = false;
    std::optional<int> status_;
    std::string pending_;
    std::vector<std::string> lines_;
};

// The test holds the master; the code under test opens path(). Neither end is inherited by
// children, or closing the master here would not hang up.
class Pty {
public:
    Pty() {
        char name[128];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path_ = name;
        ::fcntl(master_, F_SETFD, FD_CLOEXEC), ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~Pty() { ::close(master_), ::close(slave_); }

    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& path() const { return path_; }
    // Up to `want` bytes, whatever arrives within the wait.
    std::string read(std::size_t want, int waitMs = 2000) {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < want && Clock::now() < deadline) got += readSome(master_, 20);
        return got;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

}  // namespace tidewell::testing
