// The device tree of the simulated machine: nodes with an instance ID, a driver key and a
// description, present or phantom, children in sibling order. The USB stack refers to the
// nodes of its controllers, hubs and devices; cfgmgr32 and setupapi answer from this tree.
#pragma once

#include <functional>
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
    // Windows cannot stop the device at once (a program holds it open, a game its HID function):
    // a removal of it, or of a device above it, leaves it until the next restart and sets this
    // flag in the element's install parameters: DI_NEEDREBOOT, or DI_NEEDRESTART where its
    // driver asks for that. 0: the device stops at once.
    DWORD restart_flag = 0;
    // A driver started the device: only then does Windows enable its device interfaces (and so
    // announce its arrival and removal to the windows registered for them).
    bool started = true;
    bool unterminated = false; // its text properties are stored without their terminator
};

// The root node exists after reset(): instance ID "HTREE\ROOT\0", no driver key.
DEVINST root_node();
// Adds a node as the last child of parent and returns it. An instance ID given empty is made
// unique ("SIM\NODE\<n>"). A phantom (present false) keeps parent as the device it was last
// present below: the live tree does not reach it, and its parent lookup follows parent_rule().
// started false: a device that no driver started (see Node::started).
DEVINST add_node(DEVINST parent, const std::string& instance_id,
                 std::optional<std::string> driver_key = std::nullopt,
                 std::optional<std::string> description = std::nullopt, bool present = true,
                 bool started = true);
Node* node(DEVINST id); // null when no such node; removed nodes are still found here
// Gives a node another instance ID; find_node finds it by the new one only. A node's instance ID
// is changed only through here.
void rename_node(DEVINST id, const std::string& instance_id);
// The node with this instance ID (compared without regard to case), or 0; removed nodes are not
// found.
DEVINST find_node(const std::string& instance_id);
// Removes the node and everything below it from the machine, as a device removal does.
void remove_node(DEVINST id);
// Whether the Configuration Manager still lists an instance of this ID.
bool instance_exists(const std::string& instance_id);

// ---- the parent of a device that is not present -------------------------------------------------
// Windows8 (the default after reset): CM_Get_Parent of a phantom answers the device that was its
// parent when it was last present, if that device still exists (present or not), else the root.
// BeforeWindows8: the lookup fails (CR_NO_SUCH_DEVNODE), as it did on older Windows.
enum class ParentRule { Windows8, BeforeWindows8 };
void set_parent_rule(ParentRule rule);
ParentRule parent_rule();

// ---- builders for tests ------------------------------------------------------------------------
// A host controller below the root with this driver key, and its root hub as its first child.
// Returns the root hub's node; the controller is its parent.
DEVINST add_controller_with_root_hub(const std::string& controller_key,
                                     const std::string& root_hub_key = "");
// A device that Windows knows but that is not plugged in: a phantom below parent.
DEVINST add_phantom(DEVINST parent, const std::string& instance_id,
                    std::optional<std::string> description = std::nullopt,
                    std::optional<std::string> driver_key = std::nullopt);
// An instance below parent whose driver key exists in the registry (below HKEY_LOCAL_MACHINE at
// driver_registry_path), with the "InfPath" value when inf_name is given. A phantom unless
// present.
DEVINST add_instance_with_driver_key(DEVINST parent, const std::string& instance_id,
                                     const std::string& driver_key,
                                     std::optional<std::string> inf_name,
                                     std::optional<std::string> description = "Quorvale",
                                     bool present = false);

// ---- making the views disagree -----------------------------------------------------------------
// An instance ID that the Configuration Manager lists although no node carries it.
void add_listed_instance(const std::string& instance_id);
// Runs after each CM_Get_Device_ID_List_SizeA has taken its size and before it returns, so that a
// test can change the machine between the size query and the list query.
void on_device_id_list_size(std::function<void()> hook);
// Both ID list queries answer with the list cut short by this many bytes at its end, so that the
// block the program fetches is not terminated.
void cut_device_id_list(int bytes);
// Runs for each successful CM_Reenumerate_DevNode, with the node.
void on_reenumerate(std::function<void(DEVINST)> hook);

namespace detail {
// The list of every instance ID, present and phantom, in ID order (case-insensitive), each with
// its terminator and the whole ended by an empty string; cut as cut_device_id_list says.
std::string device_id_list();
void run_device_id_list_size_hook();
void run_reenumerate_hook(DEVINST id);
// Forgets every device information set; part of reset_devices.
void reset_device_info_sets();
// Forgets the interface lists of the sets; part of reset_devices.
void reset_device_interface_lists();
} // namespace detail

} // namespace sim
