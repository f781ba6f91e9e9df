#pragma once

// The result codes of the exported interface, each with the one text that the tools print. The
// numbers are part of the interface: never renumber.

namespace Ovra {
namespace result {

const int kOk = 0;
const int kFailed = 1;  // SQLite or access failure; closed service; bad column name
const int kOutOfMemory = 102;
const int kEmptyInput = 104;
const int kSystemFailed = 105;  // a system call or outside library failed
const int kExists = 116;
const int kAlreadyOpen = 120;
const int kNotFound = 121;
const int kMissing = 122;  // a prerequisite is missing (no table, ...)
const int kNoSmart = 127;
const int kBusy = 136;  // another format is in progress
const int kNoObserver = 138;
const int kBadChecksum = 139;  // a device data page failed its checksum
const int kSelfTestRunning = 140;  // a disk self-test is running; it is not restarted
const int kBadArgument = 141;      // an argument is malformed (a schedule, a cursor, ...)

// Never a result: what the time-sync observer is called with just before the clock is set.
const int kClockAboutToBeSet = 1901;

struct CodeText {
    int code;
    const char* text;
};

const CodeText kCodeTexts[] = {
    {kOk, "success"},
    {kFailed, "SQLite or access failure"},
    {kOutOfMemory, "out of memory"},
    {kEmptyInput, "nothing given"},
    {kSystemFailed, "a system call or outside library failed"},
    {kExists, "already exists"},
    {kAlreadyOpen, "already running or open"},
    {kNotFound, "not found"},
    {kMissing, "a prerequisite is missing"},
    {kNoSmart, "SMART is not available"},
    {kBusy, "another format is in progress"},
    {kNoObserver, "no format observer"},
    {kBadChecksum, "a data page from the device failed its checksum"},
    {kSelfTestRunning, "a self-test is already running"},
    {kBadArgument, "an argument is malformed"},
};

// The text of `code`; null for a number the interface does not define.
inline const char* Text(int code) {
    for (const CodeText& entry : kCodeTexts)
        if (entry.code == code) return entry.text;
    return nullptr;
}

}  // namespace result
}  // namespace Ovra
