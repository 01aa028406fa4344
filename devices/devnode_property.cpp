// Reads a device node's text properties from the Configuration Manager into the fixed property
// buffer, always leaving a terminated text or reporting that none fits.
#include "devices/adapter_list.h"

int read_devnode_text(DEVINST devnode, ULONG property, char* buffer) {
    ULONG length = kPropertyRoom;
    if (CM_Get_DevNode_Registry_PropertyA(devnode, property, nullptr, buffer, &length, 0) !=
        CR_SUCCESS)
        return 0;
    // The text comes back as stored: trust neither the length nor a terminator.
    if (length > kPropertyRoom)
        return 0;
    for (ULONG i = 0; i < length; ++i)
        if (buffer[i] == '\0')
            return 1;
    if (length == kPropertyRoom)
        return 0; // no room left for the terminator: the text does not fit
    buffer[length] = '\0';
    return 1;
}
