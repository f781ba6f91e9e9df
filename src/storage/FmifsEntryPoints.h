#pragma once

// The shapes of the formatting library's entry points (fmifs.dll), as it documents them.

#include <Ovra/StorageFormatter.h>

namespace Ovra {
namespace storage {

// Callback commands the formatter acts on; the library sends others too.
const int kFmifsProgress = 0;  // data: 32-bit unsigned percent
const int kFmifsDone = 11;     // data: one-byte success flag

// Media codes handed to FormatEx.
const int kFmifsFixedMedia = 12;
const int kFmifsRemovableMedia = 8;

typedef unsigned char(OVRA_FMIFS_CALL* FmifsCallback)(int command, unsigned int subAction,
                                                      void* data);

typedef void(OVRA_FMIFS_CALL* FormatExFunction)(wchar_t* root, int mediaCode,
                                                wchar_t* fileSystemName, wchar_t* label, int quick,
                                                unsigned int clusterSize, FmifsCallback callback);

typedef unsigned char(OVRA_FMIFS_CALL* QueryAvailableFileSystemFormatFunction)(
    unsigned int index, wchar_t* name, unsigned char* majorVersion, unsigned char* minorVersion,
    unsigned char* latestVersion);

}  // namespace storage
}  // namespace Ovra
