// The Configuration Manager's ANSI entry points over the simulated device tree: locating nodes,
// walking the live tree, reading the two registry properties, the list of every instance ID and
// re-enumeration, with the CR_ codes that Windows answers.
#include <algorithm>
#include <cstring>

#include "simwin/internal.h"

using sim::detail::enter;
using sim::detail::format;
using sim::detail::log_format;

namespace {

const ULONG kLocateFlagsMask = 0x7; // CM_LOCATE_DEVNODE_BITS

// The node a caller's DEVINST names: CR_INVALID_DEVNODE for one that never existed,
// CR_NO_SUCH_DEVNODE for one removed since, or for a phantom when live is asked for.
CONFIGRET look_up(DEVINST id, bool live, sim::Node** found) {
    sim::Node* n = sim::node(id);
    *found = nullptr;
    if (!n)
        return CR_INVALID_DEVNODE;
    if (n->removed || (live && !n->present))
        return CR_NO_SUCH_DEVNODE;
    *found = n;
    return CR_SUCCESS;
}

bool is_live(DEVINST id) {
    sim::Node* n = nullptr;
    return look_up(id, true, &n) == CR_SUCCESS;
}

const char* instance_of(DEVINST id) {
    const sim::Node* n = sim::node(id);
    return n ? n->instance_id.c_str() : "?";
}

// What CM_Get_Child, CM_Get_Sibling and CM_Get_Parent do before they move: clear the answer, log
// the call, check the pointer and flags, and find the live node they start from.
CONFIGRET start_walk(const char* function, PDEVINST answer, DEVINST node, ULONG flags,
                     sim::Node** found, bool live = true) {
    *found = nullptr;
    if (answer)
        *answer = 0;
    if (enter(function, log_format("%s", instance_of(node))))
        return CR_NO_SUCH_DEVNODE;
    if (!answer)
        return CR_INVALID_POINTER;
    if (flags != 0)
        return CR_INVALID_FLAG;
    return look_up(node, live, found);
}

// The first live node in list from position from on, as *answer; CR_NO_SUCH_DEVNODE when none.
CONFIGRET first_live(const std::vector<DEVINST>& list, size_t from, PDEVINST answer) {
    for (size_t i = from; i < list.size(); ++i) {
        if (is_live(list[i])) {
            *answer = list[i];
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

} // namespace

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST node, LPSTR instance_id, ULONG flags) {
    std::string id = instance_id ? instance_id : "";
    if (node)
        *node = 0;
    if (enter("CM_Locate_DevNodeA", log_format("%s flags=%#x", id.c_str(), flags)))
        return CR_NO_SUCH_DEVNODE;
    if (!node)
        return CR_INVALID_POINTER;
    if (flags & ~kLocateFlagsMask)
        return CR_INVALID_FLAG;
    if (id.empty()) {
        *node = sim::root_node();
        return CR_SUCCESS;
    }
    DEVINST found = sim::find_node(id);
    if (found == 0)
        return CR_NO_SUCH_DEVNODE;
    if (!sim::node(found)->present && !(flags & CM_LOCATE_DEVNODE_PHANTOM))
        return CR_NO_SUCH_DEVNODE;
    *node = found;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Child(PDEVINST child, DEVINST node, ULONG flags) {
    sim::Node* n = nullptr;
    CONFIGRET result = start_walk("CM_Get_Child", child, node, flags, &n);
    if (result != CR_SUCCESS)
        return result;
    return first_live(n->children, 0, child);
}

CONFIGRET WINAPI CM_Get_Sibling(PDEVINST sibling, DEVINST node, ULONG flags) {
    sim::Node* n = nullptr;
    CONFIGRET result = start_walk("CM_Get_Sibling", sibling, node, flags, &n);
    if (result != CR_SUCCESS)
        return result;
    sim::Node* parent = sim::node(n->parent);
    if (!parent)
        return CR_NO_SUCH_DEVNODE;
    const std::vector<DEVINST>& siblings = parent->children;
    size_t position = std::find(siblings.begin(), siblings.end(), node) - siblings.begin();
    return first_live(siblings, position + 1, sibling);
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
    sim::Node* n = nullptr;
    CONFIGRET result = start_walk("CM_Get_Parent", parent, node, flags, &n, false);
    if (result != CR_SUCCESS)
        return result;
    if (!n->present) {
        // A device that is not present: before Windows 8 it has no parent; from Windows 8 on,
        // its parent is the device that was its parent when it was last present, if that device
        // still exists (present or not), else the root of the tree.
        if (sim::parent_rule() == sim::ParentRule::BeforeWindows8)
            return CR_NO_SUCH_DEVNODE;
        const sim::Node* last = sim::node(n->parent);
        *parent = last && !last->removed ? n->parent : sim::root_node();
        return CR_SUCCESS;
    }
    // The root has no parent.
    if (!is_live(n->parent))
        return CR_NO_SUCH_DEVNODE;
    *parent = n->parent;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyA(DEVINST node, ULONG property, PULONG type,
                                                   PVOID buffer, PULONG length, ULONG flags) {
    if (enter("CM_Get_DevNode_Registry_PropertyA",
              log_format("%s property=%u length=%u", instance_of(node), property,
                         length ? *length : 0)))
        return CR_REGISTRY_ERROR;
    if (!length || (!buffer && *length != 0))
        return CR_INVALID_POINTER;
    if (flags != 0)
        return CR_INVALID_FLAG;
    if (property == 0)
        return CR_INVALID_PROPERTY;
    // Properties of a phantom are read from the registry as well as those of a present node.
    sim::Node* n = nullptr;
    CONFIGRET result = look_up(node, false, &n);
    if (result != CR_SUCCESS)
        return result;
    const std::optional<std::string>* value = nullptr;
    if (property == CM_DRP_DRIVER)
        value = &n->driver_key;
    else if (property == CM_DRP_DEVICEDESC)
        value = &n->description;
    if (!value || !value->has_value())
        return CR_NO_SUCH_VALUE;
    // A value stored without its terminator comes back as stored.
    ULONG needed = static_cast<ULONG>((*value)->size() + (n->unterminated ? 0 : 1));
    if (*length < needed) {
        *length = needed;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(buffer, (*value)->c_str(), needed);
    *length = needed;
    if (type)
        *type = REG_SZ;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeA(PULONG size, PCSTR filter, ULONG flags) {
    if (size)
        *size = 0;
    if (enter("CM_Get_Device_ID_List_SizeA",
              format("filter=%s flags=%#x", filter ? filter : "(none)", flags)))
        return CR_FAILURE;
    if (!size)
        return CR_INVALID_POINTER;
    *size = static_cast<ULONG>(sim::detail::device_id_list().size());
    sim::detail::run_device_id_list_size_hook();
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_ListA(PCSTR filter, PCHAR buffer, ULONG size, ULONG flags) {
    if (enter("CM_Get_Device_ID_ListA",
              format("filter=%s size=%u flags=%#x", filter ? filter : "(none)", size, flags)))
        return CR_FAILURE;
    if (!buffer || size == 0)
        return CR_INVALID_POINTER;
    std::string list = sim::detail::device_id_list();
    if (list.size() > size)
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, list.data(), list.size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST node, ULONG flags) {
    if (enter("CM_Reenumerate_DevNode", log_format("%s flags=%#x", instance_of(node), flags)))
        return CR_FAILURE;
    sim::Node* n = nullptr;
    CONFIGRET result = look_up(node, true, &n);
    if (result != CR_SUCCESS)
        return result;
    sim::detail::run_reenumerate_hook(node);
    return CR_SUCCESS;
}
