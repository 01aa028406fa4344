// Bounded copy, append and format for fixed character buffers. The formatter is the program's
// own: it knows only the conversions the program uses, so no printf engine comes with it.
#include "platform/text.h"

#include <stdarg.h>
#include <string.h>

int text_length(const char* text, int size) {
    if (size <= 0)
        return 0;
    const char* end = static_cast<const char*>(memchr(text, '\0', static_cast<size_t>(size)));
    return end ? static_cast<int>(end - text) : size;
}

int text_copy(char* out, int size, const char* source) {
    if (size <= 0)
        return 0;
    out[0] = '\0';
    return text_append(out, size, source);
}

// Where the next write into out starts: the end of its text. -1 when out has no room or holds
// no terminator within size bytes; it is then terminated at its last byte, if it has one.
static int append_position(char* out, int size) {
    if (size <= 0)
        return -1;
    int end = text_length(out, size);
    if (end >= size) {
        out[size - 1] = '\0';
        return -1;
    }
    return end;
}

int text_append(char* out, int size, const char* source) {
    int end = append_position(out, size);
    if (end < 0)
        return 0;
    // The source fits when its terminator lies within the room left; else room - 1 characters
    // of it are kept.
    int room = size - end;
    int length = text_length(source, room);
    int fits = length < room;
    if (!fits)
        length = room - 1;
    memmove(out + end, source, static_cast<size_t>(length));
    out[end + length] = '\0';
    return fits;
}

namespace {

// Where formatted text goes: out[at] is the next byte to write, out[last] the byte kept for the
// terminator. fit drops to 0 as soon as a character finds no room.
struct FormatCursor {
    char* out;
    int at;
    int last;
    int fit;
};

void put_character(FormatCursor* cursor, char c) {
    if (cursor->at < cursor->last)
        cursor->out[cursor->at++] = c;
    else
        cursor->fit = 0;
}

void put_text(FormatCursor* cursor, const char* text) {
    for (; cursor->fit && *text != '\0'; ++text)
        put_character(cursor, *text);
}

void put_decimal(FormatCursor* cursor, unsigned value) {
    char digits[10]; // 4294967295 has ten
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        put_character(cursor, digits[--count]);
}

} // namespace

int text_append_format(char* out, int size, const char* format, ...) {
    int end = append_position(out, size);
    if (end < 0)
        return 0;
    FormatCursor cursor = {out, end, size - 1, 1};
    va_list args;
    va_start(args, format);
    for (const char* f = format; cursor.fit && *f != '\0'; ++f) {
        if (*f != '%') {
            put_character(&cursor, *f);
            continue;
        }
        ++f;
        if (*f == 's') {
            put_text(&cursor, va_arg(args, const char*));
        } else if (*f == 'd') {
            int value = va_arg(args, int);
            unsigned magnitude = static_cast<unsigned>(value);
            if (value < 0) {
                put_character(&cursor, '-');
                magnitude = 0u - magnitude;
            }
            put_decimal(&cursor, magnitude);
        } else if (*f == 'u') {
            put_decimal(&cursor, va_arg(args, unsigned));
        } else if (*f == '%') {
            put_character(&cursor, '%');
        } else {
            cursor.fit = 0; // a conversion the program never uses
        }
    }
    va_end(args);
    out[cursor.at] = '\0';
    return cursor.fit;
}

int text_equal(const char* a, const char* b) {
    return strcmp(a, b) == 0;
}
