// The device tree model: nodes, their parent and children, lookup by instance ID, the list of
// every instance ID, and the hooks through which tests change the machine between two calls.
#include <algorithm>
#include <map>
#include <unordered_map>

#include "simwin/internal.h"

namespace sim {
namespace {

struct Tree {
    std::map<DEVINST, Node> nodes;
    // The nodes by instance ID in upper case, in the order they were added, so that a lookup by
    // ID does not search the whole tree.
    std::unordered_map<std::string, std::vector<DEVINST>> by_id;
    DEVINST next = 1;
    int unnamed = 0;
    std::vector<std::string> listed_only; // listed IDs without a node
    std::function<void()> size_hook;
    std::function<void(DEVINST)> reenumerate_hook;
    int list_cut = 0;
    // The sorted list of the last call and the IDs, in tree order, it was made from: while they
    // are unchanged, the next call reuses the list instead of sorting again.
    std::vector<std::string> listed_from;
    std::string sorted_list;
    ParentRule parent_rule = ParentRule::Windows8;
};

Tree& tree() {
    static Tree instance;
    return instance;
}

} // namespace

DEVINST root_node() {
    return 1;
}

void set_parent_rule(ParentRule rule) {
    tree().parent_rule = rule;
}

ParentRule parent_rule() {
    return tree().parent_rule;
}

DEVINST add_node(DEVINST parent, const std::string& instance_id,
                 std::optional<std::string> driver_key, std::optional<std::string> description,
                 bool present, bool started) {
    Tree& t = tree();
    Node n;
    n.id = t.next++;
    n.instance_id = instance_id.empty() ? "SIM\\NODE\\" + std::to_string(++t.unnamed) : instance_id;
    n.driver_key = std::move(driver_key);
    n.description = std::move(description);
    n.present = present;
    n.started = started;
    n.parent = parent;
    if (Node* p = node(parent))
        p->children.push_back(n.id);
    t.by_id[upper_case(n.instance_id)].push_back(n.id);
    t.nodes[n.id] = n;
    if (present)
        detail::device_node_changed(n.id, true);
    return n.id;
}

void rename_node(DEVINST id, const std::string& instance_id) {
    Node* n = node(id);
    if (!n)
        return;
    auto& old_entry = tree().by_id[upper_case(n->instance_id)];
    old_entry.erase(std::remove(old_entry.begin(), old_entry.end(), id), old_entry.end());
    n->instance_id = instance_id;
    auto& entry = tree().by_id[upper_case(instance_id)];
    entry.insert(std::upper_bound(entry.begin(), entry.end(), id), id);
}

Node* node(DEVINST id) {
    auto it = tree().nodes.find(id);
    return it == tree().nodes.end() ? nullptr : &it->second;
}

DEVINST find_node(const std::string& instance_id) {
    auto found = tree().by_id.find(upper_case(instance_id));
    if (found == tree().by_id.end())
        return 0;
    for (DEVINST id : found->second)
        if (!node(id)->removed)
            return id;
    return 0;
}

void remove_node(DEVINST id) {
    Node* n = node(id);
    if (!n || n->removed)
        return;
    n->removed = true;
    if (n->present)
        detail::device_node_changed(id, false);
    std::vector<DEVINST> children = n->children; // each removal edits the list
    for (DEVINST child : children)
        remove_node(child);
    if (Node* p = node(n->parent)) {
        auto& siblings = p->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (*it == id) {
                siblings.erase(it);
                break;
            }
        }
    }
}

bool instance_exists(const std::string& instance_id) {
    if (find_node(instance_id) != 0)
        return true;
    for (const std::string& listed : tree().listed_only)
        if (equal_nocase(listed, instance_id))
            return true;
    return false;
}

DEVINST add_controller_with_root_hub(const std::string& controller_key,
                                     const std::string& root_hub_key) {
    DEVINST controller = add_node(root_node(), "", controller_key, "USB Host Controller");
    return add_node(controller, "",
                    root_hub_key.empty() ? std::nullopt : std::optional<std::string>(root_hub_key),
                    "USB Root Hub");
}

DEVINST add_phantom(DEVINST parent, const std::string& instance_id,
                    std::optional<std::string> description, std::optional<std::string> driver_key) {
    return add_node(parent, instance_id, std::move(driver_key), std::move(description), false);
}

DEVINST add_instance_with_driver_key(DEVINST parent, const std::string& instance_id,
                                     const std::string& driver_key,
                                     std::optional<std::string> inf_name,
                                     std::optional<std::string> description, bool present) {
    std::string path = driver_registry_path(driver_key);
    add_registry_key(HKEY_LOCAL_MACHINE, path);
    if (inf_name)
        set_registry_string(HKEY_LOCAL_MACHINE, path, "InfPath", *inf_name);
    return add_node(parent, instance_id, driver_key, std::move(description), present);
}

void add_listed_instance(const std::string& instance_id) {
    tree().listed_only.push_back(instance_id);
}

void on_device_id_list_size(std::function<void()> hook) {
    tree().size_hook = std::move(hook);
}

void cut_device_id_list(int bytes) {
    tree().list_cut = bytes;
}

void on_reenumerate(std::function<void(DEVINST)> hook) {
    tree().reenumerate_hook = std::move(hook);
}

namespace detail {

std::string device_id_list() {
    // Windows lists the instances as its registry enumerates them: in the order of their IDs,
    // letters compared without regard to case (so every HID instance comes before USB ones).
    Tree& t = tree();
    std::vector<const std::string*> ids;
    for (auto& entry : t.nodes)
        if (!entry.second.removed)
            ids.push_back(&entry.second.instance_id);
    for (const std::string& listed : t.listed_only)
        ids.push_back(&listed);
    // A list once made holds at least its closing terminator.
    bool unchanged = !t.sorted_list.empty() && ids.size() == t.listed_from.size();
    for (size_t i = 0; unchanged && i < ids.size(); ++i)
        unchanged = *ids[i] == t.listed_from[i];
    if (!unchanged) {
        // Each ID is upper-cased once, not at every comparison.
        std::vector<std::pair<std::string, const std::string*>> keyed;
        keyed.reserve(ids.size());
        for (const std::string* id : ids)
            keyed.emplace_back(upper_case(*id), id);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        t.sorted_list.clear();
        for (const auto& entry : keyed) {
            t.sorted_list += *entry.second;
            t.sorted_list += '\0';
        }
        t.sorted_list += '\0';
        t.listed_from.clear();
        for (const std::string* id : ids)
            t.listed_from.push_back(*id);
    }
    std::string list = t.sorted_list;
    size_t cut = static_cast<size_t>(t.list_cut > 0 ? t.list_cut : 0);
    list.resize(cut < list.size() ? list.size() - cut : 0);
    return list;
}

void run_device_id_list_size_hook() {
    if (tree().size_hook)
        tree().size_hook();
}

void run_reenumerate_hook(DEVINST id) {
    if (tree().reenumerate_hook)
        tree().reenumerate_hook(id);
}

void reset_devices() {
    tree() = Tree();
    add_node(0, "HTREE\\ROOT\\0");
    reset_device_info_sets();
    reset_device_interface_lists();
}

} // namespace detail
} // namespace sim
