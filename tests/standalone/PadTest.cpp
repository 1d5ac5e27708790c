// Game controllers through real SDL virtual pads (no kernel device needed):
// hand-worked report edges, plugging and unplugging, no allocation per unit.
#include <gtest/gtest.h>

#include "standalone/pad.h"

#include <array>
#include <utility>
#include <vector>

#if QUORVANEL_PADS
#include <SDL.h>
#endif

namespace {

using Report = std::array<signed char, 8>;

#if QUORVANEL_PADS
// SDL's allocations while `run` runs, counted through SDL's allocator hooks.
SDL_malloc_func realMalloc;
SDL_calloc_func realCalloc;
SDL_realloc_func realRealloc;
SDL_free_func realFree;
int allocations = 0;
template <class F> int allocationsOf(F run) {
    SDL_GetMemoryFunctions(&realMalloc, &realCalloc, &realRealloc, &realFree);
    SDL_SetMemoryFunctions([](size_t n) { allocations++; return realMalloc(n); },
                           [](size_t n, size_t s) { allocations++; return realCalloc(n, s); },
                           [](void* p, size_t n) { allocations++; return realRealloc(p, n); }, realFree);
    allocations = 0;
    run();
    SDL_SetMemoryFunctions(realMalloc, realCalloc, realRealloc, realFree);
    return allocations;
}

TEST(RenderPad, ReportsMatchTheHandWorkedBytes) {
    open_pad(false);
    Report got;
    EXPECT_FALSE(pad_report(got.data())) << "no pad before the script's first pad line";
    pad_set_virtual(kPadA, 0);
    EXPECT_TRUE(pad_report(got.data()));
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
        for (auto [c, v] : settings) pad_set_virtual(c, v);
        EXPECT_TRUE(pad_report(got.data()));
        EXPECT_EQ(got, want) << pad_control_names[settings[0].first] << " " << settings[0].second;
        for (auto [c, v] : settings) pad_set_virtual(c, 0);
    }
    EXPECT_EQ(allocationsOf([&] {
        for (int i = 0; i < 100; i++) pad_set_virtual(kPadLeftX, i), pad_report(got.data());
    }), 0);
    pad_close();
}

// The test's pads are SDL virtual game controllers, which the module sees
// like any pad on the machine.
SDL_Joystick* plug(const char* name, Sint16 leftx) {
    SDL_VirtualJoystickDesc desc = {};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = 6, desc.nbuttons = 4, desc.name = name;
    SDL_Joystick* j = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
    SDL_JoystickSetVirtualAxis(j, 0, leftx);
    return j;
}
void unplug(SDL_Joystick* j) {
    for (int i = 0; i < SDL_NumJoysticks(); i++)
        if (SDL_JoystickGetDeviceInstanceID(i) == SDL_JoystickInstanceID(j)) SDL_JoystickDetachVirtual(i);
    SDL_JoystickClose(j);
}

// Looks cost a driver poll, so they come every kPadScanUnits units: a pad
// plugged in right after start is found by the 43rd unit's look, not by an
// earlier one and not one later.
TEST(PlugPad, APadPluggedAfterStartIsFoundAtExactlyThe43rdUnit) {
    open_pad(true);
    if (SDL_NumJoysticks() > 0) {
        pad_close();
        GTEST_SKIP() << "a pad is plugged into this machine";
    }
    testing::internal::CaptureStderr();
    SDL_Joystick* pad = plug("late pad", 0);
    int units = 1;
    signed char out[8];
    while (!pad_report(out) && units < 100) units++;
    EXPECT_EQ(units, 43);
    unplug(pad);
    pad_report(out);
    testing::internal::GetCapturedStderr();
    pad_close();
}

TEST(PlugPad, FirstPadPlaysTheNextTakesOverAndEachChangeIsOneLine) {
    open_pad(true);
    if (SDL_NumJoysticks() > 0) {
        pad_close();
        GTEST_SKIP() << "a pad is plugged into this machine";
    }
    testing::internal::CaptureStderr();
    signed char out[8];
    EXPECT_EQ(allocationsOf([&] {
        for (int i = 0; i < 2 * kPadScanUnits; i++) EXPECT_FALSE(pad_report(out));
    }), 0) << "looking for pads allocates nothing";
    SDL_Joystick* first = plug("first pad", 32767);
    SDL_Joystick* second = plug("second pad", -32768);
    int units = 1;
    while (!pad_report(out) && units <= kPadScanUnits) units++;
    EXPECT_LE(units, kPadScanUnits) << "a plugged pad is found within one look";
    EXPECT_EQ(out[0], 127) << "the first pad plays";
    EXPECT_EQ(allocationsOf([&] { for (int i = 0; i < 100; i++) pad_report(out); }), 0);
    unplug(first);
    EXPECT_TRUE(pad_report(out));
    EXPECT_EQ(out[0], -127) << "the second pad takes over in the same unit";
    unplug(second);
    EXPECT_FALSE(pad_report(out)) << "no pad: no report";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "quorvanel: game controller \"first pad\" connected\n"
              "quorvanel: game controller \"first pad\" disconnected\n"
              "quorvanel: game controller \"second pad\" connected\n"
              "quorvanel: game controller \"second pad\" disconnected\n");
    pad_close();
}
#endif

}  // namespace
