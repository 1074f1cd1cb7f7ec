#pragma once
// Starting the real program on a settings file of the harness's own, and the loopback
// listener that stands in for the wall clocks.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tidewell::bench {

constexpr int kSyncPort = 16000;

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& text);

// The program as a child process with stdout and stderr to `logPath`; it gets SIGTERM if the
// harness dies first, and on destruction. Without `keepDisplay` it sees no display.
class Program {
public:
    Program(const std::string& executable, const std::vector<std::string>& args,
            const std::string& logPath, bool keepDisplay = false);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    pid_t pid() const { return pid_; }
    bool running();
    // SIGTERM, then SIGKILL after two seconds. Returns the wait status.
    int stop();

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// The settings for a run with UDP once per second to 127.0.0.1; when `serialDevice` is not
// empty, serial sync once per second on COM2 mapped to that device; when `gpsDevice` is not
// empty, the GPS port COM1 mapped to that device, otherwise none.
std::string settingsText(const std::string& serialDevice, const std::string& gpsDevice = {});

// A UDP socket bound to 127.0.0.1:16000 with SO_REUSEADDR and kernel arrival stamps
// (SO_TIMESTAMPNS). A listener bound to the exact address wins the program's own wildcard
// socket for datagrams to 127.0.0.1. Exits the harness on failure.
int openSyncListener();

// Receives one datagram waiting at most `timeoutMs`; false on timeout. `arrival` is the
// kernel's CLOCK_REALTIME stamp in nanoseconds since the epoch.
bool receiveStamped(int fd, int timeoutMs, std::string& data, long long& arrivalNs);

// Waits up to `seconds` while another process holds UDP port 16000 (tests running at the
// same time); false if it stays taken. Sharing the port would mix their frames with ours.
bool waitForFreeSyncPort(int seconds);

// Moves this process (and the children it starts later) into a network namespace of its own
// with only a loopback interface, so tests using port 16000 at the same time neither take
// our frames nor send us theirs. Call before starting threads. False (and nothing changed)
// where namespaces are not allowed; `how` says what happened.
bool isolateNetwork(std::string& how);

// A network namespace of our own, or else port 16000 free within a minute; false (said on
// stderr) when neither can be had. `how` says which.
bool claimSyncPort(std::string& how);

// An Xvfb server on a free display number with trayer as its system tray, DISPLAY set to it
// in this process; both stopped on destruction. Exits the harness if either fails to start.
class VirtualDisplay {
public:
    VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    const std::string& name() const { return name_; }

private:
    TempDir dir_;
    std::string name_;
    std::optional<Program> server_, tray_;
};

// A shell command's standard output (its stderr discarded).
std::string commandOutput(const std::string& command);

// utime + stime of a process in clock ticks (/proc/PID/stat), or -1 once it is gone.
long long cpuTicks(pid_t pid);

// A "Key:   1234" line's number from a /proc status file, or -1.
long long statusValue(const std::string& file, const std::string& key);

// Nanoseconds on the CPU (schedstat, finer than clock ticks) and voluntary context switches,
// each summed over the threads alive now: a thread's switches are not in the process's line.
struct Usage {
    long long nanos = 0, wakeups = 0;
};
Usage threadUsage(pid_t pid);

// The program's path: TIDEWELL_PROGRAM from the build, or $TIDEWELL_PROGRAM.
std::string programPath();

// With $TIDEWELL_WINE_EXE set, the program measured is that tidewell.exe under Wine, in the
// prefix $WINEPREFIX: Program starts it through wine (paths on its command line in Wine's Z:
// form), settingsText maps COM1 and COM2 through the prefix's dosdevices links, the sync
// listener reads the frames off the loopback interface (the program's socket holds port 16000
// without sharing it), and the processes measured are all of the prefix's (wineserver too).
bool underWine();
std::vector<pid_t> measuredProcesses(pid_t program);
long long cpuTicks(const std::vector<pid_t>& pids);
Usage threadUsage(const std::vector<pid_t>& pids);
// Peak resident memory (VmHWM) of one process; of several (Wine's), the proportional set sizes
// now summed, which count the pages they share once.
long long memoryKb(const std::vector<pid_t>& pids);

}  // namespace tidewell::bench
