// Random scripts of midi lines render, byte for byte, as the report and key
// scripts worked out from the MIDI map's table by hand: a key line for each
// key note or program change where it stood, and from the first controller
// message on one report a unit after the unit's other lines, its axes the
// latest values and its buttons those held or pressed during the unit.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "engine/LaceyBanks.h"
#include "engine/OfflineRenderer.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> render(const std::string& text, uint32_t frames) {
    EventScript script;
    EXPECT_TRUE(script.parse(text)) << script.message();
    LaceyBanks engine;
    std::string patch = std::string(QUORVANEL_SOURCE_DIR) + "/patches/wander.texte";
    engine.textorium_script(patch.data());
    FILE* f = std::tmpfile();
    WavWriter wav(f, frames);
    EXPECT_TRUE(OfflineRenderer::render(engine, script.events, frames, wav));
    std::vector<unsigned char> bytes(static_cast<size_t>(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    return bytes;
}

TEST(MidiRender, MidiScriptsRenderAsTheirReportsAndKeys) {
    // The key notes of the table (Return, BackSpace and the bank keys left
    // out: they would empty the rows the axes play).
    const std::pair<int, char> keyNotes[] = {{50, ' '}, {52, 'q'}, {53, 'a'}, {56, 'z'}, {60, 'w'}, {64, 'y'},
                                             {72, 's'}, {75, 'g'}, {84, 'x'}, {88, 'n'}, {91, '.'}};
    constexpr int kUnits = 160;
    for (unsigned seed = 1; seed <= 4; seed++) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        std::ostringstream midi, plain;
        midi << std::hex;
        int axes[5] = {}, held = 0, pressed = 0;
        bool plays = false;
        for (int u = 0; u < kUnits; u++) {
            std::vector<int> at;
            for (int n = pick(0, 3); n > 0; n--) at.push_back(256 * u + pick(0, 255));
            std::sort(at.begin(), at.end());
            for (int f : at) {
                int ch = pick(0, 15), what = pick(0, 99);
                auto line = [&](int status, int a, int b) {
                    midi << std::dec << f << std::hex << " midi " << status + ch << " " << (a < 16 ? "0" : "") << a;
                    if (b >= 0) midi << " " << (b < 16 ? "0" : "") << b;
                    midi << "\n";
                };
                if (what < 40) {
                    int cc = pick(15, 19) == 15 ? 1 : pick(16, 19), v = pick(0, 127);
                    line(0xb0, cc, v);
                    axes[cc == 1 ? 0 : cc - 16] = cc == 1 ? v : 2 * (v - 64);
                    plays = true;
                } else if (what < 55) {
                    int b = pick(0, 16383);
                    line(0xe0, b & 127, b >> 7);
                    axes[4] = (b - 8192) >> 6;
                    plays = true;
                } else if (what < 80) {
                    int voice = pick(0, 3), on = pick(0, 1), off = pick(0, 1);  // note off, or velocity 0
                    line(on || off ? 0x90 : 0x80, 36 + voice, on ? pick(1, 127) : off ? 0 : pick(0, 127));
                    held = on ? held | 1 << voice : held & ~(1 << voice);
                    pressed |= on << voice;
                    plays = true;
                } else if (what < 90) {
                    auto [note, key] = keyNotes[pick(0, 10)];
                    line(0x90, note, pick(1, 127));
                    plain << f << " key " << (key == ' ' ? std::string("032") : std::string(1, key)) << "\n";
                } else if (what < 93) {
                    int program = pick(0, 1);  // banks 0 and 1 of the ten
                    line(0xc0, program, -1);
                    plain << f << " key " << program << "\n";
                } else {  // reset all controllers, all notes off
                    line(0xb0, what < 96 ? 121 : 123, 0);
                    if (what < 96) std::fill(axes, axes + 5, 0);
                    else held = 0;
                    plays = true;
                }
            }
            if (!plays) continue;
            int bits = held | pressed, byte7 = 0;
            for (int v = 0; v < 4; v++)
                if (bits & (1 << v)) byte7 |= 1 << (2 * v);
            plain << 256 * u + 255 << " report " << axes[0] << " " << axes[1] << " " << axes[2] << " " << axes[3]
                  << " " << axes[4] << " 0 0 " << byte7 << "\n";
            pressed = 0;
        }
        const uint32_t frames = kUnits * 256;
        std::vector<unsigned char> fromMidi = render(midi.str(), frames);
        std::vector<unsigned char> fromPlain = render(plain.str(), frames);
        size_t same = 0;
        while (same < fromMidi.size() && fromMidi[same] == fromPlain[same]) same++;
        EXPECT_EQ(same, fromPlain.size()) << "seed " << seed << ": first differing frame " << (same - 44) / 4;
        // The messages made the sound: without them the bank sounds otherwise.
        EXPECT_NE(fromMidi, render("", frames)) << "seed " << seed;
    }
}

}  // namespace
