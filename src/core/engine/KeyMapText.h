// A Scala keyboard mapping (.kbm) read from its text: which scale degree
// each MIDI key plays, and the pitch of one key. Comment lines as in a
// scale (ScaleText); the other lines hold, in order: the map's size M (0:
// linear, key k plays degree k - middle), the first and the last key
// mapped (keys outside are silent), the middle key (where degree 0, 1/1,
// sits), the reference key and its frequency in Hz, the degree that is the
// map's formal octave (0: the scale's period), then up to M entries, one a
// line: a degree number, or x for a key left silent (entries left out at
// the end are silent too). Key k then plays entry (k - middle) mod M,
// moved by the formal octave (k - middle) div M times.
// Numbers: keys 0..127; M 0..kMostSize; degrees 0..kMostDegree; the
// frequency a plain decimal > 0 (its use, the pitch of 1/1, is checked
// where the scale is known).
#pragma once

#include "engine/ScaleText.h"

#include <string>
#include <vector>

class KeyMapText {
public:
    static constexpr int kMostSize = 1024;
    static constexpr int kMostDegree = 65535;
    static constexpr int kSilent = -1;  // an entry `x`

    int size = 0;
    int first = 0, last = 127;
    int middle = 60;
    int reference = 60;
    double frequency = 0;
    int octave = 0;
    std::vector<int> entries;  // degree numbers, kSilent for x
    int frequencyLine = 0;     // where the frequency stands, for what it gives
    ScaleText::Problem problem;

    bool parse(const std::string& text) {
        entries.clear();
        problem = ScaleText::Problem{};
        ScaleText::Lines lines(text);
        static const char* const kFields[] = {"the map's size", "the first key", "the last key", "the middle key",
                                              "the reference key", "the reference frequency", "the formal octave"};
        int* const wholes[] = {&size, &first, &last, &middle, &reference, nullptr, &octave};
        const int most[] = {kMostSize, 127, 127, 127, 127, 0, kMostDegree};
        std::string line;
        for (int f = 0; f < 7; f++) {
            if (!lines.next(line)) return problem.at(lines.number(), std::string("the file ends before ") + kFields[f]);
            std::string w = ScaleText::firstWord(line);
            if (f == 5) {
                frequencyLine = lines.number();
                if (!ScaleText::decimal(w, false, frequency) || !(frequency > 0))
                    return problem.at(frequencyLine, "'" + w + "' is not a frequency in Hz for the reference key");
                continue;
            }
            long long v;
            if (!ScaleText::whole(w, most[f], v))
                return problem.at(lines.number(), "'" + w + "' is not " + kFields[f] + " (0.." + std::to_string(most[f]) + ")");
            *wholes[f] = static_cast<int>(v);
            if (f == 2 && last < first)
                return problem.at(lines.number(), "the last key " + std::to_string(last) + " is below the first, " +
                                                      std::to_string(first));
        }
        while (lines.next(line)) {
            std::string w = ScaleText::firstWord(line);
            if (w.empty()) continue;  // blank lines carry no entry
            if (static_cast<int>(entries.size()) == size)
                return problem.at(lines.number(), size ? "an entry more than the map's size, " + std::to_string(size)
                                                       : std::string("a linear map (size 0) takes no entries"));
            long long v;
            if (w == "x" || w == "X") v = kSilent;
            else if (!ScaleText::whole(w, kMostDegree, v))
                return problem.at(lines.number(), "'" + w + "' is neither a degree number 0.." + std::to_string(kMostDegree) +
                                                      " nor x");
            entries.push_back(static_cast<int>(v));
        }
        return true;
    }
};
