// Test support: the program's real window under Xvfb, and pixel read-back.
// Tests that draw call xwindow() once; it opens the display and window the
// way the program does (open_grax) and waits until the window is viewable.
#pragma once

#include "standalone/grax.h"

#include <X11/Xutil.h>
#include <gtest/gtest.h>

namespace testx {

inline void sync() { XSync(dis, False); }

// Opens the window once per test program; later calls only return.
inline void xwindow() {
    if (dis) return;
    open_grax();
    XWindowAttributes a;
    for (int i = 0; i < 200; i++) {
        XGetWindowAttributes(dis, win, &a);
        if (a.map_state == IsViewable) break;
        XSync(dis, False);
    }
    // Throw away the first Expose so it cannot repaint over a test's drawing.
    XSync(dis, False);
    XEvent ev;
    while (XCheckMaskEvent(dis, ExposureMask, &ev)) {}
}

// A drawing record for a w × h repaint on the window's canvas.
inline _CHDC dc(uint32_t w = 500, uint32_t h = 500) { return _CHDC{0, w, h, &canvas}; }

// Fills the whole window with one pixel value (black by default) so tests
// start from a known picture.
inline void clear(unsigned long pixel = 0) {
    XSetForeground(dis, green_gc, pixel);
    XFillRectangle(dis, win, green_gc, 0, 0, 500, 500);
    sync();
}

// Reads one pixel of the window; out-of-window positions return ~0.
inline unsigned long pixel(int x, int y) {
    if (x < 0 || y < 0 || x >= 500 || y >= 500) return ~0UL;
    sync();
    XImage* img = XGetImage(dis, win, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0UL;
    unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p;
}

// Reads a whole rectangle at once, for tests that scan many pixels.
struct Grab {
    XImage* img = nullptr;
    int x0 = 0, y0 = 0;
    Grab(int x, int y, int w, int h) : x0(x), y0(y) {
        sync();
        img = XGetImage(dis, win, x, y, w, h, AllPlanes, ZPixmap);
    }
    ~Grab() { if (img) XDestroyImage(img); }
    unsigned long at(int x, int y) const { return XGetPixel(img, x - x0, y - y0); }
    Grab(const Grab&) = delete;
    Grab& operator=(const Grab&) = delete;
};

}  // namespace testx
