// Fuzz target: the device instance ID list and the device tree. The input describes nodes with
// instance IDs of any length and content ("USB" anywhere in them), driver keys and descriptions
// of any length, phantoms whose parent lookup fails, IDs listed without a node, a cut list, and
// the PortTable that the walk meets. The instance walk (scan or remove mode), the sort and the
// device-tree resolution run on it; the AdapterList and PortTable must stay within their room and
// nothing may be left open. On a run without planned failures, what the walk appended and removed
// and the nodes the resolution gave must be what a plain reading of the rules gives on the same
// machine.
#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <string>
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

// ---- the plain reading ------------------------------------------------------------------------
// Computed from the machine's own answers (the ID list, the tree lookups, the properties), with
// the rules written out again over std::string and small tables, never with the program's code.
namespace plain {

const char* const kAdapterPrefixes[] = {"HID\\VID_0E1C&PID_0001\\", "USB\\VID_0E1C&PID_0001\\",
                                        "HID\\Vid_0e1c&Pid_0001\\", "USB\\Vid_0e1c&Pid_0001\\"};
const size_t kPrefixLength = 22;
const size_t kLongestId = 499;   // the working copy's room less its terminator
const size_t kLongestShown = 11; // an AdapterEntry's label
const size_t kShownTail = 10;    // what a longer label keeps behind its "~"
const int kHighestPort = 207;    // the last port whose label is one character
const int kPropertyBytes = 512;

bool is_adapter_instance(const std::string& id) {
    for (const char* prefix : kAdapterPrefixes)
        if (id.compare(0, kPrefixLength, prefix) == 0 && id.size() >= kPrefixLength)
            return true;
    return false;
}

// The IDs of the machine's list as the walk reads them: each up to its terminator, the list up to
// the first empty ID, an ID that runs into the end of the block left out.
std::vector<std::string> listed_ids() {
    std::vector<std::string> ids;
    ULONG size = 0;
    if (CM_Get_Device_ID_List_SizeA(&size, nullptr, 0) != CR_SUCCESS || size == 0)
        return ids;
    std::vector<char> block(size, '\0');
    if (CM_Get_Device_ID_ListA(nullptr, block.data(), size, 0) != CR_SUCCESS)
        return ids;
    size_t at = 0;
    while (at < size && block[at] != '\0') {
        const void* end = std::memchr(block.data() + at, '\0', size - at);
        if (!end)
            break;
        size_t length = static_cast<const char*>(end) - (block.data() + at);
        ids.emplace_back(block.data() + at, length);
        at += length + 1;
    }
    return ids;
}

// A text property as the program may use it: the whole text and its terminator within 512 bytes.
std::optional<std::string> property(DEVINST node, ULONG which) {
    char buffer[kPropertyBytes];
    ULONG length = kPropertyBytes;
    if (CM_Get_DevNode_Registry_PropertyA(node, which, nullptr, buffer, &length, 0) != CR_SUCCESS)
        return std::nullopt;
    if (length > static_cast<ULONG>(kPropertyBytes))
        return std::nullopt;
    size_t end = 0;
    while (end < length && buffer[end] != '\0')
        ++end;
    if (end == static_cast<size_t>(kPropertyBytes))
        return std::nullopt; // fills the buffer without a terminator
    return std::string(buffer, end);
}

DriverKind kind_of(DEVINST node) {
    std::optional<std::string> description = property(node, CM_DRP_DEVICEDESC);
    if (!description)
        return NoDriver;
    if (description->rfind("Quorvale (", 0) == 0)
        return Rumble;
    return *description == "Quorvale" ? NoDriver : Generic;
}

// The character of the tier that the ID's end names: the decimal port number after its last '&'
// (1 to 3 digits, no leading zero, a port the scan labels) as the scan labels it, else the last
// character.
char ending_character(const std::string& work) {
    size_t digits = 0;
    while (digits < work.size() &&
           std::isdigit(static_cast<unsigned char>(work[work.size() - 1 - digits])))
        ++digits;
    char last = work.back();
    if (digits < 1 || digits > 3 || digits == work.size())
        return last;
    size_t first = work.size() - digits;
    if (work[first - 1] != '&' || work[first] == '0')
        return last;
    int port = std::stoi(work.substr(first));
    return port <= kHighestPort ? static_cast<char>('0' + port) : last;
}

// The first hub entry of the table for each node.
std::map<DEVINST, std::string> hub_paths() {
    std::map<DEVINST, std::string> paths;
    for (int i = port_table.count - 1; i >= 0; --i)
        if (port_table.entries[i].is_hub)
            paths[port_table.entries[i].devnode] = port_table.entries[i].path;
    return paths;
}

// The label derived for a configured USB instance: one character of the ID per tier climbed,
// the hub's path in front once a hub of the table is reached, "*" in front when none is.
std::string derived_label(std::string work, DEVINST node) {
    if (work.empty())
        return "*";
    const std::map<DEVINST, std::string> hubs = hub_paths();
    std::string label;
    DEVINST current = node;
    size_t cursor = 0;
    for (;;) {
        cursor = work.find("USB", cursor + 1);
        bool at_end = cursor == std::string::npos;
        if (at_end)
            cursor = work.size();
        label.insert(label.begin(), at_end ? ending_character(work) : work[cursor - 1]);
        if (current != 0) {
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, current, 0) == CR_SUCCESS) {
                current = parent;
            } else {
                current = 0;
                if (!at_end && cursor + 3 < work.size() && work[cursor + 3] == '&') {
                    work[cursor + 3] = '\\';
                    for (size_t at = cursor + 4; at < work.size(); ++at) {
                        if (work[at] == '&' && (at + 4 >= work.size() || work[at + 4] != '_')) {
                            work[at] = '\\';
                            break;
                        }
                    }
                    DEVINST found = 0;
                    std::string identifier = work.substr(cursor);
                    if (CM_Locate_DevNodeA(&found, &identifier[0], CM_LOCATE_DEVNODE_PHANTOM) ==
                        CR_SUCCESS)
                        current = found;
                }
            }
        }
        if (current != 0) {
            auto hub = hubs.find(current);
            if (hub != hubs.end())
                return hub->second + label;
        }
        if (at_end)
            return "*" + label;
    }
}

struct Appended {
    std::string label;
    DriverKind kind;
};

// What the scan-mode walk appends, in order, to a list that holds `count` entries.
std::vector<Appended> scan_walk(int count) {
    std::vector<Appended> appended;
    for (const std::string& id : listed_ids()) {
        if (!is_adapter_instance(id) || id[0] != 'U')
            continue;
        DEVINST node = sim::find_node(id);
        if (node == 0 || id.size() > kLongestId)
            continue;
        std::string label = derived_label(id, node);
        if (label.size() > kLongestShown)
            label = "~" + label.substr(label.size() - kShownTail);
        bool plugged = false;
        for (int i = 0; i < port_table.count; ++i)
            plugged =
                plugged || (!port_table.entries[i].is_hub && label == port_table.entries[i].path);
        if (plugged)
            continue;
        if (count + static_cast<int>(appended.size()) < kAdapterListRoom)
            appended.push_back({label, kind_of(node)});
    }
    return appended;
}

// The nodes that the resolution gives the table's entries: the first node of the live tree, in
// pre-order, whose driver key is the entry's key (for a key that names a controller, its first
// child, when it has one), for each entry that has no node yet.
std::vector<DEVINST> resolved_nodes(bool parents_only) {
    struct Row {
        DEVINST node;
        std::string key;
        DEVINST first_child;
    };
    std::vector<Row> tree;
    DEVINST node = 0;
    if (CM_Locate_DevNodeA(&node, nullptr, 0) == CR_SUCCESS) {
        for (;;) {
            DEVINST child = 0;
            bool has_child = CM_Get_Child(&child, node, 0) == CR_SUCCESS;
            if (std::optional<std::string> key = property(node, CM_DRP_DRIVER))
                tree.push_back({node, *key, has_child ? child : 0});
            DEVINST next = 0;
            if (has_child) {
                node = child;
                continue;
            }
            bool found = false;
            for (DEVINST at = node;;) {
                if (CM_Get_Sibling(&next, at, 0) == CR_SUCCESS) {
                    found = true;
                    break;
                }
                if (CM_Get_Parent(&at, at, 0) != CR_SUCCESS)
                    break;
            }
            if (!found)
                break;
            node = next;
        }
    }
    std::vector<DEVINST> nodes;
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& entry = port_table.entries[i];
        DEVINST given = entry.devnode;
        std::string key = parents_only ? entry.parent_key : entry.driver_key;
        bool controller = !key.empty() && key[0] == '@';
        if (controller)
            key.erase(0, 1);
        if (given == 0 && !key.empty() && !(parents_only && entry.is_hub)) {
            for (const Row& row : tree) {
                if (row.key != key || (controller && row.first_child == 0))
                    continue;
                given = controller ? row.first_child : row.node;
                break;
            }
        }
        nodes.push_back(given);
    }
    return nodes;
}

} // namespace plain

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    uint8_t tree_bits = in.byte();

    std::vector<DEVINST> nodes = {sim::root_node()};
    bool list_names_every_node = true;
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
        // An ID with a zero byte in it reads as two IDs in the list, or ends it early.
        list_names_every_node = list_names_every_node && id.find('\0') == std::string::npos;
        nodes.push_back(sim::add_node(parent, id, key, description, !(bits & kPhantom)));
    }
    for (int count = in.upto(kListedBudget); count > 0 && !in.empty(); --count) {
        std::string id = read_id(in);
        list_names_every_node = list_names_every_node && id.find('\0') == std::string::npos;
        sim::add_listed_instance(id);
    }
    if (tree_bits & kCutList) {
        sim::cut_device_id_list(in.upto(8));
        list_names_every_node = false;
    }
    read_port_table(in, nodes);
    const int table_count = port_table.count;

    // A list already near its end, so that the walk meets a full list.
    adapter_list.count = 0;
    if (tree_bits & kFullList)
        while (adapter_list.count < kAdapterListRoom - 2)
            append_adapter_entry(1, "Z9", Generic);

    // The plain reading is made on runs without failures, on the machine as the program meets it.
    bool compared = !plan.planned && !(tree_bits & kParentLookupsFail);
    bool remove = (tree_bits & kRemoveMode) != 0;
    std::vector<plain::Appended> expected;
    std::vector<std::string> adapter_instances;
    if (compared) {
        if (!remove)
            expected = plain::scan_walk(adapter_list.count);
        for (const std::string& id : plain::listed_ids())
            if (plain::is_adapter_instance(id))
                adapter_instances.push_back(id);
    }
    std::vector<std::string> removed;
    sim::on_machine_event([&removed](const sim::MachineEvent& event) {
        if (event.kind == sim::MachineEvent::InstanceRemoved)
            removed.push_back(event.subject);
    });
    const int count_before = adapter_list.count;

    if (tree_bits & kParentLookupsFail)
        sim::fail_calls_from("CM_Get_Parent", 1 + in.byte() % 4);
    fuzz::arm(plan);
    walk_adapter_instances(remove);
    if (compared) {
        if (adapter_list.count != count_before + static_cast<int>(expected.size()))
            fuzz::broken("the walk appended", std::to_string(adapter_list.count - count_before) +
                                                  " entries, a plain reading " +
                                                  std::to_string(expected.size()));
        for (size_t i = 0; i < expected.size(); ++i) {
            const AdapterEntry& entry = adapter_list.entries[count_before + static_cast<int>(i)];
            if (entry.plugged != 0 || expected[i].label != entry.label ||
                expected[i].kind != entry.kind)
                fuzz::broken("an appended entry", std::string(entry.label) + " kind " +
                                                      std::to_string(entry.kind) +
                                                      ", a plain reading " + expected[i].label +
                                                      " kind " + std::to_string(expected[i].kind));
        }
        // The walk removed only adapter instances, and (when the list it met names every node
        // whole) left none of them.
        for (const std::string& id : removed)
            if (!remove || !plain::is_adapter_instance(id))
                fuzz::broken("removed", id);
        if (remove && list_names_every_node)
            for (const std::string& id : adapter_instances)
                if (sim::find_node(id) != 0)
                    fuzz::broken("an adapter instance left", id);
    }
    fuzz::sort_checked_adapter_list();

    bool parents_only = (tree_bits & kParentMode) != 0;
    std::vector<DEVINST> resolved;
    if (compared)
        resolved = plain::resolved_nodes(parents_only);
    resolve_devnodes(parents_only);
    if (compared)
        for (int i = 0; i < port_table.count; ++i)
            if (port_table.entries[i].devnode != resolved[static_cast<size_t>(i)])
                fuzz::broken(
                    "the node of entry",
                    std::to_string(i) + ": " + std::to_string(port_table.entries[i].devnode) +
                        ", a plain reading " + std::to_string(resolved[static_cast<size_t>(i)]));

    if (port_table.count != table_count)
        fuzz::broken("PortTable count changed by the walk");
    sim::on_machine_event(nullptr);
    fuzz::end_run();
    return 0;
}
