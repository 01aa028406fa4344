// Area hooks not yet simulated: the area's own file replaces this stub.
#include "simwin/internal.h"

namespace sim::detail {

bool control_device_open(const std::string&, DWORD, DWORD, HANDLE*) {
    return false;
}
BOOL control_device_ioctl(HandleObject&, DWORD, void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
HANDLE file_open(const std::string&, DWORD, DWORD, DWORD) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}
void reset_files() {}

} // namespace sim::detail
