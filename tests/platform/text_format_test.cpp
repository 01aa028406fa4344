// The program's own bounded formatter: the conversions it knows, and its edges: a text that
// needs one byte less than the room, exactly the room and one byte more, a room of 0 and 1, a
// destination without terminator, and a conversion it does not know. Guard bytes after the room
// prove that nothing is written past it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace {

const int kGuard = 8;
const char kGuardByte = '#';

// A destination of `room` bytes holding `start`, followed by guard bytes.
struct GuardedText {
    char bytes[64 + kGuard];
    int room;
    GuardedText(int room_bytes, const char* start) : room(room_bytes) {
        memset(bytes, kGuardByte, sizeof bytes);
        if (room > 0)
            text_copy(bytes, room, start);
    }
    bool guard_intact() const {
        for (int i = room; i < room + kGuard; ++i)
            if (bytes[i] != kGuardByte)
                return false;
        return true;
    }
};

TEST(TextFormat, WritesTextsSignedAndUnsignedNumbersAndPercentAfterTheText) {
    char out[128] = "At ";
    EXPECT_EQ(text_append_format(out, sizeof out, "%s|%d|%d|%d|%d|%u|%u|%u|100%%", "HCD", 0, -1,
                                 INT_MIN, INT_MAX, 0u, 78u, UINT_MAX),
              1);
    EXPECT_STREQ(out, "At HCD|0|-1|-2147483648|2147483647|0|78|4294967295|100%");
}

// "ab" then a format whose output needs 7 bytes with its terminator: "ab" + "-12:x" + NUL.
TEST(TextFormat, TextIsCutAtTheRoomAndAlwaysTerminated) {
    const std::string whole = "ab-12:x";
    for (int room : {7, 8, 9}) {
        GuardedText text(room, "ab");
        int fit = text_append_format(text.bytes, room, "%d:%s", -12, "x");
        int needed = static_cast<int>(whole.size()) + 1;
        EXPECT_EQ(fit, needed <= room ? 1 : 0) << room;
        EXPECT_EQ(std::string(text.bytes), whole.substr(0, static_cast<size_t>(room - 1))) << room;
        EXPECT_TRUE(text.guard_intact()) << room;
    }
    // Cut inside a number and inside a text.
    for (int room : {3, 4, 5, 6}) {
        GuardedText text(room, "ab");
        EXPECT_EQ(text_append_format(text.bytes, room, "%u%s", 4294967295u, "xyz"), 0) << room;
        EXPECT_EQ(std::string(text.bytes),
                  std::string("ab4294967295xyz").substr(0, static_cast<size_t>(room - 1)))
            << room;
        EXPECT_TRUE(text.guard_intact()) << room;
    }
}

TEST(TextFormat, RoomOfZeroOrOneAndUnterminatedTextWriteNothingBeyondTheRoom) {
    GuardedText none(0, "");
    EXPECT_EQ(text_append_format(none.bytes, 0, "%s", "x"), 0);
    EXPECT_EQ(none.bytes[0], kGuardByte);

    GuardedText one(1, "");
    EXPECT_EQ(text_append_format(one.bytes, 1, "%d", 5), 0);
    EXPECT_EQ(one.bytes[0], '\0');
    EXPECT_TRUE(one.guard_intact());
    EXPECT_EQ(text_append_format(one.bytes, 1, "%s", ""), 1);

    // A destination whose room holds no terminator is terminated at its last byte.
    GuardedText full(4, "");
    memset(full.bytes, 'z', 4);
    EXPECT_EQ(text_append_format(full.bytes, 4, "%s", "x"), 0);
    EXPECT_STREQ(full.bytes, "zzz");
    EXPECT_TRUE(full.guard_intact());
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
TEST(TextFormat, ConversionItDoesNotKnowEndsTheTextAndFails) {
    char out[32] = "";
    EXPECT_EQ(text_append_format(out, sizeof out, "a%xb", 255), 0);
    EXPECT_STREQ(out, "a");
    out[0] = '\0';
    EXPECT_EQ(text_append_format(out, sizeof out, "end%"), 0);
    EXPECT_STREQ(out, "end");
}
#pragma GCC diagnostic pop

} // namespace
