#include "tests/fakes/storage/FakeFormatLibrary.h"

#include <cwchar>

namespace Ovra {
namespace fakes {

namespace {
FakeFormatLibrary* g_library = nullptr;

typedef unsigned char (*Callback)(int command, unsigned int subAction, void* data);
}  // namespace

const wchar_t FakeFormatLibrary::kPath[] = L"fmifs.dll";

struct FakeFormatLibrary::Entry {
    static void FormatEx(wchar_t* root, int mediaCode, wchar_t* fileSystem, wchar_t* label,
                         int quick, unsigned int clusterSize, Callback callback) {
        FakeFormatLibrary& library = *g_library;
        {
            std::lock_guard<std::mutex> lock(library.m_mutex);
            library.m_calls.push_back({root, mediaCode, fileSystem, label, quick, clusterSize});
        }
        for (const auto& report : library.reports) {
            if (report.first == kRunHook) {
                library.hook();
                continue;
            }
            unsigned int percent = report.second;
            unsigned char flag = static_cast<unsigned char>(report.second);
            const int answer = callback(report.first, 0, report.first ? &flag : (void*)&percent);
            std::lock_guard<std::mutex> lock(library.m_mutex);
            library.m_callbackResults.push_back(answer);
        }
    }

    static unsigned char EnableVolumeCompression(wchar_t*, unsigned short) { return 0; }

    static unsigned char QueryAvailableFileSystemFormat(unsigned int index, wchar_t* name,
                                                        unsigned char* major, unsigned char* minor,
                                                        unsigned char* latest) {
        if (index >= g_library->formats.size()) return 0;
        std::wcsncpy(name, g_library->formats[index].first.c_str(), 255);
        *major = 1;
        *minor = 2;
        *latest = g_library->formats[index].second ? 1 : 0;
        return 1;
    }
};

FakeFormatLibrary::FakeFormatLibrary() {
    g_library = this;
}

FakeFormatLibrary::~FakeFormatLibrary() {
    g_library = nullptr;
}

FakeModule FakeFormatLibrary::Module(const std::string& missing) const {
    FakeModule module;
    module.symbols = {
        {"FormatEx", reinterpret_cast<void*>(&Entry::FormatEx)},
        {"EnableVolumeCompression", reinterpret_cast<void*>(&Entry::EnableVolumeCompression)},
        {"QueryAvailableFileSystemFormat",
         reinterpret_cast<void*>(&Entry::QueryAvailableFileSystemFormat)}};
    module.symbols.erase(missing);
    return module;
}

std::vector<FormatExCall> FakeFormatLibrary::FormatCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<int> FakeFormatLibrary::CallbackResults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_callbackResults;
}

}  // namespace fakes
}  // namespace Ovra
