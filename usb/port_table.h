// The USB topology: the PortTable of hubs and adapters that the scan builds, the scan itself,
// and the node queries through which it learns names and driver keys from the USB hub driver.
#pragma once

#include "platform/platform.h"

enum {
    kPortTableRoom = 128, // hubs and adapters together
    kPortPathRoom = 10,   // a PortPath of at most 9 characters and its terminator
    kKeyRoom = 200,       // driver keys and hub labels: at most 199 characters
    kHostControllerCount = 10,
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

// Rebuilds the PortTable from every host controller \\.\HCD0 to \\.\HCD9 and the hubs below.
void scan_usb_topology();
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
