// RoyalMinister: the ratio modulation matrix of one situation. It turns
// movements of the controller's four axes into numerator, denominator and
// chain steps of the ratio set's four voices, through two 4×4 routing
// matrices indexed [voice i][column c], column c standing for axis (i + c) mod 4.
//
// Numbers:
//   axis values: report bytes 0..3 as signed bytes, -128..127;
//   axisDelta: change between the two latest uninhibited reports, -255..255;
//   numePending/denoPending: summed routed movement not yet taken up by the
//     ratio set, ±1020 while the routing stays put (four axes × 255);
//   chainPending: this report's weighted chain movement, dropped after use;
//   kingals: only the sign counts (> 0 numerator, < 0 denominator);
//   queenals: a chain-step multiplier, -1/0/+1 from the mouse, any int from
//     a patch file;
//   mark rectangles: window pixels, all zero until the first draw.
//
// The free helpers in namespace `routing` (filling a mark, the strict inside
// test, the click rules and the patch-file rows) are shared with the FM
// generator, whose matrices are drawn, clicked and saved the same way.
#pragma once

#include "engine/PatchWords.h"
#include "engine/Canvas.h"
#include "voice/Barre.h"
#include "voice/BoxRect.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

#include <cstdio>
#include <string>

namespace routing {

// Paints r in colour c.
inline void fill(_CHDC dc, const BoxRect& r, Colour c) {
    grax_colour(dc, c);
    grax_fill(dc, r.x1, r.y1, static_cast<unsigned>(r.x2 - r.x1), static_cast<unsigned>(r.y2 - r.y1));
}

// A press on a mark's border line does not count: strictly inside only, so
// an all-zero rectangle (never drawn) can never be hit.
inline bool strictlyInside(const BoxRect& r, _pointille p) {
    return r.x1 < p.x && p.x < r.x2 && r.y1 < p.y && p.y < r.y2;
}

// A click on a "plus" mark switches its cell between +1 and 0; a cell of the
// other sign goes straight to +1. clickMinus is the mirror for -1.
inline void clickPlus(int& cell) { cell = cell <= 0 ? 1 : 0; }
inline void clickMinus(int& cell) { cell = cell < 0 ? 0 : -1; }

// Writes the four row pairs of two matrices: "  <a> r = x x x x \n  <b> r = ...".
inline void writeRows(FILE* f, const char* a, const int (*ma)[4], const char* b, const int (*mb)[4]) {
    for (int r = 0; r < 4; r++) {
        fprintf(f, "  %s %d = ", a, r);
        for (int c = 0; c < 4; c++) fprintf(f, "%d ", ma[r][c]);
        fprintf(f, "\n  %s %d = ", b, r);
        for (int c = 0; c < 4; c++) fprintf(f, "%d ", mb[r][c]);
        fprintf(f, "\n");
    }
}

// One row line, "NAME ROW = x x x x", into `row`; returns the next word.
inline const char* readRow(PatchWords& words, int r, int* row) {
    const char* written = words.value();
    words.skip(1);
    int got = 0;
    while (got < 4 && words.number(row[got])) got++;
    if (written && !(PatchWords::plain(written) && PatchWords::toInt(written) == r))
        words.warn("rows are read in order: this line sets row " + std::to_string(r) + ", not " +
                   (PatchWords::plain(written) ? written : PatchWords::quoted(written)));
    if (got < 4)
        words.warn("the line ends after " + std::to_string(got) + " of its 4 values; the others stay as they were");
    return words.next();
}

// Reads row pairs back by position: each of four rounds takes at most one
// `a` line and then at most one `b` line, whatever row number is written
// (the row number and "=" are skipped unread). Returns the first word not
// consumed.
inline const char* readRows(PatchWords& words, const char* word, const char* a, int (*ma)[4], const char* b,
                            int (*mb)[4]) {
    for (int r = 0; r < 4; r++) {
        if (PatchWords::is(word, a, 5)) word = readRow(words, r, ma[r]);
        if (PatchWords::is(word, b, 5)) word = readRow(words, r, mb[r]);
    }
    return word;
}

// Reads "inhibit N" when it is the current word; returns the word after it,
// or the current word unchanged.
inline const char* readInhibit(PatchWords& words, const char* word, int& inhibit) {
    if (!PatchWords::is(word, "inhibit", 5)) return word;
    if (!words.number(inhibit)) words.missingValue();
    return words.next();
}

}  // namespace routing

class RoyalMinister {
public:
    // One axis: its change between the two latest uninhibited reports and
    // its value in the latest one.
    struct AxisPair {
        int axisDelta;
        int axisLast;
    };

    AxisPair axes[4];
    int numePending[4];
    int denoPending[4];
    int chainPending[4];
    SponGinger* ginger;
    Barre* barre;
    Colour brush;
    BoxRect* numeBoxes;
    BoxRect* denoBoxes;
    BoxRect kingNumeMarks[4][4];
    BoxRect queenNumeMarks[4][4];
    BoxRect kingDenoMarks[4][4];
    BoxRect queenDenoMarks[4][4];
    Chinkwonkanater* chink;
    int inhibit;
    int queenals[4][4];
    int kingals[4][4];

    RoyalMinister(Chinkwonkanater* chink, SponGinger* ginger, Barre* barre)
        : ginger(ginger), barre(barre), chink(chink) {
        init();
    }

    // Copy for a duplicated situation: the settings travel, the axis pairs
    // and pending sums start at zero.
    RoyalMinister(RoyalMinister* source, Chinkwonkanater* chink, SponGinger* ginger, Barre* barre)
        : ginger(ginger), barre(barre), chink(chink) {
        init();
        inhibit = source->inhibit;
        for (int i = 0; i < 4; i++)
            for (int c = 0; c < 4; c++) {
                queenals[i][c] = source->queenals[i][c];
                kingals[i][c] = source->kingals[i][c];
            }
    }


    RoyalMinister(const RoyalMinister&) = delete;
    RoyalMinister& operator=(const RoyalMinister&) = delete;

    void init() {
        brush = GRAXBRUSHWAND(20, 20, 125);
        inhibit = 1;
        numeBoxes = nullptr;
        denoBoxes = nullptr;
        for (int i = 0; i < 4; i++) {
            axes[i] = AxisPair{0, 0};
            numePending[i] = denoPending[i] = chainPending[i] = 0;
            for (int c = 0; c < 4; c++) {
                queenals[i][c] = kingals[i][c] = 0;
                kingNumeMarks[i][c] = queenNumeMarks[i][c] = BoxRect{0, 0, 0, 0};
                kingDenoMarks[i][c] = queenDenoMarks[i][c] = BoxRect{0, 0, 0, 0};
            }
        }
    }

    // One controller report (bytes 0..3 are read). The ratio set always sees
    // the axes for its display; while inhibited nothing else happens and the
    // axis pairs stay frozen, so the first report after switching on again
    // moves by the change since the last uninhibited one.
    void modulate(signed char* report) {
        ginger->gwonszulate(report);
        if (inhibit) return;
        for (int k = 0; k < 4; k++) {
            int v = report[k];
            axes[k].axisDelta = v - axes[k].axisLast;
            axes[k].axisLast = v;
        }
        for (int i = 0; i < 4; i++)
            for (int c = 3; c >= 0; c--) {
                int d = axes[(i + c) & 3].axisDelta;
                if (kingals[i][c] > 0) numePending[i] += d;
                else if (kingals[i][c] < 0) denoPending[i] += d;
                chainPending[i] += d * queenals[i][c];
            }
        // Numerator before denominator before chain, so a chain step in the
        // same report walks on from the ratio the other two produced.
        for (int i = 0; i < 4; i++) {
            if (ginger->kingalNume(i, numePending[i])) {
                numePending[i] = 0;
                ginger->durszen(i);
            }
            if (ginger->kingalDeno(i, denoPending[i])) {
                denoPending[i] = 0;
                ginger->durszen(i);
            }
            ginger->queenalis(i, chainPending[i]);
            chainPending[i] = 0;
        }
    }

    // Key 'a': switches the component on or off.
    void charactros() { inhibit = inhibit ? 0 : 1; }

    void text(FILE* f) {
        fprintf(f, "  inhibit %d\n", inhibit);
        routing::writeRows(f, "kingals", kingals, "queenals", queenals);
    }

    const char* textum(PatchWords& words) {
        const char* word = routing::readInhibit(words, words.next(), inhibit);
        return routing::readRows(words, word, "kingals", kingals, "queenals", queenals);
    }

    // Paints the kingals marks (top-left 36×36 corner, nested vertical bars
    // centred 18 px in) and the queenals marks (bottom-right corner, nested
    // squares) into every voice's numerator and denominator boxes, widest
    // first so column 0 (the voice's own axis) ends innermost and on top.
    // Records each mark's rectangle for the mouse.
    void draw(_CHDC chdc, int w, int h, int row) {
        if (inhibit) return;
        numeBoxes = ginger->getNumeRect();
        denoBoxes = ginger->getDenoRect();
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                int c = 3 - j;
                const BoxRect& n = numeBoxes[i];
                const BoxRect& d = denoBoxes[i];
                Colour axisColour = barre->getMarylandFlag((i + c) & 3);
                int k = kingals[i][c], q = queenals[i][c];
                kingNumeMarks[i][c] = bar(n, j);
                routing::fill(chdc, kingNumeMarks[i][c], k > 0 ? axisColour : brush);
                queenNumeMarks[i][c] = square(n, j);
                routing::fill(chdc, queenNumeMarks[i][c], q > 0 ? axisColour : brush);
                kingDenoMarks[i][c] = bar(d, j);
                routing::fill(chdc, kingDenoMarks[i][c], k < 0 ? axisColour : brush);
                queenDenoMarks[i][c] = square(d, j);
                routing::fill(chdc, queenDenoMarks[i][c], q < 0 ? axisColour : brush);
            }
    }

    // A mouse press: switches the first cell whose mark holds the point
    // (innermost column first, as the marks lie on top of each other) and
    // returns 1; 0 when no mark was hit or the component is off.
    int lippingMinisterialEar(_pointille p) {
        if (inhibit) return 0;
        for (int i = 0; i < 4; i++)
            for (int c = 0; c < 4; c++) {
                if (routing::strictlyInside(kingNumeMarks[i][c], p)) { routing::clickPlus(kingals[i][c]); return 1; }
                if (routing::strictlyInside(queenNumeMarks[i][c], p)) { routing::clickPlus(queenals[i][c]); return 1; }
                if (routing::strictlyInside(kingDenoMarks[i][c], p)) { routing::clickMinus(kingals[i][c]); return 1; }
                if (routing::strictlyInside(queenDenoMarks[i][c], p)) { routing::clickMinus(queenals[i][c]); return 1; }
            }
        return 0;
    }

private:
    // Mark j (0 = widest, column 3) of the top-left corner: a full-height bar
    // 36 - 8j wide, centred 18 px in from the box's left edge.
    static BoxRect bar(const BoxRect& b, int j) {
        return BoxRect{b.x1 + 4 * j, b.y1, b.x1 + 36 - 4 * j, b.y1 + 36};
    }
    // Mark j of the bottom-right corner: a square of side 36 - 8j centred
    // 18 px in from the box's right and bottom edges.
    static BoxRect square(const BoxRect& b, int j) {
        return BoxRect{b.x2 - 36 + 4 * j, b.y2 - 36 + 4 * j, b.x2 - 4 * j, b.y2 - 4 * j};
    }
};
