#include <Ovra/HddSmartInfo.h>

#include "tests/fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <tuple>

namespace Ovra {
namespace {

using fakes::Bytes;
using fakes::FakePlatform;
using Readings = std::map<unsigned char, HddSmartAttr>;

// The 33 bytes of a SMART command block.
Bytes Command(std::uint32_t bufferSize, std::uint8_t features, std::uint8_t drive) {
    Bytes bytes{std::uint8_t(bufferSize),
                std::uint8_t(bufferSize >> 8),
                0,
                0,
                features,
                1,
                1,
                0x4F,
                0xC2,
                0xA0,
                0xB0,
                0,
                drive};
    bytes.resize(33, 0);
    return bytes;
}

// id, value, worst, threshold, flags, reserved: the record as a comparable tuple.
using Attr = std::tuple<int, int, int, unsigned, unsigned, unsigned>;
Attr Of(const HddSmartAttr& a) {
    return Attr(a.id, a.value, a.worst, unsigned(a.threshold), unsigned(a.flags),
                unsigned(a.reserved));
}

class SmartRead : public ::testing::Test {
protected:
    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    HddSmartInfo info;
};

TEST_F(SmartRead, SendsTheExactRequests) {
    const struct {
        std::size_t disk;
        std::wstring path;   // the low 32 bits, printed signed
        std::uint8_t drive;  // only the low 8 bits reach the command block
    } cases[] = {{5, L"\\\\.\\PHYSICALDRIVE5", 5},
                 {256, L"\\\\.\\PHYSICALDRIVE256", 0},
                 {0xFFFFFFFFu, L"\\\\.\\PHYSICALDRIVE-1", 0xFF}};
    for (const auto& c : cases) {
        fake.AddDevice(c.path, fakes::SmartDisk(fakes::SmartPage({}), fakes::SmartPage({})));
        fake.ClearCalls();
        Readings attrs;
        ASSERT_EQ(info.GetNowSmartAttr(c.disk, attrs), 0) << c.disk;
        const auto calls = fake.Calls();
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls[0].text, c.path);
        EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{0xC0000000u, 3, 3, 0}));
        const std::vector<std::uint64_t> sizes[] = {
            {0x74080, 0, 24}, {0x7C084, 33, 17}, {0x7C088, 33, 528}, {0x7C088, 33, 528}};
        const Bytes inputs[] = {{},
                                Command(0, 0xD8, c.drive),
                                Command(512, 0xD0, c.drive),
                                Command(512, 0xD1, c.drive)};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(calls[1 + i].args, sizes[i]) << c.disk << " request " << i;
            EXPECT_EQ(calls[1 + i].input, inputs[i]) << c.disk << " request " << i;
        }
        EXPECT_EQ(calls[5].name + std::string(calls[5].text.begin(), calls[5].text.end()),
                  "CloseHandle" + std::string(c.path.begin(), c.path.end()));
    }
}

TEST_F(SmartRead, ReportsTheMonitoredIdsFromBothPages) {
    std::vector<Bytes> attributes = {{1, 0x0B, 0x00, 200, 190},
                                     {0, 0xFF, 0xFF, 7, 7} /* empty */,
                                     {190, 0x22, 0, 60, 50},
                                     {194, 0x22, 0, 34, 20},
                                     {5, 0x33, 0, 100, 100}};
    attributes.resize(29, {3, 1, 0, 1, 1});
    attributes.push_back({194, 0x34, 0x12, 36, 21});  // entry 30: the later duplicate wins
    fake.AddDevice(
        fakes::PhysicalDrivePath(0),
        fakes::SmartDisk(
            fakes::SmartPage(attributes),
            fakes::SmartPage(
                {{1, 51}, {0, 99}, {190, 45}, {5, 140}, {5, 255} /* later duplicate */})));
    Readings attrs;
    attrs[190].value = 9;  // keys outside the list are left alone
    attrs[5].reserved = 9;
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    EXPECT_EQ(attrs.size(), 23u);
    EXPECT_EQ(Of(attrs[190]), Attr(0, 9, 0, 0, 0, 0));
    EXPECT_EQ(Of(attrs[1]), Attr(1, 200, 190, 51, 0x000B, 0));
    EXPECT_EQ(Of(attrs[5]), Attr(5, 100, 100, 255, 0x0033, 0));
    EXPECT_EQ(Of(attrs[194]), Attr(194, 36, 21, 0, 0x1234, 0));
    EXPECT_EQ(Of(attrs[3]), Attr(3, 1, 1, 0, 1, 0));
    // Listed ids the drive does not report are present and zero (the page tail is 0xC2 noise).
    for (int id : {2, 4, 7, 9, 10, 11, 12, 13, 193, 195, 196, 197, 198, 199, 200, 202, 221, 228})
        EXPECT_EQ(Of(attrs[id]), Attr(id, 0, 0, 0, 0, 0));
}

TEST_F(SmartRead, WhatTheDriverRefusesIsNeverUsed) {
    const auto disk = [] {
        return fakes::SmartDisk(fakes::SmartPage({{1, 0x0B, 0, 200, 190}}),
                                fakes::SmartPage({{1, 51}, {197, 3}}));
    };
    // A failed attribute page (its buffer left full of noise): the thresholds still come.
    fake.AddDevice(fakes::PhysicalDrivePath(0), disk());
    fake.FailCall("DeviceIoControl", 1, 31, fakes::kSmartRcvDriveData);
    Readings attrs;
    ASSERT_EQ(info.GetNowSmartAttr(0, attrs), 0);
    EXPECT_EQ(Of(attrs[1]), Attr(1, 0, 0, 51, 0, 0));
    EXPECT_EQ(Of(attrs[197]), Attr(197, 0, 0, 3, 0, 0));
    EXPECT_EQ(Of(attrs[194]), Attr(194, 0, 0, 0, 0, 0));

    // A driver without SMART commands is asked nothing more.
    fake.AddDevice(fakes::PhysicalDrivePath(1), disk())
        .Answer(fakes::kSmartGetVersion,
                Bytes{1, 1, 0, 1, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    fake.ClearCalls();
    EXPECT_EQ(info.GetNowSmartAttr(1, attrs), 127);
    EXPECT_EQ(fake.CallsNamed("DeviceIoControl").size(), 1u);
    EXPECT_EQ(fake.OpenHandleCount(), 0);
}

// A platform whose opens give a null handle.
class NullOpenPlatform : public platform::PlatformWrapper {
public:
    using PlatformWrapper::PlatformWrapper;
    platform::Handle CreateFileW(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                 std::uint32_t) override {
        return nullptr;
    }
};

TEST_F(SmartRead, NullHandleGives127AndIsNeitherUsedNorClosed) {
    NullOpenPlatform nulls(fake);
    platform::ScopedPlatform inner(nulls);
    Readings attrs;
    EXPECT_EQ(info.GetNowSmartAttr(3, attrs), 127);
    EXPECT_TRUE(attrs.empty());
    EXPECT_TRUE(fake.CallsNamed("DeviceIoControl").empty());
    EXPECT_TRUE(fake.CallsNamed("CloseHandle").empty());
}

}  // namespace
}  // namespace Ovra
