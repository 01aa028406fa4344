// The AdapterList: its storage, the classification of the driver bound to an adapter, the
// plugged-in adapters taken from the PortTable, and the order in which the report lists them.
#include <string.h>

#include "devices/adapter_list.h"
#include "platform/text.h"
#include "usb/port_table.h"

AdapterList adapter_list;

namespace {

// The maker's driver describes the adapter as the product word, a blank and an opening
// parenthesis; the bare product word means no driver is bound.
const char kRumbleDescriptionPrefix[] = "Quorvale (";
const char kBareDescription[] = "Quorvale";
enum { kRumbleDescriptionPrefixLength = sizeof kRumbleDescriptionPrefix - 1 };

// Whether entry a sorts before entry b: the shorter label first, then the smaller by unsigned
// byte value.
int label_less(const AdapterEntry& a, const AdapterEntry& b) {
    int length_a = text_length(a.label, kAdapterLabelRoom);
    int length_b = text_length(b.label, kAdapterLabelRoom);
    if (length_a != length_b)
        return length_a < length_b;
    return memcmp(a.label, b.label, static_cast<size_t>(length_a)) < 0;
}

} // namespace

int append_adapter_entry(int plugged, const char* label, DriverKind kind) {
    if (adapter_list.count >= kAdapterListRoom)
        return 0;
    if (text_length(label, kAdapterLabelRoom) >= kAdapterLabelRoom)
        return 0;
    AdapterEntry& entry = adapter_list.entries[adapter_list.count];
    entry.plugged = plugged;
    text_copy(entry.label, sizeof entry.label, label);
    entry.kind = kind;
    ++adapter_list.count;
    return 1;
}

DriverKind classify_driver(DEVINST devnode) {
    if (devnode == 0)
        return NoDriver;
    char description[kPropertyRoom];
    if (!read_devnode_text(devnode, CM_DRP_DEVICEDESC, description))
        return NoDriver;
    // strncmp stops at the description's terminator, so a shorter one never matches.
    if (strncmp(description, kRumbleDescriptionPrefix, kRumbleDescriptionPrefixLength) == 0)
        return Rumble;
    if (text_equal(description, kBareDescription))
        return NoDriver;
    return Generic;
}

void collect_plugged_adapters() {
    scan_usb_topology();
    resolve_devnodes(0);
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& entry = port_table.entries[i];
        if (entry.is_hub)
            continue;
        append_adapter_entry(1, entry.path, classify_driver(entry.devnode));
    }
}

void sort_adapter_list() {
    int count = adapter_list.count;
    for (int p = 0; p < count - 1; ++p) {
        for (int j = p + 1; j < count; ++j) {
            if (!label_less(adapter_list.entries[j], adapter_list.entries[p]))
                continue;
            AdapterEntry swap = adapter_list.entries[p];
            adapter_list.entries[p] = adapter_list.entries[j];
            adapter_list.entries[j] = swap;
        }
    }
}
