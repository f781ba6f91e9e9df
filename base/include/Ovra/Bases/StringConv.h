#pragma once

#include <Ovra/Bases/Export.h>

#include <locale>
#include <string>

namespace Ovra {

// Conversions between wide text (UTF-16 on Windows, UTF-32 elsewhere) and byte strings. They never
// throw on bad input: an invalid sequence (a lone surrogate, a malformed UTF-8 sequence, a code
// point beyond U+10FFFF) becomes U+FFFD. The locale argument is accepted for the callers' sake:
// UTF-8 needs none, and the multibyte encoding is the system's (the ANSI code page on Windows,
// UTF-8 on Linux).
OVRA_BASES_API std::string tcs_to_utf8(const std::wstring& text,
                                       const std::locale& locale = std::locale());
OVRA_BASES_API std::wstring utf8_to_tcs(const std::string& text,
                                        const std::locale& locale = std::locale());
OVRA_BASES_API std::string tcs_to_mbs(const std::wstring& text,
                                      const std::locale& locale = std::locale());
OVRA_BASES_API std::wstring mbs_to_tcs(const std::string& text,
                                       const std::locale& locale = std::locale());

// The same over raw ranges, appending to `out`; for callers that convert many short texts.
OVRA_BASES_API void AppendUtf8(const wchar_t* text, std::size_t length, std::string& out);
OVRA_BASES_API void AppendWideFromUtf8(const char* text, std::size_t length, std::wstring& out);

}  // namespace Ovra
