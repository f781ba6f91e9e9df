#pragma once

// Export macros of the base libraries. Symbols are hidden by default on every platform; what is
// marked here is the deliberate interface.
#if defined(_WIN32)
#define OVRA_DLL_EXPORT __declspec(dllexport)
#define OVRA_DLL_IMPORT __declspec(dllimport)
#elif defined(__GNUC__)
#define OVRA_DLL_EXPORT __attribute__((visibility("default")))
#define OVRA_DLL_IMPORT __attribute__((visibility("default")))
#else
#define OVRA_DLL_EXPORT
#define OVRA_DLL_IMPORT
#endif

#if defined(OVRA_BASES_BUILD)
#define OVRA_BASES_API OVRA_DLL_EXPORT
#else
#define OVRA_BASES_API OVRA_DLL_IMPORT
#endif

#if defined(OVRA_PLATFORM_COMMON_BUILD)
#define OVRA_PLATFORM_COMMON_API OVRA_DLL_EXPORT
#else
#define OVRA_PLATFORM_COMMON_API OVRA_DLL_IMPORT
#endif
