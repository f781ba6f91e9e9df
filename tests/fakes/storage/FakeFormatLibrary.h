#pragma once

// A simulated formatting library (fmifs.dll) for FakePlatform: its entry points are plain
// functions whose behaviour the test scripts and whose calls it records. One instance at a time.

#include "fakes/FakePlatform.h"

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

    // The library's symbols; a missing entry point can be left out.
    FakeModule Module(bool formatEx = true, bool enableCompression = true,
                      bool queryFormats = true) const;

    // FormatEx reports each percentage, then runs `during` (if set), then its completion.
    void SetProgress(std::vector<unsigned int> percents);
    void SetCompletion(Completion completion);
    void SetDuringFormat(std::function<void()> during);
    void SetAvailableFormats(std::vector<AvailableFormat> formats);

    std::vector<FormatExCall> FormatCalls() const;
    std::vector<int> CallbackResults() const;  // what the formatter's callback answered

private:
    struct Entry;
    friend struct Entry;

    mutable std::mutex m_mutex;
    std::vector<unsigned int> m_progress;
    Completion m_completion = Completion::kSuccess;
    std::function<void()> m_during;
    std::vector<AvailableFormat> m_formats;
    std::vector<FormatExCall> m_calls;
    std::vector<int> m_callbackResults;
};

}  // namespace fakes
}  // namespace Ovra
