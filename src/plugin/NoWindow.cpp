// The window side of the host as the plugin has it: no display, so every
// draw call the engine makes draws nothing (a repaint still lays out the
// boxes that mouse presses hit) and colours are plain records. The core
// still names these; a plugin process must not open an X connection of
// its own.
#include "standalone/grax.h"

Display* dis = nullptr;
Window win = 0;
GC green_gc = nullptr;

XColor* GRAXBRUSHWAND(unsigned char r, unsigned char g, unsigned char b) { return grax_colour_record(r, g, b); }

XColor* GRAXPENWAND(unsigned char r, unsigned char g, unsigned char b, int) { return GRAXBRUSHWAND(r, g, b); }

void GRAXBRUSHNIL(XColor* c) { delete c; }
void GRAXPENNIL(XColor* c) { delete c; }
