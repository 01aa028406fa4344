// The machine part of a scenario: USB host controllers, hubs and their devices, device-tree
// instances, registry values, files, the control device and the Setup API module, each read
// with its place and built on the simulated Windows.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "tools/quorvale_sim/scenario.h"

namespace quorvale_sim {
namespace {

constexpr int kDefaultPortCount = 4;
constexpr int kMaxPortCount = 255;
// Controllers are numbered 0 to 25; those named \\.\HCD0 to \\.\HCD9 have the letters A to J.
constexpr int kControllerSlots = 26;
constexpr int kNamedLetters = 10;
constexpr long long kHighestHcdNumber = 99;
const char kPackageDirectory[] = "C:\\Quorvale";
const char kPackageVersion[] = "1.2.78";
constexpr uint16_t kDefaultOtherVendor = 0x046D;
constexpr uint16_t kDefaultOtherProduct = 0xC077;
const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kDefaultDevicePath[] = "%SystemRoot%\\inf";
const char kMemoryPackKey[] = "CLSID\\{4E2A9D13-C605-11d3-9A41-0C5F7B2E8D60}";
const char kRumbleFile[] = "zelkqx7f.dll";
const char kMempakFile[] = "zelkqx7m.dll";
const char kKernelFile[] = "drivers\\zelkqx7.sys";
const char kInfPathValue[] = "InfPath";
// The control device's version reply: major, minor, then the build in two bytes, low first.
constexpr unsigned kByteMax = 0xFF;
constexpr unsigned kBuildMax = 0xFFFF;
constexpr unsigned kByteBits = 8;
const std::vector<uint8_t> kInstallerVersionReply = {1, 2, 78, 0}; // 1.2.78

// The full paths of the three driver files, in the simulated system directory.
std::string driver_file_path(const char* name) {
    return sim::system_directory() + "\\" + name;
}

// Whether the machine's registry text values carry their terminating zero (the registry's
// "terminated" field).
bool text_terminated = true;

// The controller that each port-label letter names, as the installer gives the letters: a
// controller named \\.\HCD0 to \\.\HCD9 has A to J, the others (no name, or 10 and up) in
// the order the Setup API lists them (the order described) the letters after the highest of
// those, up to Z.
std::map<char, sim::UsbController*> controller_letters;

void give_controller_letters() {
    controller_letters.clear();
    char next = 'A';
    for (sim::UsbController* controller : sim::controllers()) {
        if (controller->hcd_number && *controller->hcd_number < kNamedLetters) {
            char letter = static_cast<char>('A' + *controller->hcd_number);
            controller_letters[letter] = controller;
            next = std::max(next, static_cast<char>(letter + 1));
        }
    }
    for (sim::UsbController* controller : sim::controllers())
        if ((!controller->hcd_number || *controller->hcd_number >= kNamedLetters) && next <= 'Z')
            controller_letters[next++] = controller;
}

sim::UsbController* controller_of_letter(char letter) {
    auto found = controller_letters.find(letter);
    return found == controller_letters.end() ? nullptr : found->second;
}

void set_inf_path(const std::string& driver_key, const std::string& inf) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, sim::driver_registry_path(driver_key),
                             kInfPathValue, inf, REG_SZ, text_terminated);
}

// A registry text value: expandable when it refers to the environment, as Windows stores
// "DevicePath"; null removes the value.
void set_current_version_value(const char* name, const std::optional<std::string>& text) {
    if (!text) {
        sim::delete_registry_value(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name);
        return;
    }
    DWORD type = text->find('%') != std::string::npos ? REG_EXPAND_SZ : REG_SZ;
    sim::set_registry_string(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name, *text, type,
                             text_terminated);
}

// Renames a node's instance ID; a hub's device name follows it, as Windows forms one from the
// other ("USB#ROOT_HUB#..." and the hub interface class).
void rename_instance(DEVINST id, const std::string& instance_id, sim::UsbHub* hub) {
    sim::Node* node = sim::node(id);
    if (!node)
        return;
    if (hub && hub->name.size() > node->instance_id.size()) {
        std::string suffix = hub->name.substr(node->instance_id.size());
        std::string name = instance_id;
        for (char& ch : name)
            if (ch == '\\')
                ch = '#';
        hub->name = name + suffix;
    }
    sim::rename_node(id, instance_id);
}

// An optional text field, checked by check when present.
std::optional<std::string> checked_optional(const Fields& fields, const char* name,
                                            std::string (*check)(const std::string&,
                                                                 const std::string&)) {
    std::optional<std::string> text = fields.optional_text(name);
    if (text)
        check(*text, fields.at(name));
    return text;
}

// Refuses an instance ID that another device node of the machine has already.
void refuse_duplicate_instance(const std::string& instance_id, const std::string& place) {
    if (sim::find_node(instance_id))
        throw ScenarioError(place, "the instance ID \"" + instance_id +
                                       "\" belongs to another device node already");
}

// Refuses a machine in which two device nodes have one instance ID, such as an ID the scenario
// gives that the simulation also made for another device.
void refuse_shared_instance_ids(const std::string& place) {
    std::set<std::string> seen;
    for (DEVINST id = sim::root_node(); const sim::Node* node = sim::node(id); ++id)
        if (!seen.insert(sim::upper_case(node->instance_id)).second)
            throw ScenarioError(place, "two device nodes have the instance ID \"" +
                                           node->instance_id + "\"");
}

// USB allows seven tiers: the root hub, five tiers of external hubs and the devices on the
// last of them. The reader counts the external hubs it is inside, and refuses a sixth before it
// reads further.
constexpr int kMostExternalHubTiers = 5;
int external_hub_tiers = 0;

struct ExternalHubTier {
    explicit ExternalHubTier(const std::string& place) {
        if (external_hub_tiers == kMostExternalHubTiers)
            throw ScenarioError(place, "hubs nested deeper than USB allows: at most " +
                                           std::to_string(kMostExternalHubTiers) +
                                           " tiers of external hubs below a root hub");
        ++external_hub_tiers;
    }
    ~ExternalHubTier() {
        --external_hub_tiers;
    }
    ExternalHubTier(const ExternalHubTier&) = delete;
    ExternalHubTier& operator=(const ExternalHubTier&) = delete;
};

struct HubDescription {
    int ports = kDefaultPortCount;
    std::optional<std::string> instance_id, name;
    std::vector<DeviceDescription> devices;
};

void read_devices(const Fields& fields, int port_count, std::vector<DeviceDescription>& devices) {
    for (auto& [value, place] : fields.list("devices")) {
        DeviceDescription device = read_device(*value, place, port_count);
        for (const DeviceDescription& other : devices)
            if (other.port == device.port)
                throw ScenarioError(place + ".port", "port " + std::to_string(device.port) +
                                                         " carries a device already");
        devices.push_back(device);
    }
}

HubDescription read_hub(const Json& value, const std::string& place) {
    Fields fields(value, place, {"ports", "instance_id", "name", "devices"});
    HubDescription hub;
    hub.ports = static_cast<int>(fields.number("ports", kDefaultPortCount, 0, kMaxPortCount));
    hub.instance_id = checked_optional(fields, "instance_id", checked_instance_id);
    hub.name = checked_optional(fields, "name", checked_key);
    read_devices(fields, hub.ports, hub.devices);
    return hub;
}

void build_hub_devices(sim::UsbHub& hub, const std::vector<DeviceDescription>& devices) {
    for (const DeviceDescription& device : devices)
        attach_device(hub, device.port, device);
}

void build_controller(const Json& value, const std::string& place, int position) {
    Fields fields(value, place, {"index", "hcd_name", "driver_key", "root_hub"});
    if (!fields.has("index") && position >= kControllerSlots)
        throw ScenarioError(place, "a machine has at most " + std::to_string(kControllerSlots) +
                                       " host controllers (numbered 0 to 25); give each its "
                                       "\"index\"");
    int index = static_cast<int>(fields.number("index", position, 0, kControllerSlots - 1));
    if (sim::controller(index))
        throw ScenarioError(fields.at("index"),
                            "host controller " + std::to_string(index) + " is described twice");
    std::optional<int> hcd_number = index;
    if (fields.is_null("hcd_name"))
        hcd_number.reset();
    else if (fields.has("hcd_name"))
        hcd_number = static_cast<int>(fields.number("hcd_name", index, 0, kHighestHcdNumber));
    for (sim::UsbController* other : sim::controllers())
        if (hcd_number && other->hcd_number == hcd_number)
            throw ScenarioError(fields.at("hcd_name"),
                                "\\\\.\\HCD" + std::to_string(*hcd_number) +
                                    " names another controller already: Windows gives a name "
                                    "to one controller; describe this one without (null)");
    HubDescription root;
    if (const Json* hub = fields.get("root_hub"))
        root = read_hub(*hub, fields.at("root_hub"));
    std::optional<std::string> driver_key = checked_optional(fields, "driver_key", checked_key);

    sim::UsbController& controller = sim::add_controller(index);
    controller.hcd_number = hcd_number;
    if (driver_key)
        sim::node(controller.node)->driver_key = *driver_key;
    sim::UsbHub& hub = controller.root_hub(root.ports);
    if (root.instance_id) {
        refuse_duplicate_instance(*root.instance_id, fields.at("root_hub") + ".instance_id");
        rename_instance(hub.node, *root.instance_id, &hub);
    }
    if (root.name)
        hub.name = *root.name;
    build_hub_devices(hub, root.devices);
}

// The parent of an extra instance: "root", a port label, or the instance ID of a node.
DEVINST parent_node(const std::string& parent, const std::string& place) {
    if (parent == "root")
        return sim::root_node();
    if (parent.find('\\') != std::string::npos) {
        DEVINST found = sim::find_node(parent);
        if (!found)
            throw ScenarioError(place, "no device node has the instance ID \"" + parent + "\"");
        return found;
    }
    if (parent.size() == 1) {
        sim::UsbController* controller = controller_of_letter(parent[0]);
        if (!controller || !controller->root)
            throw ScenarioError(place, "there is no host controller " + parent);
        return controller->root->node;
    }
    PortRef ref = find_port(parent, place);
    sim::UsbPort& port = ref.hub->port(ref.port);
    if (!port.device || !port.device->node)
        throw ScenarioError(place, "port " + parent + " carries no device with a device node");
    return port.device->node;
}

void build_instance(const Json& value, const std::string& place) {
    Fields fields(
        value, place,
        {"parent", "instance_id", "description", "driver_key", "inf", "present", "in_use"});
    if (!fields.has("instance_id"))
        throw ScenarioError(place, "an instance needs its \"instance_id\"");
    std::string instance_id =
        checked_instance_id(fields.text("instance_id", ""), fields.at("instance_id"));
    refuse_duplicate_instance(instance_id, fields.at("instance_id"));
    DEVINST parent = parent_node(fields.text("parent", "root"), fields.at("parent"));
    std::optional<std::string> description = "Quorvale";
    if (fields.has("description"))
        description = fields.optional_text("description");
    std::optional<std::string> driver_key = checked_optional(fields, "driver_key", checked_key);
    std::optional<std::string> inf = fields.optional_text("inf");
    bool present = fields.flag("present", false);
    bool in_use = fields.flag("in_use", false);
    if (inf && !driver_key)
        throw ScenarioError(fields.at("inf"), "an INF copy needs the instance's \"driver_key\"");
    DEVINST made = 0;
    if (driver_key) {
        made = sim::add_instance_with_driver_key(parent, instance_id, *driver_key, inf, description,
                                                 present);
        if (inf)
            set_inf_path(*driver_key, *inf); // as the registry's "terminated" says
    } else {
        made = sim::add_node(parent, instance_id, std::nullopt, description, present);
    }
    if (in_use)
        sim::node(made)->restart_flag = DI_NEEDREBOOT;
}

void build_registry(const Json& value, const std::string& place) {
    Fields fields(value, place, {"device_path", "other_device_path", "memory_pack", "terminated"});
    if (fields.has("device_path"))
        set_current_version_value("DevicePath", fields.optional_text("device_path"));
    if (fields.has("other_device_path"))
        set_current_version_value("OtherDevicePath", fields.optional_text("other_device_path"));
    memory_pack_change(fields.flag("memory_pack", false))();
}

sim::ParentRule read_parent_rule(const Json& value, const std::string& place) {
    std::string text = read_text(value, place);
    if (text == "windows8")
        return sim::ParentRule::Windows8;
    if (text == "before_windows8")
        return sim::ParentRule::BeforeWindows8;
    throw ScenarioError(place,
                        "unknown parent rule \"" + text + "\"; use windows8 or before_windows8");
}

sim::SetupModule read_setup_module(const Json& value, const std::string& place) {
    static const std::pair<const char*, sim::SetupModule> kinds[] = {
        {"both", sim::SetupModule::BothEntries},
        {"ansi_only", sim::SetupModule::AnsiEntryOnly},
        {"wide_only", sim::SetupModule::WideEntryOnly},
        {"none", sim::SetupModule::NoEntries},
        {"not_loadable", sim::SetupModule::NotLoadable},
    };
    std::string text = read_text(value, place);
    for (auto& kind : kinds)
        if (text == kind.first)
            return kind.second;
    throw ScenarioError(place, "unknown setup module \"" + text +
                                   "\"; use both, ansi_only, wide_only, none or not_loadable");
}

} // namespace

DeviceDescription read_device(const Json& value, const std::string& place, int port_count) {
    Fields fields(value, place,
                  {"port", "kind", "vendor", "product", "description", "driver_key", "instance_id",
                   "inf", "plugged", "in_device_tree", "in_use", "ports", "name", "devices"});
    DeviceDescription device;
    device.place = place;
    if (port_count > 0) {
        if (!fields.has("port"))
            throw ScenarioError(place, "a device needs its \"port\"");
        device.port = static_cast<int>(fields.number("port", 0, 1, kMaxPortCount));
        if (device.port > port_count)
            throw ScenarioError(fields.at("port"), "port " + std::to_string(device.port) +
                                                       " does not exist: the hub has " +
                                                       std::to_string(port_count) + " ports");
    } else if (fields.has("port")) {
        throw ScenarioError(fields.at("port"), "the port is named by the step itself");
    }
    std::string kind = fields.text("kind", "adapter");
    if (kind == "hub")
        device.kind = DeviceDescription::Hub;
    else if (kind == "device")
        device.kind = DeviceDescription::Other;
    else if (kind != "adapter")
        throw ScenarioError(fields.at("kind"),
                            "unknown kind \"" + kind + "\"; use adapter, hub or device");
    bool hub = device.kind == DeviceDescription::Hub;
    bool other = device.kind == DeviceDescription::Other;
    for (const char* name : {"vendor", "product"})
        if (fields.has(name) && !other)
            throw ScenarioError(fields.at(name), "only a device of kind \"device\" names its " +
                                                     std::string(name) + "; an " + kind +
                                                     " has its own");
    for (const char* name : {"ports", "name", "devices"})
        if (fields.has(name) && !hub)
            throw ScenarioError(fields.at(name), "only a hub has " + std::string(name));
    if (fields.has("in_device_tree") && hub)
        throw ScenarioError(fields.at("in_device_tree"), "a hub is always in the device tree here");
    if (fields.has("inf") && hub)
        throw ScenarioError(fields.at("inf"), "a hub has no INF copy here");
    if (other) {
        device.vendor = fields.identifier("vendor", kDefaultOtherVendor);
        device.product = fields.identifier("product", kDefaultOtherProduct);
    }
    device.description = fields.optional_text("description");
    device.driver_key = checked_optional(fields, "driver_key", checked_key);
    device.instance_id = checked_optional(fields, "instance_id", checked_instance_id);
    device.inf = fields.optional_text("inf");
    device.plugged = fields.flag("plugged", true);
    device.in_device_tree = fields.flag("in_device_tree", true);
    device.in_use = fields.flag("in_use", false);
    if (!device.in_device_tree)
        for (const char* name : {"description", "instance_id", "inf", "in_use"})
            if (fields.has(name))
                throw ScenarioError(fields.at(name),
                                    "a device left out of the device tree has no " +
                                        std::string(name));
    if (hub) {
        ExternalHubTier tier(place);
        device.hub_ports =
            static_cast<int>(fields.number("ports", kDefaultPortCount, 0, kMaxPortCount));
        device.hub_name = checked_optional(fields, "name", checked_key);
        read_devices(fields, device.hub_ports, device.devices);
    }
    return device;
}

void refuse_taken_instance_ids(const DeviceDescription& device) {
    if (device.instance_id)
        refuse_duplicate_instance(*device.instance_id, device.place + ".instance_id");
    for (const DeviceDescription& below : device.devices)
        refuse_taken_instance_ids(below);
}

sim::UsbDevice& attach_device(sim::UsbHub& hub, int port, const DeviceDescription& device) {
    if (device.instance_id)
        refuse_duplicate_instance(*device.instance_id, device.place + ".instance_id");
    sim::UsbDevice* made = nullptr;
    switch (device.kind) {
    case DeviceDescription::Adapter:
        made =
            &hub.add_adapter(port, device.in_device_tree, device.description.value_or("Quorvale"));
        break;
    case DeviceDescription::Hub:
        made = hub.add_hub(port, device.hub_ports).upstream;
        break;
    case DeviceDescription::Other:
        made = &hub.add_device(port, device.vendor, device.product, device.in_device_tree);
        break;
    }
    sim::Node* node = made->node ? sim::node(made->node) : nullptr;
    if (node && device.description)
        node->description = *device.description;
    if (device.instance_id && node)
        rename_instance(made->node, *device.instance_id, made->hub.get());
    if (device.driver_key) {
        if (node)
            node->driver_key = *device.driver_key;
        else
            made->driver_key.text = *device.driver_key;
    }
    if (made->hub && device.hub_name)
        made->hub->name = *device.hub_name;
    // A program holds an adapter through its HID function.
    if (device.in_use) {
        DEVINST held = made->function ? made->function : made->node;
        if (sim::Node* held_node = sim::node(held))
            held_node->restart_flag = DI_NEEDREBOOT;
    }
    if (device.inf && node && node->driver_key)
        set_inf_path(*node->driver_key, *device.inf);
    if (made->hub)
        build_hub_devices(*made->hub, device.devices);
    if (!device.plugged)
        hub.unplug(port);
    return *made;
}

PortRef find_port(const std::string& label, const std::string& place) {
    auto missing = [&](const std::string& why) {
        return ScenarioError(place, "no port " + label + ": " + why);
    };
    if (label.size() < 2 || label[0] < 'A' || label[0] > 'Z')
        throw missing("a port label is a controller letter A to Z and one character per port "
                      "(\"A2\", \"A21\")");
    sim::UsbController* controller = controller_of_letter(label[0]);
    if (!controller || !controller->root)
        throw missing(std::string("there is no host controller ") + label[0]);
    sim::UsbHub* hub = controller->root.get();
    for (size_t i = 1; i < label.size(); ++i) {
        int port = label[i] - '0';
        if (port < 1 || port > hub->port_count())
            throw missing("hub " + label.substr(0, i) + " has " +
                          std::to_string(hub->port_count()) + " ports");
        if (i + 1 == label.size())
            return PortRef{hub, port};
        sim::UsbDevice* device = hub->port(port).device.get();
        if (!device || !device->hub)
            throw missing("there is no hub at " + label.substr(0, i + 1));
        hub = device->hub.get();
    }
    throw missing("unreachable");
}

namespace {

sim::UsbHub* hub_below(sim::UsbHub& hub, DEVINST node) {
    if (hub.node == node)
        return &hub;
    for (sim::UsbPort& port : hub.ports)
        if (port.device && port.device->hub)
            if (sim::UsbHub* found = hub_below(*port.device->hub, node))
                return found;
    return nullptr;
}

// A removed node again, below parent, with its instance ID and driver key; an adapter's node is
// started unless it has no driver.
DEVINST recreate(DEVINST old_id, DEVINST parent, std::optional<std::string> description,
                 bool present, bool adapter = false) {
    sim::Node old = *sim::node(old_id);
    std::optional<std::string> now = description ? description : old.description;
    bool started = adapter ? now != std::string(sim::kAdapterWithoutDriver) : old.started;
    return sim::add_node(parent, old.instance_id, old.driver_key, now, present, started);
}

} // namespace

sim::UsbHub* hub_of_node(DEVINST node) {
    for (sim::UsbController* controller : sim::controllers()) {
        if (controller->root)
            if (sim::UsbHub* hub = hub_below(*controller->root, node))
                return hub;
    }
    return nullptr;
}

std::vector<std::string> recreate_removed_nodes(sim::UsbDevice& device,
                                                const std::optional<DriverBinding>& bound) {
    std::vector<std::string> created;
    sim::Node* old = device.node ? sim::node(device.node) : nullptr;
    if (!old || !old->removed || !device.plugged || !device.parent || !device.parent->reachable())
        return created;
    bool adapter = device.vendor == sim::kUsbAdapterVendor &&
                   device.product == sim::kUsbAdapterProduct && !device.hub;
    std::optional<std::string> description;
    if (adapter && bound)
        description = bound->description;
    DEVINST fresh = recreate(device.node, device.parent->node, description, true, adapter);
    created.push_back(sim::node(fresh)->instance_id);
    sim::Node* function = device.function ? sim::node(device.function) : nullptr;
    if (function && function->removed) {
        device.function = recreate(device.function, fresh, std::nullopt, true);
        created.push_back(sim::node(device.function)->instance_id);
    }
    device.node = fresh;
    if (device.hub)
        device.hub->node = fresh;
    sim::Node* node = sim::node(fresh);
    if (adapter && bound && bound->inf && node->driver_key)
        set_inf_path(*node->driver_key, *bound->inf);
    return created;
}

namespace {

// A version resource's every part gives its size in 16 bits (wLength), the whole resource
// included: its strings must leave it under 64 KiB. The sizes follow the resource's layout of
// 16-bit headers, UTF-16 names and values, and 32-bit alignment.
void check_version_resource_size(const std::vector<sim::VersionBlock>& blocks,
                                 const std::string& place) {
    auto aligned = [](size_t bytes) { return (bytes + 3) & ~size_t(3); };
    auto header = [&](size_t name_chars) { return aligned(6 + 2 * (name_chars + 1)); };
    const size_t kFixedPart = 52;
    const size_t kTranslationPart = 68;
    size_t total = header(15) + kFixedPart + header(14) + kTranslationPart;
    for (const sim::VersionBlock& block : blocks) {
        total += header(8);
        for (const auto& [name, text] : block.strings)
            total += header(name.size()) + aligned(2 * (text.size() + 1));
    }
    const size_t kLargest = 0xFFFF;
    if (total > kLargest)
        throw ScenarioError(place, "the version resource would take " + std::to_string(total) +
                                       " bytes; its 16-bit lengths allow at most " +
                                       std::to_string(kLargest));
}

} // namespace

Change read_file(const Json& value, const std::string& place) {
    Fields fields(value, place, {"path", "content", "version", "version_blocks"});
    if (!fields.has("path"))
        throw ScenarioError(place, "a file needs its \"path\"");
    std::string path = checked_path(fields.text("path", ""), fields.at("path"));
    int kinds = fields.has("content") + fields.has("version") + fields.has("version_blocks");
    if (kinds > 1)
        throw ScenarioError(place, "a file has content, a version or version blocks, not more "
                                   "than one of them");
    if (fields.has("version")) {
        std::optional<std::string> version = fields.optional_text("version");
        if (version)
            check_version_resource_size({{"040904E4", {{"FileVersion", *version}}}},
                                        fields.at("version"));
        return [path, version] { sim::put_version_file(path, version); };
    }
    if (fields.has("version_blocks")) {
        std::vector<sim::VersionBlock> blocks;
        for (auto& [item, item_place] : fields.list("version_blocks")) {
            Fields block_fields(*item, item_place, {"translation", "strings"});
            sim::VersionBlock block;
            block.translation =
                checked_translation(block_fields.text("translation", block.translation),
                                    block_fields.at("translation"));
            if (const Json* strings = block_fields.get("strings")) {
                std::string strings_place = block_fields.at("strings");
                if (!strings->is_object())
                    throw ScenarioError(strings_place,
                                        "expected an object, found " + json_type_name(*strings));
                for (auto it = strings->begin(); it != strings->end(); ++it)
                    block.strings.push_back(
                        {it.key(), read_text(it.value(), strings_place + "." + it.key())});
            }
            blocks.push_back(block);
        }
        check_version_resource_size(blocks, fields.at("version_blocks"));
        return [path, blocks] { sim::put_version_file_blocks(path, blocks); };
    }
    std::string content = fields.text("content", "");
    return [path, content] { sim::put_file(path, content); };
}

Change read_driver_files(const Json& value, const std::string& place) {
    Fields fields(value, place, {"rumble", "mempak", "kernel"});
    std::vector<std::pair<std::string, std::optional<std::string>>> files;
    const std::pair<const char*, const char*> names[] = {
        {"rumble", kRumbleFile}, {"mempak", kMempakFile}, {"kernel", kKernelFile}};
    for (auto& [field, file] : names)
        if (fields.has(field)) {
            std::optional<std::string> version = fields.optional_text(field);
            if (version)
                check_version_resource_size({{"040904E4", {{"FileVersion", *version}}}},
                                            fields.at(field));
            files.push_back({file, version});
        }
    return [files] {
        for (auto& [file, version] : files)
            sim::put_version_file(driver_file_path(file.c_str()), version);
    };
}

Change read_control_device(const Json& value, const std::string& place) {
    if (value.is_null())
        return [] { sim::remove_control_device(); };
    Fields fields(value, place, {"version", "reply", "query_fails"});
    if (fields.has("version") && fields.has("reply"))
        throw ScenarioError(place, "the control device answers a version or a reply, not both");
    std::vector<uint8_t> reply = kInstallerVersionReply;
    if (fields.has("version")) {
        std::string text = fields.text("version", "");
        unsigned major = 0, minor = 0, build = 0;
        char end = 0;
        if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &build, &end) != 3 ||
            major > kByteMax || minor > kByteMax || build > kBuildMax)
            throw ScenarioError(fields.at("version"),
                                "expected major.minor.build with major and minor up to 255 and "
                                "build up to 65535, found \"" +
                                    text + "\"");
        reply = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                 static_cast<uint8_t>(build & kByteMax), static_cast<uint8_t>(build >> kByteBits)};
    }
    if (fields.has("reply")) {
        reply.clear();
        for (auto& [byte, byte_place] : fields.list("reply"))
            reply.push_back(static_cast<uint8_t>(read_number(*byte, byte_place, 0, kByteMax)));
    }
    bool fails = fields.flag("query_fails", false);
    return [reply, fails] { sim::set_control_device(reply, fails); };
}

Change memory_pack_change(bool registered) {
    return [registered] {
        if (registered)
            sim::add_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
        else
            sim::delete_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
    };
}

Change read_package(const Json& value, const std::string& place) {
    Fields fields(value, place, {"version"});
    std::string version = fields.text("version", kPackageVersion);
    return [version] { sim::put_sample_driver_package(kPackageDirectory, version); };
}

Change file_removal(const std::string& path) {
    return [path] { sim::remove_file(path); };
}

Change driver_files_removal() {
    return [] {
        for (const char* file : {kRumbleFile, kMempakFile, kKernelFile})
            sim::remove_file(driver_file_path(file));
    };
}

// Builds the machine part of a scenario; the defaults make one host controller with an empty
// four-port root hub, "DevicePath" as Windows sets it, the driver package in the installer's
// folder and nothing of the driver installed, on Windows of the installer's own bitness.
void build_machine(const Json* value, const std::string& place) {
    // Read first: every text value the machine stores follows it. Anything else wrong with
    // the registry object is reported when it is read in full below.
    text_terminated = true;
    if (value && value->is_object() && value->contains("registry")) {
        const Json& registry = (*value)["registry"];
        if (registry.is_object() && registry.contains("terminated"))
            text_terminated = read_flag(registry["terminated"], place + ".registry.terminated");
    }
    set_current_version_value("DevicePath", std::string(kDefaultDevicePath));
    // The installer starts in the folder that holds the driver package.
    sim::set_current_directory(kPackageDirectory);
    controller_letters.clear();
    if (!value) {
        sim::add_controller(0).root_hub(kDefaultPortCount);
        give_controller_letters();
        sim::put_sample_driver_package(kPackageDirectory, kPackageVersion);
        return;
    }
    Fields fields(*value, place,
                  {"controllers", "instances", "registry", "files", "driver_files",
                   "control_device", "setup_module", "device_notification", "inf_sections",
                   "parent_rule", "wow64", "package"});
    if (fields.flag("wow64", false))
        sim::set_process_kind(sim::ProcessKind::Wow64);
    if (fields.is_null("package")) {
        // No package: the INF sections find no INF.
    } else if (const Json* package = fields.get("package")) {
        read_package(*package, fields.at("package"))();
    } else {
        sim::put_sample_driver_package(kPackageDirectory, kPackageVersion);
    }
    if (const Json* rule = fields.get("parent_rule"))
        sim::set_parent_rule(read_parent_rule(*rule, fields.at("parent_rule")));
    if (fields.has("controllers")) {
        int position = 0;
        for (auto& [controller, controller_place] : fields.list("controllers"))
            build_controller(*controller, controller_place, position++);
    } else {
        sim::add_controller(0).root_hub(kDefaultPortCount);
    }
    give_controller_letters();
    for (auto& [instance, instance_place] : fields.list("instances"))
        build_instance(*instance, instance_place);
    if (const Json* registry = fields.get("registry"))
        build_registry(*registry, fields.at("registry"));
    for (auto& [file, file_place] : fields.list("files"))
        read_file(*file, file_place)();
    if (const Json* files = fields.get("driver_files"))
        read_driver_files(*files, fields.at("driver_files"))();
    if (const Json* device = fields.get("control_device"))
        read_control_device(*device, fields.at("control_device"))();
    if (const Json* module = fields.get("setup_module"))
        sim::set_setup_module(read_setup_module(*module, fields.at("setup_module")));
    if (const Json* notification = fields.get("device_notification")) {
        std::string place_of = fields.at("device_notification");
        std::string text = read_text(*notification, place_of);
        if (text == "fails")
            sim::fail_every_call("RegisterDeviceNotificationA");
        else if (text != "registers")
            throw ScenarioError(place_of, "unknown device notification \"" + text +
                                              "\"; use registers or fails");
    }
    refuse_shared_instance_ids(place);
}

} // namespace quorvale_sim
