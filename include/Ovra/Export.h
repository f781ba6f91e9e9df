#pragma once

// Export macro of Ovra-Platform-Misc: dllexport while building the DLL, dllimport for its users;
// default visibility under -fvisibility=hidden on Linux.
//
// The internal static libraries (OVRA_PLATFORM_MISC_INTERNAL) go into the DLL and, beside its
// import library, into white-box tests. On Windows they neither export (their objects would add
// entries to the export table, or to a test's) nor import (inside the DLL that would import the
// DLL's own symbols); a test's references then resolve through the import library's stubs. On ELF
// they see default visibility as users do: a hidden reference would hide the shared object's
// definition.
#include <Ovra/Bases/Export.h>

#if defined(OVRA_PLATFORM_MISC_BUILD)
#define OVRA_PLATFORM_MISC_API OVRA_DLL_EXPORT
#elif defined(OVRA_PLATFORM_MISC_INTERNAL) && defined(_WIN32)
#define OVRA_PLATFORM_MISC_API
#else
#define OVRA_PLATFORM_MISC_API OVRA_DLL_IMPORT
#endif
