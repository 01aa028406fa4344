// The conformance checks' machine on simwin: each check starts from an empty machine, and its
// files, values and version images are put in place through simwin's test-facing side.
#include <vector>

#include "simwin/sim.h"
#include "tests/conformance/conformance.h"

namespace conformance {

const char* const kRegistryPath = "Software\\QuorvaleConformance";

bool under_wine() {
    return false;
}

void begin_check() {
    sim::reset();
}

std::string scratch_directory() {
    const std::string directory = "C:\\Temp\\qdi-conformance\\";
    sim::make_directory(directory);
    return directory;
}

void put_file(const std::string& path, const std::string& content) {
    sim::put_file(path, content);
}

void put_registry_value(const char* name, DWORD type, const std::string& bytes) {
    sim::set_registry_value(HKEY_CURRENT_USER, kRegistryPath, name, type,
                            std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void set_environment(const char* name, const char* value) {
    sim::set_environment(name, value);
}

std::string version_file(VersionFile kind) {
    const std::string directory = "C:\\Program\\";
    switch (kind) {
    case VersionFile::TwoBlocks:
        sim::put_version_file_blocks(
            directory + "version-two-blocks.dll",
            {{"040904E4", {{"FileVersion", "1.2.78"}}}, {"040904B0", {{"FileVersion", "9.9.9"}}}});
        return directory + "version-two-blocks.dll";
    case VersionFile::NoStringBlocks:
        sim::put_version_file_blocks(directory + "version-no-strings.dll", {});
        return directory + "version-no-strings.dll";
    case VersionFile::NoResource:
        sim::put_version_file(directory + "version-none.dll", std::nullopt);
        return directory + "version-none.dll";
    }
    return std::string();
}

} // namespace conformance
