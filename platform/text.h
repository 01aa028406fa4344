// Bounded text operations for the program's fixed character buffers: every write stays within
// the buffer's room and leaves it terminated.
#pragma once

// Copies source into out, whose room is size bytes. Returns 1 when the whole text fit; 0 when it
// did not, and out then holds as much as fits. out is terminated whenever size > 0.
int text_copy(char* out, int size, const char* source);
// Appends source at the end of the text in out, under the same rules as text_copy.
int text_append(char* out, int size, const char* source);
// Formats at the current end of the text in out, under the same rules. The format knows %s (a
// text), %d (an int), %u (an unsigned int) and %% (a percent sign); any other conversion ends the
// text there and counts as not fitting.
int text_append_format(char* out, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Length of the text in out, counting at most size bytes (size when no terminator lies within).
int text_length(const char* text, int size);
// Whether the two texts are equal byte for byte, case-sensitively.
int text_equal(const char* a, const char* b);
