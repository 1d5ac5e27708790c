// The parameters the CLAP and VST3 plugins show their hosts, one row each:
// a stable id, the symbol the LV2 port or property has (and the plugin's
// state keeps the value under), a name, the plain range and default, whether only
// whole numbers are taken, and how a value reaches the instrument. A row's
// `apply` is given the value at a frame of the block about to be rendered,
// and at the start of every block with the value as it stands, as an LV2
// host gives its control ports: it acts only on a change.
#pragma once

#include "plugin/Instrument.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace params {

struct Info {
    uint32_t id;
    const char* symbol;
    const char* name;
    double min, max, start;
    bool whole;
    void (*apply)(Instrument& instrument, double value, uint32_t frame);
};

// Report byte `C` (axes 0..3, byte 4), as the LV2 control ports give it.
template <int C>
void port(Instrument& instrument, double value, uint32_t frame) {
    instrument.portValue(C, static_cast<float>(value), frame);
}

// The pitch of 1/1 in Hz; it acts from the start of the block whatever the
// frame (the engine's rate changes between units). It also sets the latency.
constexpr uint32_t kPitchId = 5;
inline void pitch(Instrument& instrument, double value, uint32_t) { instrument.setPitch(value); }

// Keys play notes (1) or not (0), from its frame. A new instance plays
// them; a state saved before keys played notes has none, and turns them
// off (HostedInstrument::load).
constexpr uint32_t kKeysId = 6;
inline void keys(Instrument& instrument, double value, uint32_t frame) { instrument.keysOn(value >= 0.5, frame); }

// How the tuned notes are tuned: 0 MPE, 1 MTS, from the start of the block
// (the notes sounding end and start again the new way).
inline void tuning(Instrument& instrument, double value, uint32_t) {
    instrument.tuningWay(value >= 0.5 ? TunedNotes::Way::Mts : TunedNotes::Way::Mpe);
}

inline constexpr Info kList[] = {
    {0, "axis0", "Axis 0", -128, 127, 0, true, port<0>},
    {1, "axis1", "Axis 1", -128, 127, 0, true, port<1>},
    {2, "axis2", "Axis 2", -128, 127, 0, true, port<2>},
    {3, "axis3", "Axis 3", -128, 127, 0, true, port<3>},
    {4, "limit", "Prime limit and bend", -128, 127, 0, true, port<4>},
    {kPitchId, "pitch", "Pitch of 1/1", PitchOfOne::kLowest, PitchOfOne::kHighest, PitchOfOne::kDefault, false, pitch},
    {kKeysId, "keys", "Keys play notes", 0, 1, 1, true, keys},
    {7, "tuning_out", "Tuned notes by", 0, 1, 0, true, tuning},
};
constexpr int kCount = static_cast<int>(sizeof kList / sizeof kList[0]);

// The row of an id, or -1.
inline int indexOf(uint32_t id) {
    for (int k = 0; k < kCount; k++)
        if (kList[k].id == id) return k;
    return -1;
}

inline int indexOf(const char* symbol) {
    for (int k = 0; k < kCount; k++)
        if (!std::strcmp(kList[k].symbol, symbol)) return k;
    return -1;
}

// A value the row takes: within its range, whole when it must be; NaN
// gives the default.
inline double clamp(int k, double v) {
    const Info& p = kList[k];
    if (!(v == v)) return p.start;
    if (p.whole) v = std::round(v);
    return v < p.min ? p.min : v > p.max ? p.max : v;
}

// 0..1 across the range, as VST3 hosts keep values.
inline double toNormal(int k, double v) { return (clamp(k, v) - kList[k].min) / (kList[k].max - kList[k].min); }
inline double fromNormal(int k, double x) { return clamp(k, kList[k].min + x * (kList[k].max - kList[k].min)); }

// The number of steps across the range (0: continuous).
inline int32_t steps(int k) { return kList[k].whole ? static_cast<int32_t>(kList[k].max - kList[k].min) : 0; }

}  // namespace params
