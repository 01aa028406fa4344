// The scan's second pass over the host controllers that the Setup API lists under their
// interface: controllers without an HCD name from 0 to 9 take the letters after the HCD names',
// none is walked twice, a machine of named controllers keeps its calls, and the interface
// structures have the sizes Windows checks.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/sim_test.h"
#include "usb/port_table.h"

namespace {

std::vector<std::string> paths() {
    std::vector<std::string> result;
    for (int i = 0; i < port_table.count; ++i)
        result.push_back(port_table.entries[i].path);
    return result;
}

// A controller with an adapter on port 1 of its two-port root hub, named \\.\HCD<hcd> or, with
// hcd -1, without an HCD name.
sim::UsbController& controller_with_adapter(int index, int hcd) {
    sim::UsbController& hc = sim::add_controller(index);
    if (hcd < 0)
        hc.hcd_number.reset();
    else
        hc.hcd_number = hcd;
    hc.root_hub(2).add_adapter(1);
    return hc;
}

using ControllerInterfacesTest = SimTest;

// HCD0 and HCD3 are named; then, in the order the Setup API lists them, a controller whose
// driver made HCD11, one without a name, and one with HCD10: they take E, F and G after D.
TEST_F(ControllerInterfacesTest,
       ControllersWithoutANameFromZeroToNineTakeTheNextLettersInListOrder) {
    controller_with_adapter(0, 0);
    controller_with_adapter(1, 3);
    controller_with_adapter(2, 11);
    controller_with_adapter(3, -1);
    controller_with_adapter(4, 10);

    scan_usb_topology();

    EXPECT_EQ(paths(),
              (std::vector<std::string>{"A", "A1", "D", "D1", "E", "E1", "F", "F1", "G", "G1"}));
    // Each controller's root hub is walked once, in that order: the named ones, which the
    // interface list holds as well, are known by their driver keys.
    std::vector<std::string> root_hubs, expected;
    for (int i = 0; i < port_table.count; ++i)
        if (port_table.entries[i].is_hub)
            root_hubs.push_back(port_table.entries[i].driver_key);
    for (int index = 0; index < 5; ++index)
        expected.push_back("@" + *sim::node(sim::controller(index)->node)->driver_key);
    EXPECT_EQ(root_hubs, expected);
}

// A controller that cannot be told apart from the ones walked is not walked: one whose own key
// cannot be read may be a named one, and when a named one gave no key, any listed one may be it.
TEST_F(ControllerInterfacesTest, NoControllerIsWalkedWhenItsKeyCannotTellItApart) {
    struct Case {
        const char* name;
        bool named_keyless;
        bool listed_keyless;
        std::vector<std::string> paths;
    } const cases[] = {
        {"every key read", false, false, {"A", "A1", "B", "B1"}},
        {"the listed controller's key fails", false, true, {"A", "A1"}},
        {"the named controller's key fails", true, false, {"A", "A1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        controller_with_adapter(0, 0).driver_key.fails = c.named_keyless;
        controller_with_adapter(1, -1).driver_key.fails = c.listed_keyless;

        scan_usb_topology();

        EXPECT_EQ(paths(), c.paths);
        // Without every named key the interface list is not even asked for.
        EXPECT_EQ(sim::count_calls("SetupDiGetClassDevsA"), c.named_keyless ? 0 : 1);
        EXPECT_EQ(sim::open_summary(), "");
    }
}

// Ten named controllers and seventeen without names: K to Z take sixteen of them, and the list
// is not asked further once Z is taken.
TEST_F(ControllerInterfacesTest, TheLettersEndAtZ) {
    for (int n = 0; n < 10; ++n)
        sim::add_controller(n).root_hub(0);
    for (int n = 10; n < 27; ++n)
        sim::add_controller(n).hcd_number.reset();
    for (int n = 10; n < 27; ++n)
        sim::controller(n)->root_hub(0);

    scan_usb_topology();

    std::vector<std::string> expected;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        expected.push_back(std::string(1, letter));
    EXPECT_EQ(paths(), expected);
    // Ten named ones recognised, sixteen walked; the last controller is never enumerated.
    EXPECT_EQ(sim::count_calls("SetupDiEnumDeviceInterfaces"), 26);
}

// On a machine whose controllers are all named HCD0 to HCD9, the scan makes today's calls, and
// after them only the interface list's: each listed controller is opened by its interface path
// and asked for its driver key, and nothing more is walked.
TEST_F(ControllerInterfacesTest, NamedControllersOnlyAddTheirRecognitionToTodaysCalls) {
    auto build = [] {
        sim::add_controller(0).root_hub(2).add_hub(1, 2).add_adapter(2);
        controller_with_adapter(4, 4);
    };
    build();
    scan_usb_topology();
    std::vector<std::string> table = paths();
    std::vector<sim::Call> log = sim::calls();

    // The same machine without an interface list: what the scan did before it had the list.
    sim::reset();
    build();
    sim::fail_every_call("SetupDiGetClassDevsA");
    scan_usb_topology();
    EXPECT_EQ(paths(), table);
    std::vector<sim::Call> before = sim::calls();
    ASSERT_EQ(before.back().function, "SetupDiGetClassDevsA");
    before.pop_back();

    ASSERT_GT(log.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(log[i].function + " " + log[i].args, before[i].function + " " + before[i].args);
    for (size_t i = before.size(); i < log.size(); ++i) {
        const sim::Call& call = log[i];
        SCOPED_TRACE(call.function + " " + call.args);
        if (call.function == "CreateFileA")
            EXPECT_EQ(call.args.rfind("\\\\?\\PCI#", 0), 0u);
        else if (call.function == "DeviceIoControl")
            EXPECT_NE(call.args.find(" code=0x220424 "), std::string::npos);
        else
            EXPECT_TRUE(call.function.rfind("SetupDi", 0) == 0 || call.function == "GlobalAlloc" ||
                        call.function == "GlobalFree" || call.function == "GetLastError" ||
                        call.function == "WideCharToMultiByte" || call.function == "CloseHandle");
    }
    EXPECT_EQ(sim::count_calls("SetupDiGetClassDevsA"), 1);
}

// As Windows answers them: the size-asking call, a buffer one byte short, and structures whose
// cbSize is not this build's (the 32-bit detail's 5 bytes, the 32-bit interface data's 28).
TEST_F(ControllerInterfacesTest, TheSetupApiRefusesInterfaceStructuresOfAnotherSize) {
    sim::add_controller(0).hcd_number.reset();
    const std::string path = sim::controller(0)->interface_name();
    const GUID& host_controllers = sim::kUsbHostControllerInterfaceGuid;
    HDEVINFO set = SetupDiGetClassDevsA(&host_controllers, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);

    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &host_controllers, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &host_controllers, 0, &data));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &host_controllers, 1, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    const DWORD needed = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    std::vector<char> buffer(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    struct Ask {
        bool with_detail;
        DWORD cb_size, size;
        bool succeeds;
        DWORD error;
    } const asks[] = {
        {false, 0, 0, false, ERROR_INSUFFICIENT_BUFFER},
        {false, 0, 100, false, ERROR_INVALID_USER_BUFFER},
        {true, 5, needed, false, ERROR_INVALID_USER_BUFFER},
        {true, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed - 1, false,
         ERROR_INSUFFICIENT_BUFFER},
        {true, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed, true, 0},
    };
    for (const Ask& ask : asks) {
        SCOPED_TRACE(testing::Message() << ask.cb_size << " " << ask.size);
        DWORD required = 0;
        detail->cbSize = ask.cb_size;
        SetLastError(0);
        EXPECT_EQ(SetupDiGetDeviceInterfaceDetailA(set, &data, ask.with_detail ? detail : nullptr,
                                                   ask.size, &required, nullptr) != FALSE,
                  ask.succeeds);
        EXPECT_EQ(GetLastError(), ask.error);
        // A refused structure leaves the size unanswered.
        EXPECT_EQ(required, ask.error == ERROR_INVALID_USER_BUFFER ? 0 : needed);
    }
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

} // namespace
