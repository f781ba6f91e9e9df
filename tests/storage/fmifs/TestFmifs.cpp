// A stand-in for the system formatting library, loaded by the Windows tests through the real
// LoadLibraryW("fmifs.dll") from the executable's folder. It reports on the calling thread what
// the test scripted, and touches no volume.
#include "TestFmifsControl.h"

#include <windows.h>

#include <cwchar>

namespace {
TestFmifsControl g_control = {};
typedef unsigned char (*Callback)(int command, unsigned int subAction, void* data);
}  // namespace

extern "C" {

__declspec(dllexport) TestFmifsControl* OvraTestFmifsControl() {
    return &g_control;
}

__declspec(dllexport) void FormatEx(wchar_t*, int, wchar_t* fileSystem, wchar_t* label, int,
                                    unsigned int clusterSize, Callback callback) {
    std::wcsncpy(g_control.fileSystem, fileSystem, 31);
    std::wcsncpy(g_control.label, label ? label : L"", 63);
    g_control.clusterSize = clusterSize;
    g_control.callerThread = ::GetCurrentThreadId();
    callback(0, 0, &g_control.progress);
    unsigned char succeeded = 1;
    callback(11, 0, &succeeded);
}

__declspec(dllexport) unsigned char EnableVolumeCompression(wchar_t*, unsigned short) {
    return 0;
}

__declspec(dllexport) unsigned char QueryAvailableFileSystemFormat(unsigned int index,
                                                                   wchar_t* name,
                                                                   unsigned char* majorVersion,
                                                                   unsigned char* minorVersion,
                                                                   unsigned char* latest) {
    if (index > 0) return 0;
    std::wcsncpy(name, g_control.format, 15);
    *majorVersion = *minorVersion = *latest = 1;
    return 1;
}

}  // extern "C"
