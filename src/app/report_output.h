#pragma once
#include <cstddef>
#include <string>

#include "app/report_flow.h"
#include "platform/event_loop.h"

namespace tidewell {

// Standard output that never holds up the event loop. A reader that stalls (a pipe nobody
// drains, a terminal paused with Ctrl-S) costs queued and then dropped lines, never frames or
// the stop signals; a reader that is gone (EPIPE) costs only the lines.
class ReportOutput {
public:
    ReportOutput(int fd, EventLoop& loop, std::size_t queueLimit = 256 * 1024);
    ~ReportOutput();
    ReportOutput(const ReportOutput&) = delete;
    ReportOutput& operator=(const ReportOutput&) = delete;

    void write(const std::string& line);

private:
    void flush();

    int fd_;
    bool blocks_ = false;  // a pipe, terminal or socket, which may fill up
    bool ownFd_ = false;
    bool socket_ = false;
    int sharedFlags_ = -1;  // the inherited description's flags, when it had to be changed
    bool gone_ = false;
    LineQueue queue_;
    EventLoop& loop_;
    EventLoop::Token writable_;
};

}  // namespace tidewell
