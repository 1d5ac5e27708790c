// The patch word stream: how a file's bytes become words and numbers.
#include "engine/PatchWords.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> allWords(const std::string& text) {
    PatchWords w;
    w.open(text.data(), text.size());
    std::vector<std::string> out;
    while (const char* word = w.next()) out.push_back(word);
    return out;
}

using Words = std::vector<std::string>;

TEST(PatchWords, SplitsAtBlanksAndLineEndsAndPassesOverComments) {
    EXPECT_EQ(allWords("chubby 0\n barre\r\n  atrest\r"),
              (Words{"chubby", "0", "barre", "atrest"}));
    EXPECT_EQ(allWords("a\tb c"), (Words{"a", "b", "c"}));
    EXPECT_EQ(allWords("# a note\r\nchubby 0 # no note\n\t#one\r"), (Words{"chubby", "0", "#", "no", "note"}));
    EXPECT_EQ(allWords("   \r\n\n  "), Words{});
    EXPECT_EQ(allWords(""), Words{});
}

TEST(PatchWords, NulBytesEndWordsAndNeverEndTheStream) {
    std::string text("ab\0cd\0\0 ef", 10);
    EXPECT_EQ(allWords(text), (Words{"ab", "cd", "ef"}));
    EXPECT_EQ(allWords(std::string("\0", 1)), Words{});
}

TEST(PatchWords, LastWordWithoutSeparatorIsTerminated) {
    // The final word runs to the end of the file; its terminator is the
    // stream's own, not a byte beyond the copied data.
    EXPECT_EQ(allWords("rat 255"), (Words{"rat", "255"}));
}

TEST(PatchWords, EndOfStreamStaysEnded) {
    PatchWords w;
    const char text[] = "one";
    w.open(text, 3);
    EXPECT_STREQ(w.next(), "one");
    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.next(), nullptr);
    w.skip(5);
    EXPECT_EQ(w.next(), nullptr);
}

TEST(PatchWords, NumberLeavesTargetAloneAtEndOfStream) {
    PatchWords w;
    const char text[] = "12 -7";
    w.open(text, 5);
    int v = 99;
    EXPECT_TRUE(w.number(v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(w.number(v));
    EXPECT_EQ(v, -7);
    EXPECT_FALSE(w.number(v));
    EXPECT_EQ(v, -7);
}

TEST(PatchWords, SkipPassesOverWordsByPositionOnly) {
    PatchWords w;
    std::string text = "rat 0 = 3 / 5 next";
    w.open(text.data(), text.size());
    EXPECT_STREQ(w.next(), "rat");
    w.skip(2);
    int n = 0, d = 0;
    EXPECT_TRUE(w.number(n));
    w.skip(1);
    EXPECT_TRUE(w.number(d));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(d, 5);
    EXPECT_STREQ(w.next(), "next");
}

TEST(PatchWords, NumbersReadTheLeadingDecimalAndIgnoreTheRest) {
    EXPECT_EQ(PatchWords::toInt("42"), 42);
    EXPECT_EQ(PatchWords::toInt("-42"), -42);
    EXPECT_EQ(PatchWords::toInt("+42"), 42);
    EXPECT_EQ(PatchWords::toInt("42abc"), 42);
    EXPECT_EQ(PatchWords::toInt("7/3"), 7);
    EXPECT_EQ(PatchWords::toInt("abc"), 0);
    EXPECT_EQ(PatchWords::toInt("="), 0);
    EXPECT_EQ(PatchWords::toInt("-"), 0);
    EXPECT_EQ(PatchWords::toInt("+-3"), 0);
    EXPECT_EQ(PatchWords::toInt(""), 0);
    EXPECT_EQ(PatchWords::toInt("\t5"), 0);  // a tab is part of the word
    EXPECT_EQ(PatchWords::toInt("007"), 7);
}

TEST(PatchWords, NumbersBeyondIntRangeAreClamped) {
    EXPECT_EQ(PatchWords::toInt("2147483647"), INT_MAX);
    EXPECT_EQ(PatchWords::toInt("2147483648"), INT_MAX);
    EXPECT_EQ(PatchWords::toInt("-2147483648"), INT_MIN);
    EXPECT_EQ(PatchWords::toInt("-2147483649"), INT_MIN);
    EXPECT_EQ(PatchWords::toInt("99999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(PatchWords::toInt("-99999999999999999999999999999999"), INT_MIN);
    EXPECT_EQ(PatchWords::toInt("4294967297"), INT_MAX);  // no wrap to 1
}

TEST(PatchWords, VeryLongWordsAreOneWordAndStayInside) {
    std::string digits(100000, '9');
    std::string text = "x " + digits + " " + std::string(70000, 'k') + " y";
    PatchWords w;
    w.open(text.data(), text.size());
    EXPECT_STREQ(w.next(), "x");
    int v = 0;
    EXPECT_TRUE(w.number(v));
    EXPECT_EQ(v, INT_MAX);
    const char* k = w.next();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(strlen(k), 70000u);
    EXPECT_STREQ(w.next(), "y");
    EXPECT_EQ(w.next(), nullptr);
}

TEST(PatchWords, KeywordTestComparesOnlyTheLeadingCount) {
    EXPECT_TRUE(PatchWords::is("kingals", "kingal", 5));
    EXPECT_TRUE(PatchWords::is("kinga", "kingal", 5));
    EXPECT_TRUE(PatchWords::is("kingXYZ", "kingals", 4));
    EXPECT_FALSE(PatchWords::is("king", "kingal", 5));  // too short
    EXPECT_TRUE(PatchWords::is("ratatouille", "rat", 3));
    EXPECT_FALSE(PatchWords::is("ra", "rat", 3));
    EXPECT_FALSE(PatchWords::is("Rat", "rat", 3));   // case matters
    EXPECT_TRUE(PatchWords::is("queenals", "queenal", 5));
    EXPECT_TRUE(PatchWords::is("queen", "queenal", 5));
    EXPECT_TRUE(PatchWords::is("royalminister", "royalmi", 7));
    EXPECT_FALSE(PatchWords::is("royalfmoutarde", "royalmi", 7));
    EXPECT_TRUE(PatchWords::is("strittonx", "stritton", 8));
    EXPECT_FALSE(PatchWords::is("strittle", "stritton", 8));
    EXPECT_FALSE(PatchWords::is(nullptr, "chubby", 6));
}

TEST(PatchWords, StreamCanBeReopenedAndClosed) {
    PatchWords s;
    const char a[] = "first";
    s.open(a, 5);
    EXPECT_STREQ(s.next(), "first");
    const char b[] = "second third";
    s.open(b, 12);
    EXPECT_STREQ(s.next(), "second");
    s.close();
    EXPECT_EQ(s.next(), nullptr);
}

}  // namespace
