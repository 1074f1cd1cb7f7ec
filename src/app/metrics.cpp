#include "app/metrics.h"

#include <utility>

#include "app/json_text.h"
#include "settings/file_ops.h"

namespace tidewell {

namespace {

class Exposition {
public:
    // A metric's HELP and TYPE lines, before its samples.
    Exposition& metric(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        return *this;
    }
    Exposition& sample(const std::string& name, const std::string& value) {
        text_ += name + " " + value + "\n";
        return *this;
    }
    Exposition& sample(const std::string& name, std::uint64_t value) {
        return sample(name, std::to_string(value));
    }
    std::string text() const { return text_; }

private:
    std::string text_;
};

std::string seconds(const std::optional<double>& value, const char* none) {
    return value ? fixedNumber(*value, 3) : none;
}

}  // namespace

std::string metricsText(const StatusReport& r, bool up) {
    Exposition e;
    e.metric("tidewell_up", "gauge", "1 while the program runs, 0 after it stopped cleanly.")
        .sample("tidewell_up", up ? "1" : "0");
    e.metric("tidewell_build_info", "gauge", "The program's version, as a label.")
        .sample("tidewell_build_info{version=\"" + r.version + "\"}", "1");
    e.metric("tidewell_gps_valid", "gauge",
             "1 while the receiver gives valid time (status A), else 0.")
        .sample("tidewell_gps_valid", r.reception == StatusReport::Reception::Valid ? "1" : "0");
    e.metric("tidewell_gps_last_valid_age_seconds", "gauge",
             "Seconds since the last valid RMC sentence; +Inf before the first.")
        .sample("tidewell_gps_last_valid_age_seconds", seconds(r.lastValidAge, "+Inf"));
    const std::string sentences = "tidewell_gps_sentences_total";
    e.metric(sentences.c_str(), "counter", "Sentences from the receiver since start, by result.")
        .sample(sentences + "{result=\"valid\"}", r.total.valid)
        .sample(sentences + "{result=\"status_v\"}", r.total.statusV)
        .sample(sentences + "{result=\"checksum\"}", r.total.checksum)
        .sample(sentences + "{result=\"other\"}", r.total.other);
    e.metric("tidewell_receiver_phase_seconds", "gauge",
             "How late the RMC's first byte comes after the second it names, median of the "
             "last minute; NaN without one.")
        .sample("tidewell_receiver_phase_seconds", seconds(r.phase, "NaN"));
    e.metric("tidewell_clock_last_offset_seconds", "gauge",
             "How far ahead of the GPS the PC clock was at the last set (precise setting "
             "only); NaN when not known.")
        .sample("tidewell_clock_last_offset_seconds", seconds(r.lastOffset, "NaN"));
    const std::string updates = "tidewell_clock_updates_total";
    e.metric(updates.c_str(), "counter", "Clock updates since start, by result.")
        .sample(updates + "{result=\"set\"}", r.clockSets)
        .sample(updates + "{result=\"refused\"}", r.clockRefusals);
    const std::string sent = "tidewell_frames_sent_total", failed = "tidewell_frames_failed_total";
    e.metric(sent.c_str(), "counter", "Sync frames sent since start, by output.")
        .sample(sent + "{output=\"serial\"}", r.serial.sent)
        .sample(sent + "{output=\"udp\"}", r.udp.sent);
    e.metric(failed.c_str(), "counter", "Sync frames that failed since start, by output.")
        .sample(failed + "{output=\"serial\"}", r.serial.failed)
        .sample(failed + "{output=\"udp\"}", r.udp.failed);
    return e.text();
}

MetricsFile::MetricsFile(std::string path, const StatusRecorder& status, EventLoop& loop,
                         ProgramEvents& events)
    : path_(std::move(path)), status_(status), loop_(loop), events_(events) {
    write(true);
}

MetricsFile::~MetricsFile() {
    timer_.reset();
    write(false);
}

void MetricsFile::write(bool up) {
    const WriteOutcome outcome = files::replaceAtomically(path_, metricsText(status_.report(), up));
    if (!outcome) {
        if (std::exchange(failure_, outcome.failure) != outcome.failure)
            events_.eventLine("metrics: cannot write " + path_ + ": " + outcome.failure);
    } else if (!std::exchange(failure_, {}).empty()) {
        events_.eventLine("metrics: " + path_ + " written again");
    }
    if (up) timer_ = loop_.after(kEveryMs, [this] { write(true); });
}

}  // namespace tidewell
