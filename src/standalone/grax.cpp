#include "standalone/grax.h"

#include "engine/AbstractChubEngine.h"
#include "engine/InputGate.h"
#include "standalone/PlayerControllers.h"
#include "standalone/chub.h"
#include "standalone/jack.h"
#include "standalone/nsm.h"
#include "standalone/pcm.h"
#include "standalone/seq.h"

#include <X11/XKBlib.h>
#include <poll.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

AbstractChubEngine* abstr = nullptr;
Display* dis = nullptr;
Window win = 0;
GC green_gc = nullptr;
Colormap colormap = 0;
XEvent report;
XCanvas canvas;
_CHDC chdc = {0, 0, 0, &canvas};
PlayerControllers host_controllers;

namespace {

// What the window events select: presses and releases (the keyboard's
// controller keys are held), mouse presses, exposures, and the structure
// events that say the window's size.
constexpr long kEventMask = ExposureMask | ButtonPressMask | KeyPressMask | KeyReleaseMask | StructureNotifyMask;
Atom wm_delete_window = 0;
// The window's size as the server last reported it (ConfigureNotify), so a
// repaint needs no round trip: with the X server slow to answer (a loaded
// machine, a burst of keys each repainting twice), the unit waiting on
// that answer could come too late for the device.
uint32_t known_width = 500, known_height = 500;
volatile sig_atomic_t closing = 0;
sigset_t wait_mask;        // the mask while the loop waits: the two signals let in
bool signals_held = false;

}  // namespace

void open_grax() {
    dis = XOpenDisplay(nullptr);
    if (!dis) {
        const char* name = getenv("DISPLAY");
        if (name && *name) fprintf(stderr, "quorvanel: cannot open X display \"%s\"\n", name);
        else fprintf(stderr, "quorvanel: cannot open X display: DISPLAY is not set\n");
        exit(1);
    }
    int screen = 0;
    known_width = known_height = 500;
    win = XCreateSimpleWindow(dis, RootWindow(dis, screen), 1, 1, known_width, known_height, 0,
                              BlackPixel(dis, screen), BlackPixel(dis, screen));
    // The mask goes in first: without a window manager the map is immediate
    // and an Expose sent before the selection would be lost, and a player's
    // tools find the window by its name, so keys sent to it as soon as the
    // name is there must find the selection made (the atom and keyboard
    // calls below wait for the server, which sends the requests before them).
    XSelectInput(dis, win, kEventMask);
    XStoreName(dis, win, "quorvanel");
    XClassHint hint = {const_cast<char*>("quorvanel"), const_cast<char*>("quorvanel")};
    XSetClassHint(dis, win, &hint);
    wm_delete_window = XInternAtom(dis, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dis, win, &wm_delete_window, 1);
    // A held key repeats as presses alone, not as releases and presses.
    XkbSetDetectableAutoRepeat(dis, True, nullptr);
    XMapWindow(dis, win);
    colormap = DefaultColormap(dis, screen);
    green_gc = XCreateGC(dis, win, 0, nullptr);
    canvas.attach(dis, win, green_gc);
}

namespace {

void note_size(const XEvent& e) {
    if (e.type != ConfigureNotify || e.xconfigure.window != win) return;
    known_width = static_cast<uint32_t>(e.xconfigure.width);
    known_height = static_cast<uint32_t>(e.xconfigure.height);
}

// The program's window as the input gate sees it: its size as the X server
// last reported it, and a repaint that the host ends with the caption.
class LiveWindow final : public InputGate::Window {
public:
    void size(uint32_t& width, uint32_t& height) override {
        XEvent e;
        while (XCheckTypedWindowEvent(dis, win, ConfigureNotify, &e)) note_size(e);
        width = known_width;
        height = known_height;
    }
    void paint(AbstractChubEngine& engine, uint32_t width, uint32_t height) override {
        chdc.width = width;
        chdc.height = height;
        engine.graxness(chdc);
        XSetForeground(dis, green_gc, WhitePixel(dis, 0));
        XDrawString(dis, win, green_gc, 10, 10, "quorvanel", 9);
        XFlush(dis);
    }
};

LiveWindow live_window;

}  // namespace

InputGate host_input(nullptr, &live_window);
int& grax_countor = host_input.countor;

void host_engine(AbstractChubEngine* engine) {
    abstr = engine;
    host_input.attach(engine);
}

// Where the server cannot tell repeats, a held key repeats as a release and
// a press with the same time: that release is not taken, and the press finds
// the key still held.
static bool repeat_release(const XKeyEvent& k) {
    if (XEventsQueued(dis, QueuedAfterReading) == 0) return false;
    XEvent next;
    XPeekEvent(dis, &next);
    return next.type == KeyPress && next.xkey.keycode == k.keycode && next.xkey.time == k.time;
}

bool grax_switchloop() {
    if (!XCheckMaskEvent(dis, kEventMask, &report)) return false;
    switch (report.type) {
    case ButtonPress:
        host_input.click(report.xbutton.x, report.xbutton.y);
        nsm_edited();
        break;
    case Expose:
        host_input.expose();
        break;
    case KeyPress: {
        KeySym sym = XLookupKeysym(&report.xkey, 0);
        if (host_controllers.keys.press(sym)) break;  // controller keys are no commands
        unsigned char key = static_cast<unsigned char>(sym & 0xff);
        if (key == 's' && (report.xkey.state & ControlMask)) {
            if (!nsm_save()) host_input.save("output.texte");
        } else {
            host_input.key(key);
            nsm_edited();
        }
        break;
    }
    case KeyRelease:
        if (!repeat_release(report.xkey)) host_controllers.keys.release(XLookupKeysym(&report.xkey, 0));
        break;
    case ConfigureNotify:
        note_size(report);
        break;
    default:
        break;
    }
    return true;
}

void grax_repaint() {
    uint32_t width, height;
    live_window.size(width, height);
    live_window.paint(*abstr, width, height);
}

namespace {

// Set when the wait ended with nothing come on the X connection: what Xlib
// had was read before the wait and nothing has arrived since, so the window
// check of the pass straight after it can only find nothing. Asking anyway
// costs Xlib four reads of the socket on every wake. An event arriving in
// the moment since wakes the next wait at once.
bool x_found_quiet = false;

// The request count at the wait's last flush. XFlush also reads the
// connection (twice a wake, with nothing to read when idle); with no
// request made since the last one there is nothing to send, and no reply
// was awaited that could have read events off the connection unseen.
unsigned long flushed_at = 0;

}  // namespace

bool host_pass() {
    bool quiet = x_found_quiet && XQLength(dis) == 0;
    x_found_quiet = false;
    bool busy = !quiet && grax_switchloop();
    busy |= chub_run() > 0;
    busy |= seq_run() > 0;
    busy |= nsm_run() > 0;
    busy |= (jack_active() ? jack_runnus() : pcm_runnus()) > 0;
    return busy;
}

namespace {

constexpr int kMostUsbFds = 16;
constexpr int kMostOtherFds = 2;  // the JACK callback's wake and the session manager's socket

// The events grax_switchloop takes; everything else no mask selects.
Bool not_dispatched(Display*, XEvent* e, XPointer) {
    return e->type != KeyPress && e->type != KeyRelease && e->type != ButtonPress && e->type != Expose;
}

// Events no mask selects (MappingNotify, ClientMessage, ...) reach the
// queue anyway and the dispatcher never takes them: left there they would
// keep the queue non-empty and the wait from ever sleeping.
void drop_undispatched_events() {
    XEvent e;
    while (XCheckIfEvent(dis, &e, not_dispatched, nullptr)) {
        // Keys are looked up in Xlib's copy of the keyboard map; keep it current.
        if (e.type == MappingNotify) XRefreshKeyboardMapping(&e.xmapping);
        note_size(e);
        if (e.type == ClientMessage && static_cast<Atom>(e.xclient.data.l[0]) == wm_delete_window) closing = 1;
    }
}

void on_signal(int) { closing = 1; }

// ppoll with the signals let in for its length only; with no descriptors
// and no time-out it just takes a signal that is waiting.
int wait_for(pollfd* fds, int n, const timespec* t) {
    return ppoll(fds, static_cast<nfds_t>(n), t, signals_held ? &wait_mask : nullptr);
}

// A wait that ends at once still lets a waiting signal in: a busy loop
// must end on Ctrl+C too.
void take_signals() {
    static const timespec zero = {0, 0};
    if (signals_held) wait_for(nullptr, 0, &zero);
}

}  // namespace

// Waits on the X connection, the MIDI sequencer's and libusb's descriptors,
// under JACK the process callback's wake and in a session the session
// manager's socket, with a time-out set by the audio device's room. Not on ALSA's own PCM
// descriptors: through sound-server plugins they wake far more often than a
// unit needs. Every way out below
// that returns at once is a source with work waiting, so the wait may end any
// pass, busy or not.
void host_wait() {
    // Only with Xlib's own queue empty is the connection's descriptor a true
    // signal: the dispatcher's check this pass read whatever had arrived, and
    // anything since is still in the socket and wakes the poll. Our own
    // requests (a repaint's drawing) go out before we sleep.
    if (XNextRequest(dis) != flushed_at) {
        XFlush(dis);
        flushed_at = XNextRequest(dis);
    }
    if (XQLength(dis) > 0) {
        drop_undispatched_events();
        if (XQLength(dis) > 0) return take_signals();
    }
    long timeout_us = jack_active() ? jack_wait_us() : pcm_wait_us(pcm_clock_ns());
    if (timeout_us == 0) return take_signals();

    constexpr int kMostFds = 1 + kSeqMostFds + kMostOtherFds + kMostUsbFds;
    pollfd fds[kMostFds];
    int n = 0;
    fds[n++] = {ConnectionNumber(dis), POLLIN, 0};
    n += seq_pollfds(fds + n, kSeqMostFds);
    n += jack_pollfds(fds + n, 1);
    n += nsm_pollfds(fds + n, 1);
    if (chub_active()) {
        const libusb_pollfd** usb = libusb_get_pollfds(nullptr);
        for (int i = 0; usb && usb[i] && n < kMostFds; i++)
            fds[n++] = {usb[i]->fd, usb[i]->events, 0};
        libusb_free_pollfds(usb);
        timeval next;
        if (libusb_get_next_timeout(nullptr, &next) == 1) {
            long usb_us = next.tv_sec * 1000000L + next.tv_usec;
            if (usb_us < timeout_us) timeout_us = usb_us;
        }
        if (timeout_us == 0) return take_signals();
    }
    timespec t = {timeout_us / 1000000, (timeout_us % 1000000) * 1000};
    if (wait_for(fds, n, &t) >= 0 && fds[0].revents == 0) x_found_quiet = true;
}

void host_catch_signals() {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    sigprocmask(SIG_BLOCK, &both, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
    signals_held = true;
}

bool host_running() { return !closing; }

int host_poll(pollfd* fds, int n, const timespec* t) { return wait_for(fds, n, t); }
