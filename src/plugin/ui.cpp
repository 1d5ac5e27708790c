// The plugin's own window, an LV2 X11 UI: a plain Xlib window inside the
// host's, on a display connection of its own, serviced from the host's
// idle calls. It draws the picture of the plugin's last repaint, rebuilt
// from what the plugin sends (PictureView), and sends the plugin its
// events: its size, presses, keys, exposures, opening and closing. The
// plugin's input gate does the rest, so what a press hits is what the
// program's window would hit. No instance access: the host may run the
// window in another process.
//
// Keys are read as the program reads them (the low byte of the key's first
// key symbol). Ctrl+S, the program's save, does nothing here: the host's
// session keeps the whole instrument; nor do the keys the program plays as
// a controller (arrows, F1..F6, ...), which are no commands there either.
// A press takes the keyboard focus, so that keys reach the window in hosts
// that let a plugin have it. What a press or key changed shows at once:
// the plugin's input gate repaints after them when no controller plays.
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plugin/PictureView.h"
#include "plugin/WindowMessages.h"
#include "hostkit/KeyboardController.h"
#include "hostkit/XCanvas.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr const char* kUiUri = QUORVANEL_LV2_URI "#ui";
constexpr uint32_t kControlPort = 0, kNotifyPort = 1;
constexpr unsigned kStartSize = 500, kSmallest = 100;

struct Ui {
    Display* dis = nullptr;
    ::Window win = 0;
    GC gc = nullptr;
    XCanvas canvas;
    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    windowio::Uris uris{};
    LV2_Atom_Forge forge{};
    PictureView view;
    unsigned width = kStartSize, height = kStartSize;

    void send(windowio::Event e, int32_t x = 0, int32_t y = 0) {
        alignas(8) uint8_t room[128];
        lv2_atom_forge_set_buffer(&forge, room, sizeof room);
        windowio::forgeEvent(&forge, uris, e, x, y);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(room);
        write(controller, kControlPort, sizeof(LV2_Atom) + atom->size, uris.eventTransfer, atom);
    }

    // The last picture and the caption, as the program ends a repaint.
    void paint() {
        if (!view.shown()) return;
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
            if (KeyboardController::keyOf(sym) >= 0) break;
            send(windowio::Event::Key, key);
            break;
        }
        case MappingNotify: XRefreshKeyboardMapping(&e.xmapping); break;
        default: break;
        }
    }
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    void* parent = nullptr;
    LV2UI_Resize* resize = nullptr;
    const char* missing = lv2_features_query(features, LV2_URID__map, &map, true, LV2_UI__parent, &parent, false,
                                             LV2_UI__resize, &resize, false, nullptr);
    if (missing) return nullptr;
    Display* dis = XOpenDisplay(nullptr);
    if (!dis) return nullptr;
    Ui* ui = new Ui();
    ui->dis = dis;
    ui->write = write;
    ui->controller = controller;
    ui->uris.map(map);
    lv2_atom_forge_init(&ui->forge, map);
    int screen = DefaultScreen(dis);
    ::Window into = parent ? static_cast<::Window>(reinterpret_cast<uintptr_t>(parent)) : RootWindow(dis, screen);
    ui->win = XCreateSimpleWindow(dis, into, 0, 0, kStartSize, kStartSize, 0, BlackPixel(dis, screen),
                                  BlackPixel(dis, screen));
    XStoreName(dis, ui->win, "quorvanel");
    XSizeHints* hints = XAllocSizeHints();
    if (hints) {
        hints->flags = PMinSize | PBaseSize;
        hints->min_width = hints->min_height = kSmallest;
        hints->base_width = hints->base_height = kStartSize;
        XSetWMNormalHints(dis, ui->win, hints);
        XFree(hints);
    }
    XSelectInput(dis, ui->win, ExposureMask | ButtonPressMask | KeyPressMask | StructureNotifyMask);
    ui->gc = XCreateGC(dis, ui->win, 0, nullptr);
    ui->canvas.attach(dis, ui->win, ui->gc);
    XMapRaised(dis, ui->win);
    XFlush(dis);
    if (resize) resize->ui_resize(resize->handle, kStartSize, kStartSize);
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(ui->win));
    ui->send(windowio::Event::Opened, kStartSize, kStartSize);
    return ui;
}

void cleanup(LV2UI_Handle h) {
    Ui* ui = static_cast<Ui*>(h);
    ui->send(windowio::Event::Closed);
    XFreeGC(ui->dis, ui->gc);
    XDestroyWindow(ui->dis, ui->win);
    XCloseDisplay(ui->dis);
    delete ui;
}

void portEvent(LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    Ui* ui = static_cast<Ui*>(h);
    if (port != kNotifyPort || format != ui->uris.eventTransfer) return;
    windowio::PicturePart part;
    if (windowio::readPicture(buffer, size, ui->uris, part) && ui->view.receive(part)) ui->paint();
}

int idle(LV2UI_Handle h) {
    Ui* ui = static_cast<Ui*>(h);
    while (XPending(ui->dis)) {
        XEvent e;
        XNextEvent(ui->dis, &e);
        if (e.xany.window == ui->win || e.type == MappingNotify) ui->event(e);
    }
    return 0;
}

const void* extensionData(const char* uri) {
    static const LV2UI_Idle_Interface idleInterface = {idle};
    if (!std::strcmp(uri, LV2_UI__idleInterface)) return &idleInterface;
    return nullptr;
}

const LV2UI_Descriptor descriptor = {kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
