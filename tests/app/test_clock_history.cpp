#include <random>

#include "app/clock_history.h"
#include "settings/file_ops.h"
#include "temp_folder.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using namespace std::chrono;
using Result = HistoryRow::Result;

const Instant kDay{sys_days(2026y / 12 / 7)};

TEST(HistoryCsv, RowsWrittenAreTheRowsReadBackWhateverTheirTexts) {
    static const Strings pieces = {
        "a", ",", "\"", "\n", "\r", "\r\n", " ", "\t", "é", "Operation not permitted", ";", "="};
    std::mt19937_64 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<HistoryRow> rows(500);
        for (HistoryRow& r : rows) {
            r.when = Instant(sys_days(2000y / 1 / 1)) + milliseconds(random() % 3'153'600'000'000);
            if (random() % 4) r.target = r.when - milliseconds(random() % 100'000);
            if (random() % 4)
                r.was = milliseconds(std::int64_t(random() % 20'000'000'000) - 10'000'000'000);
            r.precise = random() % 2;
            r.result = Result(random() % 3);
            for (auto n = random() % 5; n > 0; --n) r.reason += pieces[random() % pieces.size()];
        }
        const HistoryText back = readHistoryCsv(historyCsv(rows, round % 2 == 0));
        ASSERT_EQ(back.records, rows.size());
        ASSERT_EQ(back.rows, rows);
    }
    EXPECT_EQ(readHistoryCsv("garbage\n\"unclosed,\n").rows.size(), 0u);
}

// A day of updates once a second (sixty times the real rate), on a faked clock: the files
// never hold more than their bound, and the newest rows read back in order, also by a new run.
TEST(ClockHistory, KeepsItsBoundThroughADayOfUpdates) {
    testing::TempFolder folder;
    fakes::FakeEventLoop loop;
    RecordingView told;
    Instant now = kDay;
    const std::string file = folder.file("state/clock-history.csv");
    std::vector<HistoryRow> made;
    {
        ClockHistory history(file, loop, told, false, [&] { return now; });
        for (int i = 0; i < 86'400; ++i) {
            now += 1s;
            const ClockUpdate::Outcome outcome{true, false, true,
                                               {},   now,   milliseconds(i % 1000 - 500)};
            history.clockSet(outcome, 0);
            made.push_back({now, now, outcome.wasAhead, false, Result::Set, {}});
            // The queue holds a few hours of real updates; this run is faster than any disk.
            if (i % 200 != 199) continue;
            ASSERT_TRUE(history.waitWritten(60s));
            if (i % 5000 != 4999) continue;
            for (const std::string& name : {file, file + ".1"})
                ASSERT_LE(readHistoryCsv(files::readPrefix(name, 1 << 24).bytes).records,
                          ClockHistory::kRowsPerFile);
        }
        ASSERT_TRUE(history.waitWritten(60s));
        EXPECT_EQ(history.lastRows(ClockHistory::kRowsKept).size(), ClockHistory::kRowsKept);
        EXPECT_EQ(history.lastRows(3), std::vector(made.end() - 3, made.end()));
    }
    const auto back = readHistoryFiles(file);
    ASSERT_GE(back.size(), ClockHistory::kRowsPerFile);
    ASSERT_LE(back.size(), 2 * ClockHistory::kRowsPerFile);
    EXPECT_EQ(back, std::vector(made.end() - std::ptrdiff_t(back.size()), made.end()));
    EXPECT_TRUE(told.lines.empty());
    ClockHistory again(file, loop, told, false, [&] { return now; });
    ASSERT_TRUE(again.waitWritten(60s));
    EXPECT_EQ(again.lastRows(2), std::vector(made.end() - 2, made.end()));
}

// The clock's refusal is a row with what was to be set; a file that cannot be written is told
// once, and the rows stay in memory for the status.
TEST(ClockHistory, RecordsRefusalsAndTellsAFailedWriteOnce) {
    testing::TempFolder folder;
    testing::writeBytes(folder.root / "not-a-folder", "");
    fakes::FakeEventLoop loop;
    RecordingView told;
    fakes::FakeClock clock;
    clock.refuse = true;
    ClockUpdate update(clock);
    const DateValue minute = *dateValueOf(2026, 12, 6, 9, 6, 1);
    const std::string file = folder.file("not-a-folder/clock-history.csv");
    ClockHistory history(file, loop, told, false);
    for (int i = 0; i < 3; ++i) {
        try {
            update.apply(minute + i / 1440.0, minute + i / 1440.0, 1);
            FAIL() << "the fake clock refuses";
        } catch (const Error& e) {
            history.clockRefused(e, 0);
        }
        ASSERT_TRUE(history.waitWritten(60s));
        for (const auto& entry : loop.live("after")) entry->callback();
    }
    const auto rows = history.lastRows(5);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].result, Result::Refused);
    EXPECT_EQ(rows[2].reason, "Operation not permitted");
    EXPECT_EQ(rows[2].target, instantOf(SystemTime{2026, 12, 0, 6, 9, 8, 1, 0}));
    EXPECT_EQ(rows[2].was, -3min) << "behind by what a refused set did not move";
    ASSERT_EQ(told.lines.size(), 1u) << "told once";
    EXPECT_TRUE(told.lines[0].starts_with("history: appending to " + file + ": ")) << told.lines[0];
}

}  // namespace
}  // namespace tidewell
