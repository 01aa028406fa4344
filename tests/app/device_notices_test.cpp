// The main window's registration for USB device notices: when it is made and released, and how
// soon a plug reaches the report with it and without it.
#include "tests/app/harness.h"

namespace {

using DeviceNoticesTest = AppTest;

// The machine: an empty four-port root hub on the first controller.
sim::UsbHub& empty_root_hub() {
    return sim::add_controller(0).root_hub(4);
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

// Windows announces the arrival and removal of a USB device only once a driver started it, and
// only to a registered window: an adapter with its driver is reported at once; one without a
// driver, or any adapter when the registration failed, only through DBT_DEVNODES_CHANGED, which
// brings the next refresh to 500 ms after it instead of the next tick.
TEST_F(DeviceNoticesTest, APlugAndUnplugAreReportedAtOnceOrWithinTheShortDelay) {
    struct Case {
        const char* name;
        const char* description;
        bool registration_fails;
        unsigned long long delay;
    } const cases[] = {
        {"with driver", "Quorvale (rumble driver)", false, 0},
        {"without driver", "Quorvale", false, kNodesChangedDelayMs},
        {"not registered", "Quorvale (rumble driver)", true, kNodesChangedDelayMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_again();
        if (c.registration_fails)
            sim::fail_every_call("RegisterDeviceNotificationA");
        sim::UsbHub& root = empty_root_hub();
        const std::string line = std::string(c.description) == sim::kAdapterWithoutDriver
                                     ? "Port A2: no driver\r\n"
                                     : "Port A2: rumble driver\r\n";
        auto shown = [&line] {
            return sim::window_text(app.report_edit).find(line) != std::string::npos;
        };
        sim::at(1000, [&root, &c] { root.add_adapter(2, true, c.description); });
        // An action runs before a timer due at the same time: the report is checked 1 ms later.
        sim::at(1000 + c.delay + 1, [&shown] { EXPECT_TRUE(shown()); });
        if (c.delay > 0)
            sim::at(1000 + c.delay - 1, [&shown] { EXPECT_FALSE(shown()); });
        sim::at(2000, [&root] { root.unplug(2); });
        sim::at(2000 + c.delay + 1, [&shown] { EXPECT_FALSE(shown()); });
        if (c.delay > 0)
            sim::at(2000 + c.delay - 1, [&shown] { EXPECT_TRUE(shown()); });
        sim::at(2900, [] { press_exit(); });
        EXPECT_EQ(installer_main(), 0);
        // The first tick of the period is not yet due: every refresh after the first report was
        // brought by a notice, the interface's (at once) and the nodes' (after the delay).
        EXPECT_EQ(refresh_count(), c.delay == 0 ? 1 + 2 * 2 : 1 + 2);
    }
}

// A burst of 100 DBT_DEVNODES_CHANGED, 4 ms apart, as a device install brings: one refresh, 500
// ms after the first notice, and then the ticks come every 3000 ms again.
TEST_F(DeviceNoticesTest, ABurstOfNodeChangesBringsOneRefreshAndThenTheUsualPeriod) {
    empty_root_hub();
    for (int i = 0; i < 100; ++i)
        sim::at(1000 + 4 * i, [i] {
            // Another device's node comes and goes: Windows tells only that nodes changed.
            if (i % 2 == 0)
                sim::add_node(sim::root_node(), "ROOT\\SIM_BURST\\0000");
            else
                sim::remove_node(sim::find_node("ROOT\\SIM_BURST\\0000"));
        });
    sim::at(7000, [] { press_exit(); });
    int notices = 0;
    sim::on_device_notice([&notices](const sim::DeviceNotice& notice) {
        notices += notice.event == DBT_DEVNODES_CHANGED;
    });
    EXPECT_EQ(installer_main(), 0);

    EXPECT_EQ(notices, 100);
    // The first report at creation, the refresh the burst brought at 1500, the ticks at 4500.
    EXPECT_EQ(refresh_count(), 3);
    EXPECT_EQ(times_of("SetTimer", "id=123"),
              (std::vector<unsigned long long>{0, 1000, 1500, 4500}));
    std::vector<sim::Call> settings = sim::calls_of("SetTimer");
    ASSERT_EQ(settings.size(), 4u);
    EXPECT_NE(settings[1].args.find(" elapse=500 "), std::string::npos);
    EXPECT_NE(settings[2].args.find(" elapse=3000 "), std::string::npos);
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
