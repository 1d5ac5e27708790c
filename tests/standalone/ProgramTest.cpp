// The live program under the test's X server, with "default" pointed at a
// test device by its own HOME: start-up lines, a running loop that answers
// window events, the bytes it writes, and the two ways it refuses to start.
#include "LiveProgram.h"

#include "SendEvents.h"
#include "standalone/grax.h"

#include <X11/keysym.h>

namespace {

using hosttest::LiveProgram;
using hosttest::sendButton;
using hosttest::sendKey;

// Counts white pixels in the caption's box of window w.
int captionWhite(Display* d, Window w) {
    XImage* img = XGetImage(d, w, 0, 0, 120, 20, AllPlanes, ZPixmap);
    if (!img) return -1;
    int n = 0;
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 120; x++) n += XGetPixel(img, x, y) == 0xffffff;
    XDestroyImage(img);
    return n;
}

TEST(LiveProgram, StartsPlaysAndAnswersWindowEvents) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    LiveProgram prog("capture.asoundrc");
    prog.start();
    ASSERT_TRUE(prog.waitOutput("PCMopend\n", 5000)) << prog.err();
    ASSERT_TRUE(prog.waitStarted(5000));
    std::string out = prog.out();
    EXPECT_EQ(out.rfind("  PLAYBACK\n  CAPTURE\nPCMopend\n", 0), 0u) << out;
    size_t p = out.find(" periods\n");
    std::string tail = out.substr(p + 9);
    EXPECT_EQ(tail, "0\n") << out;  // snd_pcm_start's result on a sound device

    Window w = hosttest::findWindow(d, dis ? win : 0, 5000);
    ASSERT_NE(w, 0u);
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    EXPECT_EQ(a.width, 500);
    EXPECT_EQ(a.height, 500);

    // The first paint comes with the first Expose after mapping.
    int white = 0;
    for (int t = 0; t < 200 && white == 0; t++) {
        hosttest::sleepMs(10);
        white = captionWhite(d, w);
    }
    EXPECT_GT(white, 20);

    // Keys and presses of every kind: the loop takes them and goes on.
    sendKey(d, w, XK_s, 0);
    sendKey(d, w, XK_a, ShiftMask);
    sendKey(d, w, XK_Return, 0);
    sendButton(d, w, ButtonPress, Button1, 100, 100);
    sendButton(d, w, ButtonPress, Button4, 10, 400);
    XSync(d, False);

    // Blank the window without an Expose, then ask for one: the caption that
    // comes back shows the loop is dispatching.
    XClearArea(d, w, 0, 0, 0, 0, False);
    XSync(d, False);
    EXPECT_EQ(captionWhite(d, w), 0);
    XClearArea(d, w, 0, 0, 0, 0, True);
    XSync(d, False);
    white = 0;
    for (int t = 0; t < 200 && white == 0; t++) {
        hosttest::sleepMs(10);
        white = captionWhite(d, w);
    }
    EXPECT_GT(white, 20);
    EXPECT_TRUE(prog.running());

    prog.stop();
    XCloseDisplay(d);

    // What reached the device: the silent priming unit first, then whole
    // frames whose high bytes went through the clip (never 0x7F or 0x80).
    std::ifstream in(prog.home + "/capture.raw", std::ios::binary);
    std::vector<unsigned char> head(1 << 20);
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    size_t got = static_cast<size_t>(in.gcount());
    ASSERT_GE(got, 1024u + 4 * 1024u);  // more than the priming unit: it kept playing
    for (size_t i = 0; i < 1024; i++) ASSERT_EQ(head[i], 0) << "priming byte " << i;
    for (size_t i = 1; i < got; i += 2) {
        ASSERT_NE(head[i], 0x7F) << "byte " << i;
        ASSERT_NE(head[i], 0x80) << "byte " << i;
    }
}

TEST(LiveProgram, UndefinedAudioDeviceStopsWithStatusOne) {
    LiveProgram prog("undefined.asoundrc");
    prog.start();
    ASSERT_TRUE(prog.waitExit(5000));
    EXPECT_EQ(prog.exitCode(), 1);
    EXPECT_EQ(prog.out(), "  PLAYBACK\n  CAPTURE\ncannot open audio device default\n");
}

// --device plays to the PCM it names, here one of the .asoundrc's while its
// "default" is broken; a name that is no device stops the program as a
// broken "default" does.
TEST(LiveProgram, DeviceNamesThePcmPlayed) {
    struct Row {
        const char* device;
        int status;  // -1: still playing
        const char* out;
    };
    for (const Row& r : {Row{"mine", -1, "  PLAYBACK\n  CAPTURE\nPCMopend\n"},
                         Row{"yours", 1, "  PLAYBACK\n  CAPTURE\ncannot open audio device yours\n"}}) {
        LiveProgram prog("device.asoundrc");
        prog.start("", {"--device", r.device});
        if (r.status < 0) {
            ASSERT_TRUE(prog.waitStarted(5000)) << prog.err();
            EXPECT_TRUE(hosttest::waitFor([&] { return hosttest::slurp(prog.home + "/capture.raw").size() > 4096; }, 5000));
        } else {
            ASSERT_TRUE(prog.waitExit(5000));
            EXPECT_EQ(prog.exitCode(), r.status);
        }
        EXPECT_EQ(prog.out().substr(0, std::string(r.out).size()), r.out) << r.device;
    }
}

TEST(LiveProgram, NoDisplayStopsWithStatusOneAndAMessage) {
    for (const char* display : {static_cast<const char*>(nullptr), ":4711"}) {
        LiveProgram prog("capture.asoundrc");
        prog.start(display);
        ASSERT_TRUE(prog.waitExit(5000));
        EXPECT_EQ(prog.exitCode(), 1);
        std::string err = prog.err();
        EXPECT_NE(err.find("cannot open X display"), std::string::npos) << err;
        if (display) {
            EXPECT_NE(err.find(display), std::string::npos) << err;
        }
        EXPECT_EQ(prog.out(), "");  // nothing was opened
    }
}

}  // namespace
