#pragma once
// A built program run as a child, its stdout read line by line with arrival times; killed
// in the destructor so a failing test never leaves one behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tidewell::testing {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // env entries "NAME=value" replace or add to this process's environment.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]), ::close(out[1]);
            return;
        }
        // Built before the fork: the child only calls async-signal-safe functions.
        std::map<std::string, std::string> vars;
        for (char** e = environ; *e; ++e) addVar(vars, *e);
        for (const auto& e : env) addVar(vars, e);
        std::vector<std::string> envText;
        for (const auto& [name, value] : vars) envText.push_back(name + "=" + value);
        std::vector<char*> envp, argv{const_cast<char*>(program.c_str())};
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argsCopy = args;
        for (auto& a : argsCopy) argv.push_back(a.data());
        argv.push_back(nullptr);

        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int stdoutFd() const { return out_; }
    void signal(int sig) {
        if (pid_ > 0 && !status_) ::kill(pid_, sig);
    }

    // Reads what is available now; false once stdout has ended.
    bool pump() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n > 0) {
                pending_.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) ended_ = true;
            break;
        }
        const auto now = Clock::now();
        for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
            lines_.push_back({pending_.substr(0, nl), now});
            pending_.erase(0, nl + 1);
        }
        return !ended_;
    }

    struct Line {
        std::string text;
        Clock::time_point at;
    };
    const std::vector<Line>& lines() const { return lines_; }

    // Waits for a line (from the index `from` on) that starts with prefix.
    std::optional<Line> waitForLine(const std::string& prefix, int waitMs, std::size_t from = 0) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            for (std::size_t i = from; i < lines_.size(); ++i)
                if (lines_[i].text.starts_with(prefix)) return lines_[i];
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (left.count() <= 0 || ended_) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
            pump();
        }
    }

    // The exit status, or -1 when it did not exit normally within the wait; reads stdout
    // meanwhile so a full pipe cannot stall the child.
    int waitExit(int waitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
                break;
            }
            if (Clock::now() >= deadline) return -1;
            pollfd p{out_, POLLIN, 0};
            ::poll(&p, 1, 10);
            pump();
        }
        while (pump()) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 1000) != 1) break;
        }
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
    }

    std::string stdoutText() const {
        std::string text;
        for (const auto& l : lines_) text += l.text + "\n";
        return text + pending_;
    }
    std::string stderrText() {
        std::string text;
        char buffer[4096];
        pollfd p{err_, POLLIN, 0};
        while (::poll(&p, 1, 100) == 1) {
            const ssize_t n = ::read(err_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    static void addVar(std::map<std::string, std::string>& vars, const std::string& entry) {
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool ended_ = false;
    std::optional<int> status_;
    std::string pending_;
    std::vector<Line> lines_;
};

}  // namespace tidewell::testing
