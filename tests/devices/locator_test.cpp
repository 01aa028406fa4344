// The configured-adapter locator: the port label derived from an instance ID while climbing the
// device tree, the duplicate test against plugged-in adapters, and the bounds of its buffers.
#include "tests/devices/machine.h"

namespace {

const char kInnerHubId[] = "USB\\VID_ABCD&PID_1234\\6&2C3D&0&1";
const char kInnerBusAdapterId[] = "USB\\VID_0E1C&PID_0001\\3USB&VID_ABCD&PID_1234&6&2C3D&0&1";

// The worked examples' machine: root hubs A (node RA) and B (node RB), an external hub A1 (node
// H1) on port 1 of A, and an adapter plugged into A2. The examples' failing parent lookups are
// those of Windows before 8, where a device that is not present has no parent.
class DevicesLocatorTest : public DevicesTest {
  protected:
    void SetUp() override {
        DevicesTest::SetUp();
        sim::set_parent_rule(sim::ParentRule::BeforeWindows8);
        ra = sim::add_controller_with_root_hub("ctlA", "hubA");
        rb = sim::add_controller_with_root_hub("ctlB", "hubB");
        add_hub_entry("A", "@ctlA", ra);
        add_hub_entry("B", "@ctlB", rb);
        add_adapter_entry("A2", "@ctlA", "adp2");
    }
    // The external hub A1, carrying this instance ID.
    void add_external_hub(const std::string& instance_id) {
        h1 = sim::add_node(ra, instance_id, "hub1", "Generic USB Hub");
        add_hub_entry("A1", "hubA", h1);
    }
    // Locates an instance below parent: present, or a phantom whose parent lookup fails.
    void locate(DEVINST parent, const std::string& id, bool present,
                std::optional<std::string> description = "Quorvale") {
        DEVINST node = sim::add_node(parent, id, std::nullopt, description, present);
        locate_configured_adapter(id.c_str(), node);
    }
    DEVINST ra = 0, rb = 0, h1 = 0;
};

TEST_F(DevicesLocatorTest, InstanceOfAPluggedInPortAddsNothing) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&2", true);
    EXPECT_EQ(listed(), "");
}

TEST_F(DevicesLocatorTest, InstanceBelowARootHubIsListedAsNotPluggedIn) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&3", true, "Quorvale (rumble)");
    EXPECT_EQ(listed(), "A3 configured rumble");
}

TEST_F(DevicesLocatorTest, FailingParentLookupGivesTheStarAndTheLastCharacter) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&4", false);
    EXPECT_EQ(listed(), "*4 configured no");
    EXPECT_EQ(sim::count_calls("CM_Locate_DevNodeA"), 0);
}

// From Windows 8 on, the same instance is found at its hub through its last parent.
TEST_F(DevicesLocatorTest, UnpluggedInstanceReachesItsLastParentFromWindowsEightOn) {
    sim::set_parent_rule(sim::ParentRule::Windows8);
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&4", false);
    locate(ra, kInnerBusAdapterId, false);
    EXPECT_EQ(listed(), "A4 configured no, A3 configured no");
}

TEST_F(DevicesLocatorTest, InnerUsbIdentifierIsRewrittenAndLocatesTheHub) {
    add_external_hub(kInnerHubId);

    locate(ra, kInnerBusAdapterId, false, "USB Input Device");

    EXPECT_EQ(listed(), "A13 configured generic");
    auto lookups = sim::calls_of("CM_Locate_DevNodeA");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0].args, std::string(kInnerHubId) + " flags=0x1");
}

TEST_F(DevicesLocatorTest, LocatedNodeThatIsNoHubClimbsOnWithTheNextCharacter) {
    add_external_hub("USB\\VID_FFFF&PID_0002\\1");
    sim::add_node(ra, kInnerHubId, "other");

    locate(rb, kInnerBusAdapterId, false);

    EXPECT_EQ(listed(), "A13 configured no");
}

// After a failed lookup no node is known any more: an identifier later in the ID, even one that
// names a hub, is not looked up.
TEST_F(DevicesLocatorTest, FailingIdentifierLookupEndsWithTheStarLabel) {
    locate(ra, kInnerBusAdapterId, false);
    add_external_hub(kInnerHubId);
    locate(ra, "USB\\VID_0E1C&PID_0001\\9USB&VID_DEAD&PID_0009&2&1USB&VID_ABCD&PID_1234&6&2C3D&0&1",
           false);
    EXPECT_EQ(listed(), "*13 configured no, *119 configured no");
    EXPECT_EQ(sim::count_calls("CM_Locate_DevNodeA"), 2);
}

TEST_F(DevicesLocatorTest, OnlyAWholeUsbMarksAnInnerIdentifier) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\7XSB&1", false);
    locate(ra, "USB\\VID_0E1C&PID_0001\\7USX&2", false);
    EXPECT_EQ(listed(), "*1 configured no, *2 configured no");
    EXPECT_EQ(sim::count_calls("CM_Locate_DevNodeA"), 0);
}

// A rescan after a hub or an adapter went away leaves its old entry past the table's end; the
// locator takes it neither for a hub nor for a plugged-in adapter.
TEST_F(DevicesLocatorTest, EntriesPastTheTablesEndAreNotMatched) {
    add_external_hub(kInnerHubId); // A1 and then gone
    port_table.count -= 1;
    locate(h1, "USB\\VID_0E1C&PID_0001\\7&2C3D&0&2", true);

    add_adapter_entry("A3", "@ctlA", "adp3"); // plugged into A3 and then gone
    port_table.count -= 1;
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&3", true);

    EXPECT_EQ(listed(), "*2 configured no, A3 configured no");
}

TEST_F(DevicesLocatorTest, InnerUsbNotFollowedByAmpersandIsNotLookedUp) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\7USB9", false);
    EXPECT_EQ(listed(), "*97 configured no");
    EXPECT_EQ(sim::count_calls("CM_Locate_DevNodeA"), 0);
}

TEST_F(DevicesLocatorTest, AmpersandNearTheEndCountsAsNotFollowedByUnderscore) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\3USB&AB&C", false);
    auto lookups = sim::calls_of("CM_Locate_DevNodeA");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0].args, "USB\\AB\\C flags=0x1");
    EXPECT_EQ(listed(), "*C3 configured no");
}

TEST_F(DevicesLocatorTest, PortsTenAndUpGiveTheCharacterTheScanLabelsThemWith) {
    add_external_hub("USB\\VID_ABCD&PID_1234\\5&1F2E3D4C&0&1");
    for (DEVINST hub : {ra, h1})
        for (const char* port : {"10", "12", "19", "207"})
            locate(hub, std::string("USB\\VID_0E1C&PID_0001\\5&2A&0&") + port, true);
    EXPECT_EQ(listed(),
              "A: configured no, A< configured no, AC configured no, A\xFF configured no, "
              "A1: configured no, A1< configured no, A1C configured no, "
              "A1\xFF configured no");
}

TEST_F(DevicesLocatorTest, PluggedAdaptersOnPortsTenAndUpAreNotListedAgain) {
    add_external_hub("USB\\VID_ABCD&PID_1234\\5&1F2E3D4C&0&1");
    add_adapter_entry("A:", "@ctlA", "adp10");
    add_adapter_entry("A1<", "hubA", "adp12");
    add_adapter_entry("A1\xFF", "hubA", "adp207");

    locate(ra, "USB\\VID_0E1C&PID_0001\\5&2A&0&10", true);
    locate(h1, "USB\\VID_0E1C&PID_0001\\5&2B&0&12", true);
    locate(h1, "USB\\VID_0E1C&PID_0001\\5&2B&0&207", true);
    // Port 12 of the root hub is not port 2, whose adapter is plugged in.
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&2A&0&12", true);

    EXPECT_EQ(listed(), "A< configured no");
}

TEST_F(DevicesLocatorTest, PortNumberEndsTheLabelAlsoWithoutAHub) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&2A&0&12", false);
    // The inner identifier names the hub's own port 10 at the end of the ID.
    locate(ra, "USB\\VID_0E1C&PID_0001\\3USB&VID_ABCD&PID_1234&6&2C3D&0&10", false);
    EXPECT_EQ(listed(), "*< configured no, *:3 configured no");
}

TEST_F(DevicesLocatorTest, EndingsThatNameNoLabelledPortKeepTheLastCharacter) {
    const char* const endings[] = {
        "5&2A&0&208",  // beyond the last port the scan labels
        "5&2A&0&1012", // four digits
        "5&2A&0&012",  // a leading zero: not a port number as Windows writes it
        "5&2A&0&0",    // port 0 does not exist
        "SERIAL12",    // a serial number, no '&' before the digits
        "5&2A&0&12X",  // no digits at the end
    };
    for (const char* ending : endings)
        locate(rb, std::string("USB\\VID_0E1C&PID_0001\\") + ending, true);
    locate(rb, "USB\\VID_0E1C&PID_0001\\5&2A&0&", true); // an '&' and no port number
    locate(rb, "12", true); // digits alone, without the '&' before them
    // The parent lookup fails and the identifier is rewritten to USB\VID_ABCD&PID_1234\12, whose
    // end is a serial number.
    locate(rb, "USB\\VID_0E1C&PID_0001\\3USB&VID_ABCD&PID_1234&12", false);
    EXPECT_EQ(listed(), "B8 configured no, B2 configured no, B2 configured no, B0 configured no, "
                        "B2 configured no, BX configured no, B& configured no, B2 configured no, "
                        "*23 configured no");
}

// An ID that is nothing but the port ending still names the port.
TEST_F(DevicesLocatorTest, IdOfOnlyAPortEndingNamesThePort) {
    locate(rb, "&12", true);
    EXPECT_EQ(listed(), "B< configured no");
}

TEST_F(DevicesLocatorTest, EqualDerivedLabelsAreBothListed) {
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1&0&4", false);
    locate(rb, "USB\\VID_0E1C&PID_0001\\6&2&0&4", false, "Quorvale (x)");
    EXPECT_EQ(listed(), "*4 configured no, *4 configured rumble");
}

TEST_F(DevicesLocatorTest, PluggedAdapterUnderAnUnresolvedHubIsListedAgainWithAStar) {
    // The adapter on A2 is plugged in, but its root hub's node is not in the PortTable.
    port_table.entries[0].devnode = 0;
    locate(ra, "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&2", true);
    EXPECT_EQ(listed(), "*2 configured no");
}

TEST_F(DevicesLocatorTest, IdOfMoreThan499CharactersIsPassedOver) {
    std::string prefix = "USB\\VID_0E1C&PID_0001\\";
    locate(ra, prefix + std::string(499 - prefix.size() - 1, '0') + "3", true);
    EXPECT_EQ(listed(), "A3 configured no");

    locate(ra, prefix + std::string(500 - prefix.size() - 1, '0') + "5", true);
    EXPECT_EQ(listed(), "A3 configured no");
}

TEST_F(DevicesLocatorTest, OverlongLabelKeepsItsLastTenCharactersBehindAMark) {
    // Every inner "USB" adds a character, nearest the adapter last: "*zonmlkjihgfedcba".
    std::string id = "USB\\VID_0E1C&PID_0001\\";
    for (char ch = 'a'; ch < 'p'; ++ch)
        id += std::string(1, ch) + "USB";
    id += "z";
    locate(ra, id, false);
    EXPECT_EQ(listed(), "~jihgfedcba configured no");
}

TEST_F(DevicesLocatorTest, LabelLongerThanItsBuildingRoomIsCutAtTheFront) {
    std::string id = "USB\\VID_0E1C&PID_0001\\";
    for (int i = 0; i < 110; ++i)
        id += std::string(1, static_cast<char>('0' + i % 10)) + "USB";
    id += "z";
    ASSERT_LT(id.size(), 500u);
    locate(ra, id, false);
    EXPECT_EQ(listed(), "~9876543210 configured no");
}

} // namespace
