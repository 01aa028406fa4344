// Derives the port label of an adapter instance from its instance ID and the device tree: one
// character of the ID per hub tier, climbing from the adapter's node until a hub of the PortTable
// is reached, and lists the instance when no adapter is plugged into that port now.
#include "devices/adapter_list.h"
#include "platform/text.h"
#include "usb/port_table.h"

namespace {

const char kNoHubMark = '*'; // the label names no hub of the PortTable
// Marks a label whose front was cut because it is longer than an AdapterEntry holds.
const char kCutLabelMark = '~';
const char kInnerBus[] = "USB";
const char kSeparator = '&';
const char kIdLevelSeparator = '\\';
const char kSubFieldMark = '_';

enum {
    kLabelBuildRoom = 100,
    kInnerBusLength = sizeof kInnerBus - 1,
    kSubFieldMarkDistance = 4, // "&PID_": the '_' stands four characters after the '&'
    kLongestPortNumber = 3,    // digits of the highest port the scan labels
};

// The label grows at its front: its text runs from start to the terminator at the buffer's end.
struct FrontLabel {
    char text[kLabelBuildRoom];
    int start;
    int cut; // 1 when characters were dropped at the front for want of room
};

void label_clear(FrontLabel* label) {
    label->start = kLabelBuildRoom - 1;
    label->text[label->start] = '\0';
    label->cut = 0;
}

void label_put_front(FrontLabel* label, char ch) {
    if (label->start == 0) {
        label->cut = 1;
        return;
    }
    label->text[--label->start] = ch;
}

void label_put_front_text(FrontLabel* label, const char* text, int room) {
    for (int i = text_length(text, room) - 1; i >= 0; --i)
        label_put_front(label, text[i]);
}

int at_inner_bus(const char* work, int cursor) {
    for (int i = 0; i < kInnerBusLength; ++i)
        if (work[cursor + i] != kInnerBus[i])
            return 0;
    return 1;
}

// Whether the character kSubFieldMarkDistance after position is '_'; a position at or beyond the
// terminator is not.
int sub_field_follows(const char* work, int position) {
    for (int i = 1; i < kSubFieldMarkDistance; ++i)
        if (work[position + i] == '\0')
            return 0;
    return work[position + kSubFieldMarkDistance] == kSubFieldMark;
}

// The parent lookup failed at an inner "USB&": rewrite the identifier from the cursor into its
// instance-ID form (USB\VID_x&PID_y\rest) and look it up, phantoms included. 0 when not found.
DEVINST locate_inner_instance(char* work, int cursor) {
    int position = cursor + kInnerBusLength;
    work[position] = kIdLevelSeparator;
    for (++position; work[position] != '\0'; ++position) {
        if (work[position] == kSeparator && !sub_field_follows(work, position)) {
            work[position] = kIdLevelSeparator;
            break;
        }
    }
    DEVINST found = 0;
    if (CM_Locate_DevNodeA(&found, work + cursor, CM_LOCATE_DEVNODE_PHANTOM) != CR_SUCCESS)
        return 0;
    return found;
}

int is_decimal_digit(char ch) {
    return ch >= '0' && ch <= '9';
}

// The port character of the tier that the end of the working copy names (end is the position of
// its terminator). Windows writes the port of a device without a serial number as the decimal
// number after the last '&' ("...&0&10"), and the scan labels port n '0' + n; such an ending, of
// one to three digits without a leading zero naming a port the scan labels, gives that
// character. Any other ending gives its last character, which is the same for ports 1 to 9.
char last_tier_character(const char* work, int end) {
    char last = work[end - 1];
    int digits = 0;
    while (digits <= kLongestPortNumber && digits < end && is_decimal_digit(work[end - 1 - digits]))
        ++digits;
    if (digits == 0 || digits > kLongestPortNumber || digits == end ||
        work[end - 1 - digits] != kSeparator || work[end - digits] == '0')
        return last;
    int port = 0;
    for (int i = end - digits; i < end; ++i)
        port = port * 10 + (work[i] - '0');
    if (port > kLastLabelledPort)
        return last;
    return (char)(unsigned char)('0' + port);
}

// The first hub entry of the PortTable that carries the node, or null.
const PortEntry* hub_entry_of(DEVINST node) {
    for (int i = 0; i < port_table.count; ++i)
        if (port_table.entries[i].is_hub && port_table.entries[i].devnode == node)
            return &port_table.entries[i];
    return nullptr;
}

// Whether an adapter entry of the PortTable has this path: that adapter is plugged in and
// already listed.
int is_plugged_path(const char* label) {
    for (int i = 0; i < port_table.count; ++i)
        if (!port_table.entries[i].is_hub && text_equal(port_table.entries[i].path, label))
            return 1;
    return 0;
}

// Derives the label into label; the working copy is rewritten on the way.
void derive_label(char* work, DEVINST devnode, FrontLabel* label) {
    if (work[0] == '\0') {
        label_put_front(label, kNoHubMark);
        return;
    }
    DEVINST current = devnode;
    int cursor = 0;
    for (;;) {
        ++cursor;
        while (work[cursor] != '\0' && !at_inner_bus(work, cursor))
            ++cursor;
        int at_end = work[cursor] == '\0';
        label_put_front(label, at_end ? last_tier_character(work, cursor) : work[cursor - 1]);

        if (current != 0) {
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, current, 0) == CR_SUCCESS) {
                current = parent;
            } else {
                current = 0;
                if (!at_end && work[cursor + kInnerBusLength] == kSeparator)
                    current = locate_inner_instance(work, cursor);
            }
        }
        if (current != 0) {
            const PortEntry* hub = hub_entry_of(current);
            if (hub) {
                label_put_front_text(label, hub->path, kPortPathRoom);
                return;
            }
        }
        if (at_end)
            break;
    }
    label_put_front(label, kNoHubMark);
}

} // namespace

void locate_configured_adapter(const char* id, DEVINST devnode) {
    DriverKind kind = classify_driver(devnode);

    // An ID that does not fit the working copy is passed over: its last characters, which name
    // the ports, would be lost.
    char work[kInstanceIdRoom];
    if (!text_copy(work, sizeof work, id))
        return;

    FrontLabel label;
    label_clear(&label);
    derive_label(work, devnode, &label);

    const char* text = label.text + label.start;
    int length = text_length(text, kLabelBuildRoom);
    char shown[kAdapterLabelRoom];
    if (label.cut || length >= kAdapterLabelRoom) {
        // Keep the characters nearest the adapter and mark the cut at the front.
        shown[0] = kCutLabelMark;
        text_copy(shown + 1, sizeof shown - 1, text + length - (kAdapterLabelRoom - 2));
    } else {
        text_copy(shown, sizeof shown, text);
    }

    if (is_plugged_path(shown))
        return;
    append_adapter_entry(0, shown, kind);
}
