// The plugged-in adapters taken from a topology scan, and the whole list as a refresh builds it:
// plugged adapters, configured instances from the walk, in sorted order.
#include "tests/devices/machine.h"
#include "tests/install/machine.h"

namespace {

using DevicesCollectTest = DevicesTest;

TEST_F(DevicesCollectTest, PluggedAdaptersAreListedInTableOrderWithTheirDriverKind) {
    auto& root = sim::add_controller(0).root_hub(2);
    root.add_hub(1, 4).add_adapter(2, true, "Quorvale (rumble)");
    root.add_adapter(2);

    collect_plugged_adapters();

    EXPECT_EQ(listed(), "A12 plugged rumble, A2 plugged no");
}

TEST_F(DevicesCollectTest, AdapterWithoutANodeIsListedWithNoDriver) {
    sim::add_controller(0).root_hub(2).add_adapter(1, false, "Quorvale (rumble)");
    collect_plugged_adapters();
    EXPECT_EQ(listed(), "A1 plugged no");
}

// What a hub driver reports as the driver key reply's ActualLength decides the adapter's kind:
// the size of the whole reply structure (as Windows reports it), two bytes more (as ReactOS
// reports it: the structure's padded size and the name) still give the key; the name's own length
// (as some of Microsoft's pages describe the field) is too short a block for the name, so the key
// is empty and the adapter, whatever its driver, is listed with none ("Port A1: no driver").
TEST_F(DevicesCollectTest, TheDriverKindFollowsTheActualLengthTheHubDriverReports) {
    struct Case {
        const char* reported;
        int beyond_the_whole_reply;
        const char* listed;
    } const cases[] = {
        {"the whole reply", 0, "A1 plugged rumble"},
        {"two bytes more", 2, "A1 plugged rumble"},
        {"the name's own length", -static_cast<int>(kConnectionNameStringOffset), "A1 plugged no"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        sim::reset();
        adapter_list.count = 0;
        sim::UsbDevice& adapter =
            sim::add_controller(0).root_hub(2).add_adapter(1, true, "Quorvale (rumble)");
        std::string key = *sim::node(adapter.node)->driver_key;
        int whole_reply = static_cast<int>(kConnectionNameStringOffset + 2 * (key.size() + 1));
        adapter.driver_key.actual_length =
            static_cast<DWORD>(whole_reply + c.beyond_the_whole_reply);
        collect_plugged_adapters();
        EXPECT_EQ(listed(), c.listed);
    }
}

TEST_F(DevicesCollectTest, HubsAloneAddNothing) {
    sim::add_controller(0).root_hub(2).add_hub(2, 4);
    collect_plugged_adapters();
    EXPECT_EQ(adapter_list.count, 0);
}

TEST_F(DevicesCollectTest, CollectingAppendsBehindEntriesAlreadyCounted) {
    sim::add_controller(0).root_hub(1).add_adapter(1);
    append_adapter_entry(0, "*9", Generic);
    collect_plugged_adapters();
    EXPECT_EQ(listed(), "*9 configured generic, A1 plugged no");
}

TEST_F(DevicesCollectTest, MoreAdaptersThanTheListHoldsFillItAndNoMore) {
    auto& root = sim::add_controller(0).root_hub(4);
    for (int h = 1; h <= 4; ++h) {
        auto& hub = root.add_hub(h, 8);
        for (int p = 1; p <= 8; ++p)
            hub.add_adapter(p);
    }

    collect_plugged_adapters();

    EXPECT_EQ(adapter_list.count, kAdapterListRoom);
    EXPECT_STREQ(adapter_list.entries[kAdapterListRoom - 1].label, "A46");
}

TEST_F(DevicesCollectTest, RefreshListsPluggedAndUnpluggedAdaptersInOrder) {
    auto& root = sim::add_controller(0).root_hub(4);
    root.add_adapter(2, true, "Quorvale (rumble)");
    root.add_adapter(3);
    root.unplug(3);

    collect_plugged_adapters();
    walk_adapter_instances(0);
    sort_adapter_list();

    // The unplugged adapter's node is a phantom whose parent is still its root hub.
    EXPECT_EQ(listed(), "A2 plugged rumble, A3 configured no");
}

TEST_F(DevicesCollectTest, AdaptersOnPortsTenAndUpAreListedOnceUnderTheirOwnPorts) {
    // Root hub A and a hub on A3, each with as many ports as the scan labels; adapters on ports
    // 10, 12 and 207 of both and on A2; the one on port 12 of A unplugged.
    auto& root = sim::add_controller(0).root_hub(kLastLabelledPort);
    auto& hub = root.add_hub(3, kLastLabelledPort);
    root.add_adapter(2);
    for (int port : {10, 12, static_cast<int>(kLastLabelledPort)}) {
        root.add_adapter(port);
        hub.add_adapter(port);
    }
    root.unplug(12);
    // Also configured for port 12 of A, a present node. Both it and the unplugged adapter's
    // phantom (whose parent Windows 8 and later still name) reach the root hub as "A<".
    sim::add_node(root.node, "USB\\VID_0E1C&PID_0001\\5&7A&0&12", "{cfg}\\0001", "Quorvale");

    collect_plugged_adapters();
    walk_adapter_instances(0);

    EXPECT_EQ(listed(), "A2 plugged no, A3: plugged no, A3< plugged no, A3\xFF plugged no, "
                        "A: plugged no, A\xFF plugged no, A< configured no, A< configured no");
}

TEST_F(DevicesCollectTest, RemovalTakesAPluggedAdapterWithItsHidFunctionAndBothInfCopies) {
    auto& adapter = sim::add_controller(0).root_hub(2).add_adapter(1);
    inf_machine::set_inf_directory("DevicePath", inf_machine::kInfDirectory);
    const char* const inf_names[] = {"oem1.inf", "oem2.inf"};
    const DEVINST nodes[] = {adapter.node, adapter.function};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(sim::node(nodes[i])->driver_key.has_value());
        inf_machine::set_inf_path(*sim::node(nodes[i])->driver_key, inf_names[i]);
        sim::put_file(std::string("C:\\WINDOWS\\inf\\") + inf_names[i], "Provider=%Zelk%");
    }

    walk_adapter_instances(1);

    EXPECT_TRUE(sim::node(adapter.node)->removed);
    EXPECT_TRUE(sim::node(adapter.function)->removed);
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\inf\\oem1.inf"));
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\inf\\oem2.inf"));
}

} // namespace
