#include "app/clock_history.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "app/history_plot.h"
#include "platform/calendar.h"
#include "platform/paths.h"
#include "settings/file_ops.h"

namespace tidewell {

namespace {

using std::chrono::milliseconds;

constexpr std::string_view kHeader = "when,target,was_ms,mode,result,reason";
// Far beyond kRowsPerFile rows of any error text; a longer file is not this program's.
constexpr std::size_t kMaxFileBytes = 8 << 20;

// "2026-12-07T10:31:00.157Z", or with a blank for the T and no Z for people.
std::string timeText(Instant t, bool forPeople = false) {
    const SystemTime st = systemTimeAt(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d%s", st.wYear, st.wMonth,
                  st.wDay, forPeople ? ' ' : 'T', st.wHour, st.wMinute, st.wSecond,
                  st.wMilliseconds, forPeople ? "" : "Z");
    return text;
}

std::optional<Instant> parseTime(std::string_view s) {
    if (s.size() != 24 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
        s[16] != ':' || s[19] != '.' || s[23] != 'Z')
        return std::nullopt;
    int v[7]{};
    const std::size_t at[7] = {0, 5, 8, 11, 14, 17, 20}, width[7] = {4, 2, 2, 2, 2, 2, 3};
    for (int i = 0; i < 7; ++i) {
        const std::string_view digits = s.substr(at[i], width[i]);
        if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        std::from_chars(digits.data(), digits.data() + digits.size(), v[i]);
    }
    if (!calendar::isValid(v[0], v[1], v[2]) || v[3] > 23 || v[4] > 59 || v[5] > 59)
        return std::nullopt;
    return instantOf(SystemTime{std::uint16_t(v[0]), std::uint16_t(v[1]), 0, std::uint16_t(v[2]),
                                std::uint16_t(v[3]), std::uint16_t(v[4]), std::uint16_t(v[5]),
                                std::uint16_t(v[6])});
}

// "+0.712 s", "-1.250 s": integers only, so no locale's decimal comma creeps in.
std::string secondsText(milliseconds ms, bool sign) {
    const long long n = ms.count(), a = n < 0 ? -n : n;
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld.%03lld s",
                  n < 0  ? "-"
                  : sign ? "+"
                         : "",
                  a / 1000, a % 1000);
    return text;
}

const char* resultName(HistoryRow::Result r) {
    switch (r) {
    case HistoryRow::Result::Set:
        return "set";
    case HistoryRow::Result::WouldSet:
        return "would-set";
    case HistoryRow::Result::Refused:
        return "refused";
    }
    return "";
}

void appendField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// Records of RFC 4180 text, quoted line breaks kept; blank lines are no records.
std::vector<std::vector<std::string>> csvRecords(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false, started = false;
    const auto endRecord = [&] {
        fields.push_back(std::move(field));
        if (fields.size() > 1 || !fields.front().empty()) records.push_back(std::move(fields));
        fields.clear();
        field.clear();
        started = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += '"', ++i;
            else
                quoted = false;
            continue;
        }
        started = true;
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endRecord();
        } else {
            field += c;
        }
    }
    if (started || quoted) endRecord();
    return records;
}

std::optional<HistoryRow> rowOf(const std::vector<std::string>& f) {
    if (f.size() != 6) return std::nullopt;
    HistoryRow row;
    const auto when = parseTime(f[0]);
    if (!when) return std::nullopt;
    row.when = *when;
    if (!f[1].empty() && !(row.target = parseTime(f[1]))) return std::nullopt;
    if (!f[2].empty()) {
        long long ms = 0;
        const auto [end, ec] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), ms);
        if (ec != std::errc() || end != f[2].data() + f[2].size()) return std::nullopt;
        row.was = milliseconds(ms);
    }
    if (f[3] != "precise" && f[3] != "seconds") return std::nullopt;
    row.precise = f[3] == "precise";
    for (auto r :
         {HistoryRow::Result::Set, HistoryRow::Result::WouldSet, HistoryRow::Result::Refused})
        if (f[4] == resultName(r)) row.result = r;
    if (f[4] != resultName(row.result)) return std::nullopt;
    row.reason = f[5];
    return row;
}

std::string padded(std::string s, std::size_t width) {
    if (s.size() < width) s.resize(width, ' ');
    return s;
}

}  // namespace

std::string historyCsv(const std::vector<HistoryRow>& rows, bool header) {
    std::string out;
    if (header) (out += kHeader) += '\n';
    for (const HistoryRow& r : rows) {
        out += timeText(r.when);
        out += ',';
        if (r.target) out += timeText(*r.target);
        out += ',';
        if (r.was) out += std::to_string(r.was->count());
        out += r.precise ? ",precise," : ",seconds,";
        out += resultName(r.result);
        out += ',';
        appendField(out, r.reason);
        out += '\n';
    }
    return out;
}

HistoryText readHistoryCsv(std::string_view text) {
    HistoryText out;
    const auto records = csvRecords(text);
    std::size_t first = 0;
    if (!records.empty()) {
        std::string names;
        for (const std::string& f : records.front()) names += (names.empty() ? "" : ",") + f;
        first = names == kHeader;
    }
    for (std::size_t i = first; i < records.size(); ++i)
        if (auto row = rowOf(records[i])) out.rows.push_back(std::move(*row));
    out.records = records.size() - first;
    return out;
}

std::string historySummary(const std::vector<HistoryRow>& rows, Instant now) {
    std::size_t updates = 0, refused = 0;
    std::vector<milliseconds> was;
    for (const HistoryRow& r : rows) {
        if (r.when <= now - std::chrono::hours(24) || r.when > now) continue;
        ++updates;
        refused += r.result == HistoryRow::Result::Refused;
        if (r.was) was.push_back(std::chrono::abs(*r.was));
    }
    if (updates == 0) return "last day: no clock updates";
    std::string out = "last day: " + std::to_string(updates) +
                      (updates == 1 ? " update, " : " updates, ") + std::to_string(refused) +
                      " refused";
    if (!was.empty()) {
        std::sort(was.begin(), was.end());
        const auto rank = [&](std::size_t percent) {
            return was[(was.size() * percent + 99) / 100 - 1];
        };
        out += "; |was| median " + secondsText(rank(50), false) + ", p95 " +
               secondsText(rank(95), false) + ", max " + secondsText(was.back(), false);
    }
    return out;
}

std::string historyReport(const std::string& file, const std::vector<HistoryRow>& rows, Instant now,
                          std::size_t count) {
    std::string out = "history: " + file + "\n";
    if (!rows.empty())
        out += "when (UTC)               result     mode     set to (UTC)             was\n";
    for (std::size_t i = rows.size() - std::min(count, rows.size()); i < rows.size(); ++i) {
        const HistoryRow& r = rows[i];
        std::string line = timeText(r.when, true) + "  " + padded(resultName(r.result), 11) +
                           padded(r.precise ? "precise" : "seconds", 9) +
                           padded(r.target ? timeText(*r.target, true) : "-", 25) +
                           (r.was ? secondsText(*r.was, true) : "-");
        if (!r.reason.empty()) {
            std::string reason = r.reason;
            std::replace_if(
                reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
            line += "  " + reason;
        }
        out += line + "\n";
    }
    return out + historySummary(rows, now) + "\n";
}

// ---- The writer ------------------------------------------------------------------------

struct ClockHistory::Writer {
    std::string file;
    std::mutex mutex;
    std::condition_variable wake, idle;
    // Guarded by `mutex`:
    std::deque<std::string> queue;  // records to append
    std::deque<HistoryRow> rows;    // the rows kept, oldest first
    std::string failure;            // why the last write or read failed; empty when it worked
    bool loaded = false, busy = false, stopping = false, done = false;
    // The thread's own:
    std::size_t rowsInFile = 0;
    bool needHeader = true;

    void run();
    void load();
    std::string write(const std::vector<std::string>& records);
};

void ClockHistory::Writer::run() {
    load();
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || !queue.empty(); });
        if (queue.empty()) break;
        const std::vector<std::string> batch(queue.begin(), queue.end());
        queue.clear();
        busy = true;
        lock.unlock();
        std::string outcome = write(batch);
        lock.lock();
        failure = std::move(outcome);
        busy = false;
        idle.notify_all();
    }
    done = true;
    idle.notify_all();
}

void ClockHistory::Writer::load() {
    std::vector<HistoryRow> older;
    std::string problem;
    const files::Prefix current = files::readPrefix(file, kMaxFileBytes);
    if (current.status == files::Prefix::Status::Ok) {
        HistoryText text = readHistoryCsv(current.bytes);
        // A file cut short at the limit is full: the next row starts a new one.
        rowsInFile = current.whole ? text.records : kRowsPerFile;
        needHeader = current.bytes.empty();
        older = std::move(text.rows);
    } else if (current.status == files::Prefix::Status::Unusable) {
        problem = "reading " + file + ": " + current.reason;
        needHeader = false;
    }
    if (older.size() < kRowsKept) {
        const files::Prefix previous = files::readPrefix(file + ".1", kMaxFileBytes);
        if (previous.status == files::Prefix::Status::Ok) {
            std::vector<HistoryRow> rows = readHistoryCsv(previous.bytes).rows;
            older.insert(older.begin(), rows.begin(), rows.end());
        }
    }
    const std::lock_guard lock(mutex);
    rows.insert(rows.begin(), older.end() - std::ptrdiff_t(std::min(older.size(), kRowsKept)),
                older.end());
    while (rows.size() > kRowsKept) rows.pop_front();
    failure = problem;
    loaded = true;
    idle.notify_all();
}

// Appends the records, a new generation begun whenever the file holds kRowsPerFile; a
// generation that cannot be begun takes no more rows, so the bound holds whatever fails.
std::string ClockHistory::Writer::write(const std::vector<std::string>& records) {
    std::string chunk;
    std::size_t inChunk = 0;
    const auto flush = [&]() -> std::string {
        if (chunk.empty()) return {};
        // Made only when there is a row to keep, and again should it go.
        files::makeFolders(paths::folderOf(file));
        if (const std::string why = files::append(file, chunk); !why.empty())
            return "appending to " + file + ": " + why;
        rowsInFile += inChunk;
        needHeader = false;
        chunk.clear();
        inChunk = 0;
        return {};
    };
    for (const std::string& record : records) {
        if (rowsInFile + inChunk >= kRowsPerFile) {
            if (std::string why = flush(); !why.empty()) return why;
            if (const std::string why = files::renameOver(file, file + ".1"); !why.empty())
                return "renaming " + file + " to " + file + ".1: " + why;
            rowsInFile = 0;
            needHeader = true;
        }
        if (chunk.empty() && needHeader) (chunk += kHeader) += '\n';
        chunk += record;
        ++inChunk;
    }
    return flush();
}

// ---- The listener ----------------------------------------------------------------------

ClockHistory::ClockHistory(std::string file, EventLoop& loop, ProgramEvents& tell, bool dryRun,
                           Now now)
    : file_(std::move(file)), loop_(loop), tell_(tell), dryRun_(dryRun),
      now_(now ? std::move(now)
               : [] { return std::chrono::floor<milliseconds>(std::chrono::system_clock::now()); }),
      writer_(std::make_shared<Writer>()) {
    writer_->file = file_;
    // The thread holds the writer, so a write stalled at exit outlives this object safely.
    std::thread([writer = writer_] { writer->run(); }).detach();
    check_ = loop_.after(1000, [this] { tellWriterState(); });
}

ClockHistory::~ClockHistory() {
    std::unique_lock lock(writer_->mutex);
    writer_->stopping = true;
    writer_->wake.notify_all();
    writer_->idle.wait_for(lock, std::chrono::seconds(1), [&] { return writer_->done; });
}

void ClockHistory::clockSet(const ClockUpdate::Outcome& outcome, DateValue) {
    HistoryRow row;
    row.when = now_();
    row.target = outcome.target;
    row.was = outcome.wasAhead;
    row.precise = outcome.setTo.has_value();
    row.result = dryRun_ ? HistoryRow::Result::WouldSet : HistoryRow::Result::Set;
    record(std::move(row));
}

void ClockHistory::clockRefused(const Error& e, DateValue) {
    HistoryRow row;
    row.when = now_();
    if (const auto* refused = dynamic_cast<const ClockUpdate::Refused*>(&e)) {
        row.target = refused->attempt().target;
        row.was = refused->attempt().wasAhead;
        row.precise = refused->attempt().setTo.has_value();
    }
    row.result = HistoryRow::Result::Refused;
    row.reason = e.description();
    record(std::move(row));
}

void ClockHistory::record(HistoryRow row) {
    std::string text = historyCsv({row}, false);
    {
        const std::lock_guard lock(writer_->mutex);
        writer_->rows.push_back(std::move(row));
        if (writer_->rows.size() > kRowsKept) writer_->rows.pop_front();
        if (writer_->queue.size() < kQueueLimit) {
            writer_->queue.push_back(std::move(text));
            writer_->wake.notify_one();
        }
    }
    tellWriterState();
    check_ = loop_.after(1000, [this] { tellWriterState(); });
}

void ClockHistory::tellWriterState() {
    std::string problem;
    {
        const std::lock_guard lock(writer_->mutex);
        problem = writer_->queue.size() >= kQueueLimit
                      ? "writing " + file_ + ": the disk has taken no row for the last " +
                            std::to_string(kQueueLimit) + " updates"
                      : writer_->failure;
    }
    if (problem == told_) return;
    tell_.eventLine(problem.empty()
                        ? "history: writing " + file_ + " again"
                        : "history: " + problem + "; updates go unwritten until it works again");
    told_ = std::move(problem);
}

std::vector<HistoryRow> ClockHistory::lastRows(std::size_t count) const {
    const std::lock_guard lock(writer_->mutex);
    const auto& rows = writer_->rows;
    return {rows.end() - std::ptrdiff_t(std::min(count, rows.size())), rows.end()};
}

std::string ClockHistory::summary() const {
    return historySummary(lastRows(kRowsKept), now_());
}

std::string ClockHistory::statusAnswer() const {
    return historyReport(file_, lastRows(kRowsKept), now_());
}

bool ClockHistory::waitWritten(milliseconds limit) {
    std::unique_lock lock(writer_->mutex);
    return writer_->idle.wait_for(
        lock, limit, [&] { return writer_->loaded && writer_->queue.empty() && !writer_->busy; });
}

// ---- Reading it back -------------------------------------------------------------------

std::vector<HistoryRow> readHistoryFiles(const std::string& file) {
    std::vector<HistoryRow> rows;
    for (const std::string& name : {file + ".1", file}) {
        const files::Prefix read = files::readPrefix(name, kMaxFileBytes);
        if (read.status == files::Prefix::Status::Unusable)
            throw Error(0, "reading " + name + ": " + read.reason);
        std::vector<HistoryRow> more = readHistoryCsv(read.bytes).rows;
        rows.insert(rows.end(), more.begin(), more.end());
    }
    return rows;
}

int historyCommand(const std::string& historyFile, bool print, const std::string& plotFile) {
    std::vector<HistoryRow> rows;
    try {
        rows = readHistoryFiles(historyFile);
    } catch (const Error& e) {
        std::fprintf(stderr, "tidewell: %s\n", e.what());
        return 1;
    }
    const Instant now = std::chrono::floor<milliseconds>(std::chrono::system_clock::now());
    if (print) std::fputs(historyReport(historyFile, rows, now).c_str(), stdout);
    if (plotFile.empty()) return 0;
    if (const WriteOutcome out = files::replaceAtomically(plotFile, historySvg(rows)); !out) {
        std::fprintf(stderr, "tidewell: writing %s: %s\n", plotFile.c_str(), out.failure.c_str());
        return 1;
    }
    if (!print)
        std::printf("%s: %zu clock updates from %s\n", plotFile.c_str(), rows.size(),
                    historyFile.c_str());
    return 0;
}

}  // namespace tidewell
