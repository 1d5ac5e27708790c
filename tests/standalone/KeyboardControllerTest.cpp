// The keyboard's controller keys: what a held key makes unit by unit, how
// two keys of one axis and a pad share it, that auto-repeat presses nothing
// again, and that the window hands these keys to the controller, never to
// the engine.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "RecordingEngine.h"
#include "SendEvents.h"
#include "hostkit/KeyboardController.h"
#include "standalone/PlayerControllers.h"
#include "standalone/grax.h"
#include "support/XWindow.h"

#include <X11/keysym.h>

#include <string>
#include <vector>

namespace {

// One unit: the keys pressed (+) and released (-) before it, then the
// report's bytes 0, 1, 2, 3, 4 and 7 as the merge takes them.
struct Step {
    std::vector<long> keys;  // KeySym, negative for a release
    int axes[5];
    int buttons;
};

std::string run(KeyboardController& k, ReportMerge& merge, const std::vector<Step>& steps) {
    std::string out;
    for (size_t i = 0; i < steps.size(); i++) {
        for (long s : steps[i].keys) s > 0 ? k.press(static_cast<unsigned long>(s)) : k.release(static_cast<unsigned long>(-s));
        k.unit(merge, 1);
        signed char r[8];
        merge.take(r);
        std::string got, want;
        for (int a = 0; a < 5; a++) {
            got += std::to_string(r[a]) + " ";
            want += std::to_string(steps[i].axes[a]) + " ";
        }
        got += std::to_string(r[7] & 0xff);
        want += std::to_string(steps[i].buttons);
        if (got != want) out += "unit " + std::to_string(i) + ": " + got + " want " + want + "\n";
    }
    return out;
}

TEST(KeyboardController, HeldKeysRampAndReleasedOnesSpringBack) {
    KeyboardController k;
    ReportMerge merge;
    EXPECT_FALSE(k.plays());
    EXPECT_FALSE(k.press(XK_a)) << "a command key is not the controller's";
    const std::vector<Step> steps = {
        {{XK_Right}, {8, 0, 0, 0, 0}, 0},
        {{}, {16, 0, 0, 0, 0}, 0},
        {{XK_Right, XK_Right}, {24, 0, 0, 0, 0}, 0},          // auto-repeat: the ramp goes on
        {{XK_Left}, {-8, 0, 0, 0, 0}, 0},                     // the last pressed of a pair pushes
        {{XK_Right}, {-16, 0, 0, 0, 0}, 0},                   // held Right repeats: Left goes on pushing
        {{-XK_Left}, {8, 0, 0, 0, 0}, 0},                     // the other, still held, from 0
        {{-XK_Right, XK_Up, XK_Next, XK_F6}, {0, 8, 0, -8, 2}, 0},
        {{XK_F1, -XK_F1, XK_F3}, {0, 16, 0, -16, 4}, 0x01 | 0x10},  // a tap inside a unit still presses
        {{XK_F3, XK_End, XK_F5}, {0, 24, 8, -24, -2}, 0x10},       // F3 repeats: held, no new press
        {{-XK_F3, -XK_Up, -XK_Next, -XK_End, -XK_F5, XK_Home, XK_Prior, XK_F4, XK_F2}, {0, 0, -8, 8, 2}, 0x04 | 0x40},  // F6 held: it pushes again, from 0
    };
    EXPECT_EQ(run(k, merge, steps), "");
    EXPECT_TRUE(k.plays());
    // Full deflection: 127 after 16 units of a stick, 64 of a trigger.
    KeyboardController full;
    ReportMerge m;
    full.press(XK_Down);
    full.press(XK_F6);
    signed char r[8];
    for (int u = 0; u < 64; u++) {
        full.unit(m, 1);
        m.take(r);
        if (u == 15) {
            EXPECT_EQ(r[1], -127);
        }
    }
    EXPECT_EQ(r[1], -127);
    EXPECT_EQ(r[4], 127);
}

// A pad that moves an axis takes it over from a held key, until the key's
// ramp moves it again; buttons come from either.
TEST(KeyboardController, MergesWithAPadAxisByAxis) {
    KeyboardController k;
    ReportMerge merge;
    const signed char pad[8] = {0, 50, 0, 0, 0, 0, 0, 0x04};
    merge.report(0, pad);
    k.press(XK_Right);
    k.press(XK_Up);
    k.unit(merge, 1);
    signed char r[8];
    merge.take(r);
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], 8) << "the key moved axis 1 after the pad";
    EXPECT_EQ(r[7], 0x04);
    const signed char moved[8] = {0, 60, 0, 0, 0, 0, 0, 0};
    merge.report(0, moved);
    merge.take(r);
    EXPECT_EQ(r[1], 60);
    EXPECT_EQ(r[7], 0);
}

class KeyboardWindow : public ::testing::Test {
protected:
    hosttest::RecordingEngine engine;
    void SetUp() override {
        testx::xwindow();
        host_engine(&engine);
        drain();
        engine.clear();
    }
    void TearDown() override {
        for (unsigned long s : {XK_F1, XK_Right}) host_controllers.keys.release(s);
    }
    void drain() {
        XSync(dis, False);
        while (XPending(dis)) grax_switchloop();
    }
    void send(int type, KeySym sym, Time t) {
        hosttest::sendKey(dis, win, sym, 0, type, t);
        XSync(dis, False);
    }
    int buttons() {
        signed char r[8];
        EXPECT_TRUE(host_controllers.unitReport(r));
        return r[7] & 0xff;
    }
};

// Where the server cannot tell auto-repeat, a held F1 comes as a release
// and a press with the same time between the real press and release: each
// event in a unit of its own, the button must read held throughout (a 0
// between would be a second press to the engine).
TEST_F(KeyboardWindow, RepeatsAreNoPressesAndTheKeysNeverReachTheEngine) {
    send(KeyPress, XK_F1, 100);
    send(KeyRelease, XK_F1, 130);
    send(KeyPress, XK_F1, 130);
    send(KeyPress, XK_F1, 160);  // a server that tells repeats: a press alone
    send(KeyRelease, XK_F1, 190);
    std::vector<int> seen;
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(grax_switchloop());
        seen.push_back(buttons());
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 1, 1, 1, 0}));
    send(KeyPress, XK_Right, 200);
    send(KeyPress, XK_Home, 200);
    send(KeyRelease, XK_Home, 210);
    send(KeyPress, XK_q, 220);
    drain();
    EXPECT_EQ(engine.keys, std::vector<unsigned char>{'q'}) << "only the command key reaches the engine";
}

}  // namespace
