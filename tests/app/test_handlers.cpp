#include "gps/date_value.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using Strings = std::vector<std::string>;

NmeaSentence rmc(int y, int mo, int d, int h, int mi, int s, double fraction = 0) {
    return {"RMC", *dateValueOf(y, mo, d, h, mi, s) + fraction / 86400.0};
}

class Handlers : public WindowTest {
protected:
    OrvaneSetTime& start() {
        OrvaneSetTime& w = load();
        clearRecords();
        return w;
    }
};

// ---- GPS time --------------------------------------------------------------------------

TEST_F(Handlers, RmcShowsGpsAndLocalTimeAndSetsTheClockAtSecondOne) {
    clock.offsetMinutes = 600;  // ten hours east
    OrvaneSetTime& w = start();
    w.Check3.Value(1);
    w.NMEA1_SentenceReceived(rmc(2026, 12, 5, 20, 30, 0));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   20:30:01");
    EXPECT_EQ(w.txtLocalTime.Text(), "6/12/26   6:30:01");
    EXPECT_EQ(clock.sets, (Strings{"date 2026-12-06", "time 06:30:01"})) << "date before time";
    EXPECT_EQ(view.lines.back(), "set date and time");

    w.Check3.Value(0);
    w.NMEA1_SentenceReceived(rmc(2026, 12, 5, 20, 31, 0));
    EXPECT_EQ(clock.sets.back(), "time 06:31:01") << "without the GPS date only the time is set";
    EXPECT_EQ(clock.sets.size(), 3u);
}

TEST_F(Handlers, OnlyRmcIsHandledWhateverItsCase) {
    OrvaneSetTime& w = start();
    for (const char* type : {"GGA", "GPRMC", ""}) {
        NmeaSentence s = rmc(2026, 12, 6, 9, 5, 0);
        s.TypeID = type;
        w.NMEA1_SentenceReceived(s);
    }
    EXPECT_EQ(w.txtGPStime.Text(), "") << "other types touch no display";
    NmeaSentence lower = rmc(2026, 12, 6, 9, 5, 0, 0.6);
    lower.TypeID = "rmc";
    w.NMEA1_SentenceReceived(lower);
    EXPECT_EQ(w.txtGPStime.Text(), "06-12-2026   9:05:02")
        << ".60 plus the advance rounds up twice";
}

TEST_F(Handlers, ARefusedClockIsReportedEveryTimeButBoxedOnce) {
    clock.refuse = true;
    OrvaneSetTime& w = start();
    w.NMEA1_SentenceReceived(rmc(2026, 12, 6, 9, 5, 0));
    w.NMEA1_SentenceReceived(rmc(2026, 12, 6, 9, 5, 1));
    w.NMEA1_SentenceReceived(rmc(2026, 12, 6, 9, 6, 0));
    EXPECT_EQ(clock.sets, (Strings{"time 09:05:01 refused", "time 09:06:01 refused"}))
        << "one try a minute";
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(w.txtGPStime.Text(), "06-12-2026   9:06:01") << "reception goes on";
    EXPECT_EQ(std::count(view.lines.begin(), view.lines.end(), "refused: Operation not permitted"),
              2);

    w.reportClockRefusalInMessageBox = false;  // headless
    shell.boxes.clear();
    w.NMEA1_SentenceReceived(rmc(2026, 12, 6, 9, 7, 0));
    EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(Handlers, ASentenceWithoutTimeLeavesTheDisplays) {
    OrvaneSetTime& w = start();
    w.NMEA1_SentenceReceived(rmc(2026, 12, 6, 9, 5, 0));
    w.NMEA1_SentenceReceived(NmeaSentence{"RMC", std::nullopt});
    EXPECT_EQ(w.txtGPStime.Text(), "06-12-2026   9:05:01");
    EXPECT_EQ(view.lines.back().rfind("failed: ", 0), 0u);
}

// ---- Broadcast -------------------------------------------------------------------------

class Broadcast : public Handlers {
protected:
    OrvaneSetTime& outputsOn() {
        stored("UDP", "SendUDP", " 1");
        stored("UDP", "UDPaddress", "127.0.0.1");
        stored("UDP", "UDPrate", "once per second");
        stored("SerialSync", "SendSync", " 1");
        stored("SerialSync", "COMPORT", "COM2");
        stored("SerialSync", "serialrate", "once per second");
        return start();
    }
    void nextSecond() {
        clock.now.wSecond = std::uint16_t((clock.now.wSecond + 1) % 60);
        window->SendUDP_Timer();
    }
};

TEST_F(Broadcast, OneFrameASecondOnBothOutputsSerialFirst) {
    OrvaneSetTime& w = outputsOn();
    w.SendUDP_Timer();
    w.SendUDP_Timer();  // same second: nothing
    nextSecond();
    ASSERT_EQ(serial.outputs.size(), 2u);
    ASSERT_EQ(udp.sent.size(), 2u);
    EXPECT_EQ(serial.outputs[1], udp.sent[1].data) << "both outputs carry the same frame";
    EXPECT_EQ(udp.sent[1].host, "127.0.0.1");
    EXPECT_EQ(view.lines, (Strings{"sent serial", "sent udp", "sent serial", "sent udp"}));
}

TEST_F(Broadcast, GreyedBoxesAndAClosedPortSendNothing) {
    OrvaneSetTime& w = outputsOn();
    w.Check1.Value(2);
    w.Check2.Value(2);
    nextSecond();
    w.Check2.Value(1);
    serial.open = false;
    nextSecond();
    EXPECT_TRUE(udp.sent.empty());
    EXPECT_TRUE(serial.outputs.empty());
    EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(Broadcast, TransientUdpFailuresAreSilentOthersBoxedOneAtATime) {
    outputsOn();
    udp.failWith = Error(errors::TransientSend, "No buffer space available");
    nextSecond();
    EXPECT_TRUE(shell.boxes.empty());

    udp.failWith = Error(101, "Network is unreachable");
    int nested = 0;
    shell.whileBoxOpen = [&] {
        // Ticks go on while the box is open; their failures open no second box.
        for (int i = 0; i < 3; ++i, ++nested) nextSecond();
    };
    nextSecond();
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].text, "Network is unreachable");
    EXPECT_EQ(shell.boxes[0].title, "101");
    EXPECT_EQ(shell.boxes[0].icon, MsgBoxIcon::Critical);
    EXPECT_EQ(nested, 3);
    EXPECT_EQ(serial.outputs.size(), 5u) << "serial frames went on during the box";

    shell.whileBoxOpen = nullptr;
    nextSecond();
    EXPECT_EQ(shell.boxes.size(), 2u) << "once closed, the next failure is shown again";
}

TEST_F(Broadcast, AFailedSerialWriteIsCountedAndDropped) {
    OrvaneSetTime& w = outputsOn();
    serial.failWrite = true;
    nextSecond();
    nextSecond();
    EXPECT_EQ(w.serialFailures(), 2u);
    EXPECT_EQ(udp.sent.size(), 2u) << "UDP is not held up by the serial output";
    EXPECT_TRUE(shell.boxes.empty());
}

// ---- GPS port choice ---------------------------------------------------------------------

TEST_F(Handlers, TheGpsPortIsRefusedOnlyWhenItIsTheSerialSyncPortWhileSyncIsOn) {
    const struct {
        const char* what;
        int serialOn;
        std::string serialPort;
        int gpsPick;
        bool accepted;
    } rows[] = {
        {"clash while sync on", 1, "COM3", 3, false}, {"same port, sync off", 0, "COM3", 3, true},
        {"other port", 1, "COM3", 4, true},           {"None twice, sync on", 1, "None", 0, true},
        {"clash while greyed", 2, "COM3", 3, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        OrvaneSetTime& w = start();
        w.Check2.Value(r.serialOn);
        w.Combo2.Text(r.serialPort);
        clearRecords();
        w.Combo1.choose(r.gpsPick);
        EXPECT_EQ(shell.boxes.size(), r.accepted ? 0u : 1u);
        EXPECT_EQ(profile.get("GPS", "COMPORT"), r.accepted ? w.Combo1.List()[r.gpsPick] : "None");
        if (r.accepted) continue;
        EXPECT_EQ(shell.boxes[0].text, "Please check your comm settings");
        EXPECT_EQ(shell.boxes[0].title, "ERROR");
        EXPECT_EQ(shell.boxes[0].icon, MsgBoxIcon::Exclamation);
        EXPECT_EQ(w.Combo1.Text(), "None");
        EXPECT_EQ(nmea.calls, (Strings{"ClosePort"}));
    }
}

TEST_F(Handlers, AGpsPortThatFailsToOpenKeepsThePreviousChoiceStored) {
    stored("GPS", "COMPORT", "COM1");
    OrvaneSetTime& w = start();
    nmea.failOpen = true;
    w.Combo1.choose(5);
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(profile.get("GPS", "COMPORT"), "COM1");
    EXPECT_EQ(w.Combo1.Text(), "COM5");
    EXPECT_EQ(nmea.PortNumber, 5);
}

// ---- Serial sync settings ----------------------------------------------------------------

TEST_F(Handlers, ASerialPortPickOpensItStoresItOrIsRefused) {
    const struct {
        const char* what;
        int pick;
        bool failOpen;
        Strings calls;
        std::string stored;
        std::size_t boxes;
    } rows[] = {
        {"opens even with sync off", 4, false, {"open 4"}, "COM4", 0},
        {"None closes and keeps the number", 0, false, {"open 2", "close"}, "None", 0},
        {"the GPS port is refused", 3, false, {}, "None", 1},
        {"a port that fails is not stored", 6, true, {"open 6"}, "COM2", 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        stored("GPS", "COMPORT", "COM3");
        stored("SerialSync", "COMPORT", "COM2");
        OrvaneSetTime& w = start();
        serial = {};
        serial.failOpen = r.failOpen;
        if (r.pick == 0) w.Combo2.choose(2);
        w.Combo2.choose(r.pick);
        EXPECT_EQ(serial.calls, r.calls);
        EXPECT_EQ(profile.get("SerialSync", "COMPORT"), r.stored);
        EXPECT_EQ(shell.boxes.size(), r.boxes);
        EXPECT_EQ(serial.CommPort, r.pick == 0 ? 2 : r.pick == 3 ? 1 : r.pick);
    }
}

TEST_F(Handlers, SerialSyncBoxOpensAndClosesThePort) {
    stored("SerialSync", "COMPORT", "COM2");
    OrvaneSetTime& w = start();
    w.Check2.click();
    EXPECT_EQ(serial.calls, (Strings{"open 2"}));
    EXPECT_TRUE(w.Combo2.Visible());
    w.Check2.click();
    EXPECT_EQ(serial.calls.back(), "close");
    EXPECT_FALSE(w.Combo2.Visible());
    EXPECT_EQ(profile.writes, (Strings{"SerialSync/SENDSYNC= 1", "SerialSync/SENDSYNC= 0"}));

    serial.failOpen = true;
    w.Check2.click();
    EXPECT_EQ(w.Check2.Value(), 1) << "the box keeps the user's choice";
    EXPECT_FALSE(serial.PortOpen());
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(profile.writes.back(), "SerialSync/SENDSYNC= 1");
}

TEST_F(Handlers, BatterySaveIsStoredAndReadBack) {
    OrvaneSetTime& w = start();
    w.Check4.click();
    EXPECT_EQ(profile.get("Analog", "BatterySave"), " 1");
    EXPECT_EQ(w.Check4.Value(), 1);
    w.Check4.click();
    EXPECT_EQ(profile.get("Analog", "BatterySave"), " 0");

    profile.values.clear();
    profile.failWrites = true;
    w.Check4.click();
    EXPECT_EQ(w.Check4.Value(), 1) << "nothing to read back: the box keeps the user's click";
}

// Each setting's control stores its key at once, in the key's own form.
TEST_F(Handlers, EveryClickStoresItsKey) {
    OrvaneSetTime& w = start();
    const std::pair<std::function<void()>, Strings> rows[] = {
        {[&] { w.Check3.click(); }, {"GPS/GPSDATE=1"}},  // no blank before the digit
        {[&] { w.Check1.click(); }, {"UDP/SENDUDP= 1"}},
        {[&] { w.Option1[1].Value(true); },
         {"SerialSync/TIMEUTC=False", "SerialSync/TIMELOCAL=True"}},
        {[&] { w.Option1[0].Value(true); },
         {"SerialSync/TIMEUTC=True", "SerialSync/TIMELOCAL=False"}},
        {[&] { w.SerialRate.choose(2); }, {"SerialSync/SERIALRATE=once per hour"}},
        {[&] { w.UDPrate.choose(3); }, {"UDP/UDPRATE=once per day"}},
        {[&] { w.UDPaddress.Text("127.0.0.2"); }, {"UDP/UDPADDRESS=127.0.0.2"}},
    };
    for (const auto& [act, writes] : rows) {
        profile.writes.clear();
        act();
        EXPECT_EQ(profile.writes, writes);
    }
    EXPECT_EQ(w.SyncUsesUTC, true);
    EXPECT_EQ(w.SerialRateCode, 2);
    EXPECT_EQ(w.UDPRateCode, 3);
    EXPECT_EQ(udp.RemoteHost, "127.0.0.2");
    EXPECT_FALSE(w.UDPaddress.Visible()) << "the UDP box never shows the address";
}

// ---- Tray, hide and exit -----------------------------------------------------------------

TEST_F(Handlers, TrayButtonsShowTheWindowOtherMessagesDoNothing) {
    OrvaneSetTime& w = start();
    for (int code : {512, 514, 517, 519}) w.Form_MouseMove(0, 0, code * 15.0, 0);
    EXPECT_FALSE(w.Visible() || shell.windowShown);
    EXPECT_FALSE(w.Timer1.Enabled());
    for (int code : {513, 515, 516, 518}) {
        w.Command4_Click();
        EXPECT_FALSE(shell.windowShown);
        w.Form_MouseMove(0, 0, code * 15.0, 0);
        EXPECT_TRUE(w.Visible() && shell.windowShown) << code;
        EXPECT_TRUE(w.Timer1.Enabled()) << code;
    }
}

TEST_F(Handlers, CloseAndExitSavesTheGpsPortAndRemovesTheIcon) {
    OrvaneSetTime& w = start();
    w.Combo1.Text("COM6");
    w.Command1_Click();
    EXPECT_EQ(nmea.calls, (Strings{"ClosePort", "ClosePort"}));
    EXPECT_EQ(profile.writes, (Strings{"GPS/COMPORT=COM6"}));
    EXPECT_EQ(shell.trayCalls,
              (Strings{"remove Set PC Time from GPS", "remove Set PC Time from GPS"}));
    EXPECT_EQ(shell.quitCalls, 1);

    clearRecords();
    w.Form_Unload();
    EXPECT_TRUE(profile.writes.empty()) << "closing any other way saves nothing";
}

}  // namespace
}  // namespace tidewell
