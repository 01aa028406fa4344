// The one header through which the program reaches Windows: the real SDK headers under
// MinGW-w64, the simulated Windows of simwin/ on the host. Also the program's own names for the
// USB hub driver's I/O controls, reply layouts and device interface class, so no USB SDK header
// is needed.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <dbt.h>
#else
#include "simwin/win32.h"
#endif

// Buffered-method controls of device type 0x22 (FILE_DEVICE_USB), any access.
enum : DWORD {
    kIoctlGetHcdDriverKeyName = 0x220424,
    kIoctlUsbGetRootHubName = 0x220408,     // asked of a host controller
    kIoctlUsbGetNodeInformation = 0x220408, // the same code, asked of a hub
    kIoctlUsbGetNodeConnectionInformation = 0x22040C,
    kIoctlUsbGetNodeConnectionName = 0x220414,
    kIoctlUsbGetNodeConnectionDriverKeyName = 0x220420,
};

// USB_HCD_DRIVERKEY_NAME and USB_ROOT_HUB_NAME: ActualLength, then the UTF-16 name.
enum : DWORD {
    kHcdNameFixedSize = 6,
    kHcdNameActualLengthOffset = 0,
    kHcdNameStringOffset = 4,
};

// USB_NODE_CONNECTION_NAME and USB_NODE_CONNECTION_DRIVERKEY_NAME: ConnectionIndex,
// ActualLength, then the UTF-16 name.
enum : DWORD {
    kConnectionNameFixedSize = 10,
    kConnectionNameIndexOffset = 0,
    kConnectionNameActualLengthOffset = 4,
    kConnectionNameStringOffset = 8,
};

// USB_NODE_INFORMATION: NodeType (4 bytes), then the hub descriptor, whose bNumberOfPorts is
// its third byte.
enum : DWORD {
    kNodeInformationSize = 76,
    kNodeInformationPortCountOffset = 6,
};

// USB_NODE_CONNECTION_INFORMATION, byte-packed.
enum : DWORD {
    kConnectionInformationSize = 147,
    kConnectionInformationIndexOffset = 0,
    kConnectionInformationVendorOffset = 12,
    kConnectionInformationProductOffset = 14,
    kConnectionInformationIsHubOffset = 24,
    kConnectionInformationStatusOffset = 31,
};

enum : DWORD { kNoDeviceConnected = 0 };

// GUID_DEVINTERFACE_USB_DEVICE, {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the device interface
// class that the USB hub driver registers for each device it finds on a port.
constexpr GUID kUsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// GUID_DEVINTERFACE_USB_HOST_CONTROLLER, {3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}: the device
// interface class that each USB host controller's driver registers, whatever HCD name it made.
constexpr GUID kUsbHostControllerInterfaceClass = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};
