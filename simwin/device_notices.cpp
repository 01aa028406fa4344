// Simulated device-change notices: what Windows sends to windows when a device node comes or
// goes, RegisterDeviceNotificationA and UnregisterDeviceNotification with their counted handles,
// and the delivery of waiting notices from inside the message loop, as GetMessageA delivers
// messages that another thread sent.
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>

#include "simwin/windows_model.h"

namespace sim {

const GUID kUsbDeviceInterfaceGuid = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace detail {
namespace {

constexpr uintptr_t kFirstNotificationHandle = 0x50000;
// With DEVICE_NOTIFY_WINDOW_HANDLE (0): the only flag a window's registration may add.
constexpr DWORD kWindowRegistrationFlags = DEVICE_NOTIFY_ALL_INTERFACE_CLASSES;
const char kInterfaceNamePrefix[] = "\\\\?\\";
const char kUsbDeviceInterfaceSuffix[] = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const char kUsbEnumerator[] = "USB\\";
const char kRootHubPrefix[] = "USB\\ROOT_HUB";
const char kCompositeFunctionMark[] = "&MI_";

struct Registration {
    HWND window = nullptr;
    GUID interface_class{};
    bool all_classes = false;
};

// A notice that waits until its window's thread asks for messages, with the block that its
// lParam points to (empty: lParam 0).
struct PendingNotice {
    HWND window = nullptr;
    WPARAM event = 0;
    std::string interface_name;
    std::vector<unsigned char> block;
};

struct NoticesState {
    std::map<uintptr_t, Registration> registrations;
    uintptr_t next_handle = kFirstNotificationHandle;
    std::deque<PendingNotice> pending;
    std::function<void(const DeviceNotice&)> observer;
};

NoticesState& state() {
    static NoticesState instance;
    return instance;
}

bool same_guid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool live_window(HWND window) {
    Window* object = window_object(window);
    return object && !object->destroying;
}

std::vector<HWND> top_level_windows() {
    std::vector<HWND> result;
    for (HWND window : all_windows())
        if (live_window(window) && (window_object(window)->style & WS_CHILD) == 0)
            result.push_back(window);
    return result;
}

// Windows sends DBT_DEVNODES_CHANGED once for changes that come together: one waits per window.
bool nodes_changed_waits(HWND window) {
    for (const PendingNotice& notice : state().pending)
        if (notice.window == window && notice.event == DBT_DEVNODES_CHANGED)
            return true;
    return false;
}

// The DEV_BROADCAST_DEVICEINTERFACE_A that an interface event points to, its name included.
std::vector<unsigned char> interface_block(const std::string& name) {
    size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + name.size() + 1;
    std::vector<unsigned char> block(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)), 0);
    DEV_BROADCAST_DEVICEINTERFACE_A header{};
    header.dbcc_size = static_cast<DWORD>(size);
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = kUsbDeviceInterfaceGuid;
    std::memcpy(block.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
    std::memcpy(block.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name), name.c_str(),
                name.size() + 1);
    return block;
}

} // namespace

void device_node_changed(DEVINST node, bool arrived) {
    for (HWND window : top_level_windows())
        if (!nodes_changed_waits(window))
            state().pending.push_back(PendingNotice{window, DBT_DEVNODES_CHANGED, "", {}});
    if (state().registrations.empty())
        return;
    // The interface is enabled only while a driver has the device started: a device without a
    // driver brings no interface event, in either direction.
    const Node* changed = sim::node(node);
    std::string name = usb_device_interface_name(node);
    if (name.empty() || !changed || !changed->started)
        return;
    WPARAM event = arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    for (auto& entry : state().registrations) {
        const Registration& registration = entry.second;
        if (live_window(registration.window) &&
            (registration.all_classes ||
             same_guid(registration.interface_class, kUsbDeviceInterfaceGuid)))
            state().pending.push_back(
                PendingNotice{registration.window, event, name, interface_block(name)});
    }
}

void deliver_device_notices() {
    auto& pending = state().pending;
    while (!pending.empty()) {
        // Taken from the queue first: the window's answer may change the machine again.
        PendingNotice notice = std::move(pending.front());
        pending.pop_front();
        if (!live_window(notice.window))
            continue;
        if (state().observer)
            state().observer(DeviceNotice{notice.window, notice.event, notice.interface_name});
        LPARAM lparam = notice.block.empty() ? 0 : reinterpret_cast<LPARAM>(notice.block.data());
        send_message(notice.window, WM_DEVICECHANGE, notice.event, lparam);
    }
}

void reset_device_notices() {
    state() = NoticesState();
}

} // namespace detail

void on_device_notice(std::function<void(const DeviceNotice&)> observer) {
    detail::state().observer = std::move(observer);
}

std::string usb_device_interface_name(DEVINST id) {
    const Node* n = node(id);
    if (!n)
        return "";
    std::string upper = upper_case(n->instance_id);
    size_t device_id_end = upper.find('\\', sizeof detail::kUsbEnumerator - 1);
    if (upper.rfind(detail::kUsbEnumerator, 0) != 0 ||
        upper.rfind(detail::kRootHubPrefix, 0) == 0 ||
        upper.substr(0, device_id_end).find(detail::kCompositeFunctionMark) != std::string::npos)
        return "";
    std::string name = n->instance_id;
    for (char& ch : name)
        if (ch == '\\')
            ch = '#';
    return detail::kInterfaceNamePrefix + name + detail::kUsbDeviceInterfaceSuffix;
}

bool registered_for_usb_devices(HWND window) {
    for (auto& entry : detail::state().registrations)
        if (entry.second.window == window &&
            (entry.second.all_classes ||
             detail::same_guid(entry.second.interface_class, kUsbDeviceInterfaceGuid)))
            return true;
    return false;
}

} // namespace sim

using sim::detail::enter;
using sim::detail::format;

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    const DEV_BROADCAST_HDR* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    if (enter("RegisterDeviceNotificationA", format("%p type=%u size=%u flags=%#x", recipient,
                                                    header ? header->dbch_devicetype : 0,
                                                    header ? header->dbch_size : 0, flags))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A service status handle (DEVICE_NOTIFY_SERVICE_HANDLE) is not modelled.
    if ((flags & ~sim::detail::kWindowRegistrationFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HWND window = static_cast<HWND>(recipient);
    if (!sim::detail::live_window(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    // Windows checks the filter's size against the structure its type names; handle filters
    // (DBT_DEVTYP_HANDLE) are not modelled.
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    const auto* interface_filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
    sim::detail::Registration registration;
    registration.window = window;
    registration.interface_class = interface_filter->dbcc_classguid;
    registration.all_classes = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    uintptr_t handle = sim::detail::state().next_handle;
    sim::detail::state().next_handle += 4;
    sim::detail::state().registrations[handle] = registration;
    sim::detail::count_open(sim::Resource::DeviceNotification, 1);
    return reinterpret_cast<HDEVNOTIFY>(handle);
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY notification) {
    // A release: logged, but it never fails on demand, since that would only make the counters lie.
    enter("UnregisterDeviceNotification", format("%p", notification));
    auto& registrations = sim::detail::state().registrations;
    auto found = registrations.find(reinterpret_cast<uintptr_t>(notification));
    if (found == registrations.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    registrations.erase(found);
    sim::detail::count_open(sim::Resource::DeviceNotification, -1);
    return TRUE;
}
