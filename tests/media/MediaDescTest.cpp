#include <Ovra/MediaDesc.h>

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

namespace Ovra {
namespace {

static_assert(std::is_standard_layout<VideoEncDesc>::value, "plain record");
static_assert(std::is_empty<AudioDesc>::value, "AudioDesc declares no data");
static_assert(sizeof(AudioEncDesc) > sizeof(AudioRawDesc), "the encoded record carries more");

// Assignment copies every field: fill the source with distinct bytes and compare whole records.
template <typename Record>
void ExpectAssignmentCopiesEveryField() {
    Record source, target;
    unsigned char* bytes = static_cast<unsigned char*>(static_cast<void*>(&source));
    for (std::size_t i = 0; i < sizeof source; ++i) bytes[i] = static_cast<unsigned char>(i + 1);
    std::memset(static_cast<void*>(&target), 0, sizeof target);
    Record& result = (target = source);
    EXPECT_EQ(&result, &target);
    EXPECT_EQ(std::memcmp(&source, &target, sizeof source), 0);
    target = target;  // self-assignment leaves it unchanged
    EXPECT_EQ(std::memcmp(&source, &target, sizeof source), 0);
}

TEST(MediaDesc, AssignmentCopiesEveryField) {
    ExpectAssignmentCopiesEveryField<VideoDesc>();
    ExpectAssignmentCopiesEveryField<VideoRawDesc>();
    ExpectAssignmentCopiesEveryField<VideoEncDesc>();
    ExpectAssignmentCopiesEveryField<AudioRawDesc>();
    ExpectAssignmentCopiesEveryField<AudioEncDesc>();
    AudioDesc a, b;
    EXPECT_EQ(&(a = b), &a);
}

TEST(MediaDesc, AggregateInitialisationNamesTheFields) {
    VideoEncDesc h264 = {0x34363248u, 100, 41, 1920, 1080, 30000, 1001, 4000000, 6000000, 1, 60, 0};
    VideoEncDesc copy;
    copy = h264;
    EXPECT_EQ(copy.width, 1920u);
    EXPECT_EQ(copy.gopLength, 60u);
}

}  // namespace
}  // namespace Ovra
