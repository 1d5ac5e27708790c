// Window event dispatch and repaint: synthetic events sent through the X
// server to the program's real window, read back by grax_switchloop into a
// recording engine; the repaint is checked on the window's pixels.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "standalone/grax.h"
#include "RecordingEngine.h"
#include "SendEvents.h"
#include "support/XWindow.h"

#include <X11/keysym.h>

namespace {

using hosttest::RecordingEngine;

class GraxDispatch : public ::testing::Test {
protected:
    RecordingEngine engine;
    void SetUp() override {
        testx::xwindow();
        host_engine(&engine);
        drain();
        engine.clear();
    }
    // Runs the dispatcher until the queue is worked off; counts the passes
    // that found an event.
    int drain() {
        XSync(dis, False);
        int n = 0;
        while (XPending(dis) && n < 100) {
            grax_switchloop();
            n++;
            XSync(dis, False);
        }
        return n;
    }
    void sendKey(KeySym sym, unsigned int state) {
        hosttest::sendKey(dis, win, sym, state);
        XSync(dis, False);
    }
    void sendButton(int type, unsigned int button, int x, int y, long mask) {
        hosttest::sendButton(dis, win, type, button, x, y, mask);
        XSync(dis, False);
    }
    // One pass of the dispatcher with exactly one event queued.
    void dispatchOne() {
        ASSERT_GT(XPending(dis), 0);
        grax_switchloop();
    }
};

TEST_F(GraxDispatch, CtrlSSavesToOutputTexte) {
    sendKey(XK_s, ControlMask);
    dispatchOne();
    ASSERT_EQ(engine.saves.size(), 1u);
    EXPECT_EQ(engine.saves[0], "output.texte");
    EXPECT_TRUE(engine.keys.empty());
}

TEST_F(GraxDispatch, KeysReachTheEngineAsTheLowByteOfTheFirstSymbol) {
    sendKey(XK_s, 0);                     // 's' alone is a key, not a save
    dispatchOne();
    sendKey(XK_d, ControlMask);           // Control with another key
    dispatchOne();
    sendKey(XK_a, ShiftMask);             // Shift does not change the symbol
    dispatchOne();
    sendKey(XK_s, ShiftMask | LockMask);  // nor does Caps Lock; no Control, no save
    dispatchOne();
    sendKey(XK_Return, 0);
    dispatchOne();
    sendKey(XK_BackSpace, ControlMask);
    dispatchOne();
    sendKey(XK_7, 0);
    dispatchOne();
    std::vector<unsigned char> want = {'s', 'd', 'a', 's', 13, 8, '7'};
    EXPECT_EQ(engine.keys, want);
    EXPECT_TRUE(engine.saves.empty());
}

TEST_F(GraxDispatch, EveryButtonPressGivesOneMousePressAtItsPosition) {
    sendButton(ButtonPress, Button1, 123, 45, ButtonPressMask);
    sendButton(ButtonPress, Button3, 0, 499, ButtonPressMask);
    sendButton(ButtonPress, Button5, 250, 7, ButtonPressMask);  // wheel
    EXPECT_EQ(drain(), 3);
    ASSERT_EQ(engine.points.size(), 3u);
    EXPECT_EQ(engine.points[0].x, 123); EXPECT_EQ(engine.points[0].y, 45);
    EXPECT_EQ(engine.points[1].x, 0);   EXPECT_EQ(engine.points[1].y, 499);
    EXPECT_EQ(engine.points[2].x, 250); EXPECT_EQ(engine.points[2].y, 7);
    EXPECT_EQ(engine.calls.size(), 3u);
}

TEST_F(GraxDispatch, ReleasesAndUnselectedEventsAreNotTaken) {
    // Sent with no mask, a release goes to the window's creator anyway; the
    // dispatcher must leave it alone.
    sendButton(ButtonRelease, Button1, 10, 10, 0);
    XSync(dis, False);
    ASSERT_GT(XPending(dis), 0);
    grax_switchloop();
    EXPECT_TRUE(engine.calls.empty());
    // Clear it out so later tests start with an empty queue.
    XEvent e;
    while (XCheckTypedEvent(dis, ButtonRelease, &e)) {}
}

TEST_F(GraxDispatch, OneEventPerPass) {
    sendKey(XK_q, 0);
    sendKey(XK_w, 0);
    grax_switchloop();
    EXPECT_EQ(engine.keys.size(), 1u);
    grax_switchloop();
    EXPECT_EQ(engine.keys.size(), 2u);
    grax_switchloop();  // nothing queued: returns without a call
    EXPECT_EQ(engine.calls.size(), 2u);
}

TEST_F(GraxDispatch, ExposeRepaintsWithTheCaptionDrawnLastInWhite) {
    testx::clear(0x000000);
    engine.paintPixel = 0x00ff00;
    XClearArea(dis, win, 0, 0, 0, 0, True);  // a real Expose from the server
    XSync(dis, False);
    EXPECT_GE(drain(), 1);
    ASSERT_GE(engine.paints.size(), 1u);
    EXPECT_EQ(engine.paints[0].context, 0u);
    EXPECT_EQ(engine.paints[0].width, 500u);
    EXPECT_EQ(engine.paints[0].height, 500u);
    // The engine painted everything green; the caption over it is white, and
    // nothing else is left in its box.
    testx::Grab g(0, 0, 120, 20);
    int white = 0, other = 0;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 120; x++) {
            unsigned long p = g.at(x, y);
            if (p == 0xffffff) white++;
            else if (p != 0x00ff00) other++;
        }
    EXPECT_GT(white, 20);
    EXPECT_EQ(other, 0);
    // White only where the text stands: from x = 10 and above the baseline
    // at y = 10 (descenders reach a few rows below it).
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 10; x++) ASSERT_NE(g.at(x, y), 0xffffffUL) << x << "," << y;
    EXPECT_EQ(testx::pixel(250, 250), 0x00ff00u);
    EXPECT_EQ(testx::pixel(499, 499), 0x00ff00u);
}

TEST_F(GraxDispatch, RepaintUsesTheWindowSizeOfThatMoment) {
    XResizeWindow(dis, win, 320, 200);
    XSync(dis, False);
    grax_repaint();
    ASSERT_EQ(engine.paints.size(), 1u);
    EXPECT_EQ(engine.paints[0].width, 320u);
    EXPECT_EQ(engine.paints[0].height, 200u);
    XResizeWindow(dis, win, 500, 500);
    XSync(dis, False);
    drain();
}

}  // namespace
