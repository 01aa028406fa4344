// The USB topology scan: walks every host controller, its root hub and the external hubs below,
// port by port, and records in the PortTable each hub it opens and each port that carries an
// adapter, with the port's PortPath and the driver keys that tie the entry to a device node.
#include "usb/port_table.h"

#include "platform/platform.h"
#include "platform/text.h"

#include <string.h>

PortTable port_table;
ScannedControllers scanned_controllers;

enum {
    kScanPathRoom = 12,
    kLongestPortPath = kPortPathRoom - 1,
    kControllerNameRoom = 16,
    // "\\.\" before the hub name and the terminator after it.
    kDeviceNameExtra = 5,
};

static const char kControllerNameFormat[] = "\\\\.\\HCD%d";
static const char kDeviceNamePrefix[] = "\\\\.\\";
static const char kRootHubMark[] = "@";

// The PortPath under construction: the controller letter, then one character per hub tier.
static char scan_path[kScanPathRoom];
// The length of the paths being recorded: the hub's own while its entry is recorded, its ports'
// while they are walked.
static int scan_depth;

HANDLE open_usb_device(const char* name) {
    return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

static int port_table_full() {
    return port_table.count >= kPortTableRoom;
}

// Records a new entry at the end of the table: its path is scan_path ended after scan_depth
// characters, it has no node yet, and it carries driver_key. Null when the table is full.
static PortEntry* record_entry(const char* driver_key, int is_hub, int parent_index) {
    if (port_table_full())
        return NULL;
    PortEntry* entry = &port_table.entries[port_table.count];
    scan_path[scan_depth] = '\0';
    text_copy(entry->path, kPortPathRoom, scan_path);
    entry->devnode = 0;
    text_copy(entry->driver_key, kKeyRoom, driver_key);
    entry->is_hub = is_hub;
    entry->parent_index = parent_index;
    ++port_table.count;
    return entry;
}

// Copies a driver key into a key buffer of kKeyRoom bytes. A key too long for it counts as not
// available and leaves the buffer empty, never holding a cut key.
static void copy_key(char* out, const char* key) {
    if (!text_copy(out, kKeyRoom, key))
        out[0] = '\0';
}

int controller_scanned(const char* controller_key) {
    for (int i = 0; i < scanned_controllers.count; ++i)
        if (strcmp(scanned_controllers.keys[i], controller_key) == 0)
            return 1;
    return 0;
}

// Remembers the driver key of a controller the scan walks; a key that is not available, or
// too long to keep whole, leaves the controller one that no key recognises.
static void remember_controller(const char* controller_key) {
    if (!controller_key || scanned_controllers.count >= kControllerLetterCount ||
        !text_copy(scanned_controllers.keys[scanned_controllers.count], kKeyRoom, controller_key)) {
        scanned_controllers.keyless = 1;
        return;
    }
    ++scanned_controllers.count;
}

void scan_controller(HANDLE controller, char letter, char* controller_key) {
    scan_path[0] = letter;
    remember_controller(controller_key);

    // "@" and the controller's driver key; "@" alone when the key is not available or would not
    // fit whole.
    char hub_label[kKeyRoom];
    text_copy(hub_label, sizeof hub_label, kRootHubMark);
    if (controller_key) {
        if (!text_append(hub_label, sizeof hub_label, controller_key))
            text_copy(hub_label, sizeof hub_label, kRootHubMark);
        GlobalFree(controller_key);
    }

    char* root_hub_name = get_root_hub_name(controller);
    if (root_hub_name)
        scan_hub(root_hub_name, hub_label);
}

void scan_usb_topology() {
    port_table.count = 0;
    scan_depth = 1;
    scanned_controllers.count = 0;
    scanned_controllers.keyless = 0;
    scanned_controllers.next_letter = kFirstControllerLetter;
    for (int n = 0; n < kHostControllerCount && !port_table_full(); ++n) {
        char controller_name[kControllerNameRoom];
        controller_name[0] = '\0';
        text_append_format(controller_name, sizeof controller_name, kControllerNameFormat, n);
        HANDLE controller = open_usb_device(controller_name);
        if (controller == INVALID_HANDLE_VALUE)
            continue;
        // The controllers found only through their interface take the letters after this one.
        scanned_controllers.next_letter = kFirstControllerLetter + n + 1;
        scan_controller(controller, (char)(kFirstControllerLetter + n),
                        get_hcd_driver_key(controller));
        CloseHandle(controller);
    }
    scan_interface_controllers();
}

void scan_hub(char* hub_name, const char* hub_label) {
    // A full table takes nothing more, and a name longer than a device path cannot be opened.
    size_t name_length = strlen(hub_name);
    if (port_table_full() || name_length + kDeviceNameExtra > MAX_PATH) {
        GlobalFree(hub_name);
        return;
    }
    int device_name_room = (int)name_length + kDeviceNameExtra;
    char* device_name = (char*)GlobalAlloc(GPTR, (SIZE_T)device_name_room);
    if (!device_name) {
        GlobalFree(hub_name);
        return;
    }
    text_copy(device_name, device_name_room, kDeviceNamePrefix);
    text_append(device_name, device_name_room, hub_name);
    HANDLE hub = open_usb_device(device_name);
    GlobalFree(device_name);
    if (hub == INVALID_HANDLE_VALUE) {
        GlobalFree(hub_name);
        return;
    }

    BYTE* node_information = (BYTE*)GlobalAlloc(GPTR, kNodeInformationSize);
    if (node_information) {
        DWORD returned = 0;
        // A reply too short to hold bNumberOfPorts counts as a failed request.
        if (DeviceIoControl(hub, kIoctlUsbGetNodeInformation, node_information,
                            kNodeInformationSize, node_information, kNodeInformationSize, &returned,
                            NULL) &&
            returned > kNodeInformationPortCountOffset)
            scan_hub_ports(hub, hub_label, node_information[kNodeInformationPortCountOffset]);
        GlobalFree(node_information);
    }
    CloseHandle(hub);
    GlobalFree(hub_name);
}

// Records an adapter entry for port number `port` of the hub whose entry is hub_index.
static void record_adapter(const char* hub_label, const char* port_key, int port, int hub_index) {
    PortEntry* entry = record_entry(port_key, 0, hub_index);
    if (!entry)
        return;
    text_copy(entry->parent_key, kKeyRoom, hub_label);
    entry->port = port;
}

void scan_hub_ports(HANDLE hub, const char* hub_label, int port_count) {
    int hub_index = port_table.count;
    if (!record_entry(hub_label, 1, 0))
        return;
    ++scan_depth;

    // Ports whose paths would exceed a PortPath, or whose label is not one character, are not
    // walked.
    int last_port = port_count;
    if (scan_depth > kLongestPortPath)
        last_port = 0;
    if (last_port > kLastLabelledPort)
        last_port = kLastLabelledPort;

    for (int i = 1; i <= last_port && !port_table_full(); ++i) {
        char port_key[kKeyRoom];
        port_key[0] = '\0';
        scan_path[scan_depth - 1] = (char)(unsigned char)('0' + i);

        BYTE* connection = (BYTE*)GlobalAlloc(GPTR, kConnectionInformationSize);
        if (!connection)
            break;
        write_reply_dword(connection, kConnectionInformationIndexOffset, (DWORD)i);
        DWORD returned = 0;
        // A reply that stops short of ConnectionStatus counts as a failed request.
        if (!DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformation, connection,
                             kConnectionInformationSize, connection, kConnectionInformationSize,
                             &returned, NULL) ||
            returned < kConnectionInformationStatusOffset + sizeof(DWORD)) {
            GlobalFree(connection);
            continue;
        }

        if (read_reply_dword(connection, kConnectionInformationStatusOffset) !=
            kNoDeviceConnected) {
            char* key = get_connection_driver_key(hub, (ULONG)i);
            if (key) {
                copy_key(port_key, key);
                GlobalFree(key);
            }
        }
        if (read_reply_word(connection, kConnectionInformationVendorOffset) == kAdapterVendor &&
            read_reply_word(connection, kConnectionInformationProductOffset) == kAdapterProduct)
            record_adapter(hub_label, port_key, i, hub_index);
        if (connection[kConnectionInformationIsHubOffset] != 0) {
            char* child_name = get_connection_hub_name(hub, (ULONG)i);
            if (child_name)
                scan_hub(child_name, port_key);
        }
        GlobalFree(connection);
    }
    --scan_depth;
}
