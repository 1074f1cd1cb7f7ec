#include "app/linux/time_service_linux.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <utility>

extern char** environ;

namespace tidewell {

namespace {
constexpr const char* kUnits = "/run/systemd/units/invocation:";
constexpr int kReapEveryMs = 5;

// The child starts as a plain process: no signals blocked or ignored, normal scheduling.
pid_t spawn(const std::vector<std::string>& command, int output) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, output, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sched_param normal{};
    posix_spawnattr_setschedpolicy(&attributes, SCHED_OTHER);
    posix_spawnattr_setschedparam(&attributes, &normal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETSCHEDULER);
    std::vector<char*> argv;
    for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &files, &attributes, argv.data(), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}
}  // namespace

std::vector<LinuxTimeServiceProbe::Sign> LinuxTimeServiceProbe::knownSigns() {
    std::vector<Sign> signs;
    const auto unit = [&](const char* daemon, const char* name) {
        signs.push_back({daemon, kUnits + std::string(name), false});
    };
    unit("systemd-timesyncd", "systemd-timesyncd.service");
    unit("chronyd", "chrony.service");
    unit("chronyd", "chronyd.service");
    unit("ntpd", "ntp.service");
    unit("ntpd", "ntpd.service");
    unit("ntpd", "ntpsec.service");
    unit("openntpd", "openntpd.service");
    signs.push_back({"chronyd", "/run/chrony/chronyd.pid", true});
    signs.push_back({"chronyd", "/run/chronyd.pid", true});
    signs.push_back({"ntpd", "/run/ntpd.pid", true});
    return signs;
}

std::vector<std::string> LinuxTimeServiceProbe::timedatedQuery() {
    return {"timedatectl", "show", "--property=NTP", "--property=NTPSynchronized"};
}

LinuxTimeServiceProbe::LinuxTimeServiceProbe(EventLoop& loop, std::vector<Sign> signs,
                                             std::vector<std::string> query, int timeoutMs)
    : loop_(loop), signs_(std::move(signs)), query_(std::move(query)), timeoutMs_(timeoutMs) {}

LinuxTimeServiceProbe::~LinuxTimeServiceProbe() {
    if (output_ >= 0) ::close(output_);
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
}

// A PID file outlives a daemon that was killed, so its process must exist too.
std::optional<std::string> LinuxTimeServiceProbe::runningDaemon() const {
    namespace fs = std::filesystem;
    for (const Sign& sign : signs_) {
        std::error_code ec;
        if (!sign.pidFile) {
            // The link points at the invocation's ID, not at a file.
            if (fs::is_symlink(fs::symlink_status(sign.path, ec))) return sign.daemon;
            continue;
        }
        long pid = 0;
        if (std::ifstream(sign.path) >> pid && pid > 0 &&
            fs::exists("/proc/" + std::to_string(pid), ec))
            return sign.daemon;
    }
    return std::nullopt;
}

void LinuxTimeServiceProbe::probe(Done done) {
    if (auto daemon = runningDaemon()) return done(daemon);
    waiting_.push_back(std::move(done));
    if (child_ > 0) return;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) return answer(false, false);
    child_ = spawn(query_, pipe[1]);
    ::close(pipe[1]);
    if (child_ < 0) {
        ::close(pipe[0]);
        return answer(false, false);
    }
    output_ = pipe[0];
    text_.clear();
    reading_ = loop_.watchReadable(output_, [this] { readAnswer(); });
    // A query that hangs (a bus that never answers) is given up.
    timeout_ = loop_.after(timeoutMs_, [this] {
        ::kill(child_, SIGKILL);
        reap();
    });
}

void LinuxTimeServiceProbe::readAnswer() {
    char buffer[512];
    ssize_t n;
    while ((n = ::read(output_, buffer, sizeof buffer)) > 0)
        if (text_.size() < 4096) text_.append(buffer, std::size_t(n));
    if (n < 0 && errno == EAGAIN) return;
    // The end of its output: it is exiting.
    reading_.reset();
    reap();
}

void LinuxTimeServiceProbe::reap() {
    int status = 0;
    const pid_t reaped = ::waitpid(child_, &status, WNOHANG);
    if (reaped == 0) {
        reaping_ = loop_.after(kReapEveryMs, [this] { reap(); });
        return;
    }
    reading_.reset(), timeout_.reset(), reaping_.reset();
    ::close(output_);
    output_ = -1;
    child_ = -1;
    bool ntp = false, synchronized = false;
    // Where SIGCHLD was inherited ignored, the child is gone unwaited, and only its words count.
    const bool succeeded =
        reaped > 0 ? WIFEXITED(status) && WEXITSTATUS(status) == 0 : errno == ECHILD;
    if (succeeded) {
        std::istringstream lines(text_);
        for (std::string line; std::getline(lines, line);) {
            ntp = ntp || line == "NTP=yes";
            synchronized = synchronized || line == "NTPSynchronized=yes";
        }
    }
    answer(ntp, synchronized);
}

void LinuxTimeServiceProbe::answer(bool ntp, bool synchronized) {
    std::optional<std::string> service = runningDaemon();
    // timedated's NTP switch is systemd-timesyncd's unit.
    if (!service && ntp) service = "systemd-timesyncd";
    if (!service && synchronized) service = kUnknownService;
    for (auto& done : std::exchange(waiting_, {})) done(service);
}

}  // namespace tidewell
