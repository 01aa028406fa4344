// INF copy cleanup: the CurrentVersion directory values read and expanded, the path formed from
// the instance's "InfPath" value, the provider token looked for in the file's first 480 bytes,
// and every failing call leaving the file where it is and nothing open.
#include "tests/install/machine.h"
#include "tests/sim_test.h"

#include "install/install.h"

namespace {

using namespace inf_machine;

const char kInstanceId[] = "USB\\VID_0E1C&PID_0001\\5&1&0&3";
const char kDriverKey[] = "{36fc9e60-c465-11cf-8056-444553540000}\\0007";
const char kInfCopy[] = "C:\\WINDOWS\\inf\\oem5.inf";
const char kOtherCopy[] = "C:\\Drivers\\oem5.inf";
const char kToken[] = "Provider=%Zelk%";

class InfCopyCleanupTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        set_inf_directory("DevicePath", kInfDirectory);
        set_inf_directory("OtherDevicePath", "C:\\Drivers");
        sim::add_instance_with_driver_key(sim::root_node(), kInstanceId, kDriverKey, "oem5.inf");
    }
    // An INF whose token starts at byte offset, within content of total bytes.
    static std::string inf_with_token_at(size_t offset, size_t total = 600) {
        std::string content(total, ';');
        content.replace(offset, sizeof kToken - 1, kToken);
        return content;
    }
    // Runs the cleanup for the instance, opened in a set of its own as the walker opens it.
    static void clean(const char* value_name) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, kInstanceId, nullptr, 0, &data));
        delete_provider_inf_copy(set, &data, value_name);
        SetupDiDestroyDeviceInfoList(set);
    }
    static std::string read_value(const char* value_name, int* result, int size = 200) {
        char buffer[200];
        *result = read_current_version_value(buffer, size, value_name);
        return *result ? std::string(buffer) : std::string();
    }
};

TEST_F(InfCopyCleanupTest, CopyCarryingTheTokenIsDeleted) {
    sim::put_file(kInfCopy, kMakerInfHead);
    clean("DevicePath");
    EXPECT_FALSE(sim::file_exists(kInfCopy));
}

TEST_F(InfCopyCleanupTest, TokenMatchesAnywhereButOnlyExactly) {
    const std::pair<const char*, bool> cases[] = {
        {"; Provider=%Zelk%s own comment\r\n", true},
        {"[Strings]\r\nX=1 Provider=%Zelk% Y\r\n", true},
        {"Provider = %Zelk%\r\n", false},
        {"provider=%zelk%\r\n", false},
        {"Provider=%Zelk\r\n", false},
        {"Provider=%Zelk", false},
    };
    for (const auto& [content, deleted] : cases) {
        sim::put_file(kInfCopy, content);
        clean("DevicePath");
        EXPECT_EQ(!sim::file_exists(kInfCopy), deleted) << content;
    }
}

TEST_F(InfCopyCleanupTest, OnlyTheFirst480BytesOfTheFirst512AreExamined) {
    sim::put_file(kInfCopy, inf_with_token_at(465));
    clean("DevicePath");
    EXPECT_FALSE(sim::file_exists(kInfCopy));

    sim::put_file(kInfCopy, inf_with_token_at(466));
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));
    auto reads = sim::calls_of("ReadFile");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_NE(reads[1].args.find("to_read=512"), std::string::npos) << reads[1].args;
}

TEST_F(InfCopyCleanupTest, ZeroByteBeforeTheTokenEndsTheSearchSoUtf16NeverMatches) {
    std::string wide;
    for (char ch : std::string("[Version]\r\nProvider=%Zelk%\r\n"))
        wide += std::string(1, ch) + '\0';
    sim::put_file(kInfCopy, "\xFF\xFE" + wide);
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));

    sim::put_file(kInfCopy, std::string("x\0", 2) + kToken);
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));
}

TEST_F(InfCopyCleanupTest, EachDirectoryValueIsLookedInOnItsOwn) {
    sim::put_file(kOtherCopy, kToken);
    clean("DevicePath");
    clean("OtherDevicePath");
    EXPECT_FALSE(sim::file_exists(kOtherCopy));

    sim::put_file(kInfCopy, kToken);
    sim::put_file(kOtherCopy, kToken);
    clean("DevicePath");
    clean("OtherDevicePath");
    EXPECT_FALSE(sim::file_exists(kInfCopy));
    EXPECT_FALSE(sim::file_exists(kOtherCopy));
}

TEST_F(InfCopyCleanupTest, ExpandableDirectoryIsExpandedAndPlainTextIsNot) {
    sim::set_environment("InfRoot", "C:\\WINDOWS");
    set_inf_directory("DevicePath", "%InfRoot%\\inf", REG_EXPAND_SZ);
    sim::put_file(kInfCopy, kToken);
    clean("DevicePath");
    EXPECT_FALSE(sim::file_exists(kInfCopy));

    set_inf_directory("DevicePath", "%InfRoot%\\inf", REG_SZ);
    sim::put_file(kInfCopy, kToken);
    int result = 0;
    EXPECT_EQ(read_value("DevicePath", &result), "%InfRoot%\\inf");
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));
}

TEST_F(InfCopyCleanupTest, ValueListingSeveralDirectoriesIsOneNameAndFindsNothing) {
    set_inf_directory("DevicePath", "C:\\WINDOWS\\inf;C:\\Drivers");
    sim::put_file(kInfCopy, kToken);
    sim::put_file(kOtherCopy, kToken);
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));
    EXPECT_TRUE(sim::file_exists(kOtherCopy));
    auto opens = sim::calls_of("CreateFileA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args.rfind("C:\\WINDOWS\\inf;C:\\Drivers\\oem5.inf ", 0), 0u);
}

TEST_F(InfCopyCleanupTest, EmptyFileMissingFileMissingInfPathOrDriverKeyLeaveAllAsItWas) {
    sim::put_file(kInfCopy, "");
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));

    sim::remove_file(kInfCopy);
    clean("DevicePath"); // nothing to open

    sim::put_file(kInfCopy, kToken);
    sim::delete_registry_value(HKEY_LOCAL_MACHINE, sim::driver_registry_path(kDriverKey),
                               "InfPath");
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));

    sim::node(sim::find_node(kInstanceId))->driver_key.reset();
    clean("DevicePath");
    EXPECT_TRUE(sim::file_exists(kInfCopy));
    EXPECT_EQ(sim::count_calls("DeleteFileA"), 0);
}

TEST_F(InfCopyCleanupTest, InfPathStoredWithoutTerminatorIsReadAsTerminatedText) {
    set_inf_path(kDriverKey, "oem5.inf", false);
    sim::put_file(kInfCopy, kToken);
    clean("DevicePath");
    EXPECT_FALSE(sim::file_exists(kInfCopy));
}

TEST_F(InfCopyCleanupTest, InfPathFillingTheRoomLeftWithoutTerminatorOrEmptyIsNotUsed) {
    // "C:\WINDOWS\inf\" takes 15 of the 200 bytes and leaves 185 for the name.
    std::string fits(184, 'n'), fills(185, 'n');
    set_inf_path(kDriverKey, fits, false);
    clean("DevicePath");
    ASSERT_EQ(sim::count_calls("CreateFileA"), 1);
    EXPECT_EQ(sim::calls_of("CreateFileA")[0].args.rfind("C:\\WINDOWS\\inf\\" + fits + " ", 0), 0u);

    set_inf_path(kDriverKey, fills, false);
    clean("DevicePath");
    set_inf_path(kDriverKey, fills, true);
    clean("DevicePath");
    set_inf_path(kDriverKey, "");
    clean("DevicePath");
    EXPECT_EQ(sim::count_calls("CreateFileA"), 1);
}

TEST_F(InfCopyCleanupTest, DirectoryLeavingNoRoomForTheSeparatorIsRefused) {
    set_inf_directory("DevicePath", "C:\\" + std::string(196, 'd')); // 199 characters
    clean("DevicePath");
    set_inf_directory("DevicePath", "C:\\" + std::string(197, 'd')); // does not fit at all
    clean("DevicePath");
    EXPECT_EQ(sim::count_calls("SetupDiOpenDevRegKey"), 0);
    EXPECT_EQ(sim::count_calls("CreateFileA"), 0);
}

TEST_F(InfCopyCleanupTest, ReadsPlainExpandedAndUnterminatedValues) {
    int result = 0;
    EXPECT_EQ(read_value("DevicePath", &result), "C:\\WINDOWS\\inf");
    EXPECT_EQ(result, 1);

    set_inf_directory("DevicePath", "C:\\INF", REG_SZ, false);
    EXPECT_EQ(read_value("DevicePath", &result), "C:\\INF");

    set_inf_directory("DevicePath", "%SystemRoot%\\inf", REG_EXPAND_SZ, false);
    EXPECT_EQ(read_value("DevicePath", &result), "C:\\WINDOWS\\inf");
}

TEST_F(InfCopyCleanupTest, EmptyMissingOrOverlongValuesAndFailedExpansionsReadAsNothing) {
    int result = 1;
    set_inf_directory("DevicePath", "");
    read_value("DevicePath", &result);
    EXPECT_EQ(result, 0);

    read_value("NoSuchValue", &result);
    EXPECT_EQ(result, 0);

    set_inf_directory("DevicePath", std::string(200, 'x')); // the terminator does not fit
    read_value("DevicePath", &result);
    EXPECT_EQ(result, 0);

    set_inf_directory("DevicePath", std::string(200, 'x'), REG_SZ, false); // fills the room
    read_value("DevicePath", &result);
    EXPECT_EQ(result, 0);

    set_inf_directory("DevicePath", "%SystemRoot%\\inf", REG_EXPAND_SZ);
    sim::fail_call("ExpandEnvironmentStringsA", 1);
    read_value("DevicePath", &result);
    EXPECT_EQ(result, 0);

    sim::set_environment("Long", std::string(190, 'L'));
    set_inf_directory("DevicePath", "%Long%\\inf", REG_EXPAND_SZ); // expands to 194 of a room of 60
    read_value("DevicePath", &result, 60);
    EXPECT_EQ(result, 0);
}

TEST_F(InfCopyCleanupTest, KeysAreOpenedOneLevelAtATimeAndClosedInnermostFirst) {
    int result = 0;
    read_value("DevicePath", &result);
    auto opens = sim::calls_of("RegOpenKeyExA");
    ASSERT_EQ(opens.size(), 4u);
    EXPECT_NE(opens[0].args.find("\\Software options=0 access=0x20019"), std::string::npos)
        << opens[0].args;
    EXPECT_NE(opens[3].args.find("\\CurrentVersion options=0"), std::string::npos);
    auto closes = sim::calls_of("RegCloseKey");
    ASSERT_EQ(closes.size(), 4u);
    EXPECT_NE(closes[0].args.find("CurrentVersion"), std::string::npos) << closes[0].args;

    for (int k = 1; k <= 4; ++k) {
        sim::clear_failures();
        sim::fail_call("RegOpenKeyExA", k);
        read_value("DevicePath", &result);
        EXPECT_EQ(result, 0) << k;
        EXPECT_EQ(sim::open_summary(), "") << k;
    }
}

TEST_F(InfCopyCleanupTest, EveryFailingCallLeavesTheFileAndNothingOpen) {
    sim::put_file(kInfCopy, kToken);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInfoA(set, kInstanceId, nullptr, 0, &data));
    long before = sim::failable_call_count();
    delete_provider_inf_copy(set, &data, "DevicePath");
    long calls = sim::failable_call_count() - before;
    ASSERT_FALSE(sim::file_exists(kInfCopy));

    for (long k = 1; k <= calls; ++k) {
        sim::put_file(kInfCopy, kToken);
        sim::clear_failures();
        size_t first = sim::calls().size();
        sim::fail_global_call(k, false);
        delete_provider_inf_copy(set, &data, "DevicePath");
        std::string failed;
        for (size_t i = first; i < sim::calls().size(); ++i)
            if (sim::calls()[i].failed)
                failed = sim::calls()[i].function;
        // Every call that can fail leads up to the deletion: its failure keeps the copy.
        EXPECT_NE(failed, "");
        EXPECT_TRUE(sim::file_exists(kInfCopy)) << failed;
        EXPECT_EQ(sim::open_count(sim::Resource::RegistryKey), 0) << failed;
        EXPECT_EQ(sim::open_count(sim::Resource::Handle), 0) << failed;
    }
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace
