// Test support: how far a window on screen is from a picture, read back
// with XGetImage, waiting for the window to catch up (hosts pass the
// plugin's pictures on at their own pace).
#pragma once

#include "engine/MemoryCanvas.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>

namespace plugintest {

// Pixels of `w` that differ from `want`, trying up to `attempts` times,
// `waitMs` apart, until none do; -1 when the window could never be read.
inline long windowDifferences(Display* dis, ::Window w, const MemoryCanvas& want, int attempts, int waitMs) {
    long diff = -1;
    for (int attempt = 0; attempt < attempts && diff != 0; attempt++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        XSync(dis, False);
        XImage* img = XGetImage(dis, w, 0, 0, want.getWidth(), want.getHeight(), AllPlanes, ZPixmap);
        if (!img) continue;
        diff = 0;
        for (uint32_t y = 0; y < want.getHeight(); y++)
            for (uint32_t x = 0; x < want.getWidth(); x++)
                diff += (XGetPixel(img, static_cast<int>(x), static_cast<int>(y)) & 0xffffff) != want.at(x, y);
        XDestroyImage(img);
    }
    return diff;
}

}  // namespace plugintest
