#pragma once

// The control block of the test-only formatting library built beside the Windows tests: the test
// scripts what FormatEx reports and reads back what it was called with. The library formats
// nothing.

struct TestFmifsControl {
    // Script: FormatEx reports `progress`, then success; QueryAvailableFileSystemFormat lists
    // `format` alone, as the latest version.
    unsigned int progress;
    wchar_t format[16];

    // Record of the last FormatEx call.
    wchar_t fileSystem[32];
    wchar_t label[64];
    unsigned int clusterSize;
    unsigned long callerThread;  // the thread FormatEx ran on
};

// Exported by the test library only: its presence tells the tests that the library loaded under
// the name "fmifs.dll" is this one and not the system's.
typedef TestFmifsControl* (*TestFmifsControlFunction)();
#define TEST_FMIFS_CONTROL_EXPORT "OvraTestFmifsControl"
