// The observer of what the program did to the simulated machine: each event comes once, after
// the effect took place, and never for an attempt that Windows refused.
#include <string>
#include <vector>

#include "app/main_window.h"
#include "tests/sim_test.h"

namespace {

const char kInstanceId[] = "USB\\VID_0E1C&PID_0001\\5&1F2E3D4C&0&2";
const char kInfCopy[] = "C:\\WINDOWS\\inf\\oem3.inf";

class MachineEventTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::on_machine_event([this](const sim::MachineEvent& event) { seen.push_back(event); });
    }
    // The events as "kind subject" items.
    std::vector<std::string> seen_items() const {
        static const char* const names[] = {"removed", "deleted", "text",
                                            "opened",  "closed",  "left"};
        std::vector<std::string> items;
        for (const sim::MachineEvent& event : seen)
            items.push_back(std::string(names[event.kind]) + " " + event.subject);
        return items;
    }
    // Opens the instance in a set of its own, removes it and destroys the set; the removal's
    // result.
    static BOOL remove_instance(const char* instance_id) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        BOOL removed = FALSE;
        if (SetupDiOpenDeviceInfoA(set, instance_id, nullptr, 0, &data))
            removed = SetupDiRemoveDevice(set, &data);
        SetupDiDestroyDeviceInfoList(set);
        return removed;
    }
    std::vector<sim::MachineEvent> seen;
};

TEST_F(MachineEventTest, RemovedInstanceIsReportedOnceAndOnlyWhenTheRemovalSucceeded) {
    sim::add_node(sim::root_node(), kInstanceId, std::nullopt, std::string("Quorvale"));
    sim::fail_call("SetupDiRemoveDevice", 1);

    EXPECT_FALSE(remove_instance(kInstanceId));
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(remove_instance(kInstanceId));
    EXPECT_FALSE(remove_instance(kInstanceId)) << "the instance is gone";

    EXPECT_EQ(seen_items(), std::vector<std::string>{std::string("removed ") + kInstanceId});
}

TEST_F(MachineEventTest, DeletedFileIsReportedOnlyWhenItIsGone) {
    sim::put_file(kInfCopy, "Provider=%Zelk%");
    sim::hold_file(kInfCopy, GENERIC_READ, FILE_SHARE_READ);

    EXPECT_FALSE(DeleteFileA(kInfCopy));
    EXPECT_TRUE(seen.empty()) << "a file held without delete sharing stays";

    sim::release_file_hold(kInfCopy);
    EXPECT_TRUE(DeleteFileA("c:/windows/INF/oem3.inf"));
    EXPECT_FALSE(DeleteFileA(kInfCopy));
    EXPECT_EQ(seen_items(), std::vector<std::string>{std::string("deleted ") + kInfCopy})
        << "the path as the file was written, whatever name the deletion used";
}

TEST_F(MachineEventTest, WindowTextCarriesTheWindowAndEveryTextSetEvenWhenUnchanged) {
    HWND edit = CreateWindowExA(0, "Edit", "first", ES_MULTILINE, 0, 0, 100, 100, nullptr, nullptr,
                                sim::program_instance(), nullptr);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(seen.empty()) << "the text given at creation is no change";

    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("report"));
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("report"));

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].window, edit);
    EXPECT_EQ(seen_items(), (std::vector<std::string>{"text report", "text report"}));
    DestroyWindow(edit);
}

TEST_F(MachineEventTest, ModalDialogIsReportedOpenedWhileActiveAndClosedOnceGone) {
    sim::at(100, [] { sim::press_key(VK_ESCAPE); });
    bool open_while_opened = false;
    sim::on_machine_event([&](const sim::MachineEvent& event) {
        seen.push_back(event);
        if (event.kind == sim::MachineEvent::DialogOpened)
            open_while_opened = sim::active_dialog() == event.window;
    });

    DialogBoxParamA(sim::program_instance(), MAKEINTRESOURCEA(kResourceAboutDialog), nullptr,
                    about_dialog_proc, 0);

    std::vector<std::string> items = seen_items();
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items.front(), "opened #103");
    EXPECT_EQ(items.back(), "closed #103");
    EXPECT_TRUE(open_while_opened);
    EXPECT_EQ(sim::active_dialog(), nullptr);
}

TEST_F(MachineEventTest, ResetForgetsTheObserver) {
    sim::reset();
    sim::put_file(kInfCopy, "");
    EXPECT_TRUE(DeleteFileA(kInfCopy));
    EXPECT_TRUE(seen.empty());
}

} // namespace
