#include <Ovra/Bases/StringConv.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>
#include <Ovra/StoragePhysicalDrive.h>

#include "base/platform/Platform.h"
#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/Spawn.h"
#include "base/platform/linux/VolumeIdentity.h"
#include "src/storage/FmifsEntryPoints.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <fstream>

namespace Ovra {
namespace {

using platform::Sys;
using namespace platform::posix;

// A loop device over a sparse 64 MiB image in a scratch folder, made into a file system and
// mounted there; whatever was mounted in the folder unmounted, the device detached and the folder
// removed at the end, also when the test fails.
struct LoopVolume {
    // `mkfs` is the command without the device, such as {"mkfs.ext4", "-q", "-L", "first"}.
    explicit LoopVolume(std::vector<std::string> mkfs) {
        if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0 ||
            FindProgram(mkfs[0]).empty()) {
            skip = "needs root, loop devices and " + mkfs[0];
            return;
        }
        std::ofstream{Path("volume.img")};  // sparse: only what mkfs writes takes space
        std::filesystem::resize_file(Path("volume.img"), 64 << 20);
        RunProgram({"losetup", "-f", "--show", Path("volume.img")}, [&](const std::string& out) {
            device += out;
            return true;
        });
        device = device.substr(0, device.find('\n'));
        mkfs.push_back(device);
        std::filesystem::create_directory(Path("mnt"));
        if (device.compare(0, 9, "/dev/loop") != 0 || RunProgram(mkfs) != 0 ||
            RunProgram({"mount", device, Path("mnt")}) != 0)
            skip = "cannot attach, make or mount " + mkfs[0] + " on " + device;
    }
    ~LoopVolume() {
        // The mount point and the mounts a test makes beside it, also after a failed assertion.
        for (const char* point : {"again", "memory", "mnt"})
            ::umount2(Path(point).c_str(), MNT_DETACH);
        if (device.compare(0, 9, "/dev/loop") == 0) RunProgram({"losetup", "-d", device});
    }
    std::string Path(const std::string& name) const { return scratch.Utf8Path(name); }
    std::wstring Root() const { return scratch.WidePath("mnt") + L"/"; }

    testing_support::ScratchDir scratch{"ovra-loop"};
    std::string device, skip;  // skip: why the volume could not be made
};

#define SKIP_UNLESS_READY(volume) \
    if (!(volume).skip.empty()) GTEST_SKIP() << (volume).skip

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

TEST(LinuxVolumesTest, InventoriesListAndRelabelAMountedVolume) {
    LoopVolume volume({"mkfs.ext4", "-q", "-L", "first"});
    SKIP_UNLESS_READY(volume);
    // The loop device among the disks, by its backing file, in whole cylinders.
    StoragePhysicalDrive disks(1);
    PhysicalDrive disk;
    std::size_t n = 0;
    while (n < 32 &&
           (disks.GetDrive(n, disk) || disk.serialNumber != utf8_to_tcs(volume.Path("volume.img"))))
        ++n;
    ASSERT_LT(n, 32u) << volume.Path("volume.img") << " is in no record";
    EXPECT_EQ(disk.type, 3);
    EXPECT_EQ(disk.size, (64ull << 20) / (255 * 63 * 512) * (255 * 63 * 512));

    StorageLogicalDrive drives(1);
    LogicalDrive drive;
    ASSERT_EQ(drives.GetDrive(volume.Root(), drive), 0);
    struct statvfs info {};
    ASSERT_EQ(::statvfs(volume.Path("mnt").c_str(), &info), 0);
    EXPECT_EQ(drive.fileSystem, StorageFormatter::GetFileSystem(L"ext4"));
    EXPECT_EQ(drive.volumeName, L"first");
    EXPECT_EQ(drive.totalSize, std::uint64_t(info.f_blocks) * info.f_frsize);
    EXPECT_EQ(drive.freeSize, std::uint64_t(info.f_bavail) * info.f_frsize);
    // The device's UUID folded, and what the kernel tells of it without reading the device.
    EXPECT_EQ(drive.serialNumber, ExtSerialFromFsid(info.f_fsid));
    EXPECT_EQ(drive.driveIndex, n);
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
    for (const std::wstring fileSystem : {L"FAT32", L"NTFS", L"exFAT"}) {
        SCOPED_TRACE(tcs_to_utf8(fileSystem));
        LoopVolume volume({"mkfs.ext4", "-q"});
        SKIP_UNLESS_READY(volume);
        FormatThroughModule(volume.Root(), fileSystem, L"OVRA" + fileSystem);
        ASSERT_GE(g_commands.size(), 3u);
        EXPECT_EQ(g_commands.front(), std::make_pair(0, 0));  // progress from 0 to 100, done
        EXPECT_EQ(g_commands[g_commands.size() - 2], std::make_pair(0, 100));
        EXPECT_EQ(g_commands.back(), std::make_pair(11, 1));
        const Volume formatted = ReadVolume(volume.Root());
        EXPECT_EQ(formatted.fileSystem, fileSystem);
        EXPECT_EQ(formatted.label, L"OVRA" + fileSystem);
    }
}

TEST(LinuxVolumesTest, RefusesWhatItMustNotFormat) {
    LoopVolume volume({"mkfs.ext4", "-q"});
    SKIP_UNLESS_READY(volume);
    // Only mounts of the test's own: the same device a second time, and a file system without
    // a device. The system's root is left alone even here.
    const std::string again = volume.Path("again"), memory = volume.Path("memory");
    const std::string folder = volume.Path("mnt") + "/folder";
    for (const std::string& dir : {again, memory, folder}) std::filesystem::create_directory(dir);
    ASSERT_EQ(::mount(volume.device.c_str(), again.c_str(), "ext4", 0, nullptr), 0);
    ASSERT_EQ(::mount("ovra-test", memory.c_str(), "tmpfs", 0, "size=1m"), 0);
    for (const std::string& root : {volume.Path("mnt"), memory, folder}) {
        SCOPED_TRACE(root);
        FormatThroughModule(utf8_to_tcs(root + "/"), L"FAT32", L"");
        EXPECT_EQ(g_commands, (std::vector<std::pair<int, int>>{{11, 0}}));
    }
    EXPECT_EQ(ReadVolume(volume.Root()).fileSystem, L"ext4");
}

}  // namespace
}  // namespace Ovra
