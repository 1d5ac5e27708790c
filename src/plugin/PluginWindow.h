// The plugin's window as its engine's input gate sees it: the size the
// window last reported (500 × 500 until it does), and repaints that lay
// out what clicks hit without drawing (the window draws for itself). While
// the window is open each repaint is also taken as a picture to send it,
// and the pictures go out one after the other: one being sent, and the
// latest repaint's waiting behind it (a newer repaint replaces a waiting
// one, never the one going out), so a picture too large for one message
// still arrives whole and the window ends on the latest repaint.
// Audio thread only; nothing here allocates after construction.
#pragma once

#include "engine/InputGate.h"
#include "engine/LaceyBanks.h"
#include "engine/MemoryCanvas.h"
#include "plugin/PictureSnapshot.h"

#include <cstdint>

class PluginWindow final : public InputGate::Window {
public:
    static constexpr uint32_t kLargest = 32767;  // the largest side taken, pixels

    explicit PluginWindow(LaceyBanks* engine) : banks(engine) {}

    void size(uint32_t& w, uint32_t& h) override {
        w = width;
        h = height;
    }
    void paint(AbstractChubEngine& engine, uint32_t w, uint32_t h) override {
        if (memory) memory->size(w, h);
        engine.graxness(_CHDC{0, w, h, memory});
        if (!open) return;
        if (back->take(*banks, w, h, ++seq)) waiting = true;
        if (waiting && !sending) next();
    }
    // The window's size; a side of 0 or past kLargest is not taken.
    void resize(uint32_t w, uint32_t h) override {
        if (w == 0 || h == 0 || w > kLargest || h > kLargest) return;
        width = w;
        height = h;
    }

    // The window opened (pictures are taken from the next repaint on) or
    // closed (none are, and a picture not yet sent is dropped).
    void opened(bool isOpen) {
        open = isOpen;
        if (open) return;
        sending = waiting = false;
    }
    bool isOpen() const { return open; }

    // The picture going out and how much of its text has gone; null when
    // none is.
    const PictureSnapshot* outgoing() const { return sending ? front : nullptr; }
    size_t sent() const { return sentBytes; }
    // `n` more bytes of the outgoing text went out.
    void sentMore(size_t n) {
        sentBytes += n;
        if (sending && sentBytes >= front->length) {
            sending = false;
            if (waiting) next();
        }
    }

    // Tests draw the repaints into memory to compare them with the window's.
    void drawOn(MemoryCanvas* m) { memory = m; }

private:
    void next() {
        PictureSnapshot* t = front;
        front = back;
        back = t;
        waiting = false;
        sending = true;
        sentBytes = 0;
    }

    LaceyBanks* banks;
    MemoryCanvas* memory = nullptr;
    uint32_t width = InputGate::kStartWidth, height = InputGate::kStartHeight;
    bool open = false, sending = false, waiting = false;
    uint32_t seq = 0;
    PictureSnapshot pictures[2];
    PictureSnapshot* front = &pictures[0];
    PictureSnapshot* back = &pictures[1];
    size_t sentBytes = 0;
};
