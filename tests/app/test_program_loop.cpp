#include "app/event_report.h"
#include "app/program.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

struct FakeTimeServices : TimeServiceProbe {
    std::optional<std::string> answer;
    int asked = 0;
    void probe(Done done) override { ++asked, done(answer); }
};

struct ProgramTest : WindowTest {
    fakes::FakeEventLoop loop;
    PortMap ports{profile, file};
    FakeTimeServices services;
    std::unique_ptr<Program> program;

    // Start-up over the stored entries and these ("Section/Key=value").
    OrvaneSetTime& run(std::initializer_list<std::string_view> entries = {}) {
        stored(entries);
        program = std::make_unique<Program>(platform(), components(), loop, ports, file, &services);
        program->events().add(view);
        program->events().add(boxes);
        program->start();
        return program->window();
    }
    Strings told() { return std::exchange(view.lines, {}); }
    // An RMC of 09:06 and `s` seconds.
    void rmcAt(int s) {
        program->window().NMEA1_SentenceReceived({"RMC", *dateValueOf(2026, 12, 5, 9, 6, s)});
    }
};

// The display timer ticks only while the window shows. A minute without valid time says why;
// valid time starting and stopping is told once per change, not each second; a port closed on
// the way out is not told as lost.
TEST_F(ProgramTest, FollowsTheDisplayTimerAndTellsWhatReceptionDoes) {
    OrvaneSetTime& w = run({"GPS/COMPORT=COM1"});
    EXPECT_TRUE(loop.live("every", 100).empty()) << "no display timer while hidden";
    clock.now.wMilliseconds = 999;
    w.trayClicked(TrayButton::Left);
    ASSERT_EQ(loop.live("every", 100).size(), 1u);
    EXPECT_EQ(w.txtPCtime.Text(), "12-06-2026   09:05:01") << "refreshed at once, ms dropped";
    w.Command4_Click();
    EXPECT_TRUE(loop.live("every", 100).empty());

    told();
    nmea.tally.bytes = 4000, nmea.tally.sentences = nmea.tally.rmc = 60;
    nmea.tally.rejected["status V"] = 60;
    loop.tick(1000, Program::kReceptionReportSeconds);
    EXPECT_EQ(told(), Strings{"gps: no valid time in the last 60 s: 60 status V"});
    nmea.tally.times = 1;
    loop.tick(1000, Program::kReceptionReportSeconds);
    EXPECT_TRUE(told().empty()) << "a minute with a valid time says nothing";

    const auto second = [&](int s) {
        if (s >= 0) rmcAt(s);
        loop.tick(1000);
    };
    for (int s = 0; s < 3; ++s) second(s);
    for (int quiet = 1; quiet < ValidTimeWatch::kQuietSeconds; ++quiet) second(-1);
    EXPECT_EQ(told(), Strings{"gps: valid time"});
    second(-1), second(-1), second(9), second(10);
    EXPECT_EQ(told(), (Strings{"gps: no valid time since 9:06:03", "gps: valid time again"}));
    program->stop();
    EXPECT_EQ(told(), Strings{"stopping"});
    EXPECT_FALSE(shell.trayShown);
}

// What the user does while the receiver and the display are unplugged decides which reopens:
// nothing, serial sync off, the serial port None, the GPS port None.
TEST_F(ProgramTest, OnlyAPortTheUserStillWantsIsReopened) {
    for (int action = 0; action < 4; ++action) {
        SCOPED_TRACE(action);
        nmea = {}, serial = {};
        OrvaneSetTime& w =
            run({"GPS/COMPORT=COM1", "SerialSync/SendSync= 1", "SerialSync/COMPORT=COM3"});
        nmea.unplug();
        serial.open = false, serial.lost = true;
        if (action == 1) w.Check2.Value(0);
        if (action > 1) (action == 2 ? w.Combo2 : w.Combo1).choose(0);
        loop.tick(1000, Program::kReopenEverySeconds - 1);
        EXPECT_FALSE(nmea.open || serial.open) << "not before the retry is due";
        loop.tick(1000);
        EXPECT_EQ(nmea.open, action != 3);
        EXPECT_EQ(serial.open, action == 0 || action == 3);
    }
}

// A port that does not open is tried every few seconds, whatever kept it closed; each new
// reason is told once, and so is the opening.
TEST_F(ProgramTest, WantedPortsAreTriedUntilTheyOpen) {
    nmea.failOpen = true;
    nmea.openError = Error(7001, "Opening COM3: Not there yet");
    run({"GPS/COMPORT=COM3", "Ports/COM3=/dev/gps"});
    loop.tick(1000, 2 * Program::kReopenEverySeconds);
    nmea.openError = Error(7003, "Opening COM3: Refused");
    loop.tick(1000, Program::kReopenEverySeconds);
    nmea.failOpen = false;
    loop.tick(1000, Program::kReopenEverySeconds);
    EXPECT_EQ(told(),
              (Strings{"gps port: COM3 (/dev/gps) cannot open: not there yet",
                       "gps port: COM3 (/dev/gps) cannot open: refused", "gps port: COM3 open"}));
}

TEST_F(ProgramTest, AnotherTimeServiceIsToldOnceAndSetClockZeroLeavesTheClockAlone) {
    run();
    services.answer = "chronyd";
    for (int hour = 0; hour < 3; ++hour)
        for (const auto& check : loop.live("after", Program::kTimeServiceCheckMs))
            check->callback();
    EXPECT_EQ(services.asked, 2) << "at start, then hourly until found";
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_TRUE(shell.boxes[0].ends_with("SETCLOCK=0 in section [GPS] of " + file + "."));
    EXPECT_EQ(told(), Strings{"time service: chronyd"});

    services.asked = 0;
    run({"GPS/SETCLOCK= 0"});
    rmcAt(0);
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_EQ(services.asked, 0);
    for (const std::string& l : profile.writes) EXPECT_FALSE(l.starts_with("GPS/SETCLOCK")) << l;
}

// With REFCLOCK chrony's socket is checked at start instead of other time services; a reason
// is told once, the socket is tried each minute, and samples resume by themselves.
TEST_F(ProgramTest, AnUnreachableChronyIsToldOnceAndSamplesResumeByThemselves) {
    const std::string path = "/run/chrony.tidewell.sock";
    refclock.failWith = Error(2, "Reaching " + path + ": No such file or directory");
    services.answer = "chronyd";
    OrvaneSetTime& w = run({"GPS/REFCLOCK=SOCK:" + path});
    const auto minute = [&] {
        for (int s = 0; s < Program::kRefclockRetrySeconds; ++s) rmcAt(s), loop.tick(1000);
    };
    EXPECT_EQ(EventReport::clockModeText(w), "handed to chrony through " + path);
    EXPECT_EQ(told(), Strings{"refclock: Reaching " + path + ": No such file or directory"});
    minute(), minute();
    EXPECT_EQ(refclock.checks, 3) << "at start, then once a minute";
    EXPECT_EQ(told(), Strings{"gps: valid time"});
    EXPECT_TRUE(refclock.sent.empty());
    refclock.failWith = Error(111, "Reaching " + path + ": Connection refused");
    minute();
    EXPECT_EQ(told(), Strings{"refclock: Reaching " + path + ": Connection refused"});
    refclock.failWith.reset();
    minute();
    EXPECT_EQ(told(), Strings{"refclock resumed: " + path});
    minute();
    EXPECT_EQ(refclock.sent.size(), std::size_t(Program::kRefclockRetrySeconds));
    EXPECT_EQ(refclock.checks, 5);
    EXPECT_EQ(services.asked, 0);
    EXPECT_TRUE(clock.sets.empty() && shell.boxes.empty());
}

}  // namespace
}  // namespace tidewell
