#pragma once

#include <Ovra/Bases/Mutex.h>
#include <Ovra/Export.h>

#include <deque>
#include <string>

// The formatting library calls back with the Windows calling convention; it only differs from the
// default on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define OVRA_FMIFS_CALL __stdcall
#else
#define OVRA_FMIFS_CALL
#endif

namespace Ovra {

class SharedLibrary;

// Receives the formatter's reports, on the thread that called Format:
//   event 1, value = percent done; event 2 (format succeeded) or 3 (failed), value 0;
//   event 0, value 0 once the formatting library has returned (after 2 or 3).
class StorageFormatterObserver {
public:
    virtual void OnFormatEvent(int event, int value) = 0;
    virtual ~StorageFormatterObserver() = default;
};

// Formats volumes through the system formatting library (fmifs.dll), one format at a time across
// all threads and processes (named mutex), and maps file-system names to codes:
//   "FAT" 2, "FAT32" 3, "NTFS" 5, "Ext3" 7, "UDFS" 15, and on Linux "ext4" 16, "xfs" 17,
//   "btrfs" 18; 0 for an empty or unknown name (exFAT among them).
// On Linux "fmifs.dll" is the libfmifs.so installed beside this library: it formats the block
// device mounted at the root (a mount point with a trailing slash, such as /mnt/rec1/) with the
// file system's mkfs and mounts it again at the same point.
//
// Format results, tested in this order: 138 no observer; 136 another format holds the lock;
// 121 the root fails the volume check; 105 the library or an entry point is missing; 121 the code
// is not in the table; 0 the library was called. When the library cannot be called after all (its
// FormatEx entry is gone, or the drive type of the root cannot be determined) the result is 0
// too, without any event.
//
// The lock is never left held: every early result releases it, the library's completion report
// releases it, and when the library returns without that report (or is not called) Format
// releases it, before sending event 0. A Format called from inside an observer event (the same
// thread, while its own format runs) returns 136 instead of starting a second format.
//
// Copies share the loaded library; it is freed once, with the last copy. Destroying any formatter
// clears the process-wide observer.
class OVRA_PLATFORM_MISC_API StorageFormatter {
public:
    // The cluster-size argument of the formatting library: bytes per cluster, 0 for the file
    // system's default.
    enum ClusterSize {
        ClusterSizeDefault = 0,
        ClusterSize512 = 512,
        ClusterSize1K = 1024,
        ClusterSize2K = 2048,
        ClusterSize4K = 4096,
        ClusterSize8K = 8192,
        ClusterSize16K = 16384,
        ClusterSize32K = 32768,
        ClusterSize64K = 65536
    };

    // Loads fmifs.dll; never fails (a missing library shows as result 105).
    StorageFormatter();
    StorageFormatter(const StorageFormatter& other);
    StorageFormatter& operator=(const StorageFormatter& other);
    virtual ~StorageFormatter();

    // The one observer of the process; set it before formatting, not while a format runs.
    static void SetObserver(StorageFormatterObserver* observer);

    // Formats `root` (such as E:\) with file system `fileSystem`; see the results above. The
    // outcome of the format itself arrives as event 2 or 3.
    int Format(const std::wstring& root, int fileSystem, const std::wstring& label, int quick,
               ClusterSize clusterSize);

    // Appends the codes of the newest version of each file system the library can format (0 for
    // one outside the table). 0 when `fileSystems` is not empty afterwards, else 105 (also when
    // the library is missing; `fileSystems` is then left alone).
    int GetUsableFileSystem(std::deque<int>& fileSystems);

    static int GetFileSystem(const std::wstring& name);
    // 1 and the name of `fileSystem`, or 0 and `name` untouched.
    static int GetFsName(int fileSystem, std::wstring& name);

protected:
    // The formatting library's callback: command 0 progress (data: 32-bit percent), command 11
    // done (data: one-byte success flag). Always 1: go on.
    static unsigned char OVRA_FMIFS_CALL FormatEntry(int command, unsigned int subAction,
                                                     void* data);

private:
    struct FormatRun;

    SharedLibrary* m_fmifsModule;  // shared by copies; null when the library or an entry is missing

    static Mutex s_aMutex;
    static StorageFormatterObserver* s_pObserver;
};

}  // namespace Ovra
