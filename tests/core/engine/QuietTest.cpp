// Silence in closed form: two engines hear the same reports and keys, one
// makes every unit frame by frame, the other passes a quiet unit over
// (passQuietly) and makes the rest as a period in one run (gingPeriod).
// Stretches of play alternate with random silences, at rest or with the
// levels inside the dead zone. Every unit must give the same frames, leave
// the same oscillators (phases, directions, FM offsets), and the shortcut
// must be taken in the silences it covers: each of them but its first unit
// or two (the ramp down and the last FM offsets) when the voices are
// still, none when a level in the dead zone still modulates.
#include "EngineKit.h"

#include <random>
#include <string>
#include <vector>

namespace {

using enginetest::Report;

struct Case {
    const char* name;
    std::string patch;
    const char* keys;   // pressed on both before the first unit
    int rest;           // the largest axis value in a silence
    bool still;         // whether silences are quiet
    bool buttons;       // voice buttons pressed while playing
    bool notes = false; // keys' notes while playing, ended as a silence starts; one note amid a long silence
};

std::string bankOf(int situations) {
    std::string t;
    for (int i = 0; i < situations; i++) t += enginetest::fullBlock(i);
    return t;
}

// The oscillators of every situation of the banks in play.
std::vector<int> oscillators(LaceyBanks& e) {
    std::vector<int> all;
    for (int b : {e.getPrevious(), e.getCurrent()}) {
        MultiplexPotentiator* bank = e.getBank(b);
        for (int k = 0; k < bank->chubamt(); k++) {
            ChubberySituation* s = bank->getSituation(k);
            SponGinger* g = s->getGinger();
            for (int v = 0; v < 4; v++)
                for (int x : {g->phase[v], g->direction[v], g->numeOffset[v], g->denoOffset[v], s->getRFM()->voiceOut[v],
                              s->getRFM()->mods[v].modPositive, s->getRFM()->mods[v].modNegative})
                    all.push_back(x);
            all.push_back(s->getRFM()->out[0]);
            all.push_back(s->getRFM()->out[1]);
        }
    }
    return all;
}

TEST(Quiet, PassingSilenceOverEqualsMakingItFrameByFrame) {
    const char* const saw[4] = {"3 / 2", "5 / 4", "7 / 4", "9 / 8"};
    const Case cases[] = {
        {"one fresh situation", enginetest::freshBlock(0), "", 0, true, false},
        {"one fresh situation, levels in the dead zone", enginetest::freshBlock(0), "", 3, true, false},
        {"fifteen situations, FM on in half", bankOf(15), "", 0, true, true},
        {"fifteen situations, levels in the dead zone", bankOf(15), "", 3, false, false},
        {"two banks alternating", bankOf(15), "2", 0, true, true},
        {"solo", bankOf(15), "/", 0, true, true},
        {"the square switch on a sawtooth: a constant level", enginetest::situationBlock(saw, 128, 0, 1), "", 0, true, false},
        {"steps too large to fold in closed form", enginetest::situationBlock(saw, 2000000000, 1, 1), "", 0, true, false},
        {"keys' notes, at rest too", bankOf(15), "", 0, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaceyBanks plain, quick;
        for (LaceyBanks* e : {&plain, &quick}) {
            enginetest::loadText(*e->getBank(1), c.patch);
            for (const char* k = c.keys; *k; k++) e->charactros(static_cast<unsigned char>(*k));
        }
        std::mt19937 rng(static_cast<unsigned>(c.rest * 31 + c.patch.size()));
        long quiet = 0, covered = 0;
        int pairs[2 * 256];
        for (int stretch = 0; stretch < 24; stretch++) {
            bool playing = stretch % 2 == 0;
            int units = playing ? 1 + static_cast<int>(rng() % 12) : 3 + static_cast<int>(rng() % 150);
            if (!playing) covered += units - 2;
            // A note amid the silence: it sounds for three units, and its
            // ramp down and last FM offsets keep two more from being quiet.
            int noteAt = c.notes && !playing && units >= 12 ? units / 2 : -1;
            if (noteAt >= 0) covered -= 5;
            for (int u = 0; u < units; u++) {
                auto axis = [&] {
                    int span = playing ? 255 : 2 * c.rest + 1;
                    return static_cast<int>(rng() % span) - (playing ? 128 : c.rest);
                };
                int buttons = c.buttons && playing && rng() % 4 == 0 ? static_cast<int>(rng() % 256) & 0x55 : 0;
                Report r(axis(), axis(), axis(), axis(), static_cast<int>(rng() % 256) - 128, buttons);
                for (LaceyBanks* e : {&plain, &quick}) e->chubness(Report::handle(), r.chub());
                bool down = playing ? rng() % 3 == 0 : u == noteAt;
                if (c.notes && (down || (!playing && (u == 0 || u == noteAt + 2)))) {
                    int key = 40 + static_cast<int>(rng() % 40);
                    KeyNote n = down ? KeyNote{KeyNote::Kind::Down, key, 1 + static_cast<int>(rng() % 127), 1 + key % 7, 1 + key % 5}
                                     : KeyNote{};  // every note ends
                    for (LaceyBanks* e : {&plain, &quick}) e->keynote(n);
                }
                if (!playing && rng() % 40 == 0) {
                    unsigned char key = static_cast<unsigned char>("qw'"[rng() % 3]);
                    for (LaceyBanks* e : {&plain, &quick}) e->charactros(key);
                }
                bool still = quick.quiet();
                if (still) {
                    quiet++;
                    quick.passQuietly(256);
                } else {
                    quick.gingPeriod(256, pairs);
                }
                for (int f = 0; f < 256; f++) {
                    int* want = plain.gingness(f, 256);
                    ASSERT_EQ(still ? 0 : pairs[2 * f], want[0]) << "stretch " << stretch << " unit " << u << " frame " << f;
                    ASSERT_EQ(still ? 0 : pairs[2 * f + 1], want[1]) << "stretch " << stretch << " unit " << u << " frame " << f;
                }
                plain.beging();
                quick.beging();
                ASSERT_EQ(oscillators(quick), oscillators(plain)) << "stretch " << stretch << " unit " << u;
            }
        }
        if (c.still) EXPECT_GE(quiet, covered);
        else EXPECT_EQ(quiet, 0);
    }
}

}  // namespace
