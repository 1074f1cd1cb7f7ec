#include "broadcast/sync_frame.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace tidewell {
namespace {

TEST(SyncFrame, LayoutOfBothModes) {
    EXPECT_EQ(buildSyncFrame({16, 11, 3, 6, 12, 2026}, SyncMode::Utc, 0), "*16110312062026"
                                                                          "0000000001000000000#")
        << "UTC: month before day";
    EXPECT_EQ(buildSyncFrame({16, 11, 4, 6, 12, 2026}, SyncMode::Local, 1), "*16110406122026"
                                                                            "         1  1      #")
        << "local: day before month";
    EXPECT_EQ(buildSyncFrame({0, 0, 0, 1, 1, 2027}, SyncMode::Utc, 2), "*00000001012027"
                                                                       "0000000001001000000#")
        << "midnight, greyed battery save";
    EXPECT_THROW(buildSyncFrame({0, 0, 24, 1, 1, 2026}, SyncMode::Local, 0), Error)
        << "a wider field would shift the trailer";
}

TEST(SyncFrame, TrailerByModeStateAndHour) {
    for (SyncMode mode : {SyncMode::Utc, SyncMode::Local})
        for (int state : {0, 1, 2, -1})
            for (int hour = 0; hour < 24; ++hour) {
                const std::string f = buildSyncFrame({59, 59, hour, 31, 12, 9999}, mode, state);
                SCOPED_TRACE(f);
                ASSERT_EQ(f.size(), kSyncFrameLength);
                EXPECT_EQ(f.back(), '#');
                const bool save = state != 0 && hour != 2 && hour != 15;
                const char filler = mode == SyncMode::Utc ? '0' : ' ';
                for (std::size_t i = 15; i < 34; ++i) {
                    const char want = i == 24 || (i == 27 && save) ? '1' : filler;
                    EXPECT_EQ(f[i], want) << "position " << i + 1;
                }
            }
}

} // namespace
} // namespace tidewell
