// The simulated device-change notices, where the program relies on them behaving as Windows does:
// which windows hear of a device that comes or goes, with what, when, and the registrations.
#include <cstring>
#include <string>
#include <vector>

#include "tests/sim_test.h"

namespace {

struct Heard {
    HWND window;
    WPARAM event;
    std::string name; // the interface's name; "-" for lParam 0
    DWORD size;       // dbcc_size
};
std::vector<Heard> heard;

LRESULT CALLBACK listening_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DEVICECHANGE) {
        const auto* block = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lparam);
        if (!block) {
            heard.push_back(Heard{window, wparam, "-", 0});
        } else {
            EXPECT_EQ(block->dbcc_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
            EXPECT_EQ(
                std::memcmp(&block->dbcc_classguid, &sim::kUsbDeviceInterfaceGuid, sizeof(GUID)),
                0);
            heard.push_back(Heard{window, wparam, block->dbcc_name, block->dbcc_size});
        }
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// A USB device interface filter of the structure's size for that class.
DEV_BROADCAST_DEVICEINTERFACE_A filter_for(const GUID& interface_class) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interface_class;
    return filter;
}

const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const char kAdapterInterface[] =
    "\\\\?\\USB#VID_0E1C&PID_0001#5&1F2E3D4C&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
// An adapter whose driver started it: only such a device has its USB device interface enabled.
const char kWithDriver[] = "Quorvale (rumble driver)";

class DeviceNoticesSimTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        heard.clear();
        WNDCLASSEXA window_class = {};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = listening_proc;
        window_class.hInstance = sim::program_instance();
        window_class.lpszClassName = "Listener";
        RegisterClassExA(&window_class);
    }
    void TearDown() override {
        for (HDEVNOTIFY registration : registrations)
            UnregisterDeviceNotification(registration);
        SimTest::TearDown();
    }

    static HWND make_window(HWND parent = nullptr) {
        return CreateWindowExA(0, "Listener", "L", parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0,
                               100, 100, parent, nullptr, sim::program_instance(), nullptr);
    }
    HDEVNOTIFY register_for(HWND window, const GUID& interface_class, DWORD flags = 0) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter = filter_for(interface_class);
        HDEVNOTIFY registration = RegisterDeviceNotificationA(window, &filter, flags);
        if (registration)
            registrations.push_back(registration);
        return registration;
    }
    // Runs the message loop until nothing is left to do.
    static void run_loop() {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
    }
    static std::vector<Heard> heard_by(HWND window) {
        std::vector<Heard> result;
        for (const Heard& h : heard)
            if (h.window == window)
                result.push_back(h);
        return result;
    }
    static std::vector<WPARAM> events_of(HWND window) {
        std::vector<WPARAM> events;
        for (const Heard& h : heard)
            if (h.window == window)
                events.push_back(h.event);
        return events;
    }

    std::vector<HDEVNOTIFY> registrations;
};

TEST_F(DeviceNoticesSimTest, APlugTellsEveryTopLevelWindowAndTheRegisteredOnesOfTheInterface) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(4);
    HWND registered = make_window();
    HWND other_class = make_window();
    HWND unregistered = make_window();
    HWND child = make_window(registered);
    ASSERT_NE(register_for(registered, sim::kUsbDeviceInterfaceGuid), nullptr);
    ASSERT_NE(register_for(other_class, kHidInterfaceClass), nullptr);

    // The adapter's USB node and its HID function arrive together; it leaves again later.
    root.add_adapter(2, true, kWithDriver);
    EXPECT_TRUE(heard.empty()) << "notices wait for the message loop";
    sim::at(10, [&] {
        using Events = std::vector<WPARAM>;
        EXPECT_EQ(events_of(registered), (Events{DBT_DEVNODES_CHANGED, DBT_DEVICEARRIVAL}));
        EXPECT_EQ(events_of(other_class), Events{DBT_DEVNODES_CHANGED});
        EXPECT_EQ(events_of(unregistered), Events{DBT_DEVNODES_CHANGED});
        EXPECT_EQ(events_of(child), Events{});
        std::vector<Heard> to_registered = heard_by(registered);
        ASSERT_EQ(to_registered.size(), 2u);
        EXPECT_EQ(to_registered[0].name, "-");
        EXPECT_EQ(to_registered[1].name, kAdapterInterface);
        EXPECT_EQ(to_registered[1].size,
                  offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + sizeof kAdapterInterface);
        heard.clear();
        root.unplug(2);
    });
    run_loop();
    EXPECT_EQ(events_of(registered),
              (std::vector<WPARAM>{DBT_DEVNODES_CHANGED, DBT_DEVICEREMOVECOMPLETE}));
    EXPECT_EQ(events_of(unregistered), std::vector<WPARAM>{DBT_DEVNODES_CHANGED});
}

TEST_F(DeviceNoticesSimTest, OnlyDevicesOnHubPortsHaveTheUsbDeviceInterface) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(4);
    sim::UsbHub& hub = root.add_hub(1, 4);
    sim::UsbDevice& adapter = hub.add_adapter(3);
    DEVINST composite_function =
        sim::add_node(adapter.node, "USB\\VID_0E1C&PID_0001&MI_00\\7&1&0&0000");

    EXPECT_EQ(sim::usb_device_interface_name(root.device(1).node),
              "\\\\?\\USB#VID_05E3&PID_0608#5&1F2E3D4C&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_NE(sim::usb_device_interface_name(adapter.node), "");
    EXPECT_EQ(sim::usb_device_interface_name(adapter.function), "");
    EXPECT_EQ(sim::usb_device_interface_name(root.node), "");
    EXPECT_EQ(sim::usb_device_interface_name(composite_function), "");
    EXPECT_EQ(sim::usb_device_interface_name(sim::controller(0)->node), "");
}

TEST_F(DeviceNoticesSimTest, RemovingAPresentDeviceAnnouncesItsRemoval) {
    sim::UsbDevice& adapter = sim::add_controller(0).root_hub(4).add_adapter(2, true, kWithDriver);
    HWND window = make_window();
    register_for(window, sim::kUsbDeviceInterfaceGuid);

    sim::remove_node(adapter.node);
    run_loop();

    EXPECT_EQ(events_of(window),
              (std::vector<WPARAM>{DBT_DEVNODES_CHANGED, DBT_DEVICEREMOVECOMPLETE}));
}

TEST_F(DeviceNoticesSimTest, AllInterfaceClassesTakeTheUsbDeviceInterfaceToo) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(4);
    HWND window = make_window();
    ASSERT_NE(register_for(window, kHidInterfaceClass, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES),
              nullptr);
    root.add_adapter(2, true, kWithDriver);
    run_loop();
    EXPECT_EQ(events_of(window), (std::vector<WPARAM>{DBT_DEVNODES_CHANGED, DBT_DEVICEARRIVAL}));
}

// Windows enables a device's interface only once a driver has started the device: an adapter
// without a driver comes, goes and is removed with no interface event at all.
TEST_F(DeviceNoticesSimTest, ADeviceThatNoDriverStartedBringsOnlyTheNodesChangedNotice) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(4);
    HWND window = make_window();
    register_for(window, sim::kUsbDeviceInterfaceGuid);
    sim::UsbDevice& adapter = root.add_adapter(2);
    EXPECT_FALSE(sim::node(adapter.node)->started);
    sim::at(10, [&root] { root.unplug(2); });
    sim::at(20, [&root] { root.plug(2); });
    sim::at(30, [&adapter] { sim::remove_node(adapter.node); });
    run_loop();
    EXPECT_EQ(events_of(window), std::vector<WPARAM>(4, DBT_DEVNODES_CHANGED));
}

TEST_F(DeviceNoticesSimTest, NoticesForAWindowDestroyedOrUnregisteredBeforeTheyComeAreDropped) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(4);
    HWND gone = make_window();
    HWND unregistered_late = make_window();
    register_for(gone, sim::kUsbDeviceInterfaceGuid);
    HDEVNOTIFY late = register_for(unregistered_late, sim::kUsbDeviceInterfaceGuid);
    ASSERT_TRUE(UnregisterDeviceNotification(late));
    registrations.pop_back();

    root.add_adapter(2);
    DestroyWindow(gone);
    run_loop();

    EXPECT_EQ(events_of(gone), std::vector<WPARAM>{});
    EXPECT_EQ(events_of(unregistered_late), std::vector<WPARAM>{DBT_DEVNODES_CHANGED});
}

TEST_F(DeviceNoticesSimTest, RegistrationRefusesWhatWindowsRefusesAndCountsWhatItGives) {
    HWND window = make_window();
    DEV_BROADCAST_DEVICEINTERFACE_A filter = filter_for(sim::kUsbDeviceInterfaceGuid);

    DEV_BROADCAST_DEVICEINTERFACE_A short_filter = filter;
    short_filter.dbcc_size = sizeof filter - 4;
    DEV_BROADCAST_DEVICEINTERFACE_A handle_filter = filter;
    handle_filter.dbcc_devicetype = DBT_DEVTYP_HANDLE;
    struct Refused {
        HANDLE recipient;
        void* filter;
        DWORD flags;
        DWORD error;
    } const refused[] = {
        {window, &short_filter, 0, ERROR_INVALID_DATA},
        {window, &handle_filter, 0, ERROR_INVALID_DATA},
        {window, nullptr, 0, ERROR_INVALID_DATA},
        {window, &filter, DEVICE_NOTIFY_SERVICE_HANDLE, ERROR_INVALID_PARAMETER},
        {reinterpret_cast<HANDLE>(0x1234), &filter, 0, ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const Refused& r : refused) {
        SetLastError(0);
        EXPECT_EQ(RegisterDeviceNotificationA(r.recipient, r.filter, r.flags), nullptr);
        EXPECT_EQ(GetLastError(), r.error);
    }
    sim::fail_call("RegisterDeviceNotificationA", 1);
    EXPECT_EQ(RegisterDeviceNotificationA(window, &filter, 0), nullptr);
    EXPECT_EQ(sim::open_count(sim::Resource::DeviceNotification), 0);

    HDEVNOTIFY registration = RegisterDeviceNotificationA(window, &filter, 0);
    ASSERT_NE(registration, nullptr);
    EXPECT_EQ(sim::open_summary(), "1 device notification registrations");
    // The registration outlives its window until it is released.
    DestroyWindow(window);
    EXPECT_EQ(sim::open_count(sim::Resource::DeviceNotification), 1);
    EXPECT_TRUE(UnregisterDeviceNotification(registration));
    EXPECT_FALSE(UnregisterDeviceNotification(registration));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
