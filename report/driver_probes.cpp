// Probes of what is installed and running: the FileVersion text of a driver file, the version
// that the running adapter driver reports through its control device, and whether the
// memory-pack component is registered.
#include "platform/platform.h"
#include "platform/text.h"
#include "report/report.h"

namespace {

const char kFileVersionEntry[] = "\\StringFileInfo\\040904E4\\FileVersion";
// What a file that opens but carries no FileVersion in that block reads as.
const char kVersionWithoutResource[] = "1.0.1";
const char kDirectorySeparator[] = "\\";

const char kControlDeviceName[] = "\\\\.\\Zelk_QX7";
// CTL_CODE(0xB98C, 0x811, METHOD_BUFFERED, FILE_ANY_ACCESS)
const DWORD kIoctlQueryDriverVersion = 0xB98C2044;
enum { kVersionReplySize = 4 };
const char kVersionNotAnswered[] = "?.?.?";

const char kClassesKey[] = "CLSID";
const char kMemoryPackClassId[] = "{4E2A9D13-C605-11d3-9A41-0C5F7B2E8D60}";

// Copies the text that VerQueryValueA pointed at into out, reading no further than the end of
// the version block and writing at most kVersionRoom - 1 characters: a longer text is cut.
// Returns 0 when the pointer does not lie within the block.
int copy_version_text(char* out, const char* text, const char* block, DWORD block_size) {
    if (text < block || text >= block + block_size)
        return 0;
    int readable = static_cast<int>(block + block_size - text);
    int length = 0;
    while (length < readable && length < kVersionRoom - 1 && text[length] != '\0')
        ++length;
    for (int i = 0; i < length; ++i)
        out[i] = text[i];
    out[length] = '\0';
    return 1;
}

// Reads the FileVersion text of the file at path into out; 1 when it was written.
int read_file_version_resource(char* out, const char* path) {
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &unused);
    if (size == 0)
        return 0;
    HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, size);
    if (!block)
        return 0;
    int found = 0;
    void* text = 0;
    UINT length = 0;
    if (GetFileVersionInfoA(path, 0, size, block) &&
        VerQueryValueA(block, kFileVersionEntry, &text, &length) && text != 0)
        found = copy_version_text(out, static_cast<const char*>(text),
                                  static_cast<const char*>(block), size);
    GlobalFree(block);
    return found;
}

} // namespace

int query_file_version(char* out, const char* name, int in_system_dir) {
    char path[kDirectoryPathRoom];
    UINT length = in_system_dir ? GetSystemDirectoryA(path, kDirectoryPathRoom)
                                : GetWindowsDirectoryA(path, kDirectoryPathRoom);
    // A result of the room or more is the size the directory would need: nothing was written.
    if (length == 0 || length >= static_cast<UINT>(kDirectoryPathRoom))
        return 0;
    // A directory that leaves no room for the separator and the whole name finds nothing.
    if (!text_append(path, kDirectoryPathRoom, kDirectorySeparator) ||
        !text_append(path, kDirectoryPathRoom, name))
        return 0;

    if (read_file_version_resource(out, path))
        return 1;

    // Without a readable FileVersion, a file that opens for reading counts as present.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    text_copy(out, kVersionRoom, kVersionWithoutResource);
    return 1;
}

void query_loaded_driver_version(char* out) {
    text_copy(out, kVersionRoom, "");
    HANDLE device = CreateFileA(kControlDeviceName, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (device == INVALID_HANDLE_VALUE)
        return;
    // Reply: major (byte 0), minor (byte 1), build (bytes 2-3, little-endian), all unsigned.
    unsigned char reply[kVersionReplySize] = {0, 0, 0, 0};
    DWORD returned = 0;
    if (DeviceIoControl(device, kIoctlQueryDriverVersion, 0, 0, reply, kVersionReplySize, &returned,
                        0) &&
        returned == kVersionReplySize)
        text_append_format(out, kVersionRoom, "%u.%u.%u", static_cast<unsigned>(reply[0]),
                           static_cast<unsigned>(reply[1]),
                           static_cast<unsigned>(reply[2] | reply[3] << 8));
    else
        text_copy(out, kVersionRoom, kVersionNotAnswered);
    CloseHandle(device);
}

int memory_pack_component_present() {
    HKEY classes = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassesKey, 0, KEY_READ, &classes) != ERROR_SUCCESS)
        return 0;
    int present = 0;
    HKEY component = 0;
    if (RegOpenKeyExA(classes, kMemoryPackClassId, 0, KEY_READ, &component) == ERROR_SUCCESS) {
        RegCloseKey(component);
        present = 1;
    }
    RegCloseKey(classes);
    return present;
}
