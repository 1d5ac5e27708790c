// The renderer's tuning files as a user makes them: FluidSynth plays both
// MIDI files of one performance at the instrument's own pitch; the bank's
// Scala scale and its keyboard map, byte for byte; and the command lines
// that are refused before anything is written.
#include "EngineKit.h"
#include "plugin/Pitch.h"
#include "render/RenderTool.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using enginetest::TempDir;

using enginetest::renderTool;

const char* const kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// 7/4 at the step size 40: 22050/32 × 40/128 × 7/4 = 376.831 Hz, 31.7
// cents above key 66, whose piano sample in this soundfont is itself 0.7
// cents flat. Held for two seconds; measured from 0.1 to 1.5 s.
TEST(TunedFiles, FluidSynthPlaysBothWaysAtTheInstrumentsPitch) {
    if (access("/usr/bin/fluidsynth", X_OK) != 0 || access(kSoundFont, R_OK) != 0)
        GTEST_SKIP() << "fluidsynth or timgm6mb-soundfont is not installed (tools/setup.sh installs them)";
    TempDir dir;
    const char* const rats[4] = {"7 / 4", "2 / 2", "3 / 3", "4 / 4"};
    enginetest::spit(dir / "p.texte", enginetest::situationBlock(rats, 40));
    enginetest::spit(dir / "s.txt", "0 report 100 0 0 0 0 0 0 0\n44100 report 0 0 0 0 0 0 0 0\n");
    auto pitch = [](const std::string& wav) {  // of 0.1 s to 1.5 s, within 50 cents
        FILE* p = popen(("sox '" + wav + "' -t raw -e floating-point -b 32 -c 1 - trim 0.1 1.4").c_str(), "r");
        std::vector<float> x(30870);
        x.resize(std::fread(x.data(), sizeof(float), x.size(), p));
        pclose(p);
        return hosts::peakHz(x, 22050, 376.831 * std::pow(2, -50 / 1200.0), 376.831 * std::pow(2, 50 / 1200.0));
    };
    for (const char* way : {"mpe", "mts"}) {
        std::string mid = dir / (std::string(way) + ".mid"), heard = dir / (std::string(way) + ".wav");
        ASSERT_EQ(renderTool({"-p", dir / "p.texte", "-n", "3", "--midi-out", mid, "--tuning-out", way, dir / "s.txt",
                          dir / "own.wav"}),
                  0);
        std::string fluid = std::string("fluidsynth -ni -q -r 22050 -F '") + heard + "' " + kSoundFont + " '" + mid + "'";
        ASSERT_EQ(std::system(fluid.c_str()), 0) << fluid;
        double own = pitch(dir / "own.wav"), played = pitch(heard);
        double cents = 1200 * std::log2(played / own);
        std::printf("%s: the instrument %.3f Hz, FluidSynth %.3f Hz: %+.2f cents\n", way, own, played, cents);
        EXPECT_NEAR(own, 376.831, 0.01);
        EXPECT_NEAR(cents, 0, 3) << way;
    }
}

// The current bank at the end (bank 2, after bank 1 was loaded, then a
// digit) reduced into the octave: 1/255 → 256/255, 240/7 → 15/14, 9/16 →
// 9/8, 14/8 = 7/4 once, 1/1 the scale's implied start, and so are 2/1,
// 4/1 and 1/2.
TEST(TunedFiles, TheScaleIsTheCurrentBanksRatiosInOneOctave) {
    const char* const chord[4] = {"1 / 1", "5 / 4", "3 / 2", "1 / 255"};
    const char* const more[4] = {"7 / 4", "14 / 8", "9 / 16", "240 / 7"};
    const char* const octaves[4] = {"2 / 1", "4 / 1", "1 / 2", "1 / 1"};
    struct Case {
        std::string script;
        std::string degrees;
    };
    const Case cases[] = {
        {"0 report 0 0 0 0 0 0 0 0\n", " 7\n!\n 256/255\n 15/14\n 9/8\n 5/4\n 3/2\n 7/4\n 2/1\n"},
        {"0 key 2\n", " 1\n!\n 2/1\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        enginetest::spit(dir / "p.texte", enginetest::situationBlock(chord) + enginetest::situationBlock(more) +
                                              enginetest::situationBlock(octaves));
        enginetest::spit(dir / "s.txt", c.script);
        ASSERT_EQ(renderTool({"-p", dir / "p.texte", "--scala", dir / "bank.scl", dir / "s.txt", dir / "o.wav"}), 0);
        EXPECT_EQ(enginetest::slurp(dir / "bank.scl"),
                  "! bank.scl\n!\nquorvanel: the ratios of the current bank, reduced into one octave\n" + c.degrees);
        // Its numbers: a linear map of keys 0..127, 1/1 on key 60 at 689.0625 Hz.
        std::string kbm = enginetest::slurp(dir / "bank.kbm"), numbers;
        for (size_t at = 0, nl; (nl = kbm.find('\n', at)) != std::string::npos; at = nl + 1)
            if (kbm[at] != '!') numbers += kbm.substr(at, nl - at) + " ";
        EXPECT_EQ(numbers, "0 0 127 60 60 689.062500 0 ");
    }
}

// At another pitch of 1/1 the WAV plays its frames at 32 × HZ a second
// (rounded): the MIDI file's tick stays one frame, its tempo follows, and
// the keyboard map puts 1/1 at the pitch the WAV sounds.
TEST(TunedFiles, TheFilesFollowThePitchOfOne) {
    struct Case {
        const char* pitch;
        int ticks, microseconds;  // a quarter note: 1000000 / rate µs a tick
        const char* hz;
    } cases[] = {{"689.0625", 11025, 500000, "689.062500"},
                 {"440", 7040, 500000, "440.000000"},           // 14080 frames a second
                 {"261.63", 4186, 500000, "261.625000"},        // 8372
                 {"1000.03", 32001, 1000000, "1000.031250"},   // 32001: no factor shared with a million
                 {"3000", 12, 125, "3000.000000"},              // 96000: 48000 a quarter would be too many
                 {"12000", 48, 125, "12000.000000"}};           // the highest pitch
    for (const Case& c : cases) {
        TempDir dir;
        enginetest::spit(dir / "s.txt", "0 report 100 0 0 0 0 0 0 0\n");
        ASSERT_EQ(renderTool({"-n", "1", "--pitch", c.pitch, "--midi-out", dir / "o.mid", "--scala", dir / "o.scl",
                          dir / "s.txt", dir / "o.wav"}),
                  0);
        std::string mid = enginetest::slurp(dir / "o.mid");
        size_t tempo = mid.find("\xff\x51\x03");
        ASSERT_NE(tempo, std::string::npos);
        auto byte = [&](size_t at) { return static_cast<int>(static_cast<unsigned char>(mid[at])); };
        EXPECT_EQ(byte(12) << 8 | byte(13), c.ticks) << c.pitch;
        EXPECT_EQ(byte(tempo + 3) << 16 | byte(tempo + 4) << 8 | byte(tempo + 5), c.microseconds) << c.pitch;
        EXPECT_NE(enginetest::slurp(dir / "o.kbm").find(std::string("\n") + c.hz + "\n"), std::string::npos) << c.pitch;
        // The voice still sounding ends with the file: its note off (channel
        // 2), then the end of the track.
        ASSERT_GE(mid.size(), 7u);
        EXPECT_EQ(byte(mid.size() - 7), 0x81) << c.pitch;
        EXPECT_EQ(mid.substr(mid.size() - 5), std::string("\x40\x00\xff\x2f\x00", 5)) << c.pitch;
    }
}

// Every output is checked before the render: one that is an input or
// another output, by where its name leads, is refused (2), one that
// cannot be written fails (1), and either way nothing is written, an
// existing WAV least of all. One that fails only as it is written fails
// the render, naming itself.
TEST(TunedFiles, OutputsAreCheckedBeforeAnythingIsWritten) {
    TempDir dir;
    enginetest::spit(dir / "s.txt", "0 key a\n");
    enginetest::spit(dir / "p.kbm", "chubby 0\n");
    const struct {
        std::vector<std::string> args;
        const char* out;  // o.wav exists, new.wav does not
        int status;
    } cases[] = {
        {{"--midi-out", dir / "n.mid", "--tuning-out", "midi"}, "o.wav", 2},
        {{"--tuning-out", "mts"}, "o.wav", 2},
        {{"--midi-out", dir / "o.wav"}, "o.wav", 2},
        {{"-p", dir / "p.kbm", "--scala", dir / "p.scl"}, "o.wav", 2},
        {{"--midi-out", dir / "./new.wav"}, "new.wav", 2},
        {{"--scala", dir / "n.mid", "--midi-out", dir / "../" + dir.path.substr(5) + "/n.mid"}, "new.wav", 2},
        {{"--picture", "0", dir / "n.mid", "--midi-out", dir / "n.mid"}, "new.wav", 2},
        {{"--midi-out", dir / "missing/n.mid"}, "o.wav", 1},
        {{"--scala", dir / "missing/s.scl"}, "new.wav", 1},
        {{"--picture", "0", dir.path}, "o.wav", 1},
    };
    for (const auto& c : cases) {
        enginetest::spit(dir / "o.wav", "untouched");
        std::string line, said;
        for (const std::string& a : c.args) line += a + " ";
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {dir / "s.txt", dir / c.out});
        EXPECT_EQ(renderTool(args, &said), c.status) << line << said;
        EXPECT_EQ(enginetest::slurp(dir / "o.wav"), "untouched") << line;
        for (const char* made : {"new.wav", "n.mid", "p.scl", "missing"})
            EXPECT_NE(access((dir / made).c_str(), F_OK), 0) << line << made;
    }
    std::string said;
    EXPECT_EQ(renderTool({"--midi-out", "/dev/full", dir / "s.txt", dir / "new.wav"}, &said), 1);
    EXPECT_NE(said.find("cannot write /dev/full: No space left on device"), std::string::npos) << said;
    EXPECT_EQ(said.find("writing"), std::string::npos) << said;
}

}  // namespace
