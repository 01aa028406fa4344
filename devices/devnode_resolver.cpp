// Ties PortTable entries to device nodes: walks the whole device tree once, depth first, and
// compares each node's driver key with the keys the entries carry. A key that begins with '@'
// names a host controller, whose first child is the root hub wanted.
#include "devices/adapter_list.h"
#include "platform/text.h"
#include "usb/port_table.h"

namespace {

const char kControllerMark = '@';

// Gives every unresolved entry whose key equals node_key the node (or, for a controller key, the
// node's first child).
void match_entries(DEVINST node, const char* node_key, int parents_only) {
    for (int i = 0; i < port_table.count; ++i) {
        PortEntry& entry = port_table.entries[i];
        if (parents_only && entry.is_hub)
            continue;
        const char* key = parents_only ? entry.parent_key : entry.driver_key;
        int names_controller = key[0] == kControllerMark;
        if (names_controller)
            ++key;
        if (entry.devnode != 0 || key[0] == '\0')
            continue;
        if (!text_equal(key, node_key))
            continue;
        if (!names_controller) {
            entry.devnode = node;
            continue;
        }
        DEVINST root_hub = 0;
        if (CM_Get_Child(&root_hub, node, 0) == CR_SUCCESS)
            entry.devnode = root_hub;
    }
}

// Moves *node to the next node in depth-first pre-order. 0 when the walk is over.
int next_node(DEVINST* node) {
    DEVINST next = 0;
    if (CM_Get_Child(&next, *node, 0) == CR_SUCCESS) {
        *node = next;
        return 1;
    }
    if (CM_Get_Sibling(&next, *node, 0) == CR_SUCCESS) {
        *node = next;
        return 1;
    }
    for (;;) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, *node, 0) != CR_SUCCESS)
            return 0;
        *node = parent;
        if (CM_Get_Sibling(&next, *node, 0) == CR_SUCCESS) {
            *node = next;
            return 1;
        }
    }
}

} // namespace

void resolve_devnodes(int parents_only) {
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, nullptr, 0) != CR_SUCCESS)
        return;
    char node_key[kPropertyRoom];
    do {
        if (read_devnode_text(node, CM_DRP_DRIVER, node_key))
            match_entries(node, node_key, parents_only);
    } while (next_node(&node));
}
