// The installer's version, written once in project(... VERSION), is the same everywhere it shows:
// the text the window shows, the version resource (fixed and string parts) and the manifest of
// each Windows build's executable, the version resources of the sample package's files, the
// release archives' names and the sample INF's DriverVer. The Windows builds are those the host
// build was configured with (QDI_WIN64_BUILD_DIR, QDI_WIN32_BUILD_DIR).
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "tests/app/harness.h"

using VersionAgreementTest = AppTest;

namespace {

const int kRtVersion = 16;
const int kRtManifest = 24;
const uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian reads that answer 0 past the end, so a damaged image finds nothing.
uint32_t u16(const std::string& b, size_t at) {
    return at + 2 > b.size() ? 0
                             : static_cast<uint32_t>(static_cast<uint8_t>(b[at]) |
                                                     static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t u32(const std::string& b, size_t at) {
    return at + 4 > b.size() ? 0 : u16(b, at) | u16(b, at + 2) << 16;
}

// The data of resource type/1 (its first language) in a PE image, or "".
std::string pe_resource(const std::string& image, uint32_t type) {
    size_t pe = u32(image, 0x3C);
    if (u32(image, pe) != 0x4550) // "PE\0\0"
        return "";
    size_t file_header = pe + 4;
    uint32_t sections = u16(image, file_header + 2);
    size_t optional = file_header + 20;
    size_t section_table = optional + u16(image, file_header + 16);
    bool pe32_plus = u16(image, optional) == 0x20B;
    size_t resource_directory = optional + (pe32_plus ? 112 : 96) + 2 * 8;
    auto file_offset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < sections; ++i) {
            size_t section = section_table + 40 * i;
            uint32_t start = u32(image, section + 12);
            if (rva >= start && rva - start < u32(image, section + 16))
                return u32(image, section + 20) + (rva - start);
        }
        return 0;
    };
    size_t root = file_offset(u32(image, resource_directory));
    if (root == 0)
        return "";
    // The offset, from the root, of the entry with that identifier (any when 0), or 0.
    auto entry = [&](size_t directory, uint32_t id) -> uint32_t {
        uint32_t count = u16(image, directory + 12) + u16(image, directory + 14);
        for (uint32_t i = 0; i < count; ++i) {
            size_t at = directory + 16 + 8 * i;
            if (id == 0 || u32(image, at) == id)
                return u32(image, at + 4) & 0x7FFFFFFFu;
        }
        return 0;
    };
    uint32_t names = entry(root, type);
    uint32_t languages = names ? entry(root + names, 1) : 0;
    uint32_t data = languages ? entry(root + languages, 0) : 0;
    if (data == 0)
        return "";
    size_t at = file_offset(u32(image, root + data));
    return at ? image.substr(at, u32(image, root + data + 4)) : "";
}

std::string version_of(uint32_t most, uint32_t least) {
    return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." +
           std::to_string(least >> 16) + "." + std::to_string(least & 0xFFFF);
}

// A version resource's fixed part: "file version / product version".
std::string fixed_versions(const std::string& block) {
    for (size_t at = 0; at + 24 <= block.size(); at += 4)
        if (u32(block, at) == kFixedFileInfoSignature)
            return version_of(u32(block, at + 8), u32(block, at + 12)) + " / " +
                   version_of(u32(block, at + 16), u32(block, at + 20));
    return "";
}

// The text of a string of a version resource: its UTF-16 value, which starts on the 4-byte
// boundary after its key.
std::string version_string(const std::string& block, const std::string& key) {
    std::string wide_key;
    for (char ch : key + '\0')
        wide_key += std::string{ch, '\0'};
    size_t at = block.find(wide_key);
    if (at == std::string::npos || at % 2)
        return "";
    std::string text;
    for (at = (at + wide_key.size() + 3) & ~size_t{3}; u16(block, at) != 0; at += 2)
        text += static_cast<char>(u16(block, at));
    return text;
}

std::string first_match(const std::string& text, const std::string& pattern) {
    std::smatch match;
    return std::regex_search(text, match, std::regex(pattern)) ? match[1].str() : "";
}

// What the window's header shows in its version line, "ver " and the version.
std::string shown_version_text() {
    std::string shown;
    sim::at(0, [&shown] {
        for (const sim::PaintedItem& item : sim::painted(sim::find_window("QDIMainWindow")))
            if (item.kind == sim::PaintedItem::Text && item.text.rfind("ver ", 0) == 0)
                shown = item.text;
        sim::click_button(app.exit_button);
    });
    EXPECT_EQ(installer_main(), 0);
    return shown;
}

void expect_build_agrees(const std::string& build, const std::string& bits,
                         const std::string& version) {
    SCOPED_TRACE(build);
    std::string program = read_file(build + "/quorvale-installer.exe");
    ASSERT_FALSE(program.empty()) << "build " << build << " first";
    std::string resource = pe_resource(program, kRtVersion);
    EXPECT_EQ(fixed_versions(resource), version + ".0 / " + version + ".0");
    EXPECT_EQ(version_string(resource, "FileVersion"), version);
    EXPECT_EQ(version_string(resource, "ProductVersion"), version);
    EXPECT_EQ(first_match(pe_resource(program, kRtManifest),
                          "<assemblyIdentity[^>]* version=\"([^\"]*)\""),
              version + ".0");

    for (const char* name : {"zelkqx7f.dll", "zelkqx7m.dll", "zelkqx7.sys"}) {
        std::string file = pe_resource(read_file(build + "/package/" + name), kRtVersion);
        EXPECT_EQ(version_string(file, "FileVersion"), version) << name;
        EXPECT_EQ(fixed_versions(file), version + ".0 / " + version + ".0") << name;
    }

    EXPECT_EQ(first_match(read_file(build + "/CPackConfig.cmake"),
                          "set\\(CPACK_PACKAGE_FILE_NAME \"([^\"]*)\"\\)"),
              "quorvale-installer-" + version + "-win" + bits);
}

} // namespace

TEST_F(VersionAgreementTest, TheWindowResourcesManifestsPackageArchivesAndInfShowOneVersion) {
    std::string shown = shown_version_text();
    ASSERT_EQ(shown.rfind("ver ", 0), 0u) << shown;
    std::string version = shown.substr(4);

    EXPECT_EQ(first_match(read_file(QDI_SOURCE_DIR "/driver/zelkqx7.inf"),
                          "\nDriverVer=[^,\r\n]*,([^\r\n]*)"),
              version + ".0");

    const std::pair<std::string, std::string> builds[] = {{QDI_WIN64_BUILD_DIR, "64"},
                                                          {QDI_WIN32_BUILD_DIR, "32"}};
    bool checked = false;
    for (const auto& build : builds) {
        if (build.first.empty())
            continue;
        expect_build_agrees(build.first, build.second, version);
        checked = true;
    }
    if (!checked)
        GTEST_SKIP() << "no Windows build given (QDI_WIN64_BUILD_DIR, QDI_WIN32_BUILD_DIR): only "
                        "the window and the INF were compared";
}
