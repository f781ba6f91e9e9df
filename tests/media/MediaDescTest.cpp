#include <Ovra/MediaDesc.h>

#include <gtest/gtest.h>

#include <type_traits>

namespace Ovra {
namespace {

static_assert(std::is_standard_layout<VideoEncDesc>::value, "plain record");
static_assert(std::is_empty<AudioDesc>::value, "AudioDesc declares no data");
static_assert(sizeof(AudioEncDesc) > sizeof(AudioRawDesc), "the encoded record carries more");

TEST(MediaDesc, AggregateInitialisationFollowsTheFieldOrder) {
    const VideoEncDesc h264 = {0x34363248u, 100,     41,      1920, 1080, 30000,
                               1001,        4000000, 6000000, 1,    60,   0};
    EXPECT_EQ(h264.width, 1920u);
    EXPECT_EQ(h264.gopLength, 60u);
}

}  // namespace
}  // namespace Ovra
