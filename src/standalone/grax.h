// The window side of the program: the one X window, the one graphics
// context and canvas every repaint draws through, and the main loop's pass
// and wait. Start reading in src/standalone/main.cpp; this file and its .cpp
// are the next stop.
#pragma once

#include "engine/Canvas.h"
#include "hostkit/XCanvas.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <cstdint>
#include <ctime>

class AbstractChubEngine;
class InputGate;
class PlayerControllers;

// Host globals, process-wide; set by open_grax / main.
extern AbstractChubEngine* abstr;  // the single engine, never replaced
extern Display* dis;               // null until open_grax (and in window-less tools/tests)
extern Window win;
extern GC green_gc;
extern Colormap colormap;
extern XEvent report;
extern _CHDC chdc;                 // the last repaint's size, drawing on `canvas`
extern XCanvas canvas;             // the window as the engine's canvas
// The program's input gate: the engine `abstr` (attached once built) and
// the real window.
extern InputGate host_input;
// Makes `engine` the program's engine: the fill loop's and the gate's.
void host_engine(AbstractChubEngine* engine);
// The program's controllers: game controllers and the keyboard's
// controller keys, which the window hands to it.
extern PlayerControllers host_controllers;

// Opens the display and the 500×500 window titled "quorvanel" (class
// "quorvanel", as the desktop entry's StartupWMClass; closing it through the
// window manager asks the program to end); sets the window globals. Exits
// with status 1 and a message on standard error when there is no display.
void open_grax();
// Blocks SIGINT and SIGTERM, so that they never cut into a pass; they are
// taken only while the loop waits (host_wait). Called first in main, before
// any library starts a thread, which then inherits the block.
void host_catch_signals();
// False once the window was closed or SIGINT or SIGTERM came: the pass that
// saw it has ended, and the program should close down.
bool host_running();
// ppoll with SIGINT and SIGTERM let in for its length, as the loop's wait
// does: for a wait before the loop starts (a session to open).
int host_poll(pollfd* fds, int n, const timespec* t);
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
