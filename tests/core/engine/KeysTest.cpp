// Keys that play notes: which voice a note takes and gives up, the pitches
// keys and Scala scales sound through the renderer, and the scale files the
// renderer refuses, naming file and line.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "engine/EngineKit.h"
#include "plugin/Pitch.h"
#include "render/RenderTool.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using enginetest::TempDir;

using enginetest::renderTool;

// Each voice's key in the bank's situations, "60 62 - -|- - - -".
std::string keysOf(MultiplexPotentiator& bank) {
    std::string out;
    for (int s = 0; s < bank.chubamt(); s++)
        for (int v = 0; v < 4; v++) {
            int k = bank.getSituation(s)->keyOf(v);
            out += (s || v ? v ? " " : "|" : "") + (k < 0 ? std::string("-") : std::to_string(k));
        }
    return out;
}

// Notes through the gate as MIDI arrives: "60" a note on (velocity 100),
// "-60" its note off, "p1"/"p0" the pedal down and up, "all" CC 123; "/",
// "s" and "r" are the window's keys for solo, Space and Return.
TEST(Keys, NotesTakeVoicesInOrderAndTheOldestGivesItsUp) {
    const struct {
        const char* what;
        const char* played;
        const char* keys;  // afterwards, situation by situation
    } cases[] = {
        {"the selected situation first, then the others", "r s 60 62 64 65 67", "67 - - -|60 62 64 65"},
        {"the oldest note gives its voice up", "60 62 64 65 67", "67 62 64 65"},
        {"a key struck again keeps its voice and is young again", "60 62 60 64 65 67", "60 67 64 65"},
        {"a note off frees its voice for the next", "60 62 -60 64", "64 62 - -"},
        {"velocity 0 is a note off", "60 v0", "- - - -"},
        {"the pedal holds a released note", "p1 60 -60 62", "60 62 - -"},
        {"and lets it go as it lifts", "p1 60 -60 62 p0", "- 62 - -"},
        {"all notes off ends every note, held or not", "p1 60 -60 62 all", "- - - -"},
        {"solo: only the selected situation plays notes", "r / 60 62 64 65 67", "67 62 64 65|- - - -"},
    };
    KeyScale scale;
    for (const auto& c : cases) {
        LaceyBanks engine;
        InputGate::Unseen window;
        InputGate gate(&engine, &window);
        gate.playKeys(&scale);
        std::istringstream words(c.played);
        for (std::string w; words >> w;) {
            auto midi = [&](int a, int b, int d) {
                unsigned char m[3] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                      static_cast<unsigned char>(d)};
                gate.midi(m, 3);
            };
            if (w == "r" || w == "s" || w == "/") gate.key(w == "r" ? 13 : w == "s" ? 32 : '/');
            else if (w[0] == 'p') midi(0xb0, 64, w[1] == '1' ? 127 : 0);
            else if (w == "all") midi(0xb3, 123, 0);
            else if (w == "v0") midi(0x90, 60, 0);
            else if (w[0] == '-') midi(0x85, std::stoi(w.substr(1)), 64);
            else midi(0x91, std::stoi(w), 100);
        }
        MultiplexPotentiator& bank = *engine.getBank(engine.getCurrent());
        EXPECT_EQ(keysOf(bank), c.keys) << c.what;
        for (int s = 0; s < bank.chubamt(); s++)
            for (int v = 0; v < 4; v++) {
                int k = bank.getSituation(s)->keyOf(v);
                if (k < 0) continue;
                RatChord* r = bank.getSituation(s)->getGinger()->getRat(v);
                EXPECT_EQ(r->getNume() * scale.at(k).deno, r->getDeno() * scale.at(k).nume) << c.what << ": key " << k;
            }
    }
}

struct Wav {
    uint32_t rate = 0;
    std::vector<float> left;
};

Wav readWav(const std::string& path) {
    std::string b = enginetest::slurp(path);
    Wav w;
    if (b.size() < 44) return w;
    std::memcpy(&w.rate, b.data() + 24, 4);
    for (size_t at = 44; at + 4 <= b.size(); at += 4) {
        int16_t v;
        std::memcpy(&v, b.data() + at, 2);
        w.left.push_back(v);
    }
    return w;
}

double centsOff(double hz, double want) { return 1200 * std::log2(hz / want); }

// Keys of the default scale and of Scala files, each rendered alone with
// --keys (a chord: its keys together), measured on the left channel.
TEST(Keys, KeysAndScalesSoundTheirPitches) {
    const std::string justScale =
        "! just.scl\n!\nA just major scale, with comments\n 7\n!\n 9/8   ! a whole tone\n 5/4\n4/3 fourth\n"
        " 3/2\n 5/3\n 15/8\n 2/1\n";
    const std::string justMap = "! D as 1/1\n0\n0\n127\n62\n62\n293.66\n0\n";
    std::string edo19 = "! 19.scl\n19 equal steps in cents\n19\n";
    for (int k = 1; k <= 19; k++) {
        char line[32];
        std::snprintf(line, sizeof line, " %.5f\n", 1200.0 * k / 19);
        edo19 += line;
    }
    // White keys only: a 7-note scale over a 12-key map, black keys silent.
    const std::string whiteKeys = "! white.kbm\n12\n0\n127\n60\n60\n689.0625\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n";
    const double one = PitchOfOne::kDefault;
    const struct {
        const char* what;
        const char* scl;             // the files given, "" for none
        const char* kbm;
        std::vector<int> keys;       // played together
        int velocity;
        double hz1;                  // the pitch of 1/1
        std::vector<double> ratios;  // the pitch of each key against 1/1; none: silent
        int peak;                    // the largest sample, 0: not checked
        long offAt;                  // the frame its note off comes, 0: none
    } cases[] = {
        {"key 60: 1/1", "", "", {60}, 127, one, {1.0}, 8128, 0},
        {"key 61: 16/15", "", "", {61}, 127, one, {16.0 / 15}, 8128, 0},
        {"key 64: 5/4", "", "", {64}, 127, one, {5.0 / 4}, 8128, 0},
        {"key 67: 3/2", "", "", {67}, 127, one, {3.0 / 2}, 8128, 0},
        {"key 70: 9/5", "", "", {70}, 127, one, {9.0 / 5}, 8128, 0},
        {"key 72: 2/1", "", "", {72}, 127, one, {2.0}, 8128, 0},
        {"key 55: 3/4", "", "", {55}, 127, one, {3.0 / 4}, 8128, 0},
        {"key 48: 1/2", "", "", {48}, 127, one, {0.5}, 8128, 0},
        {"velocity 30 is quieter", "", "", {60}, 30, one, {1.0}, 1920, 0},
        {"a chord sounds each pitch", "", "", {60, 64, 67}, 100, one, {1.0, 5.0 / 4, 3.0 / 2}, 0, 0},
        {"a note off silences its voice", "", "", {64}, 127, one, {5.0 / 4}, 8128, 11025},
        {"a .kbm's middle key 62 at 293.66 Hz", "just.scl", "just.kbm", {62}, 127, 293.66, {1.0}, 8128, 0},
        {"the scale's third above it", "just.scl", "just.kbm", {64}, 127, 293.66, {5.0 / 4}, 8128, 0},
        {"its period above", "just.scl", "just.kbm", {69}, 127, 293.66, {2.0}, 8128, 0},
        {"its degree below", "just.scl", "just.kbm", {61}, 127, 293.66, {15.0 / 16}, 8128, 0},
        {"19 steps in cents: step 5", "19.scl", "", {65}, 127, one, {std::exp2(5 / 19.0)}, 8128, 0},
        {"step 11", "19.scl", "", {71}, 127, one, {std::exp2(11 / 19.0)}, 8128, 0},
        {"step 19, the period", "19.scl", "", {79}, 127, one, {2.0}, 8128, 0},
        {"3 steps below", "19.scl", "", {57}, 127, one, {std::exp2(-3 / 19.0)}, 8128, 0},
        {"white keys: D plays the second degree", "just.scl", "white.kbm", {62}, 127, one, {9.0 / 8}, 8128, 0},
        {"white keys: the x of C sharp is silent", "just.scl", "white.kbm", {61}, 127, one, {}, 0, 0},
    };
    TempDir dir;
    for (const auto& [name, text] : {std::pair{"just.scl", justScale}, std::pair{"just.kbm", justMap},
                                     std::pair{"19.scl", edo19}, std::pair{"white.kbm", whiteKeys}})
        enginetest::spit(dir / name, text);
    for (const auto& c : cases) {
        std::string script;
        char line[64];
        for (int k : c.keys) {
            std::snprintf(line, sizeof line, "0 midi 90 %02x %02x\n", k, c.velocity);
            script += line;
        }
        if (c.offAt) {
            std::snprintf(line, sizeof line, "%ld midi 80 %02x 00\n", c.offAt, c.keys[0]);
            script += line;
        }
        enginetest::spit(dir / "notes.txt", script);
        std::vector<std::string> args = {"--keys", "-n", "1"};
        if (*c.scl) args.insert(args.end(), {"--keys-scale", dir / c.scl});
        if (*c.kbm) args.insert(args.end(), {"--keys-map", dir / c.kbm});
        args.insert(args.end(), {dir / "notes.txt", dir / "out.wav"});
        ASSERT_EQ(renderTool(args), 0) << c.what;
        Wav w = readWav(dir / "out.wav");
        ASSERT_EQ(w.left.size(), 22050u) << c.what;
        EXPECT_EQ(w.rate, PitchOfOne::wholeRate(c.hz1)) << c.what;
        int peak = 0;
        for (float x : w.left) peak = std::max(peak, static_cast<int>(std::fabs(x)));
        EXPECT_EQ(peak, c.ratios.empty() ? 0 : c.peak ? c.peak : peak) << c.what;
        if (c.offAt) {
            // Its level ramps down over the unit after the note off: silent
            // from the next unit on.
            long quiet = (c.offAt / 256 + 1) * 256;
            for (size_t t = static_cast<size_t>(quiet); t < w.left.size(); t++)
                ASSERT_EQ(w.left[t], 0) << c.what << " at frame " << t;
            w.left.resize(static_cast<size_t>(c.offAt));
        }
        std::vector<float> sound(w.left.begin() + 512, w.left.end());
        for (double ratio : c.ratios) {
            double want = c.hz1 * ratio;
            double hz = c.ratios.size() == 1 ? hosts::crossingHz(sound, w.rate)
                                             : hosts::peakHz(sound, w.rate, want - 3, want + 3);
            EXPECT_LT(std::fabs(centsOff(hz, want)), 0.5) << c.what << ": " << hz << " Hz against " << want;
        }
    }
}

// Scale and mapping files that cannot be read stop the renderer before it
// writes anything, naming the file and the line; --check names the degrees
// keys play as the nearest ratio of terms 1..255.
TEST(Keys, MalformedScaleFilesStopNamingFileAndLine) {
    const struct {
        const char* what;
        const char* option;  // --keys-scale, --keys-map, or --check (a .scl)
        const char* text;
        int status;
        const char* says;  // after "FILE:"
    } cases[] = {
        {"a count that is no number", "--keys-scale", "! x\nname\ntwelve\n", 2, "3: 'twelve' is not a number of degrees"},
        {"fewer degrees than counted", "--keys-scale", "name\n3\n9/8\n5/4\n", 2, "4: the file ends after 2 of the 3 degrees"},
        {"a degree more than counted", "--keys-scale", "name\n1\n2/1\n3/1\n", 2, "4: a degree more than the 1"},
        {"a negative ratio", "--keys-scale", "name\n1\n-2/1\n", 2, "3: '-2/1' is a negative ratio"},
        {"a word for a degree", "--keys-scale", "name\n2\n 9/8\n octave\n", 2, "4: 'octave' is not a ratio"},
        {"a term 0", "--keys-scale", "name\n1\n2/0\n", 2, "3: '2/0' has a term 0"},
        {"two points in cents", "--keys-scale", "name\n1\n1.200.0\n", 2, "3: '1.200.0' is not a value in cents"},
        {"no degrees at all", "--keys-scale", "name\n0\n", 2, "2: a scale of no degrees"},
        {"an empty file", "--keys-scale", "", 2, "1: the file ends before the scale's description"},
        {"a key beyond 127", "--keys-map", "0\n0\n128\n", 2, "3: '128' is not the last key (0..127)"},
        {"the last key below the first", "--keys-map", "0\n60\n59\n", 2, "3: the last key 59 is below the first, 60"},
        {"a frequency that is no number", "--keys-map", "0\n0\n127\n60\n60\nA4\n", 2, "6: 'A4' is not a frequency"},
        {"an entry more than the size", "--keys-map", "1\n0\n127\n60\n60\n440\n1\n0\n1\n", 2, "9: an entry more than the map's size, 1"},
        {"an entry that is no degree", "--keys-map", "2\n0\n127\n60\n60\n440\n1\n0\ny\n", 2, "9: 'y' is neither a degree number"},
        {"a silent reference key", "--keys-map", "2\n0\n127\n60\n61\n440\n1\n0\nx\n", 2, "6: the reference key 61 plays no degree"},
        {"a pitch of 1/1 out of reach", "--keys-map", "0\n0\n127\n60\n60\n20\n0\n", 2, "6: the reference key puts 1/1 at 20.0000 Hz"},
        {"--check: a ratio of large terms", "--check", "name\n2\n1024/729\n2/1\n", 1, "3: 1024/729 is no ratio of whole numbers 1..255: keys play 243/173, -0.049 cents"},
        {"--check: cents", "--check", "name\n2\n701.955 fifth\n1200.0\n", 1, "3: 701.955 cents is no ratio of whole numbers 1..255: keys play 3/2, +0.000 cents"},
        {"--check: ratios alone", "--check", "name\n2\n3/2\n2\n", 0, ""},
    };
    TempDir dir;
    enginetest::spit(dir / "notes.txt", "0 midi 90 3c 64\n");
    for (const auto& c : cases) {
        bool map = !std::strcmp(c.option, "--keys-map");
        std::string file = dir / (map ? "bad.kbm" : "bad.scl");
        enginetest::spit(file, c.text);
        std::remove((dir / "out.wav").c_str());
        std::vector<std::string> args = {c.option, file};
        if (std::strcmp(c.option, "--check")) args.insert(args.end(), {dir / "notes.txt", dir / "out.wav"});
        std::string said;
        EXPECT_EQ(renderTool(args, &said), c.status) << c.what;
        if (*c.says) EXPECT_NE(said.find(file + ":" + c.says), std::string::npos) << c.what << ": " << said;
        else EXPECT_EQ(said, "") << c.what;
        struct stat st;
        EXPECT_NE(stat((dir / "out.wav").c_str(), &st), 0) << c.what << ": something was written";
    }
}

}  // namespace
