#include "base/platform/Platform.h"

#include <atomic>

namespace Ovra {
namespace platform {

namespace {
std::atomic<Platform*> g_installed{nullptr};
}  // namespace

Platform::~Platform() = default;

Platform& Sys() {
    Platform* installed = g_installed.load(std::memory_order_acquire);
    return installed ? *installed : DefaultPlatform();
}

Platform* SetPlatform(Platform* platform) {
    Platform* previous = g_installed.exchange(platform, std::memory_order_acq_rel);
    return previous;
}

Handle PlatformWrapper::CreateFileW(const wchar_t* path, std::uint32_t desiredAccess,
                                    std::uint32_t shareMode, std::uint32_t creationDisposition,
                                    std::uint32_t flagsAndAttributes) {
    return m_target->CreateFileW(path, desiredAccess, shareMode, creationDisposition,
                                 flagsAndAttributes);
}
int PlatformWrapper::DeviceIoControl(Handle device, std::uint32_t ioControlCode,
                                     const void* inBuffer, std::uint32_t inBufferSize,
                                     void* outBuffer, std::uint32_t outBufferSize,
                                     std::uint32_t* bytesReturned) {
    return m_target->DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer,
                                     outBufferSize, bytesReturned);
}
int PlatformWrapper::CloseHandle(Handle handle) {
    return m_target->CloseHandle(handle);
}
std::uint32_t PlatformWrapper::GetDriveTypeW(const wchar_t* rootPath) {
    return m_target->GetDriveTypeW(rootPath);
}
int PlatformWrapper::GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label,
                                           std::uint32_t labelSize, std::uint32_t* serialNumber,
                                           std::uint32_t* maxComponentLength,
                                           std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                           std::uint32_t fileSystemNameSize) {
    return m_target->GetVolumeInformationW(rootPath, label, labelSize, serialNumber,
                                           maxComponentLength, fileSystemFlags, fileSystemName,
                                           fileSystemNameSize);
}
int PlatformWrapper::GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                                         std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
    return m_target->GetDiskFreeSpaceExW(rootPath, freeBytesAvailable, totalBytes, totalFreeBytes);
}
int PlatformWrapper::SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) {
    return m_target->SetVolumeLabelW(rootPath, label);
}
std::vector<std::wstring> PlatformWrapper::VolumeRoots() {
    return m_target->VolumeRoots();
}
Module PlatformWrapper::LoadLibraryW(const wchar_t* path) {
    return m_target->LoadLibraryW(path);
}
void* PlatformWrapper::GetProcAddress(Module module, const char* name) {
    return m_target->GetProcAddress(module, name);
}
int PlatformWrapper::FreeLibrary(Module module) {
    return m_target->FreeLibrary(module);
}
Handle PlatformWrapper::CreateEventW(int manualReset, int initialState) {
    return m_target->CreateEventW(manualReset, initialState);
}
int PlatformWrapper::SetEvent(Handle event) {
    return m_target->SetEvent(event);
}
int PlatformWrapper::ResetEvent(Handle event) {
    return m_target->ResetEvent(event);
}
Handle PlatformWrapper::DuplicateHandle(Handle handle) {
    return m_target->DuplicateHandle(handle);
}
std::uint32_t PlatformWrapper::WaitForMultipleObjects(std::uint32_t count, const Handle* handles,
                                                      int waitAll, std::uint32_t milliseconds) {
    return m_target->WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}
Handle PlatformWrapper::CreateMutexW(const wchar_t* name) {
    return m_target->CreateMutexW(name);
}
int PlatformWrapper::ReleaseMutex(Handle mutex) {
    return m_target->ReleaseMutex(mutex);
}
long long PlatformWrapper::GetCurTime() {
    return m_target->GetCurTime();
}
int PlatformWrapper::SetCurTime(long long time) {
    return m_target->SetCurTime(time);
}
int PlatformWrapper::SetTimeZone(const TimeZone& zone) {
    return m_target->SetTimeZone(zone);
}
std::uint32_t PlatformWrapper::GetLastError() {
    return m_target->GetLastError();
}

}  // namespace platform
}  // namespace Ovra
