// The driver probes: the FileVersion text of a driver file (with the existence test behind it
// and the bounds of the path and version buffers), the running driver's version reply, and the
// memory-pack component's registration.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "report/report.h"
#include "tests/report/machine.h"

namespace {

using ProbesTest = SimTest;
using report_machine::kKernelFile;
using report_machine::kMemoryPackKey;
using report_machine::kRumbleFile;

// The probe's answer for the rumble driver file, or "missing" when it found nothing. A probe
// that finds the file writes its version; one that finds nothing leaves the buffer.
std::string rumble_version() {
    char out[kVersionRoom];
    std::strcpy(out, "untouched");
    if (query_file_version(out, "zelkqx7f.dll", 1) != 1) {
        EXPECT_STREQ(out, "untouched") << "a probe that finds nothing leaves the buffer";
        return "missing";
    }
    return out;
}

std::string loaded_version() {
    char out[kVersionRoom];
    std::strcpy(out, "stale");
    query_loaded_driver_version(out);
    return out;
}

TEST_F(ProbesTest, FileVersionOfTheUsEnglishBlockIsTheVersionText) {
    sim::put_version_file(kRumbleFile, "1.2.78");
    EXPECT_EQ(rumble_version(), "1.2.78");
    sim::put_version_file(kRumbleFile, "1, 2, 78, 0");
    EXPECT_EQ(rumble_version(), "1, 2, 78, 0");
}

TEST_F(ProbesTest, FileThatOpensWithoutUsableVersionReadsAsOneZeroOne) {
    sim::put_version_file(kRumbleFile, std::nullopt);
    EXPECT_EQ(rumble_version(), "1.0.1");
    sim::put_version_file(kRumbleFile, "1.2.78", "040904B0");
    EXPECT_EQ(rumble_version(), "1.0.1");
    sim::put_version_file_blocks(kRumbleFile, {{"040904E4", {{"ProductVersion", "1.2.78"}}}});
    EXPECT_EQ(rumble_version(), "1.0.1");
    EXPECT_EQ(sim::count_calls("CreateFileA"), 3);
}

// VerQueryValueA puts the ANSI copy of a text behind the resource at the distance that the
// root's own wLength gives: a resource whose root states a wrong length (damaged, or a file
// replaced by a longer one between the size query and the read) gets its copy placed at or past
// the end of the block the program allocated. Only the bytes within the block are read.
TEST_F(ProbesTest, DamagedResourceIsReadOnlyWithinTheBlock) {
    std::vector<uint8_t> resource =
        sim::version_resource({{"040904E4", {{"FileVersion", "1.2.78"}}}});
    const uint8_t wide_text[] = {'1', 0, '.', 0, '2', 0, '.', 0, '7', 0, '8', 0};
    size_t text_at =
        std::search(resource.begin(), resource.end(), std::begin(wide_text), std::end(wide_text)) -
        resource.begin();
    ASSERT_LT(text_at, resource.size());
    // The block the program allocates: twice the resource and 4 bytes.
    const long block_end = static_cast<long>(resource.size() * 2 + 4);
    const struct {
        long copy_from_end; // where the copy starts, from the block's end
        const char* version;
    } cases[] = {
        {-1, "1"},       // the copy's first character is the block's last byte
        {0, "1.0.1"},    // the copy starts at the block's end: no text, the existence test decides
        {1, "1.0.1"},    // past the end
        {2000, "1.0.1"}, // far past it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.copy_from_end);
        std::vector<uint8_t> damaged = resource;
        long stated = block_end + c.copy_from_end - 4 - static_cast<long>(text_at);
        damaged[0] = static_cast<uint8_t>(stated & 0xFF);
        damaged[1] = static_cast<uint8_t>(stated >> 8);
        sim::put_version_file_resource(kRumbleFile, damaged);
        EXPECT_EQ(rumble_version(), c.version);
    }
}

TEST_F(ProbesTest, MissingOrUnreadableFileIsNotFoundAndLeavesTheBuffer) {
    EXPECT_EQ(rumble_version(), "missing");
    sim::put_version_file(kRumbleFile, "1.2.78");
    sim::hold_file(kRumbleFile, GENERIC_READ | GENERIC_WRITE, 0);
    EXPECT_EQ(rumble_version(), "missing");
}

// The existence test opens for reading and shares reading only: it joins another process that
// reads the file (as a loader does) but not one that writes it.
TEST_F(ProbesTest, ExistenceTestSharesReadingWithOtherProcessesButNotWriting) {
    sim::put_version_file(kRumbleFile, std::nullopt);
    sim::hold_file(kRumbleFile, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(rumble_version(), "1.0.1");
    sim::release_file_hold(kRumbleFile);
    sim::hold_file(kRumbleFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(rumble_version(), "missing");
}

TEST_F(ProbesTest, KernelFileIsLookedForUnderTheWindowsDirectoryWithOneSeparator) {
    sim::put_version_file(kKernelFile, "1.2.77");
    char out[kVersionRoom] = "";
    EXPECT_EQ(query_file_version(out, "system32\\drivers\\zelkqx7.sys", 0), 1);
    EXPECT_STREQ(out, "1.2.77");
    ASSERT_EQ(sim::count_calls("GetWindowsDirectoryA"), 1);
    EXPECT_EQ(sim::calls_of("GetWindowsDirectoryA")[0].args, "size=100");
    EXPECT_EQ(sim::calls_of("GetFileVersionInfoSizeA")[0].args, kKernelFile);
}

TEST_F(ProbesTest, VersionTextLongerThanTheBufferIsCutToFiftyOneCharacters) {
    std::string long_version = "1.2.78." + std::string(60, '9');
    sim::put_version_file(kRumbleFile, long_version);
    char out[kVersionRoom + 8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(query_file_version(out, "zelkqx7f.dll", 1), 1);
    EXPECT_EQ(std::string(out), long_version.substr(0, kVersionRoom - 1));
    EXPECT_EQ(out[kVersionRoom], 'x') << "written past the version buffer";
}

TEST_F(ProbesTest, DirectoryLeavingNoRoomForTheNameFindsNothing) {
    // 86 characters, the separator and the 12 of the name fill the 100 bytes exactly.
    std::string fits = "C:\\" + std::string(83, 'd');
    sim::set_system_directory(fits);
    sim::put_version_file(fits + "\\zelkqx7f.dll", "1.2.78");
    EXPECT_EQ(rumble_version(), "1.2.78");

    std::string too_long = fits + "e";
    sim::set_system_directory(too_long);
    sim::put_version_file(too_long + "\\zelkqx7f.dll", "1.2.78");
    EXPECT_EQ(rumble_version(), "missing");

    std::string longer_than_room = "C:\\" + std::string(120, 'd');
    sim::set_system_directory(longer_than_room);
    sim::put_version_file(longer_than_room + "\\zelkqx7f.dll", "1.2.78");
    EXPECT_EQ(rumble_version(), "missing");
    EXPECT_EQ(sim::count_calls("GetFileVersionInfoSizeA"), 1) << "only the fitting path is read";
}

TEST_F(ProbesTest, FailingCallsEndInTheExistenceTestOrNotFound) {
    sim::put_version_file(kRumbleFile, "1.2.78");
    for (const char* function :
         {"GetFileVersionInfoSizeA", "GlobalAlloc", "GetFileVersionInfoA", "VerQueryValueA"}) {
        sim::fail_call(function, 1);
        EXPECT_EQ(rumble_version(), "1.0.1") << function;
    }
    sim::fail_call("GetSystemDirectoryA", 1);
    EXPECT_EQ(rumble_version(), "missing");
    sim::fail_calls_from("GetFileVersionInfoSizeA", 1);
    sim::fail_call("CreateFileA", 1);
    EXPECT_EQ(rumble_version(), "missing");
}

TEST_F(ProbesTest, EveryFailingCallLeavesNothingOpen) {
    sim::put_version_file(kRumbleFile, "1.2.78");
    sim::set_control_device(std::vector<uint8_t>{1, 2, 0x4E, 0});
    sim::add_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
    auto probe_all = [] {
        char out[kVersionRoom] = "";
        query_file_version(out, "zelkqx7f.dll", 1);
        query_loaded_driver_version(out);
        memory_pack_component_present();
    };
    long before = sim::failable_call_count();
    probe_all();
    long calls = sim::failable_call_count() - before;
    ASSERT_GT(calls, 5);

    // Every call of a clean run fails in turn, once and from then on.
    for (bool persistent : {false, true}) {
        for (long k = 1; k <= calls; ++k) {
            sim::fail_global_call(k, persistent);
            probe_all();
            sim::clear_failures();
            EXPECT_EQ(sim::open_summary(), "") << (persistent ? "from call " : "call ") << k;
        }
    }
}

TEST_F(ProbesTest, LoadedDriverReplyReadsAsThreeUnsignedNumbers) {
    sim::set_control_device(std::vector<uint8_t>{0x01, 0x02, 0x4E, 0x00});
    EXPECT_EQ(loaded_version(), "1.2.78");
    sim::set_control_device(std::vector<uint8_t>{0x00, 0x00, 0xFF, 0xFF});
    EXPECT_EQ(loaded_version(), "0.0.65535");
    sim::set_control_device(std::vector<uint8_t>{0xFF, 0x80, 0x00, 0x01});
    EXPECT_EQ(loaded_version(), "255.128.256");
    ASSERT_EQ(sim::count_calls("DeviceIoControl"), 3);
    EXPECT_EQ(sim::calls_of("DeviceIoControl")[0].args,
              "\\\\.\\Zelk_QX7 code=0xb98c2044 in=0 out=4");
    EXPECT_EQ(sim::calls_of("CreateFileA")[0].args,
              "\\\\.\\Zelk_QX7 access=0xc0000000 share=0x3 disposition=3");
}

TEST_F(ProbesTest, LoadedDriverIsEmptyWhenAbsentAndUnansweredWhenItsReplyIsWrong) {
    EXPECT_EQ(loaded_version(), "");
    sim::set_control_device(std::vector<uint8_t>{0x01, 0x02});
    EXPECT_EQ(loaded_version(), "?.?.?");
    sim::set_control_device(std::vector<uint8_t>{});
    EXPECT_EQ(loaded_version(), "?.?.?");
    sim::set_control_device(std::nullopt);
    EXPECT_EQ(loaded_version(), "?.?.?");
    EXPECT_EQ(sim::count_calls("CloseHandle"), 3);
}

TEST_F(ProbesTest, MemoryPackComponentIsItsClassKeyAndKeysCloseInnerFirst) {
    EXPECT_EQ(memory_pack_component_present(), 0);
    sim::add_registry_key(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(memory_pack_component_present(), 0);
    sim::add_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
    sim::clear_log();
    EXPECT_EQ(memory_pack_component_present(), 1);
    auto closes = sim::calls_of("RegCloseKey");
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].args, std::string("HKCR\\") + kMemoryPackKey);
    EXPECT_EQ(closes[1].args, "HKCR\\CLSID");
    sim::deny_registry_key(HKEY_CLASSES_ROOT, kMemoryPackKey);
    EXPECT_EQ(memory_pack_component_present(), 0);
}

} // namespace
