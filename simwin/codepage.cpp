// The simulated ANSI code page: WideCharToMultiByte and MultiByteToWideChar with CP_ACP as
// Windows-1252, and sim::widen and sim::narrow, which the models convert their texts with. A
// character the code page lacks becomes its default character '?'; the size queries and the
// too-small-buffer failures follow Windows.
#include <string>

#include "simwin/internal.h"

namespace {

constexpr UINT kWindows1252 = 1252;
constexpr char kDefaultChar = '?';
constexpr DWORD kWideFlagsKnown = 0x00000400u /* WC_NO_BEST_FIT_CHARS */ |
                                  0x00000200u /* WC_COMPOSITECHECK */ |
                                  0x00000040u /* WC_DEFAULTCHAR */;
constexpr DWORD kMultiFlagsKnown = 0x1u /* MB_PRECOMPOSED */ | 0x8u /* MB_ERR_INVALID_CHARS */;

bool is_ansi_code_page(UINT code_page) {
    return code_page == CP_ACP || code_page == kWindows1252;
}

// The 0x80-0x9F row of Windows-1252; the five bytes it leaves undefined map to the C1 controls
// of the same value, as Windows maps them.
const char16_t kHighRow[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t to_wide(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighRow[byte - 0x80] : static_cast<char16_t>(byte);
}

// The byte for a UTF-16 unit, or nothing when Windows-1252 lacks the character.
bool to_byte(char16_t unit, unsigned char* byte) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        *byte = static_cast<unsigned char>(unit);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighRow[i] == unit) {
            *byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The argument checks both conversions make: a source with a count of -1 (up to its terminator)
// or more, a room of 0 (a size query) or more with a buffer, the buffer not the source, and the
// ANSI code page.
bool arguments_valid(UINT code_page, const void* source, int count, const void* out, int room) {
    return source && count != 0 && count >= -1 && room >= 0 && (out || room == 0) &&
           (!out || out != source) && is_ansi_code_page(code_page);
}

// The units a source count stands for: count itself, or for -1 the text and its terminator.
template <class Char> size_t source_length(const Char* source, int count) {
    if (count != -1)
        return static_cast<size_t>(count);
    size_t length = 0;
    while (source[length] != 0)
        ++length;
    return length + 1;
}

// Hands a converted text out: its length for a size query (room 0); the text when it fits; else
// as much as fits, ERROR_INSUFFICIENT_BUFFER and 0.
template <class Text> int deliver(const Text& converted, typename Text::value_type* out, int room) {
    int needed = static_cast<int>(converted.size());
    if (room == 0)
        return needed;
    if (room < needed) {
        converted.copy(out, static_cast<size_t>(room));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    converted.copy(out, converted.size());
    return needed;
}

} // namespace

namespace sim {

std::u16string widen(const std::string& ansi) {
    std::u16string wide;
    wide.reserve(ansi.size() + 1); // and a terminator, which most callers add
    for (char ch : ansi)
        wide.push_back(to_wide(static_cast<unsigned char>(ch)));
    return wide;
}

char narrow(char16_t unit) {
    unsigned char byte = 0;
    return to_byte(unit, &byte) ? static_cast<char>(byte) : kDefaultChar;
}

} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::log_format;

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_count, LPSTR out,
                               int out_size, LPCSTR default_char, LPBOOL used_default) {
    if (enter("WideCharToMultiByte", log_format("cp=%u flags=%#x count=%d out=%d", code_page, flags,
                                                wide_count, out_size))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!arguments_valid(code_page, wide, wide_count, out, out_size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags & ~kWideFlagsKnown) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t count = source_length(wide, wide_count);
    std::string text;
    text.reserve(count);
    bool defaulted = false;
    const char substitute = default_char ? default_char[0] : kDefaultChar;
    for (size_t i = 0; i < count; ++i) {
        unsigned char byte = 0;
        if (to_byte(wide[i], &byte)) {
            text.push_back(static_cast<char>(byte));
            continue;
        }
        // A surrogate pair is one character, replaced once.
        if (is_high_surrogate(wide[i]) && i + 1 < count && is_low_surrogate(wide[i + 1]))
            ++i;
        text.push_back(substitute);
        defaulted = true;
    }
    if (used_default)
        *used_default = defaulted ? TRUE : FALSE;
    return deliver(text, out, out_size);
}

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int count, LPWSTR out,
                               int out_count) {
    if (enter("MultiByteToWideChar",
              log_format("cp=%u flags=%#x count=%d out=%d", code_page, flags, count, out_count))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!arguments_valid(code_page, text, count, out, out_count)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags & ~kMultiFlagsKnown) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return deliver(sim::widen(std::string(text, source_length(text, count))), out, out_count);
}

UINT WINAPI GetACP() {
    enter("GetACP", "");
    return kWindows1252;
}
