// The file-system code table, shared by the formatter and the logical-drive inventory.
#include <Ovra/StorageFormatter.h>

namespace Ovra {

namespace {

struct FileSystemRow {
    wchar_t name[16];
    int code;
};

const FileSystemRow kFileSystems[] = {
    {L"FAT", 2},
    {L"FAT32", 3},
    {L"NTFS", 5},
    {L"Ext3", 7},
    {L"UDFS", 15},
#if !defined(_WIN32)
    // Linux volumes; Windows never names these, and its table stays as it was.
    {L"ext4", 16},
    {L"xfs", 17},
    {L"btrfs", 18},
#endif
};

}  // namespace

int StorageFormatter::GetFileSystem(const std::wstring& name) {
    if (name.empty()) return 0;
    for (const FileSystemRow& row : kFileSystems) {
        if (name == row.name) return row.code;
    }
    return 0;
}

int StorageFormatter::GetFsName(int fileSystem, std::wstring& name) {
    for (const FileSystemRow& row : kFileSystems) {
        if (row.code == fileSystem) {
            name = row.name;
            return 1;
        }
    }
    return 0;
}

}  // namespace Ovra
