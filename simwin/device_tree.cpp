// The device tree model: nodes, their parent and children, and lookup by instance ID.
#include <map>

#include "simwin/internal.h"

namespace sim {
namespace {

struct Tree {
    std::map<DEVINST, Node> nodes;
    DEVINST next = 1;
    int unnamed = 0;
};

Tree& tree() {
    static Tree instance;
    return instance;
}

} // namespace

DEVINST root_node() {
    return 1;
}

DEVINST add_node(DEVINST parent, const std::string& instance_id,
                 std::optional<std::string> driver_key, std::optional<std::string> description,
                 bool present) {
    Tree& t = tree();
    Node n;
    n.id = t.next++;
    n.instance_id =
        instance_id.empty() ? "SIM\\NODE\\" + std::to_string(++t.unnamed) : instance_id;
    n.driver_key = std::move(driver_key);
    n.description = std::move(description);
    n.present = present;
    n.parent = parent;
    if (Node* p = node(parent))
        p->children.push_back(n.id);
    t.nodes[n.id] = n;
    return n.id;
}

Node* node(DEVINST id) {
    auto it = tree().nodes.find(id);
    return it == tree().nodes.end() ? nullptr : &it->second;
}

DEVINST find_node(const std::string& instance_id) {
    for (auto& entry : tree().nodes)
        if (equal_nocase(entry.second.instance_id, instance_id))
            return entry.first;
    return 0;
}

namespace detail {

void reset_devices() {
    tree() = Tree();
    add_node(0, "HTREE\\ROOT\\0");
}

} // namespace detail
} // namespace sim
