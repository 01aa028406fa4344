// Walks the Configuration Manager's list of every device instance ID and picks out the adapter's
// USB and HID instances: in scan mode each USB instance goes to the configured-adapter locator,
// in remove mode each instance loses its INF copies and is removed from the system, and a removal
// that needs a restart is remembered.
#include <string.h>

#include "devices/adapter_list.h"
#include "install/install.h"

namespace {

const char* const kAdapterInstancePrefixes[] = {
    "HID\\VID_0E1C&PID_0001\\",
    "USB\\VID_0E1C&PID_0001\\",
    "HID\\Vid_0e1c&Pid_0001\\",
    "USB\\Vid_0e1c&Pid_0001\\",
};
enum {
    kAdapterInstancePrefixCount = sizeof kAdapterInstancePrefixes / sizeof(const char*),
    kAdapterInstancePrefixLength = 22,
};

const char kDevicePathValue[] = "DevicePath";
const char kOtherDevicePathValue[] = "OtherDevicePath";

// Windows checks the record's size against the size of its own build: 28 bytes on 32-bit.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_DATA) == 28,
              "SP_DEVINFO_DATA is 28 bytes on 32-bit Windows");
// The same for the install parameters: 296 bytes on 32-bit Windows, 320 on 64-bit.
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == (sizeof(void*) == 4 ? 296 : 320),
              "SP_DEVINSTALL_PARAMS_A is 296 bytes on 32-bit Windows and 320 on 64-bit");

// Whether the terminated text begins with the length characters of prefix. It stops at the first
// character that differs, the text's terminator included, so it never reads past the text.
int begins_with(const char* text, const char* prefix, int length) {
    for (int i = 0; i < length; ++i)
        if (text[i] != prefix[i])
            return 0;
    return 1;
}

// Whether the ID begins with one of the adapter's four instance-ID prefixes.
int is_adapter_instance(const char* id) {
    // The first character turns away most of the machine's IDs before any prefix comparison.
    if (id[0] != 'H' && id[0] != 'U')
        return 0;
    for (int i = 0; i < kAdapterInstancePrefixCount; ++i)
        if (begins_with(id, kAdapterInstancePrefixes[i], kAdapterInstancePrefixLength))
            return 1;
    return 0;
}

// A device that Windows could not stop stays until the next restart, and its removal says so
// in the element's install parameters; that is remembered until the program ends.
void note_removal_restart(HDEVINFO set, PSP_DEVINFO_DATA data) {
    SP_DEVINSTALL_PARAMS_A params;
    memset(&params, 0, sizeof params);
    params.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    if (SetupDiGetDeviceInstallParamsA(set, data, &params) &&
        (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)))
        install_state.removal_needs_restart = 1;
}

// Opens the instance in a set of its own and removes it or hands it to the locator.
void handle_adapter_instance(const char* id, int remove) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof(SP_DEVINFO_DATA);
    if (SetupDiOpenDeviceInfoA(set, id, nullptr, 0, &data) && data.DevInst != 0) {
        if (remove) {
            delete_provider_inf_copy(set, &data, kDevicePathValue);
            delete_provider_inf_copy(set, &data, kOtherDevicePathValue);
            if (SetupDiRemoveDevice(set, &data))
                note_removal_restart(set, &data);
        } else if (id[0] == 'U') {
            locate_configured_adapter(id, data.DevInst);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace

void walk_adapter_instances(int remove) {
    ULONG size = 0;
    if (CM_Get_Device_ID_List_SizeA(&size, nullptr, 0) != CR_SUCCESS || size == 0)
        return;
    char* list = static_cast<char*>(GlobalAlloc(GPTR, size));
    if (!list)
        return;
    if (CM_Get_Device_ID_ListA(nullptr, list, size, 0) == CR_SUCCESS) {
        // Walk only within the block: an ID that runs into its end unterminated is not used.
        // Most IDs are turned away by their first character, so the end is found by memchr.
        ULONG offset = 0;
        while (offset < size && list[offset] != '\0') {
            const char* id = list + offset;
            const char* end = static_cast<const char*>(memchr(id, '\0', size - offset));
            if (!end)
                break;
            if (is_adapter_instance(id))
                handle_adapter_instance(id, remove);
            offset += static_cast<ULONG>(end - id) + 1;
        }
    }
    GlobalFree(list);
}
