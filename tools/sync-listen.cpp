// sync-listen: receives time sync frames over UDP or from a serial device, checks their layout
// and prints one line per frame with its offset from this machine's clock.
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "platform/calendar.h"

namespace {

constexpr std::size_t kFrameLength = 35;

struct Options {
    std::string bind = "127.0.0.1";
    int port = 16000;
    std::string device;
    long count = 0;      // 0: no limit
    double timeout = 0;  // seconds, 0: none
};

const char kUsage[] =
    "Usage: sync-listen [--bind ADDR] [--port N] | [--device PATH]  [--count N] [--timeout S]\n"
    "\n"
    "Receives 35-byte time sync frames and prints one line per frame: arrival time (local),\n"
    "the frame's date-time and mode, its offset from this clock (UTC frames against UTC),\n"
    "and OK or BAD with the reason and the raw bytes.\n"
    "\n"
    "  --bind ADDR    IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for broadcasts)\n"
    "  --port N       UDP port (default 16000)\n"
    "  --device PATH  read a serial device at 9600 8N1 instead of UDP\n"
    "  --count N      exit after N frames\n"
    "  --timeout S    exit after S seconds\n"
    "\n"
    "Exit status: 0 all frames OK (and --count reached), 1 a BAD frame or too few frames,\n"
    "2 usage or set-up error.\n";

struct Decoded {
    bool ok = false;
    std::string reason;
    bool utc = false;
    bool batterySave = false;
    int second = 0, minute = 0, hour = 0, day = 0, month = 0, year = 0;
};

int number(std::string_view s) {
    int v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

Decoded decode(std::string_view f) {
    Decoded d;
    auto bad = [&](std::string why) {
        d.reason = std::move(why);
        return d;
    };
    if (f.size() != kFrameLength)
        return bad("length " + std::to_string(f.size()) + ", expected 35");
    if (f[0] != '*') return bad("no '*' at start");
    for (std::size_t i = 1; i < 15; ++i)
        if (f[i] < '0' || f[i] > '9')
            return bad("not a digit at position " + std::to_string(i + 1));

    const std::string_view trailer = f.substr(15);
    if (trailer == "0000000001000000000#") {
        d.utc = true;
    } else if (trailer == "0000000001001000000#") {
        d.utc = d.batterySave = true;
    } else if (trailer == "         1         #") {
    } else if (trailer == "         1  1      #") {
        d.batterySave = true;
    } else {
        return bad("unknown trailer");
    }

    d.second = number(f.substr(1, 2));
    d.minute = number(f.substr(3, 2));
    d.hour = number(f.substr(5, 2));
    const int first = number(f.substr(7, 2)), second = number(f.substr(9, 2));
    d.month = d.utc ? first : second;
    d.day = d.utc ? second : first;
    d.year = number(f.substr(11, 4));

    if (d.second > 59) return bad("second " + std::to_string(d.second) + " out of range");
    if (d.minute > 59) return bad("minute " + std::to_string(d.minute) + " out of range");
    if (d.hour > 23) return bad("hour " + std::to_string(d.hour) + " out of range");
    if (d.month < 1 || d.month > 12)
        return bad("month " + std::to_string(d.month) + " out of range" +
                   (d.utc ? "" : " (local frames carry the day first)"));
    if (!tidewell::calendar::isValid(d.year, d.month, d.day))
        return bad("day " + std::to_string(d.day) + " out of range for month " +
                   std::to_string(d.month));
    if (d.year < 1) return bad("year 0000");
    if (d.batterySave && (d.hour == 2 || d.hour == 15))
        return bad("battery-save trailer at hour " + std::to_string(d.hour));
    d.ok = true;
    return d;
}

std::string escape(std::string_view raw) {
    std::string out = "\"";
    for (unsigned char c : raw) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

std::string localStamp(const timespec& t) {
    tm local{};
    localtime_r(&t.tv_sec, &local);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03ld", t.tv_nsec / 1000000);
    return text;
}

tm fieldsOf(const Decoded& d) {
    tm t{};
    t.tm_year = d.year - 1900;
    t.tm_mon = d.month - 1;
    t.tm_mday = d.day;
    t.tm_hour = d.hour;
    t.tm_min = d.minute;
    t.tm_sec = d.second;
    return t;
}

// The instant a local frame shows. In the hour that repeats when summer time ends, its fields
// name two instants; the one nearer the arrival is meant.
time_t localInstant(const Decoded& d, time_t arrival) {
    tm guess = fieldsOf(d);
    guess.tm_isdst = -1;
    time_t best = mktime(&guess);
    for (int isDst : {0, 1}) {
        tm t = fieldsOf(d);
        t.tm_isdst = isDst;
        const time_t at = mktime(&t);
        // A reading that mktime had to move names another wall time, not this frame's.
        if (at != -1 && t.tm_hour == d.hour && t.tm_min == d.minute &&
            std::llabs(at - arrival) < std::llabs(best - arrival))
            best = at;
    }
    return best;
}

struct Tally {
    long frames = 0;
    long bad = 0;
};

void report(std::string_view raw, const timespec& arrival, const std::string& source,
            Tally& tally) {
    ++tally.frames;
    const Decoded d = decode(raw);
    std::string line = localStamp(arrival);
    if (!source.empty()) line += "  from " + source;
    if (d.ok) {
        char text[120];
        tm fields = fieldsOf(d);
        const time_t frameTime = d.utc ? timegm(&fields) : localInstant(d, arrival.tv_sec);
        const double offset = static_cast<double>(frameTime - arrival.tv_sec) -
                              static_cast<double>(arrival.tv_nsec) / 1e9;
        std::snprintf(text, sizeof text, "  %04d-%02d-%02d %02d:%02d:%02d %s%s  offset %+.3f s  OK",
                      d.year, d.month, d.day, d.hour, d.minute, d.second, d.utc ? "UTC" : "local",
                      d.batterySave ? " battery-save" : "", offset);
        line += text;
    } else {
        ++tally.bad;
        line += "  BAD: " + d.reason + "  " + escape(raw);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

timespec nowRealtime() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

double monotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool parseNumber(const char* text, long& out) {
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && p == end;
}

int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "sync-listen: %s needs a value (or is unknown)\n%s", argv[i],
                         kUsage);
            return 2;
        }
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--bind") {
            o.bind = value;
        } else if (arg == "--port" && parseNumber(value, n) && n > 0 && n < 65536) {
            o.port = static_cast<int>(n);
        } else if (arg == "--device") {
            o.device = value;
        } else if (arg == "--count" && parseNumber(value, n) && n > 0) {
            o.count = n;
        } else if (arg == "--timeout") {
            char* end = nullptr;
            o.timeout = std::strtod(value, &end);
            if (*end != '\0' || o.timeout <= 0) {
                std::fprintf(stderr, "sync-listen: bad --timeout %s\n", value);
                return 2;
            }
        } else {
            std::fprintf(stderr, "sync-listen: bad option %s %s\n%s", argv[i - 1], value, kUsage);
            return 2;
        }
    }
    return -1;
}

int openUdp(const Options& o) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (inet_pton(AF_INET, o.bind.c_str(), &addr.sin_addr) != 1) {
        std::fprintf(stderr, "sync-listen: --bind %s is not an IPv4 address\n", o.bind.c_str());
        return -1;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    // Reuse lets it listen beside the program itself, which holds port 16000 the same way.
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "sync-listen: binding %s:%d: %s\n", o.bind.c_str(), o.port,
                     std::strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    std::printf("listening on udp %s:%d\n", o.bind.c_str(), o.port);
    std::fflush(stdout);
    return fd;
}

int openSerial(const Options& o) {
    int fd = open(o.device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        std::fprintf(stderr, "sync-listen: opening %s: %s\n", o.device.c_str(),
                     std::strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        std::fprintf(stderr, "sync-listen: setting up %s: %s\n", o.device.c_str(),
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    std::printf("reading %s\n", o.device.c_str());
    std::fflush(stdout);
    return fd;
}

// Cuts whole frames out of a serial byte stream: a frame starts at "*" and is 35 bytes long;
// a "*" inside those 35 bytes means the earlier frame was cut short.
void takeFrames(std::string& stream, const timespec& arrival, Tally& tally, long limit) {
    while (!stream.empty() && (limit == 0 || tally.frames < limit)) {
        const std::size_t star = stream.find('*');
        if (star != 0) {
            const std::size_t junk = star == std::string::npos ? stream.size() : star;
            report(std::string_view(stream).substr(0, junk), arrival, {}, tally);
            stream.erase(0, junk);
            continue;
        }
        const std::size_t next = stream.find('*', 1);
        if (next != std::string::npos && next < kFrameLength) {
            report(std::string_view(stream).substr(0, next), arrival, {}, tally);
            stream.erase(0, next);
            continue;
        }
        if (stream.size() < kFrameLength) return;
        report(std::string_view(stream).substr(0, kFrameLength), arrival, {}, tally);
        stream.erase(0, kFrameLength);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int rc = parseOptions(argc, argv, o); rc >= 0) return rc;

    const bool serial = !o.device.empty();
    const int fd = serial ? openSerial(o) : openUdp(o);
    if (fd < 0) return 2;

    Tally tally;
    std::string stream;
    const double deadline = o.timeout > 0 ? monotonicSeconds() + o.timeout : 0;
    while (o.count == 0 || tally.frames < o.count) {
        int waitMs = -1;
        if (deadline > 0) {
            const double left = deadline - monotonicSeconds();
            if (left <= 0) break;
            waitMs = static_cast<int>(left * 1000) + 1;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            std::fprintf(stderr, "sync-listen: poll: %s\n", std::strerror(errno));
            return 2;
        }
        if (ready == 0) continue;

        char buffer[2048];
        if (serial) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) {
                // A pty whose writer closed reports EIO; there is nothing more to read.
                if (n < 0 && errno != EIO)
                    std::fprintf(stderr, "sync-listen: reading %s: %s\n", o.device.c_str(),
                                 std::strerror(errno));
                break;
            }
            stream.append(buffer, static_cast<std::size_t>(n));
            takeFrames(stream, nowRealtime(), tally, o.count);
        } else {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            const timespec arrival = nowRealtime();
            if (n < 0) continue;
            char host[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &from.sin_addr, host, sizeof host);
            const std::size_t kept = std::min(static_cast<std::size_t>(n), sizeof buffer);
            std::string raw(buffer, kept);
            if (static_cast<std::size_t>(n) > kept) raw.resize(static_cast<std::size_t>(n), '?');
            report(raw, arrival, std::string(host) + ":" + std::to_string(ntohs(from.sin_port)),
                   tally);
        }
    }
    if (!stream.empty() && (o.count == 0 || tally.frames < o.count))
        report(stream, nowRealtime(), {}, tally);
    close(fd);

    if (tally.bad > 0) return 1;
    if (o.count > 0 && tally.frames < o.count) {
        std::fprintf(stderr, "sync-listen: %ld of %ld frames before the timeout\n", tally.frames,
                     o.count);
        return 1;
    }
    return 0;
}
