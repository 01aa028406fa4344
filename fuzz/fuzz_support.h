// What the fuzz targets share: a reader that turns the fuzzer's bytes into the choices that
// describe a machine (every read past the end gives 0, so any input describes some machine), and
// the invariants every run must keep, each ending the run with a report when broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "devices/adapter_list.h"
#include "simwin/sim.h"
#include "usb/port_table.h"

namespace fuzz {

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const {
        return at_ >= size_;
    }
    uint8_t byte() {
        return at_ < size_ ? data_[at_++] : 0;
    }
    uint16_t word() {
        uint16_t low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }
    // A number from 0 to most, taken from one byte (or two when most exceeds 255).
    int upto(int most) {
        int value = most > 255 ? word() : byte();
        return most <= 0 ? 0 : value % (most + 1);
    }
    // A byte string: its length (0 to most), then its bytes.
    std::string text(int most) {
        int length = upto(most);
        std::string result;
        for (int i = 0; i < length && !empty(); ++i)
            result.push_back(static_cast<char>(byte()));
        return result;
    }
    std::u16string wide_text(int most) {
        int length = upto(most);
        std::u16string result;
        for (int i = 0; i < length && !empty(); ++i)
            result.push_back(static_cast<char16_t>(word()));
        return result;
    }
    // The rest of the input as bytes.
    std::string rest() {
        std::string result(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
        at_ = size_;
        return result;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A fresh machine for one input. The targets read no call log, and keeping none makes an input
// cost a fraction of the time.
inline void new_machine() {
    sim::keep_call_log(false);
    sim::reset();
}

[[noreturn]] inline void broken(const char* invariant, const std::string& detail = "") {
    std::fprintf(stderr, "invariant broken: %s %s\n", invariant, detail.c_str());
    std::abort();
}

// A text field of room bytes must hold its terminator within the room.
inline int checked_length(const char* text, int room, const char* what) {
    for (int i = 0; i < room; ++i)
        if (text[i] == '\0')
            return i;
    broken(what, "is not terminated within its room");
}

// The PortTable within its room; each entry's path a PortPath of 1 to 9 characters under a
// controller letter from A to Z (those after J for controllers found through their interface),
// its keys terminated; each adapter entry hangs on a hub entry recorded before it.
inline void check_port_table() {
    if (port_table.count < 0 || port_table.count > kPortTableRoom)
        broken("PortTable count", std::to_string(port_table.count));
    for (int i = 0; i < port_table.count; ++i) {
        const PortEntry& entry = port_table.entries[i];
        int length = checked_length(entry.path, kPortPathRoom, "PortPath");
        if (length < 1 || length > kPortPathRoom - 1)
            broken("PortPath length", std::to_string(length));
        if (entry.path[0] < kFirstControllerLetter || entry.path[0] > kLastControllerLetter)
            broken("PortPath controller letter", entry.path);
        checked_length(entry.driver_key, kKeyRoom, "driver key");
        if (!entry.is_hub) {
            checked_length(entry.parent_key, kKeyRoom, "parent key");
            int parent = entry.parent_index;
            if (parent < 0 || parent >= i || !port_table.entries[parent].is_hub)
                broken("adapter's hub entry", std::to_string(parent));
            // An adapter's path is its hub's path and one port character.
            const char* hub_path = port_table.entries[parent].path;
            int hub_length = checked_length(hub_path, kPortPathRoom, "hub PortPath");
            if (length != hub_length + 1 || std::string(entry.path, hub_length) != hub_path)
                broken("adapter path below its hub's", std::string(hub_path) + " " + entry.path);
        }
    }
}

// The AdapterList within its room, each label terminated and at most 11 characters.
inline void check_adapter_list() {
    if (adapter_list.count < 0 || adapter_list.count > kAdapterListRoom)
        broken("AdapterList count", std::to_string(adapter_list.count));
    for (int i = 0; i < adapter_list.count; ++i) {
        const AdapterEntry& entry = adapter_list.entries[i];
        checked_length(entry.label, kAdapterLabelRoom, "label");
        if (entry.kind != NoDriver && entry.kind != Generic && entry.kind != Rumble)
            broken("DriverKind", std::to_string(static_cast<int>(entry.kind)));
    }
}

// Every handle, heap block, key, device information set and GDI object released.
inline void check_nothing_open() {
    std::string open = sim::open_summary();
    if (!open.empty())
        broken("left open:", open);
}

// Sorts the AdapterList that a run built, checking it before and after the sort.
inline void sort_checked_adapter_list() {
    check_adapter_list();
    sort_adapter_list();
    check_adapter_list();
}

// The first two bytes of an input may plan one failing call: the k-th simulated call of the
// operation fails, once or from then on.
struct FailurePlan {
    bool planned = false;
    long k = 0;
    bool persistent = false;
};

inline FailurePlan read_failure_plan(Reader& in) {
    FailurePlan plan;
    int flags = in.byte();
    int low = in.byte();
    plan.planned = (flags & 0x80) != 0;
    plan.persistent = (flags & 0x40) != 0;
    plan.k = 1 + (low | (flags & 0x0F) << 8);
    return plan;
}

// Arms the plan; call it after the machine is built, right before the operation.
inline void arm(const FailurePlan& plan) {
    if (plan.planned)
        sim::fail_global_call(plan.k, plan.persistent);
}

// With QDI_FUZZ_SHOW set in the environment, prints the tables a run left, to read what an input
// (a seed, a crash) describes.
inline void show_tables() {
    if (!std::getenv("QDI_FUZZ_SHOW"))
        return;
    for (int i = 0; i < port_table.count && i < kPortTableRoom; ++i) {
        const PortEntry& entry = port_table.entries[i];
        std::fprintf(stderr, "port table %d: %s %s key=%.40s parent=%.40s node=%lu\n", i,
                     entry.is_hub ? "hub" : "adapter", entry.path, entry.driver_key,
                     entry.parent_key, static_cast<unsigned long>(entry.devnode));
    }
    for (int i = 0; i < adapter_list.count && i < kAdapterListRoom; ++i)
        std::fprintf(stderr, "adapter list %d: %s plugged=%d kind=%d\n", i,
                     adapter_list.entries[i].label, adapter_list.entries[i].plugged,
                     static_cast<int>(adapter_list.entries[i].kind));
}

// Ends a run: no call fails any more, nothing may be left open, and the tables are shown when
// asked for.
inline void end_run() {
    sim::clear_failures();
    check_nothing_open();
    show_tables();
}

} // namespace fuzz
