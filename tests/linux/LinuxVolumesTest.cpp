#include <Ovra/Bases/StringConv.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>

#include "base/platform/PosixPlatform.h"
#include "base/platform/linux/DiskList.h"
#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/Spawn.h"
#include "base/platform/linux/Syscalls.h"
#include "base/platform/linux/VolumeIdentity.h"
#include "fmifs/src/FileSystemTools.h"
#include "fmifs/src/VolumeFormat.h"
#include "src/storage/FmifsEntryPoints.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

namespace Ovra {
namespace {

using platform::Sys;
using namespace platform::posix;

// An ext4 volume labelled "first" on a loop device over a sparse 64 MiB image in a scratch folder,
// mounted there; whatever was mounted in the folder unmounted, the device detached and the folder
// removed at the end, also when the test fails.
struct LoopVolume {
    LoopVolume() {
        if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0 ||
            FindProgram("mkfs.ext4").empty()) {
            skip = "needs root, loop devices and mkfs.ext4";
            return;
        }
        RunProgram({"truncate", "-s", "64M", Path("volume.img")});
        RunProgram({"losetup", "-f", "--show", Path("volume.img")}, [&](const std::string& out) {
            device += out;
            return true;
        });
        device = device.substr(0, device.find('\n'));
        std::filesystem::create_directory(Path("mnt"));
        if (device.compare(0, 9, "/dev/loop") != 0 ||
            RunProgram({"mkfs.ext4", "-q", "-L", "first", device}) != 0 ||
            RunProgram({"mount", device, Path("mnt")}) != 0)
            skip = "cannot attach, make or mount ext4 on " + device;
    }
    ~LoopVolume() {
        // The mount point and the mounts the test makes beside it, also after a failed assertion.
        for (const char* point : {"again", "memory", "mnt"})
            ::umount2(Path(point).c_str(), MNT_DETACH);
        if (device.compare(0, 9, "/dev/loop") == 0) RunProgram({"losetup", "-d", device});
    }
    std::string Path(const std::string& name) const { return scratch.Utf8Path(name); }
    std::wstring Root() const { return scratch.WidePath("mnt") + L"/"; }
    // Formats with the module's own code, built into the test: system calls replaced here reach it.
    bool Format(const std::string& fileSystem, const std::string& label) const {
        return fmifs::FormatVolume({Path("mnt") + "/", fileSystem, label},
                                   [](unsigned int) { return true; });
    }

    testing_support::ScratchDir scratch{"ovra-loop"};
    std::string device, skip;  // skip: why the volume could not be made
};

TEST(MountTableTest, KeepsWholeFileSystemsOnDevicesOnly) {
    const std::string text =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "29 27 7:0 / /mnt/rec\\0401\\040 ro,relatime - fuseblk /dev/loop0 ro\n"
        "30 27 254:0 /home /srv/home rw - ext4 /dev/vda rw\n"
        "31 27 0:40 / /mnt/x rw - fuse.sshfs host:/ rw\n"
        "garbage line\n";
    std::vector<std::string> kept;
    for (const MountEntry& entry : ParseMountInfo(text))
        if (IsVolumeCandidate(entry)) kept.push_back(entry.mountPoint + " " + entry.type);
    // Bind mounts of a folder (/srv/home) are no volume of their own.
    EXPECT_EQ(kept, (std::vector<std::string>{"/ ext4", "/mnt/rec 1  fuseblk"}));
    EXPECT_TRUE(ParseMountInfo(text)[2].readOnly);
}

using Table = SyscallTable;

// mkfs is given the device's sector size, or the one MkfsOptions assumes when it does not tell.
TEST(FmifsTest, SectorSizeIsTheDevicesOrTheDefault) {
    static int answer;  // BLKSSZGET's, or -1 to refuse it
    ScopedSyscall<decltype(Table::open)> open(&Table::open, [](const char*, int) { return 9000; });
    ScopedSyscall<decltype(Table::close)> close(&Table::close, [](int) { return 0; });
    ScopedSyscall<decltype(Table::ioctl)> ioctl(&Table::ioctl, [](int, unsigned long, void* size) {
        *static_cast<int*>(size) = answer;
        return answer < 0 ? -1 : 0;
    });
    for (const auto& c :
         std::vector<std::pair<int, unsigned int>>{{4096, 4096}, {0, 512}, {-1, 512}}) {
        answer = c.first;
        EXPECT_EQ(fmifs::DeviceSectorSize("/dev/loop9", fmifs::MkfsOptions().sectorSize), c.second);
    }
}

// The module lists each installed tool once, then nothing.
TEST(FmifsTest, ListsTheInstalledToolsThenNothing) {
    const platform::Module module = Sys().LoadLibraryW(L"fmifs.dll");
    ASSERT_NE(module, nullptr);
    const auto query = reinterpret_cast<storage::QueryAvailableFileSystemFormatFunction>(
        Sys().GetProcAddress(module, "QueryAvailableFileSystemFormat"));
    const std::size_t count = fmifs::InstalledTools().size();
    wchar_t name[64];
    unsigned char major, minor, latest;
    for (std::size_t i = 0; i <= count; ++i)
        EXPECT_EQ(query(static_cast<unsigned>(i), name, &major, &minor, &latest) != 0, i < count);
    Sys().FreeLibrary(module);
}

TEST(VolumeIdentityTest, FoldsUuidsToSerialNumbers) {
    EXPECT_EQ(FoldSerial("vfat", "C43A-2B5A"), 0xC43A2B5Au);
    EXPECT_EQ(FoldSerial("ntfs", "1234567890abcdef"), 0x90ABCDEFu);  // the low half, as Windows
    EXPECT_EQ(FoldSerial("ext4", "00112233-4455-6677-8899-aabbccddeeff"),
              0x00112233u ^ 0x44556677u ^ 0x8899AABBu ^ 0xCCDDEEFFu);
    EXPECT_EQ(FoldSerial("xfs", ""), 0u);
    EXPECT_EQ(WindowsFileSystemName("vfat", "FAT16"), "FAT");
    EXPECT_EQ(WindowsFileSystemName("vfat", "FAT32"), "FAT32");
}

// "<file system> <label>", as the module answers them.
std::wstring ReadVolume(const std::wstring& root) {
    wchar_t label[255] = {}, name[255] = {};
    Sys().GetVolumeInformationW(root.c_str(), label, 255, nullptr, nullptr, nullptr, name, 255);
    return std::wstring(name) + L" " + label;
}

std::vector<std::pair<int, int>> g_commands;  // the module's callback: command, value

unsigned char Record(int command, unsigned int, void* data) {
    const int value = command == storage::kFmifsProgress ? *static_cast<std::uint32_t*>(data)
                                                         : *static_cast<unsigned char*>(data);
    g_commands.emplace_back(command, value);
    return 1;
}

// The module's FormatEx, called as the formatter calls it; its callback reports recorded.
void FormatThroughModule(std::wstring root, std::wstring fileSystem, std::wstring label) {
    g_commands.clear();
    platform::Module module = Sys().LoadLibraryW(L"fmifs.dll");
    ASSERT_NE(module, nullptr);
    auto formatEx =
        reinterpret_cast<storage::FormatExFunction>(Sys().GetProcAddress(module, "FormatEx"));
    formatEx(&root[0], storage::kFmifsFixedMedia, &fileSystem[0], &label[0], 1, 0, &Record);
    Sys().FreeLibrary(module);
}

// Both outputs reach the sink; a sink that says stop ends the program; the exit status comes back.
TEST(SpawnTest, OutputErrorStopAndStatus) {
    std::string out;
    const OutputSink keep = [&](const std::string& chunk) { return out += chunk, true; };
    EXPECT_EQ(RunProgram({"sh", "-c", "echo one; echo two >&2; exit 3"}, keep), 3);
    EXPECT_EQ(out, "one\ntwo\n");
    EXPECT_EQ(
        RunProgram({"sh", "-c", "echo x; exec sleep 60"}, [](const std::string&) { return false; }),
        -1);  // ended by SIGTERM
    EXPECT_EQ(RunProgram({"/nonexistent/program"}), -1);
}

// One volume of the test's own, in turn: described, relabelled, refused for formatting where it
// must be, then formatted to each file system from the one before (a kernel mount, then FUSE ones).
TEST(LinuxVolumesTest, DescribeRelabelRefuseAndFormatAMountedVolume) {
    LoopVolume volume;
    if (!volume.skip.empty()) GTEST_SKIP() << volume.skip;
    platform::ScopedPlatform backend(PosixBackend());  // this test's copy, whose calls it replaces
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
    // On its disk: the loop device's place among the disks.
    const std::vector<std::string> disks = ListPhysicalDisks();
    const auto n = std::find(disks.begin(), disks.end(), volume.device.substr(5)) - disks.begin();
    EXPECT_EQ(drive.driveIndex, static_cast<std::size_t>(n));
    EXPECT_EQ(drives.GetDriveTypeW(volume.Root()), 3);
    ASSERT_EQ(drives.SetDriveName(volume.Root(), L"second"), 0);
    EXPECT_EQ(ReadVolume(volume.Root()), L"ext4 second");
    wchar_t six[6];  // "second" needs seven
    EXPECT_EQ(Sys().GetVolumeInformationW(volume.Root().c_str(), six, 6, 0, 0, 0, nullptr, 0), 0);

    // Not formatted: the device mounted a second time, a file system without a device, a folder.
    // Only mounts of the test's own: the system's root is left alone even here.
    const std::string again = volume.Path("again"), memory = volume.Path("memory");
    const std::string folder = volume.Path("mnt") + "/folder";
    for (const std::string& dir : {again, memory, folder}) std::filesystem::create_directory(dir);
    ASSERT_EQ(::mount(volume.device.c_str(), again.c_str(), "ext4", 0, nullptr), 0);
    ASSERT_EQ(::mount("ovra-test", memory.c_str(), "tmpfs", 0, "size=1m"), 0);
    EXPECT_EQ((std::vector<std::uint32_t>{Sys().GetDriveTypeW(utf8_to_tcs(memory + "/").c_str()),
                                          Sys().GetDriveTypeW(utf8_to_tcs(folder + "/").c_str())}),
              (std::vector<std::uint32_t>{6, 1}));  // RAM disk; no root
    for (const std::string& root : {volume.Path("mnt"), memory, folder}) {
        FormatThroughModule(utf8_to_tcs(root + "/"), L"FAT32", L"");
        EXPECT_EQ(g_commands, (std::vector<std::pair<int, int>>{{11, 0}})) << root;
    }
    EXPECT_EQ(ReadVolume(volume.Root()), L"ext4 second");
    ASSERT_EQ(::umount2(again.c_str(), 0), 0);

    // One operation, one reading of the mount table, a format included.
    static int reads;
    ScopedSyscall<decltype(Table::open)> counting(&Table::open, [](const char* path, int flags) {
        reads += std::strcmp(path, "/proc/self/mountinfo") == 0;
        return RealSyscalls().open(path, flags);
    });
    const std::wstring root = volume.Root();
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"roots", [] { Sys().VolumeRoots(); }},
        {"type", [&] { Sys().GetDriveTypeW(root.c_str()); }},
        {"information", [&] { ReadVolume(root); }},
        {"space", [&] { Sys().GetDiskFreeSpaceExW(root.c_str(), nullptr, nullptr, nullptr); }},
        {"label", [&] { Sys().SetVolumeLabelW(root.c_str(), L"third"); }},
        {"open", [&] { Sys().CloseHandle(Sys().CreateFileW(root.c_str(), 0, 0, 0, 0)); }},
        {"format", [&] { volume.Format("ext4", "fourth"); }}};
    for (const auto& operation : operations) {
        reads = 0;
        operation.second();
        EXPECT_EQ(reads, 1) << operation.first;
    }
    // The new file system refused by the kernel: the format fails, the volume is mounted again.
    {
        ScopedSyscall<decltype(Table::mount)> refused(
            &Table::mount, [](const char*, const char*, const char*, unsigned long, const void*) {
                return errno = EIO, -1;
            });
        EXPECT_FALSE(volume.Format("ext4", "fifth"));
    }
    EXPECT_EQ(ReadVolume(root), L"ext4 fifth");

    for (const std::wstring fileSystem : {L"FAT32", L"NTFS", L"exFAT"}) {
        SCOPED_TRACE(tcs_to_utf8(fileSystem));
        FormatThroughModule(volume.Root(), fileSystem, L"OVRA" + fileSystem);
        ASSERT_GE(g_commands.size(), 3u);
        EXPECT_EQ(g_commands.front(), std::make_pair(0, 0));  // progress from 0 to 100, done
        EXPECT_EQ(g_commands[g_commands.size() - 2], std::make_pair(0, 100));
        EXPECT_EQ(g_commands.back(), std::make_pair(11, 1));
        EXPECT_EQ(ReadVolume(volume.Root()), fileSystem + L" OVRA" + fileSystem);
    }
}

}  // namespace
}  // namespace Ovra
