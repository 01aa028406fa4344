// The simulated version.dll: files carry a binary VS_VERSIONINFO resource in the layout of a
// 32-bit module (UTF-16 keys and strings, blocks aligned to 4 bytes), and GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA read it as Windows does, ANSI strings included.
#include <cstring>
#include <map>

#include "simwin/files_model.h"
#include "simwin/internal.h"

namespace sim {
namespace {

const uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
const uint32_t kFixedFileInfoStructVersion = 0x00010000u;
const size_t kFixedFileInfoSize = 52;
const uint16_t kBinaryValue = 0;
const uint16_t kTextValue = 1;
const size_t kNodeHeaderSize = 6; // wLength, wValueLength, wType
// The reported size leaves room behind the resource for the ANSI copies of its strings, as
// Windows does: twice the resource and a 4-byte signature.
const DWORD kAnsiAreaOffset = 4;

void put_word(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void append_dword(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void pad(std::vector<uint8_t>& out) {
    while (out.size() % 4)
        out.push_back(0);
}

void append_wide(std::vector<uint8_t>& out, const std::string& text) {
    for (char16_t ch : widen(text)) {
        out.push_back(static_cast<uint8_t>(ch & 0xFF));
        out.push_back(static_cast<uint8_t>(ch >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

// One node: header, key, value, children, each part starting on a 4-byte boundary.
std::vector<uint8_t> node(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                          uint16_t value_length,
                          const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> out(kNodeHeaderSize, 0);
    append_wide(out, key);
    pad(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& child : children) {
        pad(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    put_word(out, 0, static_cast<uint16_t>(out.size()));
    put_word(out, 2, value_length);
    put_word(out, 4, type);
    return out;
}

std::vector<uint8_t> string_node(const std::string& name, const std::string& text) {
    std::vector<uint8_t> value;
    append_wide(value, text);
    return node(name, kTextValue, value, static_cast<uint16_t>(value.size() / 2), {});
}

// The four numbers of a version text such as "1.2.78.0" for the fixed part; what does not parse
// counts as 0.
void parse_version(const std::string& text, uint32_t* ms, uint32_t* ls) {
    uint32_t numbers[4] = {0, 0, 0, 0};
    int index = 0;
    for (char ch : text) {
        if (ch == '.' || ch == ',') {
            if (++index == 4)
                break;
        } else if (ch >= '0' && ch <= '9') {
            numbers[index] = (numbers[index] * 10 + static_cast<uint32_t>(ch - '0')) & 0xFFFF;
        }
    }
    *ms = numbers[0] << 16 | numbers[1];
    *ls = numbers[2] << 16 | numbers[3];
}

uint16_t read_word(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

size_t align(size_t offset) {
    return (offset + 3) & ~static_cast<size_t>(3);
}

// A version block as VerQueryValueA reads it: its bytes and how many of them may be read. The
// node lengths inside are the resource's own and may be damaged: every read is checked against
// the room, where Windows would read on past the block.
struct Block {
    uint8_t* bytes;
    size_t room;
    bool has(size_t offset, size_t count) const {
        return offset <= room && count <= room - offset;
    }
    uint16_t word(size_t offset) const {
        return read_word(bytes + offset);
    }
};

// The rooms of the blocks that GetFileVersionInfoA filled, by address.
std::map<const void*, size_t>& filled_blocks() {
    static std::map<const void*, size_t> blocks;
    return blocks;
}

// The key of the node at offset and where its value starts; false when the node's header or key
// runs past the room.
bool node_key(const Block& block, size_t offset, std::string* key, size_t* value_offset) {
    size_t at = offset + kNodeHeaderSize;
    for (;;) {
        if (!block.has(at, 2))
            return false;
        char16_t ch = block.word(at);
        at += 2;
        if (ch == 0)
            break;
        *key += narrow(ch);
    }
    *value_offset = align(at);
    return true;
}

// The bytes of a node's value: wValueLength counts characters in a text node (any wType but 0)
// and bytes in a binary one.
size_t value_bytes(const Block& block, size_t offset) {
    uint16_t length = block.word(offset + 2);
    return block.word(offset + 4) != kBinaryValue ? length * 2u : length;
}

// The child of the node at offset whose key is name, or 0. The children are walked as Windows
// walks them, while they start before the end that the node's own wLength gives.
size_t find_child(const Block& block, size_t offset, const std::string& name) {
    if (!block.has(offset, kNodeHeaderSize))
        return 0;
    size_t end = offset + block.word(offset);
    std::string key;
    size_t value_offset = 0;
    if (!node_key(block, offset, &key, &value_offset))
        return 0;
    size_t child = align(value_offset + value_bytes(block, offset));
    while (child < end && block.has(child, kNodeHeaderSize)) {
        uint16_t length = block.word(child);
        if (length == 0)
            break;
        std::string child_key;
        size_t child_value = 0;
        if (!node_key(block, child, &child_key, &child_value))
            break;
        if (equal_nocase(child_key, name))
            return child;
        child = align(child + length);
    }
    return 0;
}

// Why a file's version resource cannot be read by name, or 0 with *file set.
DWORD locate_version(const char* name, detail::SimFile** file) {
    DWORD error = detail::locate_file(name ? name : "", file);
    if (error != 0)
        return error;
    // The resource is read through a read-only open that shares reading.
    if (!detail::file_sharing_allows(*file, GENERIC_READ, FILE_SHARE_READ))
        return ERROR_SHARING_VIOLATION;
    // simwin's files carry no resources but their version resource: a file without one has no
    // resource section at all.
    if ((*file)->version_resource.empty())
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    return 0;
}

} // namespace

namespace detail {

void reset_version_blocks() {
    filled_blocks().clear();
}

std::vector<uint8_t> build_version_resource(const std::vector<VersionBlock>& blocks) {
    std::vector<uint8_t> fixed;
    uint32_t ms = 0, ls = 0;
    for (const auto& entry : blocks.empty() ? std::vector<std::pair<std::string, std::string>>()
                                            : blocks.front().strings)
        if (entry.first == "FileVersion")
            parse_version(entry.second, &ms, &ls);
    append_dword(fixed, kFixedFileInfoSignature);
    append_dword(fixed, kFixedFileInfoStructVersion);
    append_dword(fixed, ms); // file version
    append_dword(fixed, ls);
    append_dword(fixed, ms); // product version
    append_dword(fixed, ls);
    while (fixed.size() < kFixedFileInfoSize)
        fixed.push_back(0);

    std::vector<std::vector<uint8_t>> children;
    std::vector<std::vector<uint8_t>> tables;
    std::vector<uint8_t> translations;
    for (const VersionBlock& block : blocks) {
        std::vector<std::vector<uint8_t>> strings;
        for (const auto& entry : block.strings)
            strings.push_back(string_node(entry.first, entry.second));
        tables.push_back(node(block.translation, kTextValue, {}, 0, strings));
        uint32_t code = static_cast<uint32_t>(std::stoul(block.translation, nullptr, 16));
        append_dword(translations, (code >> 16) | (code & 0xFFFF) << 16);
    }
    if (!blocks.empty()) {
        children.push_back(node("StringFileInfo", kTextValue, {}, 0, tables));
        std::vector<uint8_t> var = node("Translation", kBinaryValue, translations,
                                        static_cast<uint16_t>(translations.size()), {});
        children.push_back(node("VarFileInfo", kTextValue, {}, 0, {var}));
    }
    return node("VS_VERSION_INFO", kBinaryValue, fixed, static_cast<uint16_t>(fixed.size()),
                children);
}

} // namespace detail
} // namespace sim

using sim::detail::enter;
using sim::detail::format;

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
    if (enter("GetFileVersionInfoSizeA", name ? name : "")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (handle)
        *handle = 0;
    sim::detail::SimFile* file = nullptr;
    DWORD error = sim::locate_version(name, &file);
    if (error != 0) {
        SetLastError(error);
        return 0;
    }
    return static_cast<DWORD>(file->version_resource.size() * 2 + sim::kAnsiAreaOffset);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD, DWORD size, LPVOID data) {
    if (enter("GetFileVersionInfoA", format("%s size=%u", name ? name : "", size))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!data) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    sim::detail::SimFile* file = nullptr;
    DWORD error = sim::locate_version(name, &file);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    // Windows copies as much of the resource as the room holds.
    const std::vector<uint8_t>& resource = file->version_resource;
    size_t count = resource.size() < size ? resource.size() : size;
    std::memcpy(data, resource.data(), count);
    sim::filled_blocks()[data] = size;
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, UINT* length) {
    if (enter("VerQueryValueA", sub_block ? sub_block : "")) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    if (!block || !sub_block || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* bytes = static_cast<uint8_t*>(const_cast<void*>(block));
    // A block that GetFileVersionInfoA did not fill is taken at its word: the room that its
    // root's length asks for.
    auto filled = sim::filled_blocks().find(block);
    sim::Block view{bytes, filled != sim::filled_blocks().end()
                               ? filled->second
                               : sim::read_word(bytes) * 2u + sim::kAnsiAreaOffset};
    auto not_found = [length] {
        if (length)
            *length = 0;
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    };
    if (!view.has(0, sim::kNodeHeaderSize))
        return not_found();
    size_t offset = 0;
    for (const std::string& part : sim::detail::path_parts(sub_block)) {
        if (part.empty())
            continue;
        offset = sim::find_child(view, offset, part);
        if (offset == 0)
            return not_found();
    }
    std::string key;
    size_t value_offset = 0;
    if (!sim::node_key(view, offset, &key, &value_offset))
        return not_found();
    uint16_t value_length = view.word(offset + 2);
    if (view.word(offset + 4) == sim::kBinaryValue || offset == 0) {
        *buffer = bytes + value_offset;
        if (length)
            *length = value_length;
        return TRUE;
    }
    // A text value comes back as an ANSI copy in the area behind the resource, at the same
    // distance from that area's start as the UTF-16 text lies from the block's start. The area's
    // start is the root's wLength as the block states it: a damaged length, or a resource longer
    // than the size asked for, puts the copy at or past the block's end. simwin writes only the
    // part of the copy that lies within the block.
    size_t ansi = view.word(0) + sim::kAnsiAreaOffset + value_offset;
    UINT count = 0;
    bool terminated = false;
    for (size_t at = value_offset; count < value_length && view.has(at, 2); at += 2) {
        char16_t ch = view.word(at);
        if (view.has(ansi + count, 1))
            bytes[ansi + count] = static_cast<uint8_t>(sim::narrow(ch));
        ++count;
        if (ch == 0) {
            terminated = true;
            break;
        }
    }
    if (!terminated && view.has(ansi + count, 1))
        bytes[ansi + count] = 0;
    *buffer = bytes + ansi;
    if (length)
        *length = count;
    return TRUE;
}
