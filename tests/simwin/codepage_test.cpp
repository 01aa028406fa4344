// The simulated ANSI code page (Windows-1252): the conversions both ways, the default character
// for what the code page lacks, and the size answers and failures that Windows gives.
#include <string>

#include "tests/sim_test.h"

namespace {

using CodepageTest = SimTest;

std::string to_ansi(const std::u16string& wide, BOOL* used_default = nullptr) {
    char out[64] = {};
    int n =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out, sizeof out, nullptr, used_default);
    EXPECT_GT(n, 0);
    return std::string(out);
}

TEST_F(CodepageTest, Windows1252CharactersConvertToTheirOwnBytes) {
    BOOL used_default = TRUE;
    EXPECT_EQ(to_ansi(u"A:\u00E9\u00FF\u20AC\u2122\u0178", &used_default),
              "A:\xE9\xFF\x80\x99\x9F");
    EXPECT_FALSE(used_default);
}

TEST_F(CodepageTest, ACharacterOutsideWindows1252BecomesAQuestionMark) {
    BOOL used_default = FALSE;
    // A letter it lacks, a CJK character, and one character written as a surrogate pair.
    EXPECT_EQ(to_ansi(u"a\u0100b\u4E2Dc\U0001F600d", &used_default), "a?b?c?d");
    EXPECT_TRUE(used_default);
}

TEST_F(CodepageTest, SizeQueriesCountTheTerminatorAndTooSmallABufferFails) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"HCD0", -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"HCD0", 4, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "HCD0", -1, nullptr, 0), 5);
    char out[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"HCD0", -1, out, sizeof out, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "HCD0", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(CodepageTest, BytesConvertBackToTheirCharacters) {
    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80\xE9\x81z", -1, wide, 8), 5);
    EXPECT_EQ(std::u16string(wide), u"\u20AC\u00E9\u0081z");
    EXPECT_EQ(to_ansi(wide), "\x80\xE9\x81z");
}

} // namespace
