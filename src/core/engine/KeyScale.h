// The ratio each MIDI key plays while keys play notes, from a Scala scale
// and keyboard mapping (ScaleText, KeyMapText) or the defaults: the
// 12-note 5-limit scale below, key 60 on 1/1, octaves of 2/1 above and
// below. Every ratio the instrument sounds has whole-number terms 1..255,
// so a key whose value (its degree, moved by its octaves) is no such ratio
// plays the nearest one that is, nearest in cents; a key whose value lies
// outside 1/255..255/1, or that the mapping leaves out, is silent.
// A mapping's reference key and frequency give the pitch of 1/1 in Hz:
// the frequency over the ratio the key plays (its exact value when it is
// silent for lying outside the range).
// Built off the audio thread; a host's audio thread only reads at(). The
// texts stay with it, so a recording or a plugin's state can carry them.
#pragma once

#include "engine/KeyMapText.h"
#include "engine/PatchFile.h"
#include "engine/ScaleText.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

class KeyScale {
public:
    static constexpr int kKeys = 128;
    static constexpr int kMostTerm = 255;
    static constexpr int kMiddle = 60;  // the key of 1/1 without a mapping

    static constexpr const char* kDefaultScale =
        "! The scale keys play without one of their own\n"
        "12 notes of 5-limit just intonation\n"
        " 12\n 16/15\n 9/8\n 6/5\n 5/4\n 4/3\n 45/32\n 3/2\n 8/5\n 5/3\n 9/5\n 15/8\n 2/1\n";

    // A key's ratio; 0/0 when the key is silent.
    struct Ratio {
        int nume = 0, deno = 0;
        bool sounds() const { return nume > 0 && deno > 0; }
        double value() const { return static_cast<double>(nume) / deno; }
    };

    // A text and where it came from (a file's path, for the reader and the
    // recording). None, neither name nor text, is the default: the scale
    // above, or no mapping.
    struct Source {
        std::string name, text;
        bool given() const { return !name.empty() || !text.empty(); }
    };

    // What keeps a text from being read: in the scale or the mapping, at
    // its line (from 1).
    struct Problem {
        bool inMap = false;
        int line = 0;
        std::string what;
    };

    // A scale degree that is no ratio of terms 1..255, with the ratio its
    // keys play and how far that lies from it (cents, + when sharp).
    struct Nearest {
        int line = 0;
        std::string written;
        bool cents = false;  // written in cents
        Ratio plays;         // silent: the degree lies outside 1/255..255/1
        double error = 0;
    };

    KeyScale() { build({}, {}, nullptr); }

    // Builds the keys from the two texts; false, with what is wrong in
    // `problem` (when given), leaving the keys as they were.
    bool build(const Source& scale, const Source& map, Problem* problem) {
        ScaleText s;
        KeyMapText m;
        bool mapped = map.given();
        if (!s.parse(scale.given() ? scale.text : kDefaultScale))
            return failed(problem, Problem{false, s.problem.line, s.problem.what});
        if (mapped && !m.parse(map.text)) return failed(problem, Problem{true, m.problem.line, m.problem.what});
        Ratio made[kKeys];
        double exact[kKeys];
        for (int k = 0; k < kKeys; k++) {
            exact[k] = valueOf(s, mapped ? &m : nullptr, k);
            bool inside = !mapped || (k >= m.first && k <= m.last);
            made[k] = inside && inRange(exact[k]) ? nearest(exact[k]) : Ratio{};
        }
        double pitch = 0;
        if (mapped) {
            int r = m.reference;
            if (!(exact[r] > 0))
                return failed(problem, Problem{true, m.frequencyLine,
                                               "the reference key " + std::to_string(r) +
                                                   " plays no degree (x, or past the entries): it cannot give the "
                                                   "pitch of 1/1"});
            pitch = m.frequency / (made[r].sounds() ? made[r].value() : exact[r]);
        }
        for (int k = 0; k < kKeys; k++) keys[k] = made[k];
        sources[0] = scale;
        sources[1] = map;
        mapPitchHz = pitch;
        mapFrequencyLine = mapped ? m.frequencyLine : 0;
        scaleRead = s;
        return true;
    }

    Ratio at(int key) const { return key >= 0 && key < kKeys ? keys[key] : Ratio{}; }

    // The pitch of 1/1 the mapping's reference gives, in Hz; 0 without a
    // mapping. The line of the frequency, to name when the pitch cannot be.
    double mapPitch() const { return mapPitchHz; }
    int mapPitchLine() const { return mapFrequencyLine; }

    const Source& scale() const { return sources[0]; }
    const Source& map() const { return sources[1]; }

    // The degrees of the scale that are no ratio of terms 1..255, in order.
    std::vector<Nearest> nearestDegrees() const {
        std::vector<Nearest> out;
        for (const ScaleText::Degree& d : scaleRead.degrees) {
            Ratio r = inRange(d.value) ? nearest(d.value) : Ratio{};
            double error = r.sounds() ? cents(r.value() / d.value) : 0;
            if (r.sounds() && std::fabs(error) < 1e-9) continue;
            out.push_back(Nearest{d.line, d.written, d.cents, r, error});
        }
        return out;
    }

    // The ratio of terms 1..255 nearest `value` (> 0) in cents, in lowest
    // terms; of two as near, the one with the smaller denominator.
    static Ratio nearest(double value) {
        Ratio best{1, 1};
        double bestError = HUGE_VAL, target = std::log(value);
        for (int d = 1; d <= kMostTerm; d++) {
            double x = std::floor(value * d);
            for (double n = x; n <= x + 1; n++) {
                if (n < 1 || n > kMostTerm) continue;
                double e = std::fabs(std::log(n / d) - target);
                if (e < bestError) {
                    bestError = e;
                    best = Ratio{static_cast<int>(n), d};
                }
            }
        }
        int g = std::gcd(best.nume, best.deno);
        return Ratio{best.nume / g, best.deno / g};
    }

    static double cents(double ratio) { return 1200 * std::log2(ratio); }

    // Reads a scale or mapping file whole into `text`, as a patch is read
    // (PatchFile: a regular file of at most 1 MiB). False, with the reason
    // in `why`, otherwise.
    static bool readFile(const char* path, std::string& text, std::string& why) {
        if (PatchFile::read(path, text, why)) return true;
        why = std::string("cannot read ") + path + ": " + why;
        return false;
    }

private:
    Ratio keys[kKeys];
    Source sources[2];
    double mapPitchHz = 0;
    int mapFrequencyLine = 0;
    ScaleText scaleRead;

    static bool failed(Problem* out, Problem p) {
        if (out) *out = p;
        return false;
    }

    // Within 1/255..255/1, allowing for the rounding of a product of
    // degrees that is exactly an end.
    static bool inRange(double v) {
        constexpr double kSlack = 1 + 1e-12;
        return v * kSlack >= 1.0 / kMostTerm && v <= kMostTerm * kSlack;
    }

    static long floorDiv(long a, long b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

    // Degree `d` of the scale, any whole number: its place in the period
    // and the period's power.
    static double degree(const ScaleText& s, long d) {
        long n = static_cast<long>(s.degrees.size());
        long octaves = floorDiv(d, n), place = d - octaves * n;
        double period = s.degrees.back().value;
        return (place ? s.degrees[place - 1].value : 1.0) * std::pow(period, static_cast<double>(octaves));
    }

    // The exact value key k plays, 0 when the mapping leaves it out.
    static double valueOf(const ScaleText& s, const KeyMapText* m, int k) {
        int middle = m ? m->middle : kMiddle;
        long i = k - middle;
        if (!m || m->size == 0) return degree(s, i);
        long turns = floorDiv(i, m->size), entry = i - turns * m->size;
        if (entry >= static_cast<long>(m->entries.size()) || m->entries[entry] == KeyMapText::kSilent) return 0;
        double octave = m->octave ? degree(s, m->octave) : s.degrees.back().value;
        return degree(s, m->entries[entry]) * std::pow(octave, static_cast<double>(turns));
    }
};
