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
    std::unique_ptr<Program> program;

    OrvaneSetTime& run(TimeServiceProbe* services = nullptr) {
        program = std::make_unique<Program>(platform(), components(), loop, ports, file, services);
        program->events().add(view);
        program->events().add(boxes);
        program->start();
        return program->window();
    }
};

TEST_F(ProgramTest, TicksWatchesTheGpsPortReportsEachMinuteAndFollowsTheDisplayTimer) {
    stored({"UDP/SendUDP= 1", "UDP/UDPrate=once per second", "GPS/COMPORT=COM2"});
    OrvaneSetTime& w = run();
    EXPECT_TRUE(loop.live("every", 100).empty()) << "no display timer while hidden";
    loop.tick(1000);
    EXPECT_EQ(udp.sent.size(), 1u);
    loop.live("read").at(0)->callback();
    EXPECT_EQ(nmea.calls.back(), "read");

    clock.now.wMilliseconds = 999;
    w.trayClicked(TrayButton::Left);
    ASSERT_EQ(loop.live("every", 100).size(), 1u);
    EXPECT_EQ(w.txtPCtime.Text(), "12-06-2026   09:05:01") << "refreshed at once, ms dropped";
    w.Command4_Click();
    EXPECT_TRUE(loop.live("every", 100).empty());

    nmea.tally.bytes = 4000, nmea.tally.sentences = nmea.tally.rmc = 60;
    nmea.tally.rejected["status V"] = 60;
    loop.tick(1000, Program::kReceptionReportSeconds);
    EXPECT_EQ(view.lines.back(), "gps: no valid time in the last 60 s: 60 status V");
    view.lines.clear(), nmea.tally.times = 1;
    loop.tick(1000, Program::kReceptionReportSeconds);
    EXPECT_TRUE(view.lines.empty()) << "a minute with a valid time says nothing";

    nmea.unplug();
    EXPECT_TRUE(loop.live("read").empty());
    EXPECT_EQ(view.lines.back(), "gps port: COM2 closed");
    program->stop();
    EXPECT_EQ(loop.quitStatus, 0);
    EXPECT_EQ(shell.trayCalls.back(), "remove");
}

// Valid time starting and stopping is told once per change, not each second; a port closed
// on the way out is not told as lost.
TEST_F(ProgramTest, ValidTimeComingAndGoingIsToldOnceEach) {
    stored("GPS", "COMPORT", "COM1");
    OrvaneSetTime& w = run();
    view.lines.clear();
    const auto second = [&](int s) {
        if (s >= 0) w.NMEA1_SentenceReceived({"RMC", *dateValueOf(2026, 12, 5, 9, 6, s)});
        loop.tick(1000);
    };
    for (int s = 0; s < 3; ++s) second(s);
    for (int quiet = 1; quiet < ValidTimeWatch::kQuietSeconds; ++quiet) second(-1);
    EXPECT_EQ(view.lines, Strings{"gps: valid time"});
    second(-1), second(-1), second(9), second(10);
    EXPECT_EQ(view.lines, (Strings{"gps: valid time", "gps: no valid time since 9:06:03",
                                   "gps: valid time again"}));
    program->stop();
    EXPECT_EQ(view.lines.back(), "stopping");
}

// What the user does while the receiver and the display are unplugged decides which reopens.
TEST_F(ProgramTest, OnlyAPortTheUserStillWantsIsReopened) {
    const struct {
        const char* what;
        std::function<void(OrvaneSetTime&)> action;
        bool gpsBack, serialBack;
    } rows[] = {
        {"nothing", [](OrvaneSetTime&) {}, true, true},
        {"serial sync off", [](OrvaneSetTime& w) { w.Check2.Value(0); }, true, false},
        {"serial port None", [](OrvaneSetTime& w) { w.Combo2.choose(0); }, true, false},
        {"gps port None", [](OrvaneSetTime& w) { w.Combo1.choose(0); }, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        stored({"GPS/COMPORT=COM1", "SerialSync/SendSync= 1", "SerialSync/COMPORT=COM3"});
        nmea = {}, serial = {};
        OrvaneSetTime& w = run();
        nmea.unplug();
        serial.open = false, serial.lost = true;
        row.action(w);
        loop.tick(1000, Program::kReopenEverySeconds - 1);
        EXPECT_FALSE(nmea.open || serial.open) << "not before the retry is due";
        loop.tick(1000);
        EXPECT_EQ(nmea.open, row.gpsBack);
        EXPECT_EQ(serial.open, row.serialBack);
    }
}

// A port that does not open is tried every few seconds, whatever kept it closed; each new
// reason is told once, and so is the opening.
TEST_F(ProgramTest, WantedPortsAreTriedUntilTheyOpen) {
    stored({"GPS/COMPORT=COM3", "SerialSync/SendSync= 1", "SerialSync/COMPORT=COM4",
            "Ports/COM3=/dev/gps", "Ports/COM4=/dev/display"});
    nmea.failOpen = serial.failOpen = true;
    nmea.openError = Error(7001, "Opening COM3: Not there yet");
    serial.openError = Error(7002, "Opening COM4: Held by another");
    run();
    const auto told = [&] { return std::exchange(view.lines, {}); };
    EXPECT_EQ(told(), (std::vector<std::string>{
                          "gps port: COM3 (/dev/gps) cannot open: not there yet",
                          "serial sync: COM4 (/dev/display) cannot open: held by another"}));
    loop.tick(1000, 2 * Program::kReopenEverySeconds);
    EXPECT_TRUE(told().empty()) << "the same reason is told once";
    nmea.openError = Error(7003, "Opening COM3: Refused");
    loop.tick(1000, Program::kReopenEverySeconds);
    EXPECT_EQ(told(), std::vector<std::string>{"gps port: COM3 (/dev/gps) cannot open: refused"});
    nmea.failOpen = serial.failOpen = false;
    loop.tick(1000, Program::kReopenEverySeconds);
    EXPECT_EQ(told(), (std::vector<std::string>{"gps port: COM3 open",
                                                "serial sync: COM4 (/dev/display) open"}));
    EXPECT_TRUE(nmea.open && serial.open);
}

TEST_F(ProgramTest, AnotherTimeServiceIsToldOnceAndSetClockZeroLeavesTheClockAlone) {
    FakeTimeServices services;
    run(&services);
    services.answer = "chronyd";
    for (int hour = 0; hour < 3; ++hour)
        for (const auto& check : loop.live("after", Program::kTimeServiceCheckMs))
            check->callback();
    EXPECT_EQ(services.asked, 2) << "at start, then hourly until found";
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_TRUE(shell.boxes[0].ends_with("SETCLOCK=0 in section [GPS] of " + file + "."));
    EXPECT_EQ(std::count(view.lines.begin(), view.lines.end(), "time service: chronyd"), 1);

    stored({"GPS/SETCLOCK= 0"});
    services.asked = 0;
    OrvaneSetTime& w = run(&services);
    w.NMEA1_SentenceReceived({"RMC", *dateValueOf(2026, 12, 5, 9, 6, 0)});
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   9:06:01");
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_EQ(services.asked, 0);
    for (const std::string& l : profile.writes) EXPECT_FALSE(l.starts_with("GPS/SETCLOCK")) << l;
}

// With REFCLOCK chrony's socket is checked at start instead of other time services; a reason
// is told once, the socket is tried each minute, and samples resume by themselves.
TEST_F(ProgramTest, AnUnreachableChronyIsToldOnceAndSamplesResumeByThemselves) {
    const std::string path = "/run/chrony.tidewell.sock";
    stored("GPS", "REFCLOCK", "SOCK:" + path);
    refclock.failWith = Error(2, "Reaching " + path + ": No such file or directory");
    FakeTimeServices services;
    services.answer = "chronyd";
    OrvaneSetTime& w = run(&services);
    const auto told = [&] { return std::exchange(view.lines, {}); };
    const auto minute = [&] {
        for (int s = 0; s < Program::kRefclockRetrySeconds; ++s) {
            w.NMEA1_SentenceReceived({"RMC", *dateValueOf(2026, 12, 5, 9, 6, s)});
            loop.tick(1000);
        }
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
