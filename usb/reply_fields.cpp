// Fields of the USB hub driver's replies: little-endian values read from and written to a reply
// buffer at a byte offset, with no alignment assumed (the structures are byte-packed).
#include "usb/port_table.h"

#include <string.h>

DWORD read_reply_dword(const BYTE* reply, DWORD offset) {
    DWORD value;
    memcpy(&value, reply + offset, sizeof value);
    return value;
}

WORD read_reply_word(const BYTE* reply, DWORD offset) {
    WORD value;
    memcpy(&value, reply + offset, sizeof value);
    return value;
}

void write_reply_dword(BYTE* reply, DWORD offset, DWORD value) {
    memcpy(reply + offset, &value, sizeof value);
}
