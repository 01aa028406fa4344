// Builders for the device-matching tests: PortTable entries written straight into the table, and
// an emptied AdapterList, so that a test describes its machine in a few lines.
#pragma once

#include <string>

#include "devices/adapter_list.h"
#include "install/install.h"
#include "platform/text.h"
#include "tests/sim_test.h"
#include "usb/port_table.h"

// A fresh machine with an empty PortTable and an empty AdapterList.
class DevicesTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        port_table.count = 0;
        adapter_list.count = 0;
        install_state = InstallState();
    }

    // A hub entry with its PortPath and hub_label; returns its index.
    int add_hub_entry(const char* path, const char* hub_label, DEVINST devnode = 0) {
        PortEntry& entry = next_entry();
        text_copy(entry.path, sizeof entry.path, path);
        text_copy(entry.driver_key, sizeof entry.driver_key, hub_label);
        entry.parent_key[0] = '\0';
        entry.is_hub = 1;
        entry.devnode = devnode;
        return port_table.count++;
    }
    // An adapter entry on the hub of that hub_label, with its own connection's driver key.
    int add_adapter_entry(const char* path, const char* parent_key, const char* driver_key) {
        PortEntry& entry = next_entry();
        text_copy(entry.path, sizeof entry.path, path);
        text_copy(entry.parent_key, sizeof entry.parent_key, parent_key);
        text_copy(entry.driver_key, sizeof entry.driver_key, driver_key);
        entry.is_hub = 0;
        entry.devnode = 0;
        return port_table.count++;
    }
    DEVINST devnode_of(int index) {
        return port_table.entries[index].devnode;
    }

    // The AdapterList as "label plugged kind" items, for whole-list comparisons.
    static std::string listed() {
        std::string text;
        for (int i = 0; i < adapter_list.count; ++i) {
            const AdapterEntry& entry = adapter_list.entries[i];
            if (!text.empty())
                text += ", ";
            text += std::string(entry.label) + (entry.plugged ? " plugged " : " configured ") +
                    kind_name(entry.kind);
        }
        return text;
    }
    static const char* kind_name(DriverKind kind) {
        return kind == Rumble ? "rumble" : kind == Generic ? "generic" : "no";
    }

  private:
    static PortEntry& next_entry() {
        PortEntry& entry = port_table.entries[port_table.count];
        entry = PortEntry();
        return entry;
    }
};
