// Boundaries of the USB topology's fixed buffers, each met by a text or table that needs one byte
// less than the room, exactly the room, and one byte more (a text of n characters needs n + 1
// bytes): driver keys, hub labels, hub device names, PortPaths, the PortTable, and the reply
// sizes that ActualLength announces.
#include <functional>
#include <string>
#include <vector>

#include "devices/adapter_list.h"
#include "install/install.h"
#include "tests/sim_test.h"
#include "usb/port_table.h"

namespace {

// The three sizes around a room: one less, the room itself, one more.
std::vector<int> around(int room) {
    return {room - 1, room, room + 1};
}

class BoundaryUsbTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        port_table.count = 0;
    }
    // Index of the entry with this path, or -1.
    static int entry_at(const std::string& path) {
        for (int i = 0; i < port_table.count; ++i)
            if (path == port_table.entries[i].path)
                return i;
        return -1;
    }
};

TEST_F(BoundaryUsbTest, ConnectionDriverKeyIsKeptWholeUpToItsRoomAndDroppedBeyond) {
    for (int needed : around(kKeyRoom)) {
        sim::reset();
        std::string key(static_cast<size_t>(needed - 1), 'K');
        sim::add_controller(0).root_hub(1).add_adapter(1).driver_key.text = key;
        scan_usb_topology();
        ASSERT_EQ(port_table.count, 2) << needed;
        EXPECT_EQ(port_table.entries[1].driver_key, needed <= kKeyRoom ? key : "") << needed;
    }
}

TEST_F(BoundaryUsbTest, HubLabelOfTheControllerKeyFallsBackToTheBareMarkBeyondItsRoom) {
    for (int needed : around(kKeyRoom)) {
        sim::reset();
        std::string key(static_cast<size_t>(needed - 2), 'C'); // the label is "@" and the key
        sim::UsbController& hc = sim::add_controller(0);
        hc.driver_key.text = key;
        hc.root_hub(1).add_adapter(1);
        scan_usb_topology();
        ASSERT_EQ(port_table.count, 2) << needed;
        std::string label = needed <= kKeyRoom ? "@" + key : "@";
        EXPECT_EQ(port_table.entries[0].driver_key, label) << needed;
        EXPECT_EQ(port_table.entries[1].parent_key, label) << needed;
    }
}

// "\\.\", the name and the terminator must fit a device path of MAX_PATH bytes.
TEST_F(BoundaryUsbTest, HubNameIsOpenedUpToTheLongestDevicePathOnly) {
    const int prefix_and_terminator = 5;
    for (int needed : around(MAX_PATH)) {
        for (bool external : {false, true}) {
            sim::reset();
            sim::UsbHub& root = sim::add_controller(0).root_hub(1);
            sim::UsbHub& hub = external ? root.add_hub(1, 1) : root;
            hub.name = std::string(static_cast<size_t>(needed - prefix_and_terminator), 'N');
            hub.add_adapter(1);
            scan_usb_topology();
            std::string adapter_path = external ? "A11" : "A1";
            EXPECT_EQ(entry_at(adapter_path) != -1, needed <= MAX_PATH)
                << needed << (external ? " external" : " root");
        }
    }
}

// A controller found only through its interface is opened by the interface path the Setup API
// gives, which with its terminator must fit a device path of MAX_PATH bytes as well.
TEST_F(BoundaryUsbTest, InterfacePathIsOpenedUpToTheLongestDevicePathOnly) {
    for (int needed : around(MAX_PATH)) {
        sim::reset();
        sim::UsbController& hc = sim::add_controller(0);
        hc.hcd_number.reset();
        hc.root_hub(1).add_adapter(1);
        const std::string path = hc.interface_name();
        const std::string& id = sim::node(hc.node)->instance_id;
        sim::rename_node(hc.node, id + std::string(needed - 1 - path.size(), 'I'));
        ASSERT_EQ(hc.interface_name().size() + 1, static_cast<size_t>(needed));
        scan_usb_topology();
        EXPECT_EQ(entry_at("A1") != -1, needed <= MAX_PATH) << needed;
    }
}

// A chain of hubs, each on port 1 of the one above with an adapter on port 2: adapters get
// paths of every length, and only those of at most nine characters are recorded.
TEST_F(BoundaryUsbTest, PortPathsAreRecordedUpToNineCharacters) {
    sim::UsbHub* hub = &sim::add_controller(0).root_hub(2);
    for (int tier = 1; tier <= kPortPathRoom + 1; ++tier) {
        hub->add_adapter(2);
        hub = &hub->add_hub(1, 2);
    }
    scan_usb_topology();
    for (int needed : around(kPortPathRoom)) {
        std::string path = "A" + std::string(static_cast<size_t>(needed - 3), '1') + "2";
        EXPECT_EQ(entry_at(path) != -1, needed <= kPortPathRoom) << path;
    }
    for (int i = 0; i < port_table.count; ++i)
        EXPECT_LE(std::string(port_table.entries[i].path).size(), 9u) << i;
}

// A hub driver that names an ancestor as the hub on a port makes the topology a cycle: the walk
// goes round it only as deep as a PortPath reaches.
TEST_F(BoundaryUsbTest, HubNamingItsOwnAncestorIsWalkedNoDeeperThanAPortPath) {
    sim::UsbHub& root = sim::add_controller(0).root_hub(2);
    root.add_hub(1, 1).upstream->hub_name.text = root.name;
    root.add_adapter(2);
    scan_usb_topology();

    std::vector<std::string> adapters;
    for (int i = 0; i < port_table.count; ++i)
        if (!port_table.entries[i].is_hub)
            adapters.push_back(port_table.entries[i].path);
    std::vector<std::string> expected;
    // Port 1 is descended before port 2 is looked at: the deepest adapter comes first.
    for (int depth = kPortPathRoom - 3; depth >= 0; --depth)
        expected.push_back("A" + std::string(static_cast<size_t>(depth), '1') + "2");
    EXPECT_EQ(adapters, expected);
}

// Ten root hubs with adapters enough to offer one entry less than the table's room, the room,
// and one more: the table keeps at most its room, in scan order, and the refresh's readers and
// the hub re-enumeration read no entry past it.
TEST_F(BoundaryUsbTest, PortTableKeepsAtMostItsRoomOfEntriesAndItsReadersStopThere) {
    const int ports_per_hub = 12;
    for (int offered : around(kPortTableRoom)) {
        sim::reset();
        int adapters = offered - kHostControllerCount;
        for (int n = 0; n < kHostControllerCount; ++n) {
            sim::UsbHub& root = sim::add_controller(n).root_hub(ports_per_hub);
            for (int port = 1; port <= ports_per_hub && adapters > 0; ++port, --adapters)
                root.add_adapter(port);
        }
        scan_usb_topology();
        EXPECT_EQ(port_table.count, offered <= kPortTableRoom ? offered : kPortTableRoom)
            << offered;
        // The last root hub's adapters sit on its ports from 1: the last recorded one names how
        // many of them fit.
        int kept = offered <= kPortTableRoom ? offered : kPortTableRoom;
        int last_port = kept - (kHostControllerCount - 1) * (ports_per_hub + 1) - 1;
        std::string last_path = std::string("J") + static_cast<char>('0' + last_port);
        EXPECT_EQ(port_table.entries[kept - 1].path, last_path) << offered;
        collect_plugged_adapters();
        EXPECT_EQ(adapter_list.count, kAdapterListRoom) << offered; // far fewer than plugged
        reenumerate_adapter_hubs();
        EXPECT_EQ(sim::count_calls("CM_Reenumerate_DevNode"), kHostControllerCount) << offered;
    }
}

// A reply counts only when the driver returned every byte of the field read from it: one that
// stops short of it counts as a failed request, whatever part of the field it brought. The
// hub's port count is byte 6 of its node information (a failed request records no hub), a
// port's ConnectionStatus ends at byte 35 of its connection information (a failed request skips
// the port), and ActualLength ends at byte 4 of a controller's string answer and at byte 8 of a
// port's (a failed request gives no key).
TEST_F(BoundaryUsbTest, AReplyCountsOnlyWhenItReachesTheFieldReadFromIt) {
    enum Outcome { kFailedRequest, kFieldRead, kNeither };
    struct Reply {
        const char* name;
        int field_end;
        std::function<void(sim::UsbController&, DWORD)> shorten;
        std::function<Outcome()> outcome;
    };
    const Reply replies[] = {
        {"node information", kNodeInformationPortCountOffset + 1,
         [](sim::UsbController& hc, DWORD length) { hc.root->node_info_length = length; },
         [] {
             return port_table.count == 2   ? kFieldRead
                    : port_table.count == 0 ? kFailedRequest
                                            : kNeither;
         }},
        {"connection information", kConnectionInformationStatusOffset + 4,
         [](sim::UsbController& hc, DWORD length) {
             hc.root->port(2).connection_info_length = length;
         },
         [] {
             return port_table.count == 2   ? kFieldRead
                    : port_table.count == 1 ? kFailedRequest
                                            : kNeither;
         }},
        {"controller's driver key", kHcdNameActualLengthOffset + 4,
         [](sim::UsbController& hc, DWORD length) { hc.driver_key.fixed_answer_length = length; },
         [] {
             if (port_table.count != 2)
                 return kNeither;
             return std::string(port_table.entries[0].driver_key) != "@" ? kFieldRead
                                                                         : kFailedRequest;
         }},
        {"port's driver key", kConnectionNameActualLengthOffset + 4,
         [](sim::UsbController& hc, DWORD length) {
             hc.root->device(2).driver_key.fixed_answer_length = length;
         },
         [] {
             if (port_table.count != 2)
                 return kNeither;
             return port_table.entries[1].driver_key[0] != '\0' ? kFieldRead : kFailedRequest;
         }},
    };
    for (const Reply& reply : replies) {
        for (int length : around(reply.field_end)) {
            SCOPED_TRACE(std::string(reply.name) + " of " + std::to_string(length) + " bytes");
            sim::reset();
            sim::UsbController& hc = sim::add_controller(0);
            hc.root_hub(2).add_adapter(2);
            reply.shorten(hc, static_cast<DWORD>(length));
            scan_usb_topology();
            EXPECT_EQ(reply.outcome(), length >= reply.field_end ? kFieldRead : kFailedRequest);
        }
    }
}

// The driver announces the reply size in ActualLength. Around the fixed part (10 bytes) there
// is no string; around the size the string needs, only a block that holds it all gives the key.
TEST_F(BoundaryUsbTest, ConnectionKeyNeedsABlockOfTheWholeReply) {
    const std::string key = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\0001";
    const int whole_reply =
        static_cast<int>(kConnectionNameStringOffset) + 2 * (static_cast<int>(key.size()) + 1);
    struct Case {
        int actual_length;
        std::string expected;
    };
    std::vector<Case> cases;
    for (int size : around(static_cast<int>(kConnectionNameFixedSize)))
        cases.push_back({size, ""});
    for (int size : around(whole_reply))
        cases.push_back({size, size >= whole_reply ? key : ""});
    for (const Case& c : cases) {
        sim::reset();
        sim::UsbDevice& adapter = sim::add_controller(0).root_hub(1).add_adapter(1);
        adapter.driver_key.text = key;
        adapter.driver_key.actual_length = static_cast<DWORD>(c.actual_length);
        scan_usb_topology();
        ASSERT_EQ(port_table.count, 2) << c.actual_length;
        EXPECT_EQ(port_table.entries[1].driver_key, c.expected) << c.actual_length;
    }
}

} // namespace
