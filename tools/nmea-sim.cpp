// A GPS receiver on a pseudo-terminal: prints the terminal's path on the first line, then
// sends RMC and GGA sentences at the pace of a 4800-baud line, a byte at a time like a UART
// or a sentence at a time like a USB receiver.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "devices/nmea_decode.h"

namespace {

constexpr long kNanosPerByte = 2'083'333;  // 10 bits at 4800 baud
constexpr long kNanosPerSecond = 1'000'000'000;

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

const char* const kUsage =
    "Usage: nmea-sim [OPTIONS]\n"
    "A GPS receiver on a pseudo-terminal. Prints the terminal's path on the first line,\n"
    "then writes NMEA sentences to it at 4800-baud pace until stopped (SIGINT/SIGTERM).\n"
    "\n"
    "  (no options)          $GPRMC and $GPGGA for the current UTC second, at each second\n"
    "  --start T             simulate from T (YYYY-MM-DDTHH:MM:SS), one second per RMC\n"
    "  --rate N              with --start: N RMC sentences, each with its GGA, per real\n"
    "                        second (default 1). 4800 baud carries about 3 of them a second;\n"
    "                        above that the pacing is dropped so that N a second arrive,\n"
    "                        each pair written at once on its tick\n"
    "  --chunk byte|sentence byte (default): one byte per write, 4800-baud pace, like a\n"
    "                        UART; sentence: each sentence in one write when its last byte\n"
    "                        would have arrived, as a USB receiver delivers it\n"
    "  --fraction .xx        fraction written after the seconds (default .00; '' for none)\n"
    "  --replay FILE         write FILE byte for byte instead, then stop\n"
    "  --bad-checksum N      every Nth RMC carries a wrong checksum\n"
    "  --void N              every Nth RMC has status V\n"
    "  --junk N              binary junk before every Nth RMC\n"
    "  --count N             stop after N RMC sentences\n"
    "  --delay MS            each second's first byte leaves MS (0-999) after a whole\n"
    "                        second of the PC clock, as real receivers send late; without\n"
    "                        --start that is the second it names; with it, --rate is 1\n"
    "  --baud N              the receiver's speed (4800, 9600, 19200, 38400, 57600, 115200):\n"
    "                        while the reader's terminal is set to another speed, it gets\n"
    "                        noise instead (the pacing stays that of 4800 baud)\n"
    "  --help                this text\n";

enum class Chunk { Byte, Sentence };

struct Options {
    std::optional<time_t> start;
    int rate = 1;
    Chunk chunk = Chunk::Byte;
    std::string fraction = ".00";
    std::string replay;
    int badChecksum = 0, voidEvery = 0, junk = 0;
    long count = 0;
    speed_t baud = 0;  // 0: whatever the reader sets
    std::optional<long> delayMs;
};

bool positive(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v <= 0) return false;
    out = v;
    return true;
}

std::optional<time_t> parseStart(std::string_view text) {
    if (text.size() != 19 || text[10] != 'T') return std::nullopt;
    const auto date = tidewell::calendar::parseIsoDate(text.substr(0, 10));
    int h = 0, m = 0, s = 0;
    if (!date ||
        std::sscanf(std::string(text.substr(11)).c_str(), "%2d:%2d:%2d", &h, &m, &s) != 3 ||
        h > 23 || m > 59 || s > 59 || h < 0 || m < 0 || s < 0)
        return std::nullopt;
    tm t{};
    t.tm_year = date->year - 1900, t.tm_mon = date->month - 1, t.tm_mday = date->day;
    t.tm_hour = h, t.tm_min = m, t.tm_sec = s;
    return timegm(&t);
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--start") {
            if (!(o.start = parseStart(value))) return std::nullopt;
        } else if (arg == "--fraction") {
            o.fraction = value;
            if (!o.fraction.empty() &&
                (o.fraction[0] != '.' || o.fraction.size() < 2 || o.fraction.size() > 10 ||
                 o.fraction.find_first_not_of("0123456789", 1) != std::string::npos))
                return std::nullopt;
        } else if (arg == "--replay") {
            o.replay = value;
        } else if (arg == "--chunk") {
            if (std::string_view(value) != "byte" && std::string_view(value) != "sentence")
                return std::nullopt;
            o.chunk = std::string_view(value) == "byte" ? Chunk::Byte : Chunk::Sentence;
        } else if (arg == "--baud") {
            const std::string_view b = value;
            o.baud = b == "4800" ? B4800 : b == "9600" ? B9600 : b == "19200" ? B19200
                   : b == "38400" ? B38400 : b == "57600" ? B57600 : b == "115200" ? B115200 : 0;
            if (o.baud == 0) return std::nullopt;
        } else if (arg == "--delay") {
            n = 0;
            if (std::string_view(value) != "0" && !positive(value, n)) return std::nullopt;
            if ((o.delayMs = n) > 999) return std::nullopt;
        } else if (!positive(value, n) || n > 1'000'000) {
            return std::nullopt;
        } else if (arg == "--rate") {
            o.rate = static_cast<int>(n);
        } else if (arg == "--bad-checksum") {
            o.badChecksum = static_cast<int>(n);
        } else if (arg == "--void") {
            o.voidEvery = static_cast<int>(n);
        } else if (arg == "--junk") {
            o.junk = static_cast<int>(n);
        } else if (arg == "--count") {
            o.count = n;
        } else {
            return std::nullopt;
        }
    }
    if (o.delayMs && o.start && o.rate != 1) return std::nullopt;
    return o;
}

timespec now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t;
}

void advance(timespec& t, long nanos) {
    t.tv_nsec += nanos;
    while (t.tv_nsec >= kNanosPerSecond) t.tv_nsec -= kNanosPerSecond, ++t.tv_sec;
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// False when a stop was requested while waiting.
bool sleepUntil(clockid_t clock, const timespec& when) {
    while (!stopRequested) {
        const int rc = clock_nanosleep(clock, TIMER_ABSTIME, &when, nullptr);
        if (rc == 0) return !stopRequested;
        if (rc != EINTR) return false;
    }
    return false;
}

// Writes in chunks of one byte or one sentence (up to and with its '\n'). Paced, a chunk
// leaves when its last byte would have left a 4800-baud line; unpaced, at once.
class LineWriter {
public:
    LineWriter(int fd, Chunk chunk, bool paced)
        : fd_(fd), chunk_(chunk), paced_(paced), next_(now(CLOCK_MONOTONIC)) {}

    // A pty passes bytes whatever speed its ends are set to, so a wrong speed is acted out:
    // the reader's speed is read from the slave side (all its openers share one setting)
    // before every chunk, and while it differs from `baud` the chunk goes out as noise, as a
    // UART would misread it. The noise never holds a '$', so no sentence can pass by chance.
    void speedFrom(int slave, speed_t baud) { slave_ = slave, baud_ = baud; }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t size =
                chunk_ == Chunk::Byte ? 1 : std::min(bytes.find('\n'), bytes.size() - 1) + 1;
            if (paced_) {
                const timespec current = now(CLOCK_MONOTONIC);
                // After an idle gap the line starts afresh rather than catching up in a burst.
                if (before(next_, current)) next_ = current;
                advance(next_, kNanosPerByte * long(size - 1));
                if (!sleepUntil(CLOCK_MONOTONIC, next_)) return false;
                advance(next_, kNanosPerByte);
            } else if (stopRequested) {
                return false;
            }
            std::string chunk(bytes.substr(0, size));
            termios tio{};
            if (baud_ != 0 && tcgetattr(slave_, &tio) == 0 && cfgetispeed(&tio) != baud_)
                for (char& c : chunk) {
                    seed_ = seed_ * 1664525u + 1013904223u;
                    c = static_cast<char>(seed_ >> 24);
                    if (c == '$') c = '\x80';
                }
            // Nobody reading (EAGAIN, EIO) is normal for a receiver: the bytes are lost.
            if (::write(fd_, chunk.data(), size) < 0 && errno != EAGAIN && errno != EIO &&
                errno != EINTR) {
                std::perror("nmea-sim: write");
                return false;
            }
            bytes.remove_prefix(size);
        }
        return true;
    }

private:
    int fd_;
    Chunk chunk_;
    bool paced_;
    timespec next_;
    int slave_ = -1;
    speed_t baud_ = 0;
    std::uint32_t seed_ = 2024;
};

// Whether `rate` cycles like `sample` a second fit on a 4800-baud line.
bool lineCarries(int rate, std::size_t sampleBytes) {
    return double(rate) * double(sampleBytes) * double(kNanosPerByte) <= double(kNanosPerSecond);
}

std::string sentence(std::string_view body, bool corrupt) {
    char tail[8];
    const unsigned sum = tidewell::nmeaChecksum(body) ^ (corrupt ? 0x5Au : 0u);
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum & 0xFFu);
    return "$" + std::string(body) + tail;
}

std::string junkBytes(std::uint32_t& seed) {
    std::string junk;
    for (int i = 0; i < 16; ++i) {
        seed = seed * 1664525u + 1013904223u;
        junk.push_back(static_cast<char>(seed >> 24));
    }
    return junk;
}

std::string cycle(time_t t, long n, const Options& o, std::uint32_t& seed) {
    tm u{};
    gmtime_r(&t, &u);
    char hms[64], dmy[40];
    std::snprintf(hms, sizeof hms, "%02d%02d%02d%s", u.tm_hour, u.tm_min, u.tm_sec,
                  o.fraction.c_str());
    std::snprintf(dmy, sizeof dmy, "%02d%02d%02d", u.tm_mday, u.tm_mon + 1, u.tm_year % 100);
    const bool isVoid = o.voidEvery && n % o.voidEvery == 0;
    const std::string rmc = std::string("GPRMC,") + hms + (isVoid ? ",V" : ",A") +
                            ",4807.038,N,01131.000,E,022.4,084.4," + dmy + ",003.1,W,A";
    const std::string gga =
        std::string("GPGGA,") + hms + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    std::string out;
    if (o.junk && n % o.junk == 0) out += junkBytes(seed);
    out += sentence(rmc, o.badChecksum && n % o.badChecksum == 0);
    out += sentence(gga, false);
    return out;
}

int openTerminal(std::string& slavePath, int& slave) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("nmea-sim: posix_openpt");
        return -1;
    }
    const char* name = ptsname(master);
    if (!name) {
        std::perror("nmea-sim: ptsname");
        return -1;
    }
    slavePath = name;
    // Held open for the whole run: keeps the raw settings between readers and keeps a
    // reader's close from hanging up the line.
    slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0) {
        std::perror("nmea-sim: opening the terminal");
        return -1;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return master;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const Options& o = *options;
    std::string replay;
    if (!o.replay.empty()) {
        std::ifstream in(o.replay, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "nmea-sim: cannot read %s\n", o.replay.c_str());
            return 1;
        }
        replay.assign(std::istreambuf_iterator<char>(in), {});
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;  // no SA_RESTART: sleeps end at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string path;
    int slave = -1;
    const int master = openTerminal(path, slave);
    if (master < 0) return 1;
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    // A --rate the line cannot carry drops the pacing, so that the rate holds.
    bool paced = true;
    if (o.start && o.replay.empty()) {
        Options plain = o;
        plain.junk = 0;
        std::uint32_t seed = 0;
        paced = lineCarries(o.rate, cycle(*o.start, 1, plain, seed).size());
    }
    LineWriter writer(master, o.chunk, paced);
    writer.speedFrom(slave, o.baud);
    if (!o.replay.empty()) {
        writer.write(replay);
    } else {
        std::uint32_t seed = 12345;
        // Simulated time goes at its rate; otherwise each sentence leaves on the PC's second.
        const bool onSeconds = !o.start || o.delayMs;
        const clockid_t clock = onSeconds ? CLOCK_REALTIME : CLOCK_MONOTONIC;
        timespec tick = now(clock);
        if (onSeconds) {
            tick.tv_sec += 1;
            tick.tv_nsec = o.delayMs.value_or(0) * 1'000'000;
        } else {
            advance(tick, kNanosPerSecond / o.rate);
        }
        for (long n = 1; !stopRequested && (o.count == 0 || n <= o.count); ++n) {
            if (!sleepUntil(clock, tick)) break;
            const time_t t = o.start ? *o.start + (n - 1) : tick.tv_sec;
            if (!writer.write(cycle(t, n, o, seed))) break;
            if (!onSeconds) {
                advance(tick, kNanosPerSecond / o.rate);
            } else {
                // Whole seconds, skipping any that the writing overran.
                const timespec current = now(CLOCK_REALTIME);
                for (++tick.tv_sec; before(tick, current);) ++tick.tv_sec;
            }
        }
    }
    // Lets a reader take the last bytes before the line hangs up.
    timespec linger = now(CLOCK_MONOTONIC);
    advance(linger, kNanosPerSecond / 2);
    sleepUntil(CLOCK_MONOTONIC, linger);
    ::close(slave);
    ::close(master);
    return 0;
}
