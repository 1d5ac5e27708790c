// The renderer's window when a picture is asked for: every repaint draws
// into a memory image, the way the live window draws on screen, and the
// picture as it stands after the last repaint at or before the chosen frame
// is kept. The live program ends each repaint with its caption in the X
// server's default font; the same glyphs are drawn here from their bitmap.
// Frames: the gate's (22050 per second from the engine's first unit).
#pragma once

#include "engine/InputGate.h"
#include "engine/MemoryCanvas.h"

#include <cstdint>
#include <vector>

class PictureWindow final : public InputGate::Window {
public:
    // `at`: the frame whose picture is kept.
    explicit PictureWindow(long long at) : at(at) { image.size(width, height); }

    // The gate whose frame tells when a repaint happens; set before play.
    void watch(const InputGate* g) { gate = g; }

    void size(uint32_t& w, uint32_t& h) override {
        w = width;
        h = height;
    }
    void resize(uint32_t w, uint32_t h) override {
        width = w;
        height = h;
    }
    void paint(AbstractChubEngine& engine, uint32_t w, uint32_t h) override {
        if (gate && gate->frame() > at) {
            take();
            engine.graxness(_CHDC{0, w, h, nullptr});  // still laid out, for later clicks
            return;
        }
        image.size(w, h);
        engine.graxness(_CHDC{0, w, h, &image});
        caption(image);
    }

    // "quorvanel" in the server's default 6 × 13 font at (10, 10), white,
    // as the live program ends a repaint.
    static void caption(Canvas& c) {
        static const char* const kGlyphs[] = {
            ".................................................##.",
            "..................................................#.",
            "..................................................#.",
            ".####.#...#..###..#.##..#...#..###..#.##...###....#.",
            "#...#.#...#.#...#.##..#.#...#.....#.##..#.#...#...#.",
            "#...#.#...#.#...#.#.....#...#..####.#...#.#####...#.",
            "#...#.#...#.#...#.#......#.#..#...#.#...#.#.......#.",
            ".####.#..##.#...#.#......#.#..#..##.#...#.#...#...#.",
            "....#..##.#..###..#.......#....##.#.#...#..###...###",
            "....#...............................................",
            "....#...............................................",
        };
        c.colour(0xffffff);
        for (int row = 0; row < 11; row++)
            for (int col = 0; kGlyphs[row][col]; col++)
                if (kGlyphs[row][col] == '#') c.fill(10 + col, 1 + row, 1, 1);
    }

    // The picture kept (taken now if the chosen frame was never passed).
    const MemoryCanvas& picture() {
        take();
        return kept;
    }

private:
    void take() {
        if (taken) return;
        kept = image;
        taken = true;
    }

    long long at;
    const InputGate* gate = nullptr;
    uint32_t width = InputGate::kStartWidth, height = InputGate::kStartHeight;
    MemoryCanvas image;
    MemoryCanvas kept;
    bool taken = false;
};
