// The USB topology: the PortTable of hubs and adapters that the scan builds, the scan itself,
// and the node queries through which it learns names and driver keys from the USB hub driver.
#pragma once

#include "platform/platform.h"

enum {
    kPortTableRoom = 128,      // hubs and adapters together
    kPortPathRoom = 10,        // a PortPath of at most 9 characters and its terminator
    kKeyRoom = 200,            // driver keys and hub labels: at most 199 characters
    kHostControllerCount = 10, // the names \\.\HCD0 to \\.\HCD9
    kFirstControllerLetter = 'A',
    kLastControllerLetter = 'Z',
    // Every letter may name a walked controller: those of the HCD names and those found only
    // through their interface.
    kControllerLetterCount = kLastControllerLetter - kFirstControllerLetter + 1,
    kAdapterVendor = 0x0E1C,
    kAdapterProduct = 0x0001,
    // The highest port number whose label is still one 8-bit character ('0' + 207 is 0xFF);
    // the scan walks no port beyond it.
    kLastLabelledPort = 0xFF - '0',
};

struct PortEntry {
    DEVINST devnode;           // 0 until resolve_devnodes ties the entry to a node
    int port;                  // adapter entries: the hub port (from 1) that carries the adapter
    char path[kPortPathRoom];  // the PortPath: A, A2, A31
    char parent_key[kKeyRoom]; // adapter entries: the hub_label of the hub it hangs on
    char driver_key[kKeyRoom]; // hubs: their own hub_label; adapters: their connection's key
    int is_hub;                // 1 for a hub entry, 0 for an adapter entry
    int parent_index;          // adapter entries: index of their hub's entry
};

struct PortTable {
    PortEntry entries[kPortTableRoom];
    int count; // entries 0 to count - 1 are valid; the scan never records past the room
};

extern PortTable port_table;

// The host controllers that one scan has walked, known by their driver keys, so that a controller
// reached by two names is walked once.
struct ScannedControllers {
    char keys[kControllerLetterCount][kKeyRoom];
    int count;       // keys 0 to count - 1 are valid
    int keyless;     // 1 when a walked controller's driver key was not available (or too long)
    int next_letter; // the letter for the next controller found only through its interface
};

extern ScannedControllers scanned_controllers;

// Rebuilds the PortTable from every host controller \\.\HCD0 to \\.\HCD9, then from every
// other controller that the Setup API lists under its interface, and the hubs below them.
void scan_usb_topology();
// Opens a host controller or hub by its device name, as the scan opens them.
HANDLE open_usb_device(const char* name);
// Walks the controller open on `controller` under the letter: its root hub, named after its
// driver key (controller_key, a global-heap block from get_hcd_driver_key that this releases;
// null when the key is not available), and every hub below. Remembers the key.
void scan_controller(HANDLE controller, char letter, char* controller_key);
// Whether the scan has walked a controller with this driver key.
int controller_scanned(const char* controller_key);
// The scan's second pass: every controller with a GUID_DEVINTERFACE_USB_HOST_CONTROLLER interface
// that the HCD names did not reach, each under the next letter, while the table has room.
void scan_interface_controllers();
// Walks the hub of that device name (without the \\.\ prefix). Takes ownership of hub_name, a
// global-heap block from the node queries, and releases it on every path.
void scan_hub(char* hub_name, const char* hub_label);
// Records the hub's entry and walks its ports 1 to port_count through the open hub handle.
void scan_hub_ports(HANDLE hub, const char* hub_label, int port_count);

// The node queries. Each result is a new global-heap block holding an ANSI string, owned by the
// caller (GlobalFree), or null when the driver gives no usable answer.
char* wide_to_ansi(const WCHAR* wide);
char* get_hcd_driver_key(HANDLE controller);
char* get_root_hub_name(HANDLE controller);
char* get_connection_hub_name(HANDLE hub, ULONG port);
char* get_connection_driver_key(HANDLE hub, ULONG port);

// Little-endian fields of a byte-packed reply buffer at a byte offset.
DWORD read_reply_dword(const BYTE* reply, DWORD offset);
WORD read_reply_word(const BYTE* reply, DWORD offset);
void write_reply_dword(BYTE* reply, DWORD offset, DWORD value);
