// The simulated USB stack: host controllers, hubs and devices with their device-tree nodes, the
// CreateFileA hook for \\.\HCDn and hub names, and the six USB I/O controls answered byte for
// byte as the published reply structures lay them out.
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "simwin/internal.h"

namespace sim {

const char* const kUsbClassGuid = "{36FC9E60-C465-11CF-8056-444553540000}";
const char* const kHidClassGuid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
const char* const kAdapterWithoutDriver = "Quorvale";
const GUID kUsbHostControllerInterfaceGuid = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

namespace {

constexpr int kMaxControllers = 64;
constexpr int kMaxPorts = 255;
constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kInterfacePrefix = "\\\\?\\";
constexpr const char* kHubInterfaceGuid = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr const char* kHostControllerInterfaceGuid = "{3abf6f2d-71c4-462a-8a92-1e6861e6af27}";
constexpr DWORD kHubParentIdBase = 0x1F2E3D4C;
constexpr DWORD kFunctionParentIdBase = 0x2A3B4C5D;
constexpr DWORD kRootHubIdBase = 0x2F9B0B6E;

// The published USB I/O controls: CTL_CODE(FILE_DEVICE_USB, function, METHOD_BUFFERED,
// FILE_ANY_ACCESS). The simulation spells out its own copies of the codes and layouts, so a
// wrong constant on the program's side shows as a wrong answer.
constexpr DWORD usb_control(DWORD function) {
    return (0x22u << 16) | (function << 2);
}
constexpr DWORD kGetHcdDriverKeyName = usb_control(265);
constexpr DWORD kGetRootHubName = usb_control(258);
constexpr DWORD kGetNodeInformation = usb_control(258);
constexpr DWORD kGetNodeConnectionInformation = usb_control(259);
constexpr DWORD kGetNodeConnectionName = usb_control(261);
constexpr DWORD kGetNodeConnectionDriverKeyName = usb_control(264);
static_assert(kGetHcdDriverKeyName == 0x220424 && kGetNodeConnectionDriverKeyName == 0x220420);

#pragma pack(push, 1)
struct UsbDeviceDescriptor {
    BYTE bLength;
    BYTE bDescriptorType;
    WORD bcdUSB;
    BYTE bDeviceClass;
    BYTE bDeviceSubClass;
    BYTE bDeviceProtocol;
    BYTE bMaxPacketSize0;
    WORD idVendor;
    WORD idProduct;
    WORD bcdDevice;
    BYTE iManufacturer;
    BYTE iProduct;
    BYTE iSerialNumber;
    BYTE bNumConfigurations;
};
// USB_NODE_CONNECTION_INFORMATION up to its (here always empty) pipe list.
struct NodeConnectionInformation {
    ULONG ConnectionIndex;
    UsbDeviceDescriptor DeviceDescriptor;
    BYTE CurrentConfigurationValue;
    BYTE LowSpeed;
    BYTE DeviceIsHub;
    WORD DeviceAddress;
    ULONG NumberOfOpenPipes;
    DWORD ConnectionStatus;
};
struct UsbHubDescriptor {
    BYTE bDescriptorLength;
    BYTE bDescriptorType;
    BYTE bNumberOfPorts;
    WORD wHubCharacteristics;
    BYTE bPowerOnToPowerGood;
    BYTE bHubControlCurrent;
    BYTE bRemoveAndPowerMask[64];
};
// USB_NODE_INFORMATION of a hub node.
struct NodeInformation {
    DWORD NodeType; // UsbHub 0
    UsbHubDescriptor HubDescriptor;
    BYTE HubIsBusPowered;
};
#pragma pack(pop)
static_assert(sizeof(NodeConnectionInformation) == 35);
static_assert(offsetof(NodeConnectionInformation, ConnectionStatus) == 31);
static_assert(sizeof(NodeInformation) == 76);

constexpr DWORD kConnectionNameFixed = 10; // ConnectionIndex, ActualLength, one character
constexpr BYTE kHubDescriptorType = 0x29;
constexpr BYTE kHubDescriptorLength = 9;
constexpr BYTE kHubDeviceClass = 9;
constexpr BYTE kDeviceDescriptorType = 1;
constexpr WORD kUsb20 = 0x0200;

struct Stack {
    // The controllers in the order added.
    std::vector<std::unique_ptr<UsbController>> controllers;
    int usb_keys = 0; // next number under the USB class
    int hid_keys = 0; // next number under the HID class
    int hubs = 0;
    int functions = 0;
};

Stack& stack() {
    static Stack instance;
    return instance;
}

std::string class_key(const char* guid, int& counter) {
    return detail::format("%s\\%04d", guid, counter++);
}

// The name of a device interface of a device: the instance ID with '#' for each backslash, then
// the interface class.
std::string interface_name_for(const std::string& instance_id, const char* interface_class) {
    std::string name = instance_id;
    for (char& ch : name)
        if (ch == '\\')
            ch = '#';
    return name + "#" + interface_class;
}

// The device name under which a hub's instance ID is opened.
std::string hub_name_for(const std::string& instance_id) {
    return interface_name_for(instance_id, kHubInterfaceGuid);
}

std::unique_ptr<UsbHub> make_hub(UsbController* controller, UsbDevice* upstream, DEVINST node,
                                 int port_count) {
    if (port_count < 0 || port_count > kMaxPorts)
        throw std::invalid_argument("a hub has 0 to 255 ports");
    auto hub = std::make_unique<UsbHub>();
    hub->controller = controller;
    hub->upstream = upstream;
    hub->node = node;
    hub->serial = stack().hubs++;
    hub->ports.resize(static_cast<size_t>(port_count));
    if (Node* n = node ? sim::node(node) : nullptr)
        hub->name = hub_name_for(n->instance_id);
    return hub;
}

// A node that comes or goes is announced to the windows, as Windows announces it.
void set_present(DEVINST id, bool present) {
    Node* n = node(id);
    if (!n || n->present == present)
        return;
    n->present = present;
    if (!n->removed)
        detail::device_node_changed(id, present);
}

// The device's nodes, and those of every device below a hub, follow whether the device and
// everything above it are plugged.
void mark_present(UsbDevice& device, bool upstream_present) {
    bool present = upstream_present && device.plugged;
    set_present(device.node, present);
    set_present(device.function, present);
    if (device.hub)
        for (UsbPort& port : device.hub->ports)
            if (port.device)
                mark_present(*port.device, present);
}

bool hub_upstream_present(const UsbHub& hub) {
    return hub.upstream == nullptr || (hub.upstream->plugged && hub.upstream->parent &&
                                       hub_upstream_present(*hub.upstream->parent));
}

// ---- reply composition -------------------------------------------------------------------------

// Copies the reply into the caller's output buffer as the I/O manager does for a buffered
// control: only the bytes the driver returned reach the caller. At most `limit` bytes, when
// given, are returned.
BOOL deliver(const void* reply, DWORD size, void* out, DWORD* returned,
             const std::optional<DWORD>& limit = std::nullopt) {
    if (limit && *limit < size)
        size = *limit;
    if (size != 0)
        std::memcpy(out, reply, size);
    if (returned)
        *returned = size;
    return TRUE;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The two-call string reply: fixed part (the ConnectionIndex when the query names a port,
// ActualLength, first character), then the UTF-16 string. A buffer that holds only the fixed part
// gets ActualLength alone. model_text is the model's own string, or null when it has none.
BOOL string_reply(const UsbStringQuery& query, const std::string* model_text,
                  std::optional<DWORD> port, void* out, DWORD out_size, DWORD* returned) {
    const DWORD prefix = port ? sizeof(DWORD) : 0;
    const DWORD string_offset = prefix + sizeof(DWORD);
    const DWORD fixed = string_offset + sizeof(WCHAR);
    if (query.fails)
        return fail(ERROR_GEN_FAILURE);
    if (!out || out_size < fixed)
        return fail(ERROR_INVALID_PARAMETER);
    std::u16string wide;
    if (query.wide)
        wide = *query.wide;
    else if (query.text)
        wide = widen(*query.text);
    else if (model_text)
        wide = widen(*model_text);
    else
        return fail(ERROR_INVALID_PARAMETER);
    if (!query.unterminated)
        wide.push_back(u'\0');
    DWORD needed = string_offset + static_cast<DWORD>(wide.size() * sizeof(WCHAR));
    if (needed < fixed)
        needed = fixed;
    DWORD actual = query.actual_length.value_or(needed);
    // Composed in place: the bytes past those returned are not copied back to the caller.
    BYTE head[sizeof(DWORD) * 2 + sizeof(WCHAR)] = {};
    if (port)
        std::memcpy(head, &*port, sizeof(DWORD));
    std::memcpy(head + prefix, &actual, sizeof actual);
    if (out_size < needed)
        return deliver(head, fixed, out, returned, query.fixed_answer_length);
    std::memcpy(out, head, string_offset);
    if (!wide.empty())
        std::memcpy(static_cast<BYTE*>(out) + string_offset, wide.data(),
                    wide.size() * sizeof(WCHAR));
    else
        std::memset(static_cast<BYTE*>(out) + string_offset, 0, sizeof(WCHAR));
    if (returned)
        *returned = needed;
    return TRUE;
}

// ---- the controls ------------------------------------------------------------------------------

BOOL controller_ioctl(UsbController& hc, DWORD code, void* out, DWORD out_size, DWORD* returned) {
    switch (code) {
    case kGetHcdDriverKeyName: {
        Node* n = node(hc.node);
        const std::string* key = n && n->driver_key ? &*n->driver_key : nullptr;
        return string_reply(hc.driver_key, key, std::nullopt, out, out_size, returned);
    }
    case kGetRootHubName: {
        // A controller whose root hub is removed or stopped answers with success and an empty
        // name.
        static const std::string kNoName;
        const std::string* name = hc.root ? &hc.root->name : &kNoName;
        return string_reply(hc.root_hub_name, name, std::nullopt, out, out_size, returned);
    }
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

// The port that a control's input names by its leading ConnectionIndex (also put in *index), or
// null when the input is shorter than needed or names no port of hub.
UsbPort* requested_port(UsbHub& hub, const void* in, DWORD in_size, DWORD needed, DWORD* index) {
    *index = 0;
    if (!in || in_size < needed)
        return nullptr;
    std::memcpy(index, in, sizeof *index);
    if (*index < 1 || *index > static_cast<DWORD>(hub.port_count()))
        return nullptr;
    return &hub.port(static_cast<int>(*index));
}

BOOL node_information(UsbHub& hub, void* out, DWORD out_size, DWORD* returned) {
    if (hub.node_info_fails)
        return fail(ERROR_GEN_FAILURE);
    if (!out || out_size < sizeof(NodeInformation))
        return fail(ERROR_INVALID_PARAMETER);
    NodeInformation info = {};
    info.HubDescriptor.bDescriptorLength = kHubDescriptorLength;
    info.HubDescriptor.bDescriptorType = kHubDescriptorType;
    info.HubDescriptor.bNumberOfPorts = static_cast<BYTE>(hub.port_count());
    return deliver(&info, sizeof info, out, returned, hub.node_info_length);
}

BOOL connection_information(UsbHub& hub, const void* in, DWORD in_size, void* out, DWORD out_size,
                            DWORD* returned) {
    DWORD index = 0;
    UsbPort* port = requested_port(hub, in, in_size, sizeof(NodeConnectionInformation), &index);
    if (!port || !out || out_size < sizeof(NodeConnectionInformation))
        return fail(ERROR_INVALID_PARAMETER);
    if (port->connection_fails)
        return fail(ERROR_GEN_FAILURE);
    NodeConnectionInformation info = {};
    info.ConnectionIndex = index;
    UsbDevice* device = port->device.get();
    if (device && device->plugged) {
        UsbDeviceDescriptor& d = info.DeviceDescriptor;
        d.bLength = sizeof d;
        d.bDescriptorType = kDeviceDescriptorType;
        d.bcdUSB = kUsb20;
        d.bDeviceClass = device->is_hub() ? kHubDeviceClass : 0;
        d.idVendor = device->vendor;
        d.idProduct = device->product;
        d.bNumConfigurations = 1;
        info.CurrentConfigurationValue = 1;
        info.DeviceIsHub = device->is_hub() ? 1 : 0;
        info.DeviceAddress = static_cast<WORD>(index + 1);
        info.ConnectionStatus = device->status;
    }
    return deliver(&info, sizeof info, out, returned, port->connection_info_length);
}

BOOL hub_ioctl(UsbHub& hub, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
               DWORD* returned) {
    if (!hub.reachable())
        return fail(ERROR_DEVICE_NOT_CONNECTED);
    switch (code) {
    case kGetNodeInformation:
        return node_information(hub, out, out_size, returned);
    case kGetNodeConnectionInformation:
        return connection_information(hub, in, in_size, out, out_size, returned);
    case kGetNodeConnectionName:
    case kGetNodeConnectionDriverKeyName: {
        DWORD index = 0;
        UsbPort* port = requested_port(hub, in, in_size, kConnectionNameFixed, &index);
        if (!port)
            return fail(ERROR_INVALID_PARAMETER);
        UsbDevice* device = port->device.get();
        if (device && !device->plugged)
            device = nullptr;
        if (code == kGetNodeConnectionDriverKeyName) {
            if (!device)
                return fail(ERROR_INVALID_PARAMETER);
            Node* n = device->node ? node(device->node) : nullptr;
            const std::string* key = n && n->driver_key ? &*n->driver_key : nullptr;
            return string_reply(device->driver_key, key, index, out, out_size, returned);
        }
        // A port without a hub answers with an empty name: ActualLength is the fixed part.
        static const UsbStringQuery kNone;
        static const std::string kNoName;
        const UsbStringQuery& query = device ? device->hub_name : kNone;
        const std::string* name = device && device->hub ? &device->hub->name : &kNoName;
        return string_reply(query, name, index, out, out_size, returned);
    }
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

UsbHub* find_hub(UsbHub& hub, const std::string& name) {
    if (equal_nocase(hub.name, name))
        return &hub;
    for (UsbPort& port : hub.ports)
        if (port.device && port.device->hub)
            if (UsbHub* found = find_hub(*port.device->hub, name))
                return found;
    return nullptr;
}

} // namespace

// ---- the model ---------------------------------------------------------------------------------

std::optional<std::string> UsbDevice::reported_driver_key() const {
    if (Node* n = node ? sim::node(node) : nullptr)
        return n->driver_key;
    return std::nullopt;
}

UsbPort& UsbHub::port(int number) {
    if (number < 1 || number > port_count())
        throw std::out_of_range("no such hub port");
    return ports[static_cast<size_t>(number - 1)];
}

UsbDevice& UsbHub::device(int number) {
    UsbPort& p = port(number);
    if (!p.device)
        throw std::out_of_range("no device on that port");
    return *p.device;
}

namespace {

// Puts a device on a free port of hub; with a node, that node hangs below the hub's node and
// carries a fresh key of the given class. Without one, the hub driver still reports a key that
// no node carries.
UsbDevice& attach(UsbHub& hub, int number, WORD vendor, WORD product, bool with_node,
                  const char* key_class, const std::string& description, bool started = true) {
    UsbPort& p = hub.port(number);
    if (p.device)
        throw std::logic_error("that port carries a device already");
    int& counter = key_class == kUsbClassGuid ? stack().usb_keys : stack().hid_keys;
    auto device = std::make_unique<UsbDevice>();
    device->port = number;
    device->vendor = vendor;
    device->product = product;
    device->parent = &hub;
    if (with_node && hub.node) {
        std::string id = detail::format("USB\\VID_%04X&PID_%04X\\5&%08X&0&%d", vendor, product,
                                        kHubParentIdBase + static_cast<DWORD>(hub.serial), number);
        device->node = add_node(hub.node, id, class_key(key_class, counter), description,
                                hub.reachable(), started);
    } else {
        device->driver_key.text = class_key(key_class, counter);
    }
    p.device = std::move(device);
    return *p.device;
}

} // namespace

UsbDevice& UsbHub::add_device(int number, WORD vendor, WORD product, bool with_node) {
    return attach(*this, number, vendor, product, with_node, kUsbClassGuid, "USB Composite Device");
}

UsbDevice& UsbHub::add_adapter(int number, bool with_node, const std::string& description) {
    UsbDevice& adapter = attach(*this, number, kUsbAdapterVendor, kUsbAdapterProduct, with_node,
                                kHidClassGuid, description, description != kAdapterWithoutDriver);
    if (adapter.node) {
        std::string function_id = detail::format(
            "HID\\VID_%04X&PID_%04X\\6&%08X&0&0000", kUsbAdapterVendor, kUsbAdapterProduct,
            kFunctionParentIdBase + static_cast<DWORD>(stack().functions++));
        adapter.function =
            add_node(adapter.node, function_id, class_key(kHidClassGuid, stack().hid_keys),
                     std::string("HID-compliant game controller"), reachable());
    }
    return adapter;
}

UsbHub& UsbHub::add_hub(int number, int port_count) {
    UsbDevice& device = attach(*this, number, kUsbHubVendor, kUsbHubProduct, true, kUsbClassGuid,
                               "Generic USB Hub");
    device.hub = make_hub(controller, &device, device.node, port_count);
    if (!device.node) // a hub left out of the tree still has a name to open
        device.hub->name = detail::format("USB#VID_%04X&PID_%04X#SIM%d#%s", kUsbHubVendor,
                                          kUsbHubProduct, device.hub->serial, kHubInterfaceGuid);
    return *device.hub;
}

void UsbHub::unplug(int number) {
    UsbDevice& d = device(number);
    d.plugged = false;
    mark_present(d, reachable());
}

void UsbHub::plug(int number) {
    UsbDevice& d = device(number);
    d.plugged = true;
    mark_present(d, reachable());
}

bool UsbHub::reachable() const {
    return hub_upstream_present(*this);
}

UsbHub& UsbController::root_hub(int port_count) {
    if (root)
        return *root;
    std::string id =
        detail::format("USB\\ROOT_HUB\\4&%08X&0", kRootHubIdBase + static_cast<DWORD>(index));
    DEVINST hub_node =
        add_node(node, id, class_key(kUsbClassGuid, stack().usb_keys), std::string("USB Root Hub"));
    root = make_hub(this, nullptr, hub_node, port_count);
    return *root;
}

std::string UsbController::interface_name() const {
    const Node* n = sim::node(node);
    return n ? kInterfacePrefix + interface_name_for(n->instance_id, kHostControllerInterfaceGuid)
             : std::string();
}

UsbController& add_controller(int index) {
    if (index < 0 || index >= kMaxControllers)
        throw std::out_of_range("host controllers are numbered 0 to 63");
    if (controller(index))
        throw std::logic_error("that host controller exists already");
    auto added = std::make_unique<UsbController>();
    added->index = index;
    added->hcd_number = index;
    std::string id = detail::format(
        "PCI\\VEN_8086&DEV_2934&SUBSYS_00000000&REV_03\\3&21436425&0&%02X", 0xE8 + index);
    added->node = add_node(root_node(), id, class_key(kUsbClassGuid, stack().usb_keys),
                           std::string("Standard Universal PCI to USB Host Controller"));
    stack().controllers.push_back(std::move(added));
    return *stack().controllers.back();
}

UsbController* controller(int index) {
    for (auto& hc : stack().controllers)
        if (hc->index == index)
            return hc.get();
    return nullptr;
}

std::vector<UsbController*> controllers() {
    std::vector<UsbController*> result;
    for (auto& hc : stack().controllers)
        result.push_back(hc.get());
    return result;
}

// ---- the hooks ---------------------------------------------------------------------------------

namespace detail {

namespace {

// Whether device (a name without its prefix) ends in the host controllers' interface class, as
// only a controller's interface path does: the other names (hubs' paths, HCDn) need no
// controller's path built, which the scan's many opens would otherwise pay for.
bool ends_in_controller_interface_class(const std::string& device) {
    const std::string suffix = std::string("#") + kHostControllerInterfaceGuid;
    return device.size() > suffix.size() &&
           equal_nocase(device.substr(device.size() - suffix.size()), suffix);
}

} // namespace

// A device name opens after either prefix of the Win32 device namespace, "\\.\" or "\\?\"
// (the form in which the Setup API gives interface paths).
bool usb_open(const std::string& name, DWORD access, DWORD share, HANDLE* handle) {
    const std::string prefix = kDevicePrefix;
    const std::string interface_prefix = kInterfacePrefix;
    if (name.size() <= prefix.size() || (name.compare(0, prefix.size(), prefix) != 0 &&
                                         name.compare(0, prefix.size(), interface_prefix) != 0))
        return false;
    std::string device = name.substr(prefix.size());
    HandleObject object;
    object.name = name;
    object.access = access;
    object.share = share;
    bool opens = false;
    // A controller by its name HCDn (the first controller added that carries it) or by its
    // interface path.
    bool hcd_name = device.size() > 3 && equal_nocase(device.substr(0, 3), "HCD");
    bool interface_path = ends_in_controller_interface_class(device);
    for (auto& hc : stack().controllers) {
        if ((hcd_name && hc->hcd_number &&
             equal_nocase(device, format("HCD%d", *hc->hcd_number))) ||
            (interface_path && equal_nocase(interface_prefix + device, hc->interface_name()))) {
            object.kind = HandleKind::Controller;
            object.index = hc->index;
            object.target = hc.get();
            opens = hc->opens;
            break;
        }
    }
    for (auto& hc : stack().controllers) {
        if (object.target)
            break;
        if (!hc->root)
            continue;
        if (UsbHub* hub = find_hub(*hc->root, device)) {
            if (!hub->reachable())
                return false; // a hub that left is no longer a device name
            object.kind = HandleKind::Hub;
            object.index = hc->index;
            object.target = hub;
            opens = hub->opens && hc->opens;
            break;
        }
    }
    if (!object.target)
        return false;
    if (!opens) {
        SetLastError(ERROR_ACCESS_DENIED);
        *handle = INVALID_HANDLE_VALUE;
        return true;
    }
    if (!sharing_allows(object.target, access, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        *handle = INVALID_HANDLE_VALUE;
        return true;
    }
    *handle = open_handle(object);
    return true;
}

BOOL usb_ioctl(HandleObject& object, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
               DWORD* returned) {
    if (returned)
        *returned = 0;
    if (object.kind == HandleKind::Controller)
        return controller_ioctl(*static_cast<UsbController*>(object.target), code, out, out_size,
                                returned);
    return hub_ioctl(*static_cast<UsbHub*>(object.target), code, in, in_size, out, out_size,
                     returned);
}

void reset_usb() {
    stack() = Stack();
}

} // namespace detail
} // namespace sim
