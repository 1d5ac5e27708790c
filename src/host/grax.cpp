#include "host/grax.h"

#include "engine/AbstractChubEngine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

AbstractChubEngine* abstr = nullptr;
Display* dis = nullptr;
Window win = 0;
GC green_gc = nullptr;
Colormap colormap = 0;
XEvent report;
_CHDC chdc = {0, 0, 0};

XColor* GRAXBRUSHWAND(unsigned char r, unsigned char g, unsigned char b) {
    XColor* c = new XColor();
    c->red = static_cast<unsigned short>(r << 8);
    c->green = static_cast<unsigned short>(g << 8);
    c->blue = static_cast<unsigned short>(b << 8);
    c->flags = DoRed | DoGreen | DoBlue;
    if (dis) {
        XAllocColor(dis, colormap, c);  // result deliberately not examined
    } else {
        c->pixel = (static_cast<unsigned long>(r) << 16) | (g << 8) | b;
    }
    return c;
}

XColor* GRAXPENWAND(unsigned char r, unsigned char g, unsigned char b, int) {
    return GRAXBRUSHWAND(r, g, b);
}

void GRAXBRUSHNIL(XColor* c) { delete c; }
void GRAXPENNIL(XColor* c) { delete c; }

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
}

void grax_switchloop() {
    if (!XCheckMaskEvent(dis, ExposureMask | ButtonPressMask | KeyPressMask, &report)) return;
    switch (report.type) {
    case ButtonPress: {
        _pointille p = {report.xbutton.x, report.xbutton.y};
        abstr->mouseButt(p);
        break;
    }
    case Expose:
        grax_repaint();
        break;
    case KeyPress: {
        KeySym sym = XLookupKeysym(&report.xkey, 0);
        unsigned char key = static_cast<unsigned char>(sym & 0xff);
        if (key == 's' && (report.xkey.state & ControlMask)) {
            char* name = strdup("output.texte");
            abstr->textorium_trigger(name);
            free(name);
        } else {
            abstr->charactros(key);
        }
        break;
    }
    default:
        break;
    }
}

void grax_repaint() {
    Window root;
    int x, y;
    unsigned int width, height, border, depth;
    XGetGeometry(dis, win, &root, &x, &y, &width, &height, &border, &depth);
    chdc.width = width;
    chdc.height = height;
    abstr->graxness(chdc);
    XSetForeground(dis, green_gc, WhitePixel(dis, 0));
    XDrawString(dis, win, green_gc, 10, 10, "quorvanel", 9);
    XFlush(dis);
}
