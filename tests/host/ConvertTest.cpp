#include "host/pcm.h"

#include <gtest/gtest.h>

namespace {

void convertPair(int l, int r, unsigned char* out) {
    pcm_convert(l, out);
    pcm_convert(r, out + 2);
}

TEST(PcmConvert, WorkedValues) {
    unsigned char b[4];
    convertPair(0, 0, b);
    EXPECT_EQ(b[0], 0x00); EXPECT_EQ(b[1], 0x00); EXPECT_EQ(b[2], 0x00); EXPECT_EQ(b[3], 0x00);
    convertPair(16, -16, b);
    EXPECT_EQ(b[0], 0x01); EXPECT_EQ(b[1], 0x00); EXPECT_EQ(b[2], 0xFF); EXPECT_EQ(b[3], 0xFF);
    // 16 × 32767: the high byte is held at 126 while the low byte follows.
    pcm_convert(524272, b);
    EXPECT_EQ(b[0], 0xFF); EXPECT_EQ(b[1], 0x7E);
    pcm_convert(2097152, b);
    EXPECT_EQ(b[0], 0x00); EXPECT_EQ(b[1], 0x7E);
    pcm_convert(-2097152, b);
    EXPECT_EQ(b[0], 0x00); EXPECT_EQ(b[1], 0x82);
}

}  // namespace
