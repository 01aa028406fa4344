// Builders for the machine a status report describes: adapters on USB ports with the driver
// Windows bound to them, the three driver files, the memory-pack component and the running
// driver; and the fixture that gives the report a fresh report control.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "devices/adapter_list.h"
#include "install/install.h"
#include "report/report.h"
#include "tests/sim_test.h"

namespace report_machine {

// Device descriptions that give each DriverKind.
inline const char kNoDriver[] = "Quorvale";
inline const char kGeneric[] = "USB Human Interface Device";
inline const char kRumble[] = "Quorvale (rumble driver)";

inline const char kRumbleFile[] = "C:\\WINDOWS\\system32\\zelkqx7f.dll";
inline const char kMempakFile[] = "C:\\WINDOWS\\system32\\zelkqx7m.dll";
inline const char kKernelFile[] = "C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys";
// The class key whose presence means the memory-pack component is registered.
inline const char kMemoryPackKey[] = "CLSID\\{4E2A9D13-C605-11d3-9A41-0C5F7B2E8D60}";
// The report's rule under its first line, and the advice lines that can end it.
inline const char kRule[] = "---------------------------------------------------------------------";
inline const char kInstalledAdvice[] = "The 1.2.78 drivers are successfully installed.";
inline const char kRebootAdvice[] = "Some files were in use during the install.  You will need to "
                                    "reboot your computer to complete the 1.2.78 driver "
                                    "installation.";
inline const char kInstallAdvice[] = "Click the <Install> button to install the 1.2.78 drivers.";
// The advice of a 32-bit program on 64-bit Windows, and of a folder without the driver package.
inline const char kWow64Advice[] = "This 32-bit installer cannot install drivers on 64-bit "
                                   "Windows. Use the 64-bit installer of version 1.2.78.";
inline const char kMissingPackageAdvice[] = "The driver package is not in this folder: put "
                                            "zelkqx7.inf and its files here, then click "
                                            "<Install>.";
// A version that stands for a file that exists without a version resource.
inline const char kNoVersionResource[] = "(no version resource)";

inline sim::UsbHub& root_hub(int controller) {
    sim::UsbController* hc = sim::controller(controller);
    if (!hc)
        hc = &sim::add_controller(controller);
    return hc->root_hub(4);
}

// An adapter plugged into a root hub port: controller 0 port 2 is "A2".
inline void plug_adapter(int controller, int port, const char* description) {
    root_hub(controller).add_adapter(port, true, description);
}

// An adapter that Windows keeps configured on a root hub port while it is unplugged.
inline void configure_unplugged_adapter(int controller, int port, const char* description) {
    root_hub(controller).add_adapter(port, true, description);
    root_hub(controller).unplug(port);
}

// An adapter instance that Windows keeps configured for port `port` of controller n's root hub
// while no adapter is plugged in: a phantom whose instance ID carries the root hub's ID after
// the port character, the shape through which the configured-adapter locator finds the hub of
// an instance whose parent it cannot ask for. Without hub_in_id the ID names no hub and the
// locator cannot tell the port's hub.
inline void configure_adapter_instance(int controller, char port, const char* description,
                                       bool hub_in_id = true) {
    sim::UsbHub& hub = root_hub(controller);
    std::string hub_id = sim::node(hub.node)->instance_id;
    for (char& ch : hub_id)
        if (ch == '\\')
            ch = '&';
    std::string id = std::string("USB\\VID_0E1C&PID_0001\\") + port;
    id += hub_in_id ? hub_id : "&5&1A2B3C4D&0";
    sim::add_phantom(hub.node, id, std::string(description));
}

// One driver file: nullopt leaves it missing; kNoVersionResource puts it without a resource.
inline void put_driver_file(const char* path, std::optional<std::string> version) {
    if (!version)
        sim::remove_file(path);
    else if (*version == kNoVersionResource)
        sim::put_version_file(path, std::nullopt);
    else
        sim::put_version_file(path, *version);
}

inline void install_driver_files(std::optional<std::string> rumble,
                                 std::optional<std::string> mempak,
                                 std::optional<std::string> kernel) {
    put_driver_file(kRumbleFile, rumble);
    put_driver_file(kMempakFile, mempak);
    put_driver_file(kKernelFile, kernel);
}

inline void register_memory_pack() {
    sim::add_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
}

inline void unregister_memory_pack() {
    sim::delete_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
}

// The driver package's INF in the installer's current folder, as when it is started there.
inline void put_driver_package() {
    sim::put_file(".\\zelkqx7.inf", "[Version]\r\n");
}

// The running adapter driver answering its version query with these bytes.
inline void run_driver(std::vector<uint8_t> reply = {0x01, 0x02, 0x4E, 0x00}) {
    sim::set_control_device(reply);
}

// Everything at the installer's version: the three files and the running driver.
inline void install_everything() {
    install_driver_files("1.2.78", "1.2.78", "1.2.78");
    run_driver();
}

// The lines of a report, without their CR LF; a line that lacks its CR LF ends with "<no end>".
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no end>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Empty report buffers and adapter list, and in app.report_edit a read-only edit control that
// stands for the window's report area; returns the control, null when it cannot be made.
inline HWND open_report_area() {
    std::memset(&report_buffers, 0, sizeof report_buffers);
    std::memset(&adapter_list, 0, sizeof adapter_list);
    install_state = InstallState();
    app.report_edit = CreateWindowExA(0, "Edit", "", ES_MULTILINE | ES_READONLY, 0, 0, 400, 300,
                                      nullptr, nullptr, sim::program_instance(), nullptr);
    return app.report_edit;
}

} // namespace report_machine

// A fresh machine whose current folder holds the driver package, empty report buffers and
// adapter list, and a read-only edit control that stands for the window's report area.
class ReportTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        report_machine::put_driver_package();
        ASSERT_NE(report_machine::open_report_area(), nullptr);
    }
    // The same again on a new machine, for a test that tries several machines in turn.
    void start_again() {
        sim::reset();
        report_machine::put_driver_package();
        ASSERT_NE(report_machine::open_report_area(), nullptr);
    }
    void TearDown() override {
        DestroyWindow(app.report_edit);
        app.report_edit = nullptr;
        SimTest::TearDown();
    }
    std::string shown() const {
        return sim::window_text(app.report_edit);
    }
    std::vector<std::string> shown_lines() const {
        return report_machine::lines_of(shown());
    }
    // Whether the shown report holds this line.
    bool shows(const std::string& line) const {
        for (const std::string& shown_line : shown_lines())
            if (shown_line == line)
                return true;
        return false;
    }
    // The report's advice: its last line.
    std::string advice() const {
        std::vector<std::string> lines = shown_lines();
        return lines.empty() ? "" : lines.back();
    }
};
