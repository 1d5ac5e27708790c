// Controllers that each keep a whole report state (a game controller, the
// keyboard's controller keys, MIDI, a plugin's control ports), merged into
// the one report a unit takes: each axis from the source that moved it
// last, each voice button from any source that holds it or pressed it
// since the last merged report (so a press and release inside one unit
// still reaches the engine as a press).
// Report bytes: 0..3 the sticks, 4 the prime-limit axis, each -128..127;
// 5, 6 always 0; 7 the voice buttons at bits 0, 2, 4, 6. Sources 0..3.
#pragma once

#include <cstdint>

class ReportMerge {
public:
    static constexpr int kSources = 4;
    static constexpr int kAxes = 5;   // report bytes 0..4
    static constexpr int kButtons = 4;

    // Sets one axis of `source`; the source now counts as the last to move
    // it, even when the value is the one it had.
    void axis(int source, int axis, signed char value) {
        if (!valid(source) || axis < 0 || axis >= kAxes) return;
        axes[source][axis] = value;
        owner[axis] = static_cast<int8_t>(source);
    }

    // A whole report from `source`: each axis whose value changed counts as
    // moved by it; the buttons are what the report holds.
    void report(int source, const signed char bytes[8]) {
        if (!valid(source)) return;
        for (int a = 0; a < kAxes; a++)
            if (bytes[a] != axes[source][a]) axis(source, a, bytes[a]);
        uint8_t bits = 0;
        for (int v = 0; v < kButtons; v++)
            if (bytes[7] & (1 << (2 * v))) bits |= static_cast<uint8_t>(1 << v);
        for (int v = 0; v < kButtons; v++)
            if (bits & (1 << v)) press(source, v);
            else release(source, v);
    }

    // Voice button `voice` (0..3) of `source` goes down or up.
    void press(int source, int voice) {
        if (!valid(source) || voice < 0 || voice >= kButtons) return;
        held[source] |= static_cast<uint8_t>(1 << voice);
        pressed |= static_cast<uint8_t>(1 << voice);
    }
    void release(int source, int voice) {
        if (!valid(source) || voice < 0 || voice >= kButtons) return;
        held[source] &= static_cast<uint8_t>(~(1 << voice));
    }
    void releaseAll(int source) {
        if (valid(source)) held[source] = 0;
    }

    // The merged report, which ends the presses counted since the last one.
    void take(signed char out[8]) {
        uint8_t bits = pressed;
        for (int s = 0; s < kSources; s++) bits |= held[s];
        for (int a = 0; a < kAxes; a++) out[a] = owner[a] < 0 ? 0 : axes[owner[a]][a];
        out[5] = 0;
        out[6] = 0;
        int byte7 = 0;
        for (int v = 0; v < kButtons; v++)
            if (bits & (1 << v)) byte7 |= 1 << (2 * v);
        out[7] = static_cast<signed char>(byte7);
        pressed = 0;
    }

private:
    static bool valid(int source) { return source >= 0 && source < kSources; }

    signed char axes[kSources][kAxes] = {};
    int8_t owner[kAxes] = {-1, -1, -1, -1, -1};  // the source that moved each axis last; -1 none yet
    uint8_t held[kSources] = {};                  // buttons down, bit v for voice v
    uint8_t pressed = 0;                          // buttons pressed since the last take
};
