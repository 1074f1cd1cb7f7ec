// Time from the last byte of an RMC sentence written to the GPS line to the clock setter's
// call: the real receiver on a pseudo-terminal, read as the program reads it on the Linux loop
// without a window, feeding the real window model, in-process, with a clock that only records.
#include <pty.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/linux/event_loop_linux.h"
#include "app/orvane_set_time.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_receiver.h"
#include "devices/receiver_watch.h"
#include "fakes.h"
#include "stats.h"

using namespace tidewell;

namespace {

const char* const kUsage =
    "usage: bench_clock_latency [--samples N] [--gap-ms N]\n"
    "Writes RMC sentences for successive minutes at second 00 (each one due for a clock set)\n"
    "to a pseudo-terminal read by the program's receiver and window model, and prints the\n"
    "time from the end of each write to the clock setter's call. No clock is changed.\n"
    "  --samples N   sentences to time (default 1000)\n"
    "  --gap-ms N    idle time before each sentence (default 5), so the reader starts asleep\n"
    "  --precise     instead: PRECISE=1, DELAYMS=250, each sentence written a byte at a time\n"
    "                at 4800 baud's pace, and prints the error of each instant set against the\n"
    "                true one (its second + 250 ms + the time since its first byte was written)\n"
    "                (default 200 samples)\n";

long long monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// The fake clock, plus when each time-of-day set arrived and the UTC instant it set.
class RecordingClock : public fakes::FakeClock {
public:
    std::vector<long long> timeSetAtNs;
    std::vector<Instant> instantsSet;
    std::function<void()> onSet;
    void setLocalTimeOfDay(const ZonedTime& target, DateChoice date) override {
        timeSetAtNs.push_back(monotonicNs());
        instantsSet.push_back(instantOf(target.utc));
        FakeClock::setLocalTimeOfDay(target, date);
        if (onSet) onSet();
    }
};

std::string rmcAt(time_t utc) {
    tm u{};
    ::gmtime_r(&utc, &u);
    char body[96];
    std::snprintf(
        body, sizeof body,
        "GPRMC,%02d%02d%02d.00,A,4807.038,N,01131.000,E,022.4,084.4,%02d%02d%02d,003.1,W,A",
        u.tm_hour, u.tm_min, u.tm_sec, u.tm_mday, u.tm_mon + 1, u.tm_year % 100);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", unsigned(nmeaChecksum(body)));
    std::string line = "$";
    line += body;
    line += tail;
    return line;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

}  // namespace

// Writes `bytes` one at a time, each one character time at 4800 baud after the one before it.
void writePaced(int fd, const std::string& bytes, long long firstNs) {
    constexpr long long kCharNs = 10'000'000'000LL / 4800;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const long long at = firstNs + static_cast<long long>(i) * kCharNs;
        const timespec t{time_t(at / 1'000'000'000), long(at % 1'000'000'000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
        }
        if (::write(fd, &bytes[i], 1) != 1) return;
    }
}

int main(int argc, char** argv) {
    long samples = 0, gapMs = 5;
    bool precise = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--precise") {
            precise = true;
            continue;
        }
        char* end = nullptr;
        long* target = arg == "--samples" ? &samples : arg == "--gap-ms" ? &gapMs : nullptr;
        // At least one sample; no gap at all is a gap.
        if (target && i + 1 < argc &&
            (*target = std::strtol(argv[++i], &end, 10)) >= (target == &samples ? 1 : 0) &&
            *end == '\0')
            continue;
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (samples == 0) samples = precise ? 200 : 1000;
    constexpr long kDelayMs = 250;

    int master = -1, slave = -1;
    char slaveName[256];
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }

    fakes::FakeShell shell;
    fakes::FakeProfileStore profile;
    profile.set("GPS", "COMPORT", "COM1");
    profile.set("GPS", "GPSdate", "1");
    if (precise) {
        profile.set("GPS", "PRECISE", "1");
        profile.set("GPS", "DELAYMS", std::to_string(kDelayMs));
    }
    fakes::FakeAutoRun registry;
    RecordingClock clock;
    fakes::FakeSerialPort serial;
    fakes::FakeUdpSocket udp;
    // Every date an RMC can carry, so the made-up dates below always pass.
    PortNmeaReceiver receiver([&](int port) { return port == 1 ? std::string(slaveName) : ""; },
                               DateWindow{});
    long rejected = 0;
    receiver.SentenceRejected = [&](std::string_view line, const NmeaDecodeResult& r) {
        if (++rejected <= 3)
            std::fprintf(stderr, "rejected: %.*s (%s)\n", int(line.size()), line.data(),
                         r.rejection.c_str());
    };
    ProgramEvents events;  // nothing is told
    OrvaneSetTime window({shell, profile, registry, clock, "bench"}, {receiver, serial, udp}, events,
                         "bench.ini");
    window.Form_Load();
    if (!receiver.isOpen()) {
        std::fprintf(stderr, "the receiver did not open %s\n", slaveName);
        return 1;
    }
    LinuxEventLoop loop;
    ReceiverWatch watch(receiver, loop);
    watch.follow();
    clock.onSet = [&] { loop.quit(0); };

    tm base{};
    base.tm_year = 2030 - 1900, base.tm_mon = 0, base.tm_mday = 1;
    const time_t start = ::timegm(&base);

    std::vector<double> latencyUs, errorMs;
    latencyUs.reserve(std::size_t(samples));
    clock.timeSetAtNs.reserve(std::size_t(samples));
    for (long i = 0; i < samples; ++i) {
        // Minute 0 would match the never-set remembered minute; start at minute 1.
        const std::string sentence = rmcAt(start + (i + 1) * 60);
        if (gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        const std::size_t before = clock.timeSetAtNs.size();
        const long long firstByteNs = monotonicNs() + 1'000'000;
        std::thread writer;
        if (precise) {
            writer = std::thread(writePaced, master, sentence, firstByteNs);
        } else if (!writeAll(master, sentence)) {
            std::perror("writing the pseudo-terminal");
            return 1;
        }
        const long long writtenNs = monotonicNs();
        const auto giveUp = loop.after(1000, [&] { loop.quit(1); });
        if (loop.run() != 0 || rejected || clock.timeSetAtNs.size() == before) {
            std::fprintf(stderr, "sample %ld: no clock set for %s", i, sentence.c_str());
            if (writer.joinable()) writer.join();
            return 1;
        }
        if (writer.joinable()) writer.join();
        latencyUs.push_back(double(clock.timeSetAtNs.back() - writtenNs) / 1e3);
        if (precise) {
            const auto sinceFirstByte =
                std::chrono::nanoseconds(clock.timeSetAtNs.back() - firstByteNs);
            const auto truth =
                std::chrono::sys_seconds(std::chrono::seconds(start + (i + 1) * 60)) +
                std::chrono::milliseconds(kDelayMs) + sinceFirstByte;
            errorMs.push_back(
                std::chrono::duration<double, std::milli>(clock.instantsSet.back() - truth)
                    .count());
        }
    }
    ::close(slave);
    ::close(master);

    if (precise) {
        std::printf("bench_clock_latency --precise: the instant set less the true instant, "
                    "DELAYMS=%ld, 4800-baud pace\n",
                    kDelayMs);
        bench::printSummary(errorMs, "ms");
        for (double& e : errorMs) e = std::abs(e);
        std::sort(errorMs.begin(), errorMs.end());
        std::printf("target p99 of |error| < 5 ms: %s (%.3f ms)\n",
                    bench::percentile(errorMs, 99) < 5 ? "met" : "MISSED",
                    bench::percentile(errorMs, 99));
        return 0;
    }
    std::printf("bench_clock_latency: end of RMC write to the clock setter's call\n");
    std::printf("gap before each sentence: %ld ms\n", gapMs);
    bench::printSummary(latencyUs, "us");
    std::printf("clock sets recorded: %zu (date and time each: %s)\n", clock.timeSetAtNs.size(),
                clock.sets.size() == 2 * clock.timeSetAtNs.size() ? "yes" : "no");
    std::sort(latencyUs.begin(), latencyUs.end());
    std::printf("target p99 < 2 ms: %s\n",
                bench::percentile(latencyUs, 99) < 2000 ? "met" : "MISSED");
    return 0;
}
