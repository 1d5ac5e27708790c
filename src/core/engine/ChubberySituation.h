// One complete voice of a bank: the five components that turn controller
// reports and keys into ratios, modulation and sound, wired to each other
// and to the shared lattice store. Built fresh or as a deep copy of another
// situation; it holds its five components in itself (nothing on the heap,
// so a bank can make one in storage it keeps, while sound plays) and, while
// keys play notes, which key each voice plays. A copy plays none.
// Report bytes: 0..3 axes (-128..127), 4 the prime-limit axis, 7 the
// voice buttons. `ging` returns (left, right) in engine units (16 per
// 16-bit sample step).
#pragma once

#include "engine/Canvas.h"
#include "engine/ChubReport.h"
#include "engine/PatchWords.h"
#include "lattice/PerspexStabile.h"
#include "sound/RoyalFMoutarde.h"
#include "sound/RoyalMinister.h"
#include "voice/Barre.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

#include <cstdio>
#include <cstring>
#include <utility>

class ChubberySituation {
public:
    // A fresh situation. Each component is made after, and sees, the ones
    // it depends on.
    ChubberySituation(ChubDevice* handle, PerspexStabile* stabile)
        : handle(handle),
          stabile(stabile),
          barre(),
          chink(stabile, &barre),
          ginger(&chink, &barre, stabile),
          rm(&chink, &ginger, &barre),
          rfm(&ginger, &barre, &rm) {}

    // A deep copy: every component is copied from the source's and wired to
    // this situation's own new components, never to the source's. Only the
    // lattice store is shared. The copy gets no controller handle.
    ChubberySituation(ChubberySituation* source, PerspexStabile* stabile)
        : handle(nullptr),
          stabile(stabile),
          barre(source->getBarre()),
          chink(source->getChink(), stabile, &barre),
          ginger(source->getGinger(), &chink, &barre, stabile),
          rm(source->getRM(), &chink, &ginger, &barre),
          rfm(source->getRFM(), &ginger, &barre, &rm) {}

    // The components point at each other: a situation never moves.
    ChubberySituation(const ChubberySituation&) = delete;
    ChubberySituation& operator=(const ChubberySituation&) = delete;

    Barre* getBarre() { return &barre; }
    Chinkwonkanater* getChink() { return &chink; }
    SponGinger* getGinger() { return &ginger; }
    RoyalMinister* getRM() { return &rm; }
    RoyalFMoutarde* getRFM() { return &rfm; }

    // One controller report of 8 bytes. When a queen newly joins the king,
    // the chain walks restart from the sounding ratios before anything moves.
    void chubspon(signed char* report) {
        barre.but(static_cast<unsigned char>(report[7]));
        if (barre.getQueenFlag()) resetWalks();
        chink.chink(report[4]);
        rfm.bbarr(report);
        rm.modulate(report);
    }

    // Keys played as notes: the key voice `voice` (0..3) plays, -1 for
    // none, and the bank's count of notes when it began (the oldest note
    // has the lowest).
    int keyOf(int voice) const { return keys[voice & 3]; }
    long long keyAge(int voice) const { return keyAges[voice & 3]; }

    // Voice `voice` plays `key` on the ratio nume/deno (1..255 each) at
    // `velocity` (1..127), as note number `age` of its bank. It stays an
    // ordinary voice: its chain walk starts from the key's ratio, and
    // sticks, the matrices and the FM move it on from there.
    void playKey(int voice, int key, int velocity, int nume, int deno, long long age) {
        voice &= 3;
        ginger.oscirate(voice, nume, deno);
        ginger.durszen(voice);
        rfm.setKeyLevel(voice, velocity);
        keys[voice] = key;
        keyAges[voice] = age;
    }

    // The voice's note ends: its level ramps to 0 over the period; the
    // ratio stays.
    void endKey(int voice) {
        rfm.setKeyLevel(voice & 3, 0);
        keys[voice & 3] = -1;
    }

    // One frame: (left, right), valid until the generator's next frame.
    int* ging(int frame, int frames) { return rfm.gingModulate(frame, frames); }

    // The same frame in two halves: gingVoices, then gingMix, is exactly
    // ging. They reach the ratio set directly rather than through the
    // generator (which holds the same one), one pointer fewer to follow
    // before the work can start.
    void gingVoices() { ginger.stepFrame(); }
    int* gingMix(int frame, int frames) { return rfm.modulateAndMix(ginger.frameSamples(), frame, frames); }

    // What the frames of a period of RoyalFMoutarde::kPeriod keep fixed
    // while no input comes between them, taken once for the run: the
    // voices' step size, ratios and wave, the levels' ramp. gingVoicesIn
    // and gingMixIn (the frame also given in every lane) are then exactly
    // gingVoices and gingMix.
    struct Run {
        int stepSize;
        Lanes triangle, rampFrom, rampRise;
    };
    Run takeRun() {
        Run r;
        r.stepSize = ginger.takeSteps(r.triangle);
        rfm.takeRamp(r.rampFrom, r.rampRise);
        return r;
    }
    void gingVoicesIn(const Run& r) { ginger.stepTaken(r.stepSize, r.triangle); }
    int* gingMixIn(const Run& r, Lanes frameLanes, int frame) {
        return rfm.modulateAndMixIn(ginger.frameSamples(), r.rampFrom, r.rampRise, frameLanes, frame);
    }

    // Whether no voice of this situation sounds or modulates in the period
    // now starting, and its oscillators start it without FM offsets: its
    // frames are then (0, 0) and only its phases move (passQuietly).
    bool quiet() const { return rfm.quietPeriod() && ginger.offsetsClear(); }

    // `frames` frames of a quiet period at once: the oscillators' steps,
    // in closed form. What a frame leaves besides (the voices' last
    // samples, the mix) is the last frame's, which the caller makes.
    void passQuietly(long long frames) { ginger.passSteps(frames); }

    // End of one audio period.
    void beging() { rfm.beging(); }

    // Paints this situation in drawing row `row` (from 1); w is the bank's
    // column width, h its row height. The selector's polygon sits at the
    // middle of the window, hence twice the width.
    void draw(_CHDC chdc, int w, int h, int row) {
        ginger.drawMarylandAnnex(chdc, w, h, row);
        ginger.draw(chdc, w, h, row);
        rm.draw(chdc, w, h, row);
        rfm.draw(chdc, w, h, row);
        ginger.drawCardinalAccent(chdc, w, h, row);
        chink.drawtittle(chdc, 2 * w, h, row);
    }

    // A mouse press: the ratio routing marks lie on top, so only a press
    // they do not take reaches the FM routing marks.
    void mouseButts(_pointille point) {
        if (rm.lippingMinisterialEar(point) == 0) rfm.lippingMoutarde(point);
    }

    // One key. Every key first re-anchors the chain walks on the sounding
    // ratios; then the keyboard rows choose: top row the FM depth 0..8, home
    // row the motion sensitivity 0..8, bottom row the step-size shift 1..8.
    void charactros(char key) {
        resetWalks();
        int n;
        if ((n = keyIndex("wertyuiop", key)) >= 0) rfm.setBitshift(n);
        else if ((n = keyIndex("sdfghjkl;", key)) >= 0) ginger.changeAsdfghon(n);
        else if ((n = keyIndex("xcvbnm,.", key)) >= 0) chink.changeStrittle(n + 1);
        else if (key == 'q') rfm.charactros();
        else if (key == 'a') rm.charactros();
        else if (key == 'z') chink.inh();
        else if (key == '[') ginger.ginggong();
        else if (key == '\'') ginger.quixnoquantl();
    }

    // Writes this situation's sections of the patch text file (its
    // "chubby" header is the bank's).
    void text(FILE* f) {
        fputs(" barre\n", f);
        barre.text(f);
        fputs(" chinkwonkanater\n", f);
        chink.text(f);
        fputs(" sponginger\n", f);
        ginger.text(f);
        fputs(" royalminister\n", f);
        rm.text(f);
        fputs(" royalfmoutarde\n", f);
        rfm.text(f);
    }

    // Reads this situation's sections from the bank's word stream. Every
    // section is optional, and each is read where its section line stands.
    // A line that the section it stands in does not take there (its lines
    // come in the order a save writes them) is skipped with a warning, and
    // that section goes on after it. Returns the first word that is not
    // this situation's: the next block's, or null at the end.
    const char* textum(PatchWords& words) {
        int section = -1;
        const char* w = words.next();
        for (;;) {
            if (int s = sectionOf(w); s >= 0) {
                w = readSection(section = s, words);
                continue;
            }
            if (!w || PatchWords::is(w, "chubby", 6)) return w;
            words.warnAt(words.line(), PatchWords::quoted(w) +
                                           (section < 0 ? " is out of place before the situation's first section line"
                                                        : " is out of place (a section's lines come in the order a "
                                                          "save writes them)") +
                                           "; the line is skipped");
            words.skipLine();
            const char* after = words.peek();
            if (section < 0 || !after || sectionOf(after) >= 0 || PatchWords::is(after, "chubby", 6)) w = words.next();
            else w = readSection(section, words);
        }
    }

private:
    // The section a section line's word opens (0..4 in the written order),
    // or -1.
    static int sectionOf(const char* w) {
        static const std::pair<const char*, size_t> kSections[] = {
            {"barre", 5}, {"chink", 5}, {"spong", 5}, {"royalmi", 7}, {"royalfm", 7}};
        for (int k = 0; k < 5; k++)
            if (PatchWords::is(w, kSections[k].first, kSections[k].second)) return k;
        return -1;
    }

    // Reads section `s`'s lines from the next word on; the first word it
    // does not take.
    const char* readSection(int s, PatchWords& words) {
        switch (s) {
        case 0: return barre.textum(words);
        case 1: return chink.textum(words);
        case 2: return ginger.textum(words);
        case 3: return rm.textum(words);
        default: return rfm.textum(words);
        }
    }

    // Position of key in a keyboard row, or -1 (NUL is in no row).
    static int keyIndex(const char* row, char key) {
        const char* at = key ? strchr(row, key) : nullptr;
        return at ? static_cast<int>(at - row) : -1;
    }

    void resetWalks() {
        for (int i = 0; i < 4; i++) ginger.durszen(i);
    }

    [[maybe_unused]] ChubDevice* handle;       // kept as given; nothing reads it
    [[maybe_unused]] PerspexStabile* stabile;  // shared, not owned
    // In this order: each component is made after, and sees, the ones it
    // depends on, and goes before them.
    Barre barre;
    Chinkwonkanater chink;
    SponGinger ginger;
    RoyalMinister rm;
    RoyalFMoutarde rfm;
    int keys[4] = {-1, -1, -1, -1};  // the key each voice plays, -1: none
    long long keyAges[4] = {0, 0, 0, 0};
};
