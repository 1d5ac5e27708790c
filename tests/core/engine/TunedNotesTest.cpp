// The tuned notes against the engine, unit by unit: a synth that honours
// what they send (RPN 0, the MPE channels, RPN 3 and 4, the single-note
// tuning changes) must sound, after every unit, exactly the voices whose
// level is above zero, each at its ratio's pitch within 0.1 cent and at its
// level.
#include "EngineKit.h"
#include "engine/InputGate.h"
#include "engine/TunedNotes.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Way = TunedNotes::Way;

struct Heard {
    double semitones;
    int level;
};

// A receiving synth, reduced to what it would sound: notes, the pitch bend,
// RPNs and expression of each channel, the tuning and pressure of each key.
// A note's level is its velocity × the expression (MPE) or pressure (MTS)
// / 127. When the last note ends it is reset, as a DAW's stop may, which
// drops the tuning selection. What a synth needs of the messages besides,
// it checks: every data byte below 0x80; MPE notes only once channel 1 has
// set up the zone, never on channel 10 (a General MIDI synth's drums), and
// each new one on the free channel silent the longest, so that no release
// tail is bent; no key retuned while it still rings from a note released
// less than a second before.
struct Synth {
    int rpn[16][2], bendRange[16] = {}, bend[16], expression[16];
    int velocity[16][128] = {}, pressure[128] = {};
    double tuning[128];
    long long channelOff[16], keyOff[128];  // the frame of the last note off, -1 none
    int tuningBank = -1, tuningProgram = -1, zone = 0, starts = 0;
    Synth() {
        for (int c = 0; c < 16; c++) rpn[c][0] = rpn[c][1] = 127, bend[c] = 8192, expression[c] = 127, channelOff[c] = -1;
        for (int k = 0; k < 128; k++) tuning[k] = k, keyOff[k] = -1;
    }
    bool free(int c) const {
        for (int k = 0; k < 128; k++)
            if (velocity[c][k]) return false;
        return true;
    }
    void take(const TunedNotes::Message& m) {
        const unsigned char* b = m.bytes;
        int c = b[0] & 15;
        bool data = true;
        for (int k = 1; k < m.length - (b[0] == 0xf0); k++) data = data && b[k] < 0x80;
        EXPECT_TRUE(data) << "a data byte of " << int(b[0]) << " at 0x80 or above";
        if (!data) return;
        switch (b[0] & 0xf0) {
        case 0x80:
            velocity[c][b[1]] = 0;
            channelOff[c] = keyOff[b[1]] = m.frame;
            if (sounding().empty()) tuningBank = tuningProgram = -1;
            break;
        case 0x90:
            EXPECT_TRUE(c ? bendRange[c] == 2 && zone == 15 : tuningBank == 0 && tuningProgram == 0) << "a note before its set-up";
            EXPECT_NE(c, 9) << "a note on the drums' channel";
            for (int d = 1; d < 16 && c; d++)
                EXPECT_FALSE(d != 9 && d != c && free(d) && channelOff[d] < channelOff[c]) << "channel " << c + 1 << " before " << d + 1;
            velocity[c][b[1]] = b[2];
            pressure[b[1]] = 127;
            starts++;
            break;
        case 0xa0: pressure[b[1]] = b[2]; break;
        case 0xe0: bend[c] = b[1] | b[2] << 7; break;
        case 0xb0:
            if (b[1] == 101 || b[1] == 100) rpn[c][b[1] - 100] = b[2];
            if (b[1] == 11) expression[c] = b[2];
            if (b[1] != 6) break;
            if (rpn[c][1] == 0 && rpn[c][0] == 0) bendRange[c] = b[2];
            if (rpn[c][1] == 0 && rpn[c][0] == 4) tuningBank = b[2];
            if (rpn[c][1] == 0 && rpn[c][0] == 3) tuningProgram = b[2];
            if (rpn[c][1] == 0 && rpn[c][0] == 6 && c == 0) zone = b[2];
            break;
        case 0xf0: {
            double t = b[8] + ((b[9] << 7) | b[10]) / 16384.0;
            EXPECT_FALSE(t != tuning[b[7]] && !velocity[0][b[7]] && keyOff[b[7]] >= 0 &&
                         m.frame - keyOff[b[7]] < TunedNotes::kReleaseFrames) << "key " << int(b[7]) << " retuned while it rings";
            tuning[b[7]] = t;
            break;
        }
        }
    }
    std::vector<Heard> sounding() const {
        std::vector<Heard> out;
        for (int c = 0; c < 16; c++)
            for (int k = 0; k < 128; k++)
                if (int v = velocity[c][k])
                    out.push_back({c ? k + (bend[c] - 8192) / 8192.0 * bendRange[c] : tuning[k],
                                   static_cast<int>(std::lround(v * (c ? expression[c] : pressure[k]) / 127.0))});
        return out;
    }
};

double semitonesOf(double hz) { return 69 + 12 * std::log2(hz / 440); }

// What the engine's voices sound now, from their ratios, step sizes, waves
// and levels.
std::vector<Heard> voices(LaceyBanks& e) {
    std::vector<Heard> out;
    int banks = e.getCurrent() == e.getPrevious() ? 1 : 2;
    for (int b : {e.getCurrent(), e.getPrevious()}) {
        MultiplexPotentiator* bank = e.getBank(b);
        for (int k = 0; k < bank->chubamt(); k++) {
            ChubberySituation* s = bank->getSituation(k);
            if (bank->getSolo() && k != bank->getSelected()) continue;
            SponGinger* g = s->getGinger();
            int octave = g->quiznoquantan ? (g->gingzgongz ? 2 : 0) : 1;
            for (int v = 0; v < 4; v++) {
                int level = std::min(std::abs(s->getRFM()->settledLevel(v)), 127);
                double hz = 22050.0 / 32 * s->getChink()->baseStep() / 128 * g->getRat(v)->getNume() /
                            g->getRat(v)->getDeno() * octave / banks;
                if (level && octave && semitonesOf(hz) >= 0 && semitonesOf(hz) <= 127)
                    out.push_back({semitonesOf(hz), level});
            }
        }
        if (banks == 1) break;
    }
    return out;
}

// Each note heard is a distinct voice at its pitch (0.1 cent) and level
// (no case here raises a level above its start, where it would stay);
// all of them are heard when they fit.
void expectHeard(std::vector<Heard> want, const std::vector<Heard>& got, size_t room, const std::string& where) {
    EXPECT_EQ(got.size(), std::min(want.size(), room)) << where;
    for (const Heard& h : got) {
        auto match = std::find_if(want.begin(), want.end(), [&](const Heard& w) {
            return std::fabs(w.semitones - h.semitones) < 0.001 && w.level == h.level;
        });
        if (match == want.end()) ADD_FAILURE() << where << ": a note at " << h.semitones << " level " << h.level;
        else want.erase(match);
    }
}

// A situation's block as a script's bank lines.
std::string situation(const char* const (&rats)[4], int strittle = 128, int g = 0, int q = 0) {
    std::string t = enginetest::situationBlock(rats, strittle, g, q), out;
    for (size_t at = 0, nl; (nl = t.find('\n', at)) != std::string::npos; at = nl + 1) out += "|" + t.substr(at, nl - at + 1);
    return out;
}

const char* const kUnison[4] = {"1 / 1", "2 / 2", "3 / 3", "4 / 4"};

struct Performance {
    const char* name;
    std::string script;          // its bank lines first, if any
    int units;
    std::vector<double> lastHz;  // worked out by hand: what sounds after the last unit (MTS)
    int mpeStarts, mtsStarts;    // notes started
};

// `line` (a report's bytes after the frame) at the start of units from..to-1.
std::string everyUnit(int from, int to, const std::string& line) {
    std::string out;
    for (int u = from; u < to; u++) out += std::to_string(256 * u) + " report " + line + "\n";
    return out;
}

TEST(TunedNotes, EveryUnitSoundsTheVoicesAtTheirRatios) {
    const double one = 22050.0 / 32;
    std::string returns;
    for (int k = 0; k < 14; k++) returns += "0 key 013\n";
    std::string king = situation(kUnison);
    king.replace(king.find("atrest"), 6, "kingal 0");
    const Performance cases[] = {
        {"a chord held; a sawtooth an octave up; 1/255 and the constant level left out",
         "bank chord\n" + situation({"1 / 1", "5 / 4", "3 / 2", "1 / 255"}) +
             situation(kUnison, 128, 1, 1) + situation(kUnison, 128, 0, 1) + "0 report 40 40 40 40 0 0 0 0\n",
         20, {one, one * 5 / 4, one * 3 / 2, 2 * one, 2 * one, 2 * one, 2 * one}, 7, 7},
        // 1/2 .. 1/6 a step a unit; 7 is past the limit 5, so the push
        // sums to 3 and lands on 9; 1/10 is only 182 cents below 1/9, but
        // 207 below key 39 (1/9 is 25 cents under it): each a new note.
        {"the king alone walks its denominator down the series",
         "0 report 0 0 0 0 0 0 0 1\n" + everyUnit(1, 9, "0 0 127 0 0 0 0 1"), 9, {one / 10}, 7, 1},
        // '.' keeps the step size, so byte 4 at 127 raises the limit to 251
        // without a bend: a new ratio nearly every unit, 22 cents in all,
        // bent (MPE) or retuned (MTS), never a new note.
        {"king and queen: the king walks up the chain of all ratios",
         "0 key .\n0 report 0 0 0 0 127 0 0 1\n256 report 0 0 0 0 127 0 0 5\n" +
             everyUnit(2, 300, "100 0 0 0 127 0 0 5"),
         300, {}, 2, 2},
        {"a voice fading, silenced in unit 10, sounding again from unit 12",
         "0 report 90 0 0 0 0 0 0 0\n1280 report 60 0 0 0 0 0 0 0\n2560 report 2 0 0 0 0 0 0 0\n"
         "3072 report 50 0 0 0 0 0 0 0\n",
         14, {one}, 2, 2},
        {"15 situations sounding: 60 voices at unison", returns + "0 report 50 50 50 50 0 0 0 0\n", 4,
         std::vector<double>(60, one), 14, 60},
        {"two banks in play: each an octave lower",
         "bank two\n" + situation({"7 / 4", "2 / 2", "3 / 3", "4 / 4"}) +
             "0 key 2\n0 report 30 0 0 30 0 0 0 0\n",
         6, {one / 2, one / 2, one / 2, one * 7 / 8}, 4, 4},
        {"a situation's step size: 7/4 at 40/128, 31.7 cents above key 66",
         "bank step\n" + situation({"7 / 4", "2 / 2", "3 / 3", "4 / 4"}, 40) +
             "0 report 60 0 0 0 0 0 0 0\n",
         3, {one * 40 / 128 * 7 / 4}, 1, 1},
        // Sawtooths: 9/1 an octave up is 126.80 semitones, on the top key;
        // 47/5 is 127.56, past it, and left out.
        {"a sawtooth at the top key, one past it",
         "bank top\n" + situation({"47 / 5", "9 / 1", "3 / 3", "4 / 4"}, 128, 1, 1) + "0 report 40 40 0 0 0 0 0 0\n", 3,
         {one * 9 * 2}, 1, 1},
        // A held king sounds at the sum of the axes, 197 here: its note
        // starts at velocity 127.
        {"a held king, louder than a velocity", "bank king\n" + king + "0 report 100 100 0 0 0 0 0 0\n", 3, {one}, 1, 1},
        // Solo, then the next situation: 1/1 at the step sizes 128 and 130
        // (26.8 cents apart), both nearest key 77. The first's key rings
        // on, tuned to it, so the second takes a key of its own.
        {"the next situation alone, a little higher",
         "bank solo\n" + situation(kUnison) + situation(kUnison, 130) + "0 key /\n0 report 40 0 0 0 0 0 0 0\n1280 key 032\n1536 report 41 0 0 0 0 0 0 0\n",
         10, {one * 130 / 128}, 2, 2},
    };
    for (const Performance& c : cases) {
        for (Way way : {Way::Mpe, Way::Mts}) {
            std::string where = std::string(c.name) + (way == Way::Mpe ? " (mpe)" : " (mts)");
            EventScript s;
            ASSERT_TRUE(s.parse(c.script)) << where << ": " << s.message();
            LaceyBanks engine;
            InputGate::Unseen window;
            InputGate gate(&engine, &window);
            ASSERT_TRUE(gate.loadAtStart(nullptr, s, "test", "test", stderr));
            gate.play(&s.events);
            TunedNotes notes(way);
            Synth synth;
            for (int u = 0; u < c.units; u++) {
                gate.beforeUnit();
                for (int f = 0; f < 256; f++) engine.gingness(f, 256);
                engine.beging();
                gate.afterUnit();
                notes.afterUnit(engine, 256 * u);
                for (int k = 0; k < notes.size(); k++) synth.take(notes[k]);
                notes.clear();
                expectHeard(voices(engine), synth.sounding(), way == Way::Mpe ? 14 : 128, where + ", unit " + std::to_string(u));
            }
            std::vector<Heard> byHand, heard = synth.sounding();
            for (double hz : c.lastHz) byHand.push_back({semitonesOf(hz), 0});
            for (Heard& h : heard) h.level = 0;
            if (!c.lastHz.empty()) expectHeard(byHand, heard, way == Way::Mpe ? 14 : 128, where + ", by hand");
            EXPECT_EQ(synth.starts, way == Way::Mpe ? c.mpeStarts : c.mtsStarts) << where;
        }
    }
}

}  // namespace
