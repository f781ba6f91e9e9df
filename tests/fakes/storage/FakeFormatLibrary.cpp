#include "fakes/storage/FakeFormatLibrary.h"

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
        std::vector<unsigned int> progress;
        Completion completion;
        std::function<void()> during;
        {
            std::lock_guard<std::mutex> lock(library.m_mutex);
            library.m_calls.push_back({root, mediaCode, fileSystem, label, quick, clusterSize});
            progress = library.m_progress;
            completion = library.m_completion;
            during = library.m_during;
        }
        for (unsigned int percent : progress) Report(library, callback, 0, &percent);
        if (during) during();
        if (completion == Completion::kNone) return;
        unsigned char succeeded = completion == Completion::kSuccess ? 1 : 0;
        Report(library, callback, 11, &succeeded);
    }

    static void Report(FakeFormatLibrary& library, Callback callback, int command, void* data) {
        const int answer = callback(command, 0, data);
        std::lock_guard<std::mutex> lock(library.m_mutex);
        library.m_callbackResults.push_back(answer);
    }

    static unsigned char EnableVolumeCompression(wchar_t*, unsigned short) { return 0; }

    static unsigned char QueryAvailableFileSystemFormat(unsigned int index, wchar_t* name,
                                                        unsigned char* major, unsigned char* minor,
                                                        unsigned char* latest) {
        std::lock_guard<std::mutex> lock(g_library->m_mutex);
        if (index >= g_library->m_formats.size()) return 0;
        const AvailableFormat& format = g_library->m_formats[index];
        std::wcsncpy(name, format.name.c_str(), 255);
        *major = 1;
        *minor = 2;
        *latest = format.latest ? 1 : 0;
        return 1;
    }
};

FakeFormatLibrary::FakeFormatLibrary() {
    g_library = this;
}

FakeFormatLibrary::~FakeFormatLibrary() {
    g_library = nullptr;
}

FakeModule FakeFormatLibrary::Module(bool formatEx, bool enableCompression,
                                     bool queryFormats) const {
    FakeModule module;
    if (formatEx) module.symbols["FormatEx"] = reinterpret_cast<void*>(&Entry::FormatEx);
    if (enableCompression)
        module.symbols["EnableVolumeCompression"] =
            reinterpret_cast<void*>(&Entry::EnableVolumeCompression);
    if (queryFormats)
        module.symbols["QueryAvailableFileSystemFormat"] =
            reinterpret_cast<void*>(&Entry::QueryAvailableFileSystemFormat);
    return module;
}

void FakeFormatLibrary::SetProgress(std::vector<unsigned int> percents) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = std::move(percents);
}

void FakeFormatLibrary::SetCompletion(Completion completion) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_completion = completion;
}

void FakeFormatLibrary::SetDuringFormat(std::function<void()> during) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_during = std::move(during);
}

void FakeFormatLibrary::SetAvailableFormats(std::vector<AvailableFormat> formats) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_formats = std::move(formats);
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
