// The AdapterList: classification of the bound driver by its description, the bounded table and
// label, and the order of the exchange sort.
#include "tests/devices/machine.h"

namespace {

class DevicesAdapterListTest : public DevicesTest {
  protected:
    DriverKind kind_for(const std::optional<std::string>& description) {
        return classify_driver(sim::add_node(sim::root_node(), "", std::nullopt, description));
    }
    void put(int plugged, const char* label, DriverKind kind = NoDriver) {
        ASSERT_TRUE(append_adapter_entry(plugged, label, kind));
    }
};

TEST_F(DevicesAdapterListTest, DescriptionDecidesTheDriverKind) {
    EXPECT_EQ(kind_for("Quorvale (rumble driver)"), Rumble);
    EXPECT_EQ(kind_for("Quorvale ("), Rumble);
    EXPECT_EQ(kind_for("Quorvale"), NoDriver);
    EXPECT_EQ(kind_for("Quorvale(rumble)"), Generic);
    EXPECT_EQ(kind_for("quorvale (rumble)"), Generic);
    EXPECT_EQ(kind_for("Quorvale "), Generic);
    EXPECT_EQ(kind_for("USB Input Device"), Generic);
    EXPECT_EQ(kind_for(""), Generic);
}

TEST_F(DevicesAdapterListTest, NoNodeNoDescriptionOrAFailedReadGiveNoDriver) {
    EXPECT_EQ(classify_driver(0), NoDriver);
    EXPECT_EQ(kind_for(std::nullopt), NoDriver);
    EXPECT_EQ(kind_for(std::string(600, 'Q')), NoDriver); // longer than the property buffer

    DEVINST node = sim::add_node(sim::root_node(), "", std::nullopt, "Quorvale (rumble)");
    sim::fail_call("CM_Get_DevNode_Registry_PropertyA", 1);
    EXPECT_EQ(classify_driver(node), NoDriver);
    EXPECT_EQ(classify_driver(node), Rumble);
}

TEST_F(DevicesAdapterListTest, DescriptionFillingThePropertyBufferStillFits) {
    EXPECT_EQ(kind_for("Quorvale (" + std::string(501, 'x')), Rumble); // 511 and the terminator
    EXPECT_EQ(kind_for("Quorvale (" + std::string(502, 'x')), NoDriver);
}

// The registry may hold a description without its terminator; it reads the same, as long as
// the terminator the program adds still fits the property buffer.
TEST_F(DevicesAdapterListTest, DescriptionStoredWithoutTerminatorReadsTheSame) {
    auto unterminated_kind = [](const std::string& description) {
        DEVINST node = sim::add_node(sim::root_node(), "", std::nullopt, description);
        sim::node(node)->unterminated = true;
        return classify_driver(node);
    };
    EXPECT_EQ(unterminated_kind("Quorvale (rumble)"), Rumble);
    EXPECT_EQ(unterminated_kind("Quorvale"), NoDriver);
    EXPECT_EQ(unterminated_kind("USB Input Device"), Generic);
    EXPECT_EQ(unterminated_kind("Quorvale (" + std::string(501, 'x')), Rumble);
    EXPECT_EQ(unterminated_kind("Quorvale (" + std::string(502, 'x')), NoDriver);
}

TEST_F(DevicesAdapterListTest, ListKeepsThirtyEntriesAndDropsTheRest) {
    for (int i = 0; i < kAdapterListRoom; ++i)
        EXPECT_TRUE(append_adapter_entry(0, "*1", Generic));
    EXPECT_FALSE(append_adapter_entry(1, "A2", Rumble));
    EXPECT_EQ(adapter_list.count, kAdapterListRoom);
    EXPECT_STREQ(adapter_list.entries[kAdapterListRoom - 1].label, "*1");
}

TEST_F(DevicesAdapterListTest, LabelOfMoreThanElevenCharactersIsRefused) {
    EXPECT_TRUE(append_adapter_entry(0, "*1234567890", Generic));
    EXPECT_FALSE(append_adapter_entry(0, "*12345678901", Generic));
    EXPECT_EQ(listed(), "*1234567890 configured generic");
}

TEST_F(DevicesAdapterListTest, SortOrdersByLengthThenByteValue) {
    put(1, "A12");
    put(1, "B1");
    put(0, "*3");
    put(1, "A2");

    sort_adapter_list();

    EXPECT_EQ(listed(), "*3 configured no, A2 plugged no, B1 plugged no, A12 plugged no");
}

TEST_F(DevicesAdapterListTest, SortIsNotStableForEqualLabels) {
    put(0, "*3", Rumble);
    put(0, "*3", Generic);
    put(0, "*2", NoDriver);

    sort_adapter_list();

    EXPECT_EQ(listed(), "*2 configured no, *3 configured generic, *3 configured rumble");
}

TEST_F(DevicesAdapterListTest, SortComparesBytesUnsigned) {
    put(0, "A\xE9");
    put(1, "A2");

    sort_adapter_list();

    EXPECT_EQ(listed(), "A2 plugged no, A\xE9 configured no");
}

TEST_F(DevicesAdapterListTest, SortLeavesEmptyAndSingleEntryListsAlone) {
    sort_adapter_list();
    EXPECT_EQ(adapter_list.count, 0);
    put(1, "B1", Rumble);
    sort_adapter_list();
    EXPECT_EQ(listed(), "B1 plugged rumble");
}

} // namespace
