// A run of the installer on the simulated machine: the fixture resets the program's state with the
// machine, and small helpers read what a run did (refreshes, ticks, timer settings).
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "install/install.h"
#include "report/report.h"
#include "tests/sim_test.h"

class AppTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        app = AppState();
        install_state = InstallState();
        put_driver_package();
    }
    // The same again on a new machine, for a test that runs the program several times.
    static void start_again() {
        sim::reset();
        app = AppState();
        install_state = InstallState();
        put_driver_package();
    }
    // The program starts in the folder of the driver package, as users start it.
    static void put_driver_package() {
        sim::put_file(".\\zelkqx7.inf", "[Version]\r\n");
    }

    static HWND main_window() {
        return sim::find_window("QDIMainWindow");
    }

    // Every refresh starts its USB scan with the first host controller.
    static int refresh_count() {
        int n = 0;
        for (const sim::Call& call : sim::calls_of("CreateFileA"))
            if (call.args.rfind("\\\\.\\HCD0 ", 0) == 0)
                ++n;
        return n;
    }

    // The virtual times ("t=") of the logged calls of function whose arguments contain filter.
    static std::vector<unsigned long long> times_of(const std::string& function,
                                                    const std::string& filter) {
        std::vector<unsigned long long> times;
        for (const sim::Call& call : sim::calls_of(function)) {
            size_t at = call.args.find(" t=");
            if (call.args.find(filter) != std::string::npos && at != std::string::npos)
                times.push_back(std::strtoull(call.args.c_str() + at + 3, nullptr, 10));
        }
        return times;
    }

    // Ends the run from the timeline as a user does: the Exit button.
    static void press_exit() {
        sim::click_button(app.exit_button);
    }
};
