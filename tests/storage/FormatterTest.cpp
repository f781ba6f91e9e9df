#include <Ovra/StorageFormatter.h>

#include "tests/fakes/storage/FakeFormatLibrary.h"
#include "tests/fakes/storage/FakeStorageDevices.h"
#include "tests/storage/FormatterTestSupport.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>

namespace Ovra {
namespace {

using fakes::FakeFormatLibrary;
using fakes::FakePlatform;
using fakes::MakeVolume;
using storage_test::Event;
using storage_test::FormatLockIsFree;
using storage_test::RecordingObserver;
using Events = std::vector<Event>;
using Completion = FakeFormatLibrary::Completion;

class FormatterTest : public ::testing::Test {
protected:
    // Runs before the fixture's formatter loads the library.
    bool Prepare() {
        fake.AddModule(FakeFormatLibrary::kPath, library.Module());
        fake.AddVolume(L"E:\\", MakeVolume(L"Old", L"NTFS", 1, 1000, 500, 3));
        fake.AddVolume(L"F:\\", MakeVolume(L"Stick", L"FAT32", 2, 1000, 500, 2));
        StorageFormatter::SetObserver(&observer);
        return true;
    }
    void TearDown() override {
        StorageFormatter::SetObserver(nullptr);
        EXPECT_TRUE(FormatLockIsFree()) << "a test left the format lock held";
    }

    int Format(const wchar_t* root, int fileSystem = 5) {
        return formatter.Format(root, fileSystem, L"", 1, StorageFormatter::ClusterSizeDefault);
    }

    FakePlatform fake;
    platform::ScopedPlatform scope{fake};
    FakeFormatLibrary library;
    RecordingObserver observer;
    bool prepared = Prepare();
    StorageFormatter formatter;
};

TEST_F(FormatterTest, SuccessfulFormatReportsProgressThenDoneThenReturn) {
    library.progress = {10, 60, 100};
    bool freeAtDone = true, freeAtReturn = false;
    observer.SetHook([&](int event) {
        if (event == 2) freeAtDone = FormatLockIsFree();  // still held: released after it
        if (event == 0) freeAtReturn = FormatLockIsFree();
    });
    EXPECT_EQ(formatter.Format(L"E:\\", 5, L"Video", 1, StorageFormatter::ClusterSize4K), 0);
    EXPECT_FALSE(freeAtDone);
    EXPECT_TRUE(freeAtReturn);
    EXPECT_EQ(observer.Events(), (Events{{1, 10}, {1, 60}, {1, 100}, {2, 0}, {0, 0}}));
    EXPECT_EQ(library.CallbackResults(), std::vector<int>(4, 1));  // always "go on"

    library.progress.clear();
    library.completion = Completion::kFailure;
    EXPECT_EQ(formatter.Format(L"F:\\", 2, L"", 0, StorageFormatter::ClusterSizeDefault), 0);
    // The failure is a report, not a result.
    EXPECT_EQ(observer.Events(),
              (Events{{1, 10}, {1, 60}, {1, 100}, {2, 0}, {0, 0}, {3, 0}, {0, 0}}));

    const auto calls = library.FormatCalls();
    ASSERT_EQ(calls.size(), 2u);
    const auto& e = calls[0];
    EXPECT_EQ(e.root + L"|" + e.fileSystem + L"|" + e.label, L"E:\\|NTFS|Video");
    EXPECT_EQ(std::vector<unsigned>({unsigned(e.mediaCode), unsigned(e.quick), e.clusterSize}),
              std::vector<unsigned>({12 /* fixed disk */, 1, 4096}));
    const auto& f = calls[1];
    EXPECT_EQ(f.fileSystem, L"FAT");
    EXPECT_EQ(std::vector<unsigned>({unsigned(f.mediaCode), unsigned(f.quick), f.clusterSize}),
              std::vector<unsigned>({8 /* not a fixed disk */, 0, 0}));
}

TEST_F(FormatterTest, WithoutObserverNothingIsTried) {
    StorageFormatter::SetObserver(nullptr);
    fake.ClearCalls();
    EXPECT_EQ(Format(L"E:\\"), 138);
    EXPECT_TRUE(fake.CallsNamed("WaitForMultipleObjects").empty());  // the lock was not tried
    EXPECT_TRUE(fake.CallsNamed("GetVolumeInformationW").empty());
    EXPECT_TRUE(library.FormatCalls().empty());
}

TEST_F(FormatterTest, EarlyFailuresReleaseTheLockAndSendNoEvent) {
    // A free letter, and a volume whose free-space query fails, fail the volume check.
    EXPECT_EQ(Format(L"K:\\"), 121);
    EXPECT_TRUE(FormatLockIsFree());
    fake.Volume(L"F:\\")->failFreeSpace = true;
    EXPECT_EQ(Format(L"F:\\"), 121);
    // Codes in no row of the table.
    EXPECT_EQ(Format(L"E:\\", 4), 121);
    EXPECT_TRUE(FormatLockIsFree());
    EXPECT_EQ(Format(L"E:\\", 0), 121);
    // The drive type cannot be told: the library is not called.
    fake.SetDriveType(L"E:\\", 0);
    EXPECT_EQ(Format(L"E:\\"), 105);
    EXPECT_TRUE(library.FormatCalls().empty());
    EXPECT_TRUE(observer.Events().empty());
    EXPECT_TRUE(FormatLockIsFree());

    fake.SetDriveType(L"E:\\", 3);
    EXPECT_EQ(Format(L"E:\\", 7), 0);
    EXPECT_EQ(library.FormatCalls().at(0).fileSystem, L"Ext3");
}

TEST_F(FormatterTest, MissingLibraryOrEntryPointGives105) {
    fake.AddModule(FakeFormatLibrary::kPath, library.Module("EnableVolumeCompression"));
    {
        StorageFormatter incomplete;
        EXPECT_EQ(fake.LoadCount(FakeFormatLibrary::kPath), 2);
        EXPECT_EQ(fake.FreeCount(FakeFormatLibrary::kPath), 1);  // given back at once
        std::deque<int> codes{9};
        EXPECT_EQ(incomplete.Format(L"E:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 105);
        EXPECT_EQ(incomplete.GetUsableFileSystem(codes), 105);
        EXPECT_EQ(codes, std::deque<int>{9});
        EXPECT_TRUE(FormatLockIsFree());
    }
    StorageFormatter::SetObserver(&observer);
    fake.FailAlways("LoadLibraryW", platform::kErrorModNotFound);
    StorageFormatter missing;
    EXPECT_EQ(missing.Format(L"E:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 105);
    EXPECT_TRUE(library.FormatCalls().empty());
}

TEST_F(FormatterTest, LibraryWithoutCompletionReportLeavesTheLockFree) {
    library.progress = {50};
    library.completion = Completion::kNone;
    library.during = [] { EXPECT_FALSE(FormatLockIsFree()); };
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_EQ(observer.Events(), (Events{{1, 50}, {0, 0}}));
    EXPECT_TRUE(FormatLockIsFree());
}

TEST_F(FormatterTest, ObserverClearedDuringFormatStillFreesTheLock) {
    library.during = [] { StorageFormatter other; };  // its destructor clears the observer
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_TRUE(observer.Events().empty());  // neither the report nor event 0 had a receiver
    EXPECT_TRUE(FormatLockIsFree());
}

TEST_F(FormatterTest, AFormatStartedFromItsOwnObserverIsRefused) {
    int nested = -1;
    observer.SetHook([&](int event) {
        if (event == 1) nested = Format(L"E:\\");
    });
    library.progress = {5};
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_EQ(nested, 136);
    EXPECT_EQ(library.FormatCalls().size(), 1u);
}

TEST_F(FormatterTest, ASecondThreadIsRefusedWhileAFormatRuns) {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false, release = false;
    library.during = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    };
    int first = -1;
    std::thread worker([&] { first = Format(L"E:\\"); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return inside; });
    }
    StorageFormatter second(formatter);
    EXPECT_EQ(second.Format(L"F:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 136);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    worker.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(library.FormatCalls().size(), 1u);
    EXPECT_EQ(observer.Events(), (Events{{2, 0}, {0, 0}}));
}

TEST_F(FormatterTest, AnotherProcessHoldingTheLockGives136) {
    testing_support::ChildProcess child;
    ASSERT_TRUE(child.Start(testing_support::HelperProgram("ovra_mutex_child"),
                            {"69F5F27F-585B-48b7-91E3-C3816CAF7357"}));
    std::string line;
    ASSERT_TRUE(child.ReadLine(line));
    ASSERT_EQ(line, "locked");
    EXPECT_EQ(Format(L"E:\\"), 136);
    EXPECT_TRUE(fake.CallsNamed("GetVolumeInformationW").empty());
    child.CloseInput();
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(Format(L"E:\\"), 0);
}

TEST_F(FormatterTest, DestroyingAnyFormatterClearsTheObserverForAll) {
    { StorageFormatter gone; }
    EXPECT_EQ(Format(L"E:\\"), 138);
    StorageFormatter::SetObserver(&observer);
    EXPECT_EQ(Format(L"E:\\"), 0);
}

TEST_F(FormatterTest, CopiesShareOneLoadAndFreeItOnce) {
    const std::wstring path = FakeFormatLibrary::kPath;
    {
        auto original = std::make_unique<StorageFormatter>();
        StorageFormatter copy(*original);
        StorageFormatter assigned;  // its own load, given back when it is assigned
        EXPECT_EQ(fake.LoadCount(path), 3);
        assigned = *original;
        EXPECT_EQ(fake.FreeCount(path), 1);
        assigned = copy;  // same library: nothing changes
        original.reset();
        EXPECT_EQ(fake.FreeCount(path), 1);
        // The survivors can still format with the shared library.
        StorageFormatter::SetObserver(&observer);
        EXPECT_EQ(copy.Format(L"E:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 0);
    }
    EXPECT_EQ(fake.FreeCount(path), 2);
    EXPECT_EQ(fake.LoadedModuleCount(), 1);  // the fixture's formatter
}

TEST_F(FormatterTest, UsableFileSystemsAreTheNewestVersionsAppended) {
    library.formats = {{L"FAT", true},   {L"NTFS", false}, {L"NTFS", true},
                       {L"exFAT", true}, {L"UDFS", false}, {L"FAT32", true}};
    std::deque<int> codes;
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes, (std::deque<int>{2, 5, 0, 3}));
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes.size(), 8u);  // appended, not replaced

    library.formats = {{L"NTFS", false}};
    std::deque<int> none, some{42};
    EXPECT_EQ(formatter.GetUsableFileSystem(none), 105);
    EXPECT_EQ(formatter.GetUsableFileSystem(some), 0);
    EXPECT_EQ(some, std::deque<int>{42});
}

TEST(FileSystemTable, NamesAndCodesMatchExactly) {
    for (const wchar_t* name : {L"ntfs", L"NTFS ", L"", L"FA"}) {
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), 0) << name;
    }
    for (int code : {2, 3, 5, 7, 15}) {
        std::wstring name;
        ASSERT_EQ(StorageFormatter::GetFsName(code, name), 1) << code;
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), code);
    }
    std::wstring name = L"untouched";
    EXPECT_EQ(StorageFormatter::GetFsName(0, name), 0);
    EXPECT_EQ(StorageFormatter::GetFsName(4, name), 0);
    EXPECT_EQ(name, L"untouched");
}

}  // namespace
}  // namespace Ovra
