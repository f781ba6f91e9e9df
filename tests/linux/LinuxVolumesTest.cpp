#include <Ovra/Bases/StringConv.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>

#include "base/platform/Platform.h"
#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/VolumeIdentity.h"
#include "src/storage/FmifsEntryPoints.h"
#include "tests/linux/LoopVolume.h"
#include "tests/storage/FormatterTestSupport.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>

namespace Ovra {
namespace {

using linux_test::LoopVolume;
using platform::Sys;
using namespace platform::posix;

#define SKIP_UNLESS_READY(volume) \
    if (!(volume).SkipReason().empty()) GTEST_SKIP() << (volume).SkipReason()

TEST(MountTableTest, KeepsWholeFileSystemsOnDevicesOnly) {
    const std::string text =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "28 27 0:50 / /var/lib/x rw - overlay overlay rw,lowerdir=/a\n"
        "29 27 7:0 / /mnt/rec\\0401 ro,relatime - fuseblk /dev/loop0 ro\n"
        "30 27 254:0 /home /srv/home rw - ext4 /dev/vda rw\n"
        "31 27 0:40 / /mnt/x rw - fuse.sshfs host:/ rw\n"
        "garbage line\n";
    std::vector<std::string> kept;
    for (const MountEntry& entry : ParseMountInfo(text)) {
        if (IsVolumeCandidate(entry)) kept.push_back(entry.mountPoint + " " + entry.type);
    }
    // Bind mounts of a folder (/srv/home) are no volume of their own.
    EXPECT_EQ(kept, (std::vector<std::string>{"/ ext4", "/mnt/rec 1 fuseblk"}));
    EXPECT_TRUE(ParseMountInfo(text)[4].readOnly);
}

TEST(VolumeIdentityTest, FoldsUuidsToSerialNumbers) {
    const struct {
        const char* type;
        const char* uuid;
        std::uint32_t serial;
    } cases[] = {
        {"vfat", "C43A-2B5A", 0xC43A2B5Au},
        {"exfat", "1234-abcd", 0x1234ABCDu},
        {"ntfs", "1234567890ABCDEF", 0x90ABCDEFu},  // the low half, as Windows shows it
        {"ext4", "00112233-4455-6677-8899-aabbccddeeff",
         0x00112233u ^ 0x44556677u ^ 0x8899AABBu ^ 0xCCDDEEFFu},
        {"xfs", "", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(FoldSerial(c.type, c.uuid), c.serial) << c.uuid;
    EXPECT_EQ(WindowsFileSystemName("vfat", "FAT16"), "FAT");
    EXPECT_EQ(WindowsFileSystemName("vfat", "FAT32"), "FAT32");
}

TEST(LinuxVolumesTest, InventoryListsAndRelabelsAMountedVolume) {
    LoopVolume volume({"mkfs.ext4", "-q", "-L", "first"});
    SKIP_UNLESS_READY(volume);
    StorageLogicalDrive drives(1);
    LogicalDrive drive;
    ASSERT_EQ(drives.GetDrive(volume.Root(), drive), 0);
    struct statvfs info {};
    ASSERT_EQ(::statvfs(volume.MountPoint().c_str(), &info), 0);
    EXPECT_EQ(drive.fileSystem, StorageFormatter::GetFileSystem(L"ext4"));
    EXPECT_EQ(drive.volumeName, L"first");
    EXPECT_EQ(drive.totalSize, std::uint64_t(info.f_blocks) * info.f_frsize);
    EXPECT_EQ(drive.freeSize, std::uint64_t(info.f_bavail) * info.f_frsize);
    // The device's UUID folded, and what the kernel tells of it without reading the device.
    EXPECT_EQ(drive.serialNumber, ExtSerialFromFsid(info.f_fsid));
    EXPECT_NE(drive.driveIndex, static_cast<std::size_t>(-1));
    EXPECT_EQ(drives.GetDriveTypeW(volume.Root()), 3);
    EXPECT_EQ(drives.GetVolumeIndex(volume.Root()), drives.IsExist(volume.Root()));

    ASSERT_EQ(drives.SetDriveName(volume.Root(), L"second"), 0);
    std::wstring label;
    drives.GetDriveVolumeName(volume.Root(), label);
    EXPECT_EQ(label, L"first");
    drives.Update();
    drives.GetDriveVolumeName(volume.Root(), label);
    EXPECT_EQ(label, L"second");
}

struct Volume {
    std::wstring fileSystem, label;
};

Volume ReadVolume(const std::wstring& root) {
    wchar_t label[255] = {}, name[255] = {};
    if (!Sys().GetVolumeInformationW(root.c_str(), label, 255, nullptr, nullptr, nullptr, name,
                                     255))
        return {};
    return {name, label};
}

std::vector<std::pair<int, int>> g_commands;  // the module's callback: command, value

unsigned char Record(int command, unsigned int, void* data) {
    const int value = command == storage::kFmifsProgress ? *static_cast<std::uint32_t*>(data)
                                                         : *static_cast<unsigned char*>(data);
    g_commands.emplace_back(command, value);
    return 1;
}

// The module's FormatEx, called as the formatter calls it; its callback reports recorded.
void FormatThroughModule(const std::wstring& root, std::wstring fileSystem, std::wstring label) {
    g_commands.clear();
    platform::Module module = Sys().LoadLibraryW(L"fmifs.dll");
    ASSERT_NE(module, nullptr);
    auto formatEx =
        reinterpret_cast<storage::FormatExFunction>(Sys().GetProcAddress(module, "FormatEx"));
    std::wstring path(root);
    formatEx(&path[0], storage::kFmifsFixedMedia, &fileSystem[0], &label[0], 1, 0, &Record);
    Sys().FreeLibrary(module);
}

TEST(LinuxVolumesTest, FormatsAMountedVolumeAndMountsItAgain) {
    const struct {
        const wchar_t* fileSystem;
        bool throughFormatter;  // exFAT has no code: only the module can be asked for it
    } cases[] = {{L"FAT32", true}, {L"NTFS", true}, {L"exFAT", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fileSystem, c.fileSystem + std::wcslen(c.fileSystem)));
        LoopVolume volume({"mkfs.ext4", "-q"});
        SKIP_UNLESS_READY(volume);
        const std::wstring label = std::wstring(L"OVRA") + c.fileSystem;
        if (c.throughFormatter) {
            storage_test::FormatObserver observer;
            StorageFormatter formatter;
            StorageFormatter::SetObserver(&observer);
            EXPECT_EQ(formatter.Format(volume.Root(), StorageFormatter::GetFileSystem(c.fileSystem),
                                       label, 1, StorageFormatter::ClusterSizeDefault),
                      0);
            const auto events = observer.Calls();
            ASSERT_GE(events.size(), 4u);
            EXPECT_EQ(events.front(), std::make_tuple(1, 0));
            EXPECT_EQ(events[events.size() - 3], std::make_tuple(1, 100));
            EXPECT_EQ(events[events.size() - 2], std::make_tuple(2, 0));
            EXPECT_EQ(events.back(), std::make_tuple(0, 0));
        } else {
            FormatThroughModule(volume.Root(), c.fileSystem, label);
            ASSERT_GE(g_commands.size(), 3u);
            EXPECT_EQ(g_commands.front(), std::make_pair(0, 0));
            EXPECT_EQ(g_commands[g_commands.size() - 2], std::make_pair(0, 100));
            EXPECT_EQ(g_commands.back(), std::make_pair(11, 1));
        }
        const Volume formatted = ReadVolume(volume.Root());
        EXPECT_EQ(formatted.fileSystem, c.fileSystem);
        EXPECT_EQ(formatted.label, label);
    }
}

TEST(LinuxVolumesTest, RefusesWhatItMustNotFormat) {
    LoopVolume volume({"mkfs.ext4", "-q"});
    SKIP_UNLESS_READY(volume);
    // Only mounts of the test's own: the same device a second time, and a file system without
    // a device. The system's root is left alone even here.
    const std::string again = volume.Beside("again"), memory = volume.Beside("memory");
    const std::string folder = volume.MountPoint() + "/folder";
    for (const std::string& dir : {again, memory, folder}) std::filesystem::create_directory(dir);
    ASSERT_EQ(::mount(volume.Device().c_str(), again.c_str(), "ext4", 0, nullptr), 0);
    ASSERT_EQ(::mount("ovra-test", memory.c_str(), "tmpfs", 0, "size=1m"), 0);
    for (const std::string& root : {volume.MountPoint(), memory, folder}) {
        SCOPED_TRACE(root);
        FormatThroughModule(utf8_to_tcs(root + "/"), L"FAT32", L"");
        EXPECT_EQ(g_commands, (std::vector<std::pair<int, int>>{{11, 0}}));
    }
    EXPECT_EQ(ReadVolume(volume.Root()).fileSystem, L"ext4");
}

TEST(LinuxVolumesTest, ListsTheFileSystemsItCanMake) {
    StorageFormatter formatter;
    std::deque<int> codes;
    ASSERT_EQ(formatter.GetUsableFileSystem(codes), 0);
    // e2fsprogs comes with every Debian system.
    EXPECT_NE(std::find(codes.begin(), codes.end(), StorageFormatter::GetFileSystem(L"ext4")),
              codes.end());
}

}  // namespace
}  // namespace Ovra
