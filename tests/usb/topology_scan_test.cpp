// The topology scan over small simulated machines: the PortTable it builds, port labels, the
// failures that leave entries out, the table and depth limits, over-long keys, and the release
// of every handle and block whatever fails.
#include <algorithm>
#include <map>
#include <string>

#include "tests/sim_test.h"
#include "usb/port_table.h"

namespace {

std::string key_of(DEVINST node) {
    return *sim::node(node)->driver_key;
}

std::string root_label(const sim::UsbController& hc) {
    return "@" + key_of(hc.node);
}

std::vector<std::string> paths() {
    std::vector<std::string> result;
    for (int i = 0; i < port_table.count; ++i)
        result.push_back(port_table.entries[i].path);
    return result;
}

void expect_hub(int index, const char* path, const std::string& label) {
    SCOPED_TRACE(testing::Message() << "entry " << index);
    ASSERT_LT(index, port_table.count);
    const PortEntry& e = port_table.entries[index];
    EXPECT_STREQ(e.path, path);
    EXPECT_EQ(e.is_hub, 1);
    EXPECT_EQ(e.driver_key, label);
    EXPECT_EQ(e.parent_index, 0);
    EXPECT_EQ(e.devnode, 0u);
}

void expect_adapter(int index, const char* path, const std::string& key,
                    const std::string& parent_key, int port, int parent_index) {
    SCOPED_TRACE(testing::Message() << "entry " << index);
    ASSERT_LT(index, port_table.count);
    const PortEntry& e = port_table.entries[index];
    EXPECT_STREQ(e.path, path);
    EXPECT_EQ(e.is_hub, 0);
    EXPECT_EQ(e.driver_key, key);
    EXPECT_EQ(e.parent_key, parent_key);
    EXPECT_EQ(e.port, port);
    EXPECT_EQ(e.parent_index, parent_index);
    EXPECT_EQ(e.devnode, 0u);
}

using UsbTopologyScanTest = SimTest;

TEST_F(UsbTopologyScanTest, TwoControllersWithAnExternalHubAndTwoAdaptersGiveTheWholeTable) {
    auto& hc0 = sim::add_controller(0);
    auto& root = hc0.root_hub(2);
    auto& hub = root.add_hub(1, 4);
    auto& inner = hub.add_adapter(2);
    auto& outer = root.add_adapter(2);
    auto& hc1 = sim::add_controller(1);
    hc1.root_hub(2);

    scan_usb_topology();

    ASSERT_EQ(port_table.count, 5);
    std::string hub_key = key_of(root.device(1).node);
    expect_hub(0, "A", root_label(hc0));
    expect_hub(1, "A1", hub_key);
    expect_adapter(2, "A12", key_of(inner.node), hub_key, 2, 1);
    expect_adapter(3, "A2", key_of(outer.node), root_label(hc0), 2, 0);
    expect_hub(4, "B", root_label(hc1));
    // Every controller from HCD0 to HCD9 is tried, and each controller listed under its
    // interface is opened once more to be recognised; the controller handles and the handles of
    // the hubs on the way down are all closed again (the fixture checks).
    EXPECT_EQ(sim::count_calls("CreateFileA"), 10 + 3 + 2);
}

TEST_F(UsbTopologyScanTest, NoControllerGivesAnEmptyTable) {
    port_table.count = 3;
    scan_usb_topology();
    EXPECT_EQ(port_table.count, 0);
}

TEST_F(UsbTopologyScanTest, PortsTenAndElevenAreLabelledColonAndSemicolon) {
    auto& root = sim::add_controller(2).root_hub(11);
    root.add_adapter(10);
    root.add_adapter(11);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"C", "C:", "C;"}));
}

TEST_F(UsbTopologyScanTest, AControllerWithoutDriverKeyWalksItsRootHubUnderTheBareMark) {
    auto& hc = sim::add_controller(0);
    hc.root_hub(3).add_adapter(1);
    hc.driver_key.fails = true;
    scan_usb_topology();
    ASSERT_EQ(port_table.count, 2);
    expect_hub(0, "A", "@");
    EXPECT_STREQ(port_table.entries[1].parent_key, "@");
}

TEST_F(UsbTopologyScanTest, HubsWithoutPortsRecordOnlyTheirOwnEntries) {
    sim::add_controller(0).root_hub(0);
    sim::add_controller(1).root_hub(1).add_hub(1, 0);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"A", "B", "B1"}));
}

TEST_F(UsbTopologyScanTest, OnlyTheAdapterIdentityRecordsAPort) {
    auto& root = sim::add_controller(0).root_hub(4);
    root.add_device(1, sim::kUsbAdapterVendor, 0x0002);
    root.add_device(2, 0x045E, sim::kUsbAdapterProduct);
    auto& keyless = root.add_adapter(3);
    keyless.driver_key.fails = true;
    root.add_adapter(4).status = 2; // a failed enumeration still carries the adapter identity
    scan_usb_topology();
    ASSERT_EQ(paths(), (std::vector<std::string>{"A", "A3", "A4"}));
    EXPECT_STREQ(port_table.entries[1].driver_key, "");
    EXPECT_EQ(port_table.entries[2].driver_key, key_of(root.device(4).node));
}

// Also proves that each scan starts again at index 0.
TEST_F(UsbTopologyScanTest, AnUnpluggedAdapterLeavesItsPortAndComesBackWhenPlugged) {
    auto& root = sim::add_controller(0).root_hub(2);
    auto& adapter = root.add_adapter(2);
    root.unplug(2);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"A"}));
    EXPECT_FALSE(sim::node(adapter.node)->present);
    EXPECT_FALSE(sim::node(adapter.function)->present);

    root.plug(2);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"A", "A2"}));
    EXPECT_TRUE(sim::node(adapter.function)->present);
}

TEST_F(UsbTopologyScanTest, WhatCannotBeAskedLeavesOutOnlyWhatDependsOnIt) {
    auto& hc0 = sim::add_controller(0);
    hc0.root_hub(1).add_adapter(1);
    hc0.root_hub_name.fails = true; // the controller records nothing
    sim::add_controller(1).opens = false;
    auto& root = sim::add_controller(2).root_hub(5);
    root.add_hub(1, 2).add_adapter(1);
    root.device(1).hub->opens = false; // hub does not open
    root.add_hub(2, 2).node_info_fails = true;
    root.add_hub(3, 2).add_adapter(2);
    root.device(3).hub_name.fails = true; // hub whose name is not available
    root.add_adapter(4);
    root.port(4).connection_fails = true; // port skipped
    auto& keyless = root.add_hub(5, 1);
    keyless.add_adapter(1);
    root.device(5).driver_key.fails = true; // hub label empty

    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"C", "C5", "C51"}));
    EXPECT_STREQ(port_table.entries[1].driver_key, "");
    EXPECT_STREQ(port_table.entries[2].parent_key, "");
}

TEST_F(UsbTopologyScanTest, AFullTableRecordsNothingMoreAndTheWalkComesBackUp) {
    auto& hc0 = sim::add_controller(0);
    auto& hub = hc0.root_hub(2).add_hub(1, 200);
    for (int port = 1; port <= 200; ++port)
        hub.add_adapter(port);
    hc0.root->add_adapter(2);
    sim::add_controller(1).root_hub(1);

    scan_usb_topology();
    ASSERT_EQ(port_table.count, kPortTableRoom);
    EXPECT_STREQ(port_table.entries[kPortTableRoom - 1].path,
                 std::string("A1").append(1, static_cast<char>('0' + 126)).c_str());
    // The walk stops at the full table: no further port is asked and no further controller
    // opened.
    EXPECT_EQ(sim::count_calls("CreateFileA"), 3);

    // A smaller machine afterwards gives its full picture again, paths of the right length.
    sim::reset();
    sim::add_controller(0).root_hub(1).add_hub(1, 1).add_adapter(1);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"A", "A1", "A11"}));
}

TEST_F(UsbTopologyScanTest, PortsBeyondTheLastOneCharacterLabelAreNotWalked) {
    auto& root = sim::add_controller(0).root_hub(255);
    root.add_adapter(207);
    root.add_adapter(208);
    scan_usb_topology();
    ASSERT_EQ(port_table.count, 2);
    EXPECT_EQ(port_table.entries[1].port, 207);
    EXPECT_EQ(static_cast<unsigned char>(port_table.entries[1].path[1]), 0xFF);
    // Two calls each for the controller's key and root hub name, the node information, one
    // connection request per walked port, two calls for the adapter's key, and two for the
    // controller's key again when its interface is listed.
    EXPECT_EQ(sim::count_calls("DeviceIoControl"), 2 + 2 + 1 + 207 + 2 + 2);
}

TEST_F(UsbTopologyScanTest, AChainOfHubsDeeperThanAPortPathIsNotDescended) {
    // Eight external hubs in a chain on port 1, each with an adapter on port 2.
    sim::UsbHub* hub = &sim::add_controller(0).root_hub(2);
    for (int tier = 0; tier < 8; ++tier) {
        hub->add_adapter(2);
        hub = &hub->add_hub(1, 2);
    }
    hub->add_adapter(2);

    scan_usb_topology();
    std::vector<std::string> recorded = paths();
    for (const std::string& path : recorded)
        EXPECT_LE(path.size(), 9u) << path;
    ASSERT_EQ(recorded.size(), 2u * 8 + 1);
    EXPECT_EQ(recorded[8], "A11111111"); // the deepest hub: recorded, its ports not walked
    EXPECT_EQ(recorded[9], "A11111112");
    EXPECT_EQ(recorded.back(), "A2");
    // The ten controller names, the root hub and the eight external hubs, no ninth; and the
    // controller's interface.
    EXPECT_EQ(sim::count_calls("CreateFileA"), 10 + 1 + 8 + 1);
}

TEST_F(UsbTopologyScanTest, AKeyLongerThan199CharactersCountsAsNotAvailable) {
    auto& hc = sim::add_controller(0);
    auto& root = hc.root_hub(3);
    root.add_adapter(1).driver_key.text = std::string(199, 'k');
    root.add_adapter(2).driver_key.text = std::string(200, 'k');
    root.add_hub(3, 1).add_adapter(1);
    root.device(3).driver_key.text = std::string(250, 'h');
    hc.driver_key.text = std::string(199, 'c'); // "@" and 199 characters do not fit
    scan_usb_topology();
    ASSERT_EQ(paths(), (std::vector<std::string>{"A", "A1", "A2", "A3", "A31"}));
    EXPECT_STREQ(port_table.entries[0].driver_key, "@");
    EXPECT_EQ(port_table.entries[1].driver_key, std::string(199, 'k'));
    EXPECT_STREQ(port_table.entries[2].driver_key, "");
    EXPECT_STREQ(port_table.entries[3].driver_key, "");
    EXPECT_STREQ(port_table.entries[4].parent_key, "");
}

TEST_F(UsbTopologyScanTest, AFailedConnectionBufferEndsThatHubButTheWalkGoesOnAbove) {
    auto& root = sim::add_controller(0).root_hub(3);
    auto& hub = root.add_hub(1, 3);
    hub.add_adapter(1);
    hub.add_adapter(3);
    root.add_adapter(2);
    // A dry run finds the allocation of the third connection buffer: the one for port 2 of the
    // external hub, after root port 1 and the hub's port 1.
    scan_usb_topology();
    int allocation = 0, buffers = 0;
    for (const sim::Call& call : sim::calls_of("GlobalAlloc")) {
        ++allocation;
        if (call.args == "flags=0x40 bytes=147" && ++buffers == 3)
            break;
    }
    ASSERT_EQ(buffers, 3);
    sim::fail_call("GlobalAlloc", allocation);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"A", "A1", "A11", "A2"}));
}

// Each entry as the controller it hangs below (its root hub's label, or for the bare mark the
// label of the controller with that letter in the full picture) and the rest of its path: a
// controller that its HCD name did not open may be walked under another letter through its
// interface, but is the same controller.
std::vector<std::string> walked(const std::map<char, std::string>& full_labels) {
    std::map<char, std::string> labels;
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& e = port_table.entries[i];
        if (e.is_hub && std::string(e.path).size() == 1)
            labels[e.path[0]] = std::string(e.driver_key) == "@" && full_labels.count(e.path[0])
                                    ? full_labels.at(e.path[0])
                                    : e.driver_key;
    }
    std::vector<std::string> result;
    for (int i = 0; i < port_table.count; ++i)
        result.push_back(labels[port_table.entries[i].path[0]] + "|" +
                         (port_table.entries[i].path + 1));
    return result;
}

// Every allocation, every control request and every simulated call in turn fails once, and
// then from there on: the scan never crashes, records only correct entries, walks no controller
// twice, and leaves nothing open (the fixture checks after the last run; each run is checked
// here).
TEST_F(UsbTopologyScanTest, AFailureAtAnyCallLeavesNothingOpen) {
    // Controller 2 has no HCD name: it is found through its interface.
    auto build = [] {
        auto& hc0 = sim::add_controller(0);
        auto& root = hc0.root_hub(2);
        root.add_hub(1, 4).add_adapter(2);
        root.add_adapter(2);
        sim::add_controller(1).root_hub(1);
        sim::UsbController& nameless = sim::add_controller(2);
        nameless.hcd_number.reset();
        nameless.root_hub(1).add_adapter(1);
    };
    sim::reset();
    build();
    scan_usb_topology();
    const long calls = sim::failable_call_count();
    ASSERT_EQ(paths(), (std::vector<std::string>{"A", "A1", "A12", "A2", "B", "C", "C1"}));
    std::map<char, std::string> full_labels = {{'A', port_table.entries[0].driver_key},
                                               {'B', port_table.entries[4].driver_key},
                                               {'C', port_table.entries[5].driver_key}};
    std::vector<std::string> full = walked(full_labels);

    for (bool persistent : {false, true}) {
        for (long k = 1; k <= calls; ++k) {
            sim::reset();
            build();
            sim::fail_global_call(k, persistent);
            scan_usb_topology();
            EXPECT_EQ(sim::open_summary(), "") << "call " << k;
            std::vector<std::string> now = walked(full_labels);
            for (const std::string& entry : now)
                EXPECT_NE(std::find(full.begin(), full.end(), entry), full.end()) << entry;
            std::sort(now.begin(), now.end());
            EXPECT_EQ(std::adjacent_find(now.begin(), now.end()), now.end()) << "call " << k;
        }
    }
}

TEST_F(UsbTopologyScanTest, TheDeviceTreeTellsTheSameStoryAsTheHubDriver) {
    auto& hc = sim::add_controller(0);
    auto& root = hc.root_hub(2);
    auto& adapter = root.add_adapter(2);
    scan_usb_topology();

    const sim::Node* controller = sim::node(hc.node);
    ASSERT_FALSE(controller->children.empty());
    EXPECT_EQ(controller->children.front(), root.node);
    EXPECT_EQ(sim::node(adapter.node)->instance_id, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&2");
    EXPECT_EQ(sim::node(adapter.node)->description, "Quorvale");
    EXPECT_EQ(sim::node(adapter.node)->parent, root.node);
    EXPECT_EQ(sim::node(adapter.function)->parent, adapter.node);
    EXPECT_EQ(sim::node(adapter.function)->instance_id.rfind("HID\\VID_0E1C&PID_0001\\6&", 0), 0u);
    EXPECT_STREQ(port_table.entries[0].driver_key, "@{36FC9E60-C465-11CF-8056-444553540000}\\0000");
    EXPECT_EQ(port_table.entries[1].driver_key, key_of(adapter.node));
    EXPECT_EQ(key_of(adapter.node).rfind("{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\", 0), 0u);
}

} // namespace

// The hub driver answers a controller whose root hub is removed or stopped with success and an
// empty name: that controller records nothing, and the next one is walked.
TEST_F(UsbTopologyScanTest, AControllerWithAStoppedRootHubRecordsNothing) {
    sim::add_controller(0);
    sim::add_controller(1).root_hub(2).add_adapter(2);
    scan_usb_topology();
    EXPECT_EQ(paths(), (std::vector<std::string>{"B", "B2"}));
    EXPECT_EQ(sim::open_summary(), "");
}
