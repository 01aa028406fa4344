// The simulated Configuration Manager and Setup API device information sets: the answers and
// error codes that the device-matching code relies on, as Windows gives them.
#include <cstring>

#include "tests/sim_test.h"

namespace {

class DevicesSimwinTest : public SimTest {
  protected:
    // A hub with a present device and a phantom below it.
    void SetUp() override {
        SimTest::SetUp();
        hub = sim::add_controller_with_root_hub("ctl0", "hub0");
        device = sim::add_node(hub, "USB\\VID_0E1C&PID_0001\\1", "{k}\\0001", "Quorvale");
        phantom = sim::add_phantom(hub, "USB\\VID_0E1C&PID_0001\\2", "Quorvale (rumble)");
    }
    DEVINST hub = 0, device = 0, phantom = 0;
};

TEST_F(DevicesSimwinTest, LocateFindsTheRootAndPhantomsOnlyWhenAskedFor) {
    DEVINST found = 99;
    EXPECT_EQ(CM_Locate_DevNodeA(&found, nullptr, 0), CR_SUCCESS);
    EXPECT_EQ(found, sim::root_node());
    char device_id[] = "usb\\vid_0e1c&pid_0001\\1";
    EXPECT_EQ(CM_Locate_DevNodeA(&found, device_id, 0), CR_SUCCESS);
    EXPECT_EQ(found, device);
    char phantom_id[] = "USB\\VID_0E1C&PID_0001\\2";
    EXPECT_EQ(CM_Locate_DevNodeA(&found, phantom_id, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(found, 0u);
    EXPECT_EQ(CM_Locate_DevNodeA(&found, phantom_id, CM_LOCATE_DEVNODE_PHANTOM), CR_SUCCESS);
    EXPECT_EQ(found, phantom);
    char unknown_id[] = "USB\\VID_0000\\0";
    EXPECT_EQ(CM_Locate_DevNodeA(&found, unknown_id, CM_LOCATE_DEVNODE_PHANTOM),
              CR_NO_SUCH_DEVNODE);
}

// A phantom's parent: from Windows 8 on the device it was last present below (or the root once
// that device is gone); before Windows 8 none.
TEST_F(DevicesSimwinTest, LiveTreeSkipsPhantomsAndAPhantomsParentFollowsTheRule) {
    DEVINST next = 0;
    EXPECT_EQ(CM_Get_Child(&next, hub, 0), CR_SUCCESS);
    EXPECT_EQ(next, device);
    EXPECT_EQ(CM_Get_Sibling(&next, device, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(CM_Get_Parent(&next, device, 0), CR_SUCCESS);
    EXPECT_EQ(next, hub);
    EXPECT_EQ(CM_Get_Parent(&next, phantom, 0), CR_SUCCESS);
    EXPECT_EQ(next, sim::node(phantom)->parent);
    sim::set_parent_rule(sim::ParentRule::BeforeWindows8);
    EXPECT_EQ(CM_Get_Parent(&next, phantom, 0), CR_NO_SUCH_DEVNODE);
    sim::set_parent_rule(sim::ParentRule::Windows8);
    sim::node(phantom)->parent = 4242; // a last parent that is gone
    EXPECT_EQ(CM_Get_Parent(&next, phantom, 0), CR_SUCCESS);
    EXPECT_EQ(next, sim::root_node());
    EXPECT_EQ(CM_Get_Parent(&next, sim::root_node(), 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(CM_Get_Child(&next, device, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(CM_Get_Child(&next, 4242, 0), CR_INVALID_DEVNODE);
}

TEST_F(DevicesSimwinTest, PropertyReadAnswersTheRequiredLengthWhenTheBufferIsSmall) {
    char buffer[8];
    ULONG length = sizeof buffer;
    EXPECT_EQ(
        CM_Get_DevNode_Registry_PropertyA(phantom, CM_DRP_DEVICEDESC, nullptr, buffer, &length, 0),
        CR_BUFFER_SMALL);
    EXPECT_EQ(length, 18u); // "Quorvale (rumble)" and its terminator

    char room[32];
    length = sizeof room;
    ULONG type = 0;
    EXPECT_EQ(CM_Get_DevNode_Registry_PropertyA(device, CM_DRP_DRIVER, &type, room, &length, 0),
              CR_SUCCESS);
    EXPECT_STREQ(room, "{k}\\0001");
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(type, static_cast<ULONG>(REG_SZ));

    length = sizeof room;
    EXPECT_EQ(CM_Get_DevNode_Registry_PropertyA(phantom, CM_DRP_DRIVER, nullptr, room, &length, 0),
              CR_NO_SUCH_VALUE);
}

TEST_F(DevicesSimwinTest, IdListHoldsPresentAndPhantomInstancesAndFailsWhenItGrew) {
    ULONG size = 0;
    ASSERT_EQ(CM_Get_Device_ID_List_SizeA(&size, nullptr, 0), CR_SUCCESS);
    std::string list(size, 'x');
    ASSERT_EQ(CM_Get_Device_ID_ListA(nullptr, list.data(), size, 0), CR_SUCCESS);
    EXPECT_NE(list.find(std::string("USB\\VID_0E1C&PID_0001\\2\0", 25)), std::string::npos);
    EXPECT_EQ(list.substr(list.size() - 2), std::string("\0\0", 2));

    sim::on_device_id_list_size([] { sim::add_listed_instance("USB\\VID_0E1C&PID_0001\\3"); });
    ASSERT_EQ(CM_Get_Device_ID_List_SizeA(&size, nullptr, 0), CR_SUCCESS);
    std::string grown(size, 'x');
    EXPECT_EQ(CM_Get_Device_ID_ListA(nullptr, grown.data(), size, 0), CR_BUFFER_SMALL);
}

TEST_F(DevicesSimwinTest, OpeningChecksTheRecordSizeAsWindowsDoes) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data - 4;
    EXPECT_FALSE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\2", nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\9", nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    EXPECT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\2", nullptr, 0, &data));
    EXPECT_EQ(data.DevInst, phantom);
    EXPECT_EQ(sim::open_count(sim::Resource::DeviceInfoSet), 1);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesSimwinTest, RemovalTakesTheInstanceAndItsDriverKeyOffTheMachine) {
    std::string key_path = sim::driver_registry_path("{k}\\0001");
    sim::add_registry_key(HKEY_LOCAL_MACHINE, key_path);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\1", nullptr, 0, &data));

    EXPECT_TRUE(SetupDiRemoveDevice(set, &data));
    SetupDiDestroyDeviceInfoList(set);

    EXPECT_FALSE(sim::instance_exists("USB\\VID_0E1C&PID_0001\\1"));
    EXPECT_FALSE(sim::registry_key_exists(HKEY_LOCAL_MACHINE, key_path));
    DEVINST next = 0;
    EXPECT_EQ(CM_Get_Child(&next, hub, 0), CR_NO_SUCH_DEVNODE);
    ASSERT_EQ(sim::calls_of("SetupDiRemoveDevice").size(), 1u);
    EXPECT_NE(sim::calls_of("SetupDiRemoveDevice")[0].args.find("USB\\VID_0E1C&PID_0001\\1"),
              std::string::npos);
}

// A device that Windows cannot stop (here its function is held open) stays until the restart:
// the removal succeeds and says so in the element's install parameters, which outlive it and
// need this build's structure size.
TEST_F(DevicesSimwinTest, RemovalOfADeviceThatCannotStopLeavesItForTheRestart) {
    DEVINST function = sim::add_node(device, "HID\\VID_0E1C&PID_0001\\1");
    sim::node(function)->restart_flag = DI_NEEDREBOOT;
    std::vector<std::string> left;
    sim::on_machine_event([&](const sim::MachineEvent& event) {
        if (event.kind == sim::MachineEvent::RemovalNeedsRestart)
            left.push_back(event.subject);
    });
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\1", nullptr, 0, &data));
    SP_DEVINSTALL_PARAMS_A params{};
    params.cbSize = sizeof params;
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    EXPECT_EQ(params.Flags, 0u);

    EXPECT_TRUE(SetupDiRemoveDevice(set, &data));
    EXPECT_TRUE(sim::instance_exists("USB\\VID_0E1C&PID_0001\\1"));
    EXPECT_EQ(left, std::vector<std::string>{"USB\\VID_0E1C&PID_0001\\1"});
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    EXPECT_EQ(params.Flags, static_cast<DWORD>(DI_NEEDREBOOT));
    EXPECT_EQ(params.cbSize, sizeof params);
    params.cbSize = sizeof params - 4;
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

    // Once the function lets go, the removal takes the device, and its element's parameters
    // still answer.
    sim::node(function)->restart_flag = 0;
    params.cbSize = sizeof params;
    EXPECT_TRUE(SetupDiRemoveDevice(set, &data));
    EXPECT_FALSE(sim::instance_exists("USB\\VID_0E1C&PID_0001\\1"));
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(set, &data, &params));
    SetupDiDestroyDeviceInfoList(set);
}

// A 32-bit program on 64-bit Windows may not remove devices.
TEST_F(DevicesSimwinTest, RemovalUnderWow64FailsWithErrorInWow64) {
    sim::set_process_kind(sim::ProcessKind::Wow64);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\1", nullptr, 0, &data));
    EXPECT_FALSE(SetupDiRemoveDevice(set, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IN_WOW64));
    EXPECT_TRUE(sim::instance_exists("USB\\VID_0E1C&PID_0001\\1"));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesSimwinTest, DriverKeyOpensAsACountedKeyOrAnswersInvalidHandle) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, sim::driver_registry_path("{k}\\0001"), "InfPath",
                             "oem1.inf");
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\1", nullptr, 0, &data));
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    ASSERT_NE(key, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(sim::open_count(sim::Resource::RegistryKey), 1);
    char name[16];
    DWORD size = sizeof name;
    EXPECT_EQ(
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(name, "oem1.inf");
    RegCloseKey(key);

    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, "USB\\VID_0E1C&PID_0001\\2", nullptr, 0, &data));
    EXPECT_EQ(SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ),
              reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DevicesSimwinTest, ReenumerationIsLoggedWithTheInstanceAndRunsTheHook) {
    DEVINST asked = 0;
    sim::on_reenumerate([&](DEVINST node) { asked = node; });
    EXPECT_EQ(CM_Reenumerate_DevNode(device, 0), CR_SUCCESS);
    EXPECT_EQ(asked, device);
    ASSERT_EQ(sim::calls_of("CM_Reenumerate_DevNode").size(), 1u);
    EXPECT_EQ(sim::calls_of("CM_Reenumerate_DevNode")[0].args.rfind("USB\\VID_0E1C&PID_0001\\1", 0),
              0u);
}

} // namespace
