// Fuzz target: what the report says of the driver versions. The input gives the three driver
// files (missing, without a version resource, with string blocks of any translation, names and
// texts of any length, or such a resource with bytes overwritten), the control device (missing,
// failing, or a reply of any size) and whether the driver package is in the current folder.
// A forced refresh must compose a well-formed report whose key is its port section and the
// running driver's version, with each version line and the advice that a plain reading of the
// same machine gives.
#include <cstring>
#include <vector>

#include "app/main_window.h"
#include "fuzz/fuzz_support.h"
#include "report/report.h"

namespace {

const char kInstaller[] = "1.2.78";
const char kEnglishAnsi[] = "040904E4";
const char* const kDriverFiles[] = {"C:\\WINDOWS\\system32\\zelkqx7f.dll",
                                    "C:\\WINDOWS\\system32\\zelkqx7m.dll",
                                    "C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys"};
const char* const kTitles[] = {"Rumble Driver File", "Mempak Driver File", "Quorvale Driver File"};
const size_t kLongestVersion = 51;
// A version text of these characters cannot end a report line early, so the oracle reads it.
const char kPlainCharacters[] = "0123456789.. abcxyzABC-_()";

// kDamaged: string blocks whose resource bytes are then overwritten here and there (a damaged
// resource, or one whose lengths say more than the block the program read it into).
enum FileMode { kMissing, kNoResource, kBlocks, kDamaged, kModeCount };
const int kMostDamage = 4;

// What a file gives the report: nothing, or its version text ("?" when not ours to say).
struct Expected {
    bool found = false;
    std::string version;
    bool damaged = false; // its text may hold any bytes, line ends included
};

std::string plain_text(fuzz::Reader& in, int most) {
    int length = in.upto(most);
    std::string text;
    for (int i = 0; i < length && !in.empty(); ++i)
        text.push_back(kPlainCharacters[in.byte() % (sizeof kPlainCharacters - 1)]);
    return text;
}

// One driver file as the input describes it; returns what the report must show for it.
Expected build_file(fuzz::Reader& in, const char* path) {
    Expected expected;
    int mode = in.byte() % kModeCount;
    if (mode == kMissing)
        return expected;
    expected.found = true;
    expected.version = "1.0.1"; // a file without the string reads as 1.0.1
    if (mode == kNoResource) {
        sim::put_version_file(path, std::nullopt);
        return expected;
    }
    std::vector<sim::VersionBlock> blocks(in.upto(3));
    int english_blocks = 0;
    for (sim::VersionBlock& block : blocks) {
        int translation = in.upto(3);
        block.translation = translation == 0   ? kEnglishAnsi
                            : translation == 1 ? "040904B0"
                            : translation == 2 ? "000004E4"
                                               : "040704E4";
        int strings = in.upto(3);
        int versions = 0;
        std::string version;
        for (int i = 0; i < strings; ++i) {
            int name = in.upto(3);
            std::string key = name == 0   ? "FileVersion"
                              : name == 1 ? "ProductVersion"
                              : name == 2 ? "fileversion"
                                          : "FileVersionX";
            std::string text = plain_text(in, 90);
            // Windows finds a string's name without regard to case.
            if (sim::equal_nocase(key, "FileVersion")) {
                ++versions;
                version = text;
            }
            block.strings.push_back({key, text});
        }
        if (block.translation == kEnglishAnsi) {
            ++english_blocks;
            // The text is copied up to its terminator and cut to the room of 51 characters.
            if (versions == 1)
                expected.version = version.substr(0, kLongestVersion);
            else if (versions > 1)
                expected.version = "?"; // which string Windows finds is not ours to say
        }
    }
    if (english_blocks > 1)
        expected.version = "?";
    if (mode == kDamaged) {
        std::vector<uint8_t> resource = sim::version_resource(blocks);
        for (int hits = 1 + in.upto(kMostDamage - 1); hits > 0; --hits) {
            size_t at = in.word() % resource.size();
            resource[at] = in.byte();
        }
        sim::put_version_file_resource(path, resource);
        expected.version = "?";
        expected.damaged = true;
        return expected;
    }
    sim::put_version_file_blocks(path, blocks);
    return expected;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            fuzz::broken("a report line without its CR LF", text.substr(start));
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    Expected files[3];
    for (int i = 0; i < 3; ++i)
        files[i] = build_file(in, kDriverFiles[i]);
    std::string loaded;
    int device = in.upto(3);
    if (device == 1) {
        sim::set_control_device(std::nullopt, true);
        loaded = "?.?.?";
    } else if (device >= 2) {
        std::vector<uint8_t> reply(in.upto(8));
        for (uint8_t& byte : reply)
            byte = in.byte();
        sim::set_control_device(reply);
        // A longer reply comes back cut to the 4-byte buffer.
        loaded = reply.size() < 4 ? "?.?.?"
                                  : std::to_string(reply[0]) + "." + std::to_string(reply[1]) +
                                        "." + std::to_string(reply[2] | reply[3] << 8);
    }

    // The driver package in the current folder, unless the next byte of the input is odd.
    bool package = in.upto(1) == 0;
    if (package)
        sim::put_file(".\\zelkqx7.inf", "[Version]\r\n");

    std::memset(&report_buffers, 0, sizeof report_buffers);
    app.report_edit = CreateWindowExA(0, "Edit", "", ES_MULTILINE | ES_READONLY, 0, 0, 400, 300,
                                      nullptr, nullptr, sim::program_instance(), nullptr);
    fuzz::arm(plan);
    DWORD flags = refresh_report(nullptr, 1);
    fuzz::end_run();
    DestroyWindow(app.report_edit);
    app.report_edit = nullptr;
    // A report that the control refused leaves no key, so the next refresh writes it again;
    // only a planned failure makes it refuse.
    bool refused = plan.planned && report_buffers.report_key[0] == '\0';

    const std::string text = report_buffers.report_text;
    const std::string key = report_buffers.report_key;
    std::vector<std::string> lines = lines_of(text);
    size_t drivers = 0;
    while (drivers < lines.size() && lines[drivers] != "Installed Drivers:")
        ++drivers;
    if (lines.size() < 8 || drivers == lines.size() || lines[0].rfind("<< USB", 0) != 0)
        fuzz::broken("the report's fixed lines", text);
    // The key: the port section, up to the two empty lines before the drivers, and the running
    // driver's version that the report shows.
    size_t section = text.find("Installed Drivers:\r\n");
    std::string shown_loaded;
    const std::string loaded_title = " - Quorvale Driver Loaded";
    for (const std::string& line : lines)
        if (line.size() > loaded_title.size() + 4 && line.rfind("ver ", 0) == 0 &&
            line.compare(line.size() - loaded_title.size(), loaded_title.size(), loaded_title) == 0)
            shown_loaded = line.substr(4, line.size() - 4 - loaded_title.size());
    // A damaged resource's text may hold line ends and look like any line: what the lines say
    // is then not read.
    bool damaged = files[0].damaged || files[1].damaged || files[2].damaged;
    if (!damaged && (refused ? !key.empty() : key != text.substr(0, section) + shown_loaded))
        fuzz::broken("the key is the port section and the running driver's version", key);
    if (plan.planned || damaged)
        return 0;

    // The plain reading of the same machine.
    std::vector<std::string> expected_lines;
    DWORD expected_flags = 0;
    bool unknown = false;
    for (int i = 0; i < 3; ++i) {
        const Expected& file = files[i];
        bool kernel = i == 2;
        if (!file.found) {
            if (i != 1)
                expected_flags |= kNeedsInstall;
            continue;
        }
        unknown = unknown || file.version == "?";
        if (file.version != kInstaller)
            expected_flags |= kernel ? kNeedsInstall : kVersionMismatch;
        expected_lines.push_back("ver " + file.version + " - " + kTitles[i]);
    }
    if (!loaded.empty()) {
        if (loaded != kInstaller)
            expected_flags |= kVersionMismatch;
        expected_lines.push_back("ver " + loaded + " - Quorvale Driver Loaded");
    }
    if (shown_loaded != loaded)
        fuzz::broken("the running driver's version", shown_loaded + " against " + loaded);
    if (unknown)
        return 0;
    if (flags != expected_flags)
        fuzz::broken("the flags",
                     std::to_string(flags) + " against " + std::to_string(expected_flags));
    if (expected_lines.empty())
        expected_lines.push_back("--- no rumble or mempack drivers installed ---");
    for (size_t i = 0; i < expected_lines.size(); ++i)
        if (drivers + 1 + i >= lines.size() || lines[drivers + 1 + i] != expected_lines[i])
            fuzz::broken("a driver line", expected_lines[i] + " in\n" + text);
    std::string advice = expected_flags == 0 ? "The 1.2.78 drivers are successfully installed."
                         : expected_flags == kVersionMismatch ||
                                 expected_flags == (kVersionMismatch | kAdapterWithoutDriver)
                             ? "Some files were in use during the install.  You will need to "
                               "reboot your computer to complete the 1.2.78 driver installation."
                         : package
                             ? "Click the <Install> button to install the 1.2.78 drivers."
                             : "The driver package is not in this folder: put zelkqx7.inf and "
                               "its files here, then click <Install>.";
    if (lines.back() != advice)
        fuzz::broken("the advice", lines.back());
    return 0;
}
