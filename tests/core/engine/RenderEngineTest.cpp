// The offline renderer driving the real engine: the exact square wave of a
// fresh bank, byte-identical repeat renders, events landing in the period
// they name, and every example patch and script in the repository.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "engine/LaceyBanks.h"
#include "engine/OfflineRenderer.h"
#include "engine/ScriptPad.h"
#include "render/RenderTool.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string kSource = QUORVANEL_SOURCE_DIR;

struct Frame {
    int16_t left, right;
};

// Renders `frames` frames of a new engine (with `patch` loaded first when
// given) and returns the samples after the 44-byte header.
std::vector<Frame> render(const std::string& script, uint32_t frames, const std::string& patch = "") {
    EventScript s;
    EXPECT_TRUE(s.parse(script)) << s.message();
    LaceyBanks engine;
    if (!patch.empty()) {
        std::vector<char> name(patch.begin(), patch.end());
        name.push_back('\0');
        engine.textorium_script(name.data());
    }
    FILE* f = std::tmpfile();
    WavWriter wav(f, frames);
    ScriptPad pad;
    EXPECT_TRUE(OfflineRenderer::render(engine, s.events, frames, wav, nullptr, nullptr, &pad));
    std::vector<Frame> out(frames);
    std::fseek(f, WavWriter::kHeaderBytes, SEEK_SET);
    std::vector<unsigned char> b(4 * static_cast<size_t>(frames));
    EXPECT_EQ(std::fread(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
    for (size_t i = 0; i < frames; i++) {
        out[i].left = static_cast<int16_t>(b[4 * i] | (b[4 * i + 1] << 8));
        out[i].right = static_cast<int16_t>(b[4 * i + 2] | (b[4 * i + 3] << 8));
    }
    return out;
}

bool same(const std::vector<Frame>& a, const std::vector<Frame>& b, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (a[i].left != b[i].left || a[i].right != b[i].right) return false;
    return true;
}

// Voice 0 of a fresh situation is 1/1 with the step size 128 (officio 0,
// strittle 128): A = 1024, S = 128, so it turns every 16 frames, the first
// time at its 8th step (phase 0 -> 1024), and is a square wave of 32
// frames: + for steps 1..7, - for 8..23, + for 24..39, ... Its level ramps
// 100 × f / 256 over the first period and is 100 from frame 256 on; after
// the dead zone that is 97, and 97 × ±1024 / 16 = ±6208. Voices 1..3 rest
// at level 0, and a fresh generator is inhibited, so nothing modulates.
int16_t expectedSquare(size_t k) {
    int step = static_cast<int>(k) + 1;
    int sign = ((step - 8) % 32 + 32) % 32 < 16 ? -1 : 1;
    int level = k < 256 ? static_cast<int>(100 * k / 256) : 100;
    int g = level > 3 ? level - 3 : 0;
    return static_cast<int16_t>(sign * g * 1024 / 16);
}

TEST(RenderEngine, FreshBankSquareWaveIsExact) {
    auto out = render("0 report 100 0 0 0 0 0 0 0\n", 22050);
    for (size_t k = 0; k < out.size(); k++) {
        ASSERT_EQ(out[k].left, expectedSquare(k)) << "frame " << k;
        ASSERT_EQ(out[k].right, 0) << "frame " << k;
    }
    // The settled part, spelled out: ±6208 with a period of 32 frames.
    EXPECT_EQ(out[256].left, 6208);   // step 257: (257 - 8) mod 32 = 25
    EXPECT_EQ(out[262].left, 6208);
    EXPECT_EQ(out[263].left, -6208);  // step 264: 0, the turn
    EXPECT_EQ(out[278].left, -6208);
    EXPECT_EQ(out[279].left, 6208);
    for (size_t k = 256; k + 32 < out.size(); k++) ASSERT_EQ(out[k].left, out[k + 32].left) << k;
}

TEST(RenderEngine, ReportLandsInThePeriodItNames) {
    // Frame 255 is still in period 0: the ramp starts at frame 0.
    auto early = render("255 report 100 0 0 0 0 0 0 0\n", 1024);
    for (size_t k = 0; k < 1024; k++) ASSERT_EQ(early[k].left, expectedSquare(k)) << k;
    // Frame 256 is period 1: period 0 is silent, the ramp fills period 1.
    auto late = render("256 report 100 0 0 0 0 0 0 0\n", 1024);
    for (size_t k = 0; k < 256; k++) ASSERT_EQ(late[k].left, 0) << k;
    for (size_t k = 256; k < 1024; k++) {
        size_t ramped = k < 512 ? k - 256 : 256;  // the level of frame k
        int g = static_cast<int>(100 * ramped / 256);
        g = g > 3 ? g - 3 : 0;
        ASSERT_EQ(late[k].left, expectedSquare(k) < 0 ? -g * 64 : g * 64) << k;
    }
}

TEST(RenderEngine, SameInputsSameBytesAndShorterRenderIsAPrefix) {
    const std::string patch = kSource + "/patches/fmbells.texte";
    std::string script;
    ASSERT_TRUE(EventScript::readFile((kSource + "/scripts/fmbells.txt").c_str(), script));
    auto a = render(script, 60000, patch);
    auto b = render(script, 60000, patch);
    ASSERT_TRUE(same(a, b, a.size()));
    // Cut in the middle of a period: the events of that period still come
    // before it, so the short render is the long one's beginning.
    auto c = render(script, 33333, patch);
    EXPECT_TRUE(same(a, c, c.size()));
    // And the script does make sound, on both sides.
    int maxL = 0, maxR = 0;
    for (const Frame& f : a) {
        maxL = std::max(maxL, std::abs(static_cast<int>(f.left)));
        maxR = std::max(maxR, std::abs(static_cast<int>(f.right)));
    }
    EXPECT_GT(maxL, 1000);
    EXPECT_GT(maxR, 1000);
}

// Each situation of an example patch, alone in solo mode with the same axes:
// it sounds, and no two of them sound alike.
TEST(RenderEngine, ExamplePatchSituationsSoundDifferent) {
    for (const char* name : {"justchord", "fmbells", "wander"}) {
        const std::string patch = kSource + "/patches/" + name + ".texte";
        std::vector<std::vector<Frame>> alone;
        for (int s = 0; s < 3; s++) {
            std::string script = "0 key /\n";
            for (int k = 0; k < s; k++) script += "0 key 032\n";
            script += "0 report 40 -30 30 20 0 0 0 0\n";
            alone.push_back(render(script, 11025, patch));
            int peak = 0;
            for (const Frame& f : alone.back())
                peak = std::max({peak, std::abs(static_cast<int>(f.left)), std::abs(static_cast<int>(f.right))});
            EXPECT_GT(peak, 1000) << name << " situation " << s;
        }
        for (int i = 0; i < 3; i++)
            for (int j = i + 1; j < 3; j++)
                EXPECT_FALSE(same(alone[i], alone[j], 11025)) << name << " situations " << i << " and " << j;
    }
}

// 64-bit FNV-1a of a whole file.
uint64_t fileHash(const std::string& path, size_t* size) {
    std::string bytes;
    EXPECT_TRUE(EventScript::readFile(path.c_str(), bytes)) << path;
    *size = bytes.size();
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

AbstractChubEngine* makeLaceyBanks() { return new LaceyBanks(); }
void releaseLaceyBanks(AbstractChubEngine* e) { delete static_cast<LaceyBanks*>(e); }

// Every example renders through the command line, twice to the same bytes,
// and to the bytes pinned here: a change to the sound path that alters a
// single sample shows up. When a change is meant to alter the sound, listen
// to the new renders and pin their hashes (the message prints them).
TEST(RenderEngine, ExamplesRenderThroughTheCommandLine) {
    struct Example {
        const char* patch;   // "" for a fresh bank
        const char* script;
        uint32_t frames;     // the last event plus one second
        uint64_t hash;       // FNV-1a of the whole WAV file
    };
    const Example examples[] = {
        {"", "square", 22050 + 22050, 0xce098cd443212604ull},
        {"justchord", "justchord", 110250 + 22050, 0xed6769c318250947ull},
        {"fmbells", "fmbells", 64 * 2756 + 22050, 0x64c44582bef2a867ull},
        {"wander", "wander", 96 * 2048 + 22050, 0xfaa619c4a1c45461ull},
        // The benchmark's load: every cell of 15 situations (quorvanel-bench-bank --write).
        {"fullbank", "fullbank", 85 * 256 + 22050, 0xfa0bf6caed8930e6ull},
        {"", "midi", 34304 + 22050, 0xf73cf8c375eb8480ull},
        // A keyboard played as keys: the script says `keys` itself.
        {"", "keys", 44100 + 22050, 0xfc1b1f749294badcull},
    };
    char name[] = "/tmp/quorvanel-render-example-XXXXXX";
    int fd = mkstemp(name);  // unique, so parallel runs of the tests do not collide
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::string out = name;
    for (const Example& e : examples) {
        std::vector<std::string> args = {"quorvanel-render"};
        if (*e.patch) args.insert(args.end(), {"-p", kSource + "/patches/" + e.patch + ".texte"});
        args.push_back(kSource + "/scripts/" + e.script + ".txt");
        args.push_back(out);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        uint64_t first = 0;
        for (int pass = 0; pass < 2; pass++) {
            FILE* err = std::tmpfile();
            int rc = RenderTool::run(static_cast<int>(argv.size()), argv.data(), makeLaceyBanks,
                                     releaseLaceyBanks, err);
            ASSERT_EQ(rc, 0) << e.script;
            std::fclose(err);
            size_t size;
            uint64_t h = fileHash(out, &size);
            EXPECT_EQ(size, 44u + 4u * e.frames) << e.script;
            if (pass == 0) first = h;
            else EXPECT_EQ(h, first) << e.script;
            EXPECT_EQ(h, e.hash) << e.script << ": rendered 0x" << std::hex << h;
        }
    }
    std::remove(out.c_str());
}

#if QUORVANEL_PADS
// A game controller in a script is an SDL virtual pad: from the first `pad`
// line on, every period takes one report made from its latest state, after
// the period's own events. The reports worked out by hand: leftx 20000 →
// (20000 − 4096) × 127 / 28671 = 70; lefty −32768 → up 127; rightx −10000 →
// −(5904 × 127 / 28671) = −26; righttrigger 32767 → 127; then with
// lefttrigger 16384 → (32767 − 16384) × 127 / 32767 = 63; A → bit 0, X → bit 4.
TEST(RenderEngine, PadLinesRenderAsAReportEveryPeriod) {
    const std::string pads =
        "300 pad leftx 20000\n300 pad lefty -32768\n300 pad a 1\n"
        "600 pad rightx -10000\n600 pad righttrigger 32767\n600 pad x 1\n"
        "1300 key q\n1300 pad a 0\n1300 pad lefttrigger 16384\n";
    std::string reports;
    const char* bytes[] = {"70 127 0 0 0 0 0 1", "70 127 -26 0 127 0 0 17", "70 127 -26 0 127 0 0 17",
                           "70 127 -26 0 127 0 0 17", "70 127 -26 0 63 0 0 16", "70 127 -26 0 63 0 0 16",
                           "70 127 -26 0 63 0 0 16"};
    for (int period = 1; period < 8; period++) {
        if (period == 5) reports += "1280 key q\n";  // the same period as 1300: before its report
        reports += std::to_string(period * 256) + " report " + bytes[period - 1] + "\n";
    }
    const std::string patch = kSource + "/patches/fmbells.texte";
    std::vector<Frame> withPads = render(pads, 2048, patch);
    std::vector<Frame> withReports = render(reports, 2048, patch);
    ASSERT_EQ(withPads.size(), withReports.size());
    int differ = 0;
    for (size_t i = 0; i < withPads.size(); i++)
        differ += withPads[i].left != withReports[i].left || withPads[i].right != withReports[i].right;
    EXPECT_EQ(differ, 0);
    // The reports made a difference: without them the bank sounds otherwise.
    std::vector<Frame> plain = render("1300 key q\n", 2048, patch);
    int moved = 0;
    for (size_t i = 0; i < plain.size(); i++) moved += plain[i].left != withPads[i].left;
    EXPECT_GT(moved, 0);
}

#endif

}  // namespace
