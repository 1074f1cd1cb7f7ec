#include "app/qt/demo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

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
        // The program blocks its stop signals for its event loop; the simulator must not.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // Ends with the program, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::execl(simulator.c_str(), "nmea-sim", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    simulatorOutput_ = out[0];
    gpsDevice_ = readFirstLine(simulatorOutput_);

    char folderTemplate[] = "/tmp/tidewell-demo-XXXXXX";
    if (!::mkdtemp(folderTemplate))
        throw std::runtime_error(std::string("--demo: temporary folder: ") + std::strerror(errno));
    folder_ = folderTemplate;
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
