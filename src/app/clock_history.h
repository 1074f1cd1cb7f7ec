#pragma once
// The history of clock updates: each due update, set or refused, as one row of a small CSV
// file. The file is kept in two generations (FILE and FILE.1) of at most kRowsPerFile rows
// each, so it never holds more than twice that and never grows without bound.
//
// The event loop never waits on the disk. A regular file cannot be written without blocking
// (O_NONBLOCK means nothing to one, and a full, stalled or network disk can hold a write for
// minutes), so the rows go to a writer thread through a bounded queue; the loop only queues.
// What the writer could not do (a failed write, a full queue) is told as a line through the
// program's events, once per reason, and again when writing works again.
//
// For the status endpoint, on the loop's thread: statusAnswer() is the whole answer to a
// `history` request; lastRows() and summary() are its parts.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_events.h"
#include "gps/date_value.h"
#include "platform/event_loop.h"

namespace tidewell {

struct HistoryRow {
    enum class Result { Set, WouldSet, Refused };  // WouldSet: --no-set-clock

    Instant when{};                 // the PC's UTC clock as the update was told
    std::optional<Instant> target;  // the UTC instant set (or to be set)
    // How far ahead of `target` the PC clock was just before (negative: behind).
    std::optional<std::chrono::milliseconds> was;
    bool precise = false;  // set to the millisecond, not in whole seconds
    Result result = Result::Set;
    std::string reason;  // why the clock refused

    friend bool operator==(const HistoryRow&, const HistoryRow&) = default;
};

// The rows as the file holds them: a header line when asked, then one record per row
// (when,target,was_ms,mode,result,reason; times as 2026-12-07T10:31:00.157Z), a field quoted
// when it holds a comma, a quote or a line break.
std::string historyCsv(const std::vector<HistoryRow>& rows, bool header);

struct HistoryText {
    std::vector<HistoryRow> rows;  // oldest first
    std::size_t records = 0;       // every record but the header, also those not read as rows
};
// The rows of a history file's text; a record that is not a row is skipped.
HistoryText readHistoryCsv(std::string_view text);

// One line over the rows told in the day before `now`: "last day: 1440 updates, 2 refused;
// |was| median 0.004 s, p95 0.012 s, max 0.712 s" (nearest-rank percentiles).
std::string historySummary(const std::vector<HistoryRow>& rows, Instant now);

// What `--history` and the status endpoint print: the file's name, the last `count` rows as a
// table, and the summary line.
std::string historyReport(const std::string& file, const std::vector<HistoryRow>& rows, Instant now,
                          std::size_t count = 20);

class ClockHistory : public ProgramEvents {
public:
    static constexpr std::size_t kRowsPerFile = 5000;
    // In memory: more than a day of updates, which come at most once a minute.
    static constexpr std::size_t kRowsKept = 2000;
    static constexpr std::size_t kQueueLimit = 256;
    using Now = std::function<Instant()>;

    // Keeps the rows in `file` (its folder made when missing) and reads the rows it already
    // holds, both on the writer thread. Failures are told through `tell`'s eventLine. With
    // `dryRun` (--no-set-clock) updates are rows of what would have been set. `now` reads
    // the PC's UTC clock; empty: the system's.
    ClockHistory(std::string file, EventLoop& loop, ProgramEvents& tell, bool dryRun, Now now = {});
    // Waits a moment for queued rows, never for a stalled disk.
    ~ClockHistory() override;
    ClockHistory(const ClockHistory&) = delete;
    ClockHistory& operator=(const ClockHistory&) = delete;

    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;

    // The last `count` rows, oldest first: this run's and, once read, the file's before them.
    std::vector<HistoryRow> lastRows(std::size_t count) const;
    // historySummary over the rows kept.
    std::string summary() const;
    // historyReport of this history: what `tidewell --status history` prints.
    std::string statusAnswer() const;
    const std::string& file() const { return file_; }

    // Waits up to `limit` until the file has been read and every queued row written or
    // failed; true when so. For tests, and for a caller that is about to read the file.
    bool waitWritten(std::chrono::milliseconds limit);

    struct Writer;

private:
    void record(HistoryRow row);
    void tellWriterState();

    std::string file_;
    EventLoop& loop_;
    ProgramEvents& tell_;
    bool dryRun_;
    Now now_;
    std::shared_ptr<Writer> writer_;
    std::string told_;  // the problem last told; empty while all is written
    EventLoop::Token check_;
};

// The rows of a history file and of its older generation, oldest first. Throws Error when
// either exists but cannot be read.
std::vector<HistoryRow> readHistoryFiles(const std::string& file);

// --history and --plot: prints the history's report and/or draws its chart into `plotFile`;
// the exit status (1 when the history cannot be read or the chart not written).
int historyCommand(const std::string& historyFile, bool print, const std::string& plotFile);

}  // namespace tidewell
