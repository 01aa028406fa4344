// The machine of the refresh measurements: a device tree of N nodes and an instance ID list of
// N IDs (a tenth of them phantoms), two plugged-in adapters, one configured adapter, the driver
// files installed and the driver running, the driver package in the current folder, and the
// report control the refresh writes to.
#pragma once

#include <string>
#include <vector>

#include "app/main_window.h"
#include "simwin/sim.h"

namespace bench_machine {

const int kNodesPerBranch = 50;
const int kPhantomEvery = 10;

// Builds the machine with about node_count nodes in the device tree.
inline void build_machine(int node_count) {
    sim::reset();
    sim::UsbController& hc = sim::add_controller(0);
    sim::UsbHub& root = hc.root_hub(4);
    root.add_adapter(2, true, "Quorvale (rumble driver)");
    root.add_hub(1, 4).add_adapter(3, true, "Quorvale");
    root.add_adapter(4, true, "Quorvale");
    root.unplug(4); // configured, not plugged in

    int added = 0;
    DEVINST branch = 0;
    while (added < node_count) {
        if (added % kNodesPerBranch == 0)
            branch = sim::add_node(sim::root_node(),
                                   "ROOT\\SYSTEM\\" + std::to_string(added / kNodesPerBranch),
                                   "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\" +
                                       std::to_string(added / kNodesPerBranch),
                                   std::string("System device"));
        // Every third ID begins with 'U' or 'H', so the prefix comparison has work to do.
        const char* bus = added % 3 == 0   ? "USB\\VID_046D&PID_C52B\\"
                          : added % 3 == 1 ? "HID\\VID_046D&PID_C52B\\"
                                           : "PCI\\VEN_8086&DEV_1E31\\";
        sim::add_node(branch, bus + std::to_string(added),
                      "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\" + std::to_string(added),
                      std::string("Device"), added % kPhantomEvery != 0);
        ++added;
    }

    sim::put_version_file("C:\\WINDOWS\\system32\\zelkqx7f.dll", "1.2.78");
    sim::put_version_file("C:\\WINDOWS\\system32\\zelkqx7m.dll", "1.2.78");
    sim::put_version_file("C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys", "1.2.78");
    sim::add_registry_key(HKEY_CLASSES_ROOT, "CLSID\\{4E2A9D13-C605-11d3-9A41-0C5F7B2E8D60}");
    sim::set_control_device(std::vector<uint8_t>{0x01, 0x02, 0x4E, 0x00});
    sim::put_file("C:\\zelkqx7.inf", "[Version]\r\n");
    app.report_edit = CreateWindowExA(0, "Edit", "", ES_MULTILINE | ES_READONLY, 0, 0, 400, 300,
                                      nullptr, nullptr, sim::program_instance(), nullptr);
}

} // namespace bench_machine
