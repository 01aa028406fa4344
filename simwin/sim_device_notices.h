// Device-change notices of the simulated machine: WM_DEVICECHANGE as Windows sends it when a
// device node comes or goes (DBT_DEVNODES_CHANGED to every top-level window, arrival and removal
// of a device interface only to windows registered for its class), and the registrations made by
// RegisterDeviceNotificationA.
#pragma once

#include <functional>
#include <string>

#include "simwin/win32.h"

namespace sim {

// GUID_DEVINTERFACE_USB_DEVICE: the class of the interface that the USB hub driver registers for
// each device it finds on a port.
extern const GUID kUsbDeviceInterfaceGuid;

// A notice as a window received it: the event (DBT_DEVNODES_CHANGED, DBT_DEVICEARRIVAL,
// DBT_DEVICEREMOVECOMPLETE) and, for an interface event, the interface's symbolic link name.
struct DeviceNotice {
    HWND window = nullptr;
    WPARAM event = 0;
    std::string interface_name;
};
// The observer sees each notice as it is delivered, from now until the next reset.
void on_device_notice(std::function<void(const DeviceNotice&)> observer);

// The symbolic link name of the node's USB device interface
// ("\\?\USB#VID_0E1C&PID_0001#...#{a5dcbf10- 6530-11d2-901f-00c04fb951ed}"), or "" when the node is
// no USB device on a hub port: a node is one when its instance ID begins with "USB\" and it is
// neither a root hub ("USB\ROOT_HUB...") nor a function of a composite device ("&MI_" in its device
// ID).
std::string usb_device_interface_name(DEVINST node);
// Whether the window holds an open registration whose filter takes USB device interface events.
bool registered_for_usb_devices(HWND window);

} // namespace sim
