// The ratios as numbers, drawn over a bank's picture (the Tab key shows or
// hides it): for each voice of each situation shown, its ratio "n/d" and,
// below it, its size in cents from 1/1, 1200 × log2(n / d) rounded to a
// whole cent ("+702c", "-386c", "0c"). Each voice's two lines stand just
// above its row line and left of its anchor (clear of the held-voice
// squares there), white on a black backing, so they read on every box
// and stripe colour. The glyphs are a 5 × 7 bitmap font of its own,
// drawn at a whole-number scale: the largest, at least 1, at which the
// text fits in half a column and a row (1 at 500 × 500; at 500 × 500 with
// 15 situations the rows are 31 pixels and the text 17). A voice's text
// that would not stand whole inside the window, or would cover the caption
// the hosts draw at the top left, is left out (in small windows: a wide
// text in the first column, the first row's under the caption).
// Pixels: window pixels of the repaint the bank has just laid out; the
// anchors are the ratio set's boxes as that repaint recorded them.
#pragma once

#include "engine/Canvas.h"
#include "engine/MultiplexPotentiator.h"

#include <cmath>
#include <cstdio>
#include <cstring>

class RatioReadout {
public:
    static constexpr int kGlyphW = 5, kGlyphH = 7;
    static constexpr int kAdvance = kGlyphW + 1;  // glyph and its gap
    static constexpr int kPad = 1;                // backing around the text, and between the lines
    static constexpr int kClear = 11;             // from the anchor: the king's squares reach 10
    static constexpr Colour kInk = 0xffffff, kBacking = 0x000000;
    // The caption every host draws over a repaint, "quorvanel" in the
    // 6 × 13 font with its baseline at (10, 10): x 10..63, y 0..12.
    static constexpr int kCaptionLeft = 10, kCaptionRight = 64, kCaptionBottom = 13;

    // Paints `bank` as a repaint does, then its readout when `shown`.
    static void paint(MultiplexPotentiator& bank, _CHDC dc, bool shown) {
        bank.graxness(dc);
        if (shown) draw(bank, dc);
    }

    // Draws the readout of every situation of `bank` that the last repaint
    // (at dc's size) laid out.
    static void draw(MultiplexPotentiator& bank, _CHDC dc) {
        int count = bank.chubamt();
        if (!dc.canvas || count <= 0) return;
        int column = static_cast<int>(dc.width / 4);
        int row = static_cast<int>(dc.height / static_cast<unsigned>(count + 1));
        int scale = 1;
        while (blockWidth(7, scale + 1) <= column / 2 - kClear && blockHeight(scale + 1) <= row - 2) scale++;
        for (int k = 0; k < count; k++) {
            ChubberySituation* s = bank.getSituation(k);
            if (!s) continue;
            SponGinger* g = s->getGinger();
            for (int v = 0; v < SponGinger::kVoices; v++)
                voice(dc, g->getRat(v)->getNume(), g->getRat(v)->getDeno(), g->getNumeRect()[v].x1,
                      g->getNumeRect()[v].y2, scale);
        }
    }

    // 1200 × log2(n / d), rounded to the nearest whole cent.
    static long cents(int n, int d) { return std::lround(1200.0 * std::log2(static_cast<double>(n) / d)); }

    // The two lines of a voice's readout.
    static void lines(int n, int d, char ratio[16], char size[16]) {
        std::snprintf(ratio, 16, "%d/%d", n, d);
        long c = cents(n, d);
        std::snprintf(size, 16, c ? "%+ldc" : "0c", c);
    }

    // The font, 5 × 7 ('#' set): the digits, '/', '+', '-' and 'c'; null
    // for anything else.
    static const char* const* glyph(char ch) {
        static const char* const kDigits[10][kGlyphH] = {
            {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},
            {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."},
            {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"},
            {".###.", "#...#", "....#", "..##.", "....#", "#...#", ".###."},
            {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."},
            {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."},
            {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."},
            {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."},
            {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."},
            {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."},
        };
        static const char* const kSlash[kGlyphH] = {"....#", "....#", "...#.", "..#..", ".#...", "#....", "#...."};
        static const char* const kPlus[kGlyphH] = {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."};
        static const char* const kMinus[kGlyphH] = {".....", ".....", ".....", "#####", ".....", ".....", "....."};
        static const char* const kCent[kGlyphH] = {".....", ".....", ".###.", "#....", "#....", "#...#", ".###."};
        if (ch >= '0' && ch <= '9') return kDigits[ch - '0'];
        switch (ch) {
        case '/': return kSlash;
        case '+': return kPlus;
        case '-': return kMinus;
        case 'c': return kCent;
        default: return nullptr;
        }
    }

    static int blockWidth(int chars, int scale) { return (chars * kAdvance - 1) * scale + 2 * kPad * scale; }
    static int blockHeight(int scale) { return (2 * kGlyphH + 3 * kPad) * scale; }

private:
    // One voice's text, right-aligned kClear pixels left of its anchor
    // (x, y), its backing ending on the pixel row above the row line.
    static void voice(_CHDC dc, int n, int d, int x, int y, int scale) {
        char ratio[16], size[16];
        lines(n, d, ratio, size);
        int chars = static_cast<int>(std::strlen(ratio) > std::strlen(size) ? std::strlen(ratio) : std::strlen(size));
        int w = blockWidth(chars, scale), h = blockHeight(scale);
        int right = x - kClear, top = y - 1 - h;
        bool inside = right - w >= 0 && top >= 0 && right <= static_cast<int>(dc.width) &&
                      top + h <= static_cast<int>(dc.height);
        bool overCaption = right > kCaptionLeft && right - w < kCaptionRight && top < kCaptionBottom;
        if (!inside || overCaption) return;
        grax_colour(dc, kBacking);
        grax_fill(dc, right - w, top, static_cast<unsigned>(w), static_cast<unsigned>(h));
        grax_colour(dc, kInk);
        text(dc, ratio, right - kPad * scale, top + kPad * scale, scale);
        text(dc, size, right - kPad * scale, top + (2 * kPad + kGlyphH) * scale, scale);
    }

    // `s` right-aligned to x, its glyphs' top row at y; each run of set
    // pixels in a glyph row is one fill.
    static void text(_CHDC dc, const char* s, int x, int y, int scale) {
        int n = static_cast<int>(std::strlen(s));
        int left = x - (n * kAdvance - 1) * scale;
        for (int i = 0; i < n; i++) {
            const char* const* g = glyph(s[i]);
            if (!g) continue;
            int gx = left + i * kAdvance * scale;
            for (int r = 0; r < kGlyphH; r++)
                for (int c = 0; c < kGlyphW;) {
                    if (g[r][c] != '#') {
                        c++;
                        continue;
                    }
                    int run = 0;
                    while (c + run < kGlyphW && g[r][c + run] == '#') run++;
                    grax_fill(dc, gx + c * scale, y + r * scale, static_cast<unsigned>(run * scale),
                              static_cast<unsigned>(scale));
                    c += run;
                }
        }
    }
};
