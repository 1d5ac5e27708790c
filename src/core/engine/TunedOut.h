// A host's outlet for the tuned notes: watching the input gate, it has the
// notes look at the engine after each unit and hands every message to the
// host's send (a file, the sequencer, a plugin's port), in order, with its
// unit's frame (22050 a second). Without an engine nothing is looked at.
#pragma once

#include "engine/InputGate.h"
#include "engine/LaceyBanks.h"
#include "engine/TunedNotes.h"

class TunedOut : public InputGate::UnitWatcher {
public:
    explicit TunedOut(LaceyBanks* engine = nullptr) : engine(engine) {}

    void watch(LaceyBanks* e) { engine = e; }

    void unitMade(long long frame) override {
        if (!engine) return;
        notes.afterUnit(*engine, frame);
        flush();
    }

    // Hands over what the notes hold: after silence, restart or setWay too.
    void flush() {
        for (int k = 0; k < notes.size(); k++) send(notes[k]);
        notes.clear();
    }

    TunedNotes notes;

protected:
    ~TunedOut() = default;
    virtual void send(const TunedNotes::Message& m) = 0;

private:
    LaceyBanks* engine;
};
