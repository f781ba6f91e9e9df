#include <Ovra/Bases/Mutex.h>
#include <Ovra/Bases/Clock.h>

#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace Ovra {
namespace {

using testing_support::ChildProcess;
using testing_support::HelperProgram;

// Unique per run: tests of parallel runs must not meet each other's mutex.
std::wstring UniqueName(const wchar_t* what) {
    return std::wstring(L"ovra-test-") + what + L"-" + std::to_wstring(GetCurTime());
}

TEST(Mutex, OwnedByOneThreadAndReentrantForIt) {
    const std::wstring name = UniqueName(L"threads");
    Mutex mutex(name.c_str());
    ASSERT_NE(mutex.Lock(0), 0);
    EXPECT_NE(mutex.Lock(0), 0);  // the holder may take it again
    int other = -1;
    std::thread([&] { other = mutex.Lock(0); }).join();
    EXPECT_EQ(other, 0);
    mutex.Unlock();
    std::thread([&] { other = mutex.Lock(0); }).join();
    EXPECT_EQ(other, 0);  // still held once
    mutex.Unlock();
    std::thread([&] {
        other = mutex.Lock(0);
        if (other) mutex.Unlock();
    }).join();
    EXPECT_NE(other, 0);
}

TEST(Mutex, TwoObjectsOfOneNameExcludeEachOther) {
    const std::wstring name = UniqueName(L"objects");
    Mutex first(name.c_str()), second(name.c_str());
    ASSERT_NE(first.Lock(0), 0);
    int other = -1;
    std::thread([&] { other = second.Lock(0); }).join();
    EXPECT_EQ(other, 0);
    first.Unlock();
}

TEST(Mutex, SharedWithAnotherProcess) {
    const std::wstring name = UniqueName(L"process");
    const std::string narrow(name.begin(), name.end());
    ChildProcess child;
    ASSERT_TRUE(child.Start(HelperProgram("ovra_mutex_child"), {narrow}));
    std::string line;
    ASSERT_TRUE(child.ReadLine(line));
    ASSERT_EQ(line, "locked");
    Mutex mutex(name.c_str());
    EXPECT_EQ(mutex.Lock(0), 0);
    child.CloseInput();  // the child lets go and exits
    EXPECT_EQ(child.Wait(), 0);
    ASSERT_NE(mutex.Lock(0), 0);
    // And the other way round: while we hold it, a second process cannot take it.
    ChildProcess second;
    ASSERT_TRUE(second.Start(HelperProgram("ovra_mutex_child"), {narrow}));
    ASSERT_TRUE(second.ReadLine(line));
    EXPECT_EQ(line, "busy");
    second.CloseInput();
    EXPECT_EQ(second.Wait(), 1);
    mutex.Unlock();
}

TEST(Mutex, AHolderThatDiesDoesNotBlockTheOthers) {
    const std::wstring name = UniqueName(L"death");
    const std::string narrow(name.begin(), name.end());
    ChildProcess child;
    ASSERT_TRUE(child.Start(HelperProgram("ovra_mutex_child"), {narrow}));
    std::string line;
    ASSERT_TRUE(child.ReadLine(line));
    ASSERT_EQ(line, "locked");
    Mutex mutex(name.c_str());
    EXPECT_EQ(mutex.Lock(0), 0);
    child.Kill();
    child.Wait();
    EXPECT_NE(mutex.Lock(0), 0);
    mutex.Unlock();
}

}  // namespace
}  // namespace Ovra
