#include <Ovra/StorageFormatter.h>

#include "tests/fakes/storage/FakeFormatLibrary.h"
#include "tests/storage/FormatterTestSupport.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace Ovra {
namespace {

using fakes::FakeFormatLibrary;
using storage_test::Event;
using storage_test::FormatLockIsFree;
using Events = std::vector<Event>;

const int kHook = FakeFormatLibrary::kRunHook;

class FormatterTest : public ::testing::Test {
protected:
    bool Prepare() {  // before the fixture's formatter loads the library
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

    fakes::FakePlatform fake;
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
    EXPECT_EQ(library.FormatCalls(),
              (std::vector<fakes::FormatExCall>{{L"E:\\", 12, L"NTFS", L"Video", 1, 4096},
                                                {L"F:\\", 8, L"FAT", L"", 0, 0}}));
    EXPECT_EQ(fake.CallsNamed("GetVolumeInformationW")[0].args[0], 255u);  // the buffer's size
}

// The lock is given back exactly once: by the completion report when there is one (so it is free
// while the library still runs), otherwise by Format.
TEST_F(FormatterTest, TheLockIsReleasedOnceByWhoeverEndsTheFormat) {
    for (bool completes : {true, false}) {
        library.reports = {{completes ? 11 : 0, completes ? 1 : 50}, {kHook, 0}};
        bool freeInHook = !completes;
        library.hook = [&] { freeInHook = FormatLockIsFree(); };
        fake.ClearCalls();
        EXPECT_EQ(Format(L"E:\\"), 0);
        EXPECT_EQ(freeInHook, completes);
        // The look from another thread takes and gives back the lock once more when it is free.
        EXPECT_EQ(fake.CallsNamed("ReleaseMutex").size(), completes ? 2u : 1u);
    }
    EXPECT_EQ(observer.Calls(), (Events{{2, 0}, {0, 0}, {1, 50}, {0, 0}}));
}

TEST_F(FormatterTest, AFormatOnTheSameThreadOrAnotherIsRefusedWhileOneRuns) {
    int nested = -1, other = -1;
    observer.SetHook([&](const Event& event) {
        if (std::get<0>(event) == 1) nested = Format(L"E:\\");
    });
    library.hook = [&] { std::thread([&] { other = Format(L"F:\\"); }).join(); };
    library.reports = {{0, 5}, {kHook, 0}, {11, 1}};
    EXPECT_EQ((std::vector<int>{Format(L"E:\\"), nested, other}), (std::vector<int>{0, 136, 136}));
    EXPECT_EQ(library.FormatCalls().size(), 1u);
    library.reports = {{kHook, 0}, {11, 1}};
    library.hook = [] { StorageFormatter other; };  // its destructor clears the observer
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_EQ(observer.Count(), 3u);                 // no event after the clearing
    EXPECT_EQ(library.CallbackResults().back(), 1);  // and the library goes on
}

TEST_F(FormatterTest, EarlyEndsReleaseTheLockAndSendNoEvent) {
    EXPECT_EQ(Format(L"K:\\"), 121);  // a free letter fails the volume check
    for (int code : {0, 4}) EXPECT_EQ(Format(L"E:\\", code), 121) << code;
    fake.AddVolume(L"E:\\", {L"", L"NTFS", 1, 1000, 500, 0});  // the library cannot be called
    EXPECT_EQ(Format(L"E:\\"), 0);
    EXPECT_TRUE(library.FormatCalls().empty());
    EXPECT_EQ(observer.Count(), 0u);
    EXPECT_EQ(fake.CallsNamed("ReleaseMutex").size(), 4u);
}

TEST_F(FormatterTest, CopiesShareOneLoadFreedOnceAndAnyDestructionClearsTheObserver) {
    {
        auto original = std::make_unique<StorageFormatter>();
        StorageFormatter copy(*original);
        StorageFormatter assigned;     // its own load, given back when it is assigned
        assigned.operator=(assigned);  // but kept by a self-assignment
        EXPECT_EQ(fake.LoadedModuleCount(), 3);
        assigned = *original;
        assigned = copy;  // the same library: stays loaded
        EXPECT_EQ(fake.LoadedModuleCount(), 2);
        original.reset();
        EXPECT_EQ(Format(L"E:\\"), 138);
        StorageFormatter::SetObserver(&observer);
        EXPECT_EQ(copy.Format(L"E:\\", 7, L"", 1, StorageFormatter::ClusterSizeDefault), 0);
    }
    EXPECT_EQ(fake.LoadedModuleCount(), 1);  // the fixture's formatter
    EXPECT_EQ(std::get<2>(library.FormatCalls().at(0)), L"Ext3");
}

TEST_F(FormatterTest, UsableFileSystemsAreTheNewestVersionsAppended) {
    library.formats = {{L"FAT", true},   {L"NTFS", false}, {L"NTFS", true},
                       {L"exFAT", true}, {L"UDFS", false}, {L"FAT32", true}};
    std::deque<int> codes{42};
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 0);
    EXPECT_EQ(codes, (std::deque<int>{42, 2, 5, 0, 3}));
    library.formats = {{L"NTFS", false}};
    codes.clear();  // an empty result is the failure
    EXPECT_EQ(formatter.GetUsableFileSystem(codes), 105);
}

TEST(FileSystemTable, NamesAndCodesMatchExactly) {
    for (const wchar_t* name : {L"ntfs", L"NTFS ", L"", L"FA"})
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), 0) << name;
    std::wstring name, names;
    for (int code : {0, 2, 3, 4, 5, 7, 15}) {
        if (StorageFormatter::GetFsName(code, name) != 1) continue;
        names += name + L"|";
        EXPECT_EQ(StorageFormatter::GetFileSystem(name), code);
    }
    EXPECT_EQ(names, L"FAT|FAT32|NTFS|Ext3|UDFS|");
}

}  // namespace
}  // namespace Ovra
