// kernel32 and advapi32: registry string sizes with and without a stored terminator, the right
// that reading a value needs, environment expansion at every buffer size, the ANSI code page's
// conversion of characters it lacks, file sharing and deleting an open file, the WOW64 query, and
// the INF entry points of setupapi.dll.
#include <cstring>

#include "tests/conformance/conformance.h"

namespace {

// RegQueryValueExA of one value of the check's key: the result; *size in and out.
LSTATUS query_value(const char* name, char* data, DWORD* size, DWORD* type = nullptr) {
    HKEY key = nullptr;
    LSTATUS opened =
        RegOpenKeyExA(HKEY_CURRENT_USER, conformance::kRegistryPath, 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS)
        return opened;
    LSTATUS result =
        RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data), size);
    RegCloseKey(key);
    return result;
}

HANDLE open_file(const std::string& path, DWORD access, DWORD share) {
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

CONFORMANCE_CHECK(advapi32_text_value_sizes_count_the_stored_terminator) {
    conformance::put_registry_value("terminated", REG_SZ, std::string("abc", 4));
    conformance::put_registry_value("bare", REG_SZ, "abc");
    conformance::put_registry_value("expand", REG_EXPAND_SZ, std::string("%TEMP%\\x", 9));
    conformance::put_registry_value("expand_bare", REG_EXPAND_SZ, "%TEMP%\\x");
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(query_value("terminated", nullptr, &size, &type), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    size = 0;
    EXPECT_EQ(query_value("bare", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    size = 0;
    EXPECT_EQ(query_value("expand", nullptr, &size, &type), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    size = 0;
    EXPECT_EQ(query_value("expand_bare", nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
}

CONFORMANCE_CHECK(advapi32_a_value_without_terminator_is_terminated_only_when_room_is_left) {
    conformance::put_registry_value("bare", REG_SZ, "abc");
    char data[8];
    std::memset(data, 'x', sizeof data);
    DWORD size = 3;
    EXPECT_EQ(query_value("bare", data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_TEXT(std::string(data, 4), "abcx");
    std::memset(data, 'x', sizeof data);
    size = sizeof data;
    EXPECT_EQ(query_value("bare", data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_TEXT(std::string(data, 4), std::string("abc", 4));
}

CONFORMANCE_CHECK(advapi32_a_buffer_too_small_gets_more_data_and_the_size_needed) {
    conformance::put_registry_value("terminated", REG_SZ, std::string("abcdef", 7));
    conformance::put_registry_value("expand", REG_EXPAND_SZ, std::string("%TEMP%\\x", 9));
    char data[4];
    DWORD size = sizeof data;
    EXPECT_EQ(query_value("terminated", data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    size = sizeof data;
    EXPECT_EQ(query_value("expand", data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 9u);
    size = 0;
    EXPECT_EQ(query_value("missing", nullptr, &size), ERROR_FILE_NOT_FOUND);
}

CONFORMANCE_CHECK(advapi32_reading_a_value_needs_the_query_right_of_the_open) {
    conformance::put_registry_value("terminated", REG_SZ, std::string("abc", 4));
    HKEY key = nullptr;
    DWORD size = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, conformance::kRegistryPath, 0, 0, &key) == ERROR_SUCCESS) {
        EXPECT_EQ(RegQueryValueExA(key, "terminated", nullptr, nullptr, nullptr, &size),
                  ERROR_ACCESS_DENIED);
        RegCloseKey(key);
    } else {
        EXPECT(!"a key opens with no rights");
    }
    if (RegOpenKeyExA(HKEY_CURRENT_USER, conformance::kRegistryPath, 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        EXPECT_EQ(RegQueryValueExA(key, "terminated", nullptr, nullptr, nullptr, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 4u);
        RegCloseKey(key);
    } else {
        EXPECT(!"a key opens with the query right");
    }
}

CONFORMANCE_CHECK(kernel32_expansion_answers_the_size_with_its_terminator) {
    conformance::set_environment("QDI_CONFORMANCE", "abc");
    const char kSource[] = "x%QDI_CONFORMANCE%y";
    const DWORD kNeeded = 6; // "xabcy" and its terminator
    EXPECT_EQ(ExpandEnvironmentStringsA(kSource, nullptr, 0), kNeeded);
    char exact[6];
    EXPECT_EQ(ExpandEnvironmentStringsA(kSource, exact, sizeof exact), kNeeded);
    EXPECT_TEXT(std::string(exact, 6), std::string("xabcy", 6));
    char large[32];
    EXPECT_EQ(ExpandEnvironmentStringsA(kSource, large, sizeof large), kNeeded);
    EXPECT_TEXT(large, "xabcy");
    char small[4] = "zz";
    EXPECT_EQ(ExpandEnvironmentStringsA(kSource, small, sizeof small), kNeeded);
    // An unknown variable stays as it is written.
    EXPECT_EQ(ExpandEnvironmentStringsA("%QDI_NO_SUCH_VARIABLE%", large, sizeof large), 23u);
    EXPECT_TEXT(large, "%QDI_NO_SUCH_VARIABLE%");
}

CONFORMANCE_CHECK(kernel32_the_ansi_code_page_replaces_what_it_lacks_with_a_question_mark) {
    EXPECT_EQ(GetACP(), 1252u);
    const WCHAR wide[] = {'a', 0x4E2D, 0x20AC, 'b', 0};
    char out[8] = "";
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, nullptr), 5);
    EXPECT_TEXT(out, "a?\x80"
                     "b");
    BOOL used_default = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, &used_default);
    EXPECT(used_default);
    // A buffer too small fails with ERROR_INSUFFICIENT_BUFFER.
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

CONFORMANCE_CHECK(kernel32_an_open_must_share_what_the_other_opens_do_and_ask) {
    std::string path = conformance::scratch_directory() + "shared.dll";
    conformance::put_file(path, "MZ");
    HANDLE reader = open_file(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT(reader != INVALID_HANDLE_VALUE);
    HANDLE second = open_file(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT(second != INVALID_HANDLE_VALUE);
    CloseHandle(second);
    SetLastError(0);
    EXPECT(open_file(path, GENERIC_READ, 0) == INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT(open_file(path, GENERIC_WRITE, FILE_SHARE_READ) == INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    HANDLE writer = open_file(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT(writer != INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT(open_file(path, GENERIC_READ, FILE_SHARE_READ) == INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE both = open_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT(both != INVALID_HANDLE_VALUE);
    CloseHandle(both);
    CloseHandle(writer);
    DeleteFileA(path.c_str());
}

CONFORMANCE_CHECK(kernel32_an_open_with_no_known_disposition_is_refused) {
    std::string path = conformance::scratch_directory() + "plain.dll";
    conformance::put_file(path, "MZ");
    for (DWORD disposition : {0u, 6u}) {
        SetLastError(0);
        EXPECT(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, disposition, 0,
                           nullptr) == INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    DeleteFileA(path.c_str());
}

KNOWN_WINE_DIFFERENCE(kernel32_an_open_sharing_more_than_read_write_and_delete_is_refused,
                      "Wine opens a file whatever further bits the share mode carries") {
    std::string path = conformance::scratch_directory() + "plain.dll";
    conformance::put_file(path, "MZ");
    // GENERIC_WRITE as the share mode: the access and share arguments given the wrong way round.
    for (DWORD share : {DWORD(0x8), DWORD(GENERIC_WRITE)}) {
        SetLastError(0);
        HANDLE file = open_file(path, GENERIC_READ, FILE_SHARE_READ | share);
        EXPECT(file == INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    DeleteFileA(path.c_str());
}

KNOWN_WINE_DIFFERENCE(kernel32_an_open_asking_for_the_sacl_needs_the_security_privilege,
                      "Wine grants ACCESS_SYSTEM_SECURITY without the privilege") {
    std::string path = conformance::scratch_directory() + "plain.dll";
    conformance::put_file(path, "MZ");
    SetLastError(0);
    HANDLE file = open_file(path, GENERIC_READ | ACCESS_SYSTEM_SECURITY, FILE_SHARE_READ);
    EXPECT(file == INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    DeleteFileA(path.c_str());
}

KNOWN_WINE_DIFFERENCE(advapi32_an_open_with_options_beyond_open_link_is_refused,
                      "Wine's RegOpenKeyExA ignores option bits it does not know") {
    conformance::put_registry_value("terminated", REG_SZ, std::string("abc", 4));
    // KEY_READ as the options: the options and rights given the wrong way round.
    for (DWORD options : {DWORD(KEY_READ), DWORD(0x1)}) {
        HKEY key = nullptr;
        EXPECT_EQ(
            RegOpenKeyExA(HKEY_CURRENT_USER, conformance::kRegistryPath, options, KEY_READ, &key),
            ERROR_INVALID_PARAMETER);
        if (key)
            RegCloseKey(key);
    }
}

CONFORMANCE_CHECK(kernel32_an_open_file_is_deleted_only_when_it_shares_deletion) {
    std::string path = conformance::scratch_directory() + "open.inf";
    conformance::put_file(path, "[Version]");
    HANDLE held = open_file(path, GENERIC_READ, FILE_SHARE_READ);
    SetLastError(0);
    EXPECT(!DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    held = open_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT(DeleteFileA(path.c_str()));
    CloseHandle(held);
    SetLastError(0);
    EXPECT(open_file(path, GENERIC_READ, FILE_SHARE_READ) == INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

CONFORMANCE_CHECK(kernel32_setupapi_offers_both_inf_entry_points_by_name) {
    HMODULE setup = LoadLibraryA("setupapi.dll");
    EXPECT(setup != nullptr);
    if (!setup)
        return;
    EXPECT(GetProcAddress(setup, "InstallHinfSection") != nullptr);
    EXPECT(GetProcAddress(setup, "InstallHinfSectionW") != nullptr);
    SetLastError(0);
    EXPECT(GetProcAddress(setup, "NoSuchEntryPoint") == nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

// kernel32 is found by its name with or without ".dll" and exports IsWow64Process, which answers
// for the calling process; a 64-bit program is never a WOW64 process.
CONFORMANCE_CHECK(kernel32_exports_is_wow64_process_which_answers_for_this_process) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    EXPECT(kernel != nullptr);
    EXPECT(GetModuleHandleA("KERNEL32") == kernel);
    FARPROC entry = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    EXPECT(entry != nullptr);
    if (!entry)
        return;
    typedef BOOL(WINAPI * IsWow64ProcessEntry)(HANDLE, PBOOL);
    IsWow64ProcessEntry is_wow64_process =
        reinterpret_cast<IsWow64ProcessEntry>(reinterpret_cast<void (*)()>(entry));
    BOOL wow64 = 2;
    EXPECT(is_wow64_process(GetCurrentProcess(), &wow64));
    EXPECT(wow64 == TRUE || wow64 == FALSE);
    if (sizeof(void*) == 8)
        EXPECT_EQ(wow64, FALSE);
    SetLastError(0);
    EXPECT(GetProcAddress(kernel, "IsWow64ProcessNone") == nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}
