// The wait that ends each pass: how long it sleeps for the audio device,
// that window events (arriving or still queued) end it at once, and that
// events the dispatcher never takes cannot keep it from sleeping.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "standalone/grax.h"
#include "standalone/pcm.h"
#include "RecordingEngine.h"
#include "SendEvents.h"
#include "support/XWindow.h"

#include <X11/keysym.h>

#include <chrono>
#include <thread>

namespace {

using hosttest::RecordingEngine;
using Clock = std::chrono::steady_clock;

class HostWait : public ::testing::Test {
protected:
    RecordingEngine engine;
    unsigned int savedRate = rate;
    void SetUp() override {
        testx::xwindow();
        host_engine(&engine);
        rate = 22050;
        frames = 256;
        pcm_period = 0;
        XSync(dis, False);
        while (XPending(dis)) grax_switchloop();
        XEvent e;
        while (XCheckTypedEvent(dis, ButtonRelease, &e)) {}
        engine.clear();
    }
    void TearDown() override { rate = savedRate; }
    // Milliseconds one host_wait takes.
    double timedWait() {
        auto t0 = Clock::now();
        host_wait();
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    }
};

TEST_F(HostWait, SleepsUntilTheDeviceHasRoomForAUnit) {
    pcm_room = 0;  // a whole unit to go: 11.6 ms
    double ms = timedWait();
    EXPECT_GE(ms, 11.0);
    EXPECT_LT(ms, 60.0);
    pcm_room = 200;  // 56 frames to go: 2.5 ms
    ms = timedWait();
    EXPECT_GE(ms, 2.3);
    EXPECT_LT(ms, 11.0);
}

TEST_F(HostWait, WithPeriodsSleepsUntilThePeriodThatCompletesTheUnit) {
    // Room in periods of 113 frames, the last one seen just now. With 200
    // frames free the next period completes the unit: 5.1 ms on, then half
    // a ms more.
    pcm_period = 113;
    pcm_room = 200;
    pcm_room_grew_ns = pcm_clock_ns();
    double ms = timedWait();
    EXPECT_GE(ms, 5.5);
    EXPECT_LT(ms, 11.0);
    // None free: the third period would be 15.4 ms on, but no wait is
    // longer than a unit.
    pcm_room = 0;
    pcm_room_grew_ns = pcm_clock_ns();
    ms = timedWait();
    pcm_period = 0;
    EXPECT_GE(ms, 11.5);
    EXPECT_LT(ms, 15.0);
}

TEST_F(HostWait, DoesNotSleepWhenWorkIsWaiting) {
    pcm_room = 1024;  // the device has room now
    EXPECT_LT(timedWait(), 2.0);
    pcm_room = -32;   // a failed query counts as room: the next pass writes
    EXPECT_LT(timedWait(), 2.0);
    // A key already in Xlib's queue: the next pass must take it.
    pcm_room = 0;
    hosttest::sendKey(dis, win, XK_k, 0);
    XSync(dis, False);
    EXPECT_LT(timedWait(), 2.0);
    EXPECT_TRUE(grax_switchloop());
    EXPECT_EQ(engine.keys, std::vector<unsigned char>{'k'});
}

// The program waits after every pass; after one that took an event, the
// events still queued must not wait behind a sleep.
TEST_F(HostWait, AfterAPassThatTookAnEventTheRestAreTakenAtOnce) {
    pcm_room = 0;
    hosttest::sendKey(dis, win, XK_a, 0);
    hosttest::sendKey(dis, win, XK_b, 0);
    XSync(dis, False);
    EXPECT_TRUE(grax_switchloop());
    EXPECT_LT(timedWait(), 2.0);
    EXPECT_TRUE(grax_switchloop());
    EXPECT_EQ(engine.keys, (std::vector<unsigned char>{'a', 'b'}));
    EXPECT_GE(timedWait(), 11.0);  // nothing left: the unit's sleep
}

TEST_F(HostWait, AnEventArrivingDuringTheSleepEndsIt) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    Window target = win;
    pcm_room = 0;
    std::thread sender([other, target] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        hosttest::sendButton(other, target, ButtonPress, Button2, 33, 44);
        XFlush(other);
    });
    double ms = timedWait();
    sender.join();
    XCloseDisplay(other);
    EXPECT_LT(ms, 10.0);  // well before the unit's 11.6 ms
    XSync(dis, False);
    EXPECT_TRUE(grax_switchloop());
    ASSERT_EQ(engine.points.size(), 1u);
    EXPECT_EQ(engine.points[0].x, 33);
    EXPECT_EQ(engine.points[0].y, 44);
}

TEST_F(HostWait, EventsNoMaskSelectsAreDroppedNotSpunOn) {
    // Delivered to the window's creator although nothing selected it; the
    // dispatcher never takes it.
    hosttest::sendButton(dis, win, ButtonRelease, Button1, 5, 5, 0);
    XSync(dis, False);
    ASSERT_GT(XQLength(dis), 0);
    pcm_room = 0;
    EXPECT_GE(timedWait(), 11.0);
    EXPECT_EQ(XQLength(dis), 0);
    EXPECT_TRUE(engine.calls.empty());
}

}  // namespace
