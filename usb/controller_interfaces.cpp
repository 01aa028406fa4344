// The topology scan's second pass: the host controllers that the Setup API lists under their
// device interface, opened by their interface paths. A controller that no HCD name reached (its
// driver made none, or one of 10 or more) is walked under the next free letter; one already
// walked is known by its driver key.
#include "usb/port_table.h"

#include <stddef.h>
#include <string.h>

#include "platform/platform.h"

// Windows checks cbSize against the structures of its own build: SP_DEVICE_INTERFACE_DATA holds
// a pointer-sized field, and the detail structure is packed to one byte on 32-bit Windows only.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DATA) == 28,
              "SP_DEVICE_INTERFACE_DATA is 28 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 8 || sizeof(SP_DEVICE_INTERFACE_DATA) == 32,
              "SP_DEVICE_INTERFACE_DATA is 32 bytes on 64-bit Windows");
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5,
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A is 5 bytes on 32-bit Windows");
static_assert(sizeof(void*) != 8 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8,
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A is 8 bytes on 64-bit Windows");

enum : DWORD {
    kDevicePathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath),
    // An interface path longer than a device path cannot be opened by CreateFileA.
    kLongestDetail = kDevicePathOffset + MAX_PATH,
};

static int interface_letters_left() {
    return scanned_controllers.next_letter <= kLastControllerLetter &&
           port_table.count < kPortTableRoom;
}

// The interface's path, fetched in two calls: the first, without a buffer, learns the size the
// detail needs; the second fills a block of that size. Null when either call fails or the size
// is one no interface path has. The caller releases the block (GlobalFree).
static SP_DEVICE_INTERFACE_DETAIL_DATA_A* get_interface_detail(HDEVINFO set,
                                                               SP_DEVICE_INTERFACE_DATA* data) {
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, data, NULL, 0, &required, NULL) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return NULL;
    if (required <= kDevicePathOffset + 1 || required > kLongestDetail)
        return NULL;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail =
        (SP_DEVICE_INTERFACE_DETAIL_DATA_A*)GlobalAlloc(GPTR, required);
    if (!detail)
        return NULL;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, data, detail, required, NULL, NULL)) {
        GlobalFree(detail);
        return NULL;
    }
    // The path ends within the block, whatever the call wrote.
    ((char*)detail)[required - 1] = '\0';
    return detail;
}

// Opens one listed controller and walks it unless the scan has walked it already. A controller
// whose driver key cannot be read is passed over: it may be one the HCD names reached.
static void scan_interface_controller(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = get_interface_detail(set, data);
    if (!detail)
        return;
    HANDLE controller = open_usb_device(detail->DevicePath);
    GlobalFree(detail);
    if (controller == INVALID_HANDLE_VALUE)
        return;
    char* controller_key = get_hcd_driver_key(controller);
    if (controller_key && !controller_scanned(controller_key)) {
        char letter = (char)scanned_controllers.next_letter;
        ++scanned_controllers.next_letter;
        scan_controller(controller, letter, controller_key);
    } else if (controller_key) {
        GlobalFree(controller_key);
    }
    CloseHandle(controller);
}

// When a controller that the HCD names reached gave no driver key, no listed controller can be
// told apart from it, and the pass adds nothing.
void scan_interface_controllers() {
    if (scanned_controllers.keyless || !interface_letters_left())
        return;
    HDEVINFO set = SetupDiGetClassDevsA(&kUsbHostControllerInterfaceClass, NULL, NULL,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    for (DWORD index = 0; interface_letters_left(); ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        memset(&data, 0, sizeof data);
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &kUsbHostControllerInterfaceClass, index,
                                         &data))
            break;
        scan_interface_controller(set, &data);
    }
    SetupDiDestroyDeviceInfoList(set);
}
