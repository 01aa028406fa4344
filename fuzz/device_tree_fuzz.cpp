// Fuzz target: the device instance ID list and the device tree. The input describes nodes with
// instance IDs of any length and content ("USB" anywhere in them), driver keys and descriptions
// of any length, phantoms whose parent lookup fails, IDs listed without a node, a cut list, and
// the PortTable that the walk meets. The instance walk (scan or remove mode), the sort and the
// device-tree resolution run on it; the AdapterList and PortTable must stay within their room and
// nothing may be left open.
#include <vector>

#include "fuzz/fuzz_support.h"

#include "platform/text.h"

namespace {

enum {
    kNodeBudget = 24,
    kLongestId = 700,       // past the 500-byte working copy
    kLongestProperty = 600, // past the 512-byte property buffer
    kLongestKey = 250,      // past the 200-byte key room
    kListedBudget = 4,
};

const char* const kPrefixes[] = {
    "USB\\VID_0E1C&PID_0001\\", "HID\\VID_0E1C&PID_0001\\", "USB\\Vid_0e1c&Pid_0001\\",
    "HID\\Vid_0e1c&Pid_0001\\", "USB\\ROOT_HUB\\",          "",
};
const char* const kInsertions[] = {"USB&", "USB\\", "USB", "&PID_", "\\"};

enum TreeBits : uint8_t {
    kRemoveMode = 1,
    kParentMode = 2,
    kCutList = 4,
    kParentLookupsFail = 8,
    kFullList = 16,
};

enum NodeBits : uint8_t {
    kPhantom = 1,
    kHasDriverKey = 2,
    kHasDescription = 4,
};

// An instance ID: one of the prefixes, any bytes, then inner "USB" pieces put anywhere.
std::string read_id(fuzz::Reader& in) {
    std::string id = kPrefixes[in.byte() % (sizeof kPrefixes / sizeof kPrefixes[0])];
    id += in.text(kLongestId);
    for (int insertions = in.byte() % 4; insertions > 0; --insertions) {
        const char* piece = kInsertions[in.byte() % (sizeof kInsertions / sizeof kInsertions[0])];
        size_t at = id.empty() ? 0 : in.word() % (id.size() + 1);
        id.insert(at, piece);
    }
    return id;
}

void read_port_table(fuzz::Reader& in, const std::vector<DEVINST>& nodes) {
    port_table.count = in.upto(12);
    for (int i = 0; i < port_table.count; ++i) {
        PortEntry& entry = port_table.entries[i];
        entry = PortEntry();
        entry.is_hub = i == 0 || (in.byte() & 1);
        entry.parent_index = 0;
        DEVINST pick = nodes[in.byte() % nodes.size()];
        entry.devnode = in.byte() & 1 ? pick : 0;
        text_copy(entry.path, kPortPathRoom, in.text(kPortPathRoom - 1).c_str());
        text_copy(entry.driver_key, kKeyRoom, in.text(kLongestKey).c_str());
        text_copy(entry.parent_key, kKeyRoom, in.text(kLongestKey).c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    uint8_t tree_bits = in.byte();

    std::vector<DEVINST> nodes = {sim::root_node()};
    for (int count = in.upto(kNodeBudget); count > 0 && !in.empty(); --count) {
        uint8_t bits = in.byte();
        DEVINST parent = nodes[in.byte() % nodes.size()];
        std::string id = read_id(in);
        std::optional<std::string> key;
        std::optional<std::string> description;
        if (bits & kHasDriverKey)
            key = in.text(kLongestProperty);
        if (bits & kHasDescription)
            description = in.text(kLongestProperty);
        nodes.push_back(sim::add_node(parent, id, key, description, !(bits & kPhantom)));
    }
    for (int count = in.upto(kListedBudget); count > 0 && !in.empty(); --count)
        sim::add_listed_instance(read_id(in));
    if (tree_bits & kCutList)
        sim::cut_device_id_list(in.upto(8));
    read_port_table(in, nodes);
    const int table_count = port_table.count;

    // A list already near its end, so that the walk meets a full list.
    adapter_list.count = 0;
    if (tree_bits & kFullList)
        while (adapter_list.count < kAdapterListRoom - 2)
            append_adapter_entry(1, "Z9", Generic);

    if (tree_bits & kParentLookupsFail)
        sim::fail_calls_from("CM_Get_Parent", 1 + in.byte() % 4);
    fuzz::arm(plan);
    walk_adapter_instances(tree_bits & kRemoveMode);
    fuzz::sort_checked_adapter_list();
    resolve_devnodes((tree_bits & kParentMode) != 0);

    if (port_table.count != table_count)
        fuzz::broken("PortTable count changed by the walk");
    fuzz::end_run();
    return 0;
}
