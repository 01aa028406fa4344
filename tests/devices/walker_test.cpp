// The adapter instance walker: which instance IDs it picks out, scan mode listing configured
// adapters, remove mode removing USB and HID instances with their INF copies, and each failing
// call of the walk leaving nothing open.
#include "tests/devices/machine.h"
#include "tests/install/machine.h"

namespace {

using namespace inf_machine;

class DevicesWalkerTest : public DevicesTest {
  protected:
    void SetUp() override {
        DevicesTest::SetUp();
        ra = sim::add_controller_with_root_hub("ctlA", "hubA");
        add_hub_entry("A", "@ctlA", ra);
        set_inf_directory("DevicePath", kInfDirectory);
        set_inf_directory("OtherDevicePath", "C:\\Drivers");
    }
    // A configured adapter instance below the root hub with its INF copy in C:\WINDOWS\inf.
    DEVINST add_configured(const std::string& id, const std::string& key,
                           const std::string& inf_name) {
        sim::put_file("C:\\WINDOWS\\inf\\" + inf_name, kMakerInfHead);
        return sim::add_instance_with_driver_key(ra, id, key, inf_name);
    }
    DEVINST ra = 0;
};

TEST_F(DevicesWalkerTest, OnlyTheFourAdapterPrefixesArePickedOut) {
    // In list order, which is ID order.
    const char* const picked[] = {
        "HID\\VID_0E1C&PID_0001\\1",
        "HID\\Vid_0e1c&Pid_0001\\3",
        "USB\\VID_0E1C&PID_0001\\2",
        "USB\\Vid_0e1c&Pid_0001\\4",
    };
    const char* const passed[] = {
        "USB\\VID_0E1C&PID_0002\\5",
        "usb\\vid_0e1c&pid_0001\\6",
        "USB\\VID_0E1C&PID_0001",
        "USB\\Vid_0E1C&PID_0001\\7",
        "PCI\\VID_0E1C&PID_0001\\8",
        // The first letter of the other bus: every character counts.
        "HSB\\VID_0E1C&PID_0001\\9",
        "UID\\VID_0E1C&PID_0001\\10",
    };
    for (const char* id : picked)
        sim::add_phantom(ra, id, "Quorvale");
    for (const char* id : passed)
        sim::add_phantom(ra, id, "Quorvale");

    walk_adapter_instances(0);

    auto opens = sim::calls_of("SetupDiOpenDeviceInfoA");
    ASSERT_EQ(opens.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(opens[i].args.find(picked[i]), std::string::npos) << opens[i].args;
    EXPECT_EQ(listed(), "A2 configured no, A4 configured no");
}

TEST_F(DevicesWalkerTest, ScanModeListsConfiguredUsbInstancesOnly) {
    sim::add_node(ra, "USB\\VID_0E1C&PID_0001\\5&1&0&3", std::nullopt, "Quorvale (rumble)");
    sim::add_phantom(ra, "HID\\VID_0E1C&PID_0001\\6&1&0&0000", "Quorvale");

    walk_adapter_instances(0);

    EXPECT_EQ(listed(), "A3 configured rumble");
    EXPECT_EQ(sim::count_calls("SetupDiCreateDeviceInfoList"), 2);
    EXPECT_EQ(sim::count_calls("SetupDiRemoveDevice"), 0);
}

TEST_F(DevicesWalkerTest, RecordSizeIsThatOfThisBuildsDeviceInfoData) {
    sim::add_phantom(ra, "USB\\VID_0E1C&PID_0001\\4");
    walk_adapter_instances(0);
    auto opens = sim::calls_of("SetupDiOpenDeviceInfoA");
    ASSERT_EQ(opens.size(), 1u);
    std::string size = "cbSize=" + std::to_string(sizeof(SP_DEVINFO_DATA));
    EXPECT_NE(opens[0].args.find(size), std::string::npos) << opens[0].args;
}

TEST_F(DevicesWalkerTest, RemoveModeRemovesUsbAndHidInstancesWithTheirInfCopies) {
    DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\5&1&0&3", "{usb}\\0001", "oem5.inf");
    DEVINST hid = add_configured("HID\\VID_0E1C&PID_0001\\6&1&0&0000", "{hid}\\0002", "oem6.inf");
    sim::add_instance_with_driver_key(ra, "USB\\VID_1234&PID_0001\\1", "{other}\\0003", "oem7.inf");
    sim::put_file("C:\\WINDOWS\\inf\\oem7.inf", kMakerInfHead);

    walk_adapter_instances(1);

    EXPECT_TRUE(sim::node(usb)->removed);
    EXPECT_TRUE(sim::node(hid)->removed);
    EXPECT_FALSE(
        sim::registry_key_exists(HKEY_LOCAL_MACHINE, sim::driver_registry_path("{usb}\\0001")));
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\inf\\oem5.inf"));
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\inf\\oem6.inf"));
    EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\inf\\oem7.inf"));
    EXPECT_TRUE(sim::instance_exists("USB\\VID_1234&PID_0001\\1"));
    EXPECT_EQ(listed(), "");
    // Both directories are asked for each instance, before the instance is removed.
    EXPECT_EQ(sim::count_calls("SetupDiOpenDevRegKey"), 4);
    EXPECT_EQ(sim::count_calls("SetupDiRemoveDevice"), 2);
}

// A device that Windows cannot stop at once (here its HID function is held open) stays until
// the restart: the install parameters read after each removal say so, by either flag, and the
// program remembers it even when later removals need none.
TEST_F(DevicesWalkerTest, RemovalLeftForTheRestartIsRememberedFromTheInstallParameters) {
    for (DWORD flag : {0u, static_cast<DWORD>(DI_NEEDREBOOT), static_cast<DWORD>(DI_NEEDRESTART)}) {
        SCOPED_TRACE(flag);
        SetUp();
        DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\5&1&0&3", "{usb}\\0001", "oem5.inf");
        DEVINST hid = sim::add_node(usb, "HID\\VID_0E1C&PID_0001\\6&1&0&0000");
        sim::node(hid)->restart_flag = flag;

        walk_adapter_instances(1);

        EXPECT_EQ(sim::node(usb)->removed, flag == 0);
        EXPECT_EQ(install_state.removal_needs_restart, flag ? 1 : 0);
        // Right after each removal, the parameters of the element removed, with this build's size.
        const std::vector<sim::Call>& log = sim::calls();
        int reads = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            if (log[i].function != "SetupDiGetDeviceInstallParamsA")
                continue;
            ++reads;
            ASSERT_GT(i, 0u);
            EXPECT_EQ(log[i - 1].function, "SetupDiRemoveDevice");
            EXPECT_NE(log[i].args.find(log[i - 1].args.substr(log[i - 1].args.find(' '))),
                      std::string::npos)
                << log[i].args;
            EXPECT_NE(log[i].args.find("cbSize=" + std::to_string(sizeof(SP_DEVINSTALL_PARAMS_A))),
                      std::string::npos);
        }
        EXPECT_EQ(reads, 2);

        sim::node(hid)->restart_flag = 0;
        walk_adapter_instances(1);
        EXPECT_TRUE(sim::node(usb)->removed);
        EXPECT_EQ(install_state.removal_needs_restart, flag ? 1 : 0);
    }
}

TEST_F(DevicesWalkerTest, RemoveModeRemovesTheInstanceWhenItsInfCopiesCannotBeDeleted) {
    DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\5&1&0&3", "{usb}\\0001", "oem5.inf");
    sim::fail_every_call("SetupDiOpenDevRegKey");

    walk_adapter_instances(1);

    EXPECT_TRUE(sim::node(usb)->removed);
    EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\inf\\oem5.inf"));
}

TEST_F(DevicesWalkerTest, InstanceThatCannotBeOpenedIsPassedOver) {
    sim::add_listed_instance("USB\\VID_0E1C&PID_0001\\ghost");
    DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\5&1&0&3", "{usb}\\0001", "oem5.inf");

    walk_adapter_instances(1);

    EXPECT_EQ(sim::count_calls("SetupDiCreateDeviceInfoList"), 2);
    EXPECT_EQ(sim::count_calls("SetupDiDestroyDeviceInfoList"), 2);
    EXPECT_EQ(sim::count_calls("SetupDiRemoveDevice"), 1);
    EXPECT_TRUE(sim::node(usb)->removed);
}

TEST_F(DevicesWalkerTest, SetThatCannotBeCreatedPassesTheInstanceOver) {
    DEVINST first = add_configured("USB\\VID_0E1C&PID_0001\\1", "{usb}\\0001", "oem5.inf");
    DEVINST second = add_configured("USB\\VID_0E1C&PID_0001\\2", "{usb}\\0002", "oem6.inf");
    sim::fail_call("SetupDiCreateDeviceInfoList", 1);

    walk_adapter_instances(1);

    EXPECT_FALSE(sim::node(first)->removed);
    EXPECT_TRUE(sim::node(second)->removed);
    EXPECT_EQ(sim::count_calls("SetupDiOpenDeviceInfoA"), 1);
}

TEST_F(DevicesWalkerTest, FailingSizeQueryAllocationOrListQueryWalksNothing) {
    DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\1", "{usb}\\0001", "oem5.inf");
    for (const char* function :
         {"CM_Get_Device_ID_List_SizeA", "GlobalAlloc", "CM_Get_Device_ID_ListA"}) {
        sim::clear_failures();
        sim::fail_call(function, 1);
        walk_adapter_instances(1);
        EXPECT_FALSE(sim::node(usb)->removed) << function;
        EXPECT_EQ(sim::open_summary(), "") << function;
    }
    EXPECT_EQ(sim::count_calls("SetupDiCreateDeviceInfoList"), 0);
}

TEST_F(DevicesWalkerTest, ListThatGrowsAfterTheSizeQueryWalksNothing) {
    DEVINST usb = add_configured("USB\\VID_0E1C&PID_0001\\1", "{usb}\\0001", "oem5.inf");
    sim::on_device_id_list_size([&] { sim::add_phantom(ra, "USB\\VID_0E1C&PID_0001\\2"); });

    walk_adapter_instances(1);

    EXPECT_FALSE(sim::node(usb)->removed);
    EXPECT_EQ(sim::count_calls("GlobalFree"), 1);
}

TEST_F(DevicesWalkerTest, EmptyListWalksNothingAndFreesTheBlock) {
    sim::remove_node(sim::root_node());

    walk_adapter_instances(0);

    EXPECT_EQ(sim::count_calls("CM_Get_Device_ID_ListA"), 1);
    EXPECT_EQ(sim::count_calls("GlobalFree"), 1);
}

TEST_F(DevicesWalkerTest, ListIsWalkedOnlyWithinTheFetchedBlock) {
    // Without its closing empty string the last ID is still terminated and walked.
    sim::add_phantom(ra, "USB\\VID_0E1C&PID_0001\\7");
    sim::cut_device_id_list(1);
    walk_adapter_instances(0);
    EXPECT_EQ(listed(), "A7 configured no");

    // Without its own terminator it runs into the block's end and is not used.
    adapter_list.count = 0;
    sim::cut_device_id_list(2);
    walk_adapter_instances(0);
    EXPECT_EQ(listed(), "");
}

TEST_F(DevicesWalkerTest, AnyFailingCallOfEitherModeLeavesNothingOpen) {
    for (int remove = 0; remove <= 1; ++remove) {
        long calls = 0;
        for (long k = 0; k == 0 || k <= calls; ++k) {
            SetUp();
            add_configured("USB\\VID_0E1C&PID_0001\\5&1&0&3", "{usb}\\0001", "oem5.inf");
            add_configured("HID\\VID_0E1C&PID_0001\\6&1&0&0000", "{hid}\\0002", "oem6.inf");
            sim::put_file("C:\\Drivers\\oem5.inf", kMakerInfHead);
            long before = sim::failable_call_count();
            if (k > 0)
                sim::fail_global_call(k, false);
            walk_adapter_instances(remove);
            if (k == 0)
                calls = sim::failable_call_count() - before;
            EXPECT_EQ(sim::open_summary(), "") << "mode " << remove << ", call " << k;
        }
        EXPECT_GT(calls, 5) << remove;
    }
}

} // namespace
