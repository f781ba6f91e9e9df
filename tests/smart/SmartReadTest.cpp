#include <Ovra/HddSmartInfo.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <tuple>

namespace Ovra {
namespace {

using namespace fakes;
using Attr = std::tuple<int, int, int, unsigned, unsigned, unsigned>;  // id value worst thr flags

class SmartRead : public ::testing::Test {
protected:
    int Read(std::size_t disk) { return info.GetNowSmartAttr(disk, attrs); }
    Attr Of(unsigned char id) {
        const HddSmartAttr& a = attrs[id];
        // Packed fields: copied out before the tuple binds references to them.
        return Attr(+a.id, +a.value, +a.worst, unsigned{a.threshold}, unsigned{a.flags},
                    unsigned{a.reserved});
    }
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    std::map<unsigned char, HddSmartAttr> attrs;
    HddSmartInfo info;
};

TEST_F(SmartRead, SendsTheExactRequests) {
    // The path prints the low 32 bits signed; the command block carries the low 8 bits.
    const std::tuple<std::size_t, std::wstring, std::uint8_t> cases[] = {
        {5, L"\\\\.\\PHYSICALDRIVE5", 5},
        {256, L"\\\\.\\PHYSICALDRIVE256", 0},
        {0xFFFFFFFFu, L"\\\\.\\PHYSICALDRIVE-1", 0xFF}};
    // Each request's code, input and output sizes, and features register.
    const std::uint64_t requests[][4] = {{0x74080, 0, 24, 0},
                                         {0x7C084, 33, 17, 0xD8},
                                         {0x7C088, 33, 528, 0xD0},
                                         {0x7C088, 33, 528, 0xD1}};
    for (const auto& [disk, path, number] : cases) {
        fake.AddDevice(path, SmartDisk(SmartPage({}), SmartPage({})));
        fake.ClearCalls();
        ASSERT_EQ(Read(disk), 0);
        const auto calls = fake.Calls();
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{0xC0000000u, 3, 3, 0}));
        EXPECT_EQ(calls[0].text + calls[5].text, path + path);
        EXPECT_EQ(calls[5].name, "CloseHandle");
        for (int i = 0; i < 4; ++i) {
            const auto& r = requests[i];
            // IDEREGS from byte 4: features, count, number, cylinder, head, command.
            const std::uint8_t size = i > 1 ? 2 : 0, features = std::uint8_t(r[3]);
            Bytes input{0, size, 0, 0, features, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, number};
            input.resize(i ? 33 : 0, 0);  // 512 bytes for the page reads
            EXPECT_EQ(calls[1 + i].args, std::vector<std::uint64_t>(r, r + 3)) << i;
            EXPECT_EQ(calls[1 + i].input, input) << i;
        }
    }
}

TEST_F(SmartRead, ReportsTheMonitoredIdsFromBothPages) {
    std::vector<Bytes> attributes = {
        {1, 0x0B, 0x00, 200, 190}, {0, 0xFF, 0xFF, 7, 7} /* empty */, {5, 0x33, 0, 100, 100}};
    attributes.resize(29, {3, 1, 0, 1, 1});
    attributes.push_back({194, 0x34, 0x12, 36, 21});  // entry 30
    fake.AddDevice(
        fakes::PhysicalDrivePath(0),
        SmartDisk(SmartPage(attributes), SmartPage({{1, 51}, {0, 99}, {5, 140}, {5, 255}})));
    attrs[190].value = 9;  // keys outside the list are left alone
    attrs[5].reserved = 9;
    ASSERT_EQ(Read(0), 0);
    std::vector<int> ids;
    for (const auto& entry : attrs) ids.push_back(entry.first);
    EXPECT_EQ(ids, (std::vector<int>{1,   2,   3,   4,   5,   7,   9,   10,  11,  12,  13, 190,
                                     193, 194, 195, 196, 197, 198, 199, 200, 202, 221, 228}));
    // 5: the later duplicate wins; 228: listed, not reported: zero.
    EXPECT_EQ(std::vector<Attr>({Of(190), Of(1), Of(5), Of(194), Of(3), Of(228)}),
              std::vector<Attr>({Attr(0, 9, 0, 0, 0, 0), Attr(1, 200, 190, 51, 0x000B, 0),
                                 Attr(5, 100, 100, 255, 0x0033, 0), Attr(194, 36, 21, 0, 0x1234, 0),
                                 Attr(3, 1, 1, 0, 1, 0), Attr(228, 0, 0, 0, 0, 0)}));
}

// A platform whose opens give a null handle.
struct NullOpenPlatform : platform::PlatformWrapper {
    using PlatformWrapper::PlatformWrapper;
    platform::Handle CreateFileW(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                 std::uint32_t) override {
        return nullptr;
    }
};

TEST_F(SmartRead, WhatTheDriverRefusesIsNeverUsed) {
    // A failed attribute page (its buffer left full of noise): the thresholds still come.
    fake.AddDevice(fakes::PhysicalDrivePath(0),
                   SmartDisk(SmartPage({{1, 0x0B, 0, 200, 190}}), SmartPage({{1, 51}})));
    fake.FailCall("DeviceIoControl", 3, 31);
    ASSERT_EQ(Read(0), 0);
    EXPECT_EQ(Of(1), Attr(1, 0, 0, 51, 0, 0));
    // A driver without SMART commands is asked nothing more.
    fake.AddDevice(fakes::PhysicalDrivePath(1), SmartDisk({}, {}, 0x03));
    fake.ClearCalls();
    EXPECT_EQ(Read(1), 127);
    EXPECT_EQ(fake.CallsNamed("DeviceIoControl").size(), 1u);
    // A null handle is neither used nor closed.
    attrs.clear();
    NullOpenPlatform nulls(fake);
    platform::ScopedPlatform inner(nulls);
    fake.ClearCalls();
    EXPECT_EQ(Read(3), 127);
    EXPECT_TRUE(attrs.empty() && fake.Calls().empty());
}

}  // namespace
}  // namespace Ovra
