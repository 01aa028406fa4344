// Fuzz target: quorvale-sim on any text as a scenario file. Every input must end as the command
// ends, with a transcript (exit code 0) or one line naming the place of the mistake (exit code
// 2); a crash, a sanitizer report, a failed run or a program that left anything open breaks it.
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "tools/quorvale_sim/transcript_run.h"

namespace {

// Runs of simulated time beyond this are refused, so that one input costs milliseconds.
const uint64_t kLongestRunMs = 20000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string content(reinterpret_cast<const char*>(data), size);
    std::ostringstream out, err;
    int code = quorvale_sim::run_scenario_text("input", content, out, err, kLongestRunMs);
    if (code == quorvale_sim::kBadScenario) {
        std::string message = err.str();
        if (!out.str().empty() || message.empty() || message.find('\n') != message.size() - 1)
            fuzz::broken("a refused scenario gives one line and no transcript", message);
        return 0;
    }
    if (code != quorvale_sim::kTranscriptPrinted)
        fuzz::broken("the run ends with a transcript or a refusal", err.str());
    // A program that the simulation stopped still has its window, and with it the window's
    // registration for device notices; one that ended by itself holds nothing.
    bool ended_by_itself =
        out.str().find("(the program did not end by itself") == std::string::npos;
    if (out.str().find("\nopen at exit: nothing\n") == std::string::npos &&
        (ended_by_itself ||
         out.str().find("\nopen at exit: 1 device notification registrations\n") ==
             std::string::npos))
        fuzz::broken("the program left something open", out.str());
    return 0;
}
