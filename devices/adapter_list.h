// Device matching: ties PortTable entries to device nodes, classifies the driver bound to each
// adapter, finds adapter instances that are configured but not plugged in, and keeps the ordered
// AdapterList that the report shows.
#pragma once

#include "platform/platform.h"

enum DriverKind { NoDriver = 0, Generic = 1, Rumble = 2 };

enum {
    kAdapterListRoom = 30,
    kAdapterLabelRoom = 12, // at most 11 characters and the terminator
    kPropertyRoom = 512,
    kInstanceIdRoom = 500, // instance IDs of at most 499 characters
};

struct AdapterEntry {
    int plugged; // 1: plugged in now; 0: configured for this port but not plugged in
    char label[kAdapterLabelRoom];
    DriverKind kind;
};

struct AdapterList {
    AdapterEntry entries[kAdapterListRoom];
    int count; // entries 0 to count - 1 are valid; append_adapter_entry keeps it within the room
};

extern AdapterList adapter_list;

// Reads a text property (CM_DRP_DRIVER, CM_DRP_DEVICEDESC) of the node into buffer, whose room is
// kPropertyRoom bytes. 1 when the whole text and its terminator fit there; 0 otherwise.
int read_devnode_text(DEVINST devnode, ULONG property, char* buffer);
// Appends an entry at the end of the list. 0, with nothing written, when the list is full or the
// label is longer than 11 characters.
int append_adapter_entry(int plugged, const char* label, DriverKind kind);

// Entry mode (parents_only 0): each entry gets its own node. Parent mode: each adapter entry gets
// the node of the hub it hangs on; hub entries are left alone.
void resolve_devnodes(int parents_only);
DriverKind classify_driver(DEVINST devnode);
// Rescans the topology and appends one entry per plugged-in adapter.
void collect_plugged_adapters();
// Orders the list by label length, then by the labels' unsigned bytes.
void sort_adapter_list();
// Scan mode (remove 0) appends configured adapters; remove mode removes every adapter instance
// with its INF copies.
void walk_adapter_instances(int remove);
// Derives the port label of a configured USB instance from its ID and the device tree, and
// appends it as not plugged in unless an adapter is plugged into that port now.
void locate_configured_adapter(const char* id, DEVINST devnode);
