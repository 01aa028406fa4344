// Fuzz target: the replies of the USB hub driver. The input describes host controllers and hub
// trees of any shape and depth, and how the driver answers each string query (a string of its
// own, UTF-16 outside the code page, no terminator, any ActualLength, failure). The topology scan,
// the plugged-adapter collection and the parent resolution run on it, then the invariants of the
// PortTable and the AdapterList are checked and nothing may be left open.
#include "fuzz/fuzz_support.h"

#include "install/install.h"

namespace {

enum {
    kDeviceBudget = 96, // devices in one machine, hubs included
    kLongestText = 600, // past the key room and a device path alike
    kControllerSlots = 10,
};

enum QueryBits : uint8_t {
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
    query.fails = bits & kQueryFails;
    query.unterminated = bits & kQueryUnterminated;
    if (bits & kQueryText)
        query.text = in.text(kLongestText);
    if (bits & kQueryWide)
        query.wide = in.wide_text(kLongestText);
    if (bits & kQueryActualLength)
        query.actual_length = in.word();
}

void build_hub(fuzz::Reader& in, sim::UsbHub& hub, int& budget) {
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
            sim::UsbHub& child = hub.add_hub(port, in.upto(255));
            device = child.upstream;
            read_query(in, device->hub_name);
            build_hub(in, child, budget);
        }
        read_query(in, device->driver_key);
        hub.port(port).connection_fails = bits & kConnectionFails;
        if (bits & kOddStatus)
            device->status = in.byte();
        if (bits & kUnplugged)
            hub.unplug(port);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::reset();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    int budget = kDeviceBudget;
    uint16_t controllers = in.word();
    for (int n = 0; n < kControllerSlots; ++n) {
        if (!(controllers & 1 << n))
            continue;
        sim::UsbController& hc = sim::add_controller(n);
        hc.opens = !(in.byte() & 1);
        read_query(in, hc.driver_key);
        read_query(in, hc.root_hub_name);
        build_hub(in, hc.root_hub(in.upto(255)), budget);
    }

    fuzz::arm(plan);
    adapter_list.count = 0;
    collect_plugged_adapters();
    fuzz::check_port_table();
    fuzz::sort_checked_adapter_list();
    reenumerate_adapter_hubs();
    fuzz::check_port_table();
    fuzz::end_run();
    return 0;
}
