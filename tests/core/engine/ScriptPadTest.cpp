// A script's pad: plain state turned into reports by the pad arithmetic,
// checked at its hand-worked edges.
#include <gtest/gtest.h>

#include "engine/ScriptPad.h"

#include <array>
#include <utility>
#include <vector>

namespace {

using Report = std::array<signed char, 8>;

TEST(ScriptPad, ReportsMatchTheHandWorkedBytes) {
    ScriptPad pad;
    Report got;
    EXPECT_FALSE(pad.unitReport(got.data())) << "no pad before the script's first pad line";
    pad.padLine(kPadLeftX, 40000);
    EXPECT_FALSE(pad.plays()) << "a value out of range is no line";
    pad.padLine(kPadA, 0);
    EXPECT_TRUE(pad.unitReport(got.data()));
    EXPECT_EQ(got, Report{}) << "the script's pad starts at rest";

    std::vector<std::pair<std::vector<std::pair<int, int>>, Report>> rows;
    // Ends, dead-zone edges, and the first step out (4322: 226 * 127 / 28671
    // = 1); y axes count up as positive.
    const std::pair<int, int> stickEdges[] = {{-32768, -127}, {-4322, -1}, {-4321, 0}, {-4097, 0},
        {-4096, 0}, {4096, 0}, {4097, 0}, {4321, 0}, {4322, 1}, {32767, 127}};
    for (int c = kPadLeftX; c <= kPadRightY; c++)
        for (auto [value, level] : stickEdges) {
            Report want = {};
            want[c] = static_cast<signed char>(c == kPadLeftY || c == kPadRightY ? -level : level);
            rows.push_back({{{c, value}}, want});
        }
    // Byte 4 = (right - left) * 127 / 32767, truncated towards zero.
    const std::array<int, 3> triggers[] = {{32767, 0, -127}, {0, 32767, 127}, {32767, 32767, 0},
        {16384, 0, -63}, {0, 258, 0}, {0, 259, 1}, {259, 0, -1}, {259, 32767, 125}};
    for (auto [left, right, byte4] : triggers)
        rows.push_back({{{kPadLeftTrigger, left}, {kPadRightTrigger, right}},
                        {0, 0, 0, 0, static_cast<signed char>(byte4), 0, 0, 0}});
    const signed char buttonBits[] = {0x01, 0x04, 0x10, 0x40};  // A, B, X, Y alone
    for (int b = 0; b < 4; b++) rows.push_back({{{kPadA + b, 1}}, {0, 0, 0, 0, 0, 0, 0, buttonBits[b]}});
    rows.push_back({{{kPadLeftX, 32767}, {kPadLeftY, -32768}, {kPadRightX, -32768}, {kPadRightY, 32767},
                     {kPadRightTrigger, 32767}, {kPadA, 1}, {kPadB, 1}, {kPadX, 1}, {kPadY, 1}},
                    {127, 127, -127, -127, 127, 0, 0, 0x55}});
    for (auto& [settings, want] : rows) {
        for (auto [c, v] : settings) pad.padLine(c, v);
        EXPECT_TRUE(pad.unitReport(got.data()));
        EXPECT_EQ(got, want) << pad_control_names[settings[0].first] << " " << settings[0].second;
        for (auto [c, v] : settings) pad.padLine(c, 0);
    }
}

}  // namespace
