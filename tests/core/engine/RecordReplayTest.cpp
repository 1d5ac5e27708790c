// Recording a performance and rendering it again: every input that passes
// the input gate while units are made is written by the recorder, and the
// recording rendered with a fresh engine gives the same bytes, clicks that
// hit what repaints laid out, window resizes and the bank loaded at start
// included. Also the script lines the recorder writes, read back.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "engine/LaceyBanks.h"
#include "engine/OfflineRenderer.h"
#include "engine/InputGate.h"
#include "engine/KeyOptions.h"
#include "engine/Recorder.h"

#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kSource = QUORVANEL_SOURCE_DIR;

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/quorvanel-replay-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string slurp(const std::string& path) {
    std::string text;
    EventScript::readFile(path.c_str(), text);
    return text;
}

// One unit as the live fill loop makes it, converted bytes appended to `out`.
void makeUnit(InputGate& gate, AbstractChubEngine& engine, std::vector<unsigned char>& out) {
    gate.beforeUnit();
    unsigned char unit[InputGate::kUnit * 4];
    for (int f = 0; f < InputGate::kUnit; f++) pcm_convert_frame(engine.gingness(f, InputGate::kUnit), unit + 4 * f);
    engine.beging();
    gate.afterUnit();
    out.insert(out.end(), unit, unit + sizeof unit);
}

// Renders a script with a fresh engine, its bank (and keys) loaded as the
// renderer does; the samples without the WAV header.
std::vector<unsigned char> replay(const EventScript& script, uint32_t frames) {
    LaceyBanks engine;
    InputGate::Unseen window;
    InputGate gate(&engine, &window);
    KeyScale scale;
    std::string problem;
    if (KeyOptions().on(script)) {
        EXPECT_TRUE(KeyOptions().build(script, "the recording", scale, problem, "test", stderr)) << problem;
        gate.playKeys(&scale);
    }
    EXPECT_TRUE(gate.loadAtStart(nullptr, script, "the recording", "test", stderr));
    FILE* f = std::tmpfile();
    WavWriter wav(f, frames);
    EXPECT_TRUE(OfflineRenderer::render(gate, engine, script.events, frames, wav));
    std::vector<unsigned char> bytes(static_cast<size_t>(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    return std::vector<unsigned char>(bytes.begin() + 44, bytes.end());
}

TEST(RecordReplay, APerformanceRendersToTheBytesItMade) {
    TempDir dir;
    const std::string rec = dir.path + "/take.txt";
    const std::string saved = dir.path + "/output.texte";
    std::vector<unsigned char> live;
    constexpr int kUnits = 400;
    {
        LaceyBanks engine;
        InputGate::Unseen window;  // a window the test resizes, as a window manager would
        InputGate gate(&engine, &window);
        Recorder recorder;
        ASSERT_TRUE(recorder.open(rec.c_str()));
        gate.listen(&recorder);
        gate.loadPatch((kSource + "/patches/wander.texte").c_str());
        std::mt19937 rng(20261208);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const std::string keys = "\r\r\r /qawsedrftgyhujzxcvbnm[']1";
        signed char report[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        gate.expose();
        for (int u = 0; u < kUnits; u++) {
            for (int n = pick(0, 3); n > 0; n--) {
                // MIDI in the second half: reports merged from then on.
                if (u >= kUnits / 2 && pick(0, 2) == 0) {
                    const int status[] = {0x90, 0x80, 0xb0, 0xb0, 0xe0}, ccs[] = {1, 16, 17, 18, 19, 121, 123, 7};
                    unsigned char m[3] = {static_cast<unsigned char>(status[pick(0, 4)] + pick(0, 15)),
                                          static_cast<unsigned char>(pick(36, 91)), static_cast<unsigned char>(pick(0, 127))};
                    if (m[0] >= 0xb0 && m[0] < 0xc0) m[1] = static_cast<unsigned char>(ccs[pick(0, 7)]);
                    gate.midi(m, 3);
                    continue;
                }
                int what = pick(0, 99);
                if (what < 45) {
                    for (int a = 0; a < 4; a++) report[a] = static_cast<signed char>(pick(-128, 127));
                    report[4] = static_cast<signed char>(pick(-40, 40));
                    report[7] = static_cast<signed char>(pick(0, 255) & 0x55);
                    gate.report(report);
                } else if (what < 70) {
                    gate.key(static_cast<unsigned char>(keys[static_cast<size_t>(pick(0, static_cast<int>(keys.size()) - 1))]));
                } else if (what < 92) {
                    gate.click(pick(0, 520), pick(0, 520));
                } else if (what < 96) {
                    gate.expose();
                } else if (what < 98) {
                    window.resize(static_cast<uint32_t>(pick(200, 900)), static_cast<uint32_t>(pick(200, 900)));
                } else {
                    gate.save(saved.c_str());
                }
            }
            makeUnit(gate, engine, live);
        }
        recorder.close();
    }
    const std::string text = slurp(rec);
    EventScript script;
    ASSERT_TRUE(script.parse(text)) << script.message();
    EXPECT_TRUE(script.hasBank);
    EXPECT_EQ(script.bankText, slurp(kSource + "/patches/wander.texte"));
    for (const char* kind : {" report ", " key ", " click ", " expose", " size ", " save ", " midi "})
        EXPECT_NE(text.find(kind), std::string::npos) << kind;

    std::vector<unsigned char> again = replay(script, kUnits * InputGate::kUnit);
    ASSERT_EQ(again.size(), live.size());
    size_t firstDiff = 0;
    while (firstDiff < live.size() && live[firstDiff] == again[firstDiff]) firstDiff++;
    EXPECT_EQ(firstDiff, live.size()) << "first differing frame " << firstDiff / 4;

    // The clicks mattered (they hit marks the repaints laid out): the same
    // performance without them sounds different.
    EventScript noClicks = script;
    std::erase_if(noClicks.events, [](const EventScript::Event& e) { return e.kind == EventScript::Kind::Click; });
    EXPECT_NE(replay(noClicks, kUnits * InputGate::kUnit), live);
}

// A take played on keys, with a scale and a mapping of their own: random
// notes, pedal and bend among the other inputs. The recording carries the
// mode and both texts, and renders to the bytes; without them it would not.
TEST(RecordReplay, AKeysTakeCarriesItsScaleAndRendersToTheBytesItMade) {
    const KeyScale::Source scl{"seven.scl", "seven\n 7\n 9/8\n 5/4\n 4/3\n 3/2\n 5/3\n 15/8\n 2/1\n"};
    const KeyScale::Source kbm{"d.kbm", "12\n0\n127\n62\n62\n293.66\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n"};
    KeyScale scale;
    ASSERT_TRUE(scale.build(scl, kbm, nullptr));
    TempDir dir;
    const std::string rec = dir.path + "/take.txt";
    constexpr int kUnits = 300;
    std::vector<unsigned char> live;
    {
        LaceyBanks engine;
        InputGate::Unseen window;
        InputGate gate(&engine, &window);
        Recorder recorder;
        ASSERT_TRUE(recorder.open(rec.c_str()));
        gate.listen(&recorder);
        gate.playKeys(&scale);
        std::mt19937 rng(36);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        for (int u = 0; u < kUnits; u++) {
            for (int n = pick(0, 2); n > 0; n--) {
                const int status[] = {0x90, 0x90, 0x80, 0xb0, 0xe0}, ccs[] = {64, 64, 16, 123, 1};
                unsigned char m[3] = {static_cast<unsigned char>(status[pick(0, 4)] + pick(0, 15)),
                                      static_cast<unsigned char>(pick(48, 84)), static_cast<unsigned char>(pick(0, 127))};
                if (m[0] >= 0xb0 && m[0] < 0xc0) m[1] = static_cast<unsigned char>(ccs[pick(0, 4)]);
                if (pick(0, 9) == 0) gate.key(pick(0, 1) ? '\r' : '[');
                else gate.midi(m, 3);
            }
            makeUnit(gate, engine, live);
        }
        recorder.close();
    }
    EventScript script;
    ASSERT_TRUE(script.parse(slurp(rec))) << script.message();
    EXPECT_TRUE(script.keys);
    EXPECT_EQ(script.scale.name + script.scale.text + script.map.name + script.map.text,
              scl.name + scl.text + kbm.name + kbm.text);
    EXPECT_EQ(replay(script, kUnits * InputGate::kUnit), live);
    EventScript plain = script;
    plain.keys = false;
    plain.scale = plain.map = EventScript::Carried{};
    EXPECT_NE(replay(plain, kUnits * InputGate::kUnit), live);
}

// Lines at the edges of what a script holds, read and written again: the
// recorder writes them as they stood ('#' and other bytes as codes), and
// a bank text with what a line would otherwise read specially ('#', '|',
// carriage returns, tabs, no final line feed) comes back byte for byte.
TEST(RecordReplay, RecordedLinesReadBackAsTheyWereWritten) {
    TempDir dir;
    const std::string rec = dir.path + "/take.txt";
    const std::string lines =
        "0 report -128 -91 -54 -17 20 57 94 127\n256 key 035\n512 key 200\n768 save output.texte\n"
        "1024 click -32768 32767\n1280 expose\n1536 size 1 65535\n1792 pad lefttrigger 32767\n"
        "2048 midi b0 10 7f\n2304 midi c5 03\n2560 midi f8\n";
    const std::string bank = "chubby 0 # not a comment\r\n|bar\n\n\tx";
    EventScript sent;
    ASSERT_TRUE(sent.parse(lines)) << sent.message();
    {
        Recorder r;
        ASSERT_TRUE(r.open(rec.c_str()));
        r.bank("my patch.texte", bank);
        for (const EventScript::Event& e : sent.events) r.event(e.frame, e);
    }
    const std::string text = slurp(rec);
    EXPECT_EQ(text.substr(text.find("\nbank ") + 1),
              "bank my\n|chubby 0 # not a comment\r\n||bar\n|\n|\tx\n" + lines);
    EventScript back;
    ASSERT_TRUE(back.parse(text)) << back.message();
    EXPECT_EQ(back.bankText, bank + "\n");
}

// A save line of 255, 256 and 257 characters: the recorder's line room is
// 256 bytes with the NUL, so 256 characters is the first that must take
// the long way, whole.
TEST(RecordReplay, SaveLinesAroundTheRecordersLineRoomReadBackWhole) {
    TempDir dir;
    const std::string rec = dir.path + "/take.txt";
    std::string lines;
    for (size_t length : {255u, 256u, 257u}) {
        const std::string head = "4096 save ";
        lines += head + std::string(length - head.size(), 'p') + "\n";
    }
    EventScript sent;
    ASSERT_TRUE(sent.parse(lines)) << sent.message();
    {
        Recorder r;
        ASSERT_TRUE(r.open(rec.c_str()));
        for (const EventScript::Event& e : sent.events) r.event(e.frame, e);
    }
    const std::string text = slurp(rec);
    EXPECT_EQ(text.substr(text.find('\n') + 1), lines);
}

}  // namespace
