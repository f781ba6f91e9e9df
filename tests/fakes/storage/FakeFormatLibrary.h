#pragma once

// A simulated formatting library (fmifs.dll) for FakePlatform: its entry points are plain
// functions whose behaviour the test scripts and whose calls it records. One instance at a time.

#include "tests/fakes/FakePlatform.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Ovra {
namespace fakes {

struct FormatExCall {
    std::wstring root;
    int mediaCode = 0;
    std::wstring fileSystem;
    std::wstring label;
    int quick = 0;
    unsigned int clusterSize = 0;
};

struct AvailableFormat {
    std::wstring name;
    bool latest;
};

class FakeFormatLibrary {
public:
    enum class Completion { kSuccess, kFailure, kNone };
    static const wchar_t kPath[];  // "fmifs.dll"

    FakeFormatLibrary();
    ~FakeFormatLibrary();
    FakeFormatLibrary(const FakeFormatLibrary&) = delete;
    FakeFormatLibrary& operator=(const FakeFormatLibrary&) = delete;

    // The library's symbols, but for the one named `missing`.
    FakeModule Module(const std::string& missing = "") const;

    // Script, set before formatting: FormatEx reports each percentage, then runs `during` (if
    // set), then its completion.
    std::vector<unsigned int> progress;
    Completion completion = Completion::kSuccess;
    std::function<void()> during;
    std::vector<AvailableFormat> formats;

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
