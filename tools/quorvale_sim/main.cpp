// quorvale-sim: runs the installer on a simulated machine described by a scenario file and
// prints the transcript. A scenario that cannot be run gets one message naming the place of the
// mistake on standard error, exit code 2, and nothing runs.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/quorvale_sim/scenario.h"
#include "tools/quorvale_sim/transcript_run.h"

namespace {

constexpr int kTranscriptPrinted = 0;
constexpr int kRunFailed = 1;
constexpr int kBadScenario = 2;
const char kUsage[] = "usage: quorvale-sim <scenario.json>\n"
                      "Runs the installer on the machine and timeline that the scenario "
                      "describes and prints the transcript.\n";

// nlohmann's messages start with their own identifier ("[json.exception.parse_error.101] ").
std::string without_identifier(const std::string& message) {
    if (!message.empty() && message[0] == '[') {
        size_t end = message.find("] ");
        if (end != std::string::npos)
            return message.substr(end + 2);
    }
    return message;
}

int bad_scenario(const std::string& file, const std::string& message) {
    std::cerr << "quorvale-sim: " << file << ": " << message << "\n";
    return kBadScenario;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::cerr << kUsage;
        return argc == 2 ? kTranscriptPrinted : kBadScenario;
    }
    const std::string file = argv[1];
    std::ifstream input(file, std::ios::binary);
    if (!input)
        return bad_scenario(file, "cannot be read");
    std::stringstream content;
    content << input.rdbuf();

    quorvale_sim::Json document;
    try {
        document = quorvale_sim::Json::parse(content.str());
    } catch (const quorvale_sim::Json::parse_error& error) {
        return bad_scenario(file, "not valid JSON: " + without_identifier(error.what()));
    }

    quorvale_sim::Scenario scenario;
    try {
        scenario = quorvale_sim::load_scenario(document);
    } catch (const quorvale_sim::ScenarioError& error) {
        return bad_scenario(file, error.what());
    } catch (const std::exception& error) {
        // The simulated machine refused a description that the reader let through.
        return bad_scenario(file, std::string("the machine cannot be built: ") + error.what());
    }

    try {
        std::cout << quorvale_sim::run_scenario(scenario);
    } catch (const std::exception& error) {
        std::cerr << "quorvale-sim: " << file << ": the run failed: " << error.what() << "\n";
        return kRunFailed;
    }
    std::cout.flush();
    return std::cout ? kTranscriptPrinted : kRunFailed;
}
