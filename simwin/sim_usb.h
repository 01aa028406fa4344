// The USB stack of the simulated machine: host controllers (named \\.\HCDn, or without such a name,
// and listed under their device interface), their root hubs and external hubs, and the devices
// on their ports. Building the stack also builds the matching
// nodes of the device tree, so the hub driver and the Configuration Manager tell one story
// unless a test makes them disagree.
//
//     auto& hc = sim::add_controller(0);
//     auto& root = hc.root_hub(2);
//     auto& hub = root.add_hub(1, 4);
//     hub.add_adapter(2);
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simwin/win32.h"

namespace sim {

constexpr WORD kUsbAdapterVendor = 0x0E1C;
constexpr WORD kUsbAdapterProduct = 0x0001;
constexpr WORD kUsbHubVendor = 0x05E3;
constexpr WORD kUsbHubProduct = 0x0608;
// The description of an adapter that Windows found no driver for: its node is never started.
extern const char* const kAdapterWithoutDriver; // "Quorvale"
// GUID_DEVINTERFACE_USB_HOST_CONTROLLER, {3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}: the interface
// that each host controller's driver registers.
extern const GUID kUsbHostControllerInterfaceGuid;
// Class keys as Windows forms them: the setup class GUID, a backslash and a four-digit number.
extern const char* const kUsbClassGuid; // "{36FC9E60-C465-11CF-8056-444553540000}"
extern const char* const kHidClassGuid; // "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"

// How the driver answers one string query (a driver key or a hub name). By default it answers
// with the model's own string through the two-call ActualLength protocol.
struct UsbStringQuery {
    std::optional<std::string> text;    // the string it reports instead of the model's own
    std::optional<std::u16string> wide; // the same as UTF-16, for characters outside Windows-1252
    bool fails = false;                 // every call of this query fails (ERROR_GEN_FAILURE)
    std::optional<DWORD> actual_length; // the ActualLength it reports instead of the true one
    bool unterminated = false;          // the string fills the reply to its end, with no NUL
    // The answer into a buffer too small for the string (the fixed part's answer) returns at
    // most this many bytes.
    std::optional<DWORD> fixed_answer_length;
};

struct UsbHub;
struct UsbController;

// A device on a hub port. A hub device carries the hub below it in `hub`.
struct UsbDevice {
    int port = 0;
    WORD vendor = 0;
    WORD product = 0;
    DWORD status = 1;     // ConnectionStatus while plugged: 1 DeviceConnected
    bool plugged = true;  // unplugged: the port reports no device and the nodes are phantoms
    DEVINST node = 0;     // the device's USB node; 0 when the test left it out of the tree
    DEVINST function = 0; // the adapter's HID node, a child of `node`
    UsbStringQuery
        driver_key; // IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME; default: the node's key
    UsbStringQuery hub_name; // IOCTL_USB_GET_NODE_CONNECTION_NAME; default: the hub's name
    std::unique_ptr<UsbHub> hub;
    UsbHub* parent = nullptr;

    bool is_hub() const {
        return hub != nullptr;
    }
    // The key that the hub driver reports today, or nothing when it has none to report.
    std::optional<std::string> reported_driver_key() const;
};

// One port of a hub.
struct UsbPort {
    bool connection_fails = false; // IOCTL_USB_GET_NODE_CONNECTION_INFORMATION fails here
    std::optional<DWORD> connection_info_length; // that control returns only this many bytes
    std::unique_ptr<UsbDevice> device;
};

struct UsbHub {
    std::string name; // the device name without \\.\ ("USB#ROOT_HUB#4&2F9B0B6E&0#{...}")
    DEVINST node = 0;
    bool opens = true;            // false: CreateFileA on its name fails (ERROR_ACCESS_DENIED)
    bool node_info_fails = false; // IOCTL_USB_GET_NODE_INFORMATION fails
    std::optional<DWORD> node_info_length; // that control returns only this many bytes
    std::vector<UsbPort> ports;            // ports[0] is port 1
    UsbController* controller = nullptr;
    UsbDevice* upstream = nullptr; // the device that this hub is; null for a root hub
    int serial = 0;                // makes the instance IDs of its devices unique

    int port_count() const {
        return static_cast<int>(ports.size());
    }
    UsbPort& port(int number);     // number from 1; throws when out of range
    UsbDevice& device(int number); // the device on that port; throws when none
    // Adds a device on a free port. with_node false leaves it out of the device tree; the hub
    // driver then still reports a driver key, one that no node carries.
    UsbDevice& add_device(int number, WORD vendor, WORD product, bool with_node = true);
    // The adapter (0E1C:0001), its USB node described "Quorvale" (no driver bound) with a
    // HID class driver key, and its HID node below. An adapter described otherwise has the
    // driver the description names, which started its node; one described "Quorvale" is not
    // started.
    UsbDevice& add_adapter(int number, bool with_node = true,
                           const std::string& description = kAdapterWithoutDriver);
    // An external hub with port_count ports on that port; returns the new hub.
    UsbHub& add_hub(int number, int port_count);
    // The device at that port leaves (its nodes and those below become phantoms) or comes back.
    void unplug(int number);
    void plug(int number);
    // Whether the hub answers: its controller opens and every device above it is plugged.
    bool reachable() const;
};

struct UsbController {
    int index = 0; // the machine's own number for it, which its instance IDs carry
    // The n of its device name \\.\HCDn (index unless set otherwise); none: the controller's
    // driver made no such name (two stacks competed for one number, or it makes none at all).
    // A name that two controllers claim opens the one added first.
    std::optional<int> hcd_number;
    DEVINST node = 0;
    bool opens = true; // false: CreateFileA fails (ERROR_ACCESS_DENIED), by any of its names
    UsbStringQuery driver_key;    // IOCTL_GET_HCD_DRIVERKEY_NAME; default: the node's key
    UsbStringQuery root_hub_name; // IOCTL_USB_GET_ROOT_HUB_NAME; default: the root hub's name
    std::unique_ptr<UsbHub> root;

    // Makes the root hub with port_count ports (0 to 255), the first child of the controller's
    // node; a second call returns the same hub.
    UsbHub& root_hub(int port_count);
    // The symbolic link name of its GUID_DEVINTERFACE_USB_HOST_CONTROLLER interface: "\\?\",
    // its instance ID with "#" for "\", "#" and the class GUID.
    std::string interface_name() const;
};

// Adds host controller `index` (0 to 63), named \\.\HCD<index>, with its node under the root of
// the device tree and a USB class driver key. Throws when it exists already.
UsbController& add_controller(int index);
UsbController* controller(int index); // by its index; null when absent
// Every controller, in the order they were added: the order in which the Setup API lists their
// interfaces.
std::vector<UsbController*> controllers();

} // namespace sim
