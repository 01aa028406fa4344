// The heart of the simulated Windows: the call log, failure plans, open counters, the kernel
// handle table and the kernel32 calls that every area shares (CreateFileA dispatch,
// DeviceIoControl, CloseHandle, the global heap, the last error).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>

#include "simwin/internal.h"

namespace sim {
namespace {

struct Plan {
    int from = 0; // first failing call number of that function
    bool persistent = false;
};

struct Core {
    std::vector<Call> log;
    // Keyed by name, found without making a string of the caller's name.
    std::map<std::string, int, std::less<>> per_function;
    // The same counters by the address of the name a caller passes (a literal, the same at
    // every call), so that most calls find theirs without comparing names.
    std::unordered_map<const char*, int*> counter_at;
    std::multimap<std::string, Plan, std::less<>> plans;
    long total = 0;
    long failable = 0; // calls of kinds that can fail on Windows
    long global_k = 0;
    bool global_persistent = false;
    long injected = 0;
    int open[static_cast<int>(Resource::Count)] = {};
    std::map<uintptr_t, detail::HandleObject> handles;
    uintptr_t next_handle = 0x100;
    // The blocks GlobalAlloc gave and their sizes. A program holds few at a time, so a short
    // list searched from its newest end is quicker than a map.
    std::vector<std::pair<void*, size_t>> heap;
    DWORD last_error = 0;
    std::function<void(const MachineEvent&)> observer;
};

Core& core() {
    static Core instance;
    return instance;
}

// A setting of the simulation, not of the machine: reset() keeps it.
bool keep_log = true;

} // namespace

void reset() {
    Core& c = core();
    for (auto& block : c.heap)
        std::free(block.first);
    c = Core();
    detail::reset_usb();
    detail::reset_devices();
    detail::reset_files();
    detail::reset_ui();
    detail::reset_device_notices();
    detail::reset_setup_module();
    detail::reset_process();
}

void fail_call(const std::string& function, int k) {
    core().plans.insert({function, Plan{core().per_function[function] + k, false}});
}

void fail_calls_from(const std::string& function, int k) {
    core().plans.insert({function, Plan{core().per_function[function] + k, true}});
}

void fail_every_call(const std::string& function) {
    fail_calls_from(function, 1);
}

void fail_global_call(long k, bool persistent) {
    core().global_k = core().failable + k;
    core().global_persistent = persistent;
}

void clear_failures() {
    core().plans.clear();
    core().global_k = 0;
}

long call_count() {
    return core().total;
}

long failable_call_count() {
    return core().failable;
}

long injected_failure_count() {
    return core().injected;
}

const std::vector<Call>& calls() {
    return core().log;
}

int count_calls(const std::string& function) {
    int n = 0;
    for (const Call& call : core().log)
        if (call.function == function)
            ++n;
    return n;
}

std::vector<Call> calls_of(const std::string& function) {
    std::vector<Call> result;
    for (const Call& call : core().log)
        if (call.function == function)
            result.push_back(call);
    return result;
}

void clear_log() {
    core().log.clear();
}

void keep_call_log(bool keep) {
    keep_log = keep;
}

int open_count(Resource resource) {
    return core().open[static_cast<int>(resource)];
}

std::string open_summary() {
    static const char* const names[] = {
        "handles",     "heap blocks",     "registry keys", "device info sets",
        "GDI objects", "device contexts", "modules",       "device notification registrations"};
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Resource::Count),
                  "one name for each counter");
    std::string text;
    for (int i = 0; i < static_cast<int>(Resource::Count); ++i) {
        // A module stays loaded by design (the Setup API module is never released).
        if (i == static_cast<int>(Resource::Module))
            continue;
        if (core().open[i] != 0) {
            if (!text.empty())
                text += ", ";
            text += std::to_string(core().open[i]) + " " + names[i];
        }
    }
    return text;
}

void on_machine_event(std::function<void(const MachineEvent&)> observer) {
    core().observer = std::move(observer);
}

std::string upper_case(std::string text) {
    for (char& ch : text)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 32);
    return text;
}

bool equal_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x -= 32;
        if (y >= 'a' && y <= 'z')
            y -= 32;
        if (x != y)
            return false;
    }
    return true;
}

namespace detail {

bool enter(const char* function, const std::string& args) {
    Core& c = core();
    if (keep_log)
        c.log.push_back(Call{function, args, true, false});
    call_entered(function);
    ++c.total;
    ++c.failable;
    int*& counter = c.counter_at[function];
    if (!counter) {
        auto counted = c.per_function.find(std::string_view(function));
        if (counted == c.per_function.end())
            counted = c.per_function.emplace(function, 0).first;
        counter = &counted->second;
    }
    int n = ++*counter;
    bool fail = false;
    if (c.global_k != 0 &&
        (c.failable == c.global_k || (c.global_persistent && c.failable > c.global_k)))
        fail = true;
    if (!c.plans.empty()) {
        auto range = c.plans.equal_range(std::string_view(function));
        for (auto it = range.first; it != range.second; ++it)
            if (n == it->second.from || (it->second.persistent && n > it->second.from))
                fail = true;
    }
    if (fail) {
        ++c.injected;
        if (keep_log)
            c.log.back().failed = true;
    }
    return fail;
}

void record(const char* function, const std::string& args) {
    Core& c = core();
    if (keep_log)
        c.log.push_back(Call{function, args, false, false});
    call_entered(function);
    ++c.total;
}

namespace {

// Formats as vsnprintf does, within 1024 characters.
__attribute__((format(printf, 1, 0))) std::string format_list(const char* format, va_list args) {
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

} // namespace

std::string format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_list(format, args);
    va_end(args);
    return text;
}

std::string log_format(const char* format, ...) {
    if (!keep_log)
        return std::string();
    va_list args;
    va_start(args, format);
    std::string text = format_list(format, args);
    va_end(args);
    return text;
}

std::vector<std::string> path_parts(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) {
            parts.push_back(path.substr(start));
            return parts;
        }
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
}

void notify(const MachineEvent& event) {
    // A copy: the observer may act on the machine, and so reach here again.
    std::function<void(const MachineEvent&)> observer = core().observer;
    if (observer)
        observer(event);
}

void count_open(Resource resource, int delta) {
    core().open[static_cast<int>(resource)] += delta;
}

HANDLE open_handle(const HandleObject& object) {
    Core& c = core();
    uintptr_t value = c.next_handle;
    c.next_handle += 4;
    c.handles[value] = object;
    count_open(Resource::Handle, 1);
    return reinterpret_cast<HANDLE>(value);
}

HandleObject* handle_object(HANDLE handle) {
    auto it = core().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == core().handles.end() ? nullptr : &it->second;
}

bool open_handles_share_delete(const void* target) {
    for (auto& entry : core().handles)
        if (entry.second.target == target && !(entry.second.share & FILE_SHARE_DELETE))
            return false;
    return true;
}

bool shares_with(DWORD held_access, DWORD held_share, DWORD access, DWORD share) {
    if ((access & GENERIC_READ) && !(held_share & FILE_SHARE_READ))
        return false;
    if ((access & GENERIC_WRITE) && !(held_share & FILE_SHARE_WRITE))
        return false;
    if ((held_access & GENERIC_READ) && !(share & FILE_SHARE_READ))
        return false;
    if ((held_access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE))
        return false;
    return true;
}

bool sharing_allows(const void* target, DWORD access, DWORD share) {
    for (auto& entry : core().handles) {
        const HandleObject& open = entry.second;
        if (open.target == target && !shares_with(open.access, open.share, access, share))
            return false;
    }
    return true;
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::format;
using sim::detail::log_format;
using sim::detail::record;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
    std::string text = name ? name : "";
    if (enter("CreateFileA", log_format("%s access=%#x share=%#x disposition=%u", text.c_str(),
                                        access, share, disposition))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // The disposition is one of the five that kernel32 knows, whatever the name opens.
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The I/O manager refuses share bits beyond reading, writing and deleting, whatever the name
    // opens: a device as well as a file.
    if (share & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The right to the SACL is granted only with the security privilege enabled, which the
    // program's token does not have.
    if (access & ACCESS_SYSTEM_SECURITY) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (sim::detail::usb_open(text, access, share, &handle))
        return handle;
    if (sim::detail::control_device_open(text, access, share, &handle))
        return handle;
    if (text.rfind("\\\\.\\", 0) == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return sim::detail::file_open(text, access, share, disposition);
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                            DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
    sim::detail::HandleObject* object = sim::detail::handle_object(device);
    if (enter("DeviceIoControl",
              log_format("%s code=%#x in=%u out=%u", object ? object->name.c_str() : "?", code,
                         in_size, out_size))) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (object->kind) {
    case sim::detail::HandleKind::Controller:
    case sim::detail::HandleKind::Hub:
        return sim::detail::usb_ioctl(*object, code, in, in_size, out, out_size, returned);
    case sim::detail::HandleKind::ControlDevice:
        return sim::detail::control_device_ioctl(*object, code, in, in_size, out, out_size,
                                                 returned);
    case sim::detail::HandleKind::File:
        break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    sim::detail::HandleObject* object = sim::detail::handle_object(handle);
    // Releases are logged but never fail: a failed release would only make the counters lie.
    record("CloseHandle", object ? object->name : "?");
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::core().handles.erase(reinterpret_cast<uintptr_t>(handle));
    sim::detail::count_open(sim::Resource::Handle, -1);
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (enter("GlobalAlloc", log_format("flags=%#x bytes=%zu", flags, bytes))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A request larger than a 32-bit process's heap could ever give fails as it does on Windows,
    // instead of asking the host for gigabytes.
    constexpr SIZE_T kLargestBlock = SIZE_T(1) << 30;
    if (bytes > kLargestBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // GMEM_ZEROINIT or not, the block starts zero-filled; a block of 0 bytes still is a block.
    void* block = std::calloc(bytes ? bytes : 1, 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    sim::core().heap.emplace_back(block, bytes);
    sim::detail::count_open(sim::Resource::HeapBlock, 1);
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
    auto& heap = sim::core().heap;
    auto known = std::find_if(heap.rbegin(), heap.rend(),
                              [block](const auto& entry) { return entry.first == block; });
    record("GlobalFree", log_format("bytes=%zu", known != heap.rend() ? known->second : 0));
    if (!block)
        return nullptr;
    if (known == heap.rend()) {
        // Freeing a block twice, or one that never came from GlobalAlloc: Windows answers with the
        // block and ERROR_INVALID_HANDLE; a test sees the leak counter go wrong.
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    std::free(block);
    heap.erase(std::next(known).base());
    sim::detail::count_open(sim::Resource::HeapBlock, -1);
    return nullptr;
}

DWORD WINAPI GetLastError() {
    return sim::core().last_error;
}

VOID WINAPI SetLastError(DWORD code) {
    sim::core().last_error = code;
}
