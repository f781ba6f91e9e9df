#include <Ovra/MediaDesc.h>

#include <gtest/gtest.h>

TEST(MediaDesc, AggregateInitialisationFollowsTheFieldOrder) {
    const Ovra::VideoEncDesc h264 = {0x34363248u, 100,     41,      1920, 1080, 30000,
                                     1001,        4000000, 6000000, 1,    60,   0};
    EXPECT_EQ(h264.width + h264.gopLength, 1980u);
}
