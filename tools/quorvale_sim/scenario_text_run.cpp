// quorvale-sim's work on one scenario's text, shared by the command and the scenario fuzz
// target: read the JSON, build the machine, run it, and answer with the exit code.
#include <algorithm>
#include <exception>
#include <ostream>

#include "tools/quorvale_sim/scenario.h"
#include "tools/quorvale_sim/transcript_run.h"

namespace quorvale_sim {
namespace {

// nlohmann's messages start with their own identifier ("[json.exception.parse_error.101] ").
std::string without_identifier(const std::string& message) {
    if (!message.empty() && message[0] == '[') {
        size_t end = message.find("] ");
        if (end != std::string::npos)
            return message.substr(end + 2);
    }
    return message;
}

// The line and column of the first occurrence of the text that a JSON error quotes ('1e400'),
// or "" when the message quotes nothing that the file holds.
std::string place_of_quoted(const std::string& content, const std::string& message) {
    size_t open = message.find('\'');
    size_t close = open == std::string::npos ? open : message.find('\'', open + 1);
    if (close == std::string::npos || close == open + 1)
        return "";
    size_t at = content.find(message.substr(open + 1, close - open - 1));
    if (at == std::string::npos)
        return "";
    size_t line_start = content.rfind('\n', at);
    size_t line = 1 + static_cast<size_t>(std::count(content.begin(), content.begin() + at, '\n'));
    size_t column = at - (line_start == std::string::npos ? 0 : line_start + 1) + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

// The message quotes names and texts of the scenario as they stand, line breaks included, so it
// is escaped onto the one line that a refusal gives.
int bad_scenario(std::ostream& err, const std::string& file, const std::string& message) {
    err << "quorvale-sim: " << escaped(file) << ": " << escaped(message) << "\n";
    return kBadScenario;
}

} // namespace

int run_scenario_text(const std::string& file, const std::string& content, std::ostream& out,
                      std::ostream& err, uint64_t longest_run_ms) {
    Json document;
    try {
        document = Json::parse(content);
    } catch (const Json::parse_error& error) {
        return bad_scenario(err, file, "not valid JSON: " + without_identifier(error.what()));
    } catch (const Json::exception& error) {
        // A number beyond what a double holds (1e400): the reader names no place of its own.
        std::string message = without_identifier(error.what());
        return bad_scenario(err, file, place_of_quoted(content, message) + message);
    }

    Scenario scenario;
    try {
        scenario = load_scenario(document);
    } catch (const ScenarioError& error) {
        return bad_scenario(err, file, error.what());
    } catch (const std::exception& error) {
        // The simulated machine refused a description that the reader let through.
        return bad_scenario(err, file, std::string("the machine cannot be built: ") + error.what());
    }
    if (scenario.time_limit_ms > longest_run_ms)
        return bad_scenario(err, file,
                            "time_limit_ms: this runner allows at most " +
                                std::to_string(longest_run_ms) + " ms");

    try {
        out << run_scenario(scenario);
    } catch (const std::exception& error) {
        err << "quorvale-sim: " << escaped(file) << ": the run failed: " << escaped(error.what())
            << "\n";
        return kRunFailed;
    }
    out.flush();
    return out ? kTranscriptPrinted : kRunFailed;
}

} // namespace quorvale_sim
