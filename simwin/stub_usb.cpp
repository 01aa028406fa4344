// Area hooks not yet simulated: the area's own file replaces this stub.
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

} // namespace sim::detail
