// The controls' event rule, and the window's handlers over fakes.
#include <random>

#include "app/controls.h"
#include "app/refclock_feed.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using namespace std::chrono;

// Each control raises its event only for a real change; a pick by the user always clicks.
TEST(Controls, RaiseTheirEventOnlyOnARealChange) {
    Strings events;
    CheckBox box("Check1", "", {}, 0, 0);
    box.Click = [&] { events.push_back("check " + std::to_string(box.Value())); };
    for (int v : {0, 2, 1}) box.Value(v);
    for (int refused : {3, -1}) EXPECT_THROW(box.Value(refused), Error);
    EXPECT_EQ(box.Value(), 1) << "a refused state leaves the box as it was";
    box.Value(2);
    box.click();  // a click on a greyed box unchecks it

    TextBox text("UDPaddress", "10.0.0.255", {}, 0, 15);
    text.Change = [&] { events.push_back("text " + text.Text()); };
    for (const char* t : {"10.0.0.255", "", "", "127.0.0.1"}) text.Text(t);

    ComboBox list("Combo1", "None", {}, 0);
    list.Click = [&] { events.push_back("list " + list.Text()); };
    for (const char* p : {"None", "COM1", "COM2"}) list.AddItem(p);
    list.Text("COM2");
    EXPECT_EQ(list.ListIndex(), 2) << "the position follows an exact match";
    list.Text("com2");
    EXPECT_EQ(list.ListIndex(), -1) << "list texts match case-sensitively";
    list.choose(1);
    list.choose(7);  // no such item

    OptionButton utc("Option1", 0, "UTC", {}, 20), local("Option1", 1, "LOCAL", {}, 21);
    utc.group = local.group = {&utc, &local};
    utc.Click = local.Click = [&](int i) { events.push_back("option " + std::to_string(i)); };
    for (bool v : {false, true, true}) utc.Value(v);
    local.Value(true);  // deselects UTC without its click
    EXPECT_FALSE(utc.Value());
    local.Value(false);  // deselecting from code raises nothing

    EXPECT_EQ(events, (Strings{"check 2", "check 1", "check 2", "check 0", "text ",
                               "text 127.0.0.1", "list COM1", "option 0", "option 1"}));
}

NmeaSentence rmc(int h, int mi, int s, double fraction = 0, const char* type = "RMC") {
    return {type, *dateValueOf(2026, 12, 5, h, mi, s) + fraction / 86400.0};
}

// ---- GPS time --------------------------------------------------------------------------

// Both displays, rounded; the clock set to the local date and time at second 1 (the clock's
// own rules are its unit's), never from a late sentence.
TEST_F(WindowTest, RmcShowsGpsAndLocalTimeAndSetsTheLocalClock) {
    clock.offsetMinutes = 600;  // ten hours east
    OrvaneSetTime& w = start();
    w.NMEA1_SentenceReceived(rmc(9, 0, 0, 0, "GPRMC"));
    EXPECT_EQ(w.txtGPStime.Text(), "") << "other types touch no display";
    w.Check3.Value(1);
    w.NMEA1_SentenceReceived({"RMC", rmc(20, 30, 0).utc, {}, false});  // from a backlog
    EXPECT_TRUE(clock.sets.empty());
    w.NMEA1_SentenceReceived(rmc(20, 30, 0, 0, "rmc"));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:30:01");
    EXPECT_EQ(w.txtLocalTime.Text(), "6/12/26   6:30:01");
    EXPECT_EQ(clock.sets, (Strings{"date 2026-12-06", "time 06:30:01"}));
    w.NMEA1_SentenceReceived(rmc(20, 31, 0, 0.6));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:31:02") << ".60 plus the advance rounds up";
    w.NMEA1_SentenceReceived(NmeaSentence{"RMC", std::nullopt});
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:31:02") << "a sentence without time: kept";
}

// Each setting's control stores its key at once, in the key's own form, and takes effect. A
// refused clock is tried once a minute, a change that cannot be saved each time, the control
// keeping it; each is told every time and boxed once a run.
TEST_F(WindowTest, ChoicesAreStoredAtOnceAndFailuresToldEachTimeAndBoxedOnce) {
    clock.refuse = true;
    OrvaneSetTime& w = start();
    w.Option1[1].Value(true);
    w.Option1[0].Value(true);
    w.SerialRate.choose(2);
    w.UDPrate.choose(3);
    EXPECT_EQ(profile.writes,
              (Strings{"SerialSync/TIMEUTC=False", "SerialSync/TIMELOCAL=True",
                       "SerialSync/TIMEUTC=True", "SerialSync/TIMELOCAL=False",
                       "SerialSync/SERIALRATE=once per hour", "UDP/UDPRATE=once per day"}));
    EXPECT_TRUE(w.SyncUsesUTC == true && w.SerialRateCode == 2 && w.UDPRateCode == 3);

    for (auto [mi, s] : {std::pair{5, 0}, {5, 1}, {6, 0}}) w.NMEA1_SentenceReceived(rmc(9, mi, s));
    EXPECT_EQ(clock.sets, (Strings{"time 09:05:01 refused", "time 09:06:01 refused"}));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   9:06:01") << "reception goes on";
    profile.failWrites = "it is read-only";
    w.Check3.Value(1);
    w.Check1.Value(1);
    EXPECT_EQ(view.lines, (Strings{"Operation not permitted", "Operation not permitted",
                                   "not saved: it is read-only", "not saved: it is read-only"}));
    EXPECT_EQ(shell.boxes,
              (Strings{"Tidewell: The PC clock could not be set: Operation not permitted",
                       "Tidewell: Settings cannot be saved to " + file +
                           ": it is read-only. Changes last until the program ends."}));
    EXPECT_TRUE(w.Check3.Value() == 1 && w.Check1.Value() == 1);
}

// ---- chrony ----------------------------------------------------------------------------

// A PC clock `error` off the truth, a receiver that sends each second `delay` after it begins,
// and a sample taken some time after the first byte came: the sample names the PC clock's
// reading when the second began and how far the truth was from it, to the microsecond.
TEST(RefclockFeed, ASampleGivesThePcClocksErrorWhenTheDelayIsKnown) {
    std::mt19937 random(2026);
    const auto uniform = [&](long from, long to) {
        return std::uniform_int_distribution<long>(from, to)(random);
    };
    fakes::FakeRefclockSocket socket;
    ProgramEvents nobody;
    steady_clock::time_point steadyNow;
    system_clock::time_point pcNow;
    RefclockFeed feed(
        &socket, nobody, [&] { return steadyNow; }, [&] { return pcNow; });
    feed.use("/run/chrony.tidewell.sock");
    for (int i = 0; i < 2000; ++i) {
        const microseconds error(uniform(-5'000'000, 5'000'000)), since(uniform(0, 900'000));
        const milliseconds delay(uniform(0, 999));
        const int minute = i / 60 % 60, second = i % 60;
        const auto named = sys_days(2026y / 12 / 6) + 9h + minutes(minute) + seconds(second);
        const steady_clock::time_point arrived(hours(1) + seconds(uniform(0, 1'000'000)));
        steadyNow = arrived + since;
        pcNow = named + delay + since + error;
        feed.offer(*dateValueOf(2026, 12, 6, 9, minute, second), arrived, delay);
        ASSERT_EQ(socket.sent.size(), std::size_t(i) + 1);
        EXPECT_NEAR(socket.sent.back().offset, -duration<double>(error).count(), 1e-6);
        EXPECT_EQ(socket.sent.back().pcTime, named + error);
    }
}

// Not even at second 1 of a minute with PRECISE and the GPS date on; a sentence from a backlog
// goes nowhere; the frames go on. The driver's name is read in any case.
TEST_F(WindowTest, WithARefclockFreshTimesGoToChronyAndNothingSetsTheClock) {
    OrvaneSetTime& w = start({"GPS/REFCLOCK=sock:/run/chrony.tidewell.sock", "GPS/PRECISE=1",
                              "GPS/GPSdate=1", "UDP/SendUDP= 1"});
    for (int s = 0; s < 180; ++s)
        w.NMEA1_SentenceReceived({"RMC", rmc(9, 6 + s / 60, s % 60).utc, {}, s % 7 != 3});
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_EQ(refclock.sent.size(), 180u - 26u) << "26 late ones";
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   9:09:00");
    w.SendUDP_Timer();
    EXPECT_EQ(udp.sent.size(), 1u);
}

// Windows has no chrony: the key is told and the clock is set as it always was.
TEST_F(WindowTest, WithoutChronyARefclockSettingIsToldAndTheClockIsSetAsBefore) {
    stored("GPS", "REFCLOCK", "SOCK:/run/chrony.tidewell.sock");
    window = std::make_unique<OrvaneSetTime>(
        platform(), OrvaneSetTime::Components{nmea, serial, udp}, events, file);
    window->Form_Load();
    EXPECT_EQ(view.lines, Strings{"REFCLOCK is for chrony, which this system does not have; the "
                                  "clock is set as before"});
    window->NMEA1_SentenceReceived(rmc(9, 7, 0));
    EXPECT_EQ(clock.sets, Strings{"time 09:07:01"});
    EXPECT_FALSE(window->refclock().on());
}

// ---- Broadcast -------------------------------------------------------------------------

// One frame a second on both outputs, serial first, while checked; failed serial writes are
// counted; transient UDP failures are silent, others boxed one at a time.
TEST_F(WindowTest, BroadcastSendingRules) {
    OrvaneSetTime& w = start({"UDP/SendUDP= 1", "UDP/UDPrate=once per second",
                              "UDP/UDPaddress=127.0.0.1", "SerialSync/SendSync= 1",
                              "SerialSync/serialrate=once per second", "SerialSync/COMPORT=COM2"});
    const auto nextSecond = [&](int times = 1) {
        for (int i = 0; i < times; ++i, w.SendUDP_Timer())
            clock.now.wSecond = std::uint16_t((clock.now.wSecond + 1) % 60);
    };
    w.SendUDP_Timer();
    w.SendUDP_Timer();  // same second: nothing
    nextSecond();
    EXPECT_EQ(view.lines, (Strings{"sent serial", "sent udp", "sent serial", "sent udp"}));

    w.Check1.Value(2), w.Check2.Value(2);
    nextSecond();
    w.Check2.Value(1), serial.open = false;
    nextSecond();
    EXPECT_EQ(udp.sent.size() + serial.outputs.size(), 4u) << "greyed boxes, closed port";

    w.Check1.Value(1), serial.open = serial.failWrite = true;
    nextSecond(2);
    EXPECT_EQ(w.serialFailures(), 2u) << "a failed serial write is counted and dropped";
    EXPECT_EQ(udp.sent.size(), 4u) << "UDP is not held up by the serial output";

    udp.failWith = Error(errors::TransientSend, "No buffer space available");
    serial.failWrite = false;
    nextSecond();
    EXPECT_TRUE(shell.boxes.empty()) << "neither serial failures nor a transient one are boxed";

    udp.failWith = Error(101, "Network is unreachable");
    // Ticks go on while the box is open; their failures open no second box.
    shell.whileBoxOpen = [&] { nextSecond(3); };
    nextSecond();
    EXPECT_EQ(shell.boxes, Strings{"101: Network is unreachable"});
    EXPECT_EQ(shell.boxIcons[0], MsgBoxIcon::Critical);
    EXPECT_EQ(serial.outputs.size(), 7u) << "serial frames went on during the box";

    shell.whileBoxOpen = nullptr;
    nextSecond();
    EXPECT_EQ(shell.boxes.size(), 2u) << "once closed, the next failure is shown again";
}

// ---- Ports -----------------------------------------------------------------------------

// A port picked in either list opens and is stored; one that fails to open keeps the previous
// choice stored; the GPS port and the serial sync port may not be the same while sync is on
// (or greyed). The serial sync box opens and closes its port, and keeps the choice when the
// port fails.
TEST_F(WindowTest, APortPickOpensItStoresItOrIsRefusedAndSoDoesTheSerialSyncBox) {
    const struct {
        const char *what, *serialPort;
        bool gpsList;
        int sync, pick;
        std::string stored;
        Strings calls;
        bool boxed = false, failOpen = false;
    } rows[] = {
        {"gps: clash while sync on", "COM2", true, 1, 2, "None", {"ClosePort"}, true},
        {"gps: clash while greyed", "COM2", true, 2, 2, "None", {"ClosePort"}, true},
        {"gps: same port, sync off", "COM2", true, 0, 2, "COM2", {"ClosePort", "OpenPort 2"}},
        {"gps: other port", "COM2", true, 1, 4, "COM4", {"ClosePort", "OpenPort 4"}},
        {"gps: None twice, sync on", "None", true, 1, 0, "None", {"ClosePort"}},
        {"gps: fails to open", "COM2", true, 0, 5, "COM1", {"ClosePort", "OpenPort 5"}, true, true},
        {"serial: opens with sync off", "COM2", false, 0, 4, "COM4", {"open 4"}},
        {"serial: None closes", "COM2", false, 1, 0, "None", {"close"}},
        {"serial: the GPS port", "COM2", false, 0, 1, "None", {}, true},
        {"serial: fails to open", "COM2", false, 0, 6, "COM2", {"open 6"}, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        OrvaneSetTime& w =
            start({"GPS/COMPORT=COM1", "SerialSync/COMPORT=" + std::string(r.serialPort),
                   "SerialSync/SendSync=" + std::to_string(r.sync)});
        nmea.failOpen = serial.failOpen = r.failOpen;
        (r.gpsList ? w.Combo1 : w.Combo2).choose(r.pick);
        EXPECT_EQ(profile.get(r.gpsList ? "GPS" : "SerialSync", "COMPORT"), r.stored);
        EXPECT_EQ(r.gpsList ? nmea.calls : serial.calls, r.calls);
        EXPECT_EQ(shell.boxes, Strings(r.boxed, "ERROR: Please check your comm settings"));
        EXPECT_EQ(view.lines.size(), r.boxed ? 1u : 0u) << "a line says why";
        if (r.boxed && !r.failOpen) {
            EXPECT_TRUE(view.lines[0].ends_with("port too; choose another"));
        }
        nmea = {}, serial = {};
    }
    EXPECT_EQ(shell.boxIcons.back(), MsgBoxIcon::Exclamation);

    OrvaneSetTime& w = start({"SerialSync/COMPORT=COM2", "GPS/COMPORT=COM2"});
    for (int i = 0; i < 2; ++i) w.Check2.click();
    serial.failOpen = true;
    w.Check2.click();
    EXPECT_EQ(serial.calls, (Strings{"open 2", "close", "open 2"}));
    EXPECT_EQ(w.Check2.Value(), 1);
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(view.lines,
              Strings{"serial sync: COM2 is the GPS receiver's port too; choose another"});
    EXPECT_EQ(profile.writes, (Strings{"SerialSync/SENDSYNC= 1", "SerialSync/SENDSYNC= 0",
                                       "SerialSync/SENDSYNC= 1"}));
}

}  // namespace
}  // namespace tidewell
