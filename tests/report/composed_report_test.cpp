// The composed report: its lines, the StatusFlags each condition sets and the advice that their
// whole value chooses.
#include <functional>

#include "tests/report/machine.h"

namespace {

using namespace report_machine;

TEST_F(ReportTest, WholeReportOfAPluggedAndAnUnpluggedAdapterReadsLineByLine) {
    plug_adapter(0, 2, kRumble);
    configure_adapter_instance(1, '1', kNoDriver);
    register_memory_pack();
    install_driver_files("1.2.78", std::nullopt, "1.2.78");
    run_driver();

    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kAdapterWithoutDriver));
    std::vector<std::string> expected = {"<< USB ports with Quorvales configured >>",
                                         kRule,
                                         "Port A2: rumble & mempak driver",
                                         "Port B1: no driver, not plugged in",
                                         "",
                                         "",
                                         "Installed Drivers:",
                                         "ver 1.2.78 - Rumble Driver File",
                                         "ver 1.2.78 - Quorvale Driver File",
                                         "ver 1.2.78 - Quorvale Driver Loaded",
                                         "",
                                         "",
                                         kInstallAdvice};
    EXPECT_EQ(shown_lines(), expected);
    EXPECT_EQ(shown(), report_buffers.report_text);
    EXPECT_EQ(std::string(kRule).size(), 69u);

    std::string port_section = "<< USB ports with Quorvales configured >>\r\n" +
                               std::string(kRule) +
                               "\r\nPort A2: rumble & mempak driver\r\n"
                               "Port B1: no driver, not plugged in\r\n\r\n\r\n";
    EXPECT_EQ(report_buffers.report_key, port_section + "1.2.78");
}

TEST_F(ReportTest, NoAdapterGivesNoneAndNoAdapterBits) {
    install_everything();
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
    std::vector<std::string> lines = shown_lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[2], "None");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(advice(), kInstalledAdvice);
}

TEST_F(ReportTest, EverythingAtTheInstallerVersionIsInstalledWithOrWithoutTheMempakFile) {
    plug_adapter(0, 2, kRumble);
    install_everything();
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
    EXPECT_EQ(shown_lines()[2], "Port A2: rumble driver");
    EXPECT_TRUE(shows("ver 1.2.78 - Mempak Driver File"));
    EXPECT_EQ(advice(), kInstalledAdvice);

    put_driver_file(kMempakFile, std::nullopt);
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
    EXPECT_EQ(shown().find("Mempak"), std::string::npos);
    EXPECT_EQ(advice(), kInstalledAdvice);
}

TEST_F(ReportTest, RumbleFileAtAnotherVersionAsksForARebootAlsoWithAnAdapterWithoutDriver) {
    plug_adapter(0, 2, kRumble);
    install_everything();
    put_driver_file(kRumbleFile, "1.2.77");
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kVersionMismatch));
    EXPECT_TRUE(shows("ver 1.2.77 - Rumble Driver File"));
    EXPECT_EQ(advice(), kRebootAdvice);

    plug_adapter(0, 3, kNoDriver);
    EXPECT_EQ(refresh_report(nullptr, 1),
              static_cast<DWORD>(kVersionMismatch | kAdapterWithoutDriver));
    EXPECT_EQ(shown_lines()[3], "Port A3: no driver");
    EXPECT_EQ(advice(), kRebootAdvice);
}

// One condition on an otherwise installed machine: the flags it sets, the line that shows it and
// the advice that the flags choose.
TEST_F(ReportTest, EachConditionSetsItsFlagsShowsItsLineAndChoosesItsAdvice) {
    struct Condition {
        const char* name;
        std::function<void()> make;
        DWORD flags;
        const char* line;
        const char* advice;
    };
    const Condition conditions[] = {
        {"an adapter without a driver", [] { plug_adapter(0, 2, kNoDriver); },
         kAdapterWithoutDriver, "Port A2: no driver", kInstallAdvice},
        {"the generic driver on an adapter behind an external hub",
         [] {
             root_hub(0).add_hub(1, 4).add_adapter(2, true, kGeneric);
             register_memory_pack();
         },
         kNeedsInstall, "Port A12: generic driver", kInstallAdvice},
        {"the kernel file at another version", [] { put_driver_file(kKernelFile, "1.2.77"); },
         kNeedsInstall, "ver 1.2.77 - Quorvale Driver File", kInstallAdvice},
        {"the rumble file without a version resource",
         [] { put_driver_file(kRumbleFile, kNoVersionResource); }, kVersionMismatch,
         "ver 1.0.1 - Rumble Driver File", kRebootAdvice},
        {"the mempak file without a version resource",
         [] { put_driver_file(kMempakFile, kNoVersionResource); }, kVersionMismatch,
         "ver 1.0.1 - Mempak Driver File", kRebootAdvice},
        {"the kernel file without a version resource",
         [] { put_driver_file(kKernelFile, kNoVersionResource); }, kNeedsInstall,
         "ver 1.0.1 - Quorvale Driver File", kInstallAdvice},
    };
    for (const Condition& condition : conditions) {
        SCOPED_TRACE(condition.name);
        start_again();
        install_everything();
        condition.make();
        EXPECT_EQ(refresh_report(nullptr, 1), condition.flags);
        EXPECT_TRUE(shows(condition.line));
        EXPECT_EQ(advice(), condition.advice);
    }
}

TEST_F(ReportTest, MissingFilesSetNeedsInstallExceptTheMempakFile) {
    run_driver();
    install_driver_files(std::nullopt, "1.2.78", "1.2.78");
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kNeedsInstall));
    install_driver_files("1.2.78", "1.2.78", std::nullopt);
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kNeedsInstall));
    install_driver_files("1.2.78", std::nullopt, "1.2.78");
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
}

TEST_F(ReportTest, NoDriverAnywhereShowsTheNoDriversLineAndAsksForInstall) {
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kNeedsInstall));
    std::vector<std::string> expected = {"<< USB ports with Quorvales configured >>",
                                         kRule,
                                         "None",
                                         "",
                                         "",
                                         "Installed Drivers:",
                                         "--- no rumble or mempack drivers installed ---",
                                         "",
                                         "",
                                         kInstallAdvice};
    EXPECT_EQ(shown_lines(), expected);
}

TEST_F(ReportTest, RunningDriverThatAnswersTwoBytesIsAnUnansweredMismatch) {
    install_driver_files("1.2.78", "1.2.78", "1.2.78");
    run_driver({0x01, 0x02});
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kVersionMismatch));
    EXPECT_TRUE(shows("ver ?.?.? - Quorvale Driver Loaded"));
    EXPECT_EQ(advice(), kRebootAdvice);

    run_driver({0x01, 0x02, 0x4D, 0x00});
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kVersionMismatch));
    EXPECT_TRUE(shows("ver 1.2.77 - Quorvale Driver Loaded"));
}

TEST_F(ReportTest, DriverNotRunningShowsNoLoadedLineAndSetsNoBit) {
    install_driver_files("1.2.78", "1.2.78", "1.2.78");
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
    EXPECT_EQ(shown().find("Loaded"), std::string::npos);
    EXPECT_EQ(advice(), kInstalledAdvice);
}

TEST_F(ReportTest, MemoryPackSuffixOnlyOnRumbleLines) {
    plug_adapter(0, 1, kRumble);
    plug_adapter(0, 2, kGeneric);
    plug_adapter(0, 3, kNoDriver);
    register_memory_pack();
    install_everything();
    refresh_report(nullptr, 1);
    std::vector<std::string> lines = shown_lines();
    EXPECT_EQ(lines[2], "Port A1: rumble & mempak driver");
    EXPECT_EQ(lines[3], "Port A2: generic driver");
    EXPECT_EQ(lines[4], "Port A3: no driver");
}

// The flags choose the advice, but a 32-bit program on 64-bit Windows gives the WOW64 advice
// whatever they are; else a removal that needed a restart gives the reboot advice; else, where
// the flags choose the Install advice, a folder without the driver package gives its own. The
// flags stay as they are, and the package is looked for only where the Install advice would
// stand.
TEST_F(ReportTest, Wow64ThenARemovalLeftForTheRestartThenTheMissingPackageOverrideTheAdvice) {
    struct Case {
        DWORD flags;
        bool wow64, restart, package;
        DWORD held; // another program holds the INF open with this access, sharing both
        const char* advice;
    };
    const Case cases[] = {
        {0, false, false, true, 0, kInstalledAdvice},
        {kVersionMismatch, false, false, true, 0, kRebootAdvice},
        {kAdapterWithoutDriver, false, false, true, 0, kInstallAdvice},
        {0, true, false, true, 0, kWow64Advice},
        {kVersionMismatch, true, false, true, 0, kWow64Advice},
        {kAdapterWithoutDriver, true, true, false, 0, kWow64Advice},
        {0, false, true, true, 0, kRebootAdvice},
        {kAdapterWithoutDriver, false, true, false, 0, kRebootAdvice},
        {kAdapterWithoutDriver, false, false, false, 0, kMissingPackageAdvice},
        {kNeedsInstall, false, false, false, 0, kMissingPackageAdvice},
        {kVersionMismatch, false, false, false, 0, kRebootAdvice},
        {0, false, false, false, 0, kInstalledAdvice},
        // The INF is opened as the Setup API reads it: another program that reads it leaves it
        // readable, one that writes it does not.
        {kAdapterWithoutDriver, false, false, true, GENERIC_READ, kInstallAdvice},
        {kAdapterWithoutDriver, false, false, true, GENERIC_WRITE, kMissingPackageAdvice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + (c.wow64 ? " wow64" : "") +
                     (c.restart ? " restart" : "") + (c.package ? "" : " no package"));
        start_again();
        install_everything();
        if (c.flags & kVersionMismatch)
            put_driver_file(kRumbleFile, "1.2.77");
        if (c.flags & kNeedsInstall)
            put_driver_file(kKernelFile, "1.2.77");
        if (c.flags & kAdapterWithoutDriver)
            plug_adapter(0, 2, kNoDriver);
        if (!c.package)
            sim::remove_file(".\\zelkqx7.inf");
        if (c.held)
            sim::hold_file(".\\zelkqx7.inf", c.held, FILE_SHARE_READ | FILE_SHARE_WRITE);
        install_state.under_wow64 = c.wow64;
        install_state.removal_needs_restart = c.restart;

        EXPECT_EQ(refresh_report(nullptr, 1), c.flags);
        EXPECT_EQ(advice(), c.advice);
        bool install_advice_stands =
            c.flags != 0 && c.flags != kVersionMismatch && !c.wow64 && !c.restart;
        int package_opens = 0;
        for (const sim::Call& call : sim::calls_of("CreateFileA"))
            package_opens += call.args.rfind(".\\zelkqx7.inf ", 0) == 0;
        EXPECT_EQ(package_opens, install_advice_stands ? 1 : 0);
    }
}

TEST_F(ReportTest, ProbesRunInOrderAndTheTextIsSetLast) {
    install_everything();
    refresh_report(nullptr, 1);
    std::vector<std::string> order;
    for (const sim::Call& call : sim::calls()) {
        if (call.function == "RegOpenKeyExA" && call.args.find("CLSID") != std::string::npos &&
            order.empty())
            order.push_back("component");
        else if (call.function == "DeviceIoControl" &&
                 call.args.find("Zelk_QX7") != std::string::npos)
            order.push_back("loaded");
        else if (call.function == "GetFileVersionInfoSizeA")
            order.push_back(call.args.substr(call.args.rfind('\\') + 1));
        else if (call.function == "SendMessageA")
            order.push_back("set text");
    }
    std::vector<std::string> expected = {"component",    "loaded",      "zelkqx7f.dll",
                                         "zelkqx7m.dll", "zelkqx7.sys", "set text"};
    EXPECT_EQ(order, expected);
}

TEST_F(ReportTest, EveryFailingCallStillGivesAWholeReportAndLeavesNothingOpen) {
    plug_adapter(0, 2, kRumble);
    configure_unplugged_adapter(1, 1, kNoDriver);
    register_memory_pack();
    install_everything();
    refresh_report(nullptr, 1);
    long calls = sim::failable_call_count();
    for (long k = 1; k <= calls; ++k) {
        sim::clear_failures();
        sim::fail_global_call(k, false);
        refresh_report(nullptr, 1);
        ASSERT_EQ(sim::open_summary(), "") << "failing call " << k;
        std::string text = report_buffers.report_text;
        EXPECT_EQ(text.rfind("<< USB ports with Quorvales configured >>\r\n", 0), 0u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "failing call " << k;
    }
}

} // namespace
