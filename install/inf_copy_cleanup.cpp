// Deletes the installed copy of the driver INF that Windows keeps for an adapter instance, when
// the copy is the maker's own: its first 480 bytes carry the provider token. The directory comes
// from a value of the CurrentVersion key, the file name from the instance's driver key.
#include <string.h>

#include "install/install.h"
#include "platform/text.h"

namespace {

const char* const kCurrentVersionPath[] = {"Software", "Microsoft", "Windows", "CurrentVersion"};
enum { kCurrentVersionDepth = sizeof kCurrentVersionPath / sizeof(const char*) };

const char kInfPathValue[] = "InfPath";
const char kProviderToken[] = "Provider=%Zelk%";
const char kDirectorySeparator[] = "\\";

enum {
    kPathRoom = 200,
    kHeadRoom = 512,
    kExaminedBytes = 480,
};

// Makes the text that RegQueryValueExA left in buffer a terminated one. The value comes back as
// stored, perhaps without its terminator; one that leaves no byte for it does not fit. 0 then.
int terminate_registry_text(char* buffer, DWORD room, DWORD stored) {
    if (stored > room)
        return 0;
    if (stored > 0 && memchr(buffer, '\0', stored) != nullptr)
        return 1;
    if (stored >= room)
        return 0;
    buffer[stored] = '\0';
    return 1;
}

// Reads the driver key's "InfPath" value into path behind its first used bytes. 1 when a
// terminated, non-empty name now ends the path.
int append_inf_name(HDEVINFO set, PSP_DEVINFO_DATA data, char* path, int used) {
    HKEY driver_key = SetupDiOpenDevRegKey(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (driver_key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))
        return 0;
    DWORD room = static_cast<DWORD>(kPathRoom - used);
    DWORD stored = room;
    LSTATUS status = RegQueryValueExA(driver_key, kInfPathValue, nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(path + used), &stored);
    RegCloseKey(driver_key);
    if (status != ERROR_SUCCESS)
        return 0;
    // An empty name would leave the directory itself as the path.
    return terminate_registry_text(path + used, room, stored) && path[used] != '\0';
}

} // namespace

int read_current_version_value(char* buffer, int size, const char* value_name) {
    if (size <= 0 || size > kPathRoom)
        return 0;
    HKEY keys[kCurrentVersionDepth];
    int opened = 0;
    HKEY parent = HKEY_LOCAL_MACHINE;
    for (; opened < kCurrentVersionDepth; ++opened) {
        if (RegOpenKeyExA(parent, kCurrentVersionPath[opened], 0, KEY_READ, &keys[opened]) !=
            ERROR_SUCCESS)
            break;
        parent = keys[opened];
    }

    int result = 0;
    if (opened == kCurrentVersionDepth) {
        DWORD type = REG_NONE;
        DWORD stored = static_cast<DWORD>(size);
        if (RegQueryValueExA(keys[kCurrentVersionDepth - 1], value_name, nullptr, &type,
                             reinterpret_cast<LPBYTE>(buffer), &stored) == ERROR_SUCCESS &&
            terminate_registry_text(buffer, static_cast<DWORD>(size), stored)) {
            result = 1;
            if (type == REG_EXPAND_SZ) {
                char source[kPathRoom];
                text_copy(source, sizeof source, buffer);
                // The expansion answers the room it needs when the room is too small: such an
                // expansion does not fit and counts as a failure, as does one left unterminated.
                DWORD needed = ExpandEnvironmentStringsA(source, buffer, static_cast<DWORD>(size));
                if (needed == 0 || needed > static_cast<DWORD>(size) ||
                    text_length(buffer, size) >= size)
                    result = 0;
            }
            if (result && buffer[0] == '\0')
                result = 0;
        }
    }

    while (opened > 0)
        RegCloseKey(keys[--opened]);
    return result;
}

void delete_provider_inf_copy(HDEVINFO set, PSP_DEVINFO_DATA data, const char* value_name) {
    char path[kPathRoom];
    if (!read_current_version_value(path, sizeof path, value_name))
        return;
    // A directory of 199 characters leaves no room for the separator, one of 198 none for a name.
    if (!text_append(path, sizeof path, kDirectorySeparator))
        return;
    int used = text_length(path, sizeof path);
    if (used >= kPathRoom - 1)
        return;
    if (!append_inf_name(set, data, path, used))
        return;

    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char head[kHeadRoom];
    DWORD read = 0;
    BOOL read_ok = ReadFile(file, head, sizeof head, &read, nullptr);
    CloseHandle(file);

    const DWORD examined_room = kExaminedBytes;
    DWORD examined = read < examined_room ? read : examined_room;
    head[examined] = '\0';
    if (!read_ok)
        return;
    // The whole token must lie in the examined bytes, before the first zero byte.
    if (strstr(head, kProviderToken) != nullptr)
        DeleteFileA(path);
}
