#pragma once

// Export macro of Ovra-Platform-Misc: dllexport while building the DLL, dllimport for its users;
// default visibility under -fvisibility=hidden on Linux.
#include <Ovra/Bases/Export.h>

#if defined(OVRA_PLATFORM_MISC_BUILD)
#define OVRA_PLATFORM_MISC_API OVRA_DLL_EXPORT
#else
#define OVRA_PLATFORM_MISC_API OVRA_DLL_IMPORT
#endif
