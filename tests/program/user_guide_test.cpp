// The user guide quotes the report word for word: every line the installer shows on machines
// that between them give each kind of port line, driver line and advice appears in
// docs/user-guide.md exactly as the window shows it.
#include <fstream>
#include <set>
#include <sstream>

#include "tests/report/machine.h"

namespace {

using namespace report_machine;

std::string user_guide() {
    std::ifstream file(QDI_SOURCE_DIR "/docs/user-guide.md", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class UserGuideTest : public ReportTest {
  protected:
    // Composes the report of the machine as it stands and keeps its lines.
    void collect() {
        refresh_report(nullptr, 1);
        for (const std::string& line : shown_lines())
            if (!line.empty())
                lines.insert(line);
    }
    std::set<std::string> lines;
};

TEST_F(UserGuideTest, QuotesEveryLineTheReportShows) {
    // The guide's example: a plugged adapter with the maker's driver and the memory-pack
    // component, an unplugged one without driver, the files but the mempak one, the driver
    // running.
    plug_adapter(0, 2, kRumble);
    configure_adapter_instance(1, '1', kNoDriver);
    register_memory_pack();
    install_driver_files("1.2.78", std::nullopt, "1.2.78");
    run_driver();
    collect();
    // Each driver kind, everything installed.
    start_again();
    plug_adapter(0, 2, kRumble);
    root_hub(0).add_hub(1, 4).add_adapter(2, true, kGeneric);
    plug_adapter(1, 1, kNoDriver);
    install_everything();
    collect();
    // No adapter: installed; then a running driver that does not tell its version and a file
    // without version: reboot; then nothing at all: install.
    start_again();
    install_everything();
    collect();
    run_driver({0x01, 0x02});
    put_driver_file(kRumbleFile, kNoVersionResource);
    collect();
    start_again();
    collect();
    // The same without the driver package in the folder, then as a 32-bit program on 64-bit
    // Windows.
    sim::remove_file(".\\zelkqx7.inf");
    collect();
    install_state.under_wow64 = 1;
    collect();

    std::string guide = user_guide();
    ASSERT_FALSE(guide.empty());
    for (const char* advice :
         {kInstalledAdvice, kRebootAdvice, kInstallAdvice, kMissingPackageAdvice, kWow64Advice})
        EXPECT_EQ(lines.count(advice), 1u) << advice;
    EXPECT_EQ(lines.size(), 21u);
    for (const std::string& line : lines)
        EXPECT_NE(guide.find(line), std::string::npos) << "the guide does not quote: " << line;
}

} // namespace
