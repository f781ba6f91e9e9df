#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/Mutex.h>

#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace Ovra {
namespace {

using testing_support::ChildProcess;

// Unique per run: tests of parallel runs must not meet each other's mutex.
std::wstring UniqueName(const wchar_t* what) {
    return std::wstring(L"ovra-test-") + what + L"-" + std::to_wstring(GetCurTime());
}

int LockFromAnotherThread(Mutex& mutex) {  // a lock it gets is given back
    int result = -1;
    std::thread([&] {
        result = mutex.Lock(0);
        if (result) mutex.Unlock();
    }).join();
    return result;
}

// Starts the helper process on the mutex `name`; returns its first line ("locked" or "busy").
std::string StartHolder(ChildProcess& child, const std::wstring& name) {
    std::string line = "not started";
    if (child.Start(testing_support::HelperProgram("ovra_mutex_child"),
                    {std::string(name.begin(), name.end())}))
        child.ReadLine(line);
    return line;
}

TEST(Mutex, OwnedByOneThreadAndReentrantForIt) {
    const std::wstring name = UniqueName(L"threads");
    Mutex mutex(name.c_str()), sameName(name.c_str());
    ASSERT_EQ(mutex.Lock(0), 1);
    EXPECT_EQ(mutex.Lock(0), 1);                    // the holder may take it again
    EXPECT_EQ(LockFromAnotherThread(sameName), 0);  // two objects of one name exclude each other
    mutex.Unlock();
    EXPECT_EQ(LockFromAnotherThread(mutex), 0);  // still held once
    mutex.Unlock();
    EXPECT_NE(LockFromAnotherThread(mutex), 0);
}

TEST(Mutex, SharedWithAnotherProcessEvenWhenItsHolderDies) {
    const std::wstring name = UniqueName(L"process");
    ChildProcess child;
    ASSERT_EQ(StartHolder(child, name), "locked");
    Mutex mutex(name.c_str());
    EXPECT_EQ(mutex.Lock(0), 0);
    child.Kill();
    child.Wait();
    ASSERT_EQ(mutex.Lock(0), 1);  // abandoned: ours now
    ChildProcess second;
    EXPECT_EQ(StartHolder(second, name), "busy");
    second.CloseInput();
    EXPECT_EQ(second.Wait(), 1);
    mutex.Unlock();
}

}  // namespace
}  // namespace Ovra
