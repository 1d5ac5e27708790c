// libFuzzer target for the event script reader: scripts come from players'
// files and recordings. Each input is read as a script; a script that reads
// must write back (the recorder's lines) to the same events, and is then
// rendered for a few periods into a fresh engine through the input gate,
// its bank, its keys' scale and mapping (read as the renderer reads them:
// the scale and map readers are fuzzed here too), its pad lines and its
// MIDI messages included, so every value
// it carries reaches the engine, and the tuned notes look at the voices
// after every unit (MPE or MTS by the input's length). Saves go to one file in a private folder, whatever path the
// script names. Built by `make fuzz`; any sanitizer finding or a line that
// does not read back stops the run with the input kept.
#include "engine/LaceyBanks.h"
#include "engine/OfflineRenderer.h"
#include "engine/ScriptPad.h"
#include "engine/InputGate.h"
#include "engine/KeyOptions.h"
#include "engine/TunedOut.h"

#include "FuzzFolder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string folder;
constexpr uint32_t kPeriods = 6;

void mustReadBack(const EventScript& script) {
    for (const EventScript::Event& e : script.events) {
        EventScript again;
        std::string line = EventScript::format(e);
        bool same = again.parse(line) && again.events.size() == 1;
        if (same) {
            const EventScript::Event& b = again.events[0];
            same = b.frame == e.frame && b.kind == e.kind && b.key == e.key && b.path == e.path && b.x == e.x &&
                   b.y == e.y && b.control == e.control && b.value == e.value &&
                   std::equal(b.bytes, b.bytes + 8, e.bytes) && b.midiLength == e.midiLength &&
                   std::equal(b.midi, b.midi + 3, e.midi);
        }
        if (!same) {
            fprintf(stderr, "script_fuzz: line %d does not read back from \"%s\"\n", e.line, line.c_str());
            abort();
        }
    }
}

// Every tuned message whole: a status byte, then data bytes below 80 (a
// tuning change ends in F7).
struct CheckedNotes final : TunedOut {
    explicit CheckedNotes(LaceyBanks* e) : TunedOut(e) {}
    void send(const TunedNotes::Message& m) override {
        bool whole = m.length >= 2 && m.bytes[0] >= 0x80;
        for (int k = 1; k < m.length - (m.bytes[0] == 0xf0 ? 1 : 0); k++) whole = whole && m.bytes[k] < 0x80;
        if (!whole) abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = makeFuzzFolder("quorvanel-script-fuzz");
    // The bank a script carries goes through a temporary file here too.
    setenv("TMPDIR", folder.c_str(), 1);
    atexit([] {
        unlink((folder + "/save.texte").c_str());
        rmdir(folder.c_str());
    });
    // Every save prints its path; the fuzzer's own report goes to stderr.
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EventScript script;
    if (!script.parse(std::string(reinterpret_cast<const char*>(data), size))) return 0;
    mustReadBack(script);
    for (EventScript::Event& e : script.events)
        if (e.kind == EventScript::Kind::Save) e.path = folder + "/save.texte";

    // A fresh engine for every input: a loaded bank or a deleted situation
    // must not carry over into the next input's render.
    LaceyBanks engine;
    InputGate::Unseen window;
    ScriptPad pad;
    InputGate gate(&engine, &window, &pad);
    if (script.hasBank) gate.loadBankText(script.bankName, script.bankText);
    KeyScale keys;
    std::string problem;
    KeyOptions options;
    if (options.on(script)) {
        if (!options.build(script, "fuzz", keys, problem, "script_fuzz", nullptr)) return 0;
        gate.playKeys(&keys);
    }
    CheckedNotes notes(&engine);
    notes.notes.setWay(size % 2 ? TunedNotes::Way::Mts : TunedNotes::Way::Mpe, 0);
    gate.watchUnits(&notes);
    FILE* sink = fopen("/dev/null", "wb");
    if (!sink) abort();
    WavWriter wav(sink, kPeriods * OfflineRenderer::kPeriod);
    OfflineRenderer::render(gate, engine, script.events, kPeriods * OfflineRenderer::kPeriod, wav);
    fclose(sink);
    return 0;
}
