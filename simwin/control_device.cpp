// The adapter driver's control device "\\.\Zelk_QX7": absent, or present with a chosen answer
// to its version query (any number of bytes, or a failure).
#include <cstring>

#include "simwin/files_model.h"
#include "simwin/internal.h"

namespace sim {
namespace {

const char kControlDeviceName[] = "\\\\.\\Zelk_QX7";

struct ControlDevice {
    bool present = false;
    bool query_fails = false;
    std::vector<uint8_t> reply;
};

ControlDevice& device() {
    static ControlDevice instance;
    return instance;
}

} // namespace

void set_control_device(std::optional<std::vector<uint8_t>> reply, bool query_fails) {
    device().present = true;
    device().query_fails = query_fails || !reply;
    device().reply = reply ? *reply : std::vector<uint8_t>();
}

void remove_control_device() {
    device() = ControlDevice();
}

namespace detail {

bool control_device_open(const std::string& name, DWORD access, DWORD share, HANDLE* handle) {
    if (!equal_nocase(name, kControlDeviceName))
        return false;
    if (!device().present) {
        *handle = INVALID_HANDLE_VALUE;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return true;
    }
    HandleObject object;
    object.kind = HandleKind::ControlDevice;
    object.name = name;
    object.target = &device();
    object.access = access;
    object.share = share;
    *handle = open_handle(object);
    return true;
}

BOOL control_device_ioctl(HandleObject&, DWORD code, void*, DWORD, void* out, DWORD out_size,
                          DWORD* returned) {
    if (!returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    if (code != kControlDeviceVersionQuery) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!device().present || device().query_fails) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    // The driver copies as much of its reply as the output buffer holds.
    DWORD count = static_cast<DWORD>(device().reply.size());
    if (!out)
        out_size = 0;
    if (count > out_size)
        count = out_size;
    if (count)
        std::memcpy(out, device().reply.data(), count);
    *returned = count;
    return TRUE;
}

void reset_control_device() {
    device() = ControlDevice();
}

} // namespace detail
} // namespace sim
