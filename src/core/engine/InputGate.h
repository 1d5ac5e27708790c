// The one place where every input reaches the engine: controller and game
// controller reports, keys, Ctrl+S saves, mouse presses, repaints and the
// events of a played script, in the order the main loop gives them. The
// recorder listens here, and the offline renderer plays its scripts through
// this same code, so live, recorded and rendered play cannot drift apart.
//
// Frames: 22050 per second, counted from the engine's first unit of 256
// frames (the silent unit written before the engine exists is not counted).
// An input that arrives between two units acts on the next one, from its
// first frame: frame() is that frame.
//
// Repaints belong here too: a mouse press hits the boxes the last repaint
// laid out, so the moments of repaints (every 16th report, every expose,
// and the idle repaints after keys and presses) and the window size they
// used are part of what the engine does. Idle repaints are decided here
// from what the gate itself has seen, so a recording, which holds no line
// for them, repaints alike when it is played or rendered.
//
// MIDI comes in here as whole messages and is recorded as such; the MIDI
// map turns them into keys and into MIDI's own report state. Until MIDI
// first plays as a controller, reports reach the engine as they come. From
// then on the engine takes exactly one report a unit, at the end of the
// unit's inputs, merged from two sources: MIDI's state, and every other
// report (still recorded as it comes, and moving each axis whose value it
// changes). A replay meets the same report and midi lines in the same order
// and merges alike.
//
// While keys play notes (playKeys), MIDI's notes are notes: the gate keeps
// the sustain pedal, finds each key's ratio in the scale and hands the
// engine notes that start and end (KeyNote). A recording then opens with
// the mode and the scale, so it replays to the same notes.
#pragma once

#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/KeyPedal.h"
#include "engine/KeyScale.h"
#include "engine/MidiMap.h"
#include "engine/PatchFile.h"
#include "engine/PatchWords.h"
#include "engine/Recorder.h"
#include "engine/ReportMerge.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

class InputGate {
public:
    static constexpr int kUnit = 256;       // frames per unit, as the host's `frames`
    static constexpr int kRepaintEvery = 16; // reports per repaint
    static constexpr uint32_t kStartWidth = 500, kStartHeight = 500;  // the window as opened
    // Units (~93 ms) without a report after which the reports no longer keep
    // the picture fresh: a key or press then repaints before the next unit.
    static constexpr long long kQuietUnits = 8;

    // Where repaints go. The live window reads its own size and draws on
    // screen; the renderer's has the size the script last gave and draws
    // nothing.
    class Window {
    public:
        virtual void size(uint32_t& width, uint32_t& height) = 0;
        virtual void paint(AbstractChubEngine& engine, uint32_t width, uint32_t height) = 0;
        // A script's `size` line. The live window keeps its real size.
        virtual void resize(uint32_t width, uint32_t height) {}

    protected:
        ~Window() = default;
    };

    // A window without a display: the offline renderer's.
    class Unseen final : public Window {
    public:
        void size(uint32_t& w, uint32_t& h) override {
            w = width;
            h = height;
        }
        void paint(AbstractChubEngine& engine, uint32_t w, uint32_t h) override {
            engine.graxness(_CHDC{0, w, h});
        }
        void resize(uint32_t w, uint32_t h) override {
            width = w;
            height = h;
        }

    private:
        uint32_t width = kStartWidth, height = kStartHeight;
    };

    // The host's controllers that, once they play, give one report before
    // every unit from their latest state (game controllers, and a script's
    // virtual pad in the renderer).
    class Controllers {
    public:
        // True when one plays; `out` then holds the unit's report.
        virtual bool unitReport(signed char out[8]) = 0;
        // A script's `pad NAME VALUE` line (control and value already checked).
        virtual void padLine(int control, int value) {}

    protected:
        ~Controllers() = default;
    };

    // Told after each unit is made, with the frame the unit began at: the
    // hosts' tuned notes look at the voices there.
    class UnitWatcher {
    public:
        virtual void unitMade(long long frame) = 0;

    protected:
        ~UnitWatcher() = default;
    };

    // engine: may be set later with attach(), before the first input.
    // controllers: none when null.
    InputGate(AbstractChubEngine* engine, Window* window, Controllers* controllers = nullptr)
        : engine(engine), window(window), controllers(controllers) {}

    void attach(AbstractChubEngine* e) { engine = e; }
    void attach(Controllers* c) { controllers = c; }

    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

    // Reports, counted together for the repaint pacing: the first and then
    // every 16th repaints after it has been handled. `handle` is the USB
    // controller's; game controllers and scripts pass none and get a
    // stand-in, since the engine takes reports only from a device. Once
    // MIDI plays, a report is recorded and merged into the unit's report.
    void report(const signed char bytes[8], ChubDevice* handle = nullptr) {
        EventScript::Event e;
        e.kind = EventScript::Kind::Report;
        for (int k = 0; k < 8; k++) e.bytes[k] = bytes[k];
        merge.report(kOtherReports, e.bytes);
        if (midiPlays) {
            note(e);
            return;
        }
        hand(e, handle, true);
    }

    void key(unsigned char k) {
        EventScript::Event e;
        e.kind = EventScript::Kind::Key;
        e.key = k;
        note(e);
        press(k);
    }

    // One whole MIDI message (1..3 bytes), recorded as it came; what it
    // does is the MIDI map's. Anything else, and the real-time messages
    // (clock, active sensing: many a second, none of them mapped), is
    // dropped unrecorded. Allocates nothing.
    void midi(const unsigned char* message, int length) {
        if (!message || !MidiMap::whole(message, length) || message[0] >= 0xf8) return;
        EventScript::Event e;
        e.kind = EventScript::Kind::Midi;
        e.midiLength = length;
        for (int k = 0; k < length; k++) e.midi[k] = message[k];
        note(e);
        MidiMap::Effect m = MidiMap::of(e.midi, keyScale != nullptr);
        if (MidiMap::controls(m) && !midiPlays) {
            midiPlays = true;
            // The presses the reports so far made reached the engine with them.
            signed char delivered[8];
            merge.take(delivered);
        }
        switch (m.act) {
        case MidiMap::Act::Nothing: break;
        case MidiMap::Act::Key: press(m.key); break;  // the midi line is its record
        case MidiMap::Act::Axis: merge.axis(kMidi, m.axis, m.value); break;
        case MidiMap::Act::Press: merge.press(kMidi, m.voice); break;
        case MidiMap::Act::Release: merge.release(kMidi, m.voice); break;
        case MidiMap::Act::ReleaseAll:
            merge.releaseAll(kMidi);
            if (keyScale) endNotes();
            break;
        case MidiMap::Act::Rest:
            for (int a = 0; a < ReportMerge::kAxes; a++) merge.axis(kMidi, a, 0);
            if (keyScale) pedal.set(false, [this](int k) { keyUp(k); });  // the pedal is a controller too
            break;
        case MidiMap::Act::NoteOn: keyDown(m.note, m.velocity); break;
        case MidiMap::Act::NoteOff:
            if (pedal.release(m.note)) keyUp(m.note);
            break;
        case MidiMap::Act::Pedal: pedal.set(m.value != 0, [this](int k) { keyUp(k); }); break;
        }
    }

    // Keys play notes on the ratios of `scale`; with none (null), MIDI's
    // notes are voice buttons and key commands again, and every note
    // sounding ends. The scale must outlive its use and may change between
    // units: notes sounding keep their ratios. A recorder listening writes
    // the mode and the scale, so with one this comes before the first input.
    void playKeys(const KeyScale* scale) {
        if (!scale && keyScale) endNotes();
        keyScale = scale;
        if (scale && recorder) recorder->keys(*scale);
    }
    const KeyScale* keys() const { return keyScale; }

    // What Ctrl+S does: save the current bank to `path` (recorded), written
    // to `writeTo` when given.
    void save(const char* path, const char* writeTo = nullptr) {
        EventScript::Event e;
        e.kind = EventScript::Kind::Save;
        e.path = path;
        note(e);
        if (!writeTo) writeTo = path;
        std::vector<char> name(writeTo, writeTo + std::strlen(writeTo) + 1);
        the().textorium_trigger(name.data());
    }

    // Where a played or rendered script's saves are written: a save of
    // .../NAME goes to DIR/NAME. Without a folder (null or empty) they are
    // recorded and write nothing, so a take played again cannot write over
    // the player's files.
    void savesTo(const char* dir) { saveDir = dir ? dir : ""; }

    void click(int x, int y) {
        EventScript::Event e;
        e.kind = EventScript::Kind::Click;
        e.x = x;
        e.y = y;
        note(e);
        the().mouseButt(_pointille{x, y});
        repaintDue = true;
    }

    // The window was uncovered: repaint it.
    void expose() {
        lookAtWindow();
        EventScript::Event e;
        e.kind = EventScript::Kind::Repaint;
        note(e);
        paint();
    }

    // One script event, through the same calls as live input.
    void deliver(const EventScript::Event& e) {
        switch (e.kind) {
        case EventScript::Kind::Report: report(e.bytes); break;
        case EventScript::Kind::Pad:
            if (controllers) controllers->padLine(e.control, e.value);
            break;
        case EventScript::Kind::Key: key(e.key); break;
        case EventScript::Kind::Save:
            if (saveDir.empty()) {
                note(e);
            } else {
                size_t slash = e.path.rfind('/');
                std::string to = saveDir + "/" + e.path.substr(slash == std::string::npos ? 0 : slash + 1);
                save(e.path.c_str(), to.c_str());
            }
            break;
        case EventScript::Kind::Click: click(e.x, e.y); break;
        case EventScript::Kind::Repaint: expose(); break;
        case EventScript::Kind::Size:
            window->resize(static_cast<uint32_t>(e.x), static_cast<uint32_t>(e.y));
            break;
        case EventScript::Kind::Midi: midi(e.midi, e.midiLength); break;
        }
    }

    // The bank at start: the patch file named (the player's choice, which
    // wins; the caller has printed its "inputfile" line) or else the bank
    // `script` carries. `who` names the program in the lines on `err`: one
    // when the patch replaces a carried bank, one when the carried bank
    // cannot be loaded (then false).
    bool loadAtStart(const char* patch, const EventScript& script, const char* scriptName, const char* who,
                     FILE* err) {
        if (patch) {
            loadPatch(patch);
            if (script.hasBank) std::fprintf(err, "%s: %s replaces the bank %s carries\n", who, patch, scriptName);
            return true;
        }
        if (!script.hasBank || loadBankText(script.bankName, script.bankText)) return true;
        std::fprintf(err, "%s: cannot load the bank %s carries: %s\n", who, scriptName, std::strerror(errno));
        return false;
    }

    // What keeps the patch file at `path` from being loaded at start, as a
    // line's text after "WHO: "; empty when nothing does. An empty file is an
    // empty bank, but a file whose first word is no situation block (the
    // demo script given by mistake, or a block's word misspelled) would
    // leave the bank empty or read a different bank than meant.
    static std::string patchProblem(const char* path) {
        std::string text, why;
        if (!PatchFile::read(path, text, why)) return std::string("cannot read patch ") + path + ": " + why;
        PatchWords words;
        words.open(text.data(), text.size());
        const char* first = words.next();
        if (!first || PatchWords::is(first, "chubby", 6)) return "";
        return std::string(path) + ": not a patch file: line " + std::to_string(words.line()) + " begins with " +
               PatchWords::quoted(first) + ", not a situation block (\"chubby\")";
    }

    // Loads the patch file `path` into the current bank, as at start; the
    // recording keeps the bytes the file held.
    void loadPatch(const char* path) {
        std::vector<char> name(path, path + std::strlen(path) + 1);
        the().textorium_script(name.data());
        std::string text, why;
        if (recorder && PatchFile::read(path, text, why)) recorder->bank(path, text);
    }

    // Loads a patch text carried by a script (through a private temporary
    // file, since the engine loads from files; it ends in the name of the
    // file the bank came from, which the loader's warnings then show).
    // False when no temporary file could be written.
    bool loadBankText(const std::string& from, const std::string& text) {
        const char* dir = std::getenv("TMPDIR");
        std::string base = from.substr(from.rfind('/') == std::string::npos ? 0 : from.rfind('/') + 1, 64);
        for (char& c : base)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
        base = "-" + base;
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/quorvanel-bank-XXXXXX" + base;
        int fd = mkstemps(path.data(), static_cast<int>(base.size()));
        if (fd < 0) return false;
        bool ok = true;
        for (size_t done = 0; ok && done < text.size();) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) ok = false;
            else done += static_cast<size_t>(n);
        }
        ::close(fd);
        if (ok) the().textorium_script(path.data());
        unlink(path.c_str());
        if (ok && recorder) recorder->bank(from.c_str(), text);
        return ok;
    }

    // Plays `events` (frames not decreasing) from the next unit on: each is
    // delivered before the unit that holds its frame. The events must
    // outlive the play.
    void play(const std::vector<EventScript::Event>* events) {
        script = events;
        next = 0;
    }

    // Before each unit: the played script's events for it, in script order,
    // then the controllers' report, built from their latest state; once
    // MIDI plays, the unit's merged report (made again from the recorded
    // lines on replay); then, when a key or press came and no report has for kQuietUnits, two
    // repaints. Two, because with two banks in play each repaint lays out
    // and shows the other one: both banks' marks are then where the player
    // clicks, the picture stays on the bank it showed, and the alternation
    // the reports pace goes on with the parity it had.
    void beforeUnit() {
        long long end = frame() + kUnit;
        while (script && next < script->size() && (*script)[next].frame < end) deliver((*script)[next++]);
        signed char bytes[8];
        if (controllers && controllers->unitReport(bytes)) report(bytes);
        if (midiPlays) {
            EventScript::Event e;
            e.kind = EventScript::Kind::Report;
            merge.take(e.bytes);
            hand(e, nullptr, false);
        }
        if (repaintDue && units - lastReportUnit > kQuietUnits) {
            lookAtWindow();
            paint();
            paint();
        }
        repaintDue = false;
    }

    // After each unit (its beging): the next input acts on the next unit.
    void afterUnit() {
        if (unitWatcher) unitWatcher->unitMade(frame());
        units++;
        if (recorder) recorder->flush();
    }

    void listen(Recorder* r) { recorder = r; }
    void watchUnits(UnitWatcher* w) { unitWatcher = w; }

    long long frame() const { return units * kUnit; }
    // Script events not yet delivered.
    size_t pending() const { return script ? script->size() - next : 0; }

    int countor = 0;  // reports modulo 16: paces the repaints (the reports the engine takes)

    // True from MIDI's first controller message on: reports are merged.
    bool merging() const { return midiPlays; }

private:
    AbstractChubEngine& the() { return *engine; }

    // The merge's sources: MIDI's state, and every other report.
    static constexpr int kMidi = 0, kOtherReports = 1;

    // A report to the engine, with the repaint pacing.
    void hand(EventScript::Event& e, ChubDevice* handle, bool record) {
        if (countor == 0) lookAtWindow();
        if (record) note(e);
        lastReportUnit = units;
        the().chubness(handle ? handle : standIn(), _CHUBREPORT{e.bytes, 8});
        if (countor++ == 0) paint();
        countor %= kRepaintEvery;
    }

    // A note starts on the key's ratio; a silent key plays nothing. The
    // picture shows the voice's new ratio at the next repaint.
    void keyDown(int key, int velocity) {
        KeyScale::Ratio r = keyScale->at(key);
        if (!r.sounds()) return;
        pedal.press(key);
        the().keynote(KeyNote{KeyNote::Kind::Down, key, velocity, r.nume, r.deno});
        repaintDue = true;
    }

    void keyUp(int key) { the().keynote(KeyNote{KeyNote::Kind::Up, key, 0, 1, 1}); }

    void endNotes() {
        pedal.clear();
        the().keynote(KeyNote{KeyNote::Kind::AllUp, 0, 0, 1, 1});
    }

    // A key command, typed or from a MIDI note.
    void press(unsigned char k) {
        the().charactros(k);
        repaintDue = true;
    }

    // Reports from a game controller or a script carry the address of this
    // gate's stand-in byte as their device.
    ChubDevice* standIn() { return reinterpret_cast<ChubDevice*>(&standInDevice); }

    // Before an input that repaints: the size the repaint will use. A
    // change is recorded ahead of the input, so a replay repaints alike.
    void lookAtWindow() {
        window->size(paintWidth, paintHeight);
        if (paintWidth == recordedWidth && paintHeight == recordedHeight) return;
        recordedWidth = paintWidth;
        recordedHeight = paintHeight;
        EventScript::Event e;
        e.kind = EventScript::Kind::Size;
        e.x = static_cast<int>(paintWidth);
        e.y = static_cast<int>(paintHeight);
        note(e);
    }

    void paint() { window->paint(the(), paintWidth, paintHeight); }

    void note(const EventScript::Event& e) {
        if (recorder) recorder->event(frame(), e);
    }

    AbstractChubEngine* engine;
    Window* window;
    Controllers* controllers;
    char standInDevice = 0;
    Recorder* recorder = nullptr;
    UnitWatcher* unitWatcher = nullptr;
    const std::vector<EventScript::Event>* script = nullptr;
    size_t next = 0;
    long long units = 0;
    uint32_t paintWidth = kStartWidth, paintHeight = kStartHeight;
    uint32_t recordedWidth = kStartWidth, recordedHeight = kStartHeight;
    long long lastReportUnit = -kQuietUnits - 1;  // the unit of the latest report
    bool repaintDue = false;                       // a key or press since the last unit
    std::string saveDir;                           // savesTo's folder; empty: scripts' saves write nothing
    ReportMerge merge;
    bool midiPlays = false;
    const KeyScale* keyScale = nullptr;  // while keys play notes: their ratios
    KeyPedal pedal;
};
