// The engine's canvas on an X drawable: fills and lines through one
// graphics context. Colours (0xRRGGBB) become the visual's pixels: on true-
// and direct-colour visuals by the visual's channel masks, which is what
// the server would answer; on others the server is asked once per colour
// and the answer kept.
#pragma once

#include "engine/Canvas.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unordered_map>

class XCanvas final : public Canvas {
public:
    XCanvas() = default;
    XCanvas(Display* display, Drawable drawable, GC gc) { attach(display, drawable, gc); }

    void attach(Display* display, Drawable drawable, GC gc) {
        dis = display;
        target = drawable;
        this->gc = gc;
        Visual* v = DefaultVisual(dis, DefaultScreen(dis));
        masked = v->c_class == TrueColor || v->c_class == DirectColor;
        if (masked) {
            channels[0] = Channel::of(v->red_mask);
            channels[1] = Channel::of(v->green_mask);
            channels[2] = Channel::of(v->blue_mask);
        }
    }

    void colour(Colour c) override { XSetForeground(dis, gc, pixel(c)); }
    void fill(int x, int y, unsigned w, unsigned h) override { XFillRectangle(dis, target, gc, x, y, w, h); }
    void line(int x1, int y1, int x2, int y2) override { XDrawLine(dis, target, gc, x1, y1, x2, y2); }

    // The pixel the server gives colour `c` on this visual.
    unsigned long pixel(Colour c) {
        if (masked)
            return channels[0].place(colour_red(c)) | channels[1].place(colour_green(c)) |
                   channels[2].place(colour_blue(c));
        auto known = allocated.find(c);
        if (known != allocated.end()) return known->second;
        XColor x = {};
        x.red = static_cast<unsigned short>(colour_red(c) << 8);
        x.green = static_cast<unsigned short>(colour_green(c) << 8);
        x.blue = static_cast<unsigned short>(colour_blue(c) << 8);
        x.flags = DoRed | DoGreen | DoBlue;
        XAllocColor(dis, DefaultColormap(dis, DefaultScreen(dis)), &x);  // a failure leaves pixel 0
        return allocated[c] = x.pixel;
    }

private:
    // One channel of a masked visual: an 8-bit component scaled to the
    // mask's width (rounding as the server does) and shifted into place.
    struct Channel {
        int shift = 0;
        int bits = 8;
        static Channel of(unsigned long mask) {
            Channel c;
            if (!mask) return c;
            c.shift = 0;
            while (!(mask & 1)) mask >>= 1, c.shift++;
            c.bits = 0;
            while (mask & 1) mask >>= 1, c.bits++;
            return c;
        }
        unsigned long place(unsigned char v) const {
            unsigned long scaled = bits >= 8 ? static_cast<unsigned long>(v) << (bits - 8)
                                             : (static_cast<unsigned long>(v) * ((1ul << bits) - 1) + 127) / 255;
            return scaled << shift;
        }
    };

    Display* dis = nullptr;
    Drawable target = 0;
    GC gc = nullptr;
    bool masked = false;
    Channel channels[3];
    std::unordered_map<Colour, unsigned long> allocated;
};
