#include <Ovra/Bases/StringConv.h>

#include "base/platform/Native.h"

namespace Ovra {

namespace {

const char32_t kReplacement = 0xFFFD;

void AppendCodePoint(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(char32_t c, std::wstring& out) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

void AppendUtf8(const wchar_t* text, std::size_t length, std::string& out) {
    out.reserve(out.size() + length);
    std::size_t i = 0;
    while (i < length) {
        // Runs of ASCII, the common case for SQL, are copied without per-character branching.
        std::size_t run = i;
        while (run < length && static_cast<char32_t>(text[run]) < 0x80) ++run;
        if (run > i) {
            const std::size_t old = out.size();
            out.resize(old + (run - i));
            char* dest = &out[old];
            for (std::size_t k = i; k < run; ++k) *dest++ = static_cast<char>(text[k]);
            i = run;
            if (i == length) break;
        }
        char32_t c = static_cast<char32_t>(text[i++]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i < length &&
            static_cast<char32_t>(text[i]) >= 0xDC00 && static_cast<char32_t>(text[i]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i++]) - 0xDC00);
        } else if (IsSurrogate(c) || c > 0x10FFFF) {
            c = kReplacement;
        }
        AppendCodePoint(c, out);
    }
}

void AppendWideFromUtf8(const char* text, std::size_t length, std::wstring& out) {
    out.reserve(out.size() + length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        std::size_t run = i;
        while (run < length && p[run] < 0x80) ++run;
        if (run > i) {
            const std::size_t old = out.size();
            out.resize(old + (run - i));
            wchar_t* dest = &out[old];
            for (std::size_t k = i; k < run; ++k) *dest++ = static_cast<wchar_t>(p[k]);
            i = run;
            if (i == length) break;
        }
        const unsigned char lead = p[i];
        std::size_t need;
        char32_t c, min;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1, c = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2, c = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3, c = lead & 0x07, min = 0x10000;
        } else {
            AppendWide(kReplacement, out);  // stray continuation byte or invalid lead
            ++i;
            continue;
        }
        // A truncated or broken sequence is replaced as a whole up to the first byte that does
        // not continue it; that byte starts afresh.
        std::size_t k = 1;
        for (; k <= need && i + k < length && (p[i + k] & 0xC0) == 0x80; ++k) {
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (k <= need || c < min || IsSurrogate(c) || c > 0x10FFFF) {
            AppendWide(kReplacement, out);
            i += k;
            continue;
        }
        AppendWide(c, out);
        i += k;
    }
}

std::string tcs_to_utf8(const std::wstring& text, const std::locale&) {
    std::string out;
    AppendUtf8(text.data(), text.size(), out);
    return out;
}

std::wstring utf8_to_tcs(const std::string& text, const std::locale&) {
    std::wstring out;
    AppendWideFromUtf8(text.data(), text.size(), out);
    return out;
}

std::string tcs_to_mbs(const std::wstring& text, const std::locale&) {
    return native::WideToMultibyte(text);
}

std::wstring mbs_to_tcs(const std::string& text, const std::locale&) {
    return native::MultibyteToWide(text);
}

}  // namespace Ovra
