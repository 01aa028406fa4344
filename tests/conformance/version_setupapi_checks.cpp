// version: reading a version resource with several string blocks, with none, and a file without
// one. setupapi: device information sets, opening the root device by an empty ID, and the size
// of the install parameters.
#include <vector>

#include "tests/conformance/conformance.h"

namespace {

using conformance::VersionFile;

// The version resource of a file, read as the installer reads it; empty when it has none.
std::vector<char> version_block(const std::string& path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return {};
    return block;
}

std::string query_text(std::vector<char>& block, const char* sub_block) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), sub_block, &value, &length) || !value)
        return "(none)";
    return static_cast<const char*>(value);
}

} // namespace

CONFORMANCE_CHECK(version_each_string_block_answers_for_its_own_translation) {
    std::vector<char> block = version_block(conformance::version_file(VersionFile::TwoBlocks));
    EXPECT(!block.empty());
    if (block.empty())
        return;
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\040904E4\\FileVersion"), "1.2.78");
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\040904B0\\FileVersion"), "9.9.9");
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\040904e4\\FileVersion"), "1.2.78");
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\04070000\\FileVersion"), "(none)");
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\040904E4\\ProductVersion"), "(none)");
    void* fixed = nullptr;
    UINT length = 0;
    EXPECT(VerQueryValueA(block.data(), "\\", &fixed, &length));
    EXPECT_EQ(length, 52u);
    if (fixed)
        EXPECT_EQ(*static_cast<DWORD*>(fixed), 0xFEEF04BDu);
    void* translations = nullptr;
    EXPECT(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translations, &length));
    EXPECT_EQ(length, 8u);
}

// The ANSI copy of a text lies behind the resource at the text's own distance from the block's
// start, and where the resource ends is what its root's wLength states: a block whose root states
// 8 bytes less gets the copy 8 bytes lower.
CONFORMANCE_CHECK(version_the_ansi_copy_lies_behind_the_length_the_root_states) {
    std::vector<char> block = version_block(conformance::version_file(VersionFile::TwoBlocks));
    EXPECT(block.size() > 8);
    if (block.size() <= 8)
        return;
    const char* path = "\\StringFileInfo\\040904E4\\FileVersion";
    void* copy = nullptr;
    UINT length = 0;
    EXPECT(VerQueryValueA(block.data(), path, &copy, &length));
    unsigned stated = static_cast<unsigned char>(block[0]) | static_cast<unsigned char>(block[1])
                                                                 << 8;
    block[0] = static_cast<char>((stated - 8) & 0xFF);
    block[1] = static_cast<char>((stated - 8) >> 8);
    void* lower = nullptr;
    EXPECT(VerQueryValueA(block.data(), path, &lower, &length));
    EXPECT_EQ(static_cast<char*>(copy) - static_cast<char*>(lower), 8);
    if (lower)
        EXPECT_TEXT(static_cast<const char*>(lower), "1.2.78");
}

CONFORMANCE_CHECK(version_a_resource_without_string_blocks_answers_no_strings) {
    std::vector<char> block = version_block(conformance::version_file(VersionFile::NoStringBlocks));
    EXPECT(!block.empty());
    if (block.empty())
        return;
    EXPECT_TEXT(query_text(block, "\\StringFileInfo\\040904E4\\FileVersion"), "(none)");
    void* fixed = nullptr;
    UINT length = 0;
    EXPECT(VerQueryValueA(block.data(), "\\", &fixed, &length));
}

CONFORMANCE_CHECK(version_an_image_without_resources_has_size_zero) {
    std::string path = conformance::version_file(VersionFile::NoResource);
    DWORD handle = 7;
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u);
    // The image has no resource section at all.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\no-such-directory\\none.dll", &handle), 0u);
    EXPECT(GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
}

CONFORMANCE_CHECK(setupapi_sets_are_created_and_destroyed_once) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    EXPECT(set != INVALID_HANDLE_VALUE);
    EXPECT(SetupDiDestroyDeviceInfoList(set));
    SetLastError(0);
    EXPECT(!SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

CONFORMANCE_CHECK(setupapi_an_unknown_instance_does_not_open) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    SetLastError(0);
    EXPECT(!SetupDiOpenDeviceInfoA(set, "ROOT\\QDI_NO_SUCH_DEVICE\\0000", nullptr, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    SetupDiDestroyDeviceInfoList(set);
}

KNOWN_WINE_DIFFERENCE(setupapi_an_empty_id_opens_the_root_device,
                      "Wine's device tree has no root device to open") {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    EXPECT(SetupDiOpenDeviceInfoA(set, "", nullptr, 0, &data));
    EXPECT(data.DevInst != 0);
    SetupDiDestroyDeviceInfoList(set);
}

// The install parameters need this build's structure size (296 bytes on 32-bit, 320 on 64-bit).
CONFORMANCE_CHECK(setupapi_install_params_need_this_builds_structure_size) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof(void*) == 4 ? 320 : 296;
    SetLastError(0);
    EXPECT(!SetupDiGetDeviceInstallParamsA(set, nullptr, &params));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    SetupDiDestroyDeviceInfoList(set);
}

// Without a device, a set answers with its own install parameters.
KNOWN_WINE_DIFFERENCE(setupapi_a_set_answers_its_own_install_params,
                      "Wine answers install parameters only for a device of the set") {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINSTALL_PARAMS_A params = {};
    params.cbSize = sizeof params;
    EXPECT(SetupDiGetDeviceInstallParamsA(set, nullptr, &params));
    EXPECT_EQ(params.cbSize, static_cast<DWORD>(sizeof params));
    SetupDiDestroyDeviceInfoList(set);
}
