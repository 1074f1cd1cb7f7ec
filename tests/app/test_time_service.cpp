#include "app/program.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

struct FakeTimeServices : TimeServiceProbe {
    std::optional<std::string> answer;
    int asked = 0;
    void probe(Done done) override { ++asked, done(answer); }
};

TEST_F(WindowTest, AnotherTimeServiceIsToldOnceAndSetClockZeroLeavesTheClockAlone) {
    fakes::FakeEventLoop loop;
    const PortMap ports(profile, file);
    FakeTimeServices services;
    auto run = [&] {
        auto p =
            std::make_unique<Program>(platform(), components(), loop, ports, file, view, &services);
        p->start();
        return p;
    };
    auto program = run();
    services.answer = "chronyd";
    for (int hour = 0; hour < 3; ++hour)
        for (const auto& check : loop.live("after", Program::kTimeServiceCheckMs))
            check->callback();
    EXPECT_EQ(services.asked, 2) << "at start, then hourly until found";
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_TRUE(shell.boxes[0].ends_with("SETCLOCK=0 in section [GPS] of " + file + "."));
    EXPECT_EQ(std::count_if(view.lines.begin(), view.lines.end(),
                            [](auto& l) { return l.starts_with("time service: chronyd"); }),
              1);

    stored("GPS", "SETCLOCK", " 0");
    services.asked = 0, program = run();
    program->window().NMEA1_SentenceReceived({"RMC", *dateValueOf(2026, 12, 5, 9, 6, 0)});
    EXPECT_EQ(program->window().txtGPStime.Text(), "05-12-2026   9:06:01");
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_EQ(services.asked, 0);
    for (const std::string& w : profile.writes) EXPECT_FALSE(w.starts_with("GPS/SETCLOCK")) << w;
}

}  // namespace
}  // namespace tidewell
