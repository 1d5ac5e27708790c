// The engine: ten banks of situations and the one lattice store they
// share. Two banks are in play, the current one and the previous one (the
// same bank when they are equal); the digit keys choose the current bank.
// Input reaches both banks in play; frames and repaints alternate between
// them, previous first. The Tab key (9) shows or hides the ratios as
// numbers over each repaint (RatioReadout). Bank indices 0..9; frames in
// engine units.
#pragma once

#include "engine/AbstractChubEngine.h"
#include "engine/MultiplexPotentiator.h"
#include "engine/RatioReadout.h"
#include "lattice/PerspexStabile.h"

class LaceyBanks final : public AbstractChubEngine {
public:
    static constexpr int kBanks = 10;
    static constexpr unsigned char kReadoutKey = 9;  // Tab

    LaceyBanks() {
        stabile = new PerspexStabile();
        graxToggle = 0;
        gingToggle = 0;
        for (int i = 0; i < kBanks; i++) banks[i] = new MultiplexPotentiator(stabile);
        current = 1;
        previous = 1;
    }

    LaceyBanks(const LaceyBanks&) = delete;
    LaceyBanks& operator=(const LaceyBanks&) = delete;

    // The program never destroys its engine; tests and tools do.
    ~LaceyBanks() {
        for (int i = kBanks - 1; i >= 0; i--) delete banks[i];
        delete stabile;
    }

    // Makes `index` the current bank; the old current becomes the previous.
    void push(int index) {
        previous = current;
        current = index;
    }

    // Puts `fresh` (made on this engine's lattice store) in place of bank
    // `index` and returns the bank it replaces, which the caller destroys.
    MultiplexPotentiator* replaceBank(int index, MultiplexPotentiator* fresh) {
        MultiplexPotentiator* old = banks[index];
        banks[index] = fresh;
        return old;
    }

    // Sets the banks in play as a saved instrument had them (0..9 each).
    void setPair(int currentIndex, int previousIndex) {
        current = currentIndex;
        previous = previousIndex;
    }

    int getCurrent() { return current; }
    int getPrevious() { return previous; }
    MultiplexPotentiator* getBank(int index) { return banks[index]; }
    PerspexStabile* getStabile() { return stabile; }
    // The bank the last repaint drew (repaints alternate, previous first).
    int painted() const { return graxToggle ? previous : current; }
    // Whether repaints show the ratios as numbers.
    bool readoutShown() const { return readout; }

    void graxness(_CHDC chdc) override {
        graxToggle = (graxToggle + 1) % 2;
        RatioReadout::paint(*banks[graxToggle ? previous : current], chdc, readout);
    }

    // Even frames of a period come from the previous bank, odd ones from
    // the current bank; nothing is mixed between them.
    int* gingness(int frame, int frames) override {
        gingToggle = (gingToggle + 1) % 2;
        return banks[gingToggle ? previous : current]->gingness(frame, frames);
    }

    // Whether no voice sounds in the period now starting: the one place
    // that decides it. True when every situation that would make frames in
    // the banks in play is quiet (MultiplexPotentiator::quiet): all its
    // levels in the dead zone through the period's ramp, no voice
    // modulating another, no FM offsets left from the last frame. Every
    // frame of the period is then (0, 0) and only the oscillators move.
    bool quiet() const {
        return banks[previous]->quiet() && (current == previous || banks[current]->quiet());
    }

    // A quiet period of `frames` frames (2 or more), exactly as that many
    // gingness calls would make it, every frame (0, 0): the oscillators
    // of all but the last two frames move in closed form, in whichever bank
    // each frame falls to, and the last two are made as ever (they leave
    // the voices' samples and the mix as a frame does).
    void passQuietly(int frames) {
        long long ahead = frames - 2;
        // Call k of the period goes to the previous bank when the toggle
        // then flips to 1.
        long long toPrevious = (ahead + 1 - gingToggle) / 2;
        if (current == previous) {
            banks[current]->passQuietly(ahead);
        } else {
            banks[previous]->passQuietly(toPrevious);
            banks[current]->passQuietly(ahead - toPrevious);
        }
        gingToggle = static_cast<int>((gingToggle + ahead) % 2);
        gingness(frames - 2, frames);
        gingness(frames - 1, frames);
    }

    // A whole period of `frames` frames, exactly as that many gingness
    // calls would make it: frame f's pair in pairs[2f], pairs[2f + 1].
    // Each bank in play makes its frames in one run (its every frame, or
    // every other one while two alternate).
    void gingPeriod(int frames, int* pairs) {
        if (current == previous) {
            banks[current]->gingFrames(0, 1, frames, frames, pairs);
        } else {
            // Frame f goes to the previous bank when the toggle then flips to 1.
            int firstPrevious = gingToggle;
            banks[previous]->gingFrames(firstPrevious, 2, (frames - firstPrevious + 1) / 2, frames, pairs);
            banks[current]->gingFrames(1 - firstPrevious, 2, (frames - (1 - firstPrevious) + 1) / 2, frames, pairs);
        }
        gingToggle = (gingToggle + frames) % 2;
    }

    // Both banks end the period, also when they are the same bank.
    void beging() override {
        banks[current]->beging();
        banks[previous]->beging();
    }

    void chubness(ChubDevice* handle, _CHUBREPORT report) override {
        banks[current]->chubness(handle, report);
        if (previous != current) banks[previous]->chubness(handle, report);
    }

    // A digit first chooses the bank, Tab shows or hides the readout; then
    // the key reaches the banks in play like any other.
    void charactros(unsigned char key) override {
        if (key >= '0' && key <= '9') push(key - '0');
        if (key == kReadoutKey) readout = !readout;
        banks[current]->charactros(key);
        if (previous != current) banks[previous]->charactros(key);
    }

    void mouseButt(_pointille point) override {
        banks[current]->mouseButt(point);
        if (previous != current) banks[previous]->mouseButt(point);
    }

    void textorium_trigger(char* name) override { banks[current]->textorium_trigger(name); }
    void textorium_script(char* name) override { banks[current]->textorium_script(name); }

    void dupe_chubbery() override {
        banks[current]->chubdupe();
        if (previous != current) banks[previous]->chubdupe();
    }

    // Copies the current bank over the next one (9 wraps to 0), in the
    // next one's own storage.
    void dupe_multiplex() override { banks[(current + 1) % kBanks]->copyFrom(banks[current]); }

    // A note starts in the banks in play, like every input; its end
    // reaches all ten, since the bank that took it may have left play.
    void keynote(KeyNote note) override {
        if (note.kind == KeyNote::Kind::Down) {
            banks[current]->keynote(note);
            if (previous != current) banks[previous]->keynote(note);
            return;
        }
        for (MultiplexPotentiator* bank : banks) bank->keynote(note);
    }

private:
    int current = 1;
    int previous = 1;
    int graxToggle = 0;
    int gingToggle = 0;
    bool readout = false;  // hidden at start
    MultiplexPotentiator* banks[kBanks];
    PerspexStabile* stabile = nullptr;
};
