// The simulated file system and environment: a case-insensitive tree of drive-letter paths with
// the Windows and system directories, files opened with access and share modes (also by other
// processes), and the kernel32 calls ReadFile, DeleteFileA, GetSystemDirectoryA,
// GetWindowsDirectoryA and ExpandEnvironmentStringsA. The program's file accesses go through the
// WOW64 redirector (simwin/process.cpp).
#include <cstring>
#include <map>
#include <set>

#include "simwin/files_model.h"
#include "simwin/internal.h"

namespace sim {
namespace {

const char kDefaultWindowsDirectory[] = "C:\\WINDOWS";
const char kSystemSubdirectory[] = "\\system32";

struct FileSystem {
    // Files and directories by their normalised path in upper case ("C:\WINDOWS\SYSTEM32").
    std::map<std::string, std::unique_ptr<detail::SimFile>> files;
    std::set<std::string> directories;
    // Deleted files that a handle may still refer to; kept until reset.
    std::vector<std::unique_ptr<detail::SimFile>> deleted;
    std::string windows_directory = kDefaultWindowsDirectory;
    std::string system_directory = std::string(kDefaultWindowsDirectory) + kSystemSubdirectory;
    std::string current_directory = "C:\\";
    std::map<std::string, std::pair<std::string, std::string>> environment; // upper name
};

FileSystem& fs() {
    static FileSystem instance;
    return instance;
}

bool has_drive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// The full path a name stands for, with "/" as "\", repeated separators, "." and ".." resolved,
// and no trailing separator ("C:" for the root of a drive).
std::string full_path(const std::string& name) {
    std::string path = name;
    for (char& ch : path)
        if (ch == '/')
            ch = '\\';
    std::string base;
    if (has_drive(path)) {
        base = path.substr(0, 2);
        path = path.substr(2);
        if (path.empty() || path[0] != '\\')
            path = fs().current_directory.substr(2) + "\\" + path;
    } else {
        base = fs().current_directory.substr(0, 2);
        if (path.empty() || path[0] != '\\')
            path = fs().current_directory.substr(2) + "\\" + path;
    }
    std::vector<std::string> parts;
    for (const std::string& part : detail::path_parts(path)) {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string result = base;
    for (const std::string& part : parts)
        result += "\\" + part;
    return result;
}

// The key a file or directory is stored under: its full path in upper case.
std::string key_of(const std::string& name) {
    return sim::upper_case(full_path(name));
}

// The full path that a file access by the program reaches: WOW64 redirects the system
// directory.
std::string program_path(const std::string& name) {
    return detail::redirected_path(full_path(name));
}

// The file a name stands for, or null.
detail::SimFile* find_file(const std::string& name) {
    auto it = fs().files.find(key_of(name));
    return it == fs().files.end() ? nullptr : it->second.get();
}

std::string parent_of(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

void add_directory(const std::string& full) {
    std::string path = full;
    while (true) {
        fs().directories.insert(sim::upper_case(path));
        std::string parent = parent_of(path);
        if (parent == path)
            break;
        path = parent;
    }
}

// The file at path, made empty with its directories when it does not exist yet.
detail::SimFile& make_file(const std::string& path) {
    std::string full = full_path(path);
    add_directory(parent_of(full));
    auto& slot = fs().files[sim::upper_case(full)];
    if (!slot) {
        slot = std::make_unique<detail::SimFile>();
        slot->path = full;
    }
    return *slot;
}

std::string expand(const std::string& source) {
    // As Windows expands: a %NAME% whose name is set is replaced; otherwise the "%" is kept and
    // the scan goes on after it, so the closing "%" may open the next reference.
    std::string out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] == '%') {
            size_t end = source.find('%', i + 1);
            if (end != std::string::npos) {
                auto it = fs().environment.find(sim::upper_case(source.substr(i + 1, end - i - 1)));
                if (end > i + 1 && it != fs().environment.end()) {
                    out += it->second.second;
                    i = end + 1;
                    continue;
                }
            }
        }
        out += source[i];
        ++i;
    }
    return out;
}

// The answer of GetSystemDirectoryA and GetWindowsDirectoryA: the length written, or the room
// needed with the terminator when out cannot hold it (and then out is left alone).
UINT copy_directory(const std::string& directory, LPSTR out, UINT size) {
    UINT length = static_cast<UINT>(directory.size());
    if (!out || size <= length)
        return length + 1; // the room it needs, terminator included
    std::memcpy(out, directory.c_str(), length + 1);
    return length;
}

} // namespace

void put_file(const std::string& path, const std::string& content) {
    detail::SimFile& file = make_file(path);
    file.content = content;
    file.version_resource.clear();
}

void put_version_file(const std::string& path, std::optional<std::string> file_version,
                      const std::string& translation) {
    put_file(path, "MZ");
    if (file_version) {
        VersionBlock block;
        block.translation = translation;
        block.strings.push_back({"FileVersion", *file_version});
        make_file(path).version_resource = detail::build_version_resource({block});
    }
}

void put_version_file_blocks(const std::string& path, const std::vector<VersionBlock>& blocks) {
    put_file(path, "MZ");
    make_file(path).version_resource = detail::build_version_resource(blocks);
}

std::vector<uint8_t> version_resource(const std::vector<VersionBlock>& blocks) {
    return detail::build_version_resource(blocks);
}

void put_version_file_resource(const std::string& path, const std::vector<uint8_t>& resource) {
    put_file(path, "MZ");
    make_file(path).version_resource = resource;
}

bool file_exists(const std::string& path) {
    return find_file(path) != nullptr;
}

std::string file_content(const std::string& path) {
    const detail::SimFile* file = find_file(path);
    return file ? file->content : std::string();
}

void remove_file(const std::string& path) {
    auto it = fs().files.find(key_of(path));
    if (it == fs().files.end())
        return;
    fs().deleted.push_back(std::move(it->second));
    fs().files.erase(it);
}

void make_directory(const std::string& path) {
    add_directory(full_path(path));
}

void set_current_directory(const std::string& path) {
    std::string full = full_path(path);
    add_directory(full);
    fs().current_directory = full.size() == 2 ? full + "\\" : full;
}

void set_windows_directory(const std::string& path) {
    fs().windows_directory = path;
    add_directory(full_path(path));
    set_system_directory(path + kSystemSubdirectory);
    set_environment("SystemRoot", path);
    set_environment("windir", path);
}

void set_system_directory(const std::string& path) {
    fs().system_directory = path;
    add_directory(full_path(path));
}

std::string windows_directory() {
    return fs().windows_directory;
}

std::string system_directory() {
    return fs().system_directory;
}

void hold_file(const std::string& path, DWORD access, DWORD share) {
    if (detail::SimFile* file = find_file(path))
        file->holds.push_back(detail::FileHold{access, share});
}

void release_file_hold(const std::string& path) {
    if (detail::SimFile* file = find_file(path))
        file->holds.clear();
}

void set_environment(const std::string& name, const std::string& value) {
    fs().environment[sim::upper_case(name)] = {name, value};
}

void remove_environment(const std::string& name) {
    fs().environment.erase(sim::upper_case(name));
}

namespace detail {

DWORD locate_file(const std::string& program_name, SimFile** file) {
    std::string name = program_path(program_name);
    *file = find_file(name);
    if (*file)
        return 0;
    if (fs().directories.count(key_of(name)))
        return ERROR_ACCESS_DENIED;
    if (!fs().directories.count(sim::upper_case(parent_of(full_path(name)))))
        return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

bool file_sharing_allows(const SimFile* file, DWORD access, DWORD share) {
    if (!sharing_allows(file, access, share))
        return false;
    for (const FileHold& hold : file->holds)
        if (!shares_with(hold.access, hold.share, access, share))
            return false;
    return true;
}

HANDLE file_open(const std::string& program_name, DWORD access, DWORD share, DWORD disposition) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = program_path(program_name);
    SimFile* file = nullptr;
    DWORD error = locate_file(name, &file);
    if (error == ERROR_FILE_NOT_FOUND &&
        (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) {
        file = &make_file(name);
        error = 0;
        SetLastError(ERROR_SUCCESS);
    } else if (error == 0) {
        if (disposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        if (!file_sharing_allows(file, access, share)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
            file->content.clear();
            file->version_resource.clear();
        }
        SetLastError(disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS
                         ? ERROR_ALREADY_EXISTS
                         : ERROR_SUCCESS);
    }
    if (error != 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HandleObject object;
    object.kind = HandleKind::File;
    object.name = file->path;
    object.target = file;
    object.access = access;
    object.share = share;
    return open_handle(object);
}

void reset_files() {
    fs() = FileSystem();
    add_directory(full_path(fs().current_directory));
    set_windows_directory(kDefaultWindowsDirectory);
    reset_registry();
    reset_control_device();
    reset_version_blocks();
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::format;

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    sim::detail::HandleObject* object = sim::detail::handle_object(file);
    if (enter("ReadFile", format("%s to_read=%u", object ? object->name.c_str() : "?", to_read))) {
        if (read)
            *read = 0;
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!read && !overlapped) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (read)
        *read = 0;
    if (object->kind != sim::detail::HandleKind::File) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!(object->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* target = static_cast<sim::detail::SimFile*>(object->target);
    uint64_t size = target->content.size();
    uint64_t start = object->position < size ? object->position : size;
    DWORD count = static_cast<DWORD>(size - start < to_read ? size - start : to_read);
    if (count)
        std::memcpy(buffer, target->content.data() + start, count);
    object->position = start + count;
    if (read)
        *read = count;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
    std::string text = name ? name : "";
    if (enter("DeleteFileA", text)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    sim::detail::SimFile* file = nullptr;
    DWORD error = sim::detail::locate_file(text, &file);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    // A file that this program or another process holds open without sharing deletion refuses
    // to go. One whose every open shares deletion loses its name at once (the handles stay
    // usable until they are closed), as Windows 10 deletes.
    bool refused = !sim::detail::open_handles_share_delete(file);
    for (const sim::detail::FileHold& hold : file->holds)
        if (!(hold.share & FILE_SHARE_DELETE))
            refused = true;
    if (refused) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    std::string path = file->path;
    sim::remove_file(path);
    sim::detail::notify({sim::MachineEvent::FileDeleted, path});
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR out, UINT size) {
    if (enter("GetSystemDirectoryA", format("size=%u", size))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return sim::copy_directory(sim::fs().system_directory, out, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR out, UINT size) {
    if (enter("GetWindowsDirectoryA", format("size=%u", size))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return sim::copy_directory(sim::fs().windows_directory, out, size);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR out, DWORD size) {
    std::string text = source ? source : "";
    if (enter("ExpandEnvironmentStringsA", format("%s size=%u", text.c_str(), size))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string expanded = sim::expand(text);
    DWORD needed = static_cast<DWORD>(expanded.size() + 1);
    if (out && size > 0) {
        // Too small a room takes as much as fits, terminated; the result then is the room
        // needed, which is larger than the room given.
        DWORD count = needed <= size ? needed - 1 : size - 1;
        std::memcpy(out, expanded.data(), count);
        out[count] = '\0';
    }
    return needed;
}
