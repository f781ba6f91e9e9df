// The real Win32 path, without fakes. Wine opens \\.\PHYSICALDRIVE0 but refuses SMART_GET_VERSION.
#include <Ovra/HddSmartInfo.h>

#include <gtest/gtest.h>

#ifdef _WIN32
TEST(SmartWin32, FirstDiskUnderWineHasNoSmart) {
    std::map<unsigned char, Ovra::HddSmartAttr> attrs{{190, {}}};
    EXPECT_EQ(Ovra::HddSmartInfo().GetNowSmartAttr(0, attrs), 127);
    EXPECT_EQ(attrs.size(), 1u);
}
#endif
