// The scan's devices on Linux: the ttys under /dev with their stable names from
// /dev/serial/by-id, and what /proc tells about a device that cannot be used.
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "devices/nmea_receiver.h"
#include "port_scan.h"

namespace tidewell::scan {

namespace fs = std::filesystem;

namespace {

const char* const kStableNames = "/dev/serial/by-id";

std::optional<struct stat> statOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st;
}

// One device, however many names lead to it. The file system counts too: pseudo-terminals of
// two devpts instances (containers) share device numbers.
using Identity = std::tuple<dev_t, dev_t, ino_t>;
Identity identity(const struct stat& st) {
    if (S_ISCHR(st.st_mode)) return {st.st_dev, st.st_rdev, 0};
    return {st.st_dev, 0, st.st_ino};
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// ttyS0 ... ttyS31 are there whether or not a UART is; the serial core knows which have one.
bool uartPresent(const std::string& name, const std::string& path) {
    const std::string type = firstLine("/sys/class/tty/" + name + "/type");
    if (!type.empty()) return type != "0";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

// "ttyUSB10" after "ttyUSB9".
bool naturalLess(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        const auto digits = s.find_last_not_of("0123456789") + 1;
        return std::pair(s.substr(0, digits), std::strtoul(s.c_str() + digits, nullptr, 10));
    };
    return split(a) < split(b);
}

std::vector<Device> devicesFor(const std::vector<std::string>& paths, bool leaveOutMissing) {
    std::map<Identity, std::string> stableName;
    for (const auto& link : entries(kStableNames))
        if (const auto st = statOf(link); st && S_ISCHR(st->st_mode))
            stableName.emplace(identity(*st), link);
    std::vector<Device> devices;
    std::set<Identity> seen;
    for (const auto& path : paths) {
        const auto st = statOf(path);
        if (!st) {
            if (!leaveOutMissing) devices.push_back({path, path, ""});
            continue;
        }
        if (!seen.insert(identity(*st)).second) continue;
        Device device{path, path, ""};
        if (const auto it = stableName.find(identity(*st)); it != stableName.end())
            device.path = device.name = it->second;
        std::error_code ec;
        const std::string real = fs::canonical(path, ec);
        if (!ec && real != device.name) device.aside = real;
        devices.push_back(device);
    }
    return devices;
}

bool isConsole(dev_t device) {
    std::ifstream in("/proc/consoles");
    for (std::string line; std::getline(in, line);) {
        unsigned major = 0, minor = 0;
        const auto last = line.find_last_of(' ');
        if (last != std::string::npos &&
            std::sscanf(line.c_str() + last + 1, "%u:%u", &major, &minor) == 2 &&
            makedev(major, minor) == device)
            return true;
    }
    return false;
}

std::vector<pid_t> processes() {
    std::vector<pid_t> pids;
    for (const auto& path : entries("/proc")) {
        const std::string name = fs::path(path).filename();
        if (name.find_first_not_of("0123456789") == std::string::npos)
            pids.push_back(static_cast<pid_t>(std::atol(name.c_str())));
    }
    return pids;
}

std::string described(pid_t pid) {
    return "PID " + std::to_string(pid) + " (" +
           firstLine("/proc/" + std::to_string(pid) + "/comm") + ")";
}

std::string described(const std::vector<pid_t>& pids) {
    std::string text;
    for (pid_t pid : pids) text += (text.empty() ? "" : ", ") + described(pid);
    return text;
}

bool holdsOpen(pid_t pid, const struct stat& st) {
    for (const auto& fd : entries("/proc/" + std::to_string(pid) + "/fd"))
        if (const auto other = statOf(fd); other && identity(*other) == identity(st)) return true;
    return false;
}

// A login's terminal (a getty on a serial port): a process that has it as its own and open.
std::string terminalOf(const struct stat& st) {
    static const std::multimap<dev_t, pid_t> terminals = [] {
        std::multimap<dev_t, pid_t> found;
        for (pid_t pid : processes()) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
            const std::string stat((std::istreambuf_iterator<char>(in)), {});
            const auto end = stat.rfind(')');
            unsigned tty = 0;
            if (end != std::string::npos &&
                std::sscanf(stat.c_str() + end + 1, " %*c %*d %*d %*d %u", &tty) == 1 && tty != 0)
                found.emplace(makedev((tty >> 8) & 0xfff, (tty & 0xff) | ((tty >> 12) & 0xfff00)),
                              pid);
        }
        return found;
    }();
    for (auto [at, end] = terminals.equal_range(st.st_rdev); at != end; ++at)
        if (holdsOpen(at->second, st)) return described(at->second);
    return {};
}

// Holders of a lock on the device's node, as /proc/locks lists them: "1: FLOCK ADVISORY WRITE
// 4242 00:05:87 0 EOF" (pid, then the node's file system as hex major:minor, and its inode).
std::vector<pid_t> lockers(const struct stat& st) {
    std::vector<pid_t> pids;
    std::ifstream in("/proc/locks");
    for (std::string line; std::getline(in, line);) {
        if (line.find("->") != std::string::npos) continue;  // one waiting for the lock
        std::istringstream fields(line);
        std::string previous, field;
        while (fields >> field) {
            unsigned major = 0, minor = 0;
            unsigned long inode = 0;
            if (std::sscanf(field.c_str(), "%x:%x:%lu", &major, &minor, &inode) == 3) {
                if (makedev(major, minor) == st.st_dev && inode == st.st_ino)
                    pids.push_back(static_cast<pid_t>(std::atol(previous.c_str())));
                break;
            }
            previous = field;
        }
    }
    return pids;
}

// Other processes with the device open, as far as /proc shows them to this user.
std::vector<pid_t> openers(const struct stat& st) {
    std::vector<pid_t> pids;
    for (pid_t pid : processes())
        if (pid != ::getpid() && holdsOpen(pid, st)) pids.push_back(pid);
    return pids;
}

std::string busy(const struct stat& st) {
    if (auto pids = lockers(st); !pids.empty()) return "busy: locked by " + described(pids);
    if (auto pids = openers(st); !pids.empty()) return "busy: in use by " + described(pids);
    return ::geteuid() == 0 ? "busy: another program holds it"
                            : "busy: another program holds it (run as root to see which)";
}

std::string modeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISFIFO(mode) ? "p" : "-";
    for (int bit = 0; bit < 9; ++bit) text += mode & (0400u >> bit) ? "rwxrwxrwx"[bit] : '-';
    return text;
}

std::string permission(const struct stat& st) {
    // getpwuid and getgrgid share static buffers; the listeners run at once.
    static std::mutex names;
    const std::lock_guard hold(names);
    const passwd* owner = ::getpwuid(st.st_uid);
    const std::string ownerName = owner ? owner->pw_name : std::to_string(st.st_uid);
    const group* g = ::getgrgid(st.st_gid);
    const std::string groupName = g ? g->gr_name : std::to_string(st.st_gid);
    const std::string text =
        "permission denied (" + modeText(st.st_mode) + " " + ownerName + ":" + groupName + ")";
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return text + ": only " + ownerName + " may open it";

    std::vector<gid_t> mine(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    mine.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(mine.size()), mine.data()), 0)));
    mine.push_back(::getegid());
    if (std::find(mine.begin(), mine.end(), st.st_gid) != mine.end())
        return text + ", although you are in the group " + groupName;

    bool member = false;
    if (const passwd* me = ::getpwuid(::getuid())) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(me->pw_name, me->pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            ::getgrouplist(me->pw_name, me->pw_gid, groups.data(), &count);
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        member = std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    }
    if (member)
        return text + ": you were added to the group " + groupName +
               " after this session began; log out and in again";
    return text + ": you are not in the group " + groupName + " (sudo usermod -aG " + groupName +
           " $USER, then log out and in again)";
}

}  // namespace

std::unique_ptr<PortNmeaReceiver> makeReceiver(const std::string& path, const DateWindow& dates) {
    return std::make_unique<PortNmeaReceiver>([path](int) { return path; }, dates);
}

bool waitForInput(const NmeaReceiver& receiver, std::chrono::milliseconds wait) {
    pollfd p{static_cast<int>(receiver.readHandle()), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

std::vector<Device> serialDevices() {
    std::vector<std::string> ttys;
    for (const auto& path : entries("/dev")) {
        const std::string name = fs::path(path).filename();
        for (const std::string prefix : {"ttyACM", "ttyUSB", "ttyAMA", "ttyS"})
            if (name.size() > prefix.size() && name.starts_with(prefix) &&
                name.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
                (prefix != "ttyS" || uartPresent(name, path)))
                ttys.push_back(path);
    }
    std::sort(ttys.begin(), ttys.end(), naturalLess);
    // Stable names only rename these, but may also lead to a driver's ttys of other names.
    for (const auto& link : entries(kStableNames)) ttys.push_back(link);
    return devicesFor(ttys, true);
}

std::vector<Device> namedDevices(const std::vector<std::string>& names) {
    return devicesFor(names, false);
}

std::string leaveAlone(const Device& device) {
    const auto st = statOf(device.path);
    if (!st || !S_ISCHR(st->st_mode)) return {};
    if (isConsole(st->st_rdev)) return "left alone: the system console";
    if (const std::string holder = terminalOf(*st); !holder.empty())
        return "left alone: the terminal of " + holder;
    // Root opens past another program's TIOCEXCL, and would take that program's input.
    if (::geteuid() != 0) return {};
    const int fd = ::open(device.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    int exclusive = 0;
    const bool held = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    ::close(fd);
    return held ? busy(*st) : std::string();
}

std::string openFailure(const Device& device, int systemNumber, const std::string& words) {
    const auto st = statOf(device.path);
    switch (systemNumber) {
    case EACCES:
    case EPERM:
        if (st) return permission(*st);
        break;
    case EBUSY:
        if (st) return busy(*st);
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device";
    case ENOTTY:
        return "not a serial device";
    default:
        break;
    }
    const auto colon = words.rfind(": ");
    return "cannot open it: " + (colon == std::string::npos ? words : words.substr(colon + 2));
}

std::string advice(const std::vector<std::pair<Device, Verdict>>& receivers) {
    if (receivers.empty()) return "\nNo GPS receiver found.\n";
    const std::size_t count = std::min<std::size_t>(receivers.size(), 8);
    std::string text = "\nPut these lines in Tidewell.ini and choose COM1";
    if (count == 2) text += " (or COM2)";
    if (count > 2) text += " (or COM2 ... COM" + std::to_string(count) + ")";
    text += " as the GPS port:\n[Ports]\n";
    int baud = receivers.front().second.baud;
    for (std::size_t i = 0; i < count; ++i) {
        text += "COM" + std::to_string(i + 1) + "=" + receivers[i].first.name + "\n";
        if (receivers[i].second.baud != baud) baud = 0;
    }
    if (baud == 0)
        text += "BAUD=auto\n";
    else if (baud != 4800)
        text += "BAUD=" + std::to_string(baud) + "\n";
    return text;
}

}  // namespace tidewell::scan
