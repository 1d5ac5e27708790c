// The renderer's event script: what each kind of line becomes, and that a
// bad line is refused with its line number before anything is rendered.
#include "engine/EventScript.h"

#include <gtest/gtest.h>

namespace {

using Kind = EventScript::Kind;

TEST(RenderScript, ReadsEveryEventKind) {
    EventScript s;
    ASSERT_TRUE(s.parse("# a comment line\n"
                        "\n"
                        "0 report 100 0 0 0 0 0 0 0\n"
                        "  10\treport -128 255 128 -1 127 0 1 2   # trailing comment\r\n"
                        "10 key 3\n"
                        "11 key q\n"
                        "12 key 13\n"
                        "13 key 008\n"
                        "14 key 032\n"
                        "15 key 255\n"
                        "20 save out.texte\n"
                        "21 midi 9F 3c 7f\n"))  // either case; written back in lower case
        << s.message();
    ASSERT_EQ(s.events.size(), 10u);
    EXPECT_EQ(EventScript::format(s.events[9]), "21 midi 9f 3c 7f");

    const auto& r0 = s.events[0];
    EXPECT_EQ(r0.kind, Kind::Report);
    EXPECT_EQ(r0.frame, 0);
    EXPECT_EQ(r0.line, 3);
    EXPECT_EQ(r0.bytes[0], 100);
    EXPECT_EQ(r0.bytes[7], 0);

    // 128..255 are the bytes of -128..-1.
    const auto& r1 = s.events[1];
    EXPECT_EQ(r1.frame, 10);
    const int want[8] = {-128, -1, -128, -1, 127, 0, 1, 2};
    for (int k = 0; k < 8; k++) EXPECT_EQ(r1.bytes[k], want[k]) << k;

    const unsigned char keys[] = {'3', 'q', 13, 8, 32, 255};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(s.events[2 + i].kind, Kind::Key);
        EXPECT_EQ(s.events[2 + i].key, keys[i]) << i;
    }
    EXPECT_EQ(s.events[8].kind, Kind::Save);
    EXPECT_EQ(s.events[8].path, "out.texte");
    EXPECT_EQ(s.events[8].line, 11);
}

TEST(RenderScript, SingleDigitIsTheKeyItselfNotACode) {
    EventScript s;
    ASSERT_TRUE(s.parse("0 key 0\n0 key 9\n0 key /\n0 key 00\n"));
    EXPECT_EQ(s.events[0].key, '0');
    EXPECT_EQ(s.events[1].key, '9');
    EXPECT_EQ(s.events[2].key, '/');
    EXPECT_EQ(s.events[3].key, 0);
}

TEST(RenderScript, EqualFramesKeepFileOrderAndEmptyScriptIsFine) {
    EventScript s;
    ASSERT_TRUE(s.parse("5 key a\n5 key b\n5 key c"));  // no final line feed
    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].key, 'a');
    EXPECT_EQ(s.events[2].key, 'c');
    ASSERT_TRUE(s.parse(""));
    EXPECT_TRUE(s.events.empty());
    ASSERT_TRUE(s.parse("# only comments\n\n   \n"));
    EXPECT_TRUE(s.events.empty());
}

struct BadLine {
    std::string script;
    int line;
    const char* says;  // a piece of the message
};

TEST(RenderScript, MalformedLinesNameTheirLine) {
    const BadLine cases[] = {
        {"0 report 1 2 3 4 5 6 7\n", 1, "8 bytes"},
        {"0 report 1 2 3 4 5 6 7 8 9\n", 1, "8 bytes"},
        {"# c\n0 report 1 2 3 4 5 6 7 256\n", 2, "byte 7"},
        {"0 report 1 2 3 -129 5 6 7 8\n", 1, "byte 3"},
        {"0 report 1 2 x 4 5 6 7 8\n", 1, "byte 2"},
        {"0 key\n", 1, "key"},
        {"0 key 256\n", 1, "256"},
        {"0 key ab\n", 1, "ab"},
        {"0 key 1a\n", 1, "1a"},
        {"0 key a b\n", 1, "key"},
        {"0 save\n", 1, "save"},
        {"0 save a b\n", 1, "save"},
        {"0 jump\n", 1, "jump"},
        {"0\n", 1, "missing"},
        {"x key a\n", 1, "frame"},
        {"-1 key a\n", 1, "frame"},
        {"1.5 key a\n", 1, "frame"},
        {"99999999999999999999999 key a\n", 1, "frame"},
        {"10 key a\n\n9 key b\n", 3, "before"},
        {"0 Report 1 2 3 4 5 6 7 8\n", 1, "Report"},
        {"0 pad leftz 0\n", 1, "leftz"},
        {"0 pad leftx 32768\n", 1, "-32768..32767"},
        {"0 pad lefttrigger -1\n", 1, "0..32767"},
        {"0 pad a 2\n", 1, "0 or 1"},
        {"0 pad righty\n", 1, "pad takes"},
        {"0 click 5\n", 1, "click"},
        {"0 click 0 32768\n", 1, "-32768..32767"},
        {"0 size 0 500\n", 1, "1..65535"},
        {"0 expose 1\n", 1, "expose"},
        {"|chubby 0\n", 1, "before the 'bank' line"},
        {"bank a\n0 key a\n|chubby 0\n", 3, "after the first event"},
        {"0 key a\nbank a\n", 2, "after the first event"},
        {"bank a\nbank b\n", 2, "second"},
        {"bank a b\n", 1, "one name"},
        {std::string("0 key a\n5 save out\0x\n", 22), 2, "NUL"},
        {"0 midi\n", 1, "1..3 bytes"},
        {"0 midi 90 3c\n", 1, "takes 3 bytes, found 2"},
        {"0 midi f8 00\n", 1, "takes 1 bytes, found 2"},
        {"0 midi 3c 40\n", 1, "data byte '3c'"},
        {"0 midi b0 80 00\n", 1, "data byte 2 '80'"},
        {"0 midi 9 3c 40\n", 1, "byte 1 '9'"},
        {"0 midi 090 3c 40\n", 1, "byte 1 '090'"},
        {"0 midi f0 7e f7\n", 1, "no whole message"},
    };
    for (const BadLine& c : cases) {
        EventScript s;
        EXPECT_FALSE(s.parse(c.script)) << c.script;
        EXPECT_EQ(s.errorLine, c.line) << c.script;
        EXPECT_NE(s.message().find("line " + std::to_string(c.line) + ": "), std::string::npos) << s.message();
        EXPECT_NE(s.message().find(c.says), std::string::npos) << c.script << " -> " << s.message();
    }
}

TEST(RenderScript, UnreadableFileIsAnError) {
    EventScript s;
    EXPECT_FALSE(s.load("/nonexistent/dir/script.txt"));
    EXPECT_EQ(s.errorLine, 0);
    EXPECT_NE(s.message().find("cannot read /nonexistent/dir/script.txt"), std::string::npos);
}

}  // namespace
