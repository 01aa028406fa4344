// The INF engine behind the simulated INF section entry points: reads the INF that the command
// line names from the simulated disk and carries out the section's DelFiles and CopyFiles, one
// file at a time, from the INF's directory to the destination directories 10, 11 and 12. Like
// the progress dialog of Windows' file queue, it dispatches what is due before each file and
// after the last, so a refresh in between sees the section half done.
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "simwin/files_model.h"
#include "simwin/internal.h"

#ifndef QDI_SOURCE_DIR
#error "QDI_SOURCE_DIR must name the source tree"
#endif

namespace sim {
namespace {

constexpr int kWindowsDirectoryId = 10;
constexpr int kSystemDirectoryId = 11;
constexpr int kDriversDirectoryId = 12;
const char kDriversSubdirectory[] = "\\drivers";

struct InfEngineState {
    unsigned file_ms = 0;
};

InfEngineState& state() {
    static InfEngineState instance;
    return instance;
}

// One line of a section: its key (empty for a line without "=") and its value.
struct InfLine {
    std::string key;
    std::string value;
};
using InfSections = std::map<std::string, std::vector<InfLine>>; // by name in upper case

std::string trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

// The comma-separated fields of a value, each trimmed.
std::vector<std::string> fields_of(const std::string& value) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t comma = value.find(',', start);
        fields.push_back(trimmed(value.substr(start, comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

// The sections of an INF text: "[name]" lines open a section; ";" starts a comment outside
// quotes.
InfSections parse_inf(const std::string& text) {
    InfSections sections;
    std::vector<InfLine>* current = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else if (line[i] == ';' && !quoted) {
                line.resize(i);
                break;
            }
        }
        line = trimmed(line.substr(0, line.find('\r')));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            current = &sections[upper_case(
                line.substr(1, close == std::string::npos ? std::string::npos : close - 1))];
            continue;
        }
        if (!current)
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            current->push_back(InfLine{"", line});
        else
            current->push_back(
                InfLine{trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1))});
    }
    return sections;
}

// The directory a destination directory entry ("11", "12,sub") names; "" for one not modelled.
std::string directory_of(const std::string& entry) {
    std::vector<std::string> parts = fields_of(entry);
    std::string directory;
    if (parts[0] == std::to_string(kWindowsDirectoryId))
        directory = windows_directory();
    else if (parts[0] == std::to_string(kSystemDirectoryId))
        directory = system_directory();
    else if (parts[0] == std::to_string(kDriversDirectoryId))
        directory = system_directory() + kDriversSubdirectory;
    else
        return "";
    if (parts.size() > 1 && !parts[1].empty())
        directory += "\\" + parts[1];
    return directory;
}

// One file operation of a section: a copy from the INF's directory, or a deletion.
struct FileOperation {
    bool copy = false;
    std::string source;
    std::string destination;
};

// The destination directory of a file-list section: its own DestinationDirs entry, else
// DefaultDestDir, else the system directory (DIRID 11).
std::string destination_of(const InfSections& inf, const std::string& list) {
    std::string directory = system_directory();
    auto dirs = inf.find("DESTINATIONDIRS");
    if (dirs == inf.end())
        return directory;
    for (const InfLine& line : dirs->second)
        if (equal_nocase(line.key, "DefaultDestDir"))
            directory = directory_of(line.value);
    for (const InfLine& line : dirs->second)
        if (equal_nocase(line.key, list))
            directory = directory_of(line.value);
    return directory;
}

// The operations of one directive's value ("Zelk.System.Files, @single.dll"), in order.
void add_operations(const InfSections& inf, const std::string& value, bool copy,
                    const std::string& inf_directory, std::vector<FileOperation>& operations) {
    for (const std::string& list : fields_of(value)) {
        if (list.empty())
            continue;
        std::vector<std::pair<std::string, std::string>> files; // destination, source names
        std::string directory;
        if (list[0] == '@') {
            files.push_back({list.substr(1), list.substr(1)});
            directory = destination_of(inf, "");
        } else {
            auto section = inf.find(upper_case(list));
            if (section == inf.end())
                continue;
            for (const InfLine& line : section->second) {
                std::vector<std::string> names = fields_of(line.value);
                std::string source = names.size() > 1 && !names[1].empty() ? names[1] : names[0];
                files.push_back({names[0], source});
            }
            directory = destination_of(inf, list);
        }
        if (directory.empty())
            continue;
        for (const auto& [destination, source] : files)
            operations.push_back(
                FileOperation{copy, inf_directory + source, directory + "\\" + destination});
    }
}

// A file that this program or another process holds open without sharing what the operation
// needs stays as it is: Windows replaces or deletes it at the next restart.
void carry_out(const FileOperation& operation) {
    detail::SimFile* destination = nullptr;
    detail::locate_file(operation.destination, &destination);
    if (!operation.copy) {
        if (!destination || !detail::open_handles_share_delete(destination))
            return;
        for (const detail::FileHold& hold : destination->holds)
            if (!(hold.share & FILE_SHARE_DELETE))
                return;
        remove_file(operation.destination);
        return;
    }
    detail::SimFile* source = nullptr;
    if (detail::locate_file(operation.source, &source) != 0)
        return; // Windows would ask for the disk; the user cancels
    if (destination &&
        !detail::file_sharing_allows(destination, GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return;
    std::string content = source->content;
    std::vector<uint8_t> version = source->version_resource;
    put_file(operation.destination, content);
    detail::locate_file(operation.destination, &destination);
    destination->version_resource = version;
}

} // namespace

void set_inf_file_duration(unsigned ms) {
    state().file_ms = ms;
}

void put_sample_driver_package(const std::string& directory, const std::string& file_version) {
    std::ifstream in(QDI_SOURCE_DIR "/driver/zelkqx7.inf", std::ios::binary);
    if (!in)
        throw std::runtime_error("the sample driver package's INF cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    put_file(directory + "\\" + kSampleInfName, text.str());
    InfSections inf = parse_inf(text.str());
    for (const InfLine& line : inf["SOURCEDISKSFILES"])
        put_version_file(directory + "\\" + line.key, file_version);
}

namespace detail {

void run_inf_section_files(const std::string& command_line) {
    // "<section> <mode> <INF path>": the path is the rest of the line.
    size_t first = command_line.find(' ');
    size_t second = first == std::string::npos ? first : command_line.find(' ', first + 1);
    std::vector<FileOperation> operations;
    if (second != std::string::npos) {
        std::string section = command_line.substr(0, first);
        std::string path = command_line.substr(second + 1);
        size_t slash = path.find_last_of("\\/");
        std::string inf_directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        detail::SimFile* file = nullptr;
        if (locate_file(path, &file) == 0) {
            InfSections inf = parse_inf(file->content);
            auto install = inf.find(upper_case(section));
            if (install != inf.end()) {
                // Windows' file queue deletes before it copies.
                for (bool copy : {false, true})
                    for (const InfLine& line : install->second)
                        if (equal_nocase(line.key, copy ? "CopyFiles" : "DelFiles"))
                            add_operations(inf, line.value, copy, inf_directory, operations);
            }
        }
    }
    for (const FileOperation& operation : operations) {
        dispatch_due_messages();
        pass_time(state().file_ms);
        carry_out(operation);
    }
    dispatch_due_messages();
}

void reset_inf_engine() {
    state() = InfEngineState();
}

} // namespace detail
} // namespace sim
