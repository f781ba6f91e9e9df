// The file-system code table, shared by the formatter and the logical-drive inventory.
#include <Ovra/StorageFormatter.h>

#include "base/platform/Platform.h"

namespace Ovra {

namespace {

struct FileSystemRow {
    wchar_t name[16];
    int code;
    bool linuxOnly;  // Windows never names these, and its table stays as it was
};

const FileSystemRow kFileSystems[] = {
    {L"FAT", 2, false},   {L"FAT32", 3, false}, {L"NTFS", 5, false}, {L"Ext3", 7, false},
    {L"UDFS", 15, false}, {L"ext4", 16, true},  {L"xfs", 17, true},  {L"btrfs", 18, true},
};

bool Listed(const FileSystemRow& row) {
    return !row.linuxOnly || platform::Traits().linuxFileSystems;
}

}  // namespace

int StorageFormatter::GetFileSystem(const std::wstring& name) {
    if (name.empty()) return 0;
    for (const FileSystemRow& row : kFileSystems) {
        if (Listed(row) && name == row.name) return row.code;
    }
    return 0;
}

int StorageFormatter::GetFsName(int fileSystem, std::wstring& name) {
    for (const FileSystemRow& row : kFileSystems) {
        if (Listed(row) && row.code == fileSystem) {
            name = row.name;
            return 1;
        }
    }
    return 0;
}

}  // namespace Ovra
