// The run of a scenario: the installer's own entry, window and message loop on the simulated
// machine, with the timeline scheduled on the virtual clock, and the transcript of what the
// report area showed and what the program did to the machine.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "tools/quorvale_sim/scenario.h"

namespace quorvale_sim {

constexpr int kTranscriptPrinted = 0;
constexpr int kRunFailed = 1;
constexpr int kBadScenario = 2;

// quorvale-sim on one scenario's text (file names it in messages): the transcript on out, or one
// line on err that names the place of the mistake. Returns the exit code: kTranscriptPrinted,
// kBadScenario (nothing ran), or kRunFailed. A scenario whose time limit exceeds longest_run_ms
// is refused.
int run_scenario_text(const std::string& file, const std::string& content, std::ostream& out,
                      std::ostream& err, uint64_t longest_run_ms = UINT64_MAX);

// Runs the scenario, whose machine load_scenario has built, to its end and returns the
// transcript: plain text, one event a line, each with its virtual time.
std::string run_scenario(const Scenario& scenario);

// The lines of a report as the transcript shows them: "  |" and the line without its CR LF,
// other control characters and bytes above 0x7E as \xNN, and a last line that lacks its CR LF
// marked "[no line end]".
std::string report_lines(const std::string& text);

// text on one printable line: control characters and bytes above 0x7E as \xNN.
std::string escaped(const std::string& text);

} // namespace quorvale_sim
