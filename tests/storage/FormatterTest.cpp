#include <Ovra/StorageFormatter.h>

#include "tests/fakes/storage/FakeFormatLibrary.h"
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
using storage_test::Event;
using storage_test::FormatLockIsFree;
using Events = std::vector<Event>;

const int kHook = FakeFormatLibrary::kRunHook;

class FormatterTest : public ::testing::Test {
protected:
    // Runs before the fixture's formatter loads the library.
    bool Prepare() {
        fake.AddModule(FakeFormatLibrary::kPath, library.Module());
        fake.AddVolume(L"E:\\", {L"Old", L"NTFS", 1, 1000, 500, 3});
        fake.AddVolume(L"F:\\", {L"Stick", L"FAT32", 2, 1000, 500, 2});
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
    storage_test::FormatObserver observer;
    bool prepared = Prepare();
    StorageFormatter formatter;
};

TEST_F(FormatterTest, FormatReportsProgressThenOutcomeThenReturn) {
    library.reports = {{0, 10}, {0, 60}, {5, 0} /* ignored */, {11, 1}};
    EXPECT_EQ(formatter.Format(L"E:\\", 5, L"Video", 1, StorageFormatter::ClusterSize4K), 0);
    library.reports = {{11, 0}};  // a failed format is a report, not a result
    EXPECT_EQ(formatter.Format(L"F:\\", 2, L"", 0, StorageFormatter::ClusterSizeDefault), 0);
    EXPECT_EQ(observer.Calls(), (Events{{1, 10}, {1, 60}, {2, 0}, {0, 0}, {3, 0}, {0, 0}}));
    EXPECT_EQ(library.CallbackResults(), std::vector<int>(5, 1));  // always "go on"
    const auto calls = library.FormatCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].root + L"|" + calls[0].fileSystem + L"|" + calls[0].label,
              L"E:\\|NTFS|Video");
    EXPECT_EQ(std::vector<unsigned>(
                  {unsigned(calls[0].mediaCode), unsigned(calls[0].quick), calls[0].clusterSize}),
              std::vector<unsigned>({12 /* fixed disk */, 1, 4096}));
    EXPECT_EQ(calls[1].fileSystem, L"FAT");
    EXPECT_EQ(std::vector<unsigned>(
                  {unsigned(calls[1].mediaCode), unsigned(calls[1].quick), calls[1].clusterSize}),
              std::vector<unsigned>({8 /* not a fixed disk */, 0, 0}));
}

// The lock is given back exactly once: by the completion report when there is one (so it is free
// while the library still runs), otherwise by Format.
TEST_F(FormatterTest, TheLockIsReleasedOnceByWhoeverEndsTheFormat) {
    const struct {
        std::vector<std::pair<int, unsigned>> reports;
        bool freeInHook;
        Events events;
    } cases[] = {{{{11, 1}, {kHook, 0}}, true, {{2, 0}, {0, 0}}},
                 {{{0, 50}, {kHook, 0}}, false, {{1, 50}, {0, 0}}}};
    for (const auto& c : cases) {
        library.reports = c.reports;
        bool freeInHook = !c.freeInHook;
        library.hook = [&] { freeInHook = FormatLockIsFree(); };
        fake.ClearCalls();
        const std::size_t before = observer.Count();
        EXPECT_EQ(Format(L"E:\\"), 0);
        EXPECT_EQ(freeInHook, c.freeInHook);
        // The look from another thread takes and gives back the lock once more when it is free.
        EXPECT_EQ(fake.CallsNamed("ReleaseMutex").size(), c.freeInHook ? 2u : 1u);
        const Events events = observer.Calls();
        EXPECT_EQ(Events(events.begin() + before, events.end()), c.events);
        EXPECT_TRUE(FormatLockIsFree());
    }
}

TEST_F(FormatterTest, EarlyEndsReleaseTheLockAndSendNoEvent) {
    StorageFormatter::SetObserver(nullptr);
    fake.ClearCalls();
    EXPECT_EQ(Format(L"E:\\"), 138);
    EXPECT_TRUE(fake.Calls().empty());  // not even the lock was tried
    StorageFormatter::SetObserver(&observer);
    EXPECT_EQ(Format(L"K:\\"), 121);  // a free letter fails the volume check
    for (int code : {0, 4}) EXPECT_EQ(Format(L"E:\\", code), 121) << code;
    fake.Volume(L"E:\\")->driveType = 0;  // the library cannot be called after all
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_TRUE(library.FormatCalls().empty());
    EXPECT_EQ(observer.Count(), 0u);
    EXPECT_EQ(fake.CallsNamed("ReleaseMutex").size(), 4u);
    fake.Volume(L"E:\\")->driveType = 3;
    EXPECT_EQ(Format(L"E:\\", 7), 0);
    EXPECT_EQ(library.FormatCalls().at(0).fileSystem, L"Ext3");
}

TEST_F(FormatterTest, AnIncompleteLibraryIsGivenBackAtOnce) {
    fake.AddModule(FakeFormatLibrary::kPath, library.Module("EnableVolumeCompression"));
    StorageFormatter incomplete;
    EXPECT_EQ(fake.LoadedModuleCount(), 1);  // the fixture's only
    std::deque<int> codes{9};
    EXPECT_EQ(incomplete.Format(L"E:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 105);
    EXPECT_EQ(incomplete.GetUsableFileSystem(codes), 105);
    EXPECT_EQ(codes, std::deque<int>{9});
}

TEST_F(FormatterTest, ObserverClearedDuringFormatStillFreesTheLock) {
    library.reports = {{kHook, 0}, {11, 1}};
    library.hook = [] { StorageFormatter other; };  // its destructor clears the observer
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_EQ(observer.Count(), 0u);
}

TEST_F(FormatterTest, AFormatOnTheSameThreadOrAnotherIsRefusedWhileOneRuns) {
    int nested = -1;
    observer.SetHook([&](const Event& event) {
        if (std::get<0>(event) == 1) nested = Format(L"E:\\");
    });
    library.reports = {{0, 5}, {kHook, 0}, {11, 1}};
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false, release = false;
    library.hook = [&] {
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
    EXPECT_EQ(nested, 136);
    EXPECT_EQ(library.FormatCalls().size(), 1u);
}

TEST_F(FormatterTest, AnotherProcessHoldingTheLockGives136) {
    testing_support::ChildProcess child;
    ASSERT_TRUE(child.Start(testing_support::HelperProgram("ovra_mutex_child"),
                            {"69F5F27F-585B-48b7-91E3-C3816CAF7357"}));
    std::string line;
    ASSERT_TRUE(child.ReadLine(line));
    ASSERT_EQ(line, "locked");
    EXPECT_EQ(Format(L"E:\\"), 136);
    child.CloseInput();
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(Format(L"E:\\"), 0);
}

TEST_F(FormatterTest, CopiesShareOneLoadFreedOnceAndAnyDestructionClearsTheObserver) {
    {
        auto original = std::make_unique<StorageFormatter>();
        StorageFormatter copy(*original);
        StorageFormatter assigned;  // its own load, given back when it is assigned
        EXPECT_EQ(fake.LoadedModuleCount(), 3);
        assigned = *original;
        assigned = copy;  // the same library: stays loaded
        EXPECT_EQ(fake.LoadedModuleCount(), 2);
        original.reset();
        EXPECT_EQ(Format(L"E:\\"), 138);
        StorageFormatter::SetObserver(&observer);
        EXPECT_EQ(copy.Format(L"E:\\", 5, L"", 1, StorageFormatter::ClusterSizeDefault), 0);
    }
    EXPECT_EQ(fake.LoadedModuleCount(), 1);  // the fixture's formatter
}

TEST_F(FormatterTest, UsableFileSystemsAreTheNewestVersionsAppended) {
    library.formats = {{L"FAT", true},   {L"NTFS", false}, {L"NTFS", true},
                       {L"exFAT", true}, {L"UDFS", false}, {L"FAT32", true}};
    std::deque<int> codes{42};
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes, (std::deque<int>{42, 2, 5, 0, 3}));
    library.formats = {{L"NTFS", false}};
    std::deque<int> none;
    EXPECT_EQ(formatter.GetUsableFileSystem(none), 105);
}

TEST(FileSystemTable, NamesAndCodesMatchExactly) {
    for (const wchar_t* name : {L"ntfs", L"NTFS ", L"", L"FA"})
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), 0) << name;
    const std::pair<int, std::wstring> rows[] = {
        {2, L"FAT"}, {3, L"FAT32"}, {5, L"NTFS"}, {7, L"Ext3"}, {15, L"UDFS"}};
    for (const auto& row : rows) {
        std::wstring name;
        ASSERT_EQ(StorageFormatter::GetFsName(row.first, name), 1) << row.first;
        EXPECT_EQ(name, row.second);
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), row.first);
    }
    std::wstring name = L"untouched";
    EXPECT_EQ(StorageFormatter::GetFsName(0, name) + StorageFormatter::GetFsName(4, name), 0);
    EXPECT_EQ(name, L"untouched");
}

}  // namespace
}  // namespace Ovra
