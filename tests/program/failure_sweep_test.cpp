// The failure sweep: the forced refresh, the Install command and the Uninstall command run on a
// rich machine once for every simulated call they make, with that call failing once and with
// every call from it on failing. Each run must leave nothing open, a whole report, and no file
// deleted but the maker's INF copies.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "install/install.h"
#include "tests/program/sweep_machine.h"

namespace {

using namespace reliability_machine;

struct SweepFigures {
    long clean_calls = 0; // simulated calls of the run without failures
    long failed_once = 0; // runs in which one call failed
    long failed_from = 0; // runs in which every call from the k-th failed
    long injected = 0;    // failed calls over all runs
};

class ReliabilitySweepTest : public SimTest {
  protected:
    // One run on a fresh rich machine, the k-th call of the operation failing (k 0: none).
    // Returns whether the run met an injected failure; records every fault in the test.
    static bool run_once(const std::function<void(HWND)>& operation, long k, bool persistent,
                         long* calls, long* injected = nullptr) {
        sim::reset();
        app = AppState();
        MachineFiles files = build_rich_machine();
        std::vector<std::string> deleted;
        sim::on_machine_event([&deleted](const sim::MachineEvent& event) {
            if (event.kind == sim::MachineEvent::FileDeleted)
                deleted.push_back(event.subject);
        });
        if (!report_machine::open_report_area()) {
            ADD_FAILURE() << "no report control";
            return false;
        }

        long before = sim::failable_call_count();
        if (k > 0)
            sim::fail_global_call(k, persistent);
        operation(app.report_edit);
        sim::clear_failures();
        *calls = sim::failable_call_count() - before;
        bool met_failure = sim::injected_failure_count() > 0;
        if (injected)
            *injected += sim::injected_failure_count();

        std::string where = "call " + std::to_string(k) + (persistent ? " on" : " once");
        EXPECT_EQ(sim::open_summary(), "") << where;
        EXPECT_EQ(report_fault(report_buffers.report_text), "") << where;
        for (const std::string& path : deleted)
            EXPECT_NE(std::find(files.maker_copies.begin(), files.maker_copies.end(), path),
                      files.maker_copies.end())
                << where << " deleted " << path;
        for (const std::string& path : files.kept_files)
            EXPECT_TRUE(sim::file_exists(path)) << where << " lost " << path;

        DestroyWindow(app.report_edit);
        app.report_edit = nullptr;
        return met_failure;
    }

    // Fails each call in turn, once and from then on, until a run meets no failure.
    static SweepFigures sweep(const char* name, const std::function<void(HWND)>& operation) {
        SweepFigures figures;
        long calls = 0;
        EXPECT_FALSE(run_once(operation, 0, false, &figures.clean_calls));
        for (bool persistent : {false, true}) {
            long& failed = persistent ? figures.failed_from : figures.failed_once;
            for (long k = 1; run_once(operation, k, persistent, &calls, &figures.injected); ++k) {
                ++failed;
                if (::testing::Test::HasFatalFailure() || failed > 100000)
                    break;
            }
        }
        std::printf("[ sweep    ] %s: %ld calls without failures; %ld runs with one call failing, "
                    "%ld with every call from the k-th failing; %ld calls failed in all\n",
                    name, figures.clean_calls, figures.failed_once, figures.failed_from,
                    figures.injected);
        ::testing::Test::RecordProperty(std::string(name) + "_injected_failures",
                                        std::to_string(figures.injected));
        return figures;
    }
};

TEST_F(ReliabilitySweepTest, TheRichMachineGivesTheFullReportWithoutFailures) {
    long calls = 0;
    run_once([](HWND window) { refresh_report(window, 1); }, 0, false, &calls);
    std::vector<std::string> lines = report_machine::lines_of(report_buffers.report_text);
    // Unplugged adapters whose instance IDs name no hub show the no-hub mark.
    std::vector<std::string> expected = {
        "<< USB ports with Quorvales configured >>",
        std::string(69, '-'),
        "Port *0: rumble & mempak driver, not plugged in",
        "Port *4: no driver, not plugged in",
        "Port *4: rumble & mempak driver, not plugged in",
        "Port A2: no driver",
        "Port B1: generic driver",
        "Port D1: no driver, not plugged in",
        "Port A12: rumble & mempak driver",
        "",
        "",
        "Installed Drivers:",
    };
    ASSERT_GE(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << i;
    EXPECT_GT(calls, 100);
}

TEST_F(ReliabilitySweepTest, EveryFailingCallOfTheForcedRefreshLeavesTheMachineSound) {
    SweepFigures figures = sweep("refresh_report", [](HWND window) { refresh_report(window, 1); });
    EXPECT_EQ(figures.failed_once, figures.clean_calls);
    EXPECT_EQ(figures.failed_from, figures.clean_calls);
}

TEST_F(ReliabilitySweepTest, EveryFailingCallOfInstallLeavesTheMachineSound) {
    SweepFigures figures = sweep("install_command", install_command);
    EXPECT_EQ(figures.failed_once, figures.clean_calls);
    EXPECT_EQ(figures.failed_from, figures.clean_calls);
}

TEST_F(ReliabilitySweepTest, EveryFailingCallOfUninstallLeavesTheMachineSound) {
    SweepFigures figures = sweep("uninstall_command", uninstall_command);
    EXPECT_EQ(figures.failed_once, figures.clean_calls);
    EXPECT_EQ(figures.failed_from, figures.clean_calls);
}

// The removal deletes only the maker's copies, in both directories, and keeps the others.
TEST_F(ReliabilitySweepTest, UninstallDeletesExactlyTheMakersInfCopies) {
    MachineFiles files = build_rich_machine();
    uninstall_command(nullptr);
    for (const std::string& path : files.maker_copies)
        EXPECT_FALSE(sim::file_exists(path)) << path;
    for (const std::string& path : files.kept_files)
        EXPECT_TRUE(sim::file_exists(path)) << path;
}

} // namespace
