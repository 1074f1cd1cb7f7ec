// The Linux program's loop at real-time priority where it has the right, and as before, said
// once, where it has not (CAP_SYS_NICE dropped with setpriv).
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "child_process.h"

namespace tidewell {
namespace {

struct Outcome {
    int policy = -1;
    std::vector<std::string> priorityLines;
};

Outcome runProgram(std::vector<std::string> setpriv) {
    char folder[] = "/tmp/tidewell-rt-XXXXXX";
    if (!::mkdtemp(folder)) throw std::runtime_error("cannot make a folder");
    const std::string settings = std::string(folder) + "/Tidewell.ini";
    for (auto arg : {"--", TIDEWELL_BINARY_DIR "/tidewell", "--headless", "--no-set-clock",
                     "--settings"})
        setpriv.push_back(arg);
    setpriv.push_back(settings);
    testing::ChildProcess program("/usr/bin/setpriv", setpriv, {"HOME=" + std::string(folder)});
    Outcome run;
    // After start-up's lines.
    for (std::size_t i = 0; i < 10 && !program.line(i).empty(); ++i)
        if (program.line(i).starts_with("priority:")) {
            run.policy = ::sched_getscheduler(program.pid());
            break;
        }
    program.waitExit(5000, SIGTERM);
    for (const auto& line : program.lines())
        if (line.starts_with("priority:")) run.priorityLines.push_back(line);
    std::system(("rm -rf " + std::string(folder)).c_str());
    return run;
}

TEST(RealtimePriority, GrantedToRootAndSaidOnceWhenRefused) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv";
    const Outcome granted = runProgram({"--reuid=0"});
    EXPECT_EQ(granted.policy, SCHED_FIFO);
    EXPECT_EQ(granted.priorityLines,
              std::vector<std::string>{"priority: real-time (SCHED_FIFO 10, memory locked)"});
    const Outcome refused = runProgram({"--inh-caps=-all", "--bounding-set=-sys_nice"});
    EXPECT_EQ(refused.policy, SCHED_OTHER);
    EXPECT_EQ(refused.priorityLines,
              std::vector<std::string>{"priority: normal (no right to real-time scheduling)"});
}

}  // namespace
}  // namespace tidewell
