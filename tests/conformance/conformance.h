// The conformance suite: checks of the Windows behaviours the installer relies on, written once
// and built twice, against simwin on the host and against the real DLLs as a Windows console
// program run under Wine. A check that Wine is known to answer unlike Windows carries the reason;
// under Wine it must fail (a known difference) and is reported as a failure once it passes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace conformance {

using CheckFunction = void (*)();

// Adds a check to the suite; wine_difference is null unless Wine is known to differ.
struct Registration {
    Registration(const char* name, CheckFunction run, const char* wine_difference);
};

// Records a failed expectation of the running check.
void fail(const std::string& what, const char* file, int line);

template <typename A, typename B>
void expect_equal(const A& actual, const B& expected, const char* actual_text,
                  const char* expected_text, const char* file, int line) {
    if (actual == expected)
        return;
    fail(std::string(actual_text) + " is " + std::to_string(actual) + ", expected " +
             expected_text + " (" + std::to_string(expected) + ")",
         file, line);
}
void expect_text(const std::string& actual, const std::string& expected, const char* actual_text,
                 const char* file, int line);

// ---- what differs between the two builds: the machine a check starts from ---------------------
// A clean machine for one check (simwin: an empty machine; Windows: nothing to do).
void begin_check();
// A directory for the check's files, with a trailing backslash; it exists and is empty.
std::string scratch_directory();
// A file with this content (created or replaced).
void put_file(const std::string& path, const std::string& content);
// A value under HKEY_CURRENT_USER\<kRegistryPath>, stored with exactly these bytes.
extern const char* const kRegistryPath;
void put_registry_value(const char* name, DWORD type, const std::string& bytes);
void set_environment(const char* name, const char* value);
// Images with version resources: FileVersion "1.2.78" in a 040904E4 block and "9.9.9" in a
// 040904B0 block, listed in that order with both translations; a resource without any string
// block; no version resource at all.
enum class VersionFile { TwoBlocks, NoStringBlocks, NoResource };
std::string version_file(VersionFile kind);
// Whether the suite runs under Wine (never on simwin).
bool under_wine();

} // namespace conformance

#define CONFORMANCE_CHECK_WITH(name, difference)                                                   \
    static void name();                                                                            \
    static const conformance::Registration name##_registration(#name, name, difference);           \
    static void name()
// A check of a behaviour that simwin, Windows and Wine share.
#define CONFORMANCE_CHECK(name) CONFORMANCE_CHECK_WITH(name, nullptr)
// A check that Wine is known to fail, for the reason given.
#define KNOWN_WINE_DIFFERENCE(name, reason) CONFORMANCE_CHECK_WITH(name, reason)

#define EXPECT(condition)                                                                          \
    ((condition) ? (void)0 : conformance::fail("not " #condition, __FILE__, __LINE__))
#define EXPECT_EQ(actual, expected)                                                                \
    conformance::expect_equal((actual), (expected), #actual, #expected, __FILE__, __LINE__)
#define EXPECT_TEXT(actual, expected)                                                              \
    conformance::expect_text((actual), (expected), #actual, __FILE__, __LINE__)
