// What the engine draws on, and the small records every draw takes. The
// engine knows no window system: a host hands each repaint a canvas (the
// standalone program's X window, a memory image, or none at all), and every
// component draws through the three helpers below. With no canvas they draw
// nothing, and a repaint still lays out the boxes mouse presses hit.
// Colours: 8-bit components packed as 0xRRGGBB; a canvas maps them to its
// own pixels. Coordinates: window pixels, x to the right, y downwards.
#pragma once

#include <cstdint>

using Colour = uint32_t;

class Canvas {
public:
    // Sets the colour of the fills and lines that follow.
    virtual void colour(Colour c) = 0;
    // Fills the w × h rectangle whose top-left pixel is (x, y).
    virtual void fill(int x, int y, unsigned w, unsigned h) = 0;
    // A one-pixel line from (x1, y1) to (x2, y2), both ends drawn.
    virtual void line(int x1, int y1, int x2, int y2) = 0;

protected:
    ~Canvas() = default;
};

// Drawing record handed to every draw operation by value.
// context: never assigned, always 0, never read.
// width, height: the window's inner size in pixels at this repaint.
// canvas: where this repaint draws; null draws nothing.
struct _CHDC {
    uint32_t context;
    uint32_t width;
    uint32_t height;
    Canvas* canvas = nullptr;
};

// A mouse press position, window-relative pixels.
struct _pointille {
    int32_t x;
    int32_t y;
};

// A colour from its components; pens and brushes are alike (the width is
// never used: every line is one pixel).
constexpr Colour GRAXBRUSHWAND(unsigned char r, unsigned char g, unsigned char b) {
    return static_cast<Colour>(r) << 16 | static_cast<Colour>(g) << 8 | b;
}
constexpr Colour GRAXPENWAND(unsigned char r, unsigned char g, unsigned char b, int) {
    return GRAXBRUSHWAND(r, g, b);
}
constexpr unsigned char colour_red(Colour c) { return static_cast<unsigned char>(c >> 16); }
constexpr unsigned char colour_green(Colour c) { return static_cast<unsigned char>(c >> 8); }
constexpr unsigned char colour_blue(Colour c) { return static_cast<unsigned char>(c); }

inline void grax_colour(_CHDC dc, Colour c) {
    if (dc.canvas) dc.canvas->colour(c);
}
inline void grax_fill(_CHDC dc, int x, int y, unsigned w, unsigned h) {
    if (dc.canvas) dc.canvas->fill(x, y, w, h);
}
inline void grax_line(_CHDC dc, int x1, int y1, int x2, int y2) {
    if (dc.canvas) dc.canvas->line(x1, y1, x2, y2);
}
