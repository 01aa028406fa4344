// The Setup API's device information sets over the simulated device tree: creating a set,
// opening an instance in it by its ID, removing the instance with its driver key (or leaving a
// device held open for the next restart, as its install parameters then say; dispatching, as the
// removal's message loop does, what is due meanwhile), reading the install parameters, opening
// the instance's driver key, and destroying the set.
#include <cstring>
#include <map>

#include "simwin/internal.h"

namespace {

struct DeviceInfoSet {
    std::vector<DEVINST> opened;            // instances opened in the set, in order
    std::map<DEVINST, DWORD> install_flags; // each element's SP_DEVINSTALL_PARAMS Flags
};

struct SetStore {
    std::map<uintptr_t, DeviceInfoSet> sets;
    uintptr_t next = 0x51000;
};

SetStore& store() {
    static SetStore instance;
    return instance;
}

const DWORD kOpenDeviceInfoFlags = 0x2 | 0x4; // DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE

DeviceInfoSet* find_set(HDEVINFO set) {
    auto it = store().sets.find(reinterpret_cast<uintptr_t>(set));
    return it == store().sets.end() ? nullptr : &it->second;
}

// The checks every call that takes a set and a record makes, with the errors Windows sets: the
// set must be known, the record's size must be that of this build's SP_DEVINFO_DATA, and its
// instance must have been opened in the set. The instance's node, or null.
sim::Node* opened_instance(HDEVINFO set, PSP_DEVINFO_DATA data) {
    DeviceInfoSet* known = find_set(set);
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    bool in_set = false;
    for (DEVINST id : known->opened)
        if (id == data->DevInst)
            in_set = true;
    sim::Node* n = sim::node(data->DevInst);
    if (!in_set || !n) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (n->removed) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return nullptr;
    }
    return n;
}

// The restart flags of the node and the nodes below it: 0 when a removal can stop them at once.
DWORD restart_flags(const sim::Node& n) {
    DWORD flags = n.restart_flag;
    for (DEVINST child : n.children)
        if (const sim::Node* below = sim::node(child))
            if (!below->removed)
                flags |= restart_flags(*below);
    return flags;
}

std::string set_name(HDEVINFO set) {
    return sim::detail::format("set=%#zx", static_cast<size_t>(reinterpret_cast<uintptr_t>(set)));
}

std::string instance_of(PSP_DEVINFO_DATA data) {
    const sim::Node* n = data ? sim::node(data->DevInst) : nullptr;
    return n ? n->instance_id : "?";
}

} // namespace

namespace sim::detail {

void reset_device_info_sets() {
    store() = SetStore();
}

HDEVINFO new_device_info_set() {
    uintptr_t value = store().next;
    store().next += 8;
    store().sets[value] = DeviceInfoSet();
    count_open(sim::Resource::DeviceInfoSet, 1);
    return reinterpret_cast<HDEVINFO>(value);
}

bool device_info_set_exists(HDEVINFO set) {
    return find_set(set) != nullptr;
}

} // namespace sim::detail

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* class_guid, HWND parent) {
    if (enter("SetupDiCreateDeviceInfoList",
              format("class=%s parent=%p", class_guid ? "given" : "none",
                     static_cast<void*>(parent)))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return sim::detail::new_device_info_set();
}

BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO set, PCSTR instance_id, HWND, DWORD flags,
                                   PSP_DEVINFO_DATA data) {
    std::string id = instance_id ? instance_id : "";
    if (enter("SetupDiOpenDeviceInfoA", format("%s %s flags=%#x cbSize=%u", set_name(set).c_str(),
                                               id.c_str(), flags, data ? data->cbSize : 0))) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    DeviceInfoSet* known = find_set(set);
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (flags & ~kOpenDeviceInfoFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // A null or empty ID names the root of the device tree.
    DEVINST found = id.empty() ? sim::root_node() : sim::find_node(id);
    if (found == 0) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    known->opened.push_back(found);
    if (data) {
        std::memset(&data->ClassGuid, 0, sizeof data->ClassGuid);
        data->DevInst = found;
        data->Reserved = 0;
    }
    return TRUE;
}

BOOL WINAPI SetupDiRemoveDevice(HDEVINFO set, PSP_DEVINFO_DATA data) {
    if (enter("SetupDiRemoveDevice",
              format("%s %s", set_name(set).c_str(), instance_of(data).c_str()))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A 32-bit program on 64-bit Windows may not remove devices.
    if (sim::detail::in_wow64()) {
        SetLastError(ERROR_IN_WOW64);
        return FALSE;
    }
    sim::Node* n = opened_instance(set, data);
    if (!n)
        return FALSE;
    // A device that cannot be stopped stays until the next restart, which the element's install
    // parameters ask for; the removal itself succeeds.
    if (DWORD flags = restart_flags(*n)) {
        find_set(set)->install_flags[n->id] |= flags;
        sim::detail::notify({sim::MachineEvent::RemovalNeedsRestart, n->instance_id});
        sim::detail::dispatch_due_messages();
        return TRUE;
    }
    // The instance leaves the machine together with its driver key.
    if (n->driver_key)
        sim::delete_registry_key(HKEY_LOCAL_MACHINE, sim::driver_registry_path(*n->driver_key));
    std::string removed = n->instance_id;
    sim::remove_node(n->id);
    sim::detail::notify({sim::MachineEvent::InstanceRemoved, removed});
    // The removal's own message loop runs while Windows announces the device's departure.
    sim::detail::dispatch_due_messages();
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data,
                                           PSP_DEVINSTALL_PARAMS_A params) {
    if (enter("SetupDiGetDeviceInstallParamsA",
              format("%s %s cbSize=%u", set_name(set).c_str(),
                     data ? instance_of(data).c_str() : "(set)", params ? params->cbSize : 0))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    DeviceInfoSet* known = find_set(set);
    if (!known) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // Without a record: the set's own parameters, which nothing here sets. With one: its
    // element's, which outlive the instance's removal.
    DWORD flags = 0;
    if (data) {
        if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        bool in_set = false;
        for (DEVINST id : known->opened)
            if (id == data->DevInst)
                in_set = true;
        if (!in_set) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        auto it = known->install_flags.find(data->DevInst);
        if (it != known->install_flags.end())
            flags = it->second;
    }
    std::memset(params, 0, sizeof *params);
    params->cbSize = sizeof *params;
    params->Flags = flags;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    // Releases are logged but never fail.
    record("SetupDiDestroyDeviceInfoList", set_name(set));
    auto it = store().sets.find(reinterpret_cast<uintptr_t>(set));
    if (it == store().sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    store().sets.erase(it);
    sim::detail::count_open(sim::Resource::DeviceInfoSet, -1);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile,
                                 DWORD key_type, REGSAM access) {
    HKEY none = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (enter("SetupDiOpenDevRegKey",
              format("%s %s scope=%u profile=%u type=%u access=%#x", set_name(set).c_str(),
                     instance_of(data).c_str(), scope, profile, key_type, access))) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return none;
    }
    sim::Node* n = opened_instance(set, data);
    if (!n)
        return none;
    if (scope != DICS_FLAG_GLOBAL || (key_type != DIREG_DRV && key_type != DIREG_DEV)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return none;
    }
    // Only the driver key is modelled; a device's hardware key never exists here.
    if (key_type != DIREG_DRV || !n->driver_key) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return none;
    }
    HKEY key = nullptr;
    if (sim::detail::open_registry_key(HKEY_LOCAL_MACHINE,
                                       sim::driver_registry_path(*n->driver_key), access,
                                       &key) != ERROR_SUCCESS) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return none;
    }
    return key;
}
