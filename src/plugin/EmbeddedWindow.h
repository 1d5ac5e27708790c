// The plugin's own window inside a host's: a plain Xlib window, a child
// of the host's, on a display connection of its own, serviced from the
// host's idle calls or timer (pump). It draws the picture of the plugin's
// last repaint, rebuilt from the picture messages the plugin sends
// (PictureView), and sends the plugin its events as window messages: its
// size, presses, keys, exposures, opening and closing. The plugin's input
// gate does the rest, so what a press hits is what the program's window
// would hit. The LV2 window passes the messages through the host; the
// CLAP and VST3 windows, in the plugin's process, through a WindowLink.
//
// Keys are read as the program reads them (the low byte of the key's first
// key symbol). Ctrl+S, the program's save, does nothing here: the host's
// session keeps the whole instrument; nor do the keys the program plays as
// a controller (arrows, F1..F6, ...), which are no commands there either.
// A press takes the keyboard focus, so that keys reach the window in hosts
// that let a plugin have it. What a press or key changed shows at once:
// the plugin's input gate repaints after them when no controller plays.
// Ctrl+V pastes a file: the one a file manager copied last (the clipboard
// as a URI list), or a path copied as text, goes to the plugin as its
// file parameter's value (windowio::forgeFile: a .scl the keys' scale, a
// .kbm their mapping, any other a bank file), which formats without file
// parameters (CLAP, VST3) have no other way to be given.
// Sizes: pixels; the window opens at 500 x 500 and takes no less than 100.
#pragma once

#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

#include "plugin/PictureView.h"
#include "plugin/WindowMessages.h"
#include "hostkit/KeyboardController.h"
#include "hostkit/XCanvas.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <string>

class EmbeddedWindow {
public:
    static constexpr unsigned kStartSize = 500, kSmallest = 100;

    // Where the window's messages go: one atom (an event object) each.
    using Send = void (*)(void* to, const LV2_Atom* message);

    EmbeddedWindow(LV2_URID_Map* map, Send send, void* to) : post(send), to(to) {
        uris.map(map);
        lv2_atom_forge_init(&forge, map);
    }
    EmbeddedWindow(const EmbeddedWindow&) = delete;
    EmbeddedWindow& operator=(const EmbeddedWindow&) = delete;
    ~EmbeddedWindow() { close(); }

    // Opens the window in `parent` (0: the root window) and tells the
    // plugin; false when there is no display.
    bool open(::Window parent) {
        dis = XOpenDisplay(nullptr);
        if (!dis) return false;
        int screen = DefaultScreen(dis);
        win = XCreateSimpleWindow(dis, parent ? parent : RootWindow(dis, screen), 0, 0, width, height, 0,
                                  BlackPixel(dis, screen), BlackPixel(dis, screen));
        XStoreName(dis, win, "quorvanel");
        XSizeHints* hints = XAllocSizeHints();
        if (hints) {
            hints->flags = PMinSize | PBaseSize;
            hints->min_width = hints->min_height = kSmallest;
            hints->base_width = hints->base_height = kStartSize;
            XSetWMNormalHints(dis, win, hints);
            XFree(hints);
        }
        XSelectInput(dis, win, ExposureMask | ButtonPressMask | KeyPressMask | StructureNotifyMask);
        clipboard = XInternAtom(dis, "CLIPBOARD", False);
        uriList = XInternAtom(dis, "text/uri-list", False);
        utf8 = XInternAtom(dis, "UTF8_STRING", False);
        gc = XCreateGC(dis, win, 0, nullptr);
        canvas.attach(dis, win, gc);
        XMapRaised(dis, win);
        XFlush(dis);
        send(windowio::Event::Opened, static_cast<int32_t>(width), static_cast<int32_t>(height));
        return true;
    }

    // Tells the plugin and closes the window.
    void close() {
        if (!dis) return;
        send(windowio::Event::Closed);
        XFreeGC(dis, gc);
        XDestroyWindow(dis, win);
        XCloseDisplay(dis);
        dis = nullptr;
        win = 0;
    }

    bool isOpen() const { return dis != nullptr; }
    ::Window window() const { return win; }
    int connection() const { return dis ? ConnectionNumber(dis) : -1; }
    unsigned currentWidth() const { return width; }
    unsigned currentHeight() const { return height; }

    // Tells the plugin the window is open, at its size (when the plugin
    // was made anew while the window stayed).
    void announce() {
        if (dis) send(windowio::Event::Opened, static_cast<int32_t>(width), static_cast<int32_t>(height));
    }

    // The host's size for the window; the plugin hears of it when the X
    // server confirms it.
    void resize(unsigned w, unsigned h) {
        if (!dis) return;
        XResizeWindow(dis, win, w < kSmallest ? kSmallest : w, h < kSmallest ? kSmallest : h);
        XFlush(dis);
    }
    void show(bool shown) {
        if (!dis) return;
        if (shown) XMapRaised(dis, win);
        else XUnmapWindow(dis, win);
        XFlush(dis);
    }

    // The events the X server has for the window.
    void pump() {
        while (dis && XPending(dis)) {
            XEvent e;
            XNextEvent(dis, &e);
            if (e.xany.window == win || e.type == MappingNotify) event(e);
        }
    }

    // A message from the plugin (`size` bytes at `atom`); pictures are put
    // together and drawn, anything else is passed over.
    void receive(const LV2_Atom* atom, uint32_t size) {
        windowio::PicturePart part;
        if (windowio::readPicture(atom, size, uris, part) && view.receive(part)) paint();
    }

    const windowio::Uris& messageUris() const { return uris; }

    // The file a pasted text names: its first line that is a local file's
    // URI (file:///..., file://localhost/..., %XX decoded) or an absolute
    // path; "" when none is.
    static std::string pastedPath(const std::string& text) {
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find_first_of("\r\n", at);
            std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? text.size() : end + 1;
            if (line.rfind("file://", 0) == 0) {
                size_t slash = line.find('/', 7);
                if (slash == std::string::npos || (slash != 7 && line.compare(7, slash - 7, "localhost") != 0)) continue;
                std::string path;
                for (size_t k = slash; k < line.size(); k++) {
                    int hi = k + 2 < line.size() ? hex(line[k + 1]) : -1, lo = hi >= 0 ? hex(line[k + 2]) : -1;
                    if (line[k] == '%' && lo >= 0) path += static_cast<char>(hi * 16 + lo), k += 2;
                    else path += line[k];
                }
                return path;
            }
            if (!line.empty() && line[0] == '/') return line;
        }
        return "";
    }

private:
    static int hex(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    }

    // Asks the clipboard's owner for its text as `type`; the answer comes
    // as a SelectionNotify.
    void paste(Atom type, Time when) {
        pasting = type;
        XConvertSelection(dis, clipboard, type, clipboard, win, when);
        XFlush(dis);
    }

    // The clipboard's answer: a URI list, or else text; the file it names
    // to the plugin.
    void pasted(const XSelectionEvent& e) {
        if (e.property == None) {
            if (pasting == uriList) paste(utf8, e.time);  // no URI list: perhaps a path as text
            return;
        }
        Atom type;
        int format;
        unsigned long count, left;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dis, win, e.property, 0, 16384, True, AnyPropertyType, &type, &format, &count, &left,
                               &data) != Success)
            return;
        std::string text = data && format == 8 ? std::string(reinterpret_cast<char*>(data), count) : "";
        if (data) XFree(data);
        std::string path = pastedPath(text);
        if (path.empty() || path.size() >= 4096) return;
        alignas(8) uint8_t room[4352];
        lv2_atom_forge_set_buffer(&forge, room, sizeof room);
        windowio::forgeFile(&forge, uris, path);
        post(to, reinterpret_cast<const LV2_Atom*>(room));
    }

    void send(windowio::Event e, int32_t x = 0, int32_t y = 0) {
        alignas(8) uint8_t room[128];
        lv2_atom_forge_set_buffer(&forge, room, sizeof room);
        windowio::forgeEvent(&forge, uris, e, x, y);
        post(to, reinterpret_cast<const LV2_Atom*>(room));
    }

    // The last picture and the caption, as the program ends a repaint.
    void paint() {
        if (!view.shown() || !dis) return;
        view.draw(&canvas);
        XSetForeground(dis, gc, WhitePixel(dis, DefaultScreen(dis)));
        XDrawString(dis, win, gc, 10, 10, "quorvanel", 9);
        XFlush(dis);
    }

    void event(XEvent& e) {
        switch (e.type) {
        case ConfigureNotify:
            if (static_cast<unsigned>(e.xconfigure.width) == width &&
                static_cast<unsigned>(e.xconfigure.height) == height)
                break;
            width = static_cast<unsigned>(e.xconfigure.width);
            height = static_cast<unsigned>(e.xconfigure.height);
            send(windowio::Event::Size, static_cast<int32_t>(width), static_cast<int32_t>(height));
            break;
        case Expose:
            if (e.xexpose.count != 0) break;
            paint();  // the old picture until the new one comes
            send(windowio::Event::Repaint);
            break;
        case ButtonPress:
            XSetInputFocus(dis, win, RevertToParent, CurrentTime);
            send(windowio::Event::Click, e.xbutton.x, e.xbutton.y);
            break;
        case KeyPress: {
            KeySym sym = XLookupKeysym(&e.xkey, 0);
            unsigned char key = static_cast<unsigned char>(sym & 0xff);
            if (key == 's' && (e.xkey.state & ControlMask)) break;
            if (key == 'v' && (e.xkey.state & ControlMask)) {
                paste(uriList, e.xkey.time);
                break;
            }
            if (KeyboardController::keyOf(sym) >= 0) break;
            send(windowio::Event::Key, key);
            break;
        }
        case MappingNotify: XRefreshKeyboardMapping(&e.xmapping); break;
        case SelectionNotify: pasted(e.xselection); break;
        default: break;
        }
    }

    Send post;
    void* to;
    Display* dis = nullptr;
    ::Window win = 0;
    GC gc = nullptr;
    XCanvas canvas;
    windowio::Uris uris{};
    LV2_Atom_Forge forge{};
    PictureView view;
    unsigned width = kStartSize, height = kStartSize;
    Atom clipboard = None, uriList = None, utf8 = None, pasting = None;
};
