// The simulated registry: keys below the root keys, typed values stored as raw bytes, and the
// advapi32 calls RegOpenKeyExA, RegQueryValueExA and RegCloseKey with Windows' answers.
#include <cstring>
#include <map>

#include "simwin/files_model.h"
#include "simwin/internal.h"

namespace sim {
namespace {

struct Value {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
};

struct Key {
    std::string display;                 // the path as first written, for the call log
    std::map<std::string, Value> values; // by upper-case name; "" is the default value
    bool denied = false;
};

struct OpenKey {
    std::string id;
    std::string display;
    REGSAM access; // the rights granted at the open, generic rights mapped
};

// Keys are stored flat under an id: the root's short name, then the upper-case path
// ("HKLM\SOFTWARE\MICROSOFT"). Root keys always exist and are not stored.
struct Registry {
    std::map<std::string, Key> keys;
    std::map<uintptr_t, OpenKey> open;
    uintptr_t next_handle = 0x5000;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

const char* root_name(HKEY key) {
    if (key == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (key == HKEY_CURRENT_USER)
        return "HKCU";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKLM";
    return nullptr;
}

// The id of the root key that a test names a key below; "?" (no key) for a handle that is not a
// root.
std::string root_id(HKEY root) {
    const char* name = root_name(root);
    return name ? name : "?";
}

// The id of the key at path below the key with id base, or "" when the path holds an empty
// component (a doubled or trailing backslash), which names no key.
std::string child_id(const std::string& base, const std::string& path) {
    if (path.empty())
        return base;
    std::string id = base;
    for (const std::string& part : detail::path_parts(path)) {
        if (part.empty())
            return "";
        id += "\\" + sim::upper_case(part);
    }
    return id;
}

bool key_exists(const std::string& id) {
    return id.find('\\') == std::string::npos || registry().keys.count(id) != 0;
}

// Creates the key with its parents.
Key& make_key(HKEY root, const std::string& path) {
    std::string base = root_id(root);
    std::string id = base;
    std::string display = base;
    for (const std::string& part : detail::path_parts(path)) {
        if (part.empty())
            continue;
        id += "\\" + sim::upper_case(part);
        display += "\\" + part;
        Key& key = registry().keys[id];
        if (key.display.empty())
            key.display = display;
    }
    Key& key = registry().keys[id];
    if (key.display.empty())
        key.display = display;
    return key;
}

// The open key or root behind a handle: its id and the name for the log, or false.
bool resolve(HKEY key, std::string* id, std::string* display) {
    if (const char* root = root_name(key)) {
        *id = root;
        *display = root;
        return true;
    }
    auto it = registry().open.find(reinterpret_cast<uintptr_t>(key));
    if (it == registry().open.end())
        return false;
    *id = it->second.id;
    *display = it->second.display;
    return true;
}

// Generic rights outside what the program's header declares.
const REGSAM kMaximumAllowed = 0x02000000u;
const REGSAM kGenericAll = 0x10000000u;

// The rights that an access mask grants on a key: GENERIC_READ includes KEY_READ, as Windows
// maps generic rights for keys, and GENERIC_ALL and MAXIMUM_ALLOWED include it too (the caller
// may do anything with the simulated keys). Only KEY_QUERY_VALUE is checked.
REGSAM granted_rights(REGSAM access) {
    if (access & (GENERIC_READ | kGenericAll | kMaximumAllowed))
        access |= KEY_READ;
    return access;
}

// Whether the handle may read values: root keys always, an opened key when it was opened with
// KEY_QUERY_VALUE among its rights.
bool may_query_values(HKEY key) {
    if (root_name(key))
        return true;
    auto it = registry().open.find(reinterpret_cast<uintptr_t>(key));
    return it != registry().open.end() && (it->second.access & KEY_QUERY_VALUE) != 0;
}

LSTATUS open_key(HKEY parent, const char* sub_key, REGSAM access, HKEY* result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string base, display;
    if (!resolve(parent, &base, &display))
        return ERROR_INVALID_HANDLE;
    if (!key_exists(base))
        return ERROR_KEY_DELETED;
    std::string path = sub_key ? sub_key : "";
    std::string id = child_id(base, path);
    if (id.empty() || !key_exists(id))
        return ERROR_FILE_NOT_FOUND;
    auto it = registry().keys.find(id);
    if (it != registry().keys.end() && it->second.denied)
        return ERROR_ACCESS_DENIED;
    uintptr_t handle = registry().next_handle;
    registry().next_handle += 4;
    registry().open[handle] = OpenKey{
        id, it != registry().keys.end() ? it->second.display : display, granted_rights(access)};
    detail::count_open(Resource::RegistryKey, 1);
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

} // namespace

void add_registry_key(HKEY root, const std::string& path) {
    make_key(root, path);
}

void delete_registry_key(HKEY root, const std::string& path) {
    std::string id = child_id(root_id(root), path);
    if (id.empty() || id.find('\\') == std::string::npos)
        return;
    auto& keys = registry().keys;
    for (auto it = keys.begin(); it != keys.end();) {
        if (it->first == id || it->first.rfind(id + "\\", 0) == 0)
            it = keys.erase(it);
        else
            ++it;
    }
}

bool registry_key_exists(HKEY root, const std::string& path) {
    std::string id = child_id(root_id(root), path);
    return !id.empty() && key_exists(id);
}

void set_registry_value(HKEY root, const std::string& path, const std::string& name, DWORD type,
                        const std::vector<uint8_t>& data) {
    make_key(root, path).values[sim::upper_case(name)] = Value{type, data};
}

void set_registry_string(HKEY root, const std::string& path, const std::string& name,
                         const std::string& text, DWORD type, bool terminated) {
    std::vector<uint8_t> data(text.begin(), text.end());
    if (terminated)
        data.push_back(0);
    set_registry_value(root, path, name, type, data);
}

void delete_registry_value(HKEY root, const std::string& path, const std::string& name) {
    make_key(root, path).values.erase(sim::upper_case(name));
}

void deny_registry_key(HKEY root, const std::string& path, bool denied) {
    make_key(root, path).denied = denied;
}

std::string driver_registry_path(const std::string& driver_key) {
    return "SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver_key;
}

namespace detail {

LSTATUS open_registry_key(HKEY root, const std::string& path, REGSAM access, HKEY* result) {
    return open_key(root, path.c_str(), access, result);
}

void reset_registry() {
    registry() = Registry();
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::record;

LSTATUS WINAPI RegOpenKeyExA(HKEY parent, LPCSTR sub_key, DWORD options, REGSAM access,
                             PHKEY result) {
    std::string id, display = "?";
    sim::resolve(parent, &id, &display);
    if (enter("RegOpenKeyExA", format("%s\\%s options=%u access=%#x", display.c_str(),
                                      sub_key ? sub_key : "", options, access))) {
        if (result)
            *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    // ulOptions is zero or REG_OPTION_OPEN_LINK (with REG_OPTION_BACKUP_RESTORE, which the
    // kernel's open takes too); any other bit is refused.
    if (options & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) {
        if (result)
            *result = nullptr;
        return ERROR_INVALID_PARAMETER;
    }
    return sim::open_key(parent, sub_key, access, result);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    std::string id, display = "?";
    bool known = sim::resolve(key, &id, &display);
    if (enter("RegQueryValueExA", format("%s %s room=%u", display.c_str(), name ? name : "",
                                         data && size ? *size : 0u)))
        return ERROR_ACCESS_DENIED;
    if (!known)
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size))
        return ERROR_INVALID_PARAMETER;
    // The handle's rights are checked before the key is looked at.
    if (!sim::may_query_values(key))
        return ERROR_ACCESS_DENIED;
    if (!sim::key_exists(id))
        return ERROR_KEY_DELETED;
    auto it = sim::registry().keys.find(id);
    if (it == sim::registry().keys.end())
        return ERROR_FILE_NOT_FOUND;
    auto value = it->second.values.find(sim::upper_case(name ? name : ""));
    if (value == it->second.values.end())
        return ERROR_FILE_NOT_FOUND;
    const std::vector<uint8_t>& bytes = value->second.data;
    DWORD needed = static_cast<DWORD>(bytes.size());
    if (type)
        *type = value->second.type;
    if (data) {
        // The bytes go out exactly as stored: a string stored without its terminator comes back
        // without one when it fills the room.
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, bytes.data(), needed);
        // A text value stored without its terminator gets one when the room has a byte to
        // spare; the size answered stays the stored size.
        bool text = value->second.type == REG_SZ || value->second.type == REG_EXPAND_SZ ||
                    value->second.type == REG_MULTI_SZ;
        if (text && needed && needed < *size && data[needed - 1] != 0)
            data[needed] = 0;
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    std::string id, display = "?";
    sim::resolve(key, &id, &display);
    record("RegCloseKey", display);
    if (sim::root_name(key))
        return ERROR_SUCCESS;
    auto it = sim::registry().open.find(reinterpret_cast<uintptr_t>(key));
    if (it == sim::registry().open.end())
        return ERROR_INVALID_HANDLE;
    sim::registry().open.erase(it);
    sim::detail::count_open(sim::Resource::RegistryKey, -1);
    return ERROR_SUCCESS;
}
