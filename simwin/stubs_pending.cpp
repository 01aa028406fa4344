// Area hooks not yet simulated: each area's own file replaces its stub here.
#include "simwin/internal.h"

namespace sim::detail {

bool usb_open(const std::string&, DWORD, DWORD, HANDLE*) {
    return false;
}
BOOL usb_ioctl(HandleObject&, DWORD, void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
void reset_usb() {}

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

void reset_ui() {}

} // namespace sim::detail
