// The real Win32 path, without fakes. Wine opens \\.\PHYSICALDRIVE0 but refuses SMART_GET_VERSION.

#include <Ovra/HddSmartInfo.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

#ifdef _WIN32
TEST(SmartWin32, FirstDiskUnderWineHasNoSmart) {
    HddSmartInfo info;
    std::map<unsigned char, HddSmartAttr> attrs;
    attrs[190].value = 42;
    EXPECT_EQ(info.GetNowSmartAttr(0, attrs), 127);
    ASSERT_EQ(attrs.size(), 1u);
    EXPECT_EQ(attrs[190].value, 42);
}
#endif

}  // namespace
}  // namespace Ovra
