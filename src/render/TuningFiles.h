// The renderer's tuning outputs beside the WAV, which they leave as it is:
//   --midi-out FILE.mid   the voices that sound as tuned notes (MidiFileOut)
//   --tuning-out mpe|mts  how they are tuned (default mpe)
//   --scala FILE.scl      the current bank at the end as a Scala scale, with
//                         FILE.kbm beside it (ScalaScale)
// Their names are checked with the render's others before anything is
// rendered or written.
#pragma once

#include "engine/InputGate.h"
#include "engine/LaceyBanks.h"
#include "engine/PitchOfOne.h"
#include "engine/TunedNotes.h"
#include "render/MidiFileOut.h"
#include "render/ScalaScale.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TuningFiles {
public:
    // True when `option` is one of these (each takes a value).
    static bool takes(const std::string& option) {
        return option == "--midi-out" || option == "--tuning-out" || option == "--scala";
    }

    void set(const std::string& option, const char* value) {
        (option == "--midi-out" ? midiPath : option == "--tuning-out" ? wayName : sclPath) = value;
    }

    // What is wrong with the options themselves; empty when nothing is.
    // Their files are checked with the render's others (outputs()).
    std::string problem() {
        if (wayName && !TunedNotes::wayNamed(wayName, way))
            return std::string("--tuning-out ") + wayName + ": not mpe or mts";
        if (wayName && !midiPath) return "--tuning-out needs --midi-out";
        kbmPath = sclPath ? ScalaScale::kbmPath(sclPath) : "";
        return "";
    }

    // The files the options make, each with the option that names it.
    std::vector<std::pair<std::string, std::string>> outputs() const {
        std::vector<std::pair<std::string, std::string>> out;
        if (midiPath) out.emplace_back("--midi-out", midiPath);
        if (sclPath) out.emplace_back("--scala", sclPath);
        if (sclPath) out.emplace_back("the scale's .kbm", kbmPath);
        return out;
    }

    // Watches `gate` for the engine's tuned notes; false when the engine
    // is not the instrument's (it then has no voices to look at).
    bool attach(AbstractChubEngine* engine, InputGate& gate) {
        banks = dynamic_cast<LaceyBanks*>(engine);
        if (!banks) return !midiPath && !sclPath;
        if (midiPath) {
            notes.emplace(banks);
            notes->notes.setWay(way, 0);
            notes->notes.setPitch(pitchOfOne);
            notes->setRate(PitchOfOne::wholeRate(pitchOfOne));
            gate.watchUnits(&*notes);
        }
        return true;
    }

    // The frequency of 1/1 in Hz, for the notes, their file's tempo and the
    // .kbm: the pitch the WAV sounds it at (its rate is a whole number).
    void setPitch(double hz) { pitchOfOne = PitchOfOne::pitchAt(PitchOfOne::wholeRate(hz)); }

    // Writes the files after a render of `total` frames; false, with a line
    // on `err`, when one cannot be written.
    bool write(uint32_t total, FILE* err) {
        if (notes && !notes->write(midiPath, total)) return failed(err, midiPath);
        if (sclPath && banks && !ScalaScale::write(sclPath, *banks->getBank(banks->getCurrent()), pitchOfOne))
            return failed(err, sclPath);
        return true;
    }

    static const char* usage() {
        return "  --midi-out FILE.mid also writes the voices that sound as tuned MIDI notes,\n"
               "  --tuning-out mpe (a channel and pitch bend per voice, the default) or mts\n"
               "  (tuned keys on channel 1); --scala FILE.scl writes the current bank's ratios\n"
               "  at the end as a Scala scale, and FILE.kbm with 1/1 on key 60\n";
    }

private:
    static bool failed(FILE* err, const char* path) {
        std::fprintf(err, "quorvanel-render: cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }

    const char* midiPath = nullptr;
    const char* wayName = nullptr;
    const char* sclPath = nullptr;
    std::string kbmPath;
    TunedNotes::Way way = TunedNotes::Way::Mpe;
    double pitchOfOne = TunedNotes::kPitchOfOne;
    LaceyBanks* banks = nullptr;
    std::optional<MidiFileOut> notes;
};
