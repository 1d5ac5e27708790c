// The renderer's pictures against the live window: the demo played live up
// to a frame, read back from the screen, equals pixel for pixel the picture
// the renderer draws from the live run's recording, also with the ratios
// shown as numbers (Tab); two live runs of the same performance end with
// the same picture.
#include <gtest/gtest.h>

#include "LiveProgram.h"
#include "standalone/grax.h"

#include <png.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using hosttest::LiveProgram;

const std::string kSource = QUORVANEL_SOURCE_DIR;
const std::string kBinary = QUORVANEL_BINARY_DIR;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB
    bool operator==(const Picture&) const = default;
};

// Pixels that differ, or -1 when the sizes do.
long differ(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    long n = 0;
    for (size_t i = 0; i < a.pixels.size(); i++) n += a.pixels[i] != b.pixels[i];
    return n;
}

Picture readPng(const std::string& path) {
    Picture p;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return p;
    p.width = image.width;
    p.height = image.height;
    for (size_t i = 0; i < rgb.size(); i += 3) p.pixels.push_back(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return p;
}

Picture grab(Display* d, Window w) {
    Picture p;
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    XImage* img = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!img) return p;
    p.width = a.width;
    p.height = a.height;
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++) p.pixels.push_back(XGetPixel(img, x, y) & 0xffffff);
    XDestroyImage(img);
    return p;
}

// The demo's events before `until`, played live over the null device (which
// takes sound as fast as it comes, so the performance is over at once);
// the window as it then stands, and the recording of the run.
struct LiveRun {
    Picture window;
    std::string recording;
};

LiveRun playLive(Display* d, long long until, bool readout = false) {
    LiveRun run;
    LiveProgram prog("capture.asoundrc");
    std::ifstream in(kSource + "/scripts/demo.txt");
    std::ofstream out(prog.home + "/play.txt");
    if (readout) out << "0 key 009\n";
    std::string line;
    while (std::getline(in, line)) {
        long long frame;
        if (line.empty() || line[0] == '#' || !(std::istringstream(line) >> frame) || frame < until) out << line << "\n";
    }
    out.close();
    prog.start("", {"--play", "play.txt", "--record", "take.txt", kSource + "/patches/demo.texte"});
    Window w = hosttest::findWindow(d, dis ? win : 0, 10000);  // not this test program's own
    if (!w || !prog.waitStarted(10000)) return run;
    // The performance is over and nothing repaints any more: at least 1.5 s,
    // then until two grabs 300 ms apart agree (a loaded machine plays later).
    hosttest::sleepMs(1500);
    XSync(d, False);
    run.window = grab(d, w);
    for (int tries = 0; tries < 40; tries++) {
        hosttest::sleepMs(300);
        XSync(d, False);
        Picture now = grab(d, w);
        bool same = now.pixels == run.window.pixels;
        run.window = now;
        if (same) break;
    }
    prog.stop();
    std::string rec = prog.home + "/take.txt";
    run.recording = hosttest::slurp(rec);
    return run;
}

Picture render(const std::string& recording, const std::string& dir) {
    std::ofstream(dir + "/take.txt") << recording;
    std::string cmd = "cd '" + dir + "' && '" + kBinary +
                      "/quorvanel-render' --picture 1073741808 picture.png take.txt /dev/null 2>/dev/null";
    if (system(cmd.c_str()) != 0) return {};
    return readPng(dir + "/picture.png");
}

TEST(Picture, RenderedFromTheRecordingEqualsTheLiveWindow) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    char dir[] = "/tmp/quorvanel-picture-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    Picture first;
    for (long long until : {100000LL, 300000LL, 529200LL}) {
        LiveRun run = playLive(d, until);
        ASSERT_EQ(run.window.width, 500u) << until;
        Picture drawn = render(run.recording, dir);
        EXPECT_EQ(differ(drawn, run.window), 0) << "until frame " << until;
        if (until == 100000) first = run.window;
    }
    // The ratios as numbers, drawn alike.
    LiveRun shown = playLive(d, 300000, true);
    ASSERT_EQ(shown.window.width, 500u);
    EXPECT_EQ(differ(render(shown.recording, dir), shown.window), 0) << "with the readout";
    EXPECT_GT(differ(shown.window, playLive(d, 300000).window), 100) << "the readout is drawn";
    // The same performance again: the same picture, colours included.
    LiveRun again = playLive(d, 100000);
    EXPECT_EQ(differ(again.window, first), 0);
    // A picture that cannot be right is seen to differ: the first against the last.
    Picture last = playLive(d, 529200).window;
    EXPECT_GT(differ(last, first), 1000);
    std::string rm = std::string("rm -rf '") + dir + "'";
    (void)system(rm.c_str());
    XCloseDisplay(d);
}

}  // namespace
