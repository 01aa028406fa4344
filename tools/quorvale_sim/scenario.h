// A scenario read from its JSON file: the machine is built on the freshly reset simulated Windows
// as it is read, and what the timeline and the INF sections will do is kept for the run.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "simwin/sim.h"
#include "tools/quorvale_sim/scenario_fields.h"

namespace quorvale_sim {

// The driver that an INF section made Windows bind to adapters: device nodes that Windows
// creates for an adapter from then on carry its description (and its INF copy's name).
struct DriverBinding {
    std::string description;
    std::optional<std::string> inf;
};

// What running one INF section does to the machine.
struct SectionEffect {
    std::vector<std::function<void()>> changes; // files, registry, control device
    std::optional<DriverBinding> bind;
    bool unbind = false;
};

// One step of the timeline: its virtual time, the line that the transcript shows for it, and
// what it does. run returns a note for the transcript when the step could not be carried out.
struct TimelineStep {
    uint64_t at_ms = 0;
    std::string line;
    std::function<std::string()> run;
};

struct Scenario {
    std::string description;
    std::map<std::string, SectionEffect> sections;
    std::vector<TimelineStep> timeline;
    uint64_t time_limit_ms = 0;
};

// What the run keeps beside the simulated machine, shared by the timeline and the hooks that
// follow the program: the driver bound by the INF sections that ran, and the transcript.
struct RunState {
    std::optional<DriverBinding> bound;
    std::function<void(const std::string& line)> print; // one line at the current virtual time
};
RunState& run_state();
// Prints "device node created" with each node's instance ID and description.
void print_created(const std::vector<std::string>& instance_ids);

// Resets the simulated machine, builds the scenario's machine on it and reads its timeline.
// Throws ScenarioError, naming the place, for anything that cannot be run.
Scenario load_scenario(const Json& document);

// Builds the machine part of a scenario (value null: the default machine) at place.
void build_machine(const Json* value, const std::string& place);

// ---- the machine, for the timeline and the run -------------------------------------------------
// A device on a hub port as the scenario describes it.
struct DeviceDescription {
    enum Kind { Adapter, Hub, Other } kind = Adapter;
    std::string place; // where the scenario describes it
    int port = 0;
    uint16_t vendor = sim::kUsbAdapterVendor;
    uint16_t product = sim::kUsbAdapterProduct;
    std::optional<std::string> description, driver_key, instance_id, inf, hub_name;
    bool plugged = true;
    bool in_device_tree = true;
    bool in_use = false; // a program holds it open: its removal needs a restart
    int hub_ports = 4;
    std::vector<DeviceDescription> devices; // on the ports of a hub
};
// Reads a device at place; port_count bounds its port when given (0: the port is taken from
// elsewhere and the field is not allowed).
DeviceDescription read_device(const Json& value, const std::string& place, int port_count);
// Refuses a described device, or one below it, whose instance ID a device node has already.
void refuse_taken_instance_ids(const DeviceDescription& device);
// Builds the device, and any hub below it, on port `port` of hub; refuses (throws ScenarioError)
// an instance ID that a device node has already, before it builds that device.
sim::UsbDevice& attach_device(sim::UsbHub& hub, int port, const DeviceDescription& device);

// The hub and port that a port label names ("A2": port 2 of controller 0's root hub; "A21":
// port 1 of the hub on A2). Throws ScenarioError at place when there is no such port.
struct PortRef {
    sim::UsbHub* hub = nullptr;
    int port = 0;
};
PortRef find_port(const std::string& label, const std::string& place);
// The hub whose device node this is, or null.
sim::UsbHub* hub_of_node(DEVINST node);
// Gives a plugged device whose device node was removed a new one, as Windows does when it finds
// the device again: same instance ID and driver key; an adapter gets the description of the
// bound driver when there is one. Returns the instance IDs of the nodes created.
std::vector<std::string> recreate_removed_nodes(sim::UsbDevice& device,
                                                const std::optional<DriverBinding>& bound);

// Changes of the machine read at place and carried out later (or at once, while the machine is
// built): a file put, the three driver files, the control device, the memory-pack component.
using Change = std::function<void()>;
Change read_file(const Json& value, const std::string& place);
Change read_driver_files(const Json& value, const std::string& place);
Change read_control_device(const Json& value, const std::string& place);
Change memory_pack_change(bool registered);
// The sample driver package, with the FileVersion the object's "version" gives, in the folder
// the installer starts in.
Change read_package(const Json& value, const std::string& place);
Change file_removal(const std::string& path);
Change driver_files_removal();

} // namespace quorvale_sim
