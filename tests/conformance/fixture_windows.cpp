// The conformance checks' machine on Windows (and Wine): files in a scratch directory under the
// temporary directory, values under a key of the current user, and the version images built
// beside the program.
#include <cstdio>

#include "tests/conformance/conformance.h"

namespace conformance {

const char* const kRegistryPath = "Software\\QuorvaleConformance";

namespace {

std::string program_directory() {
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path, n);
    return text.substr(0, text.find_last_of('\\') + 1);
}

} // namespace

bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void begin_check() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kRegistryPath);
}

std::string scratch_directory() {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    std::string directory = std::string(temp) + "qdi-conformance-" +
                            std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount()) + "\\";
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

void put_file(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot create %s\n", path.c_str());
        return;
    }
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

void put_registry_value(const char* name, DWORD type, const std::string& bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    // RegSetValueExA counts a string's terminator that the size left out when the byte after
    // the data is zero; a byte other than zero there keeps the value as given.
    std::string data = bytes + 'x';
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void set_environment(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

std::string version_file(VersionFile kind) {
    switch (kind) {
    case VersionFile::TwoBlocks:
        return program_directory() + "version-two-blocks.dll";
    case VersionFile::NoStringBlocks:
        return program_directory() + "version-no-strings.dll";
    case VersionFile::NoResource:
        return program_directory() + "version-none.dll";
    }
    return std::string();
}

} // namespace conformance
