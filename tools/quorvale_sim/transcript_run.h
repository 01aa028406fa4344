// The run of a scenario: the installer's own entry, window and message loop on the simulated
// machine, with the timeline scheduled on the virtual clock, and the transcript of what the
// report area showed and what the program did to the machine.
#pragma once

#include <string>

#include "tools/quorvale_sim/scenario.h"

namespace quorvale_sim {

// Runs the scenario, whose machine load_scenario has built, to its end and returns the
// transcript: plain text, one event a line, each with its virtual time.
std::string run_scenario(const Scenario& scenario);

// The lines of a report as the transcript shows them: "  |" and the line without its CR LF,
// other control characters and bytes above 0x7E as \xNN, and a last line that lacks its CR LF
// marked "[no line end]".
std::string report_lines(const std::string& text);

} // namespace quorvale_sim
