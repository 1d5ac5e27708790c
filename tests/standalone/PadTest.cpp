// Game controllers through real SDL virtual pads (no kernel device needed):
// plugging and unplugging, no allocation per unit. (The report arithmetic
// is the script pad's test, tests/core/engine/ScriptPadTest.cpp.)
#include <gtest/gtest.h>

#include "standalone/PlayerControllers.h"
#include "standalone/pad.h"

#if QUORVANEL_PADS
#include <SDL.h>
#endif

namespace {

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

// Each test starts with the pads looked for, on a machine with none of its own.
class PlugPad : public ::testing::Test {
protected:
    void SetUp() override {
        open_pad();
        if (SDL_NumJoysticks() > 0) {
            pad_close();
            GTEST_SKIP() << "a pad is plugged into this machine";
        }
    }
};

// Looks cost a driver poll, so they come every kPadScanUnits units: a pad
// plugged in right after start is found by the 43rd unit's look, not by an
// earlier one and not one later.
TEST_F(PlugPad, APadPluggedAfterStartIsFoundAtExactlyThe43rdUnit) {
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

TEST_F(PlugPad, FirstPadPlaysTheNextTakesOverAndEachChangeIsOneLine) {
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

// In the program a played script's pad plays ahead of the machine's pad
// from its first line on.
TEST_F(PlugPad, AScriptsPadPlaysAheadOfARealOne) {
    testing::internal::CaptureStderr();
    SDL_Joystick* real = plug("real pad", 32767);
    PlayerControllers controllers;
    signed char out[8];
    for (int u = 0; u <= kPadScanUnits && !controllers.unitReport(out); u++) {
    }
    EXPECT_EQ(out[0], 127) << "the real pad plays";
    controllers.padLine(kPadLeftX, -32768);
    EXPECT_TRUE(controllers.unitReport(out));
    EXPECT_EQ(out[0], -127) << "the script's pad took over";
    unplug(real);
    pad_close();
    testing::internal::GetCapturedStderr();
}
#endif

}  // namespace
