#include "window_fixture.h"

namespace tidewell {
namespace {

NmeaSentence rmc(int h, int mi, int s, double fraction = 0, const char* type = "RMC") {
    return {type, *dateValueOf(2026, 12, 5, h, mi, s) + fraction / 86400.0};
}

// ---- GPS time --------------------------------------------------------------------------

TEST_F(WindowTest, RmcShowsGpsAndLocalTimeAndSetsTheClockAtSecondOne) {
    clock.offsetMinutes = 600;  // ten hours east
    OrvaneSetTime& w = start();
    w.NMEA1_SentenceReceived(rmc(9, 0, 0, 0, "GPRMC"));
    EXPECT_EQ(w.txtGPStime.Text(), "") << "other types touch no display";
    w.Check3.Value(1);
    w.NMEA1_SentenceReceived(rmc(20, 30, 0, 0, "rmc"));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:30:01");
    EXPECT_EQ(w.txtLocalTime.Text(), "6/12/26   6:30:01");
    EXPECT_EQ(clock.sets, (Strings{"date 2026-12-06", "time 06:30:01"})) << "date before time";
    w.Check3.Value(0);
    w.NMEA1_SentenceReceived(rmc(20, 31, 0, 0.6));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:31:02") << ".60 plus the advance rounds up";
    w.NMEA1_SentenceReceived(rmc(20, 32, 0));
    EXPECT_EQ(clock.sets, (Strings{"date 2026-12-06", "time 06:30:01", "time 06:32:01"}))
        << "set at second 1 only; without the GPS date only the time";
    w.NMEA1_SentenceReceived(NmeaSentence{"RMC", std::nullopt});
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:32:01") << "a sentence without time: kept";
}

TEST_F(WindowTest, ARefusedClockIsTriedOnceAMinuteAndBoxedOnce) {
    clock.refuse = true;
    OrvaneSetTime& w = start();
    for (auto [mi, s] : {std::pair{5, 0}, {5, 1}, {6, 0}}) w.NMEA1_SentenceReceived(rmc(9, mi, s));
    EXPECT_EQ(clock.sets, (Strings{"time 09:05:01 refused", "time 09:06:01 refused"}));
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   9:06:01") << "reception goes on";
    EXPECT_EQ(std::count(view.lines.begin(), view.lines.end(), "Operation not permitted"), 2);
}

// A change that cannot be saved is told each time, in a box once a run; the control keeps it.
TEST_F(WindowTest, ASettingThatCannotBeSavedIsToldAndKeptForTheRun) {
    OrvaneSetTime& w = start();
    profile.failWrites = "it is read-only";
    w.Check3.Value(1);
    w.Check1.Value(1);
    EXPECT_EQ(view.lines, (Strings{"not saved: it is read-only", "not saved: it is read-only"}));
    EXPECT_EQ(shell.boxes, Strings{"Tidewell: Settings cannot be saved to " + file +
                                   ": it is read-only. Changes last until the program ends."});
    EXPECT_EQ(w.Check3.Value(), 1);
    EXPECT_EQ(w.Check1.Value(), 1);
}

// ---- Broadcast -------------------------------------------------------------------------

class Broadcast : public WindowTest {
protected:
    OrvaneSetTime& outputsOn() {
        stored({"UDP/SendUDP= 1", "UDP/UDPrate=once per second", "UDP/UDPaddress=127.0.0.1",
                "SerialSync/SendSync= 1", "SerialSync/serialrate=once per second",
                "SerialSync/COMPORT=COM2"});
        return start();
    }
    void nextSecond(int times = 1) {
        for (int i = 0; i < times; ++i) {
            clock.now.wSecond = std::uint16_t((clock.now.wSecond + 1) % 60);
            window->SendUDP_Timer();
        }
    }
};

// One frame a second on both outputs, serial first, while checked; failed serial writes are
// counted; transient UDP failures are silent, others boxed one at a time.
TEST_F(Broadcast, SendingRules) {
    OrvaneSetTime& w = outputsOn();
    w.SendUDP_Timer();
    w.SendUDP_Timer();  // same second: nothing
    nextSecond();
    ASSERT_EQ(serial.outputs.size(), 2u);
    EXPECT_EQ(udp.sent[1], "127.0.0.1: " + serial.outputs[1]) << "both carry the same frame";
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
// (or greyed).
TEST_F(WindowTest, APortPickOpensItStoresItOrIsRefused) {
    const struct {
        const char* what;
        bool gpsList;
        int sync;
        const char* serialPort;
        int pick;
        std::string stored;
        Strings calls;
        bool boxed = false, failOpen = false;
    } rows[] = {
        {"gps: clash while sync on", true, 1, "COM2", 2, "None", {"ClosePort"}, true},
        {"gps: clash while greyed", true, 2, "COM2", 2, "None", {"ClosePort"}, true},
        {"gps: same port, sync off", true, 0, "COM2", 2, "COM2", {"ClosePort", "OpenPort 2"}},
        {"gps: other port", true, 1, "COM2", 4, "COM4", {"ClosePort", "OpenPort 4"}},
        {"gps: None twice, sync on", true, 1, "None", 0, "None", {"ClosePort"}},
        {"gps: fails to open", true, 0, "COM2", 5, "COM1", {"ClosePort", "OpenPort 5"}, true, true},
        {"serial: opens with sync off", false, 0, "COM2", 4, "COM4", {"open 4"}},
        {"serial: None closes", false, 1, "COM2", 0, "None", {"close"}},
        {"serial: the GPS port", false, 0, "COM2", 1, "None", {}, true},
        {"serial: fails to open", false, 0, "COM2", 6, "COM2", {"open 6"}, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        stored({"GPS/COMPORT=COM1", "SerialSync/COMPORT=" + std::string(r.serialPort),
                "SerialSync/SendSync=" + std::to_string(r.sync)});
        OrvaneSetTime& w = start();
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
}

TEST_F(WindowTest, SerialSyncBoxOpensAndClosesThePortAndKeepsTheChoiceWhenItFails) {
    stored({"SerialSync/COMPORT=COM2", "GPS/COMPORT=COM2"});
    OrvaneSetTime& w = start();
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

// Each setting's control stores its key at once, in the key's own form, and takes effect.
TEST_F(WindowTest, EveryChoiceStoresItsKeyAndTakesEffect) {
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
}

// ---- Tray, hide and exit -----------------------------------------------------------------

// Each click on the tray icon shows the window; Close and Exit saves the GPS port, other closes
// do not.
TEST_F(WindowTest, TrayHideAndExit) {
    OrvaneSetTime& w = start();
    EXPECT_FALSE(w.Visible() || shell.windowShown || w.Timer1.Enabled());
    for (TrayButton button : {TrayButton::Left, TrayButton::Right, TrayButton::Double}) {
        w.Command4_Click();
        EXPECT_FALSE(shell.windowShown);
        w.trayClicked(button);
        EXPECT_TRUE(w.Visible() && shell.windowShown && w.Timer1.Enabled());
    }

    w.Combo1.Text("COM6");
    w.Command1_Click();
    EXPECT_EQ(nmea.calls, (Strings{"ClosePort", "ClosePort"}));
    EXPECT_EQ(profile.writes, Strings{"GPS/COMPORT=COM6"});
    EXPECT_EQ(shell.trayCalls.back(), "remove");
    EXPECT_EQ(shell.quitCalls, 1);

    profile.writes.clear();
    w.Form_Unload();
    EXPECT_TRUE(profile.writes.empty());
}

}  // namespace
}  // namespace tidewell
