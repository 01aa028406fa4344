// The string queries of the USB hub driver: driver keys and hub names, each fetched with the
// two-call ActualLength protocol and converted from UTF-16 to ANSI text on the global heap.
#include "usb/port_table.h"

#include "platform/platform.h"

#include <string.h>

enum : int {
    kWholeString = -1, // WideCharToMultiByte converts up to and including the terminator
};

// What the second call of a query sends as its input.
enum ReplyInput {
    kNoInput,            // nothing: the control takes no input
    kBlockAsInput,       // the reply block itself, as it stands
    kBlockWithPortInput, // the reply block with the port number in its ConnectionIndex
};

// Converts count UTF-16 characters (kWholeString: up to and including the terminator) into a new
// zero-filled global-heap block. A block for a counted string gets one byte more, so it ends
// terminated all the same.
static char* convert_to_ansi(const WCHAR* wide, int count) {
    int size = WideCharToMultiByte(CP_ACP, 0, wide, count, NULL, 0, NULL, NULL);
    if (size <= 0)
        return NULL;
    int room = count == kWholeString ? size : size + 1;
    char* text = (char*)GlobalAlloc(GPTR, (SIZE_T)room);
    if (!text)
        return NULL;
    if (WideCharToMultiByte(CP_ACP, 0, wide, count, text, size, NULL, NULL) == 0) {
        GlobalFree(text);
        return NULL;
    }
    return text;
}

char* wide_to_ansi(const WCHAR* wide) {
    return convert_to_ansi(wide, kWholeString);
}

// Converts the string that starts at string_offset of a reply block of reply_size bytes. The
// string ends at its NUL character or, when the driver filled the block without one, at the last
// whole character inside the block: nothing past the block is read.
static char* reply_string_to_ansi(const BYTE* reply, DWORD reply_size, DWORD string_offset) {
    if (reply_size <= string_offset)
        return NULL;
    DWORD room = (reply_size - string_offset) / sizeof(WCHAR);
    const WCHAR* wide = (const WCHAR*)(reply + string_offset);
    DWORD length = 0;
    while (length < room && wide[length] != 0)
        ++length;
    if (length < room)
        return wide_to_ansi(wide);
    if (length == 0)
        return NULL;
    return convert_to_ansi(wide, (int)length);
}

// The second call and the conversion, shared by the four queries: allocates a block of exactly
// actual_length bytes, asks again with the input that the control takes, and converts the
// string at string_offset. The block is released on every path.
static char* fetch_reply_string(HANDLE device, DWORD code, DWORD actual_length, ReplyInput input,
                                ULONG port, DWORD string_offset) {
    BYTE* reply = (BYTE*)GlobalAlloc(GPTR, (SIZE_T)actual_length);
    if (!reply)
        return NULL;
    if (input == kBlockWithPortInput)
        write_reply_dword(reply, kConnectionNameIndexOffset, port);
    BYTE* in = input == kNoInput ? NULL : reply;
    DWORD in_size = input == kNoInput ? 0 : actual_length;
    DWORD returned = 0;
    if (!DeviceIoControl(device, code, in, in_size, reply, actual_length, &returned, NULL)) {
        GlobalFree(reply);
        return NULL;
    }
    char* text = reply_string_to_ansi(reply, actual_length, string_offset);
    GlobalFree(reply);
    return text;
}

// The first call's answer, of returned bytes, gives ActualLength only when it reaches past the
// field at offset: a shorter answer counts as a failed request.
static int reaches_actual_length(DWORD returned, DWORD offset) {
    return returned >= offset + sizeof(DWORD);
}

// The two host-controller queries: the first call, with a buffer of the fixed part only, learns
// ActualLength; a reply no larger than the fixed part holds no name. input is what both calls
// send: the reply buffer itself, or nothing.
static char* get_controller_string(HANDLE controller, DWORD code, ReplyInput input) {
    BYTE fixed[kHcdNameFixedSize];
    memset(fixed, 0, sizeof fixed);
    BYTE* in = input == kNoInput ? NULL : fixed;
    DWORD in_size = input == kNoInput ? 0 : sizeof fixed;
    DWORD returned = 0;
    if (!DeviceIoControl(controller, code, in, in_size, fixed, sizeof fixed, &returned, NULL) ||
        !reaches_actual_length(returned, kHcdNameActualLengthOffset))
        return NULL;
    DWORD actual_length = read_reply_dword(fixed, kHcdNameActualLengthOffset);
    if (actual_length <= kHcdNameFixedSize)
        return NULL;
    return fetch_reply_string(controller, code, actual_length, input, 0, kHcdNameStringOffset);
}

char* get_hcd_driver_key(HANDLE controller) {
    return get_controller_string(controller, kIoctlGetHcdDriverKeyName, kBlockAsInput);
}

char* get_root_hub_name(HANDLE controller) {
    return get_controller_string(controller, kIoctlUsbGetRootHubName, kNoInput);
}

// The two connection queries differ only in their control code. Both calls carry the port
// number in ConnectionIndex; a reply no larger than the fixed part holds no name.
static char* get_connection_string(HANDLE hub, ULONG port, DWORD code) {
    BYTE fixed[kConnectionNameFixedSize];
    memset(fixed, 0, sizeof fixed);
    write_reply_dword(fixed, kConnectionNameIndexOffset, port);
    DWORD returned = 0;
    if (!DeviceIoControl(hub, code, fixed, sizeof fixed, fixed, sizeof fixed, &returned, NULL) ||
        !reaches_actual_length(returned, kConnectionNameActualLengthOffset))
        return NULL;
    DWORD actual_length = read_reply_dword(fixed, kConnectionNameActualLengthOffset);
    if (actual_length <= kConnectionNameFixedSize)
        return NULL;
    return fetch_reply_string(hub, code, actual_length, kBlockWithPortInput, port,
                              kConnectionNameStringOffset);
}

char* get_connection_hub_name(HANDLE hub, ULONG port) {
    return get_connection_string(hub, port, kIoctlUsbGetNodeConnectionName);
}

char* get_connection_driver_key(HANDLE hub, ULONG port) {
    return get_connection_string(hub, port, kIoctlUsbGetNodeConnectionDriverKeyName);
}
