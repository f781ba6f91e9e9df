#include <Ovra/MediaDesc.h>

#include <gtest/gtest.h>

#include <cstring>

TEST(MediaDesc, AssignmentCopiesEveryField) {
    // The records assign field by field: every byte must arrive (none has padding).
    const auto copiesAll = [](auto source) {
        auto* bytes = reinterpret_cast<unsigned char*>(&source);
        for (std::size_t i = 0; i < sizeof source; ++i)
            bytes[i] = static_cast<unsigned char>(i + 1);
        decltype(source) target{};
        target = source;
        return std::memcmp(&source, &target, sizeof source) == 0;
    };
    using namespace Ovra;
    EXPECT_TRUE(copiesAll(VideoDesc{}) && copiesAll(VideoRawDesc{}) && copiesAll(VideoEncDesc{}));
    EXPECT_TRUE(copiesAll(AudioRawDesc{}) && copiesAll(AudioEncDesc{}));
}
