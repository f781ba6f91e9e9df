#pragma once

// A simulated formatting library (fmifs.dll) for FakePlatform: its entry points are plain
// functions whose behaviour the test scripts and whose calls it records. One instance at a time.

#include "tests/fakes/FakePlatform.h"

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Ovra {
namespace fakes {

struct FormatExCall {
    std::wstring root;
    int mediaCode;
    std::wstring fileSystem;
    std::wstring label;
    int quick;
    unsigned int clusterSize;
};

class FakeFormatLibrary {
public:
    static const wchar_t kPath[];  // "fmifs.dll"
    static const int kRunHook = -1;

    FakeFormatLibrary();
    ~FakeFormatLibrary();
    FakeFormatLibrary(const FakeFormatLibrary&) = delete;
    FakeFormatLibrary& operator=(const FakeFormatLibrary&) = delete;

    // The library's symbols, but for the one named `missing`.
    FakeModule Module(const std::string& missing = "") const;

    // Script, set before formatting: FormatEx calls back with each (command, value) in turn (the
    // value as a 32-bit percentage for command 0, a one-byte flag otherwise); a command kRunHook
    // runs `hook` instead.
    std::vector<std::pair<int, unsigned int>> reports{{0, 100}, {11, 1}};
    std::function<void()> hook;
    // QueryAvailableFileSystemFormat lists these names with their latest-version flags.
    std::vector<std::pair<std::wstring, bool>> formats;

    std::vector<FormatExCall> FormatCalls() const;
    std::vector<int> CallbackResults() const;  // what the formatter's callback answered

private:
    struct Entry;

    mutable std::mutex m_mutex;
    std::vector<FormatExCall> m_calls;
    std::vector<int> m_callbackResults;
};

}  // namespace fakes
}  // namespace Ovra
