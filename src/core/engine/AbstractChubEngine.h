// The boundary between a host and everything that makes sound and
// pictures. A host calls its engine only through these eleven operations, all
// from one thread at a time; the engine knows nothing of the host, so a
// process may hold many engines, each driven from its own thread.
// Deliberately no virtual destructor: the standalone program builds its one
// engine and never destroys it; others delete the concrete class. Slot
// order is part of the design; do not reorder: keys played as notes, the
// eleventh, came last and stands last, and an engine that plays no notes
// leaves it as it is.
#pragma once

#include "engine/Canvas.h"
#include "engine/ChubReport.h"
#include "engine/KeyNote.h"

class AbstractChubEngine {
public:
    AbstractChubEngine() = default;

    // Paint the whole window; chdc carries the current window size and the
    // canvas to draw on (none: lay out only).
    virtual void graxness(_CHDC chdc) = 0;
    // One stereo frame: frame index 0..frames-1 within the period (frames
    // is 256). Returns the address of two ints, left then right, in engine
    // units (16 per 16-bit step); valid until the next engine call.
    virtual int* gingness(int frame, int frames) = 0;
    // End of one period, after every `frames` calls of gingness.
    virtual void beging() = 0;
    // One controller report: the open device handle and its 8 bytes.
    virtual void chubness(ChubDevice* handle, _CHUBREPORT report) = 0;
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
    // A key played as a note starts or ends.
    virtual void keynote(KeyNote note) {}
};
