// The window side of the host: the one X window, the one graphics context
// every component draws through, the colour helpers, and the two small
// records the host hands to the engine by value. Start reading in
// src/main.cpp; this file and its .cpp are the next stop.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdint>

class AbstractChubEngine;
class InputGate;

// Drawing record handed to every draw operation by value.
// context: never assigned, always 0, never read.
// width, height: the window's inner size in pixels at the last repaint.
struct _CHDC {
    uint32_t context;
    uint32_t width;
    uint32_t height;
};

// A mouse press position, window-relative pixels.
struct _pointille {
    int32_t x;
    int32_t y;
};

// Host globals, process-wide; set by open_grax / main.
extern AbstractChubEngine* abstr;  // the single engine, never replaced
extern Display* dis;               // null until open_grax (and in window-less tools/tests)
extern Window win;
extern GC green_gc;
extern Colormap colormap;
extern XEvent report;
extern _CHDC chdc;
// The program's input gate: the engine `abstr` (attached once built) and
// the real window.
extern InputGate host_input;
// Makes `engine` the program's engine: the fill loop's and the gate's.
void host_engine(AbstractChubEngine* engine);

// Colours: an XColor on the heap whose red/green/blue are the 8-bit
// components × 256 and whose pixel comes from XAllocColor on `colormap`.
// With no display open the X server is skipped and the record is returned
// with pixel = (r << 16) | (g << 8) | b, so engines can be built window-less.
XColor* GRAXBRUSHWAND(unsigned char r, unsigned char g, unsigned char b);
// The record on the heap with pixel = (r << 16) | (g << 8) | b, before any
// X server is asked.
inline XColor* grax_colour_record(unsigned char r, unsigned char g, unsigned char b) {
    XColor* c = new XColor();
    c->red = static_cast<unsigned short>(r << 8);
    c->green = static_cast<unsigned short>(g << 8);
    c->blue = static_cast<unsigned short>(b << 8);
    c->flags = DoRed | DoGreen | DoBlue;
    c->pixel = (static_cast<unsigned long>(r) << 16) | (g << 8) | b;
    return c;
}
XColor* GRAXPENWAND(unsigned char r, unsigned char g, unsigned char b, int width);
void GRAXBRUSHNIL(XColor* c);
void GRAXPENNIL(XColor* c);

// Drawing through the one graphics context on the one window. With no
// display open (the offline renderer, window-less tests) they draw nothing:
// a repaint there still lays out the boxes that mouse presses hit.
inline void grax_colour(unsigned long pixel) {
    if (dis) XSetForeground(dis, green_gc, pixel);
}
inline void grax_fill(int x, int y, unsigned int w, unsigned int h) {
    if (dis) XFillRectangle(dis, win, green_gc, x, y, w, h);
}
inline void grax_line(int x1, int y1, int x2, int y2) {
    if (dis) XDrawLine(dis, win, green_gc, x1, y1, x2, y2);
}

// Opens the display and the 500×500 window titled "quorvanel"; sets the
// window globals. Exits with status 1 and a message on standard error when
// there is no display.
void open_grax();
// Takes at most one pending window event and dispatches it; never waits.
// Returns true when it took one.
bool grax_switchloop();
// Refreshes chdc, has the engine paint the window, then draws the caption.
void grax_repaint();

// One pass of the main loop, in this order: at most one window event, due
// controller callbacks, then every audio unit the device has room for.
// Returns true when any of them found work.
bool host_pass();
// Ends a pass: sleeps until the window or the controller may have work or
// the audio device will have room for a unit (pcm_wait_us: at most a unit,
// about 11.6 ms). Returns at once when work is already waiting: an event in
// Xlib's queue, room for a unit, a controller time-out due.
void host_wait();
