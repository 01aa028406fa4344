// The main window's registration for USB device notices: when it is made and released, and how
// soon a plug reaches the report with it and without it.
#include "tests/app_harness.h"

namespace {

using DeviceNoticesTest = AppTest;

// The machine: an empty four-port root hub on the first controller.
sim::UsbHub& empty_root_hub() {
    return sim::add_controller(0).root_hub(4);
}

bool reports_port_a2() {
    return sim::window_text(app.report_edit).find("Port A2: no driver\r\n") != std::string::npos;
}

TEST_F(DeviceNoticesTest, RegistersAfterTheChildrenBeforeTheFirstReportAndReleasesOnDestroy) {
    sim::at(0, [] {
        EXPECT_TRUE(sim::registered_for_usb_devices(main_window()));
        EXPECT_EQ(sim::open_count(sim::Resource::DeviceNotification), 1);
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);

    std::vector<std::string> order;
    for (const sim::Call& call : sim::calls()) {
        if (call.function == "CreateWindowExA")
            order.push_back(call.args.substr(0, call.args.find(' ')));
        if (call.function == "RegisterDeviceNotificationA" ||
            call.function == "UnregisterDeviceNotification" || call.function == "PostQuitMessage")
            order.push_back(call.function);
        if (call.function == "SendMessageA" && call.args.find("msg=0xc ") != std::string::npos)
            order.push_back("report");
        if (call.function == "ShowWindow" && call.args.find("show=10") != std::string::npos)
            order.push_back("shown");
    }
    std::vector<std::string> expected = {"QDIMainWindow",  "Button", "Button",
                                         "Button",         "Edit",   "RegisterDeviceNotificationA",
                                         "report",         "shown",  "UnregisterDeviceNotification",
                                         "PostQuitMessage"};
    EXPECT_EQ(order, expected);
    // A window's filter: a device interface of the USB device class, of the structure's size.
    EXPECT_NE(sim::calls_of("RegisterDeviceNotificationA")[0].args.find(" type=5 size=32 flags=0"),
              std::string::npos);
}

TEST_F(DeviceNoticesTest, WithTheRegistrationAPlugIsReportedAtOnce) {
    sim::UsbHub& root = empty_root_hub();
    sim::at(1000, [&root] { root.add_adapter(2); });
    sim::at(1001, [] {
        EXPECT_TRUE(reports_port_a2());
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
}

TEST_F(DeviceNoticesTest, WithTheRegistrationFailedAPlugIsReportedAtTheNextTick) {
    sim::fail_every_call("RegisterDeviceNotificationA");
    sim::UsbHub& root = empty_root_hub();
    sim::at(1000, [&root] { root.add_adapter(2); });
    sim::at(1001, [] {
        // The window heard only that device nodes changed, which refreshes nothing.
        EXPECT_EQ(refresh_count(), 1);
        EXPECT_FALSE(reports_port_a2());
    });
    sim::at(3001, [] {
        EXPECT_EQ(refresh_count(), 2);
        EXPECT_TRUE(reports_port_a2());
        press_exit();
    });
    EXPECT_EQ(installer_main(), 0);
    // Nothing was registered, so nothing is released.
    EXPECT_EQ(sim::count_calls("UnregisterDeviceNotification"), 0);
}

TEST_F(DeviceNoticesTest, RegistrationEndsWithTheWindowHoweverItIsClosed) {
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way);
        start_again();
        sim::at(100, [way] {
            if (way == 0)
                sim::choose_system_close(main_window());
            else
                EXPECT_TRUE(sim::choose_menu_item(main_window(), kCommandExit));
        });
        EXPECT_EQ(installer_main(), 0);
        EXPECT_EQ(sim::count_calls("UnregisterDeviceNotification"), 1);
        EXPECT_EQ(sim::open_count(sim::Resource::DeviceNotification), 0);
        EXPECT_EQ(app.usb_device_notices, nullptr);
    }
}

} // namespace
