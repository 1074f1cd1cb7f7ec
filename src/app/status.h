#pragma once
// What the running program is doing, gathered from its events: for `tidewell --status`, the
// status endpoint and the metrics file. Nothing here changes the program.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/extended_settings.h"
#include "app/program_events.h"
#include "app/status_request.h"

namespace tidewell {

struct SentenceCounts {
    std::uint64_t valid = 0, statusV = 0, checksum = 0, other = 0;
    SentenceCounts& operator+=(const SentenceCounts& o);
};

// A moment something happened, as an age, and what it was.
struct StatusNote {
    double ageSeconds = 0;
    std::string text;
};

struct OutputStatus {
    bool on = false;
    bool ready = false;  // serial: the port is open; UDP: always
    std::string where;   // "COM2 (/dev/ttyS1)", "127.0.0.1:16000"
    std::string rate;    // "once per second"
    std::uint64_t sent = 0, failed = 0;
    std::optional<StatusNote> lastError;
    bool failing = false;  // on, and its last frame failed or its port will not open
};

struct StatusReport {
    enum class Reception { Closed, NoData, NoValidTime, Valid };

    std::vector<std::string> problems;  // empty: working

    // The receiver.
    std::string gpsPort;  // "COM1 (/dev/ttyUSB0)", or "None"
    bool gpsOpen = false;
    std::string gpsProblem;  // why it does not open, while it does not
    int baud = 0;
    bool baudAuto = false, baudFound = false;
    Reception reception = Reception::Closed;
    std::string receptionText;  // "valid", "no valid fix (status V)", ...
    std::optional<double> lastValidAge;
    SentenceCounts lastMinute, total;
    std::optional<double> phase;  // the RMC's first byte after its second, median of a minute
    std::size_t phaseCount = 0;

    // The clock.
    ClockMode clockMode = ClockMode::WholeSecond;
    int delayMs = 0;
    bool dryRun = false;
    std::uint64_t clockSets = 0, clockRefusals = 0;
    std::optional<StatusNote> lastSet;  // what was set
    std::optional<double> lastOffset;   // how far ahead the PC was at the last set, seconds
    std::optional<StatusNote> lastRefusal;
    // Handed to chrony: its socket, the samples sent, and the reason it cannot be reached.
    std::string refclockPath;
    std::uint64_t refclockSamples = 0;
    std::optional<StatusNote> refclockError;

    OutputStatus serial, udp;

    std::string settingsFile;
    std::optional<StatusNote> lastWriteFailure;  // empty after a successful write
    bool anyWrite = false;

    std::string version;
    double uptimeSeconds = 0;
    std::string priority;
    bool realTime = false;

    bool working() const { return problems.empty(); }
};

class StatusRecorder : public ProgramEvents {
public:
    using Steady = std::chrono::steady_clock;
    using Wall = std::chrono::system_clock;
    // Longer than this without valid time, the program is degraded.
    static constexpr std::chrono::seconds kValidTimeWithin{60};

    // `steadyNow` and `wallNow` default to the real clocks.
    StatusRecorder(const PortMap& ports, bool dryRun,
                   std::function<Steady::time_point()> steadyNow = {},
                   std::function<Wall::time_point()> wallNow = {});

    StatusReport report() const;

    void loaded(const OrvaneSetTime& window, const std::string&, const std::string&) override;
    void portChanged(PortRole role, PortChange change, const std::string& label,
                     const std::string& reason) override;
    void lineSpeed(int baud, bool automatic, bool found) override;
    void sentenceReceived(const NmeaSentence& sentence) override;
    void receptionTallied(const ReceptionTally& tally) override;
    void clockMode(ClockMode mode, std::chrono::milliseconds delay) override;
    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;
    void frameSent(Output output, const std::string& frame) override;
    void frameFailed(Output output, const Error& e) override;
    void settingSaved(const std::string& file) override;
    void settingsNotSaved(const std::string& file, const std::string& reason) override;
    void loopPriority(const std::string& text, bool realTime) override;
    void refclockSample(const RefclockSample&) override { ++refclockSamples_; }
    void refclockFailed(const Error& e) override;
    void refclockResumed(const std::string&) override { refclockError_.reset(); }

private:
    struct Sent {
        std::uint64_t sent = 0, failed = 0;
        std::optional<Steady::time_point> lastFailed;
        bool lastOneFailed = false;
        std::string error;
    };
    struct Note {
        Steady::time_point at;
        std::string text;
    };

    double ageOf(Steady::time_point at) const;
    std::optional<StatusNote> note(const std::optional<Note>& n) const;
    void forget(Steady::time_point now) const;
    OutputStatus output(const Sent& sent, bool on, bool ready, std::string where,
                        std::string rate) const;
    void describeReception(StatusReport& r) const;

    const PortMap& ports_;
    bool dryRun_;
    std::function<Steady::time_point()> steadyNow_;
    std::function<Wall::time_point()> wallNow_;
    Steady::time_point started_;
    const OrvaneSetTime* window_ = nullptr;

    std::string gpsProblem_, serialProblem_;
    int baud_ = 0;
    bool baudAuto_ = false, baudFound_ = false;
    std::optional<Steady::time_point> lastValid_;
    SentenceCounts total_;
    // The last minute's tallies and phases, oldest first; trimmed as they are read.
    mutable std::deque<std::pair<Steady::time_point, ReceptionTally>> seconds_;
    mutable std::deque<std::pair<Steady::time_point, double>> phases_;

    ClockMode clockMode_ = ClockMode::WholeSecond;
    int delayMs_ = 0;
    std::uint64_t clockSets_ = 0, clockRefusals_ = 0;
    std::optional<Note> lastSet_, lastRefusal_;
    bool lastRefused_ = false;
    std::optional<double> lastOffset_;
    std::uint64_t refclockSamples_ = 0;
    std::optional<Note> refclockError_;

    Sent serial_, udp_;
    std::optional<Note> writeFailure_;
    bool anyWrite_ = false;
    std::string priority_ = "not raised yet";
    bool realTime_ = false;
};

// The counts a tally holds, by kind of reject.
SentenceCounts countsOf(const ReceptionTally& tally);

// "tidewell: ok" or "tidewell: degraded: ...", then a few aligned lines.
std::string statusText(const StatusReport& report);
// The same as one JSON object, "health" first.
std::string statusJson(const StatusReport& report);

// The status endpoint's answer to one request. `history`, when given, answers "history";
// `show`, when given, brings the window up for "show" (false: there is none); without them
// the answer is an error line.
std::string answerStatusRequest(const StatusRequest& request, const StatusRecorder& status,
                                const std::function<std::string()>& history,
                                const std::function<bool()>& show = {});

}  // namespace tidewell
