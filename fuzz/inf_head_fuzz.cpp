// Fuzz target: the first bytes of an installed INF copy. The input is the copy's content, put in
// both INF directories for an adapter instance; the removal walk must delete a copy exactly when
// its first 480 bytes, up to the first zero byte, hold "Provider=%Zelk%", and leave nothing open.
#include "fuzz/fuzz_support.h"

#include "tests/install/machine.h"

namespace {

const char kInstanceId[] = "USB\\VID_0E1C&PID_0001\\5&1&0&3";
const char kDriverKey[] = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0003";
const char kInfCopy[] = "C:\\WINDOWS\\inf\\oem5.inf";
const char kOtherCopy[] = "C:\\WINDOWS\\OtherInf\\oem5.inf";
const char kProviderToken[] = "Provider=%Zelk%";
const size_t kExaminedBytes = 480;

// What the program must decide: the token within the examined bytes, before the first zero.
bool carries_token(const std::string& content) {
    std::string head = content.substr(0, kExaminedBytes);
    head = head.substr(0, head.find('\0'));
    return head.find(kProviderToken) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    std::string content(reinterpret_cast<const char*>(data), size);
    inf_machine::set_inf_directory("DevicePath", inf_machine::kInfDirectory);
    inf_machine::set_inf_directory("OtherDevicePath", "%SystemRoot%\\OtherInf", REG_EXPAND_SZ);
    sim::add_instance_with_driver_key(sim::root_node(), kInstanceId, kDriverKey, "oem5.inf");
    sim::put_file(kInfCopy, content);
    sim::put_file(kOtherCopy, content);

    walk_adapter_instances(1);

    bool to_delete = carries_token(content);
    for (const char* path : {kInfCopy, kOtherCopy})
        if (sim::file_exists(path) == to_delete)
            fuzz::broken(to_delete ? "a copy with the token was kept"
                                   : "a copy without the token was deleted",
                         path);
    if (sim::instance_exists(kInstanceId))
        fuzz::broken("the instance was not removed");
    fuzz::check_nothing_open();
    return 0;
}
