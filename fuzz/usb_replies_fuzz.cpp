// Fuzz target: the replies of the USB hub driver. The input describes host controllers and hub
// trees of any shape and depth, and how the driver answers each string query (a string of its
// own, UTF-16 outside the code page, no terminator, any ActualLength, failure). The topology scan,
// the plugged-adapter collection and the parent resolution run on it, then the invariants of the
// PortTable and the AdapterList are checked and nothing may be left open. Where the hub names
// are the driver's own, a plain walk of the same machine gives the PortTable (paths, hubs, ports,
// order), the AdapterList (labels, kinds, order) and the hubs to re-enumerate, and the program's
// must equal them.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"

#include "install/install.h"

namespace {

enum {
    kDeviceBudget = 96, // devices in one machine, hubs included
    kPortBudget = 320,  // ports in one machine; past them a hub has at most 7
    kLongestText = 600, // past the key room and a device path alike
    // ActualLength up to here: past any reply of the longest text, while the program's blocks of
    // that size stay cheap (a block of tens of kilobytes costs the sanitizer more than a walk).
    kLongestActualLength = 4096,
    kControllerSlots = 10,
};

enum QueryBits : uint8_t {
    // Only a query whose first byte has these bits set answers in its own way below.
    kQueryOwnWay = 0xE0,
    kQueryFails = 1,
    kQueryUnterminated = 2,
    kQueryText = 4,
    kQueryWide = 8,
    kQueryActualLength = 16,
};

enum DeviceKind { kEmpty, kAdapter, kOther, kHub, kAdapterOutsideTree, kKindCount };

enum DeviceBits : uint8_t {
    kUnplugged = 0x08,
    kConnectionFails = 0x10,
    kOddStatus = 0x20,
};

enum HubBits : uint8_t {
    kHubRefusesOpen = 1,
    kNodeInformationFails = 2,
};

void read_query(fuzz::Reader& in, sim::UsbStringQuery& query) {
    uint8_t bits = in.byte();
    if ((bits & kQueryOwnWay) != kQueryOwnWay)
        return;
    query.fails = bits & kQueryFails;
    query.unterminated = bits & kQueryUnterminated;
    if (bits & kQueryText)
        query.text = in.text(kLongestText);
    if (bits & kQueryWide)
        query.wide = in.wide_text(kLongestText);
    if (bits & kQueryActualLength)
        query.actual_length = in.word() % (kLongestActualLength + 1);
}

// A hub's port count: mostly a few ports; up to 255 when the first byte's top four bits are set,
// while the machine's budget of ports lasts. Hubs with hundreds of ports cost the most to walk,
// so that few inputs walk them (and most inputs run fast).
const uint8_t kWideHubMark = 0xF0;

int port_count(fuzz::Reader& in, int& ports_left) {
    uint8_t first = in.byte();
    int count = first % 8;
    if ((first & kWideHubMark) == kWideHubMark) {
        int wanted = in.byte();
        if (wanted <= ports_left)
            count = wanted;
    }
    ports_left -= count;
    return count;
}

void build_hub(fuzz::Reader& in, sim::UsbHub& hub, int& budget, int& ports_left) {
    uint8_t hub_bits = in.byte();
    hub.opens = !(hub_bits & kHubRefusesOpen);
    hub.node_info_fails = hub_bits & kNodeInformationFails;
    for (int port = 1; port <= hub.port_count() && budget > 0 && !in.empty(); ++port) {
        uint8_t bits = in.byte();
        int kind = (bits & 0x07) % kKindCount;
        if (kind == kEmpty) {
            hub.port(port).connection_fails = bits & kConnectionFails;
            continue;
        }
        --budget;
        sim::UsbDevice* device = nullptr;
        if (kind == kAdapter || kind == kAdapterOutsideTree) {
            device = &hub.add_adapter(port, kind == kAdapter,
                                      in.byte() & 1 ? "Quorvale (x)" : "Quorvale");
        } else if (kind == kOther) {
            device = &hub.add_device(port, in.word(), in.word());
        } else {
            sim::UsbHub& child = hub.add_hub(port, port_count(in, ports_left));
            device = child.upstream;
            read_query(in, device->hub_name);
            build_hub(in, child, budget, ports_left);
        }
        read_query(in, device->driver_key);
        hub.port(port).connection_fails = bits & kConnectionFails;
        if (bits & kOddStatus)
            device->status = in.byte();
        if (bits & kUnplugged)
            hub.unplug(port);
    }
}

bool plain(const sim::UsbStringQuery& query) {
    return !query.fails && !query.text && !query.wide && !query.actual_length &&
           !query.unterminated;
}

// The plain walk: what the scan must record for a machine whose hub names are the driver's own.
struct Expected {
    struct Entry {
        std::string path;
        bool is_hub = false;
        int parent = 0;
        int port = 0;
        const sim::UsbDevice* device = nullptr; // an adapter's device
        const sim::UsbHub* hub = nullptr;       // the hub an adapter hangs on, or the hub itself
    };
    std::vector<Entry> entries;
    bool known = true; // false: a hub name of the driver's own way; nothing to compare
};

const int kLongestPath = kPortPathRoom - 1;
const int kLastLabelledPort = 0xFF - '0';

void walk_hub(const sim::UsbHub& hub, const std::string& path, Expected& expected) {
    if (static_cast<int>(expected.entries.size()) >= kPortTableRoom || !hub.opens ||
        hub.node_info_fails)
        return;
    int index = static_cast<int>(expected.entries.size());
    expected.entries.push_back({path, true, 0, 0, nullptr, &hub});
    int last = static_cast<int>(path.size()) + 1 > kLongestPath ? 0 : hub.port_count();
    last = std::min(last, kLastLabelledPort);
    for (int i = 1; i <= last && static_cast<int>(expected.entries.size()) < kPortTableRoom; ++i) {
        const sim::UsbPort& port = hub.ports[static_cast<size_t>(i - 1)];
        const sim::UsbDevice* device = port.device.get();
        if (port.connection_fails || !device || !device->plugged)
            continue;
        std::string child = path + static_cast<char>('0' + i);
        if (device->vendor == sim::kUsbAdapterVendor && device->product == sim::kUsbAdapterProduct)
            expected.entries.push_back({child, false, index, i, device, &hub});
        if (!device->is_hub())
            continue;
        if (!plain(device->hub_name))
            expected.known = false;
        else
            walk_hub(*device->hub, child, expected);
    }
}

Expected plain_walk() {
    Expected expected;
    for (int n = 0; n < kControllerSlots; ++n) {
        const sim::UsbController* hc = sim::controller(n);
        if (!hc || !hc->opens)
            continue;
        if (!plain(hc->root_hub_name))
            expected.known = false;
        else if (hc->root)
            walk_hub(*hc->root, std::string(1, static_cast<char>('A' + n)), expected);
    }
    return expected;
}

// The DriverKind of an adapter whose key the driver reports as its own; -1 when unknown.
int expected_kind(const sim::UsbDevice& device) {
    // The driver key is asked only of a port whose status is not NoDeviceConnected.
    if (device.status == 0)
        return NoDriver;
    if (!plain(device.driver_key))
        return -1;
    const sim::Node* node = device.node ? sim::node(device.node) : nullptr;
    if (!node)
        return NoDriver;
    const std::string description = node->description.value_or("");
    return description.rfind("Quorvale (", 0) == 0 ? Rumble
           : description == "Quorvale"             ? NoDriver
                                                   : Generic;
}

// The instance ID of the hub node an adapter's hub label resolves to; "" when the label is
// empty (the hub's port reported no device status, so no key was asked), "?" when the driver
// answers the key its own way.
std::string hub_instance(const sim::UsbHub& hub) {
    const sim::UsbDevice* upstream = hub.upstream;
    if (upstream && upstream->status == 0)
        return "";
    const sim::UsbStringQuery& key = upstream ? upstream->driver_key : hub.controller->driver_key;
    if (!plain(key) || !sim::node(hub.node))
        return "?";
    return sim::node(hub.node)->instance_id;
}

void compare_port_table(const Expected& expected) {
    if (port_table.count != static_cast<int>(expected.entries.size()))
        fuzz::broken("PortTable entries against the plain walk",
                     std::to_string(port_table.count) + " against " +
                         std::to_string(expected.entries.size()));
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& entry = port_table.entries[i];
        const Expected::Entry& want = expected.entries[static_cast<size_t>(i)];
        if (entry.path != want.path || (entry.is_hub != 0) != want.is_hub ||
            (!want.is_hub && (entry.parent_index != want.parent || entry.port != want.port)))
            fuzz::broken("PortTable entry against the plain walk",
                         std::string(entry.path) + " against " + want.path);
    }
}

void compare_adapter_list(const Expected& expected) {
    std::vector<std::pair<std::string, int>> adapters; // label, kind
    // The list takes the first adapters of the table, as many as its room holds.
    for (const Expected::Entry& entry : expected.entries)
        if (!entry.is_hub && static_cast<int>(adapters.size()) < kAdapterListRoom)
            adapters.push_back({entry.path, expected_kind(*entry.device)});
    std::sort(adapters.begin(), adapters.end(), [](const auto& a, const auto& b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size()
                                                : a.first < b.first;
    });
    if (adapter_list.count != static_cast<int>(adapters.size()))
        fuzz::broken("AdapterList entries against the plain walk",
                     std::to_string(adapter_list.count) + " against " +
                         std::to_string(adapters.size()));
    for (int i = 0; i < adapter_list.count; ++i) {
        const AdapterEntry& entry = adapter_list.entries[i];
        const auto& want = adapters[static_cast<size_t>(i)];
        if (entry.label != want.first || entry.plugged != 1 ||
            (want.second >= 0 && entry.kind != want.second))
            fuzz::broken("AdapterList entry against the plain walk",
                         std::string(entry.label) + " against " + want.first);
    }
}

// The hubs re-enumerated: each run of adapters on one hub, in table order, once.
void compare_reenumerated(const Expected& expected, const std::vector<DEVINST>& nodes) {
    std::vector<std::string> want;
    std::string last;
    for (const Expected::Entry& entry : expected.entries) {
        if (entry.is_hub)
            continue;
        std::string hub = hub_instance(*entry.hub);
        if (hub == "?")
            return;
        if (hub.empty())
            continue;
        if (hub != last)
            want.push_back(hub);
        last = hub;
    }
    std::vector<std::string> got;
    for (DEVINST node : nodes)
        got.push_back(sim::node(node) ? sim::node(node)->instance_id : "?");
    if (got != want)
        fuzz::broken("hubs re-enumerated against the plain walk",
                     std::to_string(got.size()) + " against " + std::to_string(want.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    int budget = kDeviceBudget;
    int ports_left = kPortBudget;
    uint16_t controllers = in.word();
    for (int n = 0; n < kControllerSlots; ++n) {
        if (!(controllers & 1 << n))
            continue;
        sim::UsbController& hc = sim::add_controller(n);
        hc.opens = !(in.byte() & 1);
        read_query(in, hc.driver_key);
        read_query(in, hc.root_hub_name);
        build_hub(in, hc.root_hub(port_count(in, ports_left)), budget, ports_left);
    }

    Expected expected = plain_walk();
    bool compare = expected.known && !plan.planned;
    fuzz::arm(plan);
    adapter_list.count = 0;
    collect_plugged_adapters();
    fuzz::check_port_table();
    if (compare)
        compare_port_table(expected);
    fuzz::sort_checked_adapter_list();
    if (compare)
        compare_adapter_list(expected);
    std::vector<DEVINST> reenumerated;
    sim::on_reenumerate([&reenumerated](DEVINST node) { reenumerated.push_back(node); });
    reenumerate_adapter_hubs();
    fuzz::check_port_table();
    fuzz::end_run();
    if (compare)
        compare_reenumerated(expected, reenumerated);
    return 0;
}
