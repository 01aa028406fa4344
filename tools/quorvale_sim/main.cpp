// quorvale-sim: runs the installer on a simulated machine described by a scenario file and
// prints the transcript. A scenario that cannot be run gets one message naming the place of the
// mistake on standard error, exit code 2, and nothing runs.
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/quorvale_sim/transcript_run.h"

namespace {

const char kUsage[] = "usage: quorvale-sim <scenario.json>\n"
                      "Runs the installer on the machine and timeline that the scenario "
                      "describes and prints the transcript.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::cerr << kUsage;
        return argc == 2 ? quorvale_sim::kTranscriptPrinted : quorvale_sim::kBadScenario;
    }
    const std::string file = argv[1];
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        std::cerr << "quorvale-sim: " << file << ": cannot be read\n";
        return quorvale_sim::kBadScenario;
    }
    std::stringstream content;
    content << input.rdbuf();
    return quorvale_sim::run_scenario_text(file, content.str(), std::cout, std::cerr);
}
