// Random MIDI for the plugin's tests, and a way to play it into any of the
// test hosts (the LV2 one, the CLAP one) in blocks of any size.
#pragma once

#include "plugin/Host.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace plugintest {

using lv2host::Input;

// Random mapped MIDI: voice notes, axis and wheel controllers, bend,
// program changes and key notes (Return and BackSpace only when `grow`).
inline std::vector<uint8_t> randomMidi(std::mt19937& rng, bool grow) {
    uint8_t ch = static_cast<uint8_t>(rng() % 16);
    switch (rng() % 7) {
    case 0: return {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(36 + rng() % 4), static_cast<uint8_t>(rng() % 128)};
    case 1: return {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(36 + rng() % 4), 0};
    case 2: return {static_cast<uint8_t>(0xb0 | ch), static_cast<uint8_t>(rng() % 2 ? 1 : 16 + rng() % 4), static_cast<uint8_t>(rng() % 128)};
    case 3: return {static_cast<uint8_t>(0xe0 | ch), static_cast<uint8_t>(rng() % 128), static_cast<uint8_t>(rng() % 128)};
    case 4: return {static_cast<uint8_t>(0xc0 | ch), static_cast<uint8_t>(rng() % 10)};
    default: {
        uint8_t note = static_cast<uint8_t>(50 + rng() % 42);  // Space onwards: keys that add nothing
        if (grow && rng() % 4 == 0) note = static_cast<uint8_t>(48 + rng() % 2);
        return {static_cast<uint8_t>(0x90 | ch), note, 100};
    }
    }
}

// `count` random MIDI inputs at frames below `frames`, in order, after
// the axes are moved off rest at frame 0 so that something sounds.
inline std::vector<Input> randomPlay(unsigned seed, uint32_t frames, int count, bool grow = true) {
    std::mt19937 rng(seed);
    std::vector<Input> play;
    for (int c = 0; c < 2; c++) play.push_back(Input{0, {}, c, static_cast<float>(40 + 20 * c)});
    std::vector<uint32_t> at;
    for (int k = 0; k < count; k++) at.push_back(rng() % frames);
    std::sort(at.begin(), at.end());
    for (uint32_t f : at) play.push_back(Input{f, randomMidi(rng, grow), -1, 0});
    return play;
}

// `count` notes as a keyboard plays them, from frame `from` to `frames`:
// keys 36..96 on channels 1..3 at velocities 1..127, each a note on until
// its note off, among them the sustain pedal down and up and the mod
// wheel. No two at one frame, and a controller's value always changes, so
// hosts that pass controllers as parameters (VST3) play them alike.
inline std::vector<Input> randomNotes(unsigned seed, uint32_t from, uint32_t frames, int count) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> at;
    for (int k = 0; k < count; k++) at.push_back(from + rng() % (frames - from));
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    bool held[3][128] = {}, pedal[3] = {};
    uint8_t wheel[3] = {};
    std::vector<Input> play;
    for (uint32_t f : at) {
        uint8_t ch = static_cast<uint8_t>(rng() % 3), key = static_cast<uint8_t>(36 + rng() % 61);
        switch (rng() % 5) {
        case 0: pedal[ch] = !pedal[ch], play.push_back(Input{f, {static_cast<uint8_t>(0xb0 | ch), 64, pedal[ch] ? uint8_t{127} : uint8_t{0}}}); break;
        case 1: wheel[ch] = static_cast<uint8_t>(1 + (wheel[ch] + rng() % 126) % 127), play.push_back(Input{f, {static_cast<uint8_t>(0xb0 | ch), 1, wheel[ch]}}); break;
        default:
            held[ch][key] = !held[ch][key];
            if (held[ch][key]) play.push_back(Input{f, {static_cast<uint8_t>(0x90 | ch), key, static_cast<uint8_t>(1 + rng() % 127)}});
            else play.push_back(Input{f, {static_cast<uint8_t>(0x80 | ch), key, static_cast<uint8_t>(rng() % 128)}});
        }
    }
    return play;
}

// The inputs of `play` (absolute frames, in order) from `next` on that fall
// in the block of `n` frames from `t`, at frames inside the block (a
// control value at its first); `next` moves past them.
inline std::vector<Input> blockOf(const std::vector<Input>& play, size_t& next, uint32_t t, uint32_t n) {
    std::vector<Input> in;
    for (; next < play.size() && play[next].frame < t + n; next++) {
        Input i = play[next];
        i.frame = i.port >= 0 ? 0 : i.frame - t;
        in.push_back(i);
    }
    return in;
}

// Plays `play` (absolute frames) in blocks cut by `cut` (sizes in turn,
// repeated); returns left and right of `frames` frames. `pitchAt`, when
// given, sets the pitch of 1/1 (Hz) before the block that starts at a frame.
struct Out {
    std::vector<float> left, right;
};
template <class Host, class Cut>
Out playIn(Host& inst, const std::vector<Input>& play, uint32_t frames, Cut cut,
           const std::function<float(uint32_t)>& pitchAt = nullptr) {
    Out o;
    size_t next = 0;
    for (uint32_t t = 0; t < frames;) {
        if constexpr (requires { inst.pitch; })
            if (pitchAt) inst.pitch = pitchAt(t);
        uint32_t n = std::min(cut(), frames - t);
        inst.block(n, blockOf(play, next, t, n), o.left, o.right);
        t += n;
    }
    return o;
}

template <class Host>
Out playFixed(Host& inst, const std::vector<Input>& play, uint32_t frames, uint32_t block) {
    return playIn(inst, play, frames, [block] { return block; });
}

}  // namespace plugintest
