#include "smart/SmartTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace {

using fakes::Call;
using fakes::FakePlatform;
using fakes::FakeSmartDisk;
using testing_smart::Readings;

const std::uint64_t kVersion = 0x00074080;
const std::uint64_t kSend = 0x0007C084;
const std::uint64_t kReceive = 0x0007C088;

// The 33 bytes of a SMART command block, written out independently of the library's records.
std::vector<std::uint8_t> CommandBytes(std::uint32_t bufferSize, std::uint8_t features,
                                       std::uint8_t drive) {
    std::vector<std::uint8_t> bytes(33, 0);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(bufferSize >> (8 * i));
    const std::uint8_t registers[] = {features, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0};
    for (int i = 0; i < 8; ++i) bytes[4 + i] = registers[i];
    bytes[12] = drive;
    return bytes;
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
    auto it = attrs.find(expected.id);
    ASSERT_NE(it, attrs.end()) << "id " << int(expected.id);
    const HddSmartAttr& a = it->second;
    EXPECT_EQ(a.id, expected.id);
    // Copies: the wider fields of the packed record are unaligned.
    EXPECT_EQ(unsigned(a.reserved), 0u) << "id " << int(expected.id);
    EXPECT_EQ(a.value, expected.value) << "id " << int(expected.id);
    EXPECT_EQ(a.worst, expected.worst) << "id " << int(expected.id);
    EXPECT_EQ(unsigned(a.threshold), unsigned(expected.threshold)) << "id " << int(expected.id);
    EXPECT_EQ(unsigned(a.flags), unsigned(expected.flags)) << "id " << int(expected.id);
}

const unsigned char kMonitored[] = {1,   2,   3,   4,   5,   7,   9,   10,  11,  12,  13,
                                    193, 194, 195, 196, 197, 198, 199, 200, 202, 221, 228};

class SmartRead : public ::testing::Test {
protected:
    std::shared_ptr<FakeSmartDisk> AddDisk(long long n,
                                           std::vector<fakes::SmartAttributeEntry> attributes,
                                           std::vector<fakes::SmartThresholdEntry> thresholds) {
        auto disk = std::make_shared<FakeSmartDisk>(std::move(attributes), std::move(thresholds));
        fake.AddDevice(fakes::PhysicalDrivePath(n), disk);
        return disk;
    }
    std::shared_ptr<FakeSmartDisk> AddPlainDisk(long long n) {
        return AddDisk(n, {{9, 0x0032, 99, 98}}, {{9, 0}});
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    HddSmartInfo info;
};

struct RequestCase {
    std::size_t disk;
    std::wstring path;
    std::uint8_t driveNumber;
};

class SmartRequests : public SmartRead, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(SmartRequests, SendsTheExactSequenceOfDeviceCalls) {
    const RequestCase& c = GetParam();
    auto disk = std::make_shared<FakeSmartDisk>(std::vector<fakes::SmartAttributeEntry>{},
                                                std::vector<fakes::SmartThresholdEntry>{});
    fake.AddDevice(c.path, disk);
    fake.ClearCalls();

    Readings attrs;
    ASSERT_EQ(info.GetNowSmartAttr(c.disk, attrs), 0);

    const std::vector<Call> calls = fake.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].name, "CreateFileW");
    EXPECT_EQ(calls[0].text, c.path);
    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{0xC0000000u, 3, 3, 0}));

    const struct {
        std::uint64_t code, inSize, outSize;
        std::vector<std::uint8_t> input;
    } expected[] = {
        {kVersion, 0, 24, {}},
        {kSend, 33, 17, CommandBytes(0, 0xD8, c.driveNumber)},
        {kReceive, 33, 528, CommandBytes(512, 0xD0, c.driveNumber)},
        {kReceive, 33, 528, CommandBytes(512, 0xD1, c.driveNumber)},
    };
    for (int i = 0; i < 4; ++i) {
        const Call& call = calls[1 + i];
        EXPECT_EQ(call.name, "DeviceIoControl") << i;
        EXPECT_EQ(call.args, (std::vector<std::uint64_t>{expected[i].code, expected[i].inSize,
                                                         expected[i].outSize}))
            << i;
        EXPECT_EQ(call.input, expected[i].input) << i;
    }
    EXPECT_EQ(calls[5].name, "CloseHandle");
    EXPECT_EQ(calls[5].text, c.path);
    EXPECT_TRUE(disk->Problems().empty());
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Disks, SmartRequests,
                         ::testing::Values(RequestCase{0, L"\\\\.\\PHYSICALDRIVE0", 0},
                                           RequestCase{5, L"\\\\.\\PHYSICALDRIVE5", 5},
                                           // Only the low 8 bits reach the command block.
                                           RequestCase{256, L"\\\\.\\PHYSICALDRIVE256", 0},
                                           // The path shows the low 32 bits as a signed number.
                                           RequestCase{0xFFFFFFFFu, L"\\\\.\\PHYSICALDRIVE-1",
                                                       0xFF}));

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
            {
                {1, 51},
                {0, 99},
                {190, 45},
                {5, 140},
                {5, 255},  // later duplicate
                {228, 7},
            });
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
    for (unsigned char id : kMonitored) {
        if (id == 1 || id == 5 || id == 194 || id == 228) continue;
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
    auto disk = AddDisk(0, {{1, 0x000B, 200, 190}}, {{1, 51}, {197, 3}});
    disk->FailFeatures(0xD0);
    Readings attrs;
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    ExpectAttr(attrs, Attr(1, 0, 0, 51, 0));
    ExpectAttr(attrs, Attr(197, 0, 0, 3, 0));
    ExpectAttr(attrs, Attr(194, 0, 0, 0, 0));  // nothing of the failed reply was used
    EXPECT_EQ(disk->FeaturesSeen(), (std::vector<std::uint8_t>{0xD8, 0xD0, 0xD1}));
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

// Each failure ends the call with its code, leaves the map untouched and closes the device.
struct FailureCase {
    const char* name;
    void (*arrange)(FakePlatform&, FakeSmartDisk&);
    int result;
    std::size_t requests;  // DeviceIoControl calls made
};

class SmartFailures : public SmartRead, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SmartFailures, LeaveTheMapUntouchedAndCloseTheDevice) {
    const FailureCase& c = GetParam();
    auto disk = AddPlainDisk(0);
    c.arrange(fake, *disk);
    fake.ClearCalls();

    Readings attrs;
    attrs[9] = Attr(9, 1, 1, 1, 1);
    const Readings before = attrs;
    EXPECT_EQ(info.GetNowSmartAttr(0, attrs), c.result);
    EXPECT_EQ(fake.CallsNamed("DeviceIoControl").size(), c.requests);
    EXPECT_EQ(fake.CallsNamed("CloseHandle").size(), 1u);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
    ASSERT_EQ(attrs.size(), 1u);
    ExpectAttr(attrs, before.at(9));
    EXPECT_TRUE(disk->Problems().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SmartFailures,
    ::testing::Values(
        FailureCase{"VersionFails", [](FakePlatform&, FakeSmartDisk& d) { d.FailVersion(); }, 127,
                    1},
        FailureCase{"NoSmartCapability",
                    [](FakePlatform&, FakeSmartDisk& d) { d.SetCapabilities(0x03); }, 127, 1},
        FailureCase{"EnableFails", [](FakePlatform&, FakeSmartDisk& d) { d.FailFeatures(0xD8); },
                    127, 2},
        FailureCase{"ThresholdsFail", [](FakePlatform&, FakeSmartDisk& d) { d.FailFeatures(0xD1); },
                    105, 4},
        FailureCase{"ThresholdRequestFailsInTheSystem",
                    [](FakePlatform& f, FakeSmartDisk&) { f.FailCall("DeviceIoControl", 4, 5); },
                    105, 4},
        FailureCase{"VersionRequestFailsInTheSystem",
                    [](FakePlatform& f, FakeSmartDisk&) { f.FailCall("DeviceIoControl", 1, 5); },
                    127, 1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(SmartRead, MissingDeviceGives121WithoutFurtherCalls) {
    AddPlainDisk(1);
    Readings attrs;
    attrs[9] = Attr(9, 1, 1, 1, 1);
    fake.ClearCalls();
    EXPECT_EQ(info.GetNowSmartAttr(0, attrs), 121);
    EXPECT_EQ(fake.Calls().size(), 1u);  // the open only
    EXPECT_EQ(attrs.size(), 1u);
    EXPECT_EQ(attrs[9].value, 1);
}

// A platform whose opens give a null handle.
class NullOpenPlatform : public platform::PlatformWrapper {
public:
    explicit NullOpenPlatform(platform::Platform& target) : PlatformWrapper(target) {}
    platform::Handle CreateFileW(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                 std::uint32_t) override {
        ++opens;
        return nullptr;
    }
    int DeviceIoControl(platform::Handle, std::uint32_t, const void*, std::uint32_t, void*,
                        std::uint32_t, std::uint32_t*) override {
        ++requests;
        return 0;
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
    EXPECT_EQ(nulls.opens, 1);
    EXPECT_EQ(nulls.requests, 0);
    EXPECT_EQ(nulls.closes, 0);
}

}  // namespace
}  // namespace Ovra
