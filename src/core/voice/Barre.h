// The four voice buttons of the controller (report byte 7, bits 0, 2, 4, 6
// for voices 0..3) turned into the situation's choice of voices: none, a
// king voice alone, or a king and a queen voice.
// king, queen: voice + 1, 0 for none; while both are held king < queen.
// buttons, lastButtons: the latest and the previous byte 7, 0..255.
#pragma once

#include "engine/PatchWords.h"
#include "engine/Canvas.h"

#include <cstdio>
#include <string>

class Barre {
public:
    Barre() { makeBrushes(); }

    // A duplicated situation keeps the held voices; the buttons start
    // released, as in a fresh state.
    explicit Barre(Barre* source) {
        king = source->getFocius1() + 1;
        queen = source->getFocius2() + 1;
        makeBrushes();
    }

    Barre(const Barre&) = delete;
    Barre& operator=(const Barre&) = delete;

    int isKingPresent() { return king != 0; }
    int isQueenPresent() { return queen != 0 && king != 0; }
    // The king voice 0..3, -1 for none.
    int getFocius1() { return king - 1; }
    // The queen voice 0..3, -1 for none.
    int getFocius2() { return queen - 1; }

    // 1 when the button of voice v has just gone down.
    int xxor(int v) {
        int bit = 1 << (2 * v);
        return (buttons & bit) && !(lastButtons & bit) ? 1 : 0;
    }

    // One report's byte 7: only presses count, releases and held buttons
    // change nothing.
    void but(unsigned char b) {
        lastButtons = buttons;
        buttons = b;
        hadQueen = isQueenPresent();
        for (int v = 0; v < 4; v++) {
            if (!xxor(v)) continue;
            if (king == v + 1) {
                king = queen;  // the queen, if any, steps up
                queen = 0;
            } else if (queen == v + 1) {
                queen = 0;
            } else {
                queen = king;  // the old king, if any, steps down
                king = v + 1;
            }
            if (isQueenPresent() && queen < king) {
                int k = king;
                king = queen;
                queen = k;
            }
        }
        if (!hadQueen && isQueenPresent()) queenFlag = 1;
    }

    // Whether a queen has joined since the last call; reading clears it.
    int getQueenFlag() {
        int f = queenFlag;
        queenFlag = 0;
        return f;
    }

    // The colour of voice k (0..3), also used by the matrix marks.
    Colour getMarylandFlag(int k) { return brushes[k & 3]; }

    // Concentric squares, largest first, centred on (x, y).
    void drawKing(_CHDC chdc, int x, int y) {
        for (int n = 10; n >= 2; n -= 2) fillSquare(chdc, x, y, n);
    }
    void drawQueen(_CHDC chdc, int x, int y) {
        for (int n = 9; n >= 1; n--) fillSquare(chdc, x, y, n);
    }

    void text(FILE* f) {
        if (isQueenPresent())
            fprintf(f, "  queenal %d %d\n", getFocius1(), getFocius2());
        else if (isKingPresent())
            fprintf(f, "  kingal %d\n", getFocius1());
        else
            fprintf(f, "  atrest\n");
    }

    // Voice numbers outside 0..3 can only come from a hand-edited file; such
    // a line is read past and leaves the state as it was, so no voice the
    // ratio set does not have is ever named. A pair written high-low is
    // taken in order, and a pair naming one voice twice is a king alone.
    const char* textum(PatchWords& words) {
        const char* w = words.next();
        if (PatchWords::is(w, "atrest", 5)) {
        } else if (PatchWords::is(w, "kingal", 5)) {
            int k = 0;
            if (!words.number(k)) words.warn("the line ends before the voice; no voice is held");
            else if (!isVoice(k)) words.warn(notAVoice(k));
            else hold(k, -1);
        } else if (PatchWords::is(w, "queenal", 5)) {
            int k = 0, q = -1;
            bool haveKing = words.number(k);
            bool haveQueen = haveKing && words.number(q);
            if (!haveKing) {
                words.warn("the line ends before the voices; no voice is held");
            } else if (!isVoice(k) || (haveQueen && !isVoice(q))) {
                words.warn(notAVoice(isVoice(k) ? q : k));
            } else {
                std::string K = std::to_string(k), Q = std::to_string(q);
                if (!haveQueen) words.warn("the line ends before the queen; voice " + K + " is held as the king alone");
                else if (q == k) words.warn("voice " + K + " is named twice; it is held as the king alone");
                else if (q < k) words.warn(K + " " + Q + ": the lower voice is the king, so it is held as king " + Q + ", queen " + K);
                hold(k, q);
            }
        } else {
            return w;
        }
        return words.next();
    }

private:
    static bool isVoice(int v) { return v >= 0 && v <= 3; }
    static std::string notAVoice(int v) { return "voice " + std::to_string(v) + " is not one of 0..3; no voice is held"; }

    // Holds voice k as king and q (or -1) as queen, keeping king < queen.
    void hold(int k, int q) {
        if (q == k) q = -1;
        if (q >= 0 && q < k) {
            int t = k;
            k = q;
            q = t;
        }
        king = k + 1;
        queen = q + 1;
    }

    void makeBrushes() {
        brushes[0] = GRAXBRUSHWAND(245, 0, 0);
        brushes[1] = GRAXBRUSHWAND(245, 245, 245);
        brushes[2] = GRAXBRUSHWAND(245, 255, 0);
        brushes[3] = GRAXBRUSHWAND(0, 0, 0);
    }

    void fillSquare(_CHDC chdc, int x, int y, int n) {
        grax_colour(chdc, brushes[n % 4]);
        grax_fill(chdc, x - n, y - n, static_cast<unsigned>(2 * n), static_cast<unsigned>(2 * n));
    }

    int buttons = 0;
    int lastButtons = 0;
    int king = 0;
    int queen = 0;
    int queenFlag = 0;
    int hadQueen = 0;
    Colour brushes[4];
};
