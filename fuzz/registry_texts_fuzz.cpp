// Fuzz target: the registry texts that lead to an adapter's INF copy. The input gives the
// "DevicePath" and "OtherDevicePath" values (missing, REG_SZ, REG_EXPAND_SZ with known and unknown
// variables, or binary; with or without their terminator; of every length around the 200-byte
// path), the driver key's "InfPath" value the same way, the copy's content, another process
// holding the copy, and an instance list that grows between its two queries. The removal walk
// must delete exactly the copies that a plain reading of the same values names, keep every other
// file, remove the instance (unless the list grew) and leave nothing open.
#include <set>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "install/install.h"
#include "tests/install/machine.h"

namespace {

const char kInstanceId[] = "USB\\VID_0E1C&PID_0001\\5&1&0&3";
const char kDriverKey[] = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0003";
const char kWindows[] = "C:\\WINDOWS";
const char kToken[] = "Provider=%Zelk%";
const size_t kPathRoom = 200;
const size_t kExaminedBytes = 480;
const char* const kDirectories[] = {"C:\\WINDOWS\\inf",
                                    "%SystemRoot%\\inf",
                                    "%WINDIR%\\OtherInf",
                                    "%Unknown%\\inf",
                                    "C:\\WINDOWS\\inf;C:\\Drivers",
                                    ""};

enum ValueType { kAbsent, kText, kExpandable, kBinary, kTypeCount };

struct RegistryText {
    int type = kAbsent;
    std::string text;
    bool terminated = true;
};

RegistryText read_text(fuzz::Reader& in, const std::string& base, char padding) {
    RegistryText value;
    uint8_t bits = in.byte();
    value.type = bits % kTypeCount;
    value.terminated = !(bits & 0x80);
    value.text = base;
    int extra = in.upto(240);
    if (extra > 0)
        value.text += (base.empty() ? "" : "\\") + std::string(static_cast<size_t>(extra), padding);
    return value;
}

void store(const std::string& key, const char* name, const RegistryText& value) {
    if (value.type == kAbsent)
        return;
    DWORD type = value.type == kText         ? REG_SZ
                 : value.type == kExpandable ? REG_EXPAND_SZ
                                             : REG_BINARY;
    sim::set_registry_string(HKEY_LOCAL_MACHINE, key, name, value.text, type, value.terminated);
}

// The text the program may use from a stored value read into room bytes: stored with its
// terminator, or without one and shorter than the room; false when it does not fit.
bool fits(const RegistryText& value, size_t room) {
    size_t stored = value.text.size() + (value.terminated ? 1 : 0);
    return value.terminated ? stored <= room : stored < room;
}

// %SystemRoot% and %windir% name the Windows directory; an unknown variable stays as written.
std::string expand(const std::string& text) {
    std::string result;
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find('%', at);
        size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result += text.substr(at);
            break;
        }
        std::string name = sim::upper_case(text.substr(open + 1, close - open - 1));
        result += text.substr(at, open - at);
        if (name == "SYSTEMROOT" || name == "WINDIR") {
            result += kWindows;
            at = close + 1;
        } else {
            result += text.substr(open, close - open);
            at = close;
        }
    }
    return result;
}

// The directory a value names for the program, or "" when the program finds none.
std::string directory_of(const RegistryText& value) {
    if (value.type == kAbsent || !fits(value, kPathRoom))
        return "";
    std::string text = value.text;
    if (value.type == kExpandable) {
        text = expand(text);
        if (text.size() + 1 > kPathRoom)
            return "";
    }
    return text;
}

// The path of the copy the program looks for in directory, or "".
std::string copy_path(const std::string& directory, const RegistryText& inf) {
    if (directory.empty() || inf.type == kAbsent || inf.text.empty())
        return "";
    size_t used = directory.size() + 1;
    if (used >= kPathRoom || !fits(inf, kPathRoom - used))
        return "";
    return directory + "\\" + inf.text;
}

// How the file system names a path: letters in upper case, "/" as "\", one separator for many,
// and a relative path below the current directory C:\.
std::string normal(const std::string& path) {
    std::string full = path.size() >= 2 && path[1] == ':' ? path : "C:\\" + path;
    std::string result;
    for (char ch : sim::upper_case(full)) {
        if (ch == '/')
            ch = '\\';
        if (ch == '\\' && !result.empty() && result.back() == '\\')
            continue;
        result.push_back(ch);
    }
    return result;
}

bool carries_token(const std::string& content) {
    std::string head = content.substr(0, kExaminedBytes);
    return head.substr(0, head.find('\0')).find(kToken) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::new_machine();
    fuzz::Reader in(data, size);
    fuzz::FailurePlan plan = fuzz::read_failure_plan(in);
    RegistryText directories[2];
    for (RegistryText& directory : directories)
        directory = read_text(in, kDirectories[in.upto(5)], 'd');
    RegistryText inf = read_text(in, in.byte() & 1 ? "oem5.inf" : "", 'n');
    uint8_t bits = in.byte();
    bool grows = bits & 1;
    bool held = bits & 2;
    std::string content = (bits & 4 ? inf_machine::kMakerInfHead : "") + in.text(600);

    store(inf_machine::kCurrentVersion, "DevicePath", directories[0]);
    store(inf_machine::kCurrentVersion, "OtherDevicePath", directories[1]);
    sim::add_instance_with_driver_key(sim::root_node(), kInstanceId, kDriverKey, std::nullopt);
    store(sim::driver_registry_path(kDriverKey), "InfPath", inf);
    if (grows)
        sim::on_device_id_list_size([] { sim::add_listed_instance("ROOT\\LATE\\0000"); });

    // The copies the program names, and decoys with the token at the paths a wrong reading
    // would name: the plain INF directory, and each directory cut by one character.
    struct File {
        std::string path;
        bool named;
    };
    std::set<std::string> seen;
    std::vector<File> files;
    for (const RegistryText& directory : directories) {
        std::string path = copy_path(directory_of(directory), inf);
        if (!path.empty() && seen.insert(normal(path)).second)
            files.push_back({path, true});
    }
    std::vector<std::string> decoys = {std::string(kWindows) + "\\inf\\oem5.inf"};
    for (const RegistryText& directory : directories)
        if (directory.text.size() > 1)
            decoys.push_back(directory.text.substr(0, directory.text.size() - 1) + "\\oem5.inf");
    for (const std::string& decoy : decoys)
        if (seen.insert(normal(decoy)).second)
            files.push_back({decoy, false});
    for (const File& file : files) {
        sim::put_file(file.path, file.named ? content : inf_machine::kMakerInfHead);
        if (held)
            sim::hold_file(file.path, GENERIC_WRITE, 0);
    }

    fuzz::arm(plan);
    walk_adapter_instances(1);
    fuzz::end_run();

    bool walked = !grows;
    bool to_delete = carries_token(content);
    for (const File& file : files) {
        bool deleted = !sim::file_exists(file.path);
        if (deleted && !(file.named && to_delete && walked))
            fuzz::broken("a file the values do not name, or without the token, was deleted",
                         file.path);
        if (!deleted && file.named && to_delete && walked && !held && !plan.planned)
            fuzz::broken("the named copy with the token was kept", file.path);
    }
    if (!plan.planned && sim::instance_exists(kInstanceId) == walked)
        fuzz::broken(walked ? "the instance was not removed"
                            : "an instance was removed from a list that grew");
    return 0;
}
