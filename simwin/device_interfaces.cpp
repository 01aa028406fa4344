// The Setup API's device interface lists over the simulated machine: SetupDiGetClassDevsA for
// an interface class, SetupDiEnumDeviceInterfaces and SetupDiGetDeviceInterfaceDetailA with the
// structure-size checks and the size-asking first call that Windows answers.
#include <cstddef>
#include <cstring>
#include <map>

#include "simwin/internal.h"

namespace {

constexpr DWORD kKnownClassDevsFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;

struct InterfaceList {
    GUID interface_class{};
    std::vector<std::string> names; // the symbolic link names, in the order listed
    std::vector<DEVINST> devices;   // the device of each interface
};

// The interfaces each set listed when it was made; a set's entry outlives the set, but a set's
// handle value is never used again within a run.
std::map<uintptr_t, InterfaceList>& lists() {
    static std::map<uintptr_t, InterfaceList> instance;
    return instance;
}

bool same_guid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string guid_text(const GUID* guid) {
    if (!guid)
        return "none";
    return sim::detail::format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid->Data1,
                               guid->Data2, guid->Data3, guid->Data4[0], guid->Data4[1],
                               guid->Data4[2], guid->Data4[3], guid->Data4[4], guid->Data4[5],
                               guid->Data4[6], guid->Data4[7]);
}

std::string set_name(HDEVINFO set) {
    return sim::detail::format("set=%#zx", static_cast<size_t>(reinterpret_cast<uintptr_t>(set)));
}

// The list of a set the program holds, or null with ERROR_INVALID_HANDLE.
InterfaceList* list_of(HDEVINFO set) {
    auto found = lists().find(reinterpret_cast<uintptr_t>(set));
    if (!sim::detail::device_info_set_exists(set) || found == lists().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &found->second;
}

} // namespace

namespace sim::detail {

void reset_device_interface_lists() {
    lists().clear();
}

} // namespace sim::detail

using sim::detail::enter;
using sim::detail::format;

// Only device-interface lists are modelled: a class's list holds the interface of each present
// device of that class (the host controllers are the only devices with one here). A list without
// DIGCF_DEVICEINTERFACE, or of another class, is an empty set.
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* class_guid, PCSTR enumerator, HWND parent,
                                     DWORD flags) {
    if (enter("SetupDiGetClassDevsA",
              format("class=%s enumerator=%s parent=%p flags=%#x", guid_text(class_guid).c_str(),
                     enumerator ? enumerator : "none", static_cast<void*>(parent), flags))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if ((flags & ~kKnownClassDevsFlags) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    if (!class_guid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    InterfaceList list;
    if (class_guid)
        list.interface_class = *class_guid;
    if ((flags & DIGCF_DEVICEINTERFACE) && class_guid &&
        same_guid(*class_guid, sim::kUsbHostControllerInterfaceGuid)) {
        for (sim::UsbController* hc : sim::controllers()) {
            const sim::Node* n = sim::node(hc->node);
            if (!n || n->removed || !n->present)
                continue;
            list.names.push_back(hc->interface_name());
            list.devices.push_back(hc->node);
        }
    }
    HDEVINFO set = sim::detail::new_device_info_set();
    lists()[reinterpret_cast<uintptr_t>(set)] = list;
    return set;
}

// Enumerating the interfaces of one device of the set (device given) is not modelled.
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                        const GUID* interface_class, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data) {
    if (enter("SetupDiEnumDeviceInterfaces",
              format("%s class=%s index=%u cbSize=%u", set_name(set).c_str(),
                     guid_text(interface_class).c_str(), index, data ? data->cbSize : 0))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    InterfaceList* list = list_of(set);
    if (!list)
        return FALSE;
    // An output structure whose size is not this build's is refused.
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (device || !interface_class) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!same_guid(*interface_class, list->interface_class) || index >= list->names.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = list->interface_class;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = static_cast<ULONG_PTR>(index) + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                             DWORD detail_size, PDWORD required_size,
                                             PSP_DEVINFO_DATA device) {
    if (enter("SetupDiGetDeviceInterfaceDetailA",
              format("%s detail=%s size=%u cbSize=%u", set_name(set).c_str(),
                     detail ? "given" : "none", detail_size, detail ? detail->cbSize : 0))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    InterfaceList* list = list_of(set);
    if (!list)
        return FALSE;
    // The interface must be one this set enumerated, named by a structure of this build's size.
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > list->names.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The detail's cbSize is the size of the structure's fixed part in this build (5 bytes on
    // 32-bit Windows, 8 on 64-bit), whatever the size of the buffer.
    if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!detail && detail_size != 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    size_t item = static_cast<size_t>(data->Reserved - 1);
    const std::string& name = list->names[item];
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                      name.size() + 1);
    if (required_size)
        *required_size = needed;
    if (device && device->cbSize == sizeof(SP_DEVINFO_DATA)) {
        std::memset(&device->ClassGuid, 0, sizeof device->ClassGuid);
        device->DevInst = list->devices[item];
        device->Reserved = 0;
    }
    if (detail_size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    char* path =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(path, name.c_str(), name.size() + 1);
    return TRUE;
}
