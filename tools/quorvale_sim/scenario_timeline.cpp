// The timeline and the INF sections of a scenario: each step read with its place into what it
// will do at its virtual time (plug, unplug, press, menu, key, file and driver changes, close),
// and each section into its effect on the machine. load_scenario reads a whole scenario.
#include <cstdio>

#include "app/main_window.h"
#include "tools/quorvale_sim/scenario.h"

namespace quorvale_sim {
namespace {

constexpr long long kLongestWaitMs = 24LL * 60 * 60 * 1000;
constexpr long long kDefaultTimeLimitMs = 60000;
const char kDefaultBoundDescription[] = "Quorvale (rumble driver)";
const std::string kAltPrefix = "Alt+";
const char kMainWindowClass[] = "QDIMainWindow";

const char* const kActions[] = {
    "wait",     "plug",        "unplug",      "press",          "menu",  "key",
    "put_file", "remove_file", "memory_pack", "control_device", "close", "node_changes",
    "package"};
constexpr long long kMostNodeChanges = 10000;
constexpr long long kDefaultNodeChangesApartMs = 10;
// The node of another device that a burst of node changes adds and removes in turn.
const char kBurstInstance[] = "ROOT\\SIM_NODE_CHANGES\\0000";

HWND main_window() {
    return sim::find_window(kMainWindowClass);
}

std::string strip_ampersands(const std::string& text) {
    std::string result;
    for (char ch : text)
        if (ch != '&')
            result += ch;
    return result;
}

// The push button with this text in the open dialog, else in the main window.
HWND find_button(const std::string& text) {
    HWND owner = sim::active_dialog() ? sim::active_dialog() : main_window();
    if (!owner)
        return nullptr;
    for (HWND child : sim::children(owner)) {
        sim::WindowInfo info = sim::window_info(child);
        if (sim::equal_nocase(info.class_name, "Button") && strip_ampersands(info.text) == text)
            return child;
    }
    return nullptr;
}

// The simulated Windows tells the windows of the devices that come and go, as Windows does.
TimelineStep read_plug(const Fields& step, PortRef port, const std::string& label) {
    std::optional<DeviceDescription> described;
    if (const Json* device = step.get("device")) {
        described = read_device(*device, step.at("device"), 0);
        refuse_taken_instance_ids(*described);
    }
    TimelineStep result;
    result.line = "> plug " + label;
    if (described)
        result.line += described->kind == DeviceDescription::Hub     ? " (a hub)"
                       : described->kind == DeviceDescription::Other ? " (a device)"
                                                                     : " (an adapter)";
    result.run = [port, described]() -> std::string {
        sim::UsbPort& slot = port.hub->port(port.port);
        const std::optional<DriverBinding>& bound = run_state().bound;
        if (slot.device && (described || slot.device->plugged))
            return "the port carries a device already; nothing done";
        if (slot.device) {
            port.hub->plug(port.port);
            print_created(recreate_removed_nodes(*slot.device, bound));
        } else {
            DeviceDescription device = described.value_or(DeviceDescription());
            // Windows installs the bound driver for an adapter it meets for the first time.
            if (device.kind == DeviceDescription::Adapter && !device.description && bound)
                device.description = bound->description;
            device.plugged = true;
            // An ID an earlier step gave to another device is found only now.
            try {
                attach_device(*port.hub, port.port, device);
            } catch (const ScenarioError& error) {
                return std::string(error.what()) + "; the device is not plugged";
            }
        }
        return "";
    };
    return result;
}

TimelineStep read_unplug(PortRef port, const std::string& label) {
    TimelineStep result;
    result.line = "> unplug " + label;
    result.run = [port]() -> std::string {
        sim::UsbDevice* device = port.hub->port(port.port).device.get();
        if (!device || !device->plugged)
            return "no device is plugged in there; nothing done";
        port.hub->unplug(port.port);
        return "";
    };
    return result;
}

TimelineStep read_press(const std::string& button, const std::string& place) {
    static const char* const kButtons[] = {"Install", "Uninstall", "Exit", "OK"};
    bool known = false;
    for (const char* name : kButtons)
        known = known || button == name;
    if (!known)
        throw ScenarioError(place, "unknown button \"" + button +
                                       "\"; the buttons are Install, Uninstall, Exit and OK");
    TimelineStep result;
    result.line = "> press " + button;
    result.run = [button]() -> std::string {
        HWND found = find_button(button);
        if (!found)
            return "no button \"" + button + "\" is showing; nothing done";
        sim::click_button(found);
        return "";
    };
    return result;
}

TimelineStep read_menu(const std::string& item, const std::string& place) {
    static const std::pair<const char*, UINT> kItems[] = {
        {"Install", kCommandInstall},
        {"Uninstall", kCommandUninstall},
        {"Exit", kCommandExit},
        {"About", kCommandAbout},
    };
    UINT command = 0;
    for (auto& known : kItems)
        if (item == known.first)
            command = known.second;
    if (!command)
        throw ScenarioError(place, "unknown menu item \"" + item +
                                       "\"; the items are Install, Uninstall, Exit and About");
    TimelineStep result;
    result.line = "> menu " + item;
    result.run = [command]() -> std::string {
        HWND window = main_window();
        if (!window || !sim::choose_menu_item(window, command))
            return "the menu item is not there or not enabled; nothing done";
        return "";
    };
    return result;
}

TimelineStep read_key(const std::string& key, const std::string& place) {
    TimelineStep result;
    result.line = "> key " + key;
    if (key == "Enter" || key == "Escape") {
        int virtual_key = key == "Enter" ? VK_RETURN : VK_ESCAPE;
        result.run = [virtual_key]() -> std::string {
            sim::press_key(virtual_key);
            return "";
        };
    } else if (key.size() == kAltPrefix.size() + 1 &&
               key.compare(0, kAltPrefix.size(), kAltPrefix) == 0) {
        char ch = key.back();
        result.run = [ch]() -> std::string {
            sim::type_alt_char(ch);
            return "";
        };
    } else {
        throw ScenarioError(place, "unknown key \"" + key +
                                       "\"; use \"Alt+\" and one character, \"Enter\" or "
                                       "\"Escape\"");
    }
    return result;
}

// A step that changes the machine at its time.
TimelineStep change_step(const std::string& line, Change change) {
    TimelineStep result;
    result.line = line;
    result.run = [change]() -> std::string {
        change();
        return "";
    };
    return result;
}

// Another device's node comes and goes `count` times, `apart_ms` apart from the step's time on:
// Windows sends DBT_DEVNODES_CHANGED for each, as for the many node changes of a device install.
TimelineStep read_node_changes(long long count, long long apart_ms) {
    TimelineStep result;
    result.line = "> " + std::to_string(count) + " device node changes, " +
                  std::to_string(apart_ms) + " ms apart";
    result.run = [count, apart_ms]() -> std::string {
        auto change = [] {
            DEVINST node = sim::find_node(kBurstInstance);
            if (node)
                sim::remove_node(node);
            else
                sim::add_node(sim::root_node(), kBurstInstance);
        };
        change();
        for (long long i = 1; i < count; ++i)
            sim::at(sim::now_ms() + static_cast<uint64_t>(i * apart_ms), change);
        return "";
    };
    return result;
}

// One step; a wait gives no step but moves the time of the steps after it.
std::optional<TimelineStep> read_step(const Json& value, const std::string& place,
                                      uint64_t& time_ms) {
    Fields step(value, place,
                {"wait", "plug", "unplug", "press", "menu", "key", "put_file", "remove_file",
                 "memory_pack", "control_device", "close", "device", "node_changes", "apart_ms",
                 "package"});
    std::string action;
    for (const char* name : kActions) {
        if (!step.has(name))
            continue;
        if (!action.empty())
            throw ScenarioError(place, "a step does one thing; this one has both \"" + action +
                                           "\" and \"" + name + "\"");
        action = name;
    }
    if (action.empty()) {
        std::string names;
        for (const char* name : kActions)
            names += (names.empty() ? "" : ", ") + std::string(name);
        throw ScenarioError(place, "a step needs one of: " + names);
    }
    if (step.has("device") && action != "plug")
        throw ScenarioError(step.at("device"), "only a plug step describes a device");
    if (step.has("apart_ms") && action != "node_changes")
        throw ScenarioError(step.at("apart_ms"), "only a node_changes step has \"apart_ms\"");
    std::string where = step.at(action);
    const Json& argument = *step.get(action);

    std::optional<TimelineStep> result;
    if (action == "wait") {
        time_ms += static_cast<uint64_t>(read_number(argument, where, 0, kLongestWaitMs));
        return std::nullopt;
    }
    if (action == "plug" || action == "unplug") {
        std::string label = read_text(argument, where);
        PortRef port = find_port(label, where);
        result = action == "plug" ? read_plug(step, port, label) : read_unplug(port, label);
    } else if (action == "press") {
        result = read_press(read_text(argument, where), where);
    } else if (action == "menu") {
        result = read_menu(read_text(argument, where), where);
    } else if (action == "key") {
        result = read_key(read_text(argument, where), where);
    } else if (action == "put_file") {
        Change put = read_file(argument, where); // checks that the path is a text
        result = change_step("> put file " + argument.at("path").get<std::string>(), put);
    } else if (action == "remove_file") {
        std::string path = checked_path(read_text(argument, where), where);
        result = change_step("> remove file " + path, file_removal(path));
    } else if (action == "package") {
        result = change_step("> put the driver package in the installer's folder",
                             read_package(argument, where));
    } else if (action == "memory_pack") {
        bool registered = read_flag(argument, where);
        result = change_step(registered ? "> register the memory-pack component"
                                        : "> unregister the memory-pack component",
                             memory_pack_change(registered));
    } else if (action == "control_device") {
        result = change_step(argument.is_null() ? "> the control device goes away"
                                                : "> the control device changes",
                             read_control_device(argument, where));
    } else if (action == "node_changes") {
        long long count = read_number(argument, where, 1, kMostNodeChanges);
        long long apart = step.number("apart_ms", kDefaultNodeChangesApartMs, 1, kLongestWaitMs);
        result = read_node_changes(count, apart);
    } else if (action == "close") {
        if (!read_flag(argument, where))
            throw ScenarioError(where, "\"close\" takes true");
        result = TimelineStep();
        result->line = "> close the window";
        result->run = []() -> std::string {
            HWND window = main_window();
            if (!window)
                return "no window is open; nothing done";
            sim::choose_system_close(window);
            return "";
        };
    }
    result->at_ms = time_ms;
    return result;
}

SectionEffect read_section(const Json& value, const std::string& place) {
    Fields fields(value, place,
                  {"driver_files", "remove_driver_files", "put_files", "remove_files",
                   "bind_driver", "bound_inf", "unbind_driver", "memory_pack", "control_device"});
    SectionEffect effect;
    if (fields.flag("remove_driver_files", false))
        effect.changes.push_back(driver_files_removal());
    if (const Json* files = fields.get("driver_files"))
        effect.changes.push_back(read_driver_files(*files, fields.at("driver_files")));
    for (auto& [file, file_place] : fields.list("put_files"))
        effect.changes.push_back(read_file(*file, file_place));
    for (auto& [path, path_place] : fields.list("remove_files"))
        effect.changes.push_back(file_removal(read_text(*path, path_place)));
    if (fields.has("memory_pack"))
        effect.changes.push_back(memory_pack_change(fields.flag("memory_pack", false)));
    if (const Json* device = fields.get("control_device"))
        effect.changes.push_back(read_control_device(*device, fields.at("control_device")));
    if (fields.has("bind_driver"))
        effect.bind =
            DriverBinding{fields.text("bind_driver", ""), fields.optional_text("bound_inf")};
    else if (fields.has("bound_inf"))
        throw ScenarioError(fields.at("bound_inf"), "an INF copy comes with \"bind_driver\"");
    effect.unbind = fields.flag("unbind_driver", false);
    if (effect.bind && effect.unbind)
        throw ScenarioError(place, "a section binds the driver or unbinds it, not both");
    return effect;
}

// Without "inf_sections": DefaultInstall binds the maker's rumble driver and DefaultUninstall
// unbinds it; the package's INF copies and deletes the driver files itself.
std::map<std::string, SectionEffect> default_sections() {
    std::map<std::string, SectionEffect> sections;
    sections["DefaultInstall"].bind = DriverBinding{kDefaultBoundDescription, std::nullopt};
    sections["DefaultUninstall"].unbind = true;
    return sections;
}

} // namespace

void print_created(const std::vector<std::string>& created) {
    for (const std::string& id : created) {
        const sim::Node* node = sim::node(sim::find_node(id));
        std::string description =
            node && node->description ? " \"" + *node->description + "\"" : "";
        run_state().print("device node created: " + id + description);
    }
}

RunState& run_state() {
    static RunState state;
    return state;
}

Scenario load_scenario(const Json& document) {
    sim::reset();
    run_state().bound.reset();
    Fields top(document, "", {"description", "machine", "timeline", "time_limit_ms"});
    Scenario scenario;
    scenario.description = top.text("description", "");
    scenario.time_limit_ms =
        static_cast<uint64_t>(top.number("time_limit_ms", kDefaultTimeLimitMs, 1, kLongestWaitMs));

    const Json* machine = top.get("machine");
    build_machine(machine, "machine");
    // The machine was read as an object above; its INF sections come with the timeline's
    // reading because they, too, act only during the run.
    const Json* sections =
        machine && machine->contains("inf_sections") ? &machine->at("inf_sections") : nullptr;
    if (!sections) {
        scenario.sections = default_sections();
    } else {
        std::string place = "machine.inf_sections";
        if (!sections->is_object())
            throw ScenarioError(place, "expected an object, found " + json_type_name(*sections));
        for (auto it = sections->begin(); it != sections->end(); ++it)
            scenario.sections[it.key()] = read_section(it.value(), place + "." + it.key());
    }

    uint64_t time_ms = 0;
    for (auto& [step, place] : top.list("timeline")) {
        std::optional<TimelineStep> read = read_step(*step, place, time_ms);
        if (!read)
            continue;
        if (read->at_ms > scenario.time_limit_ms)
            throw ScenarioError(place, "this step comes at " + std::to_string(read->at_ms) +
                                           " ms, after the time limit of " +
                                           std::to_string(scenario.time_limit_ms) + " ms");
        scenario.timeline.push_back(*read);
    }
    return scenario;
}

} // namespace quorvale_sim
