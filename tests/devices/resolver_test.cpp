// Device-tree resolution: PortTable entries tied to device nodes by their driver keys, in entry
// mode (each entry its own node) and parent mode (each adapter its hub's node).
#include "tests/devices/machine.h"

namespace {

class DevicesResolveTest : public DevicesTest {
  protected:
    // Host controller "ctl0" with its root hub, an external hub on the root hub, one adapter on
    // each hub.
    void SetUp() override {
        DevicesTest::SetUp();
        root_hub = sim::add_controller_with_root_hub("ctl0", "roothub0");
        controller = sim::node(root_hub)->parent;
        external_hub = sim::add_node(root_hub, "", "hub1", "Generic USB Hub");
        adapter_on_root = sim::add_node(root_hub, "", "adp2", "Quorvale");
        adapter_on_external = sim::add_node(external_hub, "", "adp12", "Quorvale");
    }
    DEVINST controller = 0, root_hub = 0, external_hub = 0;
    DEVINST adapter_on_root = 0, adapter_on_external = 0;
};

TEST_F(DevicesResolveTest, EntryModeGivesEachEntryItsOwnNodeAndRootHubsTheControllersChild) {
    int hub_a = add_hub_entry("A", "@ctl0");
    int hub_a1 = add_hub_entry("A1", "hub1");
    int a12 = add_adapter_entry("A12", "hub1", "adp12");
    int a2 = add_adapter_entry("A2", "@ctl0", "adp2");

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(hub_a), root_hub);
    EXPECT_EQ(devnode_of(hub_a1), external_hub);
    EXPECT_EQ(devnode_of(a12), adapter_on_external);
    EXPECT_EQ(devnode_of(a2), adapter_on_root);
}

TEST_F(DevicesResolveTest, ParentModeGivesAdaptersTheirHubsNodeAndLeavesHubsAlone) {
    sim::add_node(root_hub, "", "adp3", "Quorvale");
    int hub_a = add_hub_entry("A", "@ctl0");
    int hub_a1 = add_hub_entry("A1", "hub1");
    int a12 = add_adapter_entry("A12", "hub1", "adp12");
    int a2 = add_adapter_entry("A2", "@ctl0", "adp2");
    int a3 = add_adapter_entry("A3", "@ctl0", "adp3");

    resolve_devnodes(1);

    EXPECT_EQ(devnode_of(hub_a), 0u);
    EXPECT_EQ(devnode_of(hub_a1), 0u);
    EXPECT_EQ(devnode_of(a12), external_hub);
    EXPECT_EQ(devnode_of(a2), root_hub);
    EXPECT_EQ(devnode_of(a3), root_hub);
}

TEST_F(DevicesResolveTest, EmptyKeysAndTheBareControllerMarkResolveNothing) {
    int hub_a = add_hub_entry("A", "@");
    int hub_x = add_hub_entry("A1", "");
    int unkeyed = add_adapter_entry("A2", "@", "");
    int on_unlabelled_hub = add_adapter_entry("A12", "", "adp12");

    resolve_devnodes(0);
    EXPECT_EQ(devnode_of(hub_a), 0u);
    EXPECT_EQ(devnode_of(hub_x), 0u);
    EXPECT_EQ(devnode_of(unkeyed), 0u);
    EXPECT_EQ(devnode_of(on_unlabelled_hub), adapter_on_external);

    port_table.entries[on_unlabelled_hub].devnode = 0;
    resolve_devnodes(1);
    EXPECT_EQ(devnode_of(unkeyed), 0u);
    EXPECT_EQ(devnode_of(on_unlabelled_hub), 0u);
}

TEST_F(DevicesResolveTest, KeysDifferingOnlyInLetterCaseDoNotMatch) {
    int hub_a = add_hub_entry("A", "@CTL0");
    int a2 = add_adapter_entry("A2", "@ctl0", "ADP2");

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(hub_a), 0u);
    EXPECT_EQ(devnode_of(a2), 0u);
}

TEST_F(DevicesResolveTest, FirstNodeInWalkOrderKeepsTheEntryAndResolvedEntriesStay) {
    // The same key below the external hub (visited first, depth first) and on a later sibling.
    DEVINST deep = sim::add_node(adapter_on_external, "", "twin");
    sim::add_node(sim::root_node(), "", "twin");
    int twin = add_adapter_entry("A3", "@ctl0", "twin");
    int preset = add_adapter_entry("A4", "@ctl0", "adp2");
    port_table.entries[preset].devnode = 77;

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(twin), deep);
    EXPECT_EQ(devnode_of(preset), 77u);
}

TEST_F(DevicesResolveTest, WalkVisitsEveryLiveNodeOnceAndPassesOverPhantoms) {
    sim::add_phantom(root_hub, "USB\\VID_0E1C&PID_0001\\old", "Quorvale", "adp9");
    int gone = add_adapter_entry("A9", "@ctl0", "adp9");

    resolve_devnodes(0); // an empty PortTable would walk the same way

    // root, controller, root hub, external hub and two adapters: one key read each.
    EXPECT_EQ(sim::count_calls("CM_Get_DevNode_Registry_PropertyA"), 6);
    EXPECT_EQ(devnode_of(gone), 0u);
}

TEST_F(DevicesResolveTest, TreeOfTheRootAloneEndsAtItsFailingParentLookup) {
    sim::reset();
    int hub_a = add_hub_entry("A", "@ctl0");

    resolve_devnodes(0);

    EXPECT_EQ(sim::count_calls("CM_Get_DevNode_Registry_PropertyA"), 1);
    EXPECT_EQ(sim::count_calls("CM_Get_Parent"), 1);
    EXPECT_EQ(devnode_of(hub_a), 0u);
}

TEST_F(DevicesResolveTest, RootThatCannotBeLocatedResolvesNothing) {
    int a2 = add_adapter_entry("A2", "@ctl0", "adp2");
    sim::fail_call("CM_Locate_DevNodeA", 1);

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(a2), 0u);
    EXPECT_EQ(sim::count_calls("CM_Get_Child"), 0);
}

TEST_F(DevicesResolveTest, UnreadableKeyPassesTheNodeOverAndTheWalkGoesOnBelowIt) {
    // The external hub's key cannot be read (third node in walk order): its adapter still is.
    int hub_a1 = add_hub_entry("A1", "hub1");
    int a12 = add_adapter_entry("A12", "hub1", "adp12");
    sim::fail_call("CM_Get_DevNode_Registry_PropertyA", 4);

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(hub_a1), 0u);
    EXPECT_EQ(devnode_of(a12), adapter_on_external);
}

TEST_F(DevicesResolveTest, KeyLongerThanThePropertyBufferMatchesNothing) {
    std::string long_key(600, 'k');
    sim::node(adapter_on_root)->driver_key = long_key;
    int a2 = add_adapter_entry("A2", "@ctl0", "kkk");

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(a2), 0u);
}

TEST_F(DevicesResolveTest, ControllerWithoutChildOrFailingChildLookupLeavesRootHubUnresolved) {
    sim::add_node(sim::root_node(), "", "ctl1"); // a controller with no root hub
    int hub_b = add_hub_entry("B", "@ctl1");
    int hub_a = add_hub_entry("A", "@ctl0");
    // The first child lookup is the walk's at the root; the second asks for ctl0's root hub.
    sim::fail_call("CM_Get_Child", 2);

    resolve_devnodes(0);

    EXPECT_EQ(devnode_of(hub_b), 0u);
    EXPECT_EQ(devnode_of(hub_a), 0u);
}

} // namespace
