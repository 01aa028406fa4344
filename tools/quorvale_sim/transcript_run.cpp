// Runs the installer on the scenario's machine and writes the transcript: each change of the
// report area with the whole text, one line for each thing the program did to the machine (an
// instance removed, a file deleted, an INF section run, a hub re-enumerated, the About box), the
// device-change notices that reach the window, the timeline's own steps, and at the end the
// refreshes that changed nothing and the exit code. A removal that Windows leaves for the next
// restart has a line of its own.
#include "tools/quorvale_sim/transcript_run.h"

#include <cstdio>

#include "app/main_window.h"
#include "install/install.h"

namespace quorvale_sim {
namespace {

const std::string kAboutDialog = "#" + std::to_string(kResourceAboutDialog);
const char kMainWindowClass[] = "QDIMainWindow";
// Every refresh asks the running driver for its version, and nothing else opens its control
// device: the opens count the refreshes.
const char kControlDeviceOpen[] = "\\\\.\\Zelk_QX7 ";
// A run may deliver this many messages, and one more for each millisecond it may last, before
// the simulation ends it as stuck: far more than a program that waits for its messages needs.
constexpr long kMessagesBeyondTime = 10000;
constexpr long kMessagesPerStep = 100;

class Transcript {
  public:
    void line(const std::string& text) {
        text_ += "t=" + std::to_string(sim::now_ms()) + " " + text + "\n";
    }
    void raw(const std::string& text) {
        text_ += text;
    }
    const std::string& text() const {
        return text_;
    }

  private:
    std::string text_;
};

std::string dialog_name(const std::string& resource) {
    return resource == kAboutDialog ? "About box" : "dialog " + resource;
}

int refresh_count() {
    int count = 0;
    for (const sim::Call& call : sim::calls_of("CreateFileA"))
        if (call.args.rfind(kControlDeviceOpen, 0) == 0)
            ++count;
    return count;
}

} // namespace

std::string escaped(const std::string& text) {
    std::string result;
    for (unsigned char ch : text) {
        if (ch < 0x20 || ch > 0x7E) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", ch);
            result += code;
        } else {
            result += static_cast<char>(ch);
        }
    }
    return result;
}

std::string report_lines(const std::string& text) {
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            result += "  |" + escaped(text.substr(start)) + "[no line end]\n";
            break;
        }
        result += "  |" + escaped(text.substr(start, end - start)) + "\n";
        start = end + 2;
    }
    return result;
}

std::string run_scenario(const Scenario& scenario) {
    Transcript out;
    std::string shown;
    int changes = 0;
    RunState& state = run_state();
    state.print = [&out](const std::string& line) { out.line(line); };

    if (!scenario.description.empty())
        out.raw("scenario: " + scenario.description + "\n");
    sim::set_time_limit(scenario.time_limit_ms);
    // A busy program gets room for every step besides the messages its time allows.
    long message_limit = kMessagesBeyondTime + static_cast<long>(scenario.time_limit_ms) +
                         kMessagesPerStep * static_cast<long>(scenario.timeline.size());
    sim::set_message_limit(message_limit);
    for (const TimelineStep& step : scenario.timeline) {
        sim::at(step.at_ms, [&out, &step] {
            out.line(step.line);
            std::string note = step.run();
            if (!note.empty())
                out.line("  " + note);
        });
    }

    sim::on_machine_event([&](const sim::MachineEvent& event) {
        switch (event.kind) {
        case sim::MachineEvent::WindowText:
            if (event.window != app.report_edit || event.subject == shown)
                return;
            shown = event.subject;
            ++changes;
            out.line("report:");
            out.raw(report_lines(shown));
            return;
        case sim::MachineEvent::InstanceRemoved:
            out.line("instance removed: " + event.subject);
            return;
        case sim::MachineEvent::RemovalNeedsRestart:
            out.line("instance removal needs a restart: " + event.subject);
            return;
        case sim::MachineEvent::FileDeleted:
            out.line("file deleted: " + event.subject);
            return;
        case sim::MachineEvent::DialogOpened:
            out.line(dialog_name(event.subject) + " opened");
            return;
        case sim::MachineEvent::DialogClosed:
            out.line(dialog_name(event.subject) + " closed");
            return;
        }
    });

    sim::on_inf_section([&](const std::string& section) {
        const sim::InfRun& run = sim::inf_runs().back();
        out.line("INF section run: " + run.entry + " \"" + run.command_line + "\" show " +
                 std::to_string(run.show));
        auto effect = scenario.sections.find(section);
        if (effect == scenario.sections.end())
            return;
        for (const Change& change : effect->second.changes)
            change();
        if (effect->second.bind)
            state.bound = effect->second.bind;
        if (effect->second.unbind)
            state.bound.reset();
    });

    // The device-change notices that reach the main window, before what the window does on them.
    sim::on_device_notice([&](const sim::DeviceNotice& notice) {
        if (notice.window != sim::find_window(kMainWindowClass))
            return;
        std::string event = notice.event == DBT_DEVNODES_CHANGED ? "DBT_DEVNODES_CHANGED"
                            : notice.event == DBT_DEVICEARRIVAL  ? "DBT_DEVICEARRIVAL"
                            : notice.event == DBT_DEVICEREMOVECOMPLETE
                                ? "DBT_DEVICEREMOVECOMPLETE"
                                : std::to_string(notice.event);
        out.line("WM_DEVICECHANGE " + event +
                 (notice.interface_name.empty() ? "" : " " + notice.interface_name));
    });

    sim::on_reenumerate([&](DEVINST node) {
        const sim::Node* hub_node = sim::node(node);
        out.line("hub re-enumerated: " + (hub_node ? hub_node->instance_id : std::string("?")));
        sim::UsbHub* hub = hub_of_node(node);
        if (!hub)
            return;
        for (sim::UsbPort& port : hub->ports)
            if (port.device)
                print_created(recreate_removed_nodes(*port.device, state.bound));
    });

    // A new process: nothing remembered from an earlier run.
    install_state = InstallState();
    int exit_code = installer_main();

    int refreshes = refresh_count();
    out.raw("refreshes that changed nothing: " + std::to_string(refreshes - changes) + " (of " +
            std::to_string(refreshes) + ")\n");
    std::string open = sim::open_summary();
    out.raw("open at exit: " + (open.empty() ? std::string("nothing") : open) + "\n");
    out.raw("exit code: " + std::to_string(exit_code));
    if (sim::run_stalled()) {
        out.raw(" (the program did not end by itself: the simulation ended the run at t=" +
                std::to_string(sim::now_ms()) + ", ");
        switch (sim::run_end()) {
        case sim::RunEnd::MessageLimit:
            out.raw("message limit " + std::to_string(message_limit) +
                    " reached while the program was still busy)");
            break;
        case sim::RunEnd::NothingToDo:
            out.raw("nothing left to happen)");
            break;
        default:
            out.raw("time limit " + std::to_string(scenario.time_limit_ms) + " ms)");
            break;
        }
    }
    out.raw("\n");

    sim::on_machine_event(nullptr);
    sim::on_inf_section(nullptr);
    sim::on_reenumerate(nullptr);
    sim::on_device_notice(nullptr);
    state.print = nullptr;
    return out.text();
}

} // namespace quorvale_sim
