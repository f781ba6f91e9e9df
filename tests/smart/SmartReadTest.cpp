#include "tests/smart/SmartTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace Ovra {
namespace {

using fakes::FakePlatform;
using fakes::FakeSmartDisk;
using testing_smart::Readings;

// The 33 bytes of a SMART command block, written out independently of the library's records.
std::vector<std::uint8_t> CommandBytes(std::uint32_t bufferSize, std::uint8_t features,
                                       std::uint8_t drive) {
    std::vector<std::uint8_t> bytes(33, 0);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(bufferSize >> (8 * i));
    const std::uint8_t registers[] = {features, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, drive};
    for (int i = 0; i < 9; ++i) bytes[4 + i] = registers[i];
    return bytes;
}

// One line per call: name, text, integer arguments and input bytes.
std::vector<std::string> Describe(const std::vector<fakes::Call>& calls) {
    std::vector<std::string> lines;
    for (const fakes::Call& call : calls) {
        std::ostringstream line;
        line << call.name << ' ' << std::string(call.text.begin(), call.text.end());
        for (std::uint64_t arg : call.args) line << ' ' << std::hex << arg;
        line << " |";
        for (std::uint8_t byte : call.input) line << ' ' << std::hex << int(byte);
        lines.push_back(line.str());
    }
    return lines;
}

HddSmartAttr Attr(unsigned char id, unsigned char value, unsigned char worst,
                  unsigned int threshold, unsigned short flags) {
    HddSmartAttr attr{};
    attr.id = id;
    attr.value = value;
    attr.worst = worst;
    attr.threshold = threshold;
    attr.flags = flags;
    return attr;
}

void ExpectAttr(const Readings& attrs, const HddSmartAttr& expected) {
    const int id = expected.id;
    auto it = attrs.find(expected.id);
    ASSERT_NE(it, attrs.end()) << "id " << id;
    const HddSmartAttr& a = it->second;
    // Copies: the wider fields of the packed record are unaligned.
    EXPECT_EQ(a.id, expected.id);
    EXPECT_EQ(unsigned(a.reserved), 0u) << "id " << id;
    EXPECT_EQ(a.value, expected.value) << "id " << id;
    EXPECT_EQ(a.worst, expected.worst) << "id " << id;
    EXPECT_EQ(unsigned(a.threshold), unsigned(expected.threshold)) << "id " << id;
    EXPECT_EQ(unsigned(a.flags), unsigned(expected.flags)) << "id " << id;
}

class SmartRead : public ::testing::Test {
protected:
    std::shared_ptr<FakeSmartDisk> AddDisk(long long n,
                                           std::vector<fakes::SmartAttributeEntry> attributes,
                                           std::vector<fakes::SmartThresholdEntry> thresholds) {
        auto disk = std::make_shared<FakeSmartDisk>(attributes, thresholds);
        fake.AddDevice(fakes::PhysicalDrivePath(n), disk);
        return disk;
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    HddSmartInfo info;
};

TEST_F(SmartRead, SendsTheExactSequenceOfDeviceCalls) {
    const struct {
        std::size_t disk;
        std::wstring path;
        std::uint8_t driveNumber;  // only the low 8 bits reach the command block
    } cases[] = {{0, L"\\\\.\\PHYSICALDRIVE0", 0},
                 {5, L"\\\\.\\PHYSICALDRIVE5", 5},
                 {256, L"\\\\.\\PHYSICALDRIVE256", 0},
                 // The path shows the low 32 bits as a signed number.
                 {0xFFFFFFFFu, L"\\\\.\\PHYSICALDRIVE-1", 0xFF}};
    for (const auto& c : cases) {
        fake.AddDevice(c.path,
                       std::make_shared<FakeSmartDisk>(std::vector<fakes::SmartAttributeEntry>{},
                                                       std::vector<fakes::SmartThresholdEntry>{}));
        fake.ClearCalls();
        Readings attrs;
        ASSERT_EQ(info.GetNowSmartAttr(c.disk, attrs), 0) << c.disk;
        const auto device = [](std::uint64_t code, std::uint64_t inSize, std::uint64_t outSize,
                               std::vector<std::uint8_t> input) {
            return fakes::Call{"DeviceIoControl", L"", {code, inSize, outSize}, input};
        };
        EXPECT_EQ(Describe(fake.Calls()),
                  Describe({{"CreateFileW", c.path, {0xC0000000u, 3, 3, 0}, {}},
                            device(0x00074080, 0, 24, {}),
                            device(0x0007C084, 33, 17, CommandBytes(0, 0xD8, c.driveNumber)),
                            device(0x0007C088, 33, 528, CommandBytes(512, 0xD0, c.driveNumber)),
                            device(0x0007C088, 33, 528, CommandBytes(512, 0xD1, c.driveNumber)),
                            {"CloseHandle", c.path, {}, {}}}))
            << c.disk;
    }
}

TEST_F(SmartRead, ReportsTheMonitoredIdsFromBothPages) {
    AddDisk(0,
            {
                {1, 0x000B, 200, 190},
                {0, 0xFFFF, 7, 7},      // empty entry
                {190, 0x0022, 60, 50},  // not monitored
                {194, 0x0022, 34, 20},
                {5, 0x0033, 100, 100},
                {194, 0x1234, 36, 21},  // a later duplicate wins
                {228, 0xABCD, 255, 254},
            },
            {{1, 51}, {0, 99}, {190, 45}, {5, 140}, {5, 255} /* later duplicate */, {228, 7}});
    Readings attrs;
    attrs[190] = Attr(190, 1, 2, 3, 4);  // keys outside the list are left alone
    attrs[5] = Attr(5, 9, 9, 9, 9);      // listed keys are overwritten
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);

    EXPECT_EQ(attrs.size(), 23u);
    ExpectAttr(attrs, Attr(190, 1, 2, 3, 4));
    ExpectAttr(attrs, Attr(1, 200, 190, 51, 0x000B));
    ExpectAttr(attrs, Attr(5, 100, 100, 255, 0x0033));
    ExpectAttr(attrs, Attr(194, 36, 21, 0, 0x1234));
    ExpectAttr(attrs, Attr(228, 255, 254, 7, 0xABCD));
    // Listed ids that the drive does not report are present and zero.
    for (unsigned char id :
         {2, 3, 4, 7, 9, 10, 11, 12, 13, 193, 195, 196, 197, 198, 199, 200, 202, 221}) {
        ExpectAttr(attrs, Attr(id, 0, 0, 0, 0));
    }
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(SmartRead, AFullPageOfThirtyEntriesIsReadToTheLastOne) {
    std::vector<fakes::SmartAttributeEntry> attributes(29, {3, 0x0001, 1, 1});
    attributes.push_back({3, 0x0101, 77, 66});  // entry 30 of 30
    AddDisk(0, attributes, {{3, 21}});
    Readings attrs;
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    ExpectAttr(attrs, Attr(3, 77, 66, 21, 0x0101));
    // The bytes after the 30th entry are not an entry (the fake fills them with id 194).
    ExpectAttr(attrs, Attr(194, 0, 0, 0, 0));
}

TEST_F(SmartRead, FailedAttributePageStillReportsThresholds) {
    AddDisk(0, {{1, 0x000B, 200, 190}}, {{1, 51}, {197, 3}})->failFeatures = {0xD0};
    Readings attrs;
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    ExpectAttr(attrs, Attr(1, 0, 0, 51, 0));
    ExpectAttr(attrs, Attr(197, 0, 0, 3, 0));
    ExpectAttr(attrs, Attr(194, 0, 0, 0, 0));  // nothing of the failed reply was used
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

// Each failure ends the call with its code, leaves the map untouched and closes the device.
TEST_F(SmartRead, FailuresLeaveTheMapUntouchedAndCloseTheDevice) {
    const struct {
        const char* name;
        void (*arrange)(FakeSmartDisk&);
        int result;
        std::size_t requests;  // DeviceIoControl calls made
    } cases[] = {
        {"version fails", [](FakeSmartDisk& d) { d.failVersion = true; }, 127, 1},
        {"no SMART capability", [](FakeSmartDisk& d) { d.capabilities = 0x03; }, 127, 1},
        {"enable fails", [](FakeSmartDisk& d) { d.failFeatures = {0xD8}; }, 127, 2},
        {"thresholds fail", [](FakeSmartDisk& d) { d.failFeatures = {0xD1}; }, 105, 4},
    };
    for (const auto& c : cases) {
        auto disk = AddDisk(0, {{9, 0x0032, 99, 98}}, {{9, 0}});
        c.arrange(*disk);
        fake.ClearCalls();
        Readings attrs{{9, Attr(9, 1, 1, 1, 1)}};
        EXPECT_EQ(info.GetNowSmartAttr(0, attrs), c.result) << c.name;
        EXPECT_EQ(fake.CallsNamed("DeviceIoControl").size(), c.requests) << c.name;
        EXPECT_EQ(fake.CallsNamed("CloseHandle").size(), 1u) << c.name;
        ASSERT_EQ(attrs.size(), 1u) << c.name;
        ExpectAttr(attrs, Attr(9, 1, 1, 1, 1));
    }
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

TEST_F(SmartRead, MissingDeviceGives121WithoutFurtherCalls) {
    AddDisk(1, {}, {});
    Readings attrs{{9, Attr(9, 1, 1, 1, 1)}};
    fake.ClearCalls();
    EXPECT_EQ(info.GetNowSmartAttr(0, attrs), 121);
    EXPECT_EQ(fake.Calls().size(), 1u);  // the open only
    ASSERT_EQ(attrs.size(), 1u);
    ExpectAttr(attrs, Attr(9, 1, 1, 1, 1));
}

// A platform whose opens give a null handle.
class NullOpenPlatform : public platform::PlatformWrapper {
public:
    using PlatformWrapper::PlatformWrapper;
    platform::Handle CreateFileW(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                 std::uint32_t) override {
        return ++opens, nullptr;
    }
    int DeviceIoControl(platform::Handle, std::uint32_t, const void*, std::uint32_t, void*,
                        std::uint32_t, std::uint32_t*) override {
        return ++requests, 0;
    }
    int CloseHandle(platform::Handle handle) override {
        if (handle == nullptr) ++closes;
        return PlatformWrapper::CloseHandle(handle);
    }
    int opens = 0, requests = 0, closes = 0;
};

TEST_F(SmartRead, NullHandleGives127AndIsNeitherUsedNorClosed) {
    NullOpenPlatform nulls(fake);
    platform::ScopedPlatform inner(nulls);
    Readings attrs;
    EXPECT_EQ(info.GetNowSmartAttr(3, attrs), 127);
    EXPECT_TRUE(attrs.empty());
    EXPECT_EQ(std::vector<int>({nulls.opens, nulls.requests, nulls.closes}),
              std::vector<int>({1, 0, 0}));
}

}  // namespace
}  // namespace Ovra
