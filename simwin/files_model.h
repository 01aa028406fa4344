// Inside simwin: the file model that files.cpp keeps and version_resources.cpp reads, and the reset
// hooks of the registry and the control device, which reset_files() calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "simwin/sim_files.h"

namespace sim::detail {

// Another process's open of a file: what it asks and what it shares.
struct FileHold {
    DWORD access = 0;
    DWORD share = 0;
};

struct SimFile {
    std::string path; // the full path as first written
    std::string content;
    std::vector<uint8_t> version_resource; // empty: the file carries no version resource
    std::vector<FileHold> holds;
};

// Finds the file that a name given to the file API by the program names (through the WOW64
// redirector when the program runs under WOW64). Returns 0 and sets *file, or the error
// Windows gives: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (no such directory) or
// ERROR_ACCESS_DENIED (the name is a directory).
DWORD locate_file(const std::string& name, SimFile** file);
// Whether a new open with access and share may join the program's open handles of the file and
// the other processes' holds on it.
bool file_sharing_allows(const SimFile* file, DWORD access, DWORD share);
// The binary VS_VERSIONINFO resource (UTF-16, as a 32-bit module carries it) for these blocks.
std::vector<uint8_t> build_version_resource(const std::vector<VersionBlock>& blocks);

void reset_registry();
void reset_control_device();
void reset_version_blocks();

} // namespace sim::detail
