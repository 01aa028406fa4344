// Bounded copy, append and format for fixed character buffers.
#include "platform/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int text_length(const char* text, int size) {
    int n = 0;
    while (n < size && text[n] != '\0')
        ++n;
    return n;
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
    int i = 0;
    while (source[i] != '\0' && end + i < size - 1) {
        out[end + i] = source[i];
        ++i;
    }
    out[end + i] = '\0';
    return source[i] == '\0';
}

int text_append_format(char* out, int size, const char* format, ...) {
    int end = append_position(out, size);
    if (end < 0)
        return 0;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(out + end, static_cast<size_t>(size - end), format, args);
    va_end(args);
    out[size - 1] = '\0';
    return written >= 0 && written < size - end;
}

int text_equal(const char* a, const char* b) {
    return strcmp(a, b) == 0;
}
