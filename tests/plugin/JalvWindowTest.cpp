// The plugin's window in jalv.gtk3 and jalv.qt5 under JACK's dummy
// backend, driven with xdotool as a player would: the fresh instrument's
// picture, a press that takes the focus, the key q (the FM marks appear)
// and a press on voice 0's own FM mark (the cell is set), and a resize of
// the host's window. Each picture must equal, pixel for pixel, the repaint
// of an instrument in this process given the same window events.
#include <gtest/gtest.h>

#include "plugin/Spawn.h"

#include "plugin/Instrument.h"
#include "render/PictureWindow.h"
#include "plugin/WindowPixels.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kBuild = QUORVANEL_BINARY_DIR;

// The plugin's window: named "quorvanel" and inside another window (the
// host's own window, a child of the root, carries the plugin's name too).
::Window findWindow(Display* dis, ::Window w, bool top) {
    char* name = nullptr;
    bool named = XFetchName(dis, w, &name) && name && std::string(name) == "quorvanel";
    if (name) XFree(name);
    if (named && !top) return w;
    ::Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dis, w, &root, &parent, &children, &n)) return 0;
    ::Window found = 0;
    for (unsigned k = 0; k < n && !found; k++) found = findWindow(dis, children[k], w == root);
    if (children) XFree(children);
    return found;
}

struct Twin {
    Instrument in{48000};
    MemoryCanvas image;
    Twin() { in.pictures().drawOn(&image); }
    // The events, then a block; the picture with the caption.
    MemoryCanvas after(const std::vector<std::array<int32_t, 3>>& events) {
        for (const auto& e : events) in.windowEvent(0, static_cast<windowio::Event>(e[0]), e[1], e[2]);
        float l[2048], r[2048];
        in.render(l, r, 2048);  // units enough to take the events
        MemoryCanvas shown = image;
        PictureWindow::caption(shown);
        return shown;
    }
};

// Pixels that differ, waiting up to 15 s (a loaded machine) for the window
// to show `want`.
long differences(Display* dis, ::Window w, const MemoryCanvas& want) {
    return plugintest::windowDifferences(dis, w, want, 300, 50);
}

unsigned long pixel(Display* dis, ::Window w, int x, int y) {
    XImage* img = XGetImage(dis, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0ul;
    unsigned long p = XGetPixel(img, 0, 0) & 0xffffff;
    XDestroyImage(img);
    return p;
}

void xdotool(const std::vector<std::string>& args) {
    hosts::Child c;
    std::vector<std::string> argv{hosts::which("xdotool")};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_TRUE(c.start(argv, {}, kBuild + "/xdotool.log"));
    EXPECT_EQ(c.wait(10), 0) << c.output();
}

// The window's size once it is viewable (the host has mapped every window
// around it), at least `minWidth` wide, and has kept one size for 300 ms: a
// host lays its windows out in several steps, and on a loaded machine they
// can take seconds.
bool settledSize(Display* dis, ::Window w, uint32_t& width, uint32_t& height, uint32_t minWidth = 1) {
    int steady = 0;
    for (int k = 0; k < 600 && steady < 6; k++) {  // up to 30 s
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        XWindowAttributes a;
        if (!XGetWindowAttributes(dis, w, &a) || a.map_state != IsViewable ||
            static_cast<uint32_t>(a.width) < minWidth) {
            steady = 0;
            continue;
        }
        bool same = static_cast<uint32_t>(a.width) == width && static_cast<uint32_t>(a.height) == height;
        steady = same ? steady + 1 : 0;
        width = static_cast<uint32_t>(a.width);
        height = static_cast<uint32_t>(a.height);
    }
    return steady >= 6;
}

TEST(JalvWindow, PictureKeyPressAndResizeInGtkAndQt) {
    std::string jackd = hosts::which("jackd");
    Display* dis = XOpenDisplay(nullptr);
    if (jackd.empty() || hosts::which("xdotool").empty() || !dis) GTEST_SKIP() << "jackd, xdotool or a display missing";
    // A read while the host changes its windows fails; it is read again.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    using E = windowio::Event;
    const int kOpened = static_cast<int>(E::Opened), kSize = static_cast<int>(E::Size),
              kClick = static_cast<int>(E::Click), kKey = static_cast<int>(E::Key),
              kRepaint = static_cast<int>(E::Repaint);
    for (std::vector<std::string> host : {std::vector<std::string>{"jalv.gtk3", "--no-menu"}, {"jalv.qt5"}}) {
        SCOPED_TRACE(host[0]);
        const std::string name = host[0];
        host[0] = hosts::which(name);
        if (host[0].empty()) continue;
        // A server and logs of each host's own: the last host's server may
        // still be going away.
        const std::string server = "quorvanel-" + name + "-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        hosts::Child jack, jalv;
        ASSERT_TRUE(jack.start({jackd, "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"}, {},
                               kBuild + "/window-jackd-" + name + ".log"));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        host.push_back("urn:quorvanel:instrument");
        ASSERT_TRUE(jalv.start(host, {"LV2_PATH=" + kBuild + "/lv2"}, kBuild + "/window-" + name + ".log"));
        ::Window w = 0;
        for (int k = 0; k < 600 && !w; k++) {  // up to 30 s on a busy machine
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            w = findWindow(dis, DefaultRootWindow(dis), true);
        }
        ASSERT_NE(w, 0u) << jalv.output();
        std::string id = std::to_string(w);
        uint32_t width = 0, height = 0;
        ASSERT_TRUE(settledSize(dis, w, width, height)) << jalv.output();
        Twin twin;
        int y = static_cast<int>(height / 2) - 4;  // 4 up from voice 0's numerator box corner
        EXPECT_EQ(differences(dis, w, twin.after({{kOpened, int(width), int(height)}})), 0) << "fresh";

        xdotool({"mousemove", "--window", id, "300", std::to_string(y + 200), "click", "1"});
        xdotool({"key", "q"});
        twin.after({{kClick, 300, y + 200}});
        // The marks are shown, so the press took the focus and the key came.
        ASSERT_EQ(differences(dis, w, twin.after({{kKey, 'q', 0}})), 0) << "q";
        auto pressed = std::chrono::steady_clock::now();
        xdotool({"mousemove", "--window", id, "66", std::to_string(y), "click", "1"});
        for (int k = 0; k < 2500 && pixel(dis, w, 66, y) != 0xf50000; k++)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pressed).count();
        MemoryCanvas set = twin.after({{kClick, 66, y}});
        EXPECT_EQ(set.at(66, static_cast<uint32_t>(y)), 0xf50000u);
        EXPECT_EQ(differences(dis, w, set), 0) << "q and a press";
        std::fprintf(stderr, "%s: a press to its picture %.0f ms\n", host[0].c_str(), ms);

        ::Window top = w, root, parent, *children = nullptr;
        unsigned n;
        while (XQueryTree(dis, top, &root, &parent, &children, &n) && parent != root) {
            if (children) XFree(children);
            top = parent;
        }
        xdotool({"windowsize", std::to_string(top), "700", "600"});
        ASSERT_TRUE(settledSize(dis, w, width, height, 601)) << "resized to " << width;
        EXPECT_EQ(differences(dis, w, twin.after({{kSize, int(width), int(height)}, {kRepaint, 0, 0}})), 0) << "resized";
        jalv.stop();
        jack.stop();
    }
    XCloseDisplay(dis);
}

}  // namespace
