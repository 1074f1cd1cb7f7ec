// nmea-check --scan over pseudo-terminals, each standing in for one kind of serial device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "child_process.h"
#include "devices/nmea_receiver.h"

namespace tidewell {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

const std::string kTools = TIDEWELL_BINARY_DIR "/tools/";

// A receiver at 9600 baud with a fix, named twice (once through a link); one at 4800 without a
// fix; noise at a speed the hunt never tries; a silent line; one that another receiver holds;
// one missing. A line for each device, in order, then the receivers as the settings name them.
TEST(NmeaScan, TellsWhatEachDeviceCarriesAndHowToUseTheReceivers) {
    testing::ChildProcess fix(kTools + "nmea-sim", {"--baud", "9600", "--chunk", "sentence"}),
        noFix(kTools + "nmea-sim", {"--void", "1"}),
        noise(kTools + "nmea-sim", {"--baud", "57600"});
    testing::Pty silent, held;
    PortNmeaReceiver holder([&](int) { return held.path(); }, {});
    holder.PortNumber = 1;
    holder.OpenPort();
    const std::string link = ::testing::TempDir() + "scan-" + std::to_string(::getpid());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(fix.line(0), link);
    const std::string missing = TIDEWELL_BINARY_DIR "/no-such-tty";

    testing::ChildProcess scan(kTools + "nmea-check",
                               {"--scan", link, fix.line(0), noFix.line(0), noise.line(0),
                                silent.path(), held.path(), missing});
    // It ends itself within 20 s, whatever the devices do; the wait only catches a hang.
    const int status = scan.waitExit(200'000);
    std::filesystem::remove(link);
    EXPECT_EQ(status, 0) << scan.stderrText();
    EXPECT_THAT(
        scan.lines(),
        ElementsAre(
            link + " (" + fix.line(0) + "): NMEA at 9600 baud, valid time",
            MatchesRegex(noFix.line(0) + ": NMEA at 4800 baud, no valid time in the last "
                                         "[0-9]+ s: [0-9]+ status V"),
            StartsWith(noise.line(0) + ": noise: "), StartsWith(silent.path() + ": nothing"),
            StartsWith(held.path() + ": busy: locked by PID " + std::to_string(::getpid()) + " ("),
            missing + ": no such device", "",
            "Put these lines in Tidewell.ini and choose COM1 (or COM2) as the GPS port:", "[Ports]",
            "COM1=" + link, "COM2=" + noFix.line(0), "BAUD=auto"));
}

}  // namespace
}  // namespace tidewell
