// Reads a device node's text properties from the Configuration Manager into the fixed property
// buffer, always leaving a terminated text or reporting that none fits.
#include <string.h>

#include "devices/adapter_list.h"

int read_devnode_text(DEVINST devnode, ULONG property, char* buffer) {
    ULONG length = kPropertyRoom;
    if (CM_Get_DevNode_Registry_PropertyA(devnode, property, nullptr, buffer, &length, 0) !=
        CR_SUCCESS)
        return 0;
    // The text comes back as stored: trust neither the length nor a terminator. Within the room
    // a terminator after the reported length ends the text whether or not one came before it;
    // a text that fills the room fits only when it holds its own.
    if (length > kPropertyRoom)
        return 0;
    if (length < kPropertyRoom) {
        buffer[length] = '\0';
        return 1;
    }
    return memchr(buffer, '\0', kPropertyRoom) != nullptr;
}
