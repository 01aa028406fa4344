// The simulated registry answers as Windows does: missing keys and values, the size a value
// needs, strings stored without their terminator, and keys counted until closed.
#include <cstring>

#include "simwin/internal.h"
#include "tests/sim_test.h"

namespace {

using RegistryTest = SimTest;

const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

TEST_F(RegistryTest, MissingKeyIsFileNotFoundAndLeavesNoKeyOpen) {
    sim::add_registry_key(HKEY_LOCAL_MACHINE, "Software\\Microsoft");
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\\\Microsoft", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(sim::open_count(sim::Resource::RegistryKey), 0);
}

TEST_F(RegistryTest, KeysOpenStepByStepWithoutRegardToCaseAndCountUntilClosed) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, kCurrentVersion, "DevicePath", "C:\\INF");
    HKEY software = nullptr, microsoft = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(software, "microsoft\\windows", 0, KEY_READ, &microsoft),
              ERROR_SUCCESS);
    EXPECT_EQ(sim::open_count(sim::Resource::RegistryKey), 2);
    EXPECT_EQ(RegCloseKey(microsoft), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(software), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(software), ERROR_INVALID_HANDLE); // closed twice
    EXPECT_EQ(sim::count_calls("RegCloseKey"), 3);
}

TEST_F(RegistryTest, QueryTellsTheSizeItNeedsWhenTheRoomIsTooSmall) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, kCurrentVersion, "DevicePath", "C:\\INF");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "devicepath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    char room[8];
    std::memset(room, 'x', sizeof room);
    size = 6;
    EXPECT_EQ(
        RegQueryValueExA(key, "DevicePath", nullptr, &type, reinterpret_cast<BYTE*>(room), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    size = 7;
    EXPECT_EQ(
        RegQueryValueExA(key, "DevicePath", nullptr, nullptr, reinterpret_cast<BYTE*>(room), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(room, "C:\\INF");
    EXPECT_EQ(
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(room), &size),
        ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

// Windows terminates such a string when the room has a byte to spare, and answers the stored
// size either way.
TEST_F(RegistryTest, StringStoredWithoutTerminatorIsTerminatedOnlyWhenRoomIsLeft) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, "Drv", "InfPath", "oem3.inf", REG_SZ, false);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Drv", 0, KEY_READ, &key), ERROR_SUCCESS);
    char room[12];
    std::memset(room, 'x', sizeof room);
    DWORD size = sizeof room;
    EXPECT_EQ(
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(room), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::string(room, sizeof room), std::string("oem3.inf\0xxx", 12));
    std::memset(room, 'x', sizeof room);
    size = 8;
    EXPECT_EQ(
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(room), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(room, sizeof room), "oem3.infxxxx");
    RegCloseKey(key);
}

TEST_F(RegistryTest, DeniedDeletedAndFailingKeysAnswerWithTheirErrors) {
    sim::add_registry_key(HKEY_CLASSES_ROOT, "CLSID\\{X}");
    sim::deny_registry_key(HKEY_CLASSES_ROOT, "CLSID\\{X}");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{X}", 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);

    sim::set_registry_string(HKEY_LOCAL_MACHINE, "Gone", "V", "1");
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Gone", 0, KEY_READ, &key), ERROR_SUCCESS);
    sim::delete_registry_key(HKEY_LOCAL_MACHINE, "Gone");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(key);

    sim::fail_call("RegOpenKeyExA", 1);
    key = reinterpret_cast<HKEY>(1);
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, DriverKeyOpenedForTheSetupApiIsReadAndClosedLikeAnyKey) {
    sim::set_registry_string(HKEY_LOCAL_MACHINE, sim::driver_registry_path("{GUID}\\0003"),
                             "InfPath", "oem7.inf");
    HKEY key = nullptr;
    EXPECT_EQ(sim::detail::open_registry_key(
                  HKEY_LOCAL_MACHINE, sim::driver_registry_path("{guid}\\0004"), KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(sim::detail::open_registry_key(
                  HKEY_LOCAL_MACHINE, sim::driver_registry_path("{guid}\\0003"), KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(sim::open_count(sim::Resource::RegistryKey), 1);
    char room[20] = {};
    DWORD size = sizeof room;
    EXPECT_EQ(
        RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(room), &size),
        ERROR_SUCCESS);
    EXPECT_STREQ(room, "oem7.inf");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(sim::count_calls("RegOpenKeyExA"), 0);
}

} // namespace
