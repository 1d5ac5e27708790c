// The engine's canvas as an image in memory: the picture a window shows,
// drawn by the same rules an X server follows, so a repaint drawn here has
// the same pixels as the live window after the same repaint.
// Pixels: 0xRRGGBB, row by row from the top-left. Like a window, the image
// keeps what earlier repaints drew where a later one draws nothing, starts
// black (the window's background), and is cleared when its size changes
// (the window forgets its contents when resized). Coordinates and sizes go
// through the protocol's 16-bit fields as the window's do: x and y wrap as
// signed 16-bit numbers, widths and heights as unsigned ones. Lines are one
// pixel wide with both ends drawn, stepped as the X server's Bresenham
// steps them (with no error bias in any octant, the server's default).
// The storage is taken when the size changes, never while drawing.
#pragma once

#include "engine/Canvas.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

class MemoryCanvas final : public Canvas {
public:
    // Makes the image w × h (black) unless it already has that size.
    void size(uint32_t w, uint32_t h) {
        if (w == width && h == height) return;
        width = w;
        height = h;
        pixels.assign(static_cast<size_t>(w) * h, 0);
    }

    uint32_t getWidth() const { return width; }
    uint32_t getHeight() const { return height; }
    Colour at(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    const std::vector<Colour>& image() const { return pixels; }

    void colour(Colour c) override { current = c & 0xffffff; }

    void fill(int x, int y, unsigned w, unsigned h) override {
        long x1 = static_cast<int16_t>(x), y1 = static_cast<int16_t>(y);
        long x2 = x1 + static_cast<uint16_t>(w), y2 = y1 + static_cast<uint16_t>(h);
        if (x1 < 0) x1 = 0;
        if (y1 < 0) y1 = 0;
        if (x2 > static_cast<long>(width)) x2 = width;
        if (y2 > static_cast<long>(height)) y2 = height;
        for (long py = y1; py < y2; py++)
            for (long px = x1; px < x2; px++) pixels[static_cast<size_t>(py) * width + px] = current;
    }

    void line(int xa, int ya, int xb, int yb) override {
        int x = static_cast<int16_t>(xa), y = static_cast<int16_t>(ya);
        int x2 = static_cast<int16_t>(xb), y2 = static_cast<int16_t>(yb);
        int adx = x2 - x, ady = y2 - y, sx = 1, sy = 1;
        if (adx < 0) adx = -adx, sx = -1;
        if (ady < 0) ady = -ady, sy = -1;
        bool xMajor = adx > ady;
        int major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
        int e1 = minor << 1;
        int e3 = -(major << 1);
        int e = -major;
        for (int n = 0; n <= major; n++) {
            plot(x, y);
            if (xMajor) x += sx;
            else y += sy;
            e += e1;
            if (e >= 0) {
                if (xMajor) y += sy;
                else x += sx;
                e += e3;
            }
        }
    }

private:
    void plot(int x, int y) {
        if (x >= 0 && y >= 0 && x < static_cast<int>(width) && y < static_cast<int>(height))
            pixels[static_cast<size_t>(y) * width + x] = current;
    }

    uint32_t width = 0, height = 0;
    std::vector<Colour> pixels;
    Colour current = 0;
};
