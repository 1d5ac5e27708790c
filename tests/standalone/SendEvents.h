// Test support: synthetic key and button events sent through the X server
// to a window, as a player's would arrive (XSendEvent, no extension needed).
#pragma once

#include <X11/Xlib.h>

namespace hosttest {

// A key press, or with `type` KeyRelease a release; `time` as the server
// would stamp it (auto-repeat sends a release and a press of one time).
inline void sendKey(Display* d, Window w, KeySym sym, unsigned int state, int type = KeyPress, Time time = 0) {
    XEvent e = {};
    e.xkey.type = type;
    e.xkey.display = d;
    e.xkey.window = w;
    e.xkey.root = DefaultRootWindow(d);
    e.xkey.keycode = XKeysymToKeycode(d, sym);
    e.xkey.state = state;
    e.xkey.time = time;
    e.xkey.same_screen = True;
    XSendEvent(d, w, False, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
}

// mask 0 sends the event to the window's creator whatever it selected.
inline void sendButton(Display* d, Window w, int type, unsigned int button, int x, int y,
                       long mask = ButtonPressMask) {
    XEvent e = {};
    e.xbutton.type = type;
    e.xbutton.display = d;
    e.xbutton.window = w;
    e.xbutton.root = DefaultRootWindow(d);
    e.xbutton.button = button;
    e.xbutton.x = x;
    e.xbutton.y = y;
    e.xbutton.same_screen = True;
    XSendEvent(d, w, False, mask, &e);
}

}  // namespace hosttest
