// The simulated file system, environment, version resources and control device answer as
// Windows does: directory queries with their size rules, expansion, sharing, reads, deletion,
// version blocks and the driver's version reply.
#include <cstring>
#include <vector>

#include "tests/sim_test.h"

namespace {

using FilesTest = SimTest;

HANDLE open_for_read(const char* path, DWORD share = FILE_SHARE_READ) {
    return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(FilesTest, DirectoryQueriesGiveLengthOrTheRoomTheyNeed) {
    char room[64];
    EXPECT_EQ(GetSystemDirectoryA(room, sizeof room), 19u);
    EXPECT_STREQ(room, "C:\\WINDOWS\\system32");
    EXPECT_EQ(GetWindowsDirectoryA(room, sizeof room), 10u);
    EXPECT_STREQ(room, "C:\\WINDOWS");

    std::strcpy(room, "untouched");
    EXPECT_EQ(GetWindowsDirectoryA(room, 10), 11u); // no room for the terminator
    EXPECT_STREQ(room, "untouched");
    EXPECT_EQ(GetSystemDirectoryA(nullptr, 0), 20u);

    sim::set_windows_directory("D:\\WinNT");
    EXPECT_EQ(GetSystemDirectoryA(room, sizeof room), 17u);
    EXPECT_STREQ(room, "D:\\WinNT\\system32");
}

// A 32-bit program on 64-bit Windows is told system32, but its opens, version reads and
// deletions there reach SysWOW64, but for the redirector's exempt folders.
TEST_F(FilesTest, Wow64ProgramsFileAccessesToTheSystemDirectoryReachSysWow64) {
    sim::put_version_file("C:\\WINDOWS\\SysWOW64\\zelkqx7f.dll", "1.2.77");
    sim::put_version_file("C:\\WINDOWS\\system32\\zelkqx7f.dll", "1.2.78");
    sim::put_file("C:\\WINDOWS\\SysWOW64\\drivers\\zelkqx7.sys", "");
    sim::put_file("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "");
    sim::put_file("C:\\WINDOWS\\inf\\oem3.inf", "");
    sim::set_process_kind(sim::ProcessKind::Wow64);

    char room[64];
    EXPECT_EQ(GetSystemDirectoryA(room, sizeof room), 19u);
    EXPECT_STREQ(room, "C:\\WINDOWS\\system32");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA("c:\\windows\\SYSTEM32\\zelkqx7f.dll", &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA("C:\\WINDOWS\\system32\\zelkqx7f.dll", 0, size, block.data()));
    void* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion", &version, &length));
    EXPECT_STREQ(static_cast<const char*>(version), "1.2.77");
    for (const char* path :
         {"C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys",
          "C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "C:\\WINDOWS\\inf\\oem3.inf"}) {
        HANDLE file = open_for_read(path);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        CloseHandle(file);
    }
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\system32\\zelkqx7f.dll"));
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\SysWOW64\\zelkqx7f.dll"));
    EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\system32\\zelkqx7f.dll"));
    HANDLE made = CreateFileA("C:\\WINDOWS\\system32\\new.dll", GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, 0, nullptr);
    CloseHandle(made);
    EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\SysWOW64\\new.dll"));

    sim::set_process_kind(sim::ProcessKind::Native);
    EXPECT_EQ(open_for_read("C:\\WINDOWS\\system32\\drivers\\zelkqx7.sys"), INVALID_HANDLE_VALUE);
}

TEST_F(FilesTest, ExpansionReplacesKnownNamesAndKeepsUnknownOnes) {
    sim::set_environment("DRIVERS", "E:\\pkg");
    char room[64];
    DWORD n =
        ExpandEnvironmentStringsA("%SystemRoot%\\inf;%drivers%;%NOPE%;100%", room, sizeof room);
    EXPECT_STREQ(room, "C:\\WINDOWS\\inf;E:\\pkg;%NOPE%;100%");
    EXPECT_EQ(n, std::strlen(room) + 1);

    EXPECT_EQ(ExpandEnvironmentStringsA("%NOPE%DRIVERS%", room, sizeof room), 12u);
    EXPECT_STREQ(room, "%NOPEE:\\pkg");
    EXPECT_EQ(ExpandEnvironmentStringsA("%drivers%\\a", nullptr, 0), 9u);
    EXPECT_EQ(ExpandEnvironmentStringsA("%drivers%\\a", room, 8), 9u); // too small
    EXPECT_STREQ(room, "E:\\pkg\\");                                   // as much as fits
}

TEST_F(FilesTest, OpenTellsMissingFilesFromMissingDirectoriesAndIgnoresCase) {
    sim::put_file("C:\\WINDOWS\\inf\\oem3.inf", "x");
    HANDLE file = open_for_read("c:/windows//INF\\OEM3.INF");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(open_for_read("C:\\WINDOWS\\inf\\oem4.inf"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(open_for_read("C:\\NoDir\\oem3.inf"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(open_for_read("C:\\WINDOWS\\inf"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    sim::set_current_directory("C:\\pkg");
    sim::put_file(".\\zelkqx7.inf", "[Version]");
    EXPECT_TRUE(sim::file_exists("C:\\PKG\\ZELKQX7.INF"));
}

TEST_F(FilesTest, SharingRefusesOpensThatAnOpenHandleOrAnotherProcessDoesNotShare) {
    sim::put_file("C:\\a.inf", "x");
    HANDLE exclusive = open_for_read("C:\\a.inf", 0);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_for_read("C:\\a.inf"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(exclusive);

    sim::hold_file("C:\\a.inf", GENERIC_WRITE, FILE_SHARE_READ);
    EXPECT_EQ(open_for_read("C:\\a.inf"), INVALID_HANDLE_VALUE); // the holder writes
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE shared = open_for_read("C:\\a.inf", FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(shared, INVALID_HANDLE_VALUE);
    CloseHandle(shared);
    sim::release_file_hold("C:\\a.inf");
    shared = open_for_read("C:\\a.inf");
    EXPECT_NE(shared, INVALID_HANDLE_VALUE);
    CloseHandle(shared);
}

TEST_F(FilesTest, ReadsGoOnFromThePositionAndStopAtTheEnd) {
    sim::put_file("C:\\f.txt", "abcdef");
    HANDLE file = open_for_read("C:\\f.txt");
    char room[8] = {};
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(file, room, 4, &read, nullptr));
    EXPECT_EQ(read, 4u);
    EXPECT_TRUE(ReadFile(file, room + 4, 4, &read, nullptr));
    EXPECT_EQ(read, 2u);
    EXPECT_STREQ(room, "abcdef");
    EXPECT_TRUE(ReadFile(file, room, 4, &read, nullptr));
    EXPECT_EQ(read, 0u);
    sim::fail_call("ReadFile", 1);
    read = 99;
    EXPECT_FALSE(ReadFile(file, room, 4, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

TEST_F(FilesTest, DeletionFailsForMissingHeldAndOpenFiles) {
    EXPECT_FALSE(DeleteFileA("C:\\none.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    sim::put_file("C:\\oem1.inf", "x");
    HANDLE file = open_for_read("C:\\oem1.inf");
    EXPECT_FALSE(DeleteFileA("C:\\oem1.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(file);

    sim::hold_file("C:\\oem1.inf", GENERIC_READ, FILE_SHARE_READ);
    EXPECT_FALSE(DeleteFileA("C:\\oem1.inf"));
    sim::release_file_hold("C:\\oem1.inf");
    sim::hold_file("C:\\oem1.inf", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_TRUE(DeleteFileA("C:\\OEM1.INF"));
    EXPECT_FALSE(sim::file_exists("C:\\oem1.inf"));
}

// The FileVersion text of a file as the program reads it, or "" when a call fails.
std::string file_version(const char* path, const char* block) {
    DWORD handle = 7;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return "";
    EXPECT_EQ(handle, 0u);
    std::vector<uint8_t> data(size);
    EXPECT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));
    void* text = nullptr;
    UINT length = 0;
    std::string path_in_block = std::string("\\StringFileInfo\\") + block + "\\FileVersion";
    if (!VerQueryValueA(data.data(), path_in_block.c_str(), &text, &length))
        return "";
    // The ANSI copy lies within the block that GetFileVersionInfoSizeA asked for.
    EXPECT_GE(static_cast<char*>(text), reinterpret_cast<char*>(data.data()));
    EXPECT_LE(static_cast<char*>(text) + length, reinterpret_cast<char*>(data.data()) + size);
    return static_cast<const char*>(text);
}

TEST_F(FilesTest, VersionResourceGivesItsFileVersionOnlyInItsOwnBlock) {
    sim::put_version_file("C:\\WINDOWS\\system32\\f.dll", "1.2.78");
    sim::put_version_file("C:\\WINDOWS\\system32\\u.dll", "1.0.5", "040904B0");
    sim::put_version_file("C:\\WINDOWS\\system32\\n.dll", std::nullopt);
    EXPECT_EQ(file_version("C:\\WINDOWS\\system32\\f.dll", "040904E4"), "1.2.78");
    EXPECT_EQ(file_version("C:\\WINDOWS\\system32\\f.dll", "040904e4"), "1.2.78");
    EXPECT_EQ(file_version("C:\\WINDOWS\\system32\\u.dll", "040904E4"), "");
    EXPECT_EQ(file_version("C:\\WINDOWS\\system32\\u.dll", "040904B0"), "1.0.5");

    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\WINDOWS\\system32\\n.dll", nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\WINDOWS\\system32\\gone.dll", nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, VersionResourceHasTheFixedPartAndSeveralBlocks) {
    sim::VersionBlock us{"040904E4", {{"CompanyName", "Zelk"}, {"FileVersion", "1.2.78.0"}}};
    sim::VersionBlock de{"040704B0", {{"FileVersion", "\xe4.1"}}};
    sim::put_version_file_blocks("C:\\v.dll", {us, de});
    EXPECT_EQ(file_version("C:\\v.dll", "040904E4"), "1.2.78.0");
    EXPECT_EQ(file_version("C:\\v.dll", "040704B0"), "\xe4.1");

    DWORD size = GetFileVersionInfoSizeA("C:\\v.dll", nullptr);
    std::vector<uint8_t> data(size);
    ASSERT_TRUE(GetFileVersionInfoA("C:\\v.dll", 0, size, data.data()));
    void* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", &fixed, &length));
    ASSERT_EQ(length, 52u);
    uint32_t words[4];
    std::memcpy(words, fixed, sizeof words);
    EXPECT_EQ(words[0], 0xFEEF04BDu);
    EXPECT_EQ(words[2], 0x00010002u);
    EXPECT_EQ(words[3], 0x004E0000u);
}

HANDLE open_control_device() {
    return CreateFileA("\\\\.\\Zelk_QX7", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(FilesTest, ControlDeviceIsAbsentUntilSetAndCapsItsReplyToTheOutput) {
    EXPECT_EQ(open_control_device(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    sim::set_control_device(std::vector<uint8_t>{1, 2, 0x4E, 0, 9, 9});
    HANDLE device = open_control_device();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    uint8_t reply[4] = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(device, sim::kControlDeviceVersionQuery, nullptr, 0, reply,
                                sizeof reply, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(reply[2], 0x4E);
    EXPECT_FALSE(
        DeviceIoControl(device, 0x220408, nullptr, 0, reply, sizeof reply, &returned, nullptr));
    CloseHandle(device);

    sim::set_control_device(std::nullopt);
    device = open_control_device();
    EXPECT_FALSE(DeviceIoControl(device, sim::kControlDeviceVersionQuery, nullptr, 0, reply,
                                 sizeof reply, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    CloseHandle(device);
}

} // namespace
