// The entry points of the formatting library, with the shapes and callback contract the formatter
// uses on Windows: FormatEx runs the whole format inside the call and reports on the calling
// thread, command 0 with a 32-bit percentage and command 11, once, with a one-byte success flag.

#include "fmifs/src/FileSystemTools.h"
#include "fmifs/src/VolumeFormat.h"
#include "src/storage/FmifsEntryPoints.h"

#include <Ovra/Bases/StringConv.h>

#include <cstdint>
#include <type_traits>

#define FMIFS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Ovra::storage::FmifsCallback;

std::string Utf8(const wchar_t* text) {
    return text ? Ovra::tcs_to_utf8(text) : std::string();
}

}  // namespace

FMIFS_EXPORT void FormatEx(wchar_t* root, int /*mediaCode*/, wchar_t* fileSystemName,
                           wchar_t* label, int quick, unsigned int clusterSize,
                           FmifsCallback callback) {
    Ovra::fmifs::FormatRequest request;
    request.root = Utf8(root);
    request.fileSystem = Utf8(fileSystemName);
    request.label = Utf8(label);
    request.quick = quick != 0;
    request.clusterSize = clusterSize;
    const bool done = Ovra::fmifs::FormatVolume(request, [&](unsigned int percent) {
        std::uint32_t value = percent;
        return !callback || callback(Ovra::storage::kFmifsProgress, 0, &value) != 0;
    });
    unsigned char succeeded = done ? 1 : 0;
    if (callback) callback(Ovra::storage::kFmifsDone, 0, &succeeded);
}

FMIFS_EXPORT unsigned char QueryAvailableFileSystemFormat(unsigned int index, wchar_t* name,
                                                          unsigned char* majorVersion,
                                                          unsigned char* minorVersion,
                                                          unsigned char* latestVersion) {
    const auto tools = Ovra::fmifs::InstalledTools();
    if (index >= tools.size()) return 0;
    if (name) {
        std::size_t i = 0;
        for (const char* c = tools[index]->name; *c; ++c) name[i++] = static_cast<wchar_t>(*c);
        name[i] = L'\0';
    }
    if (majorVersion) *majorVersion = 1;
    if (minorVersion) *minorVersion = 0;
    if (latestVersion) *latestVersion = 1;  // one version of each
    return 1;
}

// Linux file systems have no volume-wide compression switch of this kind.
FMIFS_EXPORT unsigned char EnableVolumeCompression(wchar_t* /*root*/,
                                                   unsigned short /*compression*/) {
    return 0;
}

static_assert(std::is_same<decltype(&FormatEx), Ovra::storage::FormatExFunction>::value,
              "FormatEx has the formatter's shape");
static_assert(std::is_same<decltype(&QueryAvailableFileSystemFormat),
                           Ovra::storage::QueryAvailableFileSystemFormatFunction>::value,
              "QueryAvailableFileSystemFormat has the formatter's shape");
