// The device tree of the simulated machine: nodes with an instance ID, a driver key and a
// description, present or phantom, children in sibling order. The USB stack refers to the
// nodes of its controllers, hubs and devices; cfgmgr32 and setupapi answer from this tree.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

struct Node {
    DEVINST id = 0;
    std::string instance_id;
    std::optional<std::string> driver_key;  // CM_DRP_DRIVER
    std::optional<std::string> description; // CM_DRP_DEVICEDESC
    bool present = true;                    // false: a phantom, listed but not in the live tree
    DEVINST parent = 0;                     // 0 only for the root
    std::vector<DEVINST> children;          // in sibling order
    bool removed = false;                   // removed by SetupDiRemoveDevice
};

// The root node exists after reset(): instance ID "HTREE\ROOT\0", no driver key.
DEVINST root_node();
// Adds a node as the last child of parent and returns it. An instance ID given empty is made
// unique ("SIM\NODE\<n>").
DEVINST add_node(DEVINST parent, const std::string& instance_id,
                 std::optional<std::string> driver_key = std::nullopt,
                 std::optional<std::string> description = std::nullopt, bool present = true);
Node* node(DEVINST id); // null when no such node
// The node with this instance ID (compared without regard to case), or 0.
DEVINST find_node(const std::string& instance_id);

} // namespace sim
