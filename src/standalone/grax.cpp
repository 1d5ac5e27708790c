#include "standalone/grax.h"

#include "engine/AbstractChubEngine.h"
#include "engine/InputGate.h"
#include "standalone/chub.h"
#include "standalone/pcm.h"
#include "standalone/seq.h"

#include <poll.h>

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

void open_grax() {
    dis = XOpenDisplay(nullptr);
    if (!dis) {
        const char* name = getenv("DISPLAY");
        if (name && *name) fprintf(stderr, "quorvanel: cannot open X display \"%s\"\n", name);
        else fprintf(stderr, "quorvanel: cannot open X display: DISPLAY is not set\n");
        exit(1);
    }
    int screen = 0;
    win = XCreateSimpleWindow(dis, RootWindow(dis, screen), 1, 1, 500, 500, 0,
                              BlackPixel(dis, screen), BlackPixel(dis, screen));
    XStoreName(dis, win, "quorvanel");
    // The mask goes in before mapping: without a window manager the map is
    // immediate and an Expose sent before the selection would be lost.
    XSelectInput(dis, win, ExposureMask | ButtonPressMask | KeyPressMask);
    XMapWindow(dis, win);
    colormap = DefaultColormap(dis, screen);
    green_gc = XCreateGC(dis, win, 0, nullptr);
    canvas.attach(dis, win, green_gc);
}

namespace {

// The program's window as the input gate sees it: its size as the X server
// reports it, and a repaint that the host ends with the caption.
class LiveWindow final : public InputGate::Window {
public:
    void size(uint32_t& width, uint32_t& height) override {
        ::Window root;
        int x, y;
        unsigned int w, h, border, depth;
        XGetGeometry(dis, win, &root, &x, &y, &w, &h, &border, &depth);
        width = w;
        height = h;
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

bool grax_switchloop() {
    if (!XCheckMaskEvent(dis, ExposureMask | ButtonPressMask | KeyPressMask, &report)) return false;
    switch (report.type) {
    case ButtonPress:
        host_input.click(report.xbutton.x, report.xbutton.y);
        break;
    case Expose:
        host_input.expose();
        break;
    case KeyPress: {
        KeySym sym = XLookupKeysym(&report.xkey, 0);
        unsigned char key = static_cast<unsigned char>(sym & 0xff);
        if (key == 's' && (report.xkey.state & ControlMask)) host_input.save("output.texte");
        else host_input.key(key);
        break;
    }
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

}  // namespace

bool host_pass() {
    bool quiet = x_found_quiet && XQLength(dis) == 0;
    x_found_quiet = false;
    bool busy = !quiet && grax_switchloop();
    busy |= chub_run() > 0;
    busy |= seq_run() > 0;
    busy |= pcm_runnus() > 0;
    return busy;
}

namespace {

constexpr int kMostUsbFds = 16;

// The events grax_switchloop takes; everything else no mask selects.
Bool not_dispatched(Display*, XEvent* e, XPointer) {
    return e->type != KeyPress && e->type != ButtonPress && e->type != Expose;
}

// Events no mask selects (MappingNotify, ClientMessage, ...) reach the
// queue anyway and the dispatcher never takes them: left there they would
// keep the queue non-empty and the wait from ever sleeping.
void drop_undispatched_events() {
    XEvent e;
    while (XCheckIfEvent(dis, &e, not_dispatched, nullptr)) {
        // Keys are looked up in Xlib's copy of the keyboard map; keep it current.
        if (e.type == MappingNotify) XRefreshKeyboardMapping(&e.xmapping);
    }
}

}  // namespace

// Waits on the X connection, the MIDI sequencer's and libusb's descriptors,
// with a time-out set by the audio device's room. Not on ALSA's own PCM
// descriptors: through sound-server plugins they wake far more often than a
// unit needs. Every way out below
// that returns at once is a source with work waiting, so the wait may end any
// pass, busy or not.
void host_wait() {
    // Only with Xlib's own queue empty is the connection's descriptor a true
    // signal: the dispatcher's check this pass read whatever had arrived, and
    // anything since is still in the socket and wakes the poll. Our own
    // requests (a repaint's drawing) go out before we sleep.
    XFlush(dis);
    if (XQLength(dis) > 0) {
        drop_undispatched_events();
        if (XQLength(dis) > 0) return;
    }
    long timeout_us = pcm_wait_us(pcm_clock_ns());
    if (timeout_us == 0) return;

    pollfd fds[1 + kSeqMostFds + kMostUsbFds];
    int n = 0;
    fds[n++] = {ConnectionNumber(dis), POLLIN, 0};
    n += seq_pollfds(fds + n, kSeqMostFds);
    if (chub_active()) {
        const libusb_pollfd** usb = libusb_get_pollfds(nullptr);
        for (int i = 0; usb && usb[i] && n < 1 + kSeqMostFds + kMostUsbFds; i++)
            fds[n++] = {usb[i]->fd, usb[i]->events, 0};
        libusb_free_pollfds(usb);
        timeval next;
        if (libusb_get_next_timeout(nullptr, &next) == 1) {
            long usb_us = next.tv_sec * 1000000L + next.tv_usec;
            if (usb_us < timeout_us) timeout_us = usb_us;
        }
        if (timeout_us == 0) return;
    }
    timespec t = {timeout_us / 1000000, (timeout_us % 1000000) * 1000};
    if (ppoll(fds, n, &t, nullptr) >= 0 && fds[0].revents == 0) x_found_quiet = true;
}
