// simwin and the program's own USB names against the SDK, proved by the compiler in each Windows
// build: every constant simwin/win32.h declares has the SDK's value (the list is read from
// win32.h when the build is configured), every structure simwin declares has the size and field
// offsets of tests/sdk/structure_layouts.h for this build's ABI, and the USB hub driver's control
// codes, reply layouts and interface classes that platform/platform.h names by hand are those of
// the SDK's usbioctl.h and usbiodef.h. Nothing here runs.
#include <cstddef>

#include "platform/platform.h"

// The interface classes as constants the compiler can compare: usbiodef.h declares them through
// DEFINE_GUID.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                               \
    constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#include <usbiodef.h>
#include <usbioctl.h>

namespace {

constexpr bool same_guid(const GUID& a, const GUID& b) {
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3;
}

constexpr size_t for_this_abi(size_t size32, size_t size64) {
    return sizeof(void*) == 4 ? size32 : size64;
}

} // namespace

// ---- the constants of simwin/win32.h ----------------------------------------------------------
#define QDI_SDK_CONSTANT(name, simwin_value)                                                       \
    static_assert(static_cast<long long>(name) == static_cast<long long> simwin_value,             \
                  #name " is not " #simwin_value " in the SDK");
#include "simwin_constants.inc"
#undef QDI_SDK_CONSTANT

// ---- the structures of simwin/win32.h ---------------------------------------------------------
#define QDI_STRUCTURE(type, size32, size64)                                                        \
    static_assert(sizeof(type) == for_this_abi(size32, size64), "the size of " #type);
#define QDI_FIELD(type, field, offset32, offset64)                                                 \
    static_assert(offsetof(type, field) == for_this_abi(offset32, offset64),                       \
                  "the offset of " #type "." #field);
#include "tests/sdk/structure_layouts.h"
#undef QDI_STRUCTURE
#undef QDI_FIELD

// ---- the USB hub driver's names in platform/platform.h ----------------------------------------
static_assert(kIoctlGetHcdDriverKeyName == IOCTL_GET_HCD_DRIVERKEY_NAME);
static_assert(kIoctlUsbGetRootHubName == IOCTL_USB_GET_ROOT_HUB_NAME);
static_assert(kIoctlUsbGetNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(kIoctlUsbGetNodeConnectionInformation == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION);
static_assert(kIoctlUsbGetNodeConnectionName == IOCTL_USB_GET_NODE_CONNECTION_NAME);
static_assert(kIoctlUsbGetNodeConnectionDriverKeyName ==
              IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);

// The fixed part of a name reply is the structure with its one-character name.
static_assert(kHcdNameFixedSize == sizeof(USB_HCD_DRIVERKEY_NAME));
static_assert(kHcdNameActualLengthOffset == offsetof(USB_HCD_DRIVERKEY_NAME, ActualLength));
static_assert(kHcdNameStringOffset == offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName));
static_assert(kHcdNameFixedSize == sizeof(USB_ROOT_HUB_NAME));
static_assert(kHcdNameActualLengthOffset == offsetof(USB_ROOT_HUB_NAME, ActualLength));
static_assert(kHcdNameStringOffset == offsetof(USB_ROOT_HUB_NAME, RootHubName));

static_assert(kConnectionNameFixedSize == sizeof(USB_NODE_CONNECTION_NAME));
static_assert(kConnectionNameIndexOffset == offsetof(USB_NODE_CONNECTION_NAME, ConnectionIndex));
static_assert(kConnectionNameActualLengthOffset ==
              offsetof(USB_NODE_CONNECTION_NAME, ActualLength));
static_assert(kConnectionNameStringOffset == offsetof(USB_NODE_CONNECTION_NAME, NodeName));
static_assert(kConnectionNameFixedSize == sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME));
static_assert(kConnectionNameIndexOffset ==
              offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, ConnectionIndex));
static_assert(kConnectionNameActualLengthOffset ==
              offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, ActualLength));
static_assert(kConnectionNameStringOffset ==
              offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName));

static_assert(kNodeInformationSize == sizeof(USB_NODE_INFORMATION));
static_assert(kNodeInformationPortCountOffset ==
              offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts));

// The program's connection buffer holds the whole fixed part, and more room for the pipe list.
static_assert(kConnectionInformationSize >= sizeof(USB_NODE_CONNECTION_INFORMATION));
static_assert(kConnectionInformationIndexOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionIndex));
static_assert(kConnectionInformationVendorOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceDescriptor.idVendor));
static_assert(kConnectionInformationProductOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceDescriptor.idProduct));
static_assert(kConnectionInformationIsHubOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceIsHub));
static_assert(kConnectionInformationStatusOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus));
static_assert(sizeof(USB_CONNECTION_STATUS) == 4, "the program reads ConnectionStatus as 32 bits");
static_assert(kNoDeviceConnected == static_cast<DWORD>(NoDeviceConnected));

static_assert(same_guid(kUsbDeviceInterfaceClass, GUID_DEVINTERFACE_USB_DEVICE));
static_assert(same_guid(kUsbHostControllerInterfaceClass, GUID_DEVINTERFACE_USB_HOST_CONTROLLER));
