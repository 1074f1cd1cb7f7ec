#include "port_scan.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "devices/reception_tally.h"
#include "platform/error.h"

namespace tidewell::scan {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void addTo(ReceptionTally& total, const ReceptionTally& more) {
    total.bytes += more.bytes;
    total.sentences += more.sentences;
    total.rmc += more.rmc;
    total.times += more.times;
    for (const auto& [reason, count] : more.rejected) total.rejected[reason] += count;
}

// The receiver reports system errors moved clear of the program's own numbers.
int systemNumber(const Error& e) {
    const int n = e.number();
    return n > errors::kCollidingSystemErrorBase ? n - errors::kCollidingSystemErrorBase : n;
}

Verdict listen(const Device& device, const DateWindow& dates) {
    if (std::string why = leaveAlone(device); !why.empty())
        return {Verdict::Kind::Unusable, 0, false, why};
    auto receiver = makeReceiver(device.path, dates);
    std::optional<int> baud;
    bool validTime = false;
    // What came before the speed was found (noise at the wrong speeds), and after.
    ReceptionTally heard, sinceFound;
    Clock::time_point foundAt;
    receiver->PortNumber = 1;
    receiver->BaudRate = 0;
    receiver->lineSpeedSetting = [] { return std::string("auto"); };
    receiver->SpeedFound = [&](int found) {
        baud = found;
        foundAt = Clock::now();
        addTo(heard, receiver->takeTally());
    };
    receiver->SentenceReceived = [&](const NmeaSentence& s) {
        validTime = validTime || s.utc.has_value();
    };
    try {
        receiver->OpenPort();
    } catch (const Error& e) {
        return {Verdict::Kind::Unusable, 0, false,
                openFailure(device, systemNumber(e), e.description())};
    }

    const auto opened = Clock::now();
    for (;;) {
        addTo(baud ? sinceFound : heard, receiver->takeTally());
        const auto now = Clock::now();
        auto until = opened + kListenLimit;
        if (baud) {
            if (validTime) break;
            until = std::min(until, foundAt + kAfterFound);
        } else if (heard.bytes == 0) {
            until = std::min(until, opened + kSilence);
        }
        if (now >= until || !receiver->isOpen()) break;
        const auto wait =
            std::min(std::chrono::ceil<milliseconds>(until - now), milliseconds(1000));
        if (waitForInput(*receiver, wait)) receiver->handleReadable();
    }
    const bool hungUp = !receiver->isOpen();
    const auto heardFor = std::chrono::duration_cast<std::chrono::seconds>(
        Clock::now() - (baud ? foundAt : opened) + milliseconds(500));
    receiver.reset();

    Verdict v;
    const std::string hangUp = hungUp ? ", then the line hung up" : "";
    if (baud) {
        v.kind = Verdict::Kind::Nmea;
        v.baud = *baud;
        v.validTime = validTime;
        v.text = "NMEA at " + std::to_string(*baud) + " baud, " +
                 (validTime ? std::string("valid time")
                            : noTimeReport(sinceFound, int(heardFor.count()))) +
                 hangUp;
    } else if (heard.bytes > 0) {
        v.kind = Verdict::Kind::Noise;
        v.text =
            "noise: " + std::to_string(heard.bytes) + " bytes, no NMEA at any speed tried" + hangUp;
    } else {
        v.kind = Verdict::Kind::Nothing;
        v.text = hungUp ? "hung up before any byte came"
                        : "nothing (no byte in " + std::to_string(heardFor.count()) + " s)";
    }
    return v;
}

std::string shownName(const Device& device) {
    return device.aside.empty() ? device.name : device.name + " (" + device.aside + ")";
}

}  // namespace

int runScan(const std::vector<Device>& devices, const DateWindow& dates, std::ostream& out) {
    if (devices.empty()) {
        out << "No serial device found.\n";
        return 1;
    }
    // Shared with the listeners, so that one stuck in a device's driver cannot hold up the scan.
    struct Results {
        std::mutex lock;
        std::condition_variable done;
        std::vector<std::optional<Verdict>> verdicts;
        std::size_t left = 0;
    };
    auto results = std::make_shared<Results>();
    results->verdicts.resize(devices.size());
    results->left = devices.size();
    std::vector<std::thread> listeners;
    for (std::size_t i = 0; i < devices.size(); ++i)
        listeners.emplace_back([results, device = devices[i], dates, i] {
            Verdict v;
            try {
                v = listen(device, dates);
            } catch (const std::exception& e) {
                v = {Verdict::Kind::Unusable, 0, false, std::string("failed: ") + e.what()};
            }
            const std::lock_guard hold(results->lock);
            results->verdicts[i] = std::move(v);
            --results->left;
            results->done.notify_all();
        });
    {
        std::unique_lock hold(results->lock);
        results->done.wait_until(hold, Clock::now() + kScanLimit,
                                 [&] { return results->left == 0; });
    }

    bool stuck = false;
    std::vector<std::pair<Device, Verdict>> receivers;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::optional<Verdict> v;
        {
            const std::lock_guard hold(results->lock);
            v = results->verdicts[i];
        }
        if (v) {
            listeners[i].join();
        } else {
            listeners[i].detach();
            stuck = true;
            v = Verdict{Verdict::Kind::Unusable, 0, false, "no answer: the device's driver hangs"};
        }
        out << shownName(devices[i]) << ": " << v->text << '\n';
        if (v->kind == Verdict::Kind::Nmea) receivers.emplace_back(devices[i], *v);
    }
    std::stable_partition(receivers.begin(), receivers.end(),
                          [](const auto& r) { return r.second.validTime; });
    out << advice(receivers);
    const int status = receivers.empty() ? 1 : 0;
    if (stuck) {
        // Destructors of statics must not run under a listener still stuck in a driver.
        out.flush();
        std::_Exit(status);
    }
    return status;
}

}  // namespace tidewell::scan
