// One instance of the instrument inside a host, apart from any plugin
// API: an engine of its own with its own input gate, run in units of 256
// frames whatever the host's rate, at E = 22050 frames a second (or the
// rate that sounds 1/1 at another pitch, see PitchOfOne), and converted
// to the host's rate R.
//
// Timing. Host frames are counted from the first run (T). The converter's
// output comes in stretches: from the start, and anew from each pitch
// change, output frame t of a stretch is engine time P + (t − S) × E / R
// (P the engine frame the stretch starts at, S the host frame where its
// output starts: at the start P = 0 and S = L, so the first L frames out
// are silence). An input at host frame T acts on the unit that holds the
// engine frame F = P + floor((T + L − S) × E / R), before it, as a
// script's event does in the renderer: the frame that sounds L frames
// later. When a block ends at T, every input before T is known, so the
// units before K(T) = floor(F(T) / 256) may be made, and the output up to
// T must come from them. The converter gives output frame j of a stretch
// once it has been given the engine frames up to P + j × E / R + h (h its
// lookahead, in engine frames), so no input is ever late, whatever the
// block sizes and wherever a stretch starts within a unit, when
// L ≥ (256 + h) × R / E − 1: one unit less a frame, plus the converter's
// lookahead, at the host's rate, rounded up (latencyFor). At R = E the
// samples go out unconverted (h = 0): L = 255, and at the default pitch
// and 22050 output frame t is the renderer's sample t − 255 divided by
// 32768.
//
// Silence. A unit in which no voice sounds (LaceyBanks::quiet) is made in
// closed form, and once the converter's tail has played out its zero
// frames are passed over there too (RateConverter::skipZeros): the same
// output, bit for bit, for almost no work. Every other unit is made as one
// period (LaceyBanks::gingPeriod).
//
// Tuned notes. After each unit the voices that sound become tuned MIDI
// (TunedNotes); each message goes out in the block that holds the host
// frame where its unit's sound comes out, S + ceil((F − P) × R / E) for
// the unit that begins at engine frame F, so the notes keep time with the
// delayed sound. A port that fills up keeps the rest for the next block.
//
// Keys. While keys are on, MIDI's notes play notes on the ratios of the
// keys' scale (InputGate::playKeys); off, they are voice buttons and key
// commands. An instrument starts with keys off and the default scale (the
// plugins turn keys on for a new instance). Turning them on or off is an
// input, at its frame; a scale is built off the audio thread (makeKeys)
// and takes over at a unit boundary, notes sounding keep their ratios.
//
// Threads. A block: portValue/setPitch/midi/windowEvent/tuningWay/keysOn,
// then render, then nextTuned/popTuned, on the audio thread, allocating,
// locking and printing nothing. snapshot, restore, readBank, offerKeys and
// keysFile run on other threads; the banks and scales they build take over
// at a unit boundary inside render, and what they replace is handed back
// through retired() to be destroyed off the audio thread.
#pragma once

#include "engine/EventScript.h"
#include "engine/InputGate.h"
#include "engine/InstrumentState.h"
#include "engine/KeyScale.h"
#include "engine/LaceyBanks.h"
#include "engine/PatchFile.h"
#include "engine/PitchOfOne.h"
#include "engine/Samples.h"
#include "engine/TunedOut.h"
#include "hostkit/RateConverter.h"
#include "plugin/PluginWindow.h"
#include "plugin/PortControllers.h"
#include "plugin/WindowMessages.h"

#include <stdio_ext.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Instrument {
public:
    static constexpr int kEngineRate = 22050;
    static constexpr int kUnit = InputGate::kUnit;
    // Engine rates are kept in 1/65536 frames a second, so that the frames
    // inputs act on are worked out exactly, whatever the pitch.
    static constexpr int kRateShift = 16;
    static constexpr uint32_t kChunk = 4096;           // host frames made per pull
    static constexpr int kQueue = 8192;                 // inputs waiting for their unit
    static constexpr size_t kStateRoom = 1u << 20;      // bytes: the whole instrument as text
    static constexpr int kRetireRoom = 64;

    // What render() took out of the engine, for another thread to destroy.
    struct Retired {
        MultiplexPotentiator* bank = nullptr;
        InstrumentState::Banks* banks = nullptr;
        KeyScale* keys = nullptr;
    };

    // `rate`: the host's frames per second, rounded to a whole number.
    explicit Instrument(double rate)
        : rate(rate >= 1 ? static_cast<uint32_t>(std::lround(rate)) : kEngineRate),
          engine(new LaceyBanks()),
          window(engine),
          gate(engine, &window, &ports),
          tuned(this) {
        // Room for the largest latency (at the lowest pitch), a pull's frames
        // and what one unit converts to beyond them.
        double most = static_cast<double>(this->rate) / PitchOfOne::rate(PitchOfOne::kLowest);
        fifoFrames = latencyFor(most, true) + kChunk + static_cast<uint32_t>(std::ceil(kUnit * most)) + 64;
        fifo.assign(static_cast<size_t>(fifoFrames) * 2, 0.0f);
        stateText.assign(kStateRoom, 0);
        stateBuffer.assign(4096, 0);
        stateFile = fmemopen(stateText.data(), stateText.size(), "w");
        if (stateFile) {
            setvbuf(stateFile, stateBuffer.data(), _IOFBF, stateBuffer.size());
            __fsetlocking(stateFile, FSETLOCKING_BYCALLER);
        }
        engineRate = static_cast<uint64_t>(kEngineRate) << kRateShift;
        startStretch();
        latencyFrames = latencyFor(ratio, converting);
        outEnd = latencyFrames;  // the first L frames out are silence
        stretchHost = latencyFrames;
        tuned.watch(engine);
        gate.watchUnits(&tuned);
    }

    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    ~Instrument() {
        if (stateFile) std::fclose(stateFile);
        delete pendingRestore.exchange(nullptr);
        delete pendingBank;
        delete offeredKeys.exchange(nullptr);
        for (int k = 0; k < retiredCount; k++) {
            delete retiredList[k].bank;
            delete retiredList[k].banks;
            delete retiredList[k].keys;
        }
        delete engine;
        delete keyScale;
    }

    uint32_t sampleRate() const { return rate; }
    // The pitch of 1/1 in Hz (PitchOfOne::kDefault until setPitch).
    double pitch() const { return pitchHz; }
    // Host frames between an input and the unit it acts on in the output.
    uint32_t latency() const { return latencyFrames; }
    // Inputs that came after their unit was made (never, unless a block
    // was refused while a save held the engine).
    uint64_t lateInputs() const { return late; }
    // Units made before every input that may act on them was known (never,
    // when the latency is right).
    uint64_t unitsAhead() const { return ahead; }

    // --- The audio thread ---------------------------------------------

    // A control port's value (a report byte 0..4), at `frame` of the block
    // about to be rendered (an LV2 port's at its first). Rounded and
    // clamped to -128..127; only a change is an input.
    void portValue(int control, float value, uint32_t frame = 0) {
        if (control < 0 || control >= PortControllers::kControls || !(value == value)) return;
        long v = std::lround(value < -128.0f ? -128.0f : value > 127.0f ? 127.0f : value);
        if (v == portSeen[control]) return;
        portSeen[control] = static_cast<signed char>(v);
        Input in;
        in.kind = Input::Port;
        in.bytes[0] = static_cast<unsigned char>(control);
        in.bytes[1] = static_cast<unsigned char>(static_cast<signed char>(v));
        push(frame, in);
    }

    // The pitch of 1/1 in Hz from the block about to be rendered on, held
    // to PitchOfOne's range (not a number: ignored). The engine's units then
    // run at the rate that sounds 1/1 there, and the converter takes them at
    // the new ratio from the next frame it is given: what it held of the old
    // pitch's lookahead is dropped, a click at most. The latency becomes the
    // one the new ratio needs; what the output already holds plays out
    // first, cut to the new latency.
    void setPitch(double hz) {
        if (!(hz == hz)) return;
        hz = heldPitch(hz);
        uint64_t q = engineRateAt(hz);
        if (q == engineRate) return;
        pitchHz = hz;
        tuned.notes.setPitch(hz);  // the notes sound what the instrument sounds
        engineRate = q;
        startStretch();
        latencyFrames = latencyFor(ratio, converting);
        if (outEnd - outStart > latencyFrames) outEnd = outStart + latencyFrames;
        stretchHost = hostFrame + (outEnd - outStart);
        stretchFrame = gate.frame() - unitLeft;
    }

    // What latency() becomes at the host's `rate` once setPitch(hz) acts,
    // for hosts that are told the latency before the pitch reaches the
    // instrument.
    static uint32_t latencyAt(uint32_t rate, double hz) {
        uint64_t q = engineRateAt(heldPitch(hz)), r = static_cast<uint64_t>(rate) << kRateShift;
        return latencyFor(static_cast<double>(r) / static_cast<double>(q), q != r);
    }

    // The host frames an input takes to be heard at a converter ratio
    // (host frames per engine frame), converting or not (see the top of
    // the file).
    static uint32_t latencyFor(double ratio, bool converting) { return RateConverter::latencyFor(ratio, converting); }

    // One MIDI message at `frame` of the block about to be rendered
    // (frames not decreasing). Messages longer than three bytes (system
    // exclusive) are not the map's and are dropped.
    void midi(uint32_t frame, const unsigned char* message, uint32_t length) {
        if (!message || length < 1 || length > 3) return;
        Input in;
        in.kind = Input::Midi;
        in.length = static_cast<unsigned char>(length);
        for (uint32_t k = 0; k < length; k++) in.bytes[k] = message[k];
        push(frame, in);
    }

    // One event of the plugin's window at `frame` of the block about to be
    // rendered: it reaches the gate as the program's window events do.
    void windowEvent(uint32_t frame, windowio::Event e, int32_t x, int32_t y) {
        if (e >= windowio::Event::Count) return;
        Input in;
        in.kind = Input::Window;
        in.event = e;
        in.x = x;
        in.y = y;
        push(frame, in);
    }

    // Keys on or off from `frame` of the block about to be rendered; only a
    // change is an input. Off ends the notes sounding.
    void keysOn(bool on, uint32_t frame = 0) {
        if (on == keysAsked) return;
        keysAsked = on;
        Input in;
        in.kind = Input::Keys;
        in.bytes[0] = on;
        push(frame, in);
    }

    // How the tuned notes are tuned: the notes sounding end and the next
    // unit starts them the new way.
    void tuningWay(TunedNotes::Way way) {
        if (way == tuned.notes.way()) return;
        tuned.notes.setWay(way, gate.frame());
        tuned.flush();
    }

    // The first tuned message due in the block just rendered, with its
    // frame in the block (0 for one a full port kept from an earlier
    // block); false when none is due. popTuned takes it.
    bool nextTuned(uint32_t& frame, const TunedNotes::Message*& message) const {
        if (tunedCount == 0 || tunedQueue[tunedHead].hostFrame >= hostFrame) return false;
        const Tuned& t = tunedQueue[tunedHead];
        frame = t.hostFrame > blockStart ? static_cast<uint32_t>(t.hostFrame - blockStart) : 0;
        message = &t.message;
        return true;
    }
    void popTuned() {
        tunedHead = (tunedHead + 1) % kTunedRoom;
        tunedCount--;
    }
    // Tuned messages dropped because too many waited (never, unless the
    // host keeps leaving no room for them).
    uint64_t tunedDropped() const { return tunedLost + tuned.notes.dropped(); }

    // The window's side of the repaints: the pictures waiting to go out.
    PluginWindow& pictures() { return window; }

    // A bank read by readBank: it replaces the current bank at the next
    // unit boundary. An earlier one that has not taken over yet is retired.
    // False, the bank not taken, when retired() holds as many as it can
    // until its caller takes them (takesBank() tells beforehand).
    bool offerBank(MultiplexPotentiator* bank) {
        if (!takesBank()) return false;
        if (pendingBank) retire(Retired{pendingBank, nullptr});
        pendingBank = bank;
        return true;
    }
    bool takesBank() const { return !pendingBank || retiredCount < kRetireRoom; }

    // Renders `n` frames into `left` and `right` and ends the block.
    void render(float* left, float* right, uint32_t n) {
        runs.fetch_add(1, std::memory_order_relaxed);
        int expected = kFree;
        if (!owner.compare_exchange_strong(expected, kRun, std::memory_order_acquire)) {
            // A save that found no run for a while holds the engine: this
            // block is silent and the engine's time stands still.
            std::memset(left, 0, n * sizeof(float));
            std::memset(right, 0, n * sizeof(float));
            return;
        }
        uint64_t end = hostFrame + n;
        blockStart = hostFrame;
        long long known = engineFrameAt(end) / kUnit;
        for (uint32_t done = 0; done < n;) {
            uint32_t chunk = n - done < kChunk ? n - done : kChunk;
            pull(chunk, known);
            for (uint32_t f = 0; f < chunk; f++) {
                left[done + f] = fifo[2 * (outStart + f)];
                right[done + f] = fifo[2 * (outStart + f) + 1];
            }
            outStart += chunk;
            done += chunk;
        }
        hostFrame = end;
        owner.store(kFree, std::memory_order_release);
    }

    // What render() took out of the engine since the last call; the caller
    // hands each to another thread to destroy. Audio thread only.
    int retired(Retired* out, int room) {
        int n = retiredCount < room ? retiredCount : room;
        for (int k = 0; k < n; k++) out[k] = retiredList[k];
        for (int k = n; k < retiredCount; k++) retiredList[k - n] = retiredList[k];
        retiredCount -= n;
        return n;
    }

    // --- Other threads ------------------------------------------------

    // The same instrument at the host's `rate`, without its history: its
    // banks as they stand (with a restore or a bank file that waits to take
    // over), its pitch of 1/1, the way of its tuned notes and whether its
    // window is open; but its time, its voices' phases, its controllers and
    // its queued inputs start afresh, as in a fresh instance given that
    // state. For a host that activates the plugin again (LV2 asks that an
    // instance then forget its history; Ardour runs a plugin once to read
    // its latency, then activates it again) or at another rate. Never
    // while a block is being made.
    std::unique_ptr<Instrument> anew(double hostRate) {
        std::string text;
        // One that never played and was given nothing is a fresh one: its
        // banks as made, not as read back from their text.
        if (runs.load() > 0 || pendingRestore.load() || pendingBank) {
            std::lock_guard<std::mutex> one(saving);
            takeOver();
            writeState();
            if (!copyState(text)) text.clear();
        }
        auto fresh = std::make_unique<Instrument>(hostRate);
        std::string why;
        if (!text.empty()) fresh->restore(text, why);
        fresh->setPitch(pitchHz);
        fresh->tuningWay(tuned.notes.way());
        fresh->keysOn(keysAsked);
        KeyScale::Source now[2];
        keySources(now[0], now[1]);
        if (KeyScale* keys = makeKeys(now[0], now[1], why)) fresh->offerKeys(keys);
        uint32_t w, h;
        window.size(w, h);
        if (window.isOpen()) fresh->windowEvent(0, windowio::Event::Opened, static_cast<int32_t>(w), static_cast<int32_t>(h));
        return fresh;
    }


    // The whole instrument as text, as it stood at a unit boundary. While
    // the host runs blocks the next boundary takes it; when no block has
    // run for a tenth of a second the engine is taken for the moment.
    bool snapshot(std::string& out) {
        std::lock_guard<std::mutex> one(saving);
        uint32_t request = wanted.load() + 1;
        wanted.store(request, std::memory_order_release);
        uint64_t seen = runs.load(std::memory_order_relaxed);
        auto still = std::chrono::steady_clock::now();
        for (;;) {
            if (served.load(std::memory_order_acquire) == request) return copyState(out);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            auto now = std::chrono::steady_clock::now();
            uint64_t r = runs.load(std::memory_order_relaxed);
            if (r != seen) {
                seen = r;
                still = now;
            } else if (now - still > std::chrono::milliseconds(100)) {
                break;
            }
        }
        int expected = kFree;
        while (!owner.compare_exchange_weak(expected, kSave, std::memory_order_acquire)) {
            if (served.load(std::memory_order_acquire) == request) return copyState(out);
            expected = kFree;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (served.load(std::memory_order_acquire) != request) {
            InstrumentState::Banks* fresh = pendingRestore.exchange(nullptr);
            if (fresh) {
                fresh->swapInto(*engine);
                delete fresh;
            }
            writeState();
            served.store(request, std::memory_order_release);
        }
        owner.store(kFree, std::memory_order_release);
        return copyState(out);
    }

    // Reads a whole instrument (as snapshot wrote it); it takes over at the
    // next unit boundary. False, with the reason, for a text that is not one.
    bool restore(const std::string& text, std::string& why) {
        InstrumentState::Banks* fresh = new InstrumentState::Banks();
        if (!InstrumentState::read(text, engine->getStabile(), *fresh, why)) {
            delete fresh;
            return false;
        }
        delete pendingRestore.exchange(fresh);
        return true;
    }

    // Reads a patch file into a new bank for offerBank; null, with the
    // reason, when the file cannot be read. What the loader changes or
    // cannot read goes to `warn`.
    MultiplexPotentiator* readBank(const char* path, std::string& why, PatchWords::Warn warn = {}) {
        std::string bytes;
        if (!PatchFile::read(path, bytes, why)) return nullptr;
        MultiplexPotentiator* bank = new MultiplexPotentiator(engine->getStabile());
        bank->load(std::vector<char>(bytes.begin(), bytes.end()), MultiplexPotentiator::kMaxAdded, std::move(warn));
        return bank;
    }

    // The keys' scale from a scale and a mapping text (one not given: the
    // default scale, or no mapping); null, with what is wrong as
    // "NAME:LINE: what", when a text is no scale or mapping. Any thread.
    static KeyScale* makeKeys(const KeyScale::Source& scale, const KeyScale::Source& map, std::string& why) {
        auto keys = std::make_unique<KeyScale>();
        KeyScale::Problem p;
        if (keys->build(scale, map, &p)) return keys.release();
        const std::string& name = (p.inMap ? map : scale).name;
        why = (name.empty() ? p.inMap ? "the mapping" : "the scale" : name) + ":" + std::to_string(p.line) + ": " + p.what;
        return nullptr;
    }

    // A scale made by makeKeys: the keys play it from the next unit
    // boundary on; one offered earlier that has not taken over yet is
    // destroyed. Not on the audio thread.
    void offerKeys(KeyScale* keys) {
        std::lock_guard<std::mutex> one(keysLock);
        offerLocked(keys);
    }

    // The texts of the scale offered last (none given: the default).
    void keySources(KeyScale::Source& scale, KeyScale::Source& map) {
        std::lock_guard<std::mutex> one(keysLock);
        scale = texts[0];
        map = texts[1];
    }

    // Reads a scale (`which` 0, .scl) or mapping (1, .kbm) file, as patch
    // files are read, and offers the keys it makes with the other text as
    // it is; false, with the reason, when the file cannot be read or is no
    // scale or mapping. `hz`: the pitch of 1/1 the mapping's reference
    // gives (0 without one). Not on the audio thread.
    bool keysFile(int which, const char* path, std::string& why, double& hz) {
        std::lock_guard<std::mutex> one(keysLock);  // the other text stays the one offered with it
        KeyScale::Source read[2] = {texts[0], texts[1]};
        KeyScale::Source& file = read[which ? 1 : 0];
        if (!KeyScale::readFile(path, file.text, why)) return false;
        file.name = path;
        KeyScale* keys = makeKeys(read[0], read[1], why);
        if (!keys) return false;
        hz = keys->mapPitch();
        offerLocked(keys);
        return true;
    }

private:
    static constexpr int kTunedRoom = 4096;  // tuned messages waiting for their block

    struct Tuned {
        uint64_t hostFrame = 0;
        TunedNotes::Message message;
    };

    // The notes' messages, stamped with the host frame their unit's sound
    // comes out at.
    class TunedQueue final : public TunedOut {
    public:
        explicit TunedQueue(Instrument* owner) : owner(owner) {}

    private:
        void send(const TunedNotes::Message& m) override { owner->queueTuned(m); }
        Instrument* owner;
    };

    void queueTuned(const TunedNotes::Message& m) {
        if (tunedCount == kTunedRoom) {
            tunedLost++;
            return;
        }
        Tuned& t = tunedQueue[(tunedHead + tunedCount) % kTunedRoom];
        t.hostFrame = hostFrameOf(m.frame);
        t.message = m;
        tunedCount++;
    }

    struct Input {
        enum Kind : unsigned char { Midi, Port, Window, Keys };
        long long unit = 0;
        Kind kind = Midi;
        unsigned char length = 0;
        unsigned char bytes[3] = {};
        windowio::Event event = windowio::Event::Repaint;
        int32_t x = 0, y = 0;
    };

    static constexpr int kFree = 0, kRun = 1, kSave = 2;

    // The host frame where engine frame `f` comes out, in the stretch now
    // playing, rounded up (see the top of the file).
    uint64_t hostFrameOf(long long f) const {
        __int128 scaled = static_cast<__int128>(f - stretchFrame) * (static_cast<__int128>(rate) << kRateShift);
        __int128 whole = scaled / engineRate;  // toward zero: already up when negative
        if (scaled % engineRate > 0) whole++;
        long long t = static_cast<long long>(stretchHost) + static_cast<long long>(whole);
        return t < 0 ? 0 : static_cast<uint64_t>(t);
    }

    // The engine frame an input at host frame t acts in (see the top of
    // the file).
    long long engineFrameAt(uint64_t t) const {
        uint64_t ahead = t + latencyFrames;
        if (ahead < stretchHost) return stretchFrame;
        unsigned __int128 scaled = static_cast<unsigned __int128>(ahead - stretchHost) * engineRate;
        return stretchFrame + static_cast<long long>(scaled / (static_cast<unsigned __int128>(rate) << kRateShift));
    }

    // Held to PitchOfOne's range and taken to a ten-thousandth of a hertz:
    // a host that keeps the value as a float (Ardour keeps a VST3
    // parameter so) gives back 689.0625 as 689.0625026, and the converter,
    // which keeps its ratio exactly, would then play a hair off the pitch
    // and unlike the same session's LV2.
    static double heldPitch(double hz) {
        hz = hz < PitchOfOne::kLowest ? PitchOfOne::kLowest : hz > PitchOfOne::kHighest ? PitchOfOne::kHighest : hz;
        return std::round(hz * kPitchSteps) / kPitchSteps;
    }
    static constexpr double kPitchSteps = 10000;  // steps of the pitch in a hertz
    // The engine's frames a second at pitch `hz`, << kRateShift.
    static uint64_t engineRateAt(double hz) {
        return static_cast<uint64_t>(std::llround(PitchOfOne::rate(hz) * (1 << kRateShift)));
    }

    // A stretch of the converter's output at the pitch now set: conversion
    // or none, its ratio, and a converter that starts afresh.
    void startStretch() {
        converting = engineRate != static_cast<uint64_t>(rate) << kRateShift;
        ratio = static_cast<double>(static_cast<uint64_t>(rate) << kRateShift) / static_cast<double>(engineRate);
        converter.restart(static_cast<uint64_t>(rate) << kRateShift, engineRate);
    }

    void push(uint32_t frame, Input in) {
        in.unit = engineFrameAt(hostFrame + frame) / kUnit;
        long long next = gate.frame() / kUnit;
        if (in.unit < next) {
            late++;
            in.unit = next;
        }
        // Never before an input already waiting (only a pitch change can
        // map a later input to an earlier unit): they act in their order.
        if (queued > 0 && in.unit < lastQueued) in.unit = lastQueued;
        lastQueued = in.unit;
        if (queued == kQueue) return;  // more than a block can hold: dropped
        queue[(queueHead + queued) % kQueue] = in;
        queued++;
    }

    // Makes converted frames until `n` wait in the fifo.
    void pull(uint32_t n, long long known) {
        if (outStart > 0) {
            std::memmove(fifo.data(), fifo.data() + 2 * outStart, (outEnd - outStart) * 2 * sizeof(float));
            outEnd -= outStart;
            outStart = 0;
        }
        while (outEnd - outStart < n) {
            if (unitLeft == 0) makeUnit(known);
            uint32_t room = fifoFrames - outEnd;
            if (!converting || !converter.ok()) {
                uint32_t k = unitLeft < room ? unitLeft : room;
                std::memcpy(fifo.data() + 2 * outEnd, unit + 2 * unitPos, k * 2 * sizeof(float));
                unitPos += k;
                unitLeft -= k;
                outEnd += k;
                continue;
            }
            uint32_t used, made;
            if (unitQuiet && converter.settled()) {
                converter.skipZeros(unitLeft, fifo.data() + 2 * outEnd, room, used, made);
            } else if (!converter.process(unit + 2 * unitPos, unitLeft, fifo.data() + 2 * outEnd, room, used, made)) {
                // Never expected: fill the rest with silence rather than spin.
                std::memset(fifo.data() + 2 * outEnd, 0, (n - (outEnd - outStart)) * 2 * sizeof(float));
                outEnd = outStart + n;
                return;
            }
            unitPos += used;
            unitLeft -= used;
            outEnd += made;
        }
    }

    // One engine unit through the gate: banks that take over, the inputs
    // of the unit, the controllers' report, 256 frames, the period's end,
    // and a state snapshot when one is wanted.
    void makeUnit(long long known) {
        long long u = gate.frame() / kUnit;
        if (u >= known) ahead++;
        takeOver();
        while (queued > 0 && queue[queueHead].unit <= u) {
            const Input& in = queue[queueHead];
            if (in.kind == Input::Midi) gate.midi(in.bytes, in.length);
            else if (in.kind == Input::Window) fromWindow(in);
            else if (in.kind == Input::Keys) {
                keysPlaying = in.bytes[0];
                gate.playKeys(keysPlaying ? keyScale : nullptr);
            } else ports.set(in.bytes[0], static_cast<signed char>(in.bytes[1]));
            queueHead = (queueHead + 1) % kQueue;
            queued--;
        }
        gate.beforeUnit();
        unitQuiet = engine->quiet();
        if (unitQuiet) {
            // No voice sounds: the engine moves on in closed form, and the
            // converter may pass the unit over once its tail has gone.
            engine->passQuietly(kUnit);
            std::memset(unit, 0, sizeof unit);
        } else {
            int pairs[2 * kUnit];
            engine->gingPeriod(kUnit, pairs);
            unsigned char bytes[4];
            for (int f = 0; f < kUnit; f++) {
                pcm_convert_frame(pairs + 2 * f, bytes);
                unit[2 * f] = pcm_sample_float(bytes);
                unit[2 * f + 1] = pcm_sample_float(bytes + 2);
            }
        }
        engine->beging();
        gate.afterUnit();
        unitPos = 0;
        unitLeft = kUnit;
        uint32_t w = wanted.load(std::memory_order_acquire);
        if (w != served.load(std::memory_order_relaxed)) {
            writeState();
            served.store(w, std::memory_order_release);
        }
    }

    // The banks a restore built and a bank file read, when they wait: they
    // take over now.
    // What they replace must wait in retired(): while it is full they wait
    // for the next boundary, so that nothing is ever dropped unfreed.
    void takeOver() {
        InstrumentState::Banks* fresh = nullptr;
        if (retiredCount < kRetireRoom && (fresh = pendingRestore.exchange(nullptr, std::memory_order_acquire))) {
            fresh->swapInto(*engine);
            retire(Retired{nullptr, fresh});
        }
        if (pendingBank && retiredCount < kRetireRoom) {
            retire(Retired{engine->replaceBank(engine->getCurrent(), pendingBank), nullptr});
            pendingBank = nullptr;
        }
        KeyScale* keys = nullptr;
        if (retiredCount < kRetireRoom && (keys = offeredKeys.exchange(nullptr, std::memory_order_acq_rel))) {
            retire(Retired{nullptr, nullptr, keyScale});
            keyScale = keys;
            if (keysPlaying) gate.playKeys(keyScale);
        }
    }

    // The window's events through the gate, as the program's window gives
    // them: its size is what the next repaint uses; opening repaints, so
    // the window gets a picture at once.
    void fromWindow(const Input& in) {
        using windowio::Event;
        switch (in.event) {
        case Event::Opened:
            window.opened(true);
            window.resize(static_cast<uint32_t>(in.x), static_cast<uint32_t>(in.y));
            gate.expose();
            break;
        case Event::Size: window.resize(static_cast<uint32_t>(in.x), static_cast<uint32_t>(in.y)); break;
        case Event::Click: gate.click(in.x, in.y); break;
        case Event::Key: gate.key(static_cast<unsigned char>(in.x)); break;
        case Event::Repaint: gate.expose(); break;
        case Event::Closed: window.opened(false); break;
        case Event::Count: break;
        }
    }

    // The callers have made sure of the room.
    void retire(Retired r) { retiredList[retiredCount++] = r; }

    void offerLocked(KeyScale* keys) {
        texts[0] = keys->scale();
        texts[1] = keys->map();
        delete offeredKeys.exchange(keys, std::memory_order_acq_rel);
    }

    // Formats the instrument into the buffer made at construction; with
    // the stream's own buffer given and its lock left to the caller, the
    // formatting allocates and locks nothing.
    void writeState() {
        stateOk = false;
        stateLength = 0;
        if (!stateFile) return;
        std::clearerr(stateFile);
        std::fseek(stateFile, 0, SEEK_SET);
        stateOk = InstrumentState::write(*engine, stateFile);
        long at = std::ftell(stateFile);
        stateLength = at > 0 ? static_cast<size_t>(at) : 0;
        if (stateLength >= kStateRoom) stateOk = false;
    }

    bool copyState(std::string& out) {
        out.assign(stateText.data(), stateLength);
        return stateOk;
    }

    uint32_t rate;
    LaceyBanks* engine;
    PluginWindow window;
    PortControllers ports;
    InputGate gate;
    RateConverter converter;  // made now: a pitch change may need it on the audio thread
    uint32_t latencyFrames = 0;
    double pitchHz = PitchOfOne::kDefault;
    uint64_t engineRate = 0;      // E, in 1/65536 frames a second
    bool converting = false;      // E differs from the host's rate
    double ratio = 1;             // R / E: host frames per engine frame
    long long stretchFrame = 0;   // P: the engine frame the converter's stretch starts at
    uint64_t stretchHost = 0;     // S: the host frame where its output starts
    long long lastQueued = 0;     // the unit of the input queued last

    uint64_t hostFrame = 0;      // the first frame of the block being made
    uint64_t blockStart = 0;     // the first frame of the block last rendered
    uint64_t late = 0, ahead = 0;
    signed char portSeen[PortControllers::kControls] = {};

    Input queue[kQueue];
    int queueHead = 0, queued = 0;

    float unit[2 * kUnit] = {};  // the last unit, as the converter takes it
    uint32_t unitPos = 0, unitLeft = 0;
    bool unitQuiet = false;      // the last unit is silence, made in closed form
    std::vector<float> fifo;     // converted frames, interleaved
    uint32_t fifoFrames = 0;     // what it holds
    uint32_t outStart = 0, outEnd = 0;

    TunedQueue tuned;
    Tuned tunedQueue[kTunedRoom];
    int tunedHead = 0, tunedCount = 0;
    uint64_t tunedLost = 0;

    MultiplexPotentiator* pendingBank = nullptr;  // audio thread only
    KeyScale* keyScale = new KeyScale();          // the scale keys play; audio thread only
    bool keysPlaying = false;                     // keys on, as the units have it; audio thread only
    bool keysAsked = false;                       // keys on, as the last input asked
    std::atomic<KeyScale*> offeredKeys{nullptr};  // offerKeys -> the next unit boundary
    std::mutex keysLock;                          // over texts
    KeyScale::Source texts[2];                    // the scale's and the mapping's, as last offered
    std::atomic<InstrumentState::Banks*> pendingRestore{nullptr};
    Retired retiredList[kRetireRoom];
    int retiredCount = 0;

    std::atomic<int> owner{kFree};
    std::atomic<uint64_t> runs{0};
    std::atomic<uint32_t> wanted{0}, served{0};
    std::mutex saving;
    std::vector<char> stateText, stateBuffer;
    FILE* stateFile = nullptr;
    size_t stateLength = 0;
    bool stateOk = false;
};
