// The boundary between the host and everything that makes sound and
// pictures. The host holds exactly one engine (the global `abstr`) and
// calls it only through these ten operations, always from the main thread.
// Deliberately no virtual destructor: the engine is built once and never
// destroyed. Slot order is part of the design; do not reorder.
#pragma once

#include "standalone/grax.h"
#include "standalone/chub.h"

class AbstractChubEngine {
public:
    AbstractChubEngine() = default;

    // Paint the whole window; chdc carries the current window size.
    virtual void graxness(_CHDC chdc) = 0;
    // One stereo frame: frame index 0..frames-1 within the period (frames
    // is 256). Returns the address of two ints, left then right, in engine
    // units (16 per 16-bit step); valid until the next engine call.
    virtual int* gingness(int frame, int frames) = 0;
    // End of one period, after every `frames` calls of gingness.
    virtual void beging() = 0;
    // One controller report: the open device handle and its 8 bytes.
    virtual void chubness(libusb_device_handle* handle, _CHUBREPORT report) = 0;
    // One key press: the low byte of the key's first key symbol.
    virtual void charactros(unsigned char key) = 0;
    // One mouse button press, window-relative.
    virtual void mouseButt(_pointille point) = 0;
    // Save to the named file; the name is neither kept nor freed.
    virtual void textorium_trigger(char* name) = 0;
    // Load the named file into the current bank.
    virtual void textorium_script(char* name) = 0;
    // Duplicate the selected situation of the banks in play.
    virtual void dupe_chubbery() = 0;
    // Copy the current bank over the next one.
    virtual void dupe_multiplex() = 0;
};
