// Drives an engine offline in exactly the order the live host does, so the
// samples equal the bytes the ALSA path would have written for the same
// inputs: before period p (frames 256p .. 256p+255) every script event whose
// frame lies in that range is delivered in script order, through the same
// input gate as live input (repaints included, drawn nowhere), then a game
// controller's report when one plays; then gingness(0..255, 256), each pair
// converted in place by pcm_convert_frame as the ALSA fill loop does; then
// beging(). Frames: 22050 per second; lengths are frame
// counts up to WavWriter::kMaxFrames.
#pragma once

#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/InputGate.h"
#include "engine/WavWriter.h"
#include "engine/Samples.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class OfflineRenderer {
public:
    static constexpr int kPeriod = 256;  // frames per write unit, as the host's `frames`

    // floor(seconds × 22050) from a plain decimal ("1.5", "3", ".25", "2.");
    // worked out on the decimal digits themselves, so no binary fraction
    // can round a frame away. False for anything else (signs, exponents,
    // empty) and for lengths beyond WavWriter::kMaxFrames.
    static bool framesFor(const char* text, uint32_t& out) {
        std::string s(text ? text : "");
        size_t dot = s.find('.');
        std::string whole = s.substr(0, dot);
        std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
        if (whole.empty() && frac.empty()) return false;
        if ((whole + frac).find_first_not_of("0123456789") != std::string::npos) return false;
        uint64_t seconds = 0;
        for (char c : whole) {
            seconds = seconds * 10 + static_cast<uint64_t>(c - '0');
            if (seconds > WavWriter::kMaxFrames) return false;
        }
        // 22050 × 0.d1d2..dn: multiply the digit string from its last digit
        // up; what carries past the point is the whole frames it adds.
        uint64_t carry = 0;
        for (size_t i = frac.size(); i-- > 0;)
            carry = (static_cast<uint64_t>(frac[i] - '0') * WavWriter::kRate + carry) / 10;
        uint64_t total = seconds * WavWriter::kRate + carry;
        if (total > WavWriter::kMaxFrames) return false;
        out = static_cast<uint32_t>(total);
        return true;
    }

    // The default length: up to the last event's frame plus one second.
    static uint64_t defaultFrames(const std::vector<EventScript::Event>& events) {
        uint64_t last = events.empty() ? 0 : static_cast<uint64_t>(events.back().frame);
        return last + WavWriter::kRate;
    }

    // Renders `total` frames of `engine` into `wav` (made for `total`
    // frames, header not yet written), the events played through a gate of
    // its own with a window that has no display; `pads` plays the script's
    // pad lines (none when null).
    static bool render(AbstractChubEngine& engine, const std::vector<EventScript::Event>& events,
                       uint32_t total, WavWriter& wav, FILE* progress = nullptr,
                       size_t* undelivered = nullptr, InputGate::Controllers* pads = nullptr) {
        InputGate::Unseen window;
        InputGate gate(&engine, &window, pads);
        return render(gate, engine, events, total, wav, progress, undelivered);
    }

    // The same through `gate`, which delivers every input to `engine` as
    // the live host's gate does: the events before the unit that holds
    // their frame, then a game controller's report when one plays. Events
    // in periods that are not reached are not delivered; their count goes
    // to `undelivered`. A last period cut short gets no beging(): the
    // engine's contract is one beging per 256 frames, and nothing follows
    // it that could hear it. `progress`, when not null, receives a line at
    // every tenth of a render longer than kProgressFrames. False when the
    // output fails.
    static bool render(InputGate& gate, AbstractChubEngine& engine, const std::vector<EventScript::Event>& events,
                       uint32_t total, WavWriter& wav, FILE* progress = nullptr, size_t* undelivered = nullptr) {
        if (!wav.begin()) return false;
        unsigned char unit[kPeriod * 4];
        uint32_t done = 0;
        int tenths = 0;
        gate.play(&events);
        bool ok = true;
        while (ok && done < total) {
            gate.beforeUnit();
            uint32_t n = total - done < static_cast<uint32_t>(kPeriod) ? total - done : kPeriod;
            for (uint32_t f = 0; f < n; f++)
                pcm_convert_frame(engine.gingness(static_cast<int>(f), kPeriod), unit + 4 * f);
            ok = wav.frames(unit, n);
            if (n == static_cast<uint32_t>(kPeriod)) engine.beging();
            gate.afterUnit();
            done += n;
            if (progress && total > kProgressFrames)
                while (tenths < 10 && static_cast<uint64_t>(done) * 10 >= static_cast<uint64_t>(total) * (tenths + 1)) {
                    tenths++;
                    std::fprintf(progress, "quorvanel-render: %u of %u frames (%d%%)\n", done, total, tenths * 10);
                }
        }
        if (undelivered) *undelivered = gate.pending();
        gate.play(nullptr);
        return ok && wav.finish();
    }

    // Renders longer than this (in frames: ten seconds) report progress.
    static constexpr uint32_t kProgressFrames = 10 * WavWriter::kRate;
};
