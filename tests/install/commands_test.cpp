// The Install and Uninstall commands on the simulated machine: the INF section runs through the
// entry points the Setup API module exports, after the removal walk and before the forced
// refresh, and an install that leaves an adapter without a driver re-enumerates its hubs.
#include <algorithm>
#include <functional>

#include "install/install.h"
#include "tests/install/machine.h"
#include "tests/report/machine.h"
#include "usb/port_table.h"

using namespace report_machine;

namespace {

const char kInstallLine[] = "DefaultInstall 128 .\\zelkqx7.inf";
const char kUninstallLine[] = "DefaultUninstall 128 .\\zelkqx7.inf";

// The position in the call log of the first call of function at or after from; -1 when none.
long first_call(const std::string& function, long from = 0) {
    const std::vector<sim::Call>& log = sim::calls();
    for (long i = from; i < static_cast<long>(log.size()); ++i)
        if (log[static_cast<size_t>(i)].function == function)
            return i;
    return -1;
}

// The nodes that CM_Reenumerate_DevNode was asked to re-enumerate, in order.
std::vector<DEVINST> reenumerated;

} // namespace

class InstallTest : public ReportTest {
  protected:
    void SetUp() override {
        ReportTest::SetUp();
        watch_reenumeration();
    }
    void start_again() {
        ReportTest::start_again();
        watch_reenumeration();
    }
    static void watch_reenumeration() {
        reenumerated.clear();
        sim::on_reenumerate([](DEVINST node) { reenumerated.push_back(node); });
    }
    HWND window() const {
        return reinterpret_cast<HWND>(app.report_edit);
    }
};

TEST_F(InstallTest, InstallRunsDefaultInstallThroughTheAnsiEntryThenTheWideOne) {
    install_command(window());

    const std::vector<sim::InfRun>& runs = sim::inf_runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].entry, "InstallHinfSection");
    EXPECT_EQ(runs[0].command_line, kInstallLine);
    EXPECT_EQ(runs[0].show, 0);
    EXPECT_EQ(runs[1].entry, "InstallHinfSectionW");
    EXPECT_EQ(runs[1].command_line, kInstallLine);
    EXPECT_EQ(runs[1].show, 5);
    for (const sim::InfRun& run : runs) {
        EXPECT_EQ(run.window, window());
        EXPECT_NE(run.module, nullptr);
    }
}

TEST_F(InstallTest, UninstallRunsDefaultUninstallThroughBothEntries) {
    uninstall_command(window());

    const std::vector<sim::InfRun>& runs = sim::inf_runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].command_line, kUninstallLine);
    EXPECT_EQ(runs[1].command_line, kUninstallLine);
}

TEST_F(InstallTest, ModuleWithOneEntryPointRunsTheSectionOnceThroughIt) {
    sim::set_setup_module(sim::SetupModule::AnsiEntryOnly);
    install_command(window());
    ASSERT_EQ(sim::inf_runs().size(), 1u);
    EXPECT_EQ(sim::inf_runs()[0].entry, "InstallHinfSection");

    start_again();
    sim::set_setup_module(sim::SetupModule::WideEntryOnly);
    install_command(window());
    ASSERT_EQ(sim::inf_runs().size(), 1u);
    EXPECT_EQ(sim::inf_runs()[0].entry, "InstallHinfSectionW");
    EXPECT_EQ(sim::inf_runs()[0].show, 5);
}

TEST_F(InstallTest, NoEntryPointOrNoModuleRunsNothingButTheReportIsStillShown) {
    for (sim::SetupModule exports : {sim::SetupModule::NoEntries, sim::SetupModule::NotLoadable}) {
        SCOPED_TRACE(static_cast<int>(exports));
        sim::set_setup_module(exports);
        SendMessageA(app.report_edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        install_command(window());
        EXPECT_TRUE(sim::inf_runs().empty());
        EXPECT_EQ(advice(), kInstallAdvice);
    }
}

TEST_F(InstallTest, FailedWideConversionSkipsOnlyTheWideEntry) {
    sim::fail_every_call("MultiByteToWideChar");
    install_command(window());

    ASSERT_EQ(sim::inf_runs().size(), 1u);
    EXPECT_EQ(sim::inf_runs()[0].entry, "InstallHinfSection");
}

TEST_F(InstallTest, InstallRemovesInstancesRunsTheSectionRefreshesThenReenumerates) {
    plug_adapter(0, 2, kNoDriver);
    install_command(window());

    // The driver package is opened before anything is removed.
    long package = first_call("CreateFileA");
    ASSERT_NE(package, -1);
    EXPECT_EQ(sim::calls()[static_cast<size_t>(package)].args.rfind(".\\zelkqx7.inf ", 0), 0u);
    long removal = first_call("SetupDiRemoveDevice");
    EXPECT_LT(package, removal);
    long section = first_call("InstallHinfSection");
    long shown = first_call("SendMessageA", section);
    long reenumeration = first_call("CM_Reenumerate_DevNode");
    ASSERT_NE(removal, -1);
    EXPECT_LT(removal, section);
    EXPECT_LT(section, shown);
    EXPECT_LT(shown, reenumeration);
    EXPECT_EQ(first_call("SendMessageA", reenumeration), -1) << "no refresh after re-enumeration";
}

// Each machine's forced refresh gives the flags named; only bit 4 asks for re-enumeration. The
// removal walk takes every adapter's instance away, so a plugged adapter always comes out
// without a driver until Windows binds one again.
TEST_F(InstallTest, ReenumeratesForEveryResultWithAdapterWithoutDriverAndForNoOther) {
    struct Case {
        DWORD flags;
        bool adapter;
        std::optional<std::string> rumble, kernel;
    };
    const Case cases[] = {
        {1, false, "1.2.78", std::nullopt}, {2, false, "1.2.77", "1.2.78"},
        {3, false, "1.2.77", std::nullopt}, {4, true, "1.2.78", "1.2.78"},
        {5, true, std::nullopt, "1.2.78"},  {6, true, "1.2.77", "1.2.78"},
        {7, true, "1.2.77", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        start_again();
        install_driver_files(c.rumble, "1.2.78", c.kernel);
        if (c.adapter)
            plug_adapter(0, 2, kRumble);

        install_command(window());

        EXPECT_EQ(refresh_report(window(), 1), c.flags);
        EXPECT_EQ(reenumerated.size(), c.adapter ? 1u : 0u);
    }
}

TEST_F(InstallTest, UninstallNeverReenumerates) {
    plug_adapter(0, 2, kNoDriver);
    plug_adapter(1, 1, kNoDriver);
    uninstall_command(window());

    EXPECT_EQ(advice(), kInstallAdvice);
    EXPECT_TRUE(reenumerated.empty());
}

// The hubs that an Install re-enumerates on each machine, in order: a hub once for each unbroken
// run of its adapters in the table, no hub that no node matches (its adapters carry node 0), and
// nothing from entries that an earlier, larger scan left past the table's count.
TEST_F(InstallTest, EachUnbrokenRunOfAHubsAdaptersIsReenumeratedOnce) {
    struct Machine {
        const char* name;
        std::function<std::vector<DEVINST>()> build; // gives the nodes expected
    };
    const Machine machines[] = {
        {"adapters on ports 1 and 3 of one root hub",
         [] {
             sim::UsbHub& root = sim::add_controller(0).root_hub(4);
             root.add_adapter(1);
             root.add_adapter(3);
             return std::vector<DEVINST>{root.node};
         }},
        {"root hub A with adapters on ports 1 and 3 and a hub on port 2 with an adapter on its "
         "port 1: the table reads A, A1, A2, A21, A3",
         [] {
             sim::UsbHub& root = sim::add_controller(0).root_hub(3);
             root.add_adapter(1);
             sim::UsbHub& hub = root.add_hub(2, 4);
             hub.add_adapter(1);
             root.add_adapter(3);
             return std::vector<DEVINST>{root.node, hub.node, root.node};
         }},
        {"an adapter on a root hub that no node matches (its label is \"@\" alone)",
         [] {
             sim::UsbController& hc = sim::add_controller(0);
             hc.root_hub(2).add_adapter(1);
             hc.driver_key.fails = true;
             return std::vector<DEVINST>{};
         }},
        {"an adapter whose hub is matched, then one whose hub is not: the table reads A, A1, B, "
         "B1, and B1 carries node 0",
         [] {
             sim::UsbHub& root = sim::add_controller(0).root_hub(2);
             root.add_adapter(1);
             sim::UsbController& hc1 = sim::add_controller(1);
             hc1.root_hub(2).add_adapter(1);
             hc1.driver_key.fails = true;
             return std::vector<DEVINST>{root.node};
         }},
        {"B1 unplugged after a refresh that saw A, A1, B, B1: its entry stays past the count",
         [] {
             sim::UsbHub& root = sim::add_controller(0).root_hub(2);
             root.add_adapter(1);
             sim::UsbHub& other = sim::add_controller(1).root_hub(2);
             other.add_adapter(1);
             refresh_report(reinterpret_cast<HWND>(app.report_edit), 1);
             other.unplug(1);
             return std::vector<DEVINST>{root.node};
         }},
    };
    for (const Machine& machine : machines) {
        SCOPED_TRACE(machine.name);
        start_again();
        std::vector<DEVINST> expected = machine.build();

        install_command(window());

        EXPECT_EQ(reenumerated, expected);
        // A request for node 0 or a node gone would be refused before the watch sees it: count
        // the calls.
        EXPECT_EQ(sim::count_calls("CM_Reenumerate_DevNode"), static_cast<int>(expected.size()));
    }
}

// Under WOW64 both commands, and Install without the driver package, would take away the
// adapter's driver and install nothing: they remove no instance, delete no INF copy, run no
// section and re-enumerate no hub, but show the wait cursor, force the refresh that says why
// and put the cursor back. Uninstall without the package removes as before.
TEST_F(InstallTest, CommandsThatCannotInstallChangeNothingAndShowTheAdviceThatSaysWhy) {
    struct Case {
        const char* name;
        bool wow64, package;
        void (*command)(HWND);
        bool changes;
        const char* advice;
    };
    const Case cases[] = {
        {"Install under WOW64", true, true, install_command, false, kWow64Advice},
        {"Uninstall under WOW64", true, true, uninstall_command, false, kWow64Advice},
        {"Install without the package", false, false, install_command, false,
         kMissingPackageAdvice},
        {"Uninstall without the package", false, false, uninstall_command, true,
         kMissingPackageAdvice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_again();
        plug_adapter(0, 2, kNoDriver);
        inf_machine::set_inf_directory("DevicePath", inf_machine::kInfDirectory);
        sim::add_instance_with_driver_key(root_hub(1).node, "USB\\VID_0E1C&PID_0001\\5&1&0&3",
                                          "{usb}\\0001", "oem5.inf");
        sim::put_file("C:\\WINDOWS\\inf\\oem5.inf", inf_machine::kMakerInfHead);
        if (!c.package)
            sim::remove_file(".\\zelkqx7.inf");
        sim::set_process_kind(c.wow64 ? sim::ProcessKind::Wow64 : sim::ProcessKind::Native);
        detect_wow64();
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        sim::clear_log();

        c.command(window());

        EXPECT_EQ(sim::count_calls("SetupDiRemoveDevice") > 0, c.changes);
        EXPECT_EQ(sim::count_calls("DeleteFileA") > 0, c.changes);
        EXPECT_EQ(sim::inf_runs().empty(), !c.changes);
        EXPECT_TRUE(reenumerated.empty());
        EXPECT_EQ(advice(), c.advice);
        long wait = first_call("SetCursor");
        long shown = first_call("SendMessageA");
        ASSERT_NE(shown, -1);
        EXPECT_LT(wait, shown);
        EXPECT_EQ(first_call("SetCursor", wait + 1), static_cast<long>(sim::calls().size()) - 1);
        EXPECT_EQ(sim::current_cursor(), "arrow");
    }
}

TEST_F(InstallTest, WaitCursorShowsWhileTheCommandRunsAndTheOldOneComesBack) {
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    std::string during;
    sim::on_inf_section([&](const std::string&) { during = sim::current_cursor(); });

    install_command(window());
    EXPECT_EQ(during, "wait");
    EXPECT_EQ(sim::current_cursor(), "arrow");

    uninstall_command(window());
    EXPECT_EQ(sim::current_cursor(), "arrow");
}

TEST_F(InstallTest, OldCursorComesBackWhateverTheStepsMet) {
    plug_adapter(0, 2, kNoDriver);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    for (const char* function :
         {"CM_Get_Device_ID_List_SizeA", "SetupDiOpenDeviceInfoA", "LoadLibraryA", "GetProcAddress",
          "CreateFileA", "CM_Reenumerate_DevNode"})
        sim::fail_every_call(function);

    install_command(window());
    uninstall_command(window());

    EXPECT_EQ(sim::current_cursor(), "arrow");
}

TEST_F(InstallTest, InstallShowsWhatTheSectionLeftBehind) {
    sim::on_inf_section([](const std::string& section) {
        if (section == "DefaultInstall")
            install_driver_files("1.2.78", "1.2.78", "1.2.78");
        else
            install_driver_files(std::nullopt, std::nullopt, std::nullopt);
    });

    install_command(window());
    EXPECT_TRUE(shows("ver 1.2.78 - Rumble Driver File"));
    EXPECT_EQ(advice(), kInstalledAdvice);

    uninstall_command(window());
    EXPECT_TRUE(shows("--- no rumble or mempack drivers installed ---"));
    EXPECT_EQ(advice(), kInstallAdvice);
}

TEST_F(InstallTest, WideEntryReceivesTheCommandLineInTheAnsiCodePage) {
    run_inf_section(window(), "Default\x80Install");

    ASSERT_EQ(sim::inf_runs().size(), 2u);
    EXPECT_EQ(sim::inf_runs()[1].entry, "InstallHinfSectionW");
    EXPECT_EQ(sim::inf_runs()[1].command_line, "Default\x80Install 128 .\\zelkqx7.inf");
}
