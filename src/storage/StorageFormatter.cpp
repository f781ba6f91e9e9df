#include <Ovra/StorageFormatter.h>

#include <Ovra/ResultCodes.h>

#include "src/SharedLibrary.h"
#include "src/storage/FmifsEntryPoints.h"
#include "src/storage/StorageRecords.h"

#include <cstdint>
#include <cstring>

namespace Ovra {

using platform::Sys;

namespace {

const std::uint32_t kNameBufferSize = 255;
// Guards against a library that never ends its enumeration.
const unsigned int kMaxFileSystemFormats = 256;

const wchar_t kLibraryName[] = L"fmifs.dll";
const char kFormatEx[] = "FormatEx";
const char kEnableVolumeCompression[] = "EnableVolumeCompression";
const char kQueryAvailableFileSystemFormat[] = "QueryAvailableFileSystemFormat";
}  // namespace

Mutex StorageFormatter::s_aMutex(L"69F5F27F-585B-48b7-91E3-C3816CAF7357");
StorageFormatterObserver* StorageFormatter::s_pObserver = nullptr;

// One format on this thread, from taking the lock to Format's return. The lock is a recursive
// mutex, so the hold this format took is released exactly once: by the library's completion
// report or, failing that, when the run ends.
struct StorageFormatter::FormatRun {
    FormatRun() : m_outer(Current()) { Current() = this; }
    ~FormatRun() { End(); }
    FormatRun(const FormatRun&) = delete;
    FormatRun& operator=(const FormatRun&) = delete;

    // The run of this thread, if it is formatting.
    static FormatRun*& Current() {
        static thread_local FormatRun* current = nullptr;
        return current;
    }

    void ReleaseLock() {
        if (m_released) return;
        m_released = true;
        s_aMutex.Unlock();
    }

    void End() {
        if (m_ended) return;
        m_ended = true;
        ReleaseLock();
        Current() = m_outer;
    }

private:
    FormatRun* m_outer;
    bool m_released = false;
    bool m_ended = false;
};

StorageFormatter::StorageFormatter() : m_fmifsModule(SharedLibrary::Load(kLibraryName)) {
    if (m_fmifsModule && m_fmifsModule->Symbol(kFormatEx) &&
        m_fmifsModule->Symbol(kEnableVolumeCompression) &&
        m_fmifsModule->Symbol(kQueryAvailableFileSystemFormat))
        return;
    Reassign(m_fmifsModule, nullptr);  // an incomplete library is given back at once
}

StorageFormatter::StorageFormatter(const StorageFormatter& other) : m_fmifsModule(nullptr) {
    Reassign(m_fmifsModule, other.m_fmifsModule);
}

StorageFormatter& StorageFormatter::operator=(const StorageFormatter& other) {
    Reassign(m_fmifsModule, other.m_fmifsModule);
    return *this;
}

StorageFormatter::~StorageFormatter() {
    Reassign(m_fmifsModule, nullptr);
    s_pObserver = nullptr;
}

void StorageFormatter::SetObserver(StorageFormatterObserver* observer) {
    s_pObserver = observer;
}

int StorageFormatter::Format(const std::wstring& root, int fileSystem, const std::wstring& label,
                             int quick, ClusterSize clusterSize) {
    if (!s_pObserver) return result::kNoObserver;
    // A format already running on this thread owns the (recursive) lock: refuse, as for others.
    if (FormatRun::Current() || !s_aMutex.Lock(0)) return result::kBusy;
    FormatRun run;

    wchar_t volumeLabel[kNameBufferSize] = {};
    wchar_t fileSystemName[kNameBufferSize] = {};
    std::uint32_t serial = 0, maxComponentLength = 0, flags = 0;
    std::uint64_t freeToCaller = 0, total = 0;
    if (!Sys().GetVolumeInformationW(root.c_str(), volumeLabel, kNameBufferSize, &serial,
                                     &maxComponentLength, &flags, fileSystemName,
                                     kNameBufferSize) ||
        !Sys().GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, nullptr))
        return result::kNotFound;
    if (!m_fmifsModule) return result::kSystemFailed;
    std::wstring name;
    if (!GetFsName(fileSystem, name)) return result::kNotFound;

    auto formatEx = reinterpret_cast<storage::FormatExFunction>(m_fmifsModule->Symbol(kFormatEx));
    const std::uint32_t driveType = Sys().GetDriveTypeW(root.c_str());
    // The library cannot be called after all: no format, so no report and no event 0.
    if (!formatEx || driveType == 0) return result::kOk;
    const int mediaCode = driveType == storage::kDriveFixed ? storage::kFmifsFixedMedia
                                                            : storage::kFmifsRemovableMedia;

    // The library takes writable strings; it gets copies.
    std::wstring rootArgument(root), labelArgument(label);
    formatEx(&rootArgument[0], mediaCode, &name[0], &labelArgument[0], quick,
             static_cast<unsigned int>(clusterSize), &StorageFormatter::FormatEntry);

    run.End();  // releases the lock if the library never reported completion
    if (StorageFormatterObserver* observer = s_pObserver) observer->OnFormatEvent(0, 0);
    return result::kOk;
}

unsigned char OVRA_FMIFS_CALL StorageFormatter::FormatEntry(int command, unsigned int, void* data) {
    StorageFormatterObserver* observer = s_pObserver;
    if (!observer) return 1;
    if (command == storage::kFmifsProgress) {
        std::uint32_t percent = 0;
        if (data) std::memcpy(&percent, data, sizeof percent);
        observer->OnFormatEvent(1, static_cast<int>(percent));
    } else if (command == storage::kFmifsDone) {
        const bool succeeded = data && *static_cast<const unsigned char*>(data) != 0;
        observer->OnFormatEvent(succeeded ? 2 : 3, 0);
        // Only the thread that took the lock can give it back; a stray report elsewhere must not
        // release a hold of another format.
        if (FormatRun* run = FormatRun::Current()) run->ReleaseLock();
    }
    return 1;
}

int StorageFormatter::GetUsableFileSystem(std::deque<int>& fileSystems) {
    if (!m_fmifsModule) return result::kSystemFailed;
    for (unsigned int index = 0; index < kMaxFileSystemFormats; ++index) {
        auto query = reinterpret_cast<storage::QueryAvailableFileSystemFormatFunction>(
            m_fmifsModule->Symbol(kQueryAvailableFileSystemFormat));
        if (!query) break;
        wchar_t name[256] = {};
        unsigned char version = 0;  // major and minor share it: neither is used
        unsigned char latest = 0;
        if (!query(index, name, &version, &version, &latest)) break;
        if (!latest) continue;  // only the newest version of each file system
        name[255] = L'\0';
        fileSystems.push_back(GetFileSystem(name));
    }
    return fileSystems.empty() ? result::kSystemFailed : result::kOk;
}

}  // namespace Ovra
