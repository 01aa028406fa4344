// Boundaries of the fixed text buffers of device matching, the probes, the INF copy cleanup and
// the report, each met by a text that needs one byte less than the room, exactly the room, and
// one byte more (a text of n characters needs n + 1 bytes): device descriptions, instance IDs,
// port labels and the room in which they are built, the AdapterList, the probe's file path, the
// INF copy's path, version texts and the report itself.
#include <cstring>
#include <string>
#include <vector>

#include "install/install.h"
#include "platform/text.h"
#include "tests/install/machine.h"
#include "tests/report/machine.h"
#include "usb/port_table.h"

namespace {

using namespace report_machine;

const char kAdapterPrefix[] = "USB\\VID_0E1C&PID_0001\\";
const int kAdapterPrefixLength = sizeof kAdapterPrefix - 1;
// The room in which the locator builds a label before cutting it to an AdapterEntry's.
const int kLabelBuildRoom = 100;

std::vector<int> around(int room) {
    return {room - 1, room, room + 1};
}

// A text of needed - 1 characters.
std::string text_needing(int needed, char fill) {
    return std::string(static_cast<size_t>(needed - 1), fill);
}

// The rest of an instance ID (after the adapter prefix) from which the locator derives, for a
// phantom whose parent it cannot ask for, the label "*" followed by these characters in reverse:
// the character before each inner "USB" and the last one.
std::string id_rest_for(const std::string& characters) {
    std::string rest;
    for (size_t i = 0; i < characters.size(); ++i) {
        rest += characters[i];
        if (i + 1 < characters.size())
            rest += "USB";
    }
    return rest;
}

// The label such an ID must get: whole when it fits an AdapterEntry, else a mark and its last
// ten characters.
std::string expected_label(const std::string& characters) {
    std::string label = "*" + std::string(characters.rbegin(), characters.rend());
    if (label.size() >= static_cast<size_t>(kAdapterLabelRoom))
        return "~" + label.substr(label.size() - (kAdapterLabelRoom - 2));
    return label;
}

// needed - 2 characters "abc...": with the star, a label that needs `needed` bytes.
std::string label_characters(int needed) {
    std::string characters;
    for (int i = 0; i < needed - 2; ++i)
        characters += static_cast<char>('a' + i % 26);
    return characters;
}

class BoundaryTextTest : public ReportTest {
  protected:
    void SetUp() override {
        ReportTest::SetUp();
        port_table.count = 0;
    }
    // The labels that the instance walk lists, in list order.
    static std::vector<std::string> walked_labels() {
        adapter_list.count = 0;
        walk_adapter_instances(0);
        std::vector<std::string> labels;
        for (int i = 0; i < adapter_list.count; ++i)
            labels.push_back(adapter_list.entries[i].label);
        return labels;
    }
};

TEST_F(BoundaryTextTest, DeviceDescriptionIsReadUpToThePropertyRoom) {
    for (int needed : around(kPropertyRoom)) {
        std::string description = "Quorvale (" + text_needing(needed - 10, 'd');
        DEVINST node = sim::add_phantom(sim::root_node(), "", description);
        EXPECT_EQ(classify_driver(node), needed <= kPropertyRoom ? Rumble : NoDriver) << needed;
    }
}

// The ID ends in an inner identifier whose last '&' stands two characters before the end, or is
// the last character: with the parent lookup failing, the look-ahead for a sub-field mark behind
// that '&' reaches the working copy's last byte, and the '&' is rewritten for the lookup.
TEST_F(BoundaryTextTest, InstanceIdIsUsedUpToTheWorkingCopyAndPassedOverBeyond) {
    const struct {
        std::string ending;
        std::string label;
        std::string looked_up;
    } endings[] = {
        {"3USB&AB&C7", "*73", "USB\\AB\\C7"},
        {"3USB&AB&", "*\\3", "USB\\AB\\"},
    };
    for (const auto& ending : endings) {
        for (int needed : around(kInstanceIdRoom)) {
            SCOPED_TRACE(ending.ending + " in " + std::to_string(needed) + " bytes");
            sim::reset();
            sim::set_parent_rule(sim::ParentRule::BeforeWindows8);
            std::string id =
                kAdapterPrefix +
                text_needing(needed - kAdapterPrefixLength - static_cast<int>(ending.ending.size()),
                             'x') +
                ending.ending;
            sim::add_phantom(sim::root_node(), id, std::string(kNoDriver));
            std::vector<std::string> expected;
            if (needed <= kInstanceIdRoom)
                expected.push_back(ending.label);
            EXPECT_EQ(walked_labels(), expected);
            std::vector<sim::Call> lookups = sim::calls_of("CM_Locate_DevNodeA");
            ASSERT_EQ(lookups.size(), needed <= kInstanceIdRoom ? 1u : 0u);
            if (!lookups.empty()) {
                EXPECT_EQ(lookups[0].args, ending.looked_up + " flags=0x1");
            }
        }
    }
}

// Around an AdapterEntry's room and around the room the label is built in: the label is shown
// whole up to the entry's room, and beyond it (wherever its front was cut) as a mark and its
// last ten characters.
TEST_F(BoundaryTextTest, DerivedLabelIsShownWholeUpToTheEntryRoomThenCutBehindAMark) {
    for (int room : {static_cast<int>(kAdapterLabelRoom), kLabelBuildRoom}) {
        for (int needed : around(room)) {
            sim::reset();
            std::string characters = label_characters(needed);
            sim::add_phantom(sim::root_node(), kAdapterPrefix + id_rest_for(characters),
                             std::string(kNoDriver));
            EXPECT_EQ(walked_labels(), std::vector<std::string>{expected_label(characters)})
                << needed;
        }
    }
}

TEST_F(BoundaryTextTest, AppendedLabelIsRefusedBeyondTheEntryRoom) {
    for (int needed : around(kAdapterLabelRoom)) {
        adapter_list.count = 0;
        EXPECT_EQ(append_adapter_entry(0, text_needing(needed, 'L').c_str(), NoDriver),
                  needed <= kAdapterLabelRoom ? 1 : 0)
            << needed;
        EXPECT_EQ(adapter_list.count, needed <= kAdapterLabelRoom ? 1 : 0) << needed;
    }
}

// The rumble file's path is the system directory, a separator and "zelkqx7f.dll".
TEST_F(BoundaryTextTest, DriverFileIsFoundUpToTheProbesPathRoom) {
    const std::string name = "zelkqx7f.dll";
    for (int needed : around(kDirectoryPathRoom)) {
        sim::reset();
        int directory_length = needed - 1 - 1 - static_cast<int>(name.size());
        std::string directory =
            "C:\\" + std::string(static_cast<size_t>(directory_length - 3), 'S');
        sim::set_system_directory(directory);
        sim::put_version_file(directory + "\\" + name, std::string("1.2.78"));
        char version[kVersionRoom] = "";
        EXPECT_EQ(query_file_version(version, name.c_str(), 1),
                  needed <= kDirectoryPathRoom ? 1 : 0)
            << needed;
    }
}

TEST_F(BoundaryTextTest, VersionTextIsShownWholeUpToItsRoomThenCut) {
    for (int needed : around(kVersionRoom)) {
        sim::reset();
        std::string version = text_needing(needed, '7');
        sim::put_version_file(kRumbleFile, version);
        char out[kVersionRoom + 8];
        std::memset(out, '#', sizeof out);
        ASSERT_EQ(query_file_version(out, "zelkqx7f.dll", 1), 1) << needed;
        EXPECT_EQ(std::string(out), version.substr(0, kVersionRoom - 1)) << needed;
        EXPECT_EQ(out[kVersionRoom], '#') << "written past the version buffer at " << needed;
    }
}

// The INF copy's path (directory, separator, "oem5.inf") must fit 200 bytes to be opened.
TEST_F(BoundaryTextTest, InfCopyIsDeletedUpToThePathRoomOnly) {
    const int path_room = 200;
    const std::string instance = std::string(kAdapterPrefix) + "5&1&0&3";
    const std::string driver_key = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0005";
    for (int needed : around(path_room)) {
        sim::reset();
        int directory_length = needed - 1 - 1 - 8;
        std::string directory =
            "C:\\" + std::string(static_cast<size_t>(directory_length - 3), 'D');
        inf_machine::set_inf_directory("DevicePath", directory);
        sim::add_instance_with_driver_key(sim::root_node(), instance, driver_key, "oem5.inf");
        std::string copy = directory + "\\oem5.inf";
        sim::put_file(copy, "[Version]\r\nProvider=%Zelk%\r\n");
        walk_adapter_instances(1);
        EXPECT_EQ(sim::file_exists(copy), needed > path_room) << needed;
    }
}

TEST_F(BoundaryTextTest, ReportTextIsBoundedByItsRoom) {
    for (int needed : around(kReportRoom)) {
        std::string text = text_needing(needed, 'r');
        report_buffers.report_text[0] = '\0';
        EXPECT_EQ(text_append(report_buffers.report_text, kReportRoom, text.c_str()),
                  needed <= kReportRoom ? 1 : 0);
        report_buffers.report_key[0] = '\0';
        EXPECT_EQ(text_append_format(report_buffers.report_key, kReportRoom, "%s", text.c_str()),
                  needed <= kReportRoom ? 1 : 0);
        size_t kept = static_cast<size_t>(needed <= kReportRoom ? needed - 1 : kReportRoom - 1);
        EXPECT_EQ(std::string(report_buffers.report_text), text.substr(0, kept)) << needed;
        EXPECT_EQ(std::string(report_buffers.report_key), text.substr(0, kept)) << needed;
    }
}

// Configured adapters one less than the list's room, the room and one more, each with a label
// of eleven characters, and version texts of 51 characters: the report lists what the list
// holds and stays whole, its advice last (the kernel file's version asks for an install).
TEST_F(BoundaryTextTest, LargestReportStaysWholeWithTheListAtItsRoom) {
    for (int offered : around(kAdapterListRoom)) {
        start_again();
        for (int i = 0; i < offered; ++i) {
            std::string characters = label_characters(kAdapterLabelRoom);
            characters[0] = static_cast<char>('A' + i);
            sim::add_phantom(sim::root_node(), kAdapterPrefix + id_rest_for(characters),
                             std::string(kRumble));
        }
        std::string version(kVersionRoom - 1, '9');
        install_driver_files(version, version, version);
        run_driver({0xFF, 0xFF, 0xFF, 0xFF});
        register_memory_pack();

        refresh_report(app.report_edit, 1);

        std::vector<std::string> lines = shown_lines();
        int listed = offered <= kAdapterListRoom ? offered : kAdapterListRoom;
        ASSERT_EQ(lines.size(), static_cast<size_t>(2 + listed + 2 + 1 + 4 + 2 + 1)) << offered;
        EXPECT_EQ(lines[2].size(), std::string("Port *abcdefghij: rumble & mempak driver, not "
                                               "plugged in")
                                       .size());
        EXPECT_EQ(lines[2 + listed + 3], "ver " + version + " - Rumble Driver File");
        EXPECT_EQ(advice(), kInstallAdvice);
        EXPECT_LT(shown().size(), static_cast<size_t>(kReportRoom / 2));
        DestroyWindow(app.report_edit);
        app.report_edit = nullptr;
    }
}

// The bounded text operations as their callers rely on them: a buffer of no room is left alone,
// and one that holds no terminator is terminated at its last byte and reported as not fitting.
TEST_F(BoundaryTextTest, TextOperationsWriteNothingWithoutRoomAndMendAnUnterminatedBuffer) {
    char guard[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(text_copy(guard, 0, "a"), 0);
    EXPECT_EQ(text_append(guard, 0, "a"), 0);
    EXPECT_EQ(text_append_format(guard, 0, "%s", "a"), 0);
    EXPECT_EQ(std::string(guard, 4), "xxxx");

    char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(text_append(full, sizeof full, "e"), 0);
    EXPECT_STREQ(full, "abc");
    char full_too[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(text_append_format(full_too, sizeof full_too, "%d", 5), 0);
    EXPECT_STREQ(full_too, "abc");
}

} // namespace
