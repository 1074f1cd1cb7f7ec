#include "app/demo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace tidewell {

namespace fs = std::filesystem;

namespace {

std::string findSimulator(const std::string& programFolder) {
    for (const fs::path& candidate :
         {fs::path(programFolder) / "nmea-sim", fs::path(programFolder) / "tools" / "nmea-sim"}) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    throw std::runtime_error("--demo: nmea-sim was not found beside the program in " +
                             programFolder);
}

constexpr std::string_view kFolderPrefix = "tidewell-demo-";

fs::path tempBase() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : base;
}

// A demo killed outright (SIGKILL) cannot remove its folder. Each folder's name carries the
// making process's id, so a later demo removes those whose maker is gone, and only its own
// user's: never the folder of a demo still running.
void removeStaleFolders(const fs::path& base) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kFolderPrefix)) continue;
        const std::string rest = name.substr(kFolderPrefix.size());
        const auto dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash)
            continue;
        const long pid = std::strtol(rest.c_str(), nullptr, 10);
        struct stat info {};
        if (pid <= 0 || pid == ::getpid() || ::lstat(entry.path().c_str(), &info) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        fs::remove_all(entry.path(), ec);
    }
}

// The simulator prints its pseudo-terminal's path on its first line.
std::string readFirstLine(int fd) {
    std::string line;
    char c;
    while (line.size() < 4096) {
        ssize_t n = ::read(fd, &c, 1);
        if (n == 1) {
            if (c == '\n') return line;
            line += c;
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    throw std::runtime_error("--demo: nmea-sim did not report its pseudo-terminal");
}

}  // namespace

void Demo::start(const std::string& programFolder) {
    const std::string simulator = findSimulator(programFolder);
    const fs::path base = tempBase();
    removeStaleFolders(base);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("--demo: pipe: ") + std::strerror(errno));
    simulator_ = ::fork();
    if (simulator_ < 0)
        throw std::runtime_error(std::string("--demo: fork: ") + std::strerror(errno));
    if (simulator_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, STDERR_FILENO);
        // The program blocks its stop signals for its event loop and ignores SIGPIPE; the
        // simulator must do neither.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        // Ends with the program, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::execl(simulator.c_str(), "nmea-sim", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    simulatorOutput_ = out[0];
    gpsDevice_ = readFirstLine(simulatorOutput_);

    std::string folder =
        (base / (std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (!::mkdtemp(folder.data()))
        throw std::runtime_error("--demo: temporary folder " + folder + ": " +
                                 std::strerror(errno));
    folder_ = folder;
    settingsFile_ = folder_ + "/Tidewell.ini";
    std::ofstream ini(settingsFile_);
    ini << "[GPS]\nCOMPORT=COM1\nGPSDATE=1\n"
        << "[Ports]\nCOM1=" << gpsDevice_ << "\n"
        << "[UDP]\nSENDUDP= 1\nUDPADDRESS=127.0.0.1\nUDPRATE=once per second\n"
        << "[SerialSync]\nSENDSYNC= 0\nSERIALRATE=once per second\nTIMEUTC=False\nTIMELOCAL=True\n";
    if (!ini.flush()) throw std::runtime_error("--demo: cannot write " + settingsFile_);
}

Demo::~Demo() {
    if (simulator_ > 0) {
        ::kill(simulator_, SIGTERM);
        ::waitpid(simulator_, nullptr, 0);
    }
    if (simulatorOutput_ >= 0) ::close(simulatorOutput_);
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

}  // namespace tidewell
