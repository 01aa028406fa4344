// Install and Uninstall while Windows' own message loops run inside them: the removal and the INF
// section dispatch the refresh timer's ticks and device notices to the window, and a refresh in
// between sees the machine half changed. The commands still remove exactly the adapter
// instances, re-enumerate exactly the hubs they should, and end with the report composed after
// the section.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/harness.h"

namespace {

const char kPackageDirectory[] = "C:\\Quorvale";
const char kRumble[] = "Quorvale (rumble driver)";
const char* const kDriverFiles[] = {"C:\\WINDOWS\\system32\\zelkqx7f.dll",
                                    "C:\\WINDOWS\\system32\\zelkqx7m.dll",
                                    "C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys"};
const char* const kDriverFileLines[] = {"ver 1.2.78 - Rumble Driver File\r\n",
                                        "ver 1.2.78 - Mempak Driver File\r\n",
                                        "ver 1.2.78 - Quorvale Driver File\r\n"};

// How many of the three driver files a report shows.
int files_shown(const std::string& report) {
    int shown = 0;
    for (const char* line : kDriverFileLines)
        shown += report.find(line) != std::string::npos;
    return shown;
}

using InstallMessageLoopsTest = AppTest;

TEST_F(InstallMessageLoopsTest, ATickOrANoticeInsideTheCommandDoesNoHarm) {
    struct Case {
        const char* name;
        bool install;
        // Each file of the section takes 1500 ms, so the timer ticks inside; the section starts
        // (or stops) the driver first, so a tick's refresh composes the report anew.
        bool ticks;
    } const cases[] = {
        {"Install, ticks inside", true, true},
        {"Install, a plug inside", true, false},
        {"Uninstall, ticks inside", false, true},
        {"Uninstall, a plug inside", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_again();
        // A1 and A21 without a driver, A3 with the maker's driver started: every removal brings
        // DBT_DEVNODES_CHANGED, and A3's its removal-complete as well, inside the removal walk.
        sim::UsbHub& root = sim::add_controller(0).root_hub(4);
        sim::UsbDevice& a1 = root.add_adapter(1);
        sim::UsbHub& hub = root.add_hub(2, 4);
        sim::UsbDevice& a21 = hub.add_adapter(1);
        sim::UsbDevice& a3 = root.add_adapter(3, true, kRumble);
        std::vector<std::string> adapter_instances;
        for (const sim::UsbDevice* adapter : {&a1, &a21, &a3})
            for (DEVINST node : {adapter->node, adapter->function})
                adapter_instances.push_back(sim::node(node)->instance_id);
        sim::set_current_directory(kPackageDirectory);
        sim::put_sample_driver_package(kPackageDirectory, "1.2.78");
        if (!c.install)
            for (const char* file : kDriverFiles)
                sim::put_version_file(file, std::string("1.2.78"));
        if (!c.install)
            sim::set_control_device(std::vector<uint8_t>{1, 2, 78, 0});
        if (c.ticks) {
            sim::set_inf_file_duration(1500);
            sim::on_inf_section([&c](const std::string&) {
                if (c.install)
                    sim::set_control_device(std::vector<uint8_t>{1, 2, 78, 0});
                else
                    sim::remove_control_device();
            });
        } else {
            // An adapter with its driver is plugged into A4 while the section runs.
            sim::on_inf_section([&root](const std::string&) {
                if (!root.port(4).device)
                    root.add_adapter(4, true, kRumble);
            });
        }

        std::vector<std::string> removed, reports;
        sim::on_machine_event([&](const sim::MachineEvent& event) {
            if (event.kind == sim::MachineEvent::InstanceRemoved)
                removed.push_back(event.subject);
            if (event.kind == sim::MachineEvent::WindowText && event.window == app.report_edit)
                reports.push_back(event.subject);
        });
        std::vector<DEVINST> reenumerated;
        sim::on_reenumerate([&reenumerated](DEVINST node) { reenumerated.push_back(node); });

        sim::at(1000,
                [&c] { sim::click_button(c.install ? app.install_button : app.uninstall_button); });
        std::string final_report;
        sim::at(1001, [&final_report] {
            final_report = sim::window_text(app.report_edit);
            // The report shown is the one a refresh composes from the state the section left.
            refresh_report(main_window(), 1);
            EXPECT_EQ(sim::window_text(app.report_edit), final_report);
            press_exit();
        });
        EXPECT_EQ(installer_main(), 0);

        std::sort(removed.begin(), removed.end());
        std::sort(adapter_instances.begin(), adapter_instances.end());
        EXPECT_EQ(removed, adapter_instances);
        EXPECT_EQ(reenumerated, c.install ? (std::vector<DEVINST>{root.node, hub.node, root.node})
                                          : std::vector<DEVINST>{});
        // A refresh inside the section saw it half done; the final report shows it done.
        EXPECT_TRUE(std::any_of(reports.begin(), reports.end(),
                                [](const std::string& report) {
                                    return files_shown(report) > 0 && files_shown(report) < 3;
                                }) ||
                    !c.ticks);
        EXPECT_EQ(files_shown(final_report), c.install ? 3 : 0);
        if (!c.ticks) {
            EXPECT_NE(final_report.find("Port A4: rumble driver\r\n"), std::string::npos);
        }
        sim::on_machine_event(nullptr);
        sim::on_reenumerate(nullptr);
        sim::on_inf_section(nullptr);
    }
}

} // namespace
