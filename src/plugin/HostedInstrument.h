// The instrument as the CLAP and VST3 plugins hold it, whatever the API:
// an Instrument made anew when the host activates it again or at another
// rate (its banks carried over, not its history), the parameters
// (Parameters.h), the state, the
// window in the host's (EmbeddedWindow through a WindowLink), and the
// hand-over of what must not be made or destroyed on the audio thread.
// The adapters (clap.cpp, vst3.cpp) only translate their API's calls.
//
// The state is the text the LV2 plugin keeps, the whole instrument, then a
// NUL byte and one line per further value: "bank PATH" (the bank file last
// loaded), "preset NAME" (the preset last chosen, if any), "SYMBOL VALUE"
// for each parameter, and the keys' scale and mapping when they are not
// the default, "scale PATH" and "map PATH" each followed by the file's
// text, a line after '|' for each of its lines (as a recording carries
// them), so the session plays the same after the file moved or changed.
// A state without the NUL (an LV2 text) keeps the bank file, the
// parameters and the keys as they are; one with an empty text and a bank
// file alone loads that file into the current bank, as the LV2 plugin's
// bank file parameter does. A state with the parameters but without
// `keys` was saved before keys played notes: it turns them off, so it
// plays as it did.
//
// Threads. The audio thread: begin, midi, note, paramEvent, render. The
// host's main thread: everything else, never while the audio thread is in
// activate's way (hosts activate a plugin only while not processing).
// What render retires (the banks a state or preset replaced) waits in a
// ring for tidy(), which every main-thread call that can replace banks
// makes first, as do activation and the window's timer: without a window
// at most the last replacement's banks wait, and none is ever dropped.
#pragma once

#include "plugin/Instrument.h"
#include "plugin/MessageRing.h"
#include "plugin/Parameters.h"
#include "plugin/WindowLink.h"

#include "PresetTexts.h"  // made at build time from the example patches

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

class HostedInstrument {
public:
    static constexpr double kStartRate = 48000;  // until the host gives its own

    HostedInstrument() : instrument(std::make_unique<Instrument>(kStartRate)), retired(kRetiredRoom) {
        for (int k = 0; k < params::kCount; k++) values[k].store(params::kList[k].start);
        link.onFile([](void* self, windowio::File file, const std::string& path) {
            static_cast<HostedInstrument*>(self)->loadFile(file, path);
        }, this);
    }
    ~HostedInstrument() {
        closeWindow();
        tidy();
        delete offered.exchange(nullptr);
    }
    HostedInstrument(const HostedInstrument&) = delete;
    HostedInstrument& operator=(const HostedInstrument&) = delete;

    // --- The main thread --------------------------------------------------

    // The instrument at the host's `rate` (frames a second), as the host
    // activates the plugin: made anew when the rate is another, or when it
    // has played since it was made, without its history but with its
    // banks (Instrument::anew), as a host that activates a plugin again
    // expects.
    void activate(double rate) {
        std::lock_guard<std::mutex> one(mainLock);
        if (static_cast<uint32_t>(std::lround(rate)) == instrument->sampleRate() && !played.load()) return;
        instrument = instrument->anew(rate);
        played = false;
        if (window) window->announce();
    }
    // The same at the rate it has.
    void activate() { activate(instrument->sampleRate()); }

    // The latency as the host is told it: the instrument's once the pitch
    // of 1/1 the parameter holds has reached it.
    uint32_t latency() {
        uint32_t l = Instrument::latencyAt(instrument->sampleRate(), value(kPitch));
        told.store(l);
        asked.store(l);
        return l;
    }
    // True once for each latency the parameters call for that the host was
    // not told (after a new pitch of 1/1): the adapter then asks the host to
    // read the latency again. Any thread.
    bool latencyToTell() {
        uint32_t l = Instrument::latencyAt(instrument->sampleRate(), value(kPitch));
        return l != told.load() && asked.exchange(l) != l;
    }

    // A parameter's value (row k of params::kList), plain.
    double value(int k) const { return values[k].load(std::memory_order_relaxed); }
    // From the host's side or the state: the instrument takes it at the
    // start of the next block. Held to the row's range; not a number:
    // ignored.
    void setValue(int k, double v) {
        if (v == v) values[k].store(params::clamp(k, v), std::memory_order_relaxed);
    }

    bool save(std::string& out) {
        std::lock_guard<std::mutex> one(mainLock);
        tidyLocked();
        if (!instrument->snapshot(out)) return false;
        out += '\0';
        if (!bankPath.empty()) out += "bank " + bankPath + "\n";
        if (chosen >= 0) out += std::string("preset ") + kPresetTexts[chosen].name + "\n";
        char line[128];
        for (int k = 0; k < params::kCount; k++) {
            std::snprintf(line, sizeof line, "%s %.17g\n", params::kList[k].symbol, value(k));
            out += line;
        }
        KeyScale::Source texts[2];
        instrument->keySources(texts[0], texts[1]);
        for (int t = 0; t < 2; t++) {
            if (!texts[t].given()) continue;
            out += std::string(t ? "map " : "scale ") + texts[t].name + "\n" + EventScript::carriedLines(texts[t].text);
        }
        return true;
    }

    // False, with the reason, for a state that is not one of this plugin's.
    bool load(const char* data, size_t size, std::string& why) {
        std::lock_guard<std::mutex> one(mainLock);
        tidyLocked();
        if (size == 0) {
            why = "the state is empty";
            return false;
        }
        size_t end = strnlen(data, size);
        std::string text(data, end), path;
        int named = -1;
        double got[params::kCount];
        bool given[params::kCount] = {}, whole = false;
        KeyScale::Source carried[2];
        std::string* carrying = nullptr;  // the text '|' lines go to
        for (size_t at = end + 1; at < size;) {
            size_t stop = at;
            while (stop < size && data[stop] != '\n') stop++;
            std::string line(data + at, stop - at);
            at = stop + 1;
            if (!line.empty() && line[0] == '|') {
                if (carrying) carrying->append(line, 1, std::string::npos).push_back('\n');
                continue;
            }
            carrying = nullptr;
            size_t space = line.find(' ');
            if (space == std::string::npos) continue;
            std::string key = line.substr(0, space);
            if (key == "bank") path = line.substr(space + 1);
            else if (key == "preset") named = presetIndex(line.substr(space + 1));
            else if (key == "scale" || key == "map") {
                KeyScale::Source& c = carried[key == "map"];
                c.name = line.substr(space + 1);
                carrying = &c.text;
            } else if (int k = params::indexOf(key.c_str()); k >= 0)
                given[k] = true, whole = true, got[k] = std::strtod(line.c_str() + space + 1, nullptr);
        }
        // A whole state says what the keys play: its scale and mapping, or
        // the default.
        std::unique_ptr<KeyScale> keys(whole ? Instrument::makeKeys(carried[0], carried[1], why) : nullptr);
        if (whole && !keys) return false;
        if (!text.empty() && !instrument->restore(text, why)) return false;
        if (text.empty() && !path.empty()) {
            MultiplexPotentiator* bank = instrument->readBank(path.c_str(), why);
            if (!bank) return false;
            delete offered.exchange(bank);
        }
        if (end < size) bankPath = path, chosen = named;
        for (int k = 0; k < params::kCount; k++)
            if (given[k]) setValue(k, got[k]);
        if (whole && !given[kKeys]) setValue(kKeys, 0);
        if (keys) instrument->offerKeys(keys.release());
        return true;
    }

    // The presets: the example patches, each as the program starts with it.
    static constexpr int kPresets = static_cast<int>(sizeof kPresetTexts / sizeof kPresetTexts[0]);
    static const char* presetName(int k) { return k >= 0 && k < kPresets ? kPresetTexts[k].name : ""; }
    static int presetIndex(const std::string& name) {
        for (int k = 0; k < kPresets; k++)
            if (name == kPresetTexts[k].name) return k;
        return -1;
    }
    // The preset last chosen (-1: none since the start or the state).
    int preset() const { return chosen; }
    // The instrument as preset `k` has it, from the next unit on. What the
    // last choice or state retired is destroyed first: a host without a
    // window open may change programs for as long as it likes.
    bool choosePreset(int k) {
        if (k < 0 || k >= kPresets) return false;
        std::string why;
        std::lock_guard<std::mutex> one(mainLock);
        tidyLocked();
        if (!instrument->restore(kPresetTexts[k].text, why)) return false;
        chosen = k;
        return true;
    }

    // A file pasted into the window: a bank file into the current bank, as a
    // state's bank file; a scale or mapping for the keys. What cannot be
    // read is said on standard error.
    void loadFile(windowio::File file, const std::string& path) {
        std::lock_guard<std::mutex> one(mainLock);
        tidyLocked();
        std::string why;
        double hz = 0;
        if (file == windowio::File::Bank) {
            MultiplexPotentiator* bank = instrument->readBank(path.c_str(), why);
            if (!bank) why = "cannot load " + path + ": " + why;
            else delete offered.exchange(bank), bankPath = path;
        } else if (instrument->keysFile(file == windowio::File::Map, path.c_str(), why, hz) && hz > 0) {
            std::fprintf(stderr, "quorvanel: %s puts 1/1 at %.4f Hz; the Pitch of 1/1 parameter sets it\n", path.c_str(), hz);
        }
        if (!why.empty()) std::fprintf(stderr, "quorvanel: %s\n", why.c_str());
    }

    // Destroys what the audio thread took out of the engine.
    void tidy() {
        std::lock_guard<std::mutex> one(mainLock);
        tidyLocked();
    }

    // The window, in the host's window `parent`, at the size the host
    // asked for last; false without a display.
    bool openWindow(unsigned long parent) {
        closeWindow();
        link.forget();
        window = std::make_unique<EmbeddedWindow>(link.map(), WindowLink::send, &link);
        if (!window->open(static_cast<::Window>(parent))) {
            window.reset();
            return false;
        }
        if (width != window->currentWidth() || height != window->currentHeight()) window->resize(width, height);
        return true;
    }
    void closeWindow() { window.reset(); }
    void showWindow(bool shown) {
        if (window) window->show(shown);
    }
    // The window's size (pixels), as it is or as it will open; hosts may
    // set it before they give the window a parent.
    void windowSize(uint32_t& w, uint32_t& h) const {
        w = window ? window->currentWidth() : width;
        h = window ? window->currentHeight() : height;
    }
    void resizeWindow(uint32_t w, uint32_t h) {
        width = w < EmbeddedWindow::kSmallest ? EmbeddedWindow::kSmallest : w;
        height = h < EmbeddedWindow::kSmallest ? EmbeddedWindow::kSmallest : h;
        if (window) window->resize(width, height);
    }
    // The X connection the window's events come on (-1: no window).
    int windowConnection() const { return window ? window->connection() : -1; }
    // The host's timer: the window's events and the pictures that came.
    void tick() {
        tidy();
        if (!window) return;
        window->pump();
        link.deliver(*window);
    }

    // --- The audio thread -------------------------------------------------

    // The start of a block: the window's events, a bank file read, and
    // each parameter as it stands.
    void begin() {
        Instrument& in = *instrument;
        link.takeEvents(in);
        if (in.takesBank())
            if (MultiplexPotentiator* bank = offered.exchange(nullptr)) in.offerBank(bank);
        for (int k = 0; k < params::kCount; k++) params::kList[k].apply(in, value(k), 0);
    }

    void paramEvent(int k, double v, uint32_t frame) {
        setValue(k, v);
        params::kList[k].apply(*instrument, value(k), frame);
    }

    void midi(uint32_t frame, const uint8_t* bytes, uint32_t length) { instrument->midi(frame, bytes, length); }

    // A note as a MIDI note on or off; velocity 0..1, held there (not a
    // number: 0); a note on keeps at least 1 of 127, or it would be a note
    // off.
    void note(uint32_t frame, bool on, int channel, int key, double velocity) {
        long v = std::lround((velocity > 0 ? velocity < 1 ? velocity : 1 : 0) * 127);
        if (on && v < 1) v = 1;
        uint8_t m[3] = {static_cast<uint8_t>((on ? 0x90 : 0x80) | (channel & 15)), static_cast<uint8_t>(key & 127),
                        static_cast<uint8_t>(v)};
        instrument->midi(frame, m, 3);
    }

    // The tuned notes due in the block just rendered, in order, with their
    // frames in it (Instrument::nextTuned); popTuned takes the first.
    bool nextTuned(uint32_t& frame, const TunedNotes::Message*& message) const {
        return instrument->nextTuned(frame, message);
    }
    void popTuned() { instrument->popTuned(); }

    // Renders the block; true when something waits for tidy().
    bool render(float* left, float* right, uint32_t n) {
        Instrument& in = *instrument;
        played.store(true, std::memory_order_relaxed);
        in.render(left, right, n);
        bool gone = false;
        Instrument::Retired r;
        while (retired.space() >= sizeof r && in.retired(&r, 1) == 1) gone = retired.push(&r, sizeof r) || gone;
        link.sendPictures(in);
        return gone;
    }

private:
    static constexpr uint32_t kRetiredRoom = 4096;

    void tidyLocked() {
        Instrument::Retired r;
        while (retired.pop(&r, sizeof r) == sizeof r) {
            delete r.bank;
            delete r.banks;
            delete r.keys;
        }
    }

    static inline const int kPitch = params::indexOf(params::kPitchId);
    static inline const int kKeys = params::indexOf(params::kKeysId);

    std::unique_ptr<Instrument> instrument;
    std::atomic<double> values[params::kCount];
    MessageRing retired;                               // audio thread -> tidy()
    std::atomic<MultiplexPotentiator*> offered{nullptr};  // a bank file read -> begin()
    WindowLink link;
    std::unique_ptr<EmbeddedWindow> window;
    uint32_t width = EmbeddedWindow::kStartSize, height = EmbeddedWindow::kStartSize;
    std::string bankPath;
    int chosen = -1;
    std::atomic<bool> played{false};  // rendered since made
    std::atomic<uint32_t> told{0};     // the latency the host read last
    std::atomic<uint32_t> asked{0};    // the latency the host was last asked to read
    std::mutex mainLock;
};
