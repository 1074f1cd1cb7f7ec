#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tidewell::bench {

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

const char* wineExe() {
    const char* exe = std::getenv("TIDEWELL_WINE_EXE");
    return exe && *exe ? exe : nullptr;
}

// A Linux path as the Windows program names it.
std::string winePath(const std::string& arg) {
    if (arg.empty() || arg[0] != '/') return arg;
    std::string path = "Z:" + arg;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace

bool underWine() {
    return wineExe() != nullptr;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tidewell-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) die("Creating a folder from " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) die("Writing " + path);
}

Program::Program(const std::string& executable, const std::vector<std::string>& args,
                 const std::string& logPath, bool keepDisplay) {
    // A benchmark never sets the clock; under Wine as root the program would set this machine's.
    if (executable == programPath() &&
        std::find(args.begin(), args.end(), "--no-set-clock") == args.end())
        die("the program started without --no-set-clock");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) die("fork");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log < 0 || ::dup2(log, STDOUT_FILENO) < 0 || ::dup2(log, STDERR_FILENO) < 0)
            ::_exit(127);
        if (!keepDisplay) {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
        }
        // The program itself under Wine; the tools beside it (nmea-sim) as they are.
        const bool wine = underWine() && executable == programPath();
        std::vector<std::string> command{executable};
        if (wine) command = {"/usr/bin/wine", wineExe()};
        for (const auto& a : args) command.push_back(wine ? winePath(a) : a);
        std::vector<char*> argv;
        for (auto& a : command) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "Starting %s: %s\n", executable.c_str(), std::strerror(errno));
        ::_exit(127);
    }
}

Program::~Program() {
    stop();
}

bool Program::running() {
    if (pid_ < 0) return false;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int Program::stop() {
    if (!running()) return status_;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
            pid_ = -1;
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
    return status_;
}

std::string settingsText(const std::string& serialDevice, const std::string& gpsDevice) {
    if (underWine()) {
        // The prefix's registry names these links as COM1 and COM2 (claimSyncPort).
        const std::filesystem::path links = std::getenv("WINEPREFIX");
        for (const auto& [name, device] : {std::pair("com1", gpsDevice), {"com2", serialDevice}}) {
            std::error_code ec;
            std::filesystem::remove(links / name, ec);
            if (!device.empty()) std::filesystem::create_symlink(device, links / name);
        }
    }
    std::ostringstream ini;
    ini << "[GPS]\nCOMPORT=" << (gpsDevice.empty() ? "None" : "COM1") << "\nGPSDATE=0\n"
        << "[UDP]\nSENDUDP= 1\nUDPADDRESS=127.0.0.1\nUDPRATE=once per second\n"
        << "[Ports]\n";
    if (!gpsDevice.empty() && !underWine()) ini << "COM1=" << gpsDevice << "\n";
    if (!serialDevice.empty() && !underWine()) ini << "COM2=" << serialDevice << "\n";
    ini << "[SerialSync]\n"
        << (serialDevice.empty() ? "SENDSYNC= 0\nCOMPORT=None\n" : "SENDSYNC= 1\nCOMPORT=COM2\n")
        << "SERIALRATE=once per second\nTIMEUTC=False\nTIMELOCAL=True\n";
    return ini.str();
}

int openSyncListener() {
    const int on = 1;
    if (underWine()) {
        const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        sockaddr_ll lo{};
        lo.sll_family = AF_PACKET;
        lo.sll_protocol = htons(ETH_P_IP);
        lo.sll_ifindex = int(::if_nametoindex("lo"));
        if (fd < 0 || ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) != 0 ||
            ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&lo), sizeof lo) != 0)
            die("Reading the loopback interface");
        return fd;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) die("Creating the UDP listener");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kSyncPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        die("Binding 127.0.0.1:16000");
    return fd;
}

bool receiveOne(int fd, int timeoutMs, std::string& data, long long& arrivalNs);

bool receiveStamped(int fd, int timeoutMs, std::string& data, long long& arrivalNs) {
    if (!receiveOne(fd, timeoutMs, data, arrivalNs)) return false;
    // Off the interface: an IPv4 packet, of which only UDP to port 16000 is a frame.
    while (underWine()) {
        const std::size_t ip = data.empty() ? 0 : (data[0] & 15u) * 4u;
        if (data.size() >= ip + 8 && data[9] == IPPROTO_UDP &&
            ((std::uint8_t(data[ip + 2]) << 8) | std::uint8_t(data[ip + 3])) == kSyncPort) {
            data.erase(0, ip + 8);
            break;
        }
        if (!receiveOne(fd, timeoutMs, data, arrivalNs)) return false;
    }
    return true;
}

bool receiveOne(int fd, int timeoutMs, std::string& data, long long& arrivalNs) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0 && errno != EINTR) die("poll");
    if (ready <= 0) return false;
    char buffer[512];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    iovec iov{buffer, sizeof buffer};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, 0);
    if (n < 0) die("Receiving on 127.0.0.1:16000");
    timespec stamp{};
    bool stamped = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            stamped = true;
        }
    }
    // Without a kernel stamp, the time of reading is the next best thing.
    if (!stamped) ::clock_gettime(CLOCK_REALTIME, &stamp);
    arrivalNs = stamp.tv_sec * 1'000'000'000LL + stamp.tv_nsec;
    data.assign(buffer, std::size_t(n));
    return true;
}

namespace {

bool syncPortTaken() {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", kSyncPort);
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            // "  sl  local_address rem_address ...": the local address is the second field.
            std::istringstream fields(line);
            std::string slot, local;
            fields >> slot >> local;
            if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
        }
    }
    return false;
}

}  // namespace

bool waitForFreeSyncPort(int seconds) {
    for (int waited = 0; syncPortTaken(); ++waited) {
        if (waited == 0)
            std::fprintf(stderr, "UDP port %d is in use by another process; waiting up to %d s\n",
                         kSyncPort, seconds);
        if (waited >= seconds) return false;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return true;
}

namespace {

bool writeProcFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return bool(out.flush());
}

bool bringUpLoopback() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = short(req.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    ::close(fd);
    return up;
}

}  // namespace

bool isolateNetwork(std::string& how) {
    if (::unshare(CLONE_NEWNET) == 0) {
        // Root already: a network namespace alone.
    } else {
        // Otherwise as the root of a user namespace holding only our own ids.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            how = std::string("shared network (no namespace: ") + std::strerror(errno) + ")";
            return false;
        }
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            std::fprintf(stderr, "Mapping ids in a new user namespace failed\n");
            std::exit(1);
        }
    }
    if (!bringUpLoopback()) die("Bringing up loopback in a new network namespace");
    how = "private network namespace, loopback only";
    return true;
}

VirtualDisplay::VirtualDisplay() {
    // Xvfb picks the first free display and writes its number to the pipe once it serves.
    int fds[2];
    if (::pipe(fds) != 0) die("pipe");
    server_.emplace("/usr/bin/Xvfb",
                    std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-nolisten",
                                             "tcp", "-screen", "0", "1024x768x24"},
                    dir_.file("xvfb.log"));
    ::close(fds[1]);
    char number[16] = {};
    pollfd p{fds[0], POLLIN, 0};
    const bool ready = ::poll(&p, 1, 10000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0;
    ::close(fds[0]);
    if (!ready) {
        std::fprintf(stderr, "Xvfb did not start (is it installed? scripts/deps.sh)\n");
        std::exit(1);
    }
    name_ = ":" + std::to_string(std::atoi(number));
    ::setenv("DISPLAY", name_.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    tray_.emplace("/usr/bin/trayer",
                  std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype",
                                           "pixel", "--width", "120", "--height", "24"},
                  dir_.file("trayer.log"), true);
    for (int i = 0; i < 500; ++i) {
        if (!commandOutput("xdotool search --class trayer").empty()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "trayer did not start on %s\n", name_.c_str());
    std::exit(1);
}

std::string commandOutput(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) die("Running " + command);
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
    return out;
}

long long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    // The command name may hold blanks and parentheses; fields restart after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return utime + stime;
}

long long statusValue(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::strtoll(line.c_str() + key.size() + 1, nullptr, 10);
    return -1;
}

Usage threadUsage(pid_t pid) {
    Usage u;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        if (in >> ns) u.nanos += ns;
        u.wakeups += std::max(0LL, statusValue(task.path() / "status", "voluntary_ctxt_switches"));
    }
    return u;
}

std::vector<pid_t> measuredProcesses(pid_t program) {
    if (!underWine()) return {program};
    std::vector<pid_t> pids;
    const std::string mark = std::string("WINEPREFIX=") + std::getenv("WINEPREFIX");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "environ");
        for (std::string var; std::getline(in, var, '\0');)
            if (var == mark) pids.push_back(pid_t(std::stol(name)));
    }
    return pids;
}

long long cpuTicks(const std::vector<pid_t>& pids) {
    long long sum = 0;
    for (pid_t pid : pids) sum += std::max(0LL, cpuTicks(pid));
    return sum;
}

Usage threadUsage(const std::vector<pid_t>& pids) {
    Usage sum;
    for (pid_t pid : pids) {
        const Usage u = threadUsage(pid);
        sum.nanos += u.nanos, sum.wakeups += u.wakeups;
    }
    return sum;
}

long long memoryKb(const std::vector<pid_t>& pids) {
    if (pids.size() == 1) return statusValue("/proc/" + std::to_string(pids[0]) + "/status", "VmHWM");
    long long sum = 0;
    for (pid_t pid : pids)
        sum += std::max(0LL, statusValue("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss"));
    return sum;
}

std::string programPath() {
    if (const char* p = std::getenv("TIDEWELL_PROGRAM"); p && *p) return p;
    return TIDEWELL_PROGRAM;
}

bool claimSyncPort(std::string& how) {
    if (underWine()) {
        if (!std::getenv("WINEPREFIX")) return std::fprintf(stderr, "no WINEPREFIX\n"), false;
        // Wine's server makes the sockets, so it must start in the namespace. A prefix is
        // made once, which takes many seconds; Wine maps COM ports onto the machine's serial
        // devices at every start unless its registry names them.
        if (!isolateNetwork(how)) return std::fprintf(stderr, "%s\n", how.c_str()), false;
        std::system("wineserver -k 2>/dev/null; test -f \"$WINEPREFIX/system.reg\" || {"
                    " for n in 1 2; do wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM$n"
                    " /d \"$WINEPREFIX/com$n\" /f; done; wineserver -k; } >/dev/null 2>&1");
        std::atexit([] { std::system("wineserver -k"); });
        return true;
    }
    if (isolateNetwork(how) || waitForFreeSyncPort(60)) return true;
    std::fprintf(stderr, "UDP port %d stayed in use; not measuring\n", kSyncPort);
    return false;
}

}  // namespace tidewell::bench
