// Decodes NMEA sentences from a file or a device the way the program receives them and
// prints one line per sentence: the UTC time of a delivered RMC, the type of any other
// delivered sentence, or why an RMC was rejected. Or finds which device the receiver is on.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "devices/line_speed.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "gps/date_value.h"
#include "gps/receiver_phase.h"
#include "platform/error.h"
#include "port_scan.h"

namespace {

const char* const kUsage =
    "Usage: nmea-check [--earliest YYYY-MM-DD] FILE\n"
    "  or:  nmea-check [--earliest YYYY-MM-DD] [--idle S] --device PATH\n"
    "  or:  nmea-check --phase [N] --device PATH\n"
    "  or:  nmea-check [--earliest YYYY-MM-DD] --scan [DEVICE...]\n"
    "Frames and decodes NMEA-0183 sentences as the program does and prints, per sentence:\n"
    "  YYYY-MM-DDTHH:MM:SS.sss          a delivered RMC (its UTC date and time)\n"
    "  TYPE                             any other delivered sentence (GGA, PGRME, ...)\n"
    "  rejected: REASON: SENTENCE       an RMC that carries no valid time data\n"
    "--earliest: RMC dates before it are rejected (default: the build date). Dates more\n"
    "  than 1024 weeks (one GPS week-number cycle) after the build date always are.\n"
    "--device finds the line's speed as BAUD=auto does (4800, 9600, 38400, 115200, 19200)\n"
    "  and tells it on stderr (\"nmea-check: 9600 baud\"). It reads until the device goes\n"
    "  away, SIGINT/SIGTERM, or with --idle until no byte has come for S seconds (a decimal,\n"
    "  e.g. 0.5); the exit status is 0 in each case.\n"
    "--phase: time-stamps the first byte of N RMC sentences (default 60) against the PC clock\n"
    "  and prints how late they come after their second (median, p5, p95, jitter), how far\n"
    "  the default clock setting leaves the PC off, and the DELAYMS value for this receiver.\n"
    "  Run it on a PC that NTP keeps in step.\n"
    "--scan: which device is the receiver on? Listens to every serial device of the machine\n"
    "  (or the DEVICEs named) at once, each with the speed hunt of --device, for up to 20 s,\n"
    "  and prints one line per device: NMEA at a speed, with or without valid time, noise,\n"
    "  nothing, or why it cannot be opened (permission, busy and by whom, no such device);\n"
    "  then the settings that make the program use the receiver found. The exit status is\n"
    "  0 when one was found.\n";

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

tidewell::CivilDate buildDate() {
    const auto date = tidewell::calendar::parseCompilerDate(__DATE__);
    return date ? *date : tidewell::CivilDate{2000, 1, 1};
}

std::string escaped(std::string_view line) {
    std::string out;
    for (char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c <= 0x7E && c != '\\') {
            out.push_back(ch);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

void printDelivered(const tidewell::NmeaSentence& s) {
    if (s.utc)
        std::cout << tidewell::formatUtcMillis(*s.utc) << '\n';
    else
        std::cout << s.TypeID << '\n';
}

void printRejected(std::string_view typeId, std::string_view line, std::string_view reason) {
    if (typeId == "RMC") std::cout << "rejected: " << reason << ": " << escaped(line) << '\n';
}

int checkFile(const std::string& path, const tidewell::DateWindow& dates) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "nmea-check: cannot read " << path << '\n';
        return 1;
    }
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    tidewell::NmeaFramer framer;
    const auto onLine = [&](std::string_view line) {
        const auto result = tidewell::decodeNmeaSentence(line, dates);
        if (result.sentence)
            printDelivered(*result.sentence);
        else
            printRejected(result.typeId, line, result.rejection);
    };
    framer.feed(bytes, onLine);
    framer.finish(onLine);
    return 0;
}

// How late each RMC sentence's first byte comes after the UTC second it names, by the PC clock.
// The receiver stamps the byte as it does for the program, so the delay found is the one
// the program's precise setting needs.
class PhaseMeter {
public:
    void sentence(const tidewell::NmeaSentence& s) {
        if (!s.utc) return;
        const auto wallNow = std::chrono::system_clock::now();
        delays_.push_back(tidewell::firstByteDelaySeconds(*s.utc, s.arrived, wallNow,
                                                          std::chrono::steady_clock::now()));
        delivered_.push_back(
            std::chrono::duration<double>(wallNow - tidewell::instantOf(*s.utc)).count());
    }
    std::size_t count() const { return delays_.size(); }
    void report(int baud) {
        std::sort(delays_.begin(), delays_.end());
        const auto at = [&](double p) {
            return delays_[std::min(delays_.size() - 1, std::size_t(p * double(delays_.size())))];
        };
        double mean = 0, square = 0;
        for (double d : delays_) mean += d / double(delays_.size());
        for (double d : delays_) square += (d - mean) * (d - mean) / double(delays_.size());
        const double median = at(0.5);
        std::printf("phase: %zu RMC sentences at %d baud, first byte after the second each names:\n"
                    "  median %.3f s, p5 %.3f s, p95 %.3f s, jitter %.3f s (standard deviation)\n",
                    delays_.size(), baud, median, at(0.05), at(0.95), std::sqrt(square));
        if (median < 0 || median >= 1) {
            std::printf("  not a delay a receiver has: is this PC's clock in step (NTP)?\n");
            return;
        }
        // The default sets the next whole second once the whole sentence is in.
        std::printf("  the default setting (whole second + 1 s) leaves the PC clock %.3f s fast\n"
                    "  this receiver's delay: DELAYMS=%d under [GPS]\n",
                    1 - tidewell::upperMedian(delivered_), int(std::lround(median * 1000)));
    }

private:
    std::vector<double> delays_, delivered_;
};

// idleSeconds <= 0: no limit. phaseCount > 0: measures that many RMC sentences' delay instead.
int checkDevice(const std::string& path, const tidewell::DateWindow& dates, double idleSeconds,
                long phaseCount) {
    const auto owned = tidewell::scan::makeReceiver(path, dates);
    tidewell::PortNmeaReceiver& receiver = *owned;
    PhaseMeter phase;
    int baud = tidewell::SpeedHunt::kOrder[0];
    if (phaseCount > 0) {
        receiver.SentenceReceived = [&](const tidewell::NmeaSentence& s) { phase.sentence(s); };
    } else {
        receiver.SentenceReceived = printDelivered;
        receiver.SentenceRejected = [](std::string_view line, const tidewell::NmeaDecodeResult& r) {
            printRejected(r.typeId, line, r.rejection);
        };
    }
    receiver.SpeedFound = [&](int found) {
        std::cerr << "nmea-check: " << (baud = found) << " baud\n";
    };
    receiver.lineSpeedSetting = [] { return std::string("auto"); };
    receiver.PortNumber = 1;
    receiver.BaudRate = 0;
    try {
        receiver.ClosePort();
        receiver.OpenPort();
    } catch (const tidewell::Error& e) {
        std::cerr << "nmea-check: " << e.what() << '\n';
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto idle =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idleSeconds));
    auto lastInput = Clock::now();
    while (receiver.isOpen() && !stopRequested &&
           (phaseCount <= 0 || long(phase.count()) < phaseCount)) {
        int waitMs = 1000;
        if (idleSeconds > 0) {
            const auto left = lastInput + idle - Clock::now();
            if (left <= Clock::duration::zero()) break;
            waitMs = static_cast<int>(std::min<long long>(
                waitMs, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        if (tidewell::scan::waitForInput(receiver, std::chrono::milliseconds(waitMs))) {
            lastInput = Clock::now();
            receiver.handleReadable();
        }
        std::cout.flush();
    }
    receiver.ClosePort();
    if (phaseCount <= 0) return 0;
    if (phase.count() == 0) {
        std::cerr << "nmea-check: no RMC sentence with valid time came\n";
        return 1;
    }
    phase.report(baud);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    tidewell::DateWindow dates = tidewell::gpsDateWindow(buildDate());
    std::string file, device;
    std::vector<std::string> scanned;
    bool scan = false;
    double idleSeconds = 0;
    long phaseCount = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--scan") {
            scan = true;
            continue;
        }
        if (arg == "--phase") {
            phaseCount = 60;
            if (i + 1 < argc && std::isdigit(static_cast<unsigned char>(argv[i + 1][0])))
                phaseCount = std::strtol(argv[++i], nullptr, 10);
            if (phaseCount <= 0 || phaseCount > 100000) {
                std::cerr << "nmea-check: bad --phase count\n";
                return 2;
            }
            continue;
        }
        if ((arg == "--earliest" || arg == "--device" || arg == "--idle") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--device") {
                device = value;
                continue;
            }
            if (arg == "--idle") {
                char* end = nullptr;
                idleSeconds = std::strtod(value, &end);
                if (end == value || *end != '\0' || !(idleSeconds > 0 && idleSeconds <= 86400)) {
                    std::cerr << "nmea-check: bad --idle " << value << '\n';
                    return 2;
                }
                continue;
            }
            const auto date = tidewell::calendar::parseIsoDate(value);
            if (!date) {
                std::cerr << "nmea-check: bad date " << value << '\n';
                return 2;
            }
            dates.earliest = *date;
        } else if (!arg.starts_with("--") && scan) {
            scanned.emplace_back(arg);
        } else if (!arg.starts_with("--") && file.empty()) {
            file = arg;
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (scan) {
        if (!file.empty() || !device.empty() || idleSeconds > 0 || phaseCount > 0) {
            std::cerr << kUsage;
            return 2;
        }
        const auto devices = scanned.empty() ? tidewell::scan::serialDevices()
                                             : tidewell::scan::namedDevices(scanned);
        if (!devices.empty())
            std::cerr << "nmea-check: listening to " << devices.size() << " device"
                      << (devices.size() == 1 ? "" : "s") << " for up to "
                      << tidewell::scan::kScanLimit.count() << " s\n";
        return tidewell::scan::runScan(devices, dates, std::cout);
    }
    if (file.empty() == device.empty() || ((idleSeconds > 0 || phaseCount > 0) && device.empty())) {
        std::cerr << kUsage;
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return file.empty() ? checkDevice(device, dates, idleSeconds, phaseCount)
                        : checkFile(file, dates);
}
