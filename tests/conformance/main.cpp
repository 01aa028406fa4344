// Runs the conformance checks (all, or those whose name contains the first argument) and prints
// one line for each: PASS, FAIL with what was wrong, or KNOWN (a known Wine difference that still
// differs). Exit code 0 when nothing failed, 1 otherwise.
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/conformance/conformance.h"

namespace conformance {
namespace {

struct Check {
    const char* name;
    CheckFunction run;
    const char* wine_difference;
};

std::vector<Check>& checks() {
    static std::vector<Check> all;
    return all;
}

std::vector<std::string> failures;

} // namespace

Registration::Registration(const char* name, CheckFunction run, const char* wine_difference) {
    checks().push_back(Check{name, run, wine_difference});
}

void fail(const std::string& what, const char* file, int line) {
    const char* base = std::strrchr(file, '/');
    failures.push_back(std::string(base ? base + 1 : file) + ":" + std::to_string(line) + ": " +
                       what);
}

void expect_text(const std::string& actual, const std::string& expected, const char* actual_text,
                 const char* file, int line) {
    if (actual != expected)
        fail(std::string(actual_text) + " is \"" + actual + "\", expected \"" + expected + "\"",
             file, line);
}

} // namespace conformance

int main(int argc, char** argv) {
    using conformance::failures;
    const char* filter = argc > 1 ? argv[1] : "";
    bool wine = conformance::under_wine();
    int failed = 0, passed = 0, known = 0;
    for (const conformance::Check& check : conformance::checks()) {
        if (!std::strstr(check.name, filter))
            continue;
        failures.clear();
        conformance::begin_check();
        check.run();
        bool expect_failure = wine && check.wine_difference;
        if (expect_failure && !failures.empty()) {
            ++known;
            std::printf("KNOWN %s: %s\n", check.name, check.wine_difference);
            for (const std::string& what : failures)
                std::printf("    %s\n", what.c_str());
        } else if (expect_failure) {
            ++failed;
            std::printf("FAIL %s: Wine no longer differs (%s); remove the mark\n", check.name,
                        check.wine_difference);
        } else if (!failures.empty()) {
            ++failed;
            std::printf("FAIL %s\n", check.name);
            for (const std::string& what : failures)
                std::printf("    %s\n", what.c_str());
        } else {
            ++passed;
            std::printf("PASS %s\n", check.name);
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d known Wine differences, %d failed (%s)\n", passed, known, failed,
                wine ? "Wine" : "simwin");
    return failed == 0 ? 0 : 1;
}
