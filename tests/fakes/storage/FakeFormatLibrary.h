#pragma once

// A simulated formatting library (fmifs.dll) for FakePlatform: its entry points are plain
// functions whose behaviour the test scripts and whose calls it records. One instance at a time.

#include "tests/fakes/FakePlatform.h"

#include <cwchar>
#include <functional>

namespace Ovra::fakes {

struct FormatExCall {
    std::wstring root;
    int mediaCode;
    std::wstring fileSystem, label;
    int quick;
    unsigned int clusterSize;
};

class FakeFormatLibrary {
public:
    static constexpr const wchar_t* kPath = L"fmifs.dll";
    static const int kRunHook = -1;

    FakeFormatLibrary() { Current() = this; }
    ~FakeFormatLibrary() { Current() = nullptr; }
    FakeFormatLibrary(const FakeFormatLibrary&) = delete;
    FakeFormatLibrary& operator=(const FakeFormatLibrary&) = delete;

    // The library's symbols, but for the one named `missing`.
    FakeModule Module(const std::string& missing = "") const {
        FakeModule module{{{"FormatEx", reinterpret_cast<void*>(&FormatEx)},
                           {"EnableVolumeCompression", reinterpret_cast<void*>(&Compress)},
                           {"QueryAvailableFileSystemFormat", reinterpret_cast<void*>(&Query)}}};
        module.symbols.erase(missing);
        return module;
    }

    // Script, set before formatting: FormatEx calls back with each (command, value) in turn (the
    // value as a 32-bit percentage for command 0, a one-byte flag otherwise); a command kRunHook
    // runs `hook` instead.
    std::vector<std::pair<int, unsigned int>> reports{{0, 100}, {11, 1}};
    std::function<void()> hook;
    // QueryAvailableFileSystemFormat lists these names with their latest-version flags.
    std::vector<std::pair<std::wstring, bool>> formats;

    std::vector<FormatExCall> FormatCalls() const {
        Lock lock(m_mutex);
        return m_calls;
    }
    std::vector<int> CallbackResults() const {  // what the formatter's callback answered
        Lock lock(m_mutex);
        return m_callbackResults;
    }

private:
    using Callback = unsigned char (*)(int command, unsigned int subAction, void* data);

    static FakeFormatLibrary*& Current() {
        static FakeFormatLibrary* library = nullptr;
        return library;
    }
    static void FormatEx(wchar_t* root, int mediaCode, wchar_t* fileSystem, wchar_t* label,
                         int quick, unsigned int clusterSize, Callback callback) {
        FakeFormatLibrary& self = *Current();
        self.Locked([&] {
            self.m_calls.push_back({root, mediaCode, fileSystem, label, quick, clusterSize});
        });
        for (const auto& report : self.reports) {
            if (report.first == kRunHook) {
                self.hook();
                continue;
            }
            unsigned int percent = report.second;
            unsigned char flag = static_cast<unsigned char>(report.second);
            const int answer = callback(report.first, 0, report.first ? &flag : (void*)&percent);
            self.Locked([&] { self.m_callbackResults.push_back(answer); });
        }
    }
    static unsigned char Compress(wchar_t*, unsigned short) { return 0; }
    static unsigned char Query(unsigned int index, wchar_t* name, unsigned char* major,
                               unsigned char* minor, unsigned char* latest) {
        const auto& formats = Current()->formats;
        if (index >= formats.size()) return 0;
        std::wcsncpy(name, formats[index].first.c_str(), 255);
        *major = 1;
        *minor = 2;
        *latest = formats[index].second ? 1 : 0;
        return 1;
    }
    template <typename F>
    void Locked(F act) {
        Lock lock(m_mutex);
        act();
    }

    mutable std::mutex m_mutex;
    std::vector<FormatExCall> m_calls;
    std::vector<int> m_callbackResults;
};

}  // namespace Ovra::fakes
