// The rich machine of the reliability tests: several host controllers, an external hub, plugged
// and configured adapters with their HID functions, installed INF copies in both INF directories
// (the maker's and another provider's), the driver files, the running driver and the memory-pack
// component; and the checks that a run left the machine sound.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "report/report.h"
#include "tests/install/machine.h"
#include "tests/report/machine.h"

namespace reliability_machine {

using inf_machine::kInfDirectory;
inline const char kOtherInfDirectory[] = "C:\\WINDOWS\\OtherInf";
inline const char kMakerInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Zelk%\r\nClass=HIDClass\r\n";
inline const char kOtherProviderInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Other%\r\nClass=HIDClass\r\n";

// What the machine holds on disk, so a run can be checked against it.
struct MachineFiles {
    std::vector<std::string> maker_copies; // INF copies that carry the provider token
    std::vector<std::string> kept_files;   // everything else: it must survive every run
};

// Gives a node's driver key the "InfPath" value naming inf_name, and puts the copy into both INF
// directories: the maker's copy or another provider's.
inline void give_inf_copy(DEVINST node, const std::string& inf_name, bool maker,
                          MachineFiles& files) {
    inf_machine::set_inf_path(*sim::node(node)->driver_key, inf_name);
    for (const char* directory : {kInfDirectory, kOtherInfDirectory}) {
        std::string path = std::string(directory) + "\\" + inf_name;
        sim::put_file(path, maker ? kMakerInf : kOtherProviderInf);
        (maker ? files.maker_copies : files.kept_files).push_back(path);
    }
}

// Builds the machine on a freshly reset simwin and returns what it put on disk.
//   HCD0 root hub (4 ports): 1 external hub (4 ports) with a rumble adapter on its port 2 and an
//        unplugged one on its port 4; 2 an adapter without driver; 3 a keyboard; 4 an adapter
//        configured but unplugged.
//   HCD1 root hub (2 ports): 1 an adapter under a generic driver.
//   HCD3 root hub (2 ports), empty; plus configured instances whose parent cannot be asked for.
inline MachineFiles build_rich_machine() {
    using namespace report_machine;
    MachineFiles files;
    // Windows before 8: the unplugged adapters' parents cannot be asked for, so the report
    // holds the locator's "*" labels as well as hub paths.
    sim::set_parent_rule(sim::ParentRule::BeforeWindows8);

    sim::UsbHub& root0 = sim::add_controller(0).root_hub(4);
    sim::UsbHub& hub = root0.add_hub(1, 4);
    sim::UsbDevice& rumble = hub.add_adapter(2, true, kRumble);
    sim::UsbDevice& leaving = hub.add_adapter(4, true, kRumble);
    hub.unplug(4);
    sim::UsbDevice& bare = root0.add_adapter(2, true, kNoDriver);
    root0.add_device(3, 0x046D, 0xC31C);
    sim::UsbDevice& configured = root0.add_adapter(4, true, kNoDriver);
    root0.unplug(4);

    sim::UsbDevice& generic = sim::add_controller(1).root_hub(2).add_adapter(1, true, kGeneric);
    sim::add_controller(3).root_hub(2);
    configure_adapter_instance(3, '1', kNoDriver);
    configure_adapter_instance(1, '2', kRumble, false);

    inf_machine::set_inf_directory("DevicePath", kInfDirectory);
    inf_machine::set_inf_directory("OtherDevicePath", "%SystemRoot%\\OtherInf", REG_EXPAND_SZ);
    give_inf_copy(rumble.node, "oem11.inf", true, files);
    give_inf_copy(rumble.function, "oem12.inf", true, files);
    give_inf_copy(leaving.node, "oem13.inf", true, files);
    give_inf_copy(bare.node, "oem14.inf", false, files);
    give_inf_copy(configured.node, "oem15.inf", true, files);
    give_inf_copy(generic.function, "oem16.inf", false, files);
    // A configured HID function of an adapter that Windows no longer lists under a hub.
    DEVINST orphan = sim::add_instance_with_driver_key(sim::root_node(),
                                                       "HID\\VID_0E1C&PID_0001\\7&3C4D5E6F&0&0000",
                                                       "{hid-orphan}\\0001", "oem17.inf");
    for (const char* directory : {kInfDirectory, kOtherInfDirectory}) {
        std::string path = std::string(directory) + "\\oem17.inf";
        sim::put_file(path, kMakerInf);
        files.maker_copies.push_back(path);
    }
    (void)orphan;

    install_everything();
    register_memory_pack();
    sim::put_file("C:\\zelkqx7.inf", kMakerInf);
    files.kept_files.push_back("C:\\zelkqx7.inf");
    for (const char* path : {kRumbleFile, kMempakFile, kKernelFile})
        files.kept_files.push_back(path);
    return files;
}

// The report's fixed lines and its advice, as "" when sound, else what is wrong with it.
inline std::string report_fault(const std::string& text) {
    std::vector<std::string> lines = report_machine::lines_of(text);
    using namespace report_machine;
    const std::set<std::string> advice = {kInstalledAdvice, kRebootAdvice, kInstallAdvice,
                                          kMissingPackageAdvice};
    if (lines.size() < 6)
        return "too few lines";
    if (lines[0] != "<< USB ports with Quorvales configured >>")
        return "no header line";
    if (lines[1] != kRule)
        return "no rule";
    bool drivers_line = false;
    for (const std::string& line : lines)
        drivers_line = drivers_line || line == "Installed Drivers:";
    if (!drivers_line)
        return "no \"Installed Drivers:\" line";
    if (!advice.count(lines.back()))
        return "last line is not an advice: " + lines.back();
    return "";
}

} // namespace reliability_machine
