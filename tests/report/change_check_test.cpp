// The change check: a refresh that is not forced stops early, probes no driver file and leaves
// the shown report alone while the ports and the running driver stay as they were.
#include "tests/report/machine.h"

namespace {

using namespace report_machine;
using ReportChangeTest = ReportTest;

int file_probes() {
    return sim::count_calls("GetFileVersionInfoSizeA");
}

TEST_F(ReportChangeTest, UnchangedKeyEndsEarlyWithoutFileProbesOrNewText) {
    plug_adapter(0, 2, kNoDriver);
    install_everything();
    EXPECT_EQ(refresh_report(nullptr, 1), static_cast<DWORD>(kAdapterWithoutDriver));
    std::string first = shown();

    sim::clear_log();
    put_driver_file(kRumbleFile, "1.2.79");
    EXPECT_EQ(refresh_report(nullptr, 0), 0u);
    EXPECT_EQ(file_probes(), 0);
    EXPECT_EQ(sim::count_calls("SendMessageA"), 0);
    EXPECT_EQ(shown(), first);
    EXPECT_GT(sim::count_calls("DeviceIoControl"), 0) << "the scan and the driver query still run";

    EXPECT_EQ(refresh_report(nullptr, 1),
              static_cast<DWORD>(kAdapterWithoutDriver | kVersionMismatch));
    EXPECT_NE(shown().find("ver 1.2.79 - Rumble Driver File"), std::string::npos);
}

TEST_F(ReportChangeTest, ForcedRefreshWithAnUnchangedKeyComposesAndSetsTheReportAgain) {
    plug_adapter(0, 2, kRumble);
    install_everything();
    refresh_report(nullptr, 1);
    SendMessageA(app.report_edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("scribbled"));
    sim::clear_log();
    EXPECT_EQ(refresh_report(nullptr, 1), 0u);
    EXPECT_EQ(file_probes(), 3);
    EXPECT_EQ(sim::count_calls("SendMessageA"), 1);
    EXPECT_EQ(shown(), report_buffers.report_text);
    EXPECT_EQ(refresh_report(nullptr, 0), 0u) << "and the key stays the same";
}

// An edit control out of room refuses the text and keeps the old one; the next refresh must
// not end early on the unchanged key while the control shows an older report.
TEST_F(ReportChangeTest, AReportTheControlRefusedIsWrittenAgainByTheNextRefresh) {
    install_everything();
    refresh_report(nullptr, 1);
    std::string before = shown();
    plug_adapter(0, 2, kNoDriver);
    sim::fail_call("SendMessageA", 1);
    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kAdapterWithoutDriver));
    EXPECT_EQ(shown(), before);

    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kAdapterWithoutDriver));
    EXPECT_EQ(shown(), report_buffers.report_text);
    EXPECT_EQ(refresh_report(nullptr, 0), 0u) << "shown, so the key counts again";
}

TEST_F(ReportChangeTest, PortOrRunningDriverChangesShowAtTheNextRefresh) {
    plug_adapter(0, 2, kRumble);
    install_driver_files("1.2.78", "1.2.78", "1.2.78");
    refresh_report(nullptr, 1);

    run_driver();
    EXPECT_EQ(refresh_report(nullptr, 0), 0u) << "nothing to advise";
    EXPECT_NE(shown().find("ver 1.2.78 - Quorvale Driver Loaded"), std::string::npos);

    run_driver({0x01, 0x02, 0x4D, 0x00});
    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kVersionMismatch));

    sim::remove_control_device();
    EXPECT_EQ(refresh_report(nullptr, 0), 0u);
    EXPECT_EQ(shown().find("Loaded"), std::string::npos);

    plug_adapter(0, 3, kNoDriver);
    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kAdapterWithoutDriver));
    EXPECT_NE(shown().find("Port A3: no driver"), std::string::npos);

    // Unplugged, its instance stays configured below its last parent, the root hub.
    root_hub(0).unplug(3);
    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kAdapterWithoutDriver));
    EXPECT_TRUE(shows("Port A3: no driver, not plugged in"));
    EXPECT_FALSE(shows("Port A3: no driver"));
}

TEST_F(ReportChangeTest, MemoryPackComponentChangesTheKeyOnlyThroughRumbleLines) {
    plug_adapter(0, 2, kGeneric);
    install_everything();
    refresh_report(nullptr, 1);
    register_memory_pack();
    sim::clear_log();
    EXPECT_EQ(refresh_report(nullptr, 0), 0u);
    EXPECT_EQ(file_probes(), 0);

    plug_adapter(0, 3, kRumble);
    refresh_report(nullptr, 0);
    EXPECT_NE(shown().find("Port A3: rumble & mempak driver"), std::string::npos);
    unregister_memory_pack();
    EXPECT_EQ(refresh_report(nullptr, 0), static_cast<DWORD>(kNeedsInstall));
    EXPECT_NE(shown().find("Port A3: rumble driver"), std::string::npos);
}

TEST_F(ReportChangeTest, EarlyEndStillMovesTheKeysOn) {
    install_everything();
    refresh_report(nullptr, 1);
    refresh_report(nullptr, 0);
    EXPECT_STREQ(report_buffers.previous_key, report_buffers.report_key);
    plug_adapter(0, 1, kRumble);
    refresh_report(nullptr, 0);
    EXPECT_STRNE(report_buffers.previous_key, report_buffers.report_key);
    EXPECT_EQ(refresh_report(nullptr, 0), 0u);
}

} // namespace
