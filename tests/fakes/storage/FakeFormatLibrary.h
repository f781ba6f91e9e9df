#pragma once

// A simulated formatting library (fmifs.dll) for FakePlatform: its entry points are plain
// functions whose behaviour the test scripts and whose calls it records. One instance at a time;
// the formatter calls it on the thread that formats, so the records need no lock.

#include "tests/fakes/FakePlatform.h"

#include <cwchar>
#include <functional>
#include <tuple>

namespace Ovra::fakes {

// Root, media code, file system, label, quick flag and cluster size.
using FormatExCall = std::tuple<std::wstring, int, std::wstring, std::wstring, int, unsigned>;

class FakeFormatLibrary {
public:
    static constexpr const wchar_t* kPath = L"fmifs.dll";
    static const int kRunHook = -1;

    FakeFormatLibrary() { s_current = this; }
    ~FakeFormatLibrary() { s_current = nullptr; }

    // The library's symbols.
    FakeModule Module() const {
        return {{{"FormatEx", reinterpret_cast<void*>(&FormatEx)},
                 {"EnableVolumeCompression", reinterpret_cast<void*>(&Compress)},
                 {"QueryAvailableFileSystemFormat", reinterpret_cast<void*>(&Query)}}};
    }

    // Script, set before formatting: FormatEx calls back with each (command, value) in turn (the
    // value as a 32-bit percentage for command 0, a one-byte flag otherwise); a command kRunHook
    // runs `hook` instead.
    std::vector<std::pair<int, unsigned int>> reports{{0, 100}, {11, 1}};
    std::function<void()> hook;
    // QueryAvailableFileSystemFormat lists these names with their latest-version flags.
    std::vector<std::pair<std::wstring, bool>> formats;

    std::vector<FormatExCall> FormatCalls() const { return m_calls; }
    // What the formatter's callback answered.
    std::vector<int> CallbackResults() const { return m_callbackResults; }

private:
    using Callback = unsigned char (*)(int command, unsigned int subAction, void* data);

    inline static FakeFormatLibrary* s_current = nullptr;
    static void FormatEx(wchar_t* root, int mediaCode, wchar_t* fileSystem, wchar_t* label,
                         int quick, unsigned int clusterSize, Callback callback) {
        FakeFormatLibrary& self = *s_current;
        self.m_calls.emplace_back(root, mediaCode, fileSystem, label, quick, clusterSize);
        for (const auto& report : self.reports) {
            if (report.first == kRunHook) {
                self.hook();
                continue;
            }
            unsigned int percent = report.second;
            unsigned char flag = static_cast<unsigned char>(report.second);
            self.m_callbackResults.push_back(
                callback(report.first, 0, report.first ? &flag : (void*)&percent));
        }
    }
    static unsigned char Compress(wchar_t*, unsigned short) { return 0; }
    static unsigned char Query(unsigned int index, wchar_t* name, unsigned char* major,
                               unsigned char* minor, unsigned char* latest) {
        const auto& formats = s_current->formats;
        if (index >= formats.size()) return 0;
        std::wcsncpy(name, formats[index].first.c_str(), 255);
        *major = *minor = 1;  // the formatter passes one variable for both
        *latest = formats[index].second ? 1 : 0;
        return 1;
    }
    std::vector<FormatExCall> m_calls;
    std::vector<int> m_callbackResults;
};

}  // namespace Ovra::fakes
