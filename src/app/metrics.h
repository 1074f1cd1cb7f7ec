#pragma once
// The status as a Prometheus text-format file, for node_exporter's textfile collector or any
// reader of the format: written whole at start, once a minute and at a clean stop (then with
// tidewell_up 0), each time through a temporary file renamed over it, so a reader never sees
// half of one.
#include <string>

#include "app/program_events.h"
#include "app/status.h"
#include "platform/event_loop.h"

namespace tidewell {

// `up` is false for the file a clean stop leaves.
std::string metricsText(const StatusReport& report, bool up);

class MetricsFile {
public:
    static constexpr int kEveryMs = 60'000;

    // A failed write is told through `events` once per distinct reason, and again when
    // writing works again.
    MetricsFile(std::string path, const StatusRecorder& status, EventLoop& loop,
                ProgramEvents& events);
    ~MetricsFile();
    MetricsFile(const MetricsFile&) = delete;
    MetricsFile& operator=(const MetricsFile&) = delete;

private:
    void write(bool up);

    std::string path_;
    const StatusRecorder& status_;
    EventLoop& loop_;
    ProgramEvents& events_;
    EventLoop::Token timer_;
    std::string failure_;
};

}  // namespace tidewell
