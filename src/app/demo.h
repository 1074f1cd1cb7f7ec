#pragma once
// --demo: a simulated GPS receiver on a pseudo-terminal and a temporary settings file that
// points the GPS port at it and sends UDP frames once per second to 127.0.0.1.
#include <string>
#include <sys/types.h>

namespace tidewell {

class Demo {
public:
    Demo() = default;
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;
    ~Demo();

    // Starts the simulator found beside the program and writes the settings file in a folder
    // under $TMPDIR (or /tmp), removed at exit; folders left by killed demos go first. Throws
    // std::runtime_error with a clear reason when it cannot.
    void start(const std::string& programFolder);
    const std::string& settingsFile() const { return settingsFile_; }
    const std::string& gpsDevice() const { return gpsDevice_; }

private:
    pid_t simulator_ = -1;
    int simulatorOutput_ = -1;
    std::string folder_;
    std::string settingsFile_;
    std::string gpsDevice_;
};

}  // namespace tidewell
