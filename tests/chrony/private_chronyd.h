#pragma once
// A chronyd of the caller's own that cannot change the clock: -x (no clock control) and, when
// started as root, dropped to `nobody` with no capability left; in the foreground, on a
// configuration of its own with no server, no NTP or command port, every file in its folder.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "child_process.h"

namespace tidewell::testing {

// Debian's chrony as scripts/deps.sh unpacks it, else an installed one; empty when neither.
inline std::string chronyProgram(const std::string& name) {
    for (const char* dir :
         {TIDEWELL_SOURCE_DIR "/build-deps/chrony/usr/sbin",
          TIDEWELL_SOURCE_DIR "/build-deps/chrony/usr/bin", "/usr/sbin", "/usr/bin"})
        if (const std::string path = std::string(dir) + "/" + name;
            ::access(path.c_str(), X_OK) == 0)
            return path;
    return {};
}

class PrivateChronyd {
public:
    // `refclockOptions` follow `refclock SOCK <folder>/chrony/refclock.sock`.
    PrivateChronyd(const std::filesystem::path& folder, const std::string& refclockOptions)
        : dir_(folder / "chrony") {
        namespace fs = std::filesystem;
        fs::create_directory(dir_);
        std::vector<std::string> args{"-x", "-d", "-f", (dir_ / "chronyd.conf").string(), "-U"};
        // chronyd wants its command socket's folder its own and closed to others.
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
                throw std::runtime_error("no user nobody to run chronyd as");
            args.back() = "-u", args.push_back("nobody");  // as nobody, not as root (-U)
            // It answers chronyc through a socket in there.
            fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
        }
        ::chmod(dir_.c_str(), 0770);
        const std::string d = dir_.string();
        std::ofstream(dir_ / "chronyd.conf")
            << "port 0\ncmdport 0\nbindcmdaddress " << d << "/chronyd.sock\npidfile " << d
            << "/chronyd.pid\ndriftfile " << d << "/chronyd.drift\nlogdir " << d
            << "\nlog refclocks\nrefclock SOCK " << refclockSocket() << " " << refclockOptions
            << "\n";
        process_.emplace(chronyProgram("chronyd"), args);
        for (int i = 0; i < 100 && !fs::exists(refclockSocket()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!fs::exists(refclockSocket()))
            throw std::runtime_error("chronyd made no socket: " + process_->stderrText());
    }
    ~PrivateChronyd() { process_->waitExit(3000, SIGTERM); }

    std::string refclockSocket() const { return (dir_ / "refclock.sock").string(); }
    // What chronyd has said so far.
    const std::string& said() { return said_ += process_->stderrText(); }
    pid_t pid() const { return process_->pid(); }

    // chronyc's comma-separated answer to `command`, numbers in seconds.
    std::string chronyc(const std::string& command) const {
        const std::string line = chronyProgram("chronyc") + " -h " +
                                 (dir_ / "chronyd.sock").string() + " -n -c " + command + " 2>&1";
        std::string out;
        if (FILE* p = ::popen(line.c_str(), "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
            ::pclose(p);
        }
        return out;
    }

    // The estimate `chronyc sourcestats` gives of the refclock: its offset (seconds, positive
    // when the PC clock is ahead) once it rests on `samples` filtered samples or more.
    std::optional<double> offsetEstimate(int samples) const {
        int np = 0;  // name, np, nr, span, frequency, skew, offset
        double offset = 0;
        const char* format = "%*[^,],%d,%*d,%*d,%*f,%*f,%lf";
        const bool read = std::sscanf(chronyc("sourcestats").c_str(), format, &np, &offset) == 2;
        return read && np >= samples ? std::optional(offset) : std::nullopt;
    }

private:
    std::filesystem::path dir_;
    std::optional<ChildProcess> process_;
    std::string said_;
};

}  // namespace tidewell::testing
