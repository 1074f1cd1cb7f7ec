#include "app/lost_ports_posix.h"

#include <functional>
#include <map>

#include "../integration/child_process.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using testing::Pty;

// What the user does while the receiver and the display are unplugged, and which of them
// opens again once every device is back.
struct AfterUnplug {
    const char* what;
    std::function<void(OrvaneSetTime&)> action;
    bool gpsBack, serialBack;
};

TEST_F(WindowTest, OnlyAPortTheUserStillWantsIsReopened) {
    const AfterUnplug rows[] = {
        {"nothing", [](OrvaneSetTime&) {}, true, true},
        {"serial sync off", [](OrvaneSetTime& w) { w.Check2.Value(0); }, true, false},
        {"serial port None", [](OrvaneSetTime& w) { w.Combo2.choose(0); }, true, false},
        {"serial port that fails to open", [](OrvaneSetTime& w) { w.Combo2.choose(5); }, true,
         false},
        {"gps port None", [](OrvaneSetTime& w) { w.Combo1.choose(0); }, false, true},
        {"gps port that fails to open", [](OrvaneSetTime& w) { w.Combo1.choose(5); }, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        stored("GPS", "COMPORT", "COM1");
        stored("SerialSync", "SendSync", " 1");
        stored("SerialSync", "COMPORT", "COM3");
        auto receiverPty = std::make_unique<Pty>(), displayPty = std::make_unique<Pty>();
        std::map<int, std::string> devices{{1, receiverPty->path()}, {3, displayPty->path()}};
        const auto pathOf = [&](int port) { return devices[port]; };
        PosixNmeaReceiver receiver(pathOf, DateWindow{});
        PosixSerialPort display(pathOf);
        OrvaneSetTime w({shell, profile, registry, clock}, {receiver, display, udp},
                        "Tidewell.ini");
        w.Form_Load();
        ASSERT_TRUE(receiver.isOpen() && display.PortOpen());

        receiverPty.reset();
        displayPty.reset();
        receiver.handleReadable();
        EXPECT_THROW(display.Output("*"), Error);
        ASSERT_TRUE(receiver.deviceLost() && display.deviceLost());
        row.action(w);

        Pty receiverBack, displayBack, otherBack;
        devices = {{1, receiverBack.path()}, {3, displayBack.path()}, {5, otherBack.path()}};
        reopenLostPorts(w, receiver, display);
        EXPECT_EQ(receiver.isOpen(), row.gpsBack);
        EXPECT_EQ(display.PortOpen(), row.serialBack);
        w.SendUDP_Timer();
        EXPECT_EQ(displayBack.read(35, 100).size(), row.serialBack ? 35u : 0u);
    }
}

}  // namespace
}  // namespace tidewell
