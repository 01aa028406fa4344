// The node queries against the simulated hub driver: the two-call ActualLength protocol, its
// edge cases, replies that end without a terminator, and the release of every block on every
// path (the fixture checks that nothing stays open).
#include <string>

#include "tests/sim_test.h"
#include "usb/port_table.h"

namespace {

// Opens a device of the simulated USB stack by name as the scan does, and closes it when done.
class OpenDevice {
  public:
    explicit OpenDevice(const std::string& name)
        : handle_(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr)) {}
    ~OpenDevice() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    HANDLE get() const {
        return handle_;
    }

  private:
    HANDLE handle_;
};

// Takes a query result, releases it, and gives its text (or nothing for null).
std::optional<std::string> take(char* result) {
    if (!result)
        return std::nullopt;
    std::string text = result;
    GlobalFree(result);
    return text;
}

std::string controller_key(const sim::UsbController& hc) {
    return *sim::node(hc.node)->driver_key;
}

// The sizes of each DeviceIoControl call, "in=6 out=6", in order.
std::vector<std::string> ioctl_sizes() {
    std::vector<std::string> sizes;
    for (const sim::Call& call : sim::calls_of("DeviceIoControl"))
        sizes.push_back(call.args.substr(call.args.find("in=")));
    return sizes;
}

class UsbNodeQueryTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        hc = &sim::add_controller(0);
        root = &hc->root_hub(4);
        adapter = &root->add_adapter(2);
        hub = &root->add_hub(3, 2);
    }
    sim::UsbController* hc = nullptr;
    sim::UsbHub* root = nullptr;
    sim::UsbDevice* adapter = nullptr;
    sim::UsbHub* hub = nullptr;
};

TEST_F(UsbNodeQueryTest, EachQueryAnswersWithTheModelsStringInTwoCalls) {
    OpenDevice controller("\\\\.\\HCD0");
    OpenDevice root_hub("\\\\.\\" + root->name);

    EXPECT_EQ(take(get_hcd_driver_key(controller.get())), controller_key(*hc));
    EXPECT_EQ(take(get_root_hub_name(controller.get())), root->name);
    EXPECT_EQ(take(get_connection_driver_key(root_hub.get(), 2)), *adapter->reported_driver_key());
    EXPECT_EQ(take(get_connection_hub_name(root_hub.get(), 3)), hub->name);

    // The key "{36FC9E60-C465-11CF-8056-444553540000}\0000" has 43 characters: 4 + 88 bytes.
    ASSERT_EQ(controller_key(*hc).size(), 43u);
    std::vector<std::string> sizes = ioctl_sizes();
    ASSERT_EQ(sizes.size(), 8u);
    EXPECT_EQ(sizes[0], "in=6 out=6");
    EXPECT_EQ(sizes[1], "in=92 out=92");
    EXPECT_EQ(sizes[2], "in=0 out=6"); // the root hub name takes no input
    EXPECT_EQ(sizes[4], "in=10 out=10");
    EXPECT_EQ(sizes[5], "in=96 out=96");
}

TEST_F(UsbNodeQueryTest, ActualLengthAtTheFixedPartYieldsNullWithoutASecondCall) {
    OpenDevice controller("\\\\.\\HCD0");
    OpenDevice root_hub("\\\\.\\" + root->name);
    hc->driver_key.actual_length = 6;
    hc->root_hub_name.actual_length = 6;
    adapter->driver_key.actual_length = 10;

    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
    EXPECT_EQ(get_root_hub_name(controller.get()), nullptr);
    EXPECT_EQ(get_connection_driver_key(root_hub.get(), 2), nullptr);
    // A port whose device is no hub answers with the fixed part alone.
    EXPECT_EQ(get_connection_hub_name(root_hub.get(), 2), nullptr);
    EXPECT_EQ(sim::count_calls("DeviceIoControl"), 4);
}

TEST_F(UsbNodeQueryTest, ActualLengthOneAboveTheFixedPartLeadsToASecondCallOfExactlyThatSize) {
    OpenDevice root_hub("\\\\.\\" + root->name);
    adapter->driver_key.actual_length = 11;

    // 11 bytes leave no room for the key: the driver returns the fixed part, an empty string.
    EXPECT_EQ(take(get_connection_driver_key(root_hub.get(), 2)), "");
    EXPECT_EQ(ioctl_sizes(), (std::vector<std::string>{"in=10 out=10", "in=11 out=11"}));
}

TEST_F(UsbNodeQueryTest, AFailingFirstCallYieldsNullWithoutASecondCall) {
    OpenDevice controller("\\\\.\\HCD0");
    OpenDevice root_hub("\\\\.\\" + root->name);
    hc->driver_key.fails = true;
    hc->root_hub_name.fails = true;
    adapter->driver_key.fails = true;
    root->device(3).hub_name.fails = true;

    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
    EXPECT_EQ(get_root_hub_name(controller.get()), nullptr);
    EXPECT_EQ(get_connection_driver_key(root_hub.get(), 2), nullptr);
    EXPECT_EQ(get_connection_hub_name(root_hub.get(), 3), nullptr);
    EXPECT_EQ(sim::count_calls("DeviceIoControl"), 4);
    EXPECT_EQ(sim::count_calls("GlobalAlloc"), 0);
}

TEST_F(UsbNodeQueryTest, AFailingSecondCallYieldsNullAndReleasesTheBlock) {
    OpenDevice controller("\\\\.\\HCD0");
    OpenDevice root_hub("\\\\.\\" + root->name);
    sim::fail_calls_from("DeviceIoControl", 2);
    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
    sim::clear_failures();
    sim::fail_call("DeviceIoControl", 2);
    EXPECT_EQ(get_root_hub_name(controller.get()), nullptr);
    sim::clear_failures();
    sim::fail_call("DeviceIoControl", 2);
    EXPECT_EQ(get_connection_driver_key(root_hub.get(), 2), nullptr);
    sim::clear_failures();
    sim::fail_call("DeviceIoControl", 2);
    EXPECT_EQ(get_connection_hub_name(root_hub.get(), 3), nullptr);
    EXPECT_EQ(sim::count_calls("GlobalAlloc"), 4);
    EXPECT_EQ(sim::count_calls("GlobalFree"), 4);
}

TEST_F(UsbNodeQueryTest, AFailingConversionYieldsNullAndReleasesEveryBlock) {
    OpenDevice controller("\\\\.\\HCD0");
    // The size query fails, then the conversion itself.
    sim::fail_call("WideCharToMultiByte", 1);
    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
    sim::clear_failures();
    sim::fail_call("WideCharToMultiByte", 2);
    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
}

TEST_F(UsbNodeQueryTest, AnExhaustedHeapAtEitherAllocationYieldsNull) {
    OpenDevice root_hub("\\\\.\\" + root->name);
    // The first allocation holds the reply, the second the converted text.
    for (int k = 1; k <= 2; ++k) {
        sim::clear_failures();
        sim::fail_call("GlobalAlloc", k);
        EXPECT_EQ(get_connection_driver_key(root_hub.get(), 2), nullptr) << "allocation " << k;
        sim::clear_failures();
        sim::fail_call("GlobalAlloc", k);
        EXPECT_EQ(get_connection_hub_name(root_hub.get(), 3), nullptr) << "allocation " << k;
    }
    sim::clear_failures();
    EXPECT_EQ(take(get_connection_hub_name(root_hub.get(), 3)), hub->name);
}

TEST_F(UsbNodeQueryTest, AReplyWithoutTerminatorIsReadOnlyToTheEndOfItsBlock) {
    OpenDevice controller("\\\\.\\HCD0");
    OpenDevice root_hub("\\\\.\\" + root->name);
    hc->driver_key.unterminated = true;
    adapter->driver_key.unterminated = true;

    EXPECT_EQ(take(get_hcd_driver_key(controller.get())), controller_key(*hc));
    EXPECT_EQ(take(get_connection_driver_key(root_hub.get(), 2)), *adapter->reported_driver_key());
    EXPECT_EQ(ioctl_sizes()[1], "in=90 out=90"); // 4 + 43 characters, no NUL
}

TEST_F(UsbNodeQueryTest, AnOddSizedReplyConvertsOnlyItsWholeCharacters) {
    OpenDevice root_hub("\\\\.\\" + root->name);
    adapter->driver_key.text = "KE";
    adapter->driver_key.unterminated = true;
    adapter->driver_key.actual_length = 13; // 8 + 2 characters + one stray byte
    EXPECT_EQ(take(get_connection_driver_key(root_hub.get(), 2)), "KE");
}

TEST_F(UsbNodeQueryTest, AnOversizedActualLengthIsAllocatedAndItsFailureYieldsNull) {
    OpenDevice controller("\\\\.\\HCD0");
    hc->driver_key.actual_length = 0x10000;
    EXPECT_EQ(take(get_hcd_driver_key(controller.get())), controller_key(*hc));

    // The heap refuses a block of nearly 4 GiB.
    hc->driver_key.actual_length = 0xFFFFFFF0u;
    sim::clear_log();
    EXPECT_EQ(get_hcd_driver_key(controller.get()), nullptr);
    ASSERT_EQ(sim::calls_of("GlobalAlloc").size(), 1u);
    EXPECT_EQ(sim::calls_of("GlobalAlloc")[0].args, "flags=0x40 bytes=4294967280");
    EXPECT_EQ(sim::count_calls("DeviceIoControl"), 1);
}

TEST_F(UsbNodeQueryTest, ACharacterOutsideTheAnsiCodePageBecomesAQuestionMark) {
    OpenDevice root_hub("\\\\.\\" + root->name);
    adapter->driver_key.wide = u"Key\u0100\u20AC\u00E9";
    char* key = get_connection_driver_key(root_hub.get(), 2);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key, "Key?\x80\xE9");
    GlobalFree(key);
}

TEST_F(UsbNodeQueryTest, WideToAnsiConvertsATerminatedString) {
    EXPECT_EQ(take(wide_to_ansi(u"A2 \u00FC")), "A2 \xFC");
    EXPECT_EQ(take(wide_to_ansi(u"")), "");
}

} // namespace
