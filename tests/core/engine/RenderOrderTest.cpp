// The offline renderer's contract with the engine, checked with a recording
// stand-in: events before their period, 256 gingness calls with indexes
// 0..255, beging after each whole period, pcm_convert's bytes in a WAV whose
// sizes are right from the first byte; and the exact length arithmetic.
// gtest before the engine headers: Xlib's None and Bool macros break it.
#include <gtest/gtest.h>

#include "engine/OfflineRenderer.h"
#include "render/RenderTool.h"
#include "engine/WavWriter.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Records every call as a short word; gingness returns (16 × n, -16 × n)
// for the n-th call overall, so the samples are n and -n.
class RecordingEngine final : public AbstractChubEngine {
public:
    std::vector<std::string> calls;
    int gings = 0;
    int pair[2] = {0, 0};
    const void* lastHandle = nullptr;

    void graxness(_CHDC) override { calls.push_back("grax"); }
    int* gingness(int frame, int frames) override {
        calls.push_back("g" + std::to_string(frame) + "/" + std::to_string(frames));
        gings++;
        pair[0] = 16 * gings;
        pair[1] = -16 * gings;
        return pair;
    }
    void beging() override { calls.push_back("beging"); }
    void chubness(ChubDevice* h, _CHUBREPORT r) override {
        lastHandle = h;
        std::string s = "report";
        for (unsigned k = 0; k < r.length; k++) s += " " + std::to_string(r.bytes[k]);
        calls.push_back(s);
    }
    void charactros(unsigned char k) override { calls.push_back("key " + std::to_string(k)); }
    void mouseButt(_pointille) override { calls.push_back("mouse"); }
    void textorium_trigger(char* n) override {
        calls.push_back(std::string("save ") + n);
        std::printf("%s \n", n);  // as the real engine does on every save
    }
    void textorium_script(char* n) override { calls.push_back(std::string("load ") + n); }
    void dupe_chubbery() override { calls.push_back("dupe"); }
    void dupe_multiplex() override { calls.push_back("multiplex"); }

    // The calls between two begings (or the start/end), as counts of
    // gingness calls and the events seen before them.
    std::vector<std::string> outline() const {
        std::vector<std::string> out;
        int run = 0;
        for (const auto& c : calls) {
            if (c[0] == 'g' && c[1] != 'r') { run++; continue; }
            if (run) { out.push_back(std::to_string(run) + " frames"); run = 0; }
            out.push_back(c);
        }
        if (run) out.push_back(std::to_string(run) + " frames");
        return out;
    }
};

std::vector<unsigned char> renderToBytes(AbstractChubEngine& e, const std::string& script, uint32_t total,
                                         size_t* undelivered = nullptr) {
    EventScript s;
    EXPECT_TRUE(s.parse(script)) << s.message();
    FILE* f = std::tmpfile();
    WavWriter wav(f, total);
    EXPECT_TRUE(OfflineRenderer::render(e, s.events, total, wav, nullptr, undelivered));
    std::vector<unsigned char> bytes(static_cast<size_t>(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    return bytes;
}

uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

TEST(RenderOrder, EventsArriveBeforeTheirPeriodInFileOrder) {
    RecordingEngine e;
    size_t undelivered = 99;
    renderToBytes(e,
                  "0 key a\n"
                  "255 report 1 2 3 4 5 6 7 -1\n"
                  "256 key b\n"
                  "511 key c\n"
                  "511 save x.texte\n"
                  "512 key d\n"
                  "700 key e\n"   // in the cut-short last period: still before it
                  "768 key f\n",  // in a period never reached
                  600, &undelivered);
    // The first report repaints after it has been handled, as live; a
    // script's save reaches no file unless a folder is named for it.
    const std::vector<std::string> want = {
        "key 97", "report 1 2 3 4 5 6 7 -1", "grax", "256 frames", "beging",
        "key 98", "key 99", "256 frames", "beging",
        "key 100", "key 101", "88 frames"};
    EXPECT_EQ(e.outline(), want);
    EXPECT_EQ(undelivered, 1u);
    EXPECT_NE(e.lastHandle, nullptr);
    // Within a period the indexes run 0..255 against a period of 256,
    // the cut-short one included.
    EXPECT_EQ(e.calls[3], "g0/256");
    EXPECT_EQ(e.calls[258], "g255/256");
    EXPECT_EQ(e.calls.back(), "g87/256");
}

TEST(RenderOrder, WholeLastPeriodEndsWithBeging) {
    RecordingEngine e;
    renderToBytes(e, "", 512);
    const std::vector<std::string> want = {"256 frames", "beging", "256 frames", "beging"};
    EXPECT_EQ(e.outline(), want);
    RecordingEngine none;
    auto bytes = renderToBytes(none, "0 key a\n", 0);
    EXPECT_TRUE(none.calls.empty());  // nothing rendered, nothing delivered
    EXPECT_EQ(bytes.size(), 44u);
}

TEST(RenderOrder, WavHoldsHeaderAndConvertedSamples) {
    RecordingEngine e;
    auto b = renderToBytes(e, "", 300);
    ASSERT_EQ(b.size(), 44u + 300 * 4);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 36u + 1200);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    EXPECT_EQ(b[20] | (b[21] << 8), 1);      // integer PCM
    EXPECT_EQ(b[22] | (b[23] << 8), 2);      // channels
    EXPECT_EQ(le32(b, 24), 22050u);
    EXPECT_EQ(le32(b, 28), 88200u);
    EXPECT_EQ(b[32] | (b[33] << 8), 4);      // block align
    EXPECT_EQ(b[34] | (b[35] << 8), 16);     // bits
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(le32(b, 40), 1200u);
    // Frame n (from 1) is (16n, -16n): samples n and -n, little-endian.
    for (int n : {1, 2, 256, 257, 300}) {
        size_t at = 44 + 4 * static_cast<size_t>(n - 1);
        EXPECT_EQ(static_cast<int16_t>(b[at] | (b[at + 1] << 8)), n);
        EXPECT_EQ(static_cast<int16_t>(b[at + 2] | (b[at + 3] << 8)), -n);
    }
}

TEST(RenderOrder, WriterRefusesMoreThanItPromised) {
    FILE* f = std::tmpfile();
    WavWriter w(f, 2);
    ASSERT_TRUE(w.begin());
    unsigned char four[12] = {};
    EXPECT_FALSE(w.frames(four, 3));
    EXPECT_TRUE(w.frames(four, 2));
    EXPECT_FALSE(w.frames(four, 1));
    EXPECT_TRUE(w.finish());
    std::fclose(f);
    FILE* g = std::tmpfile();
    WavWriter shortOne(g, 2);
    ASSERT_TRUE(shortOne.begin());
    EXPECT_FALSE(shortOne.finish());  // a promise not kept is a failure
    std::fclose(g);
}

TEST(RenderLength, SecondsBecomeWholeFramesExactly) {
    struct Case { const char* text; uint32_t frames; };
    const Case ok[] = {
        {"0", 0}, {"1", 22050}, {"1.5", 33075}, {"2.", 44100}, {".5", 11025},
        {"0.1", 2205}, {"0.7", 15435},         // 0.7 × 22050 in doubles is 15434.999…
        {"0.00004535147", 0},                  // just below 1/22050
        {"0.00004535148", 1},                  // just above it
        {"0.0000453514739229024943310657596371882086167800453514739229", 0},
        {"0.0000453514739229024943310657596371882086167800453514739230", 1},
        {"1.99999999999999999999", 44099},
        {"60", 1323000}, {"007.25", 159862},
    };
    for (const Case& c : ok) {
        uint32_t f = 12345;
        EXPECT_TRUE(OfflineRenderer::framesFor(c.text, f)) << c.text;
        EXPECT_EQ(f, c.frames) << c.text;
    }
    const char* bad[] = {"", ".", "-1", "+1", "1e3", "1.5s", " 1", "1..5", "0x10", "48696", "99999999999999999999"};
    for (const char* t : bad) {
        uint32_t f;
        EXPECT_FALSE(OfflineRenderer::framesFor(t, f)) << t;
    }
    uint32_t f;
    EXPECT_TRUE(OfflineRenderer::framesFor("48695", f));  // the most one WAV holds, whole seconds
    EXPECT_EQ(f, 48695u * 22050);
}

TEST(RenderLength, DefaultIsLastEventPlusOneSecond) {
    EventScript s;
    ASSERT_TRUE(s.parse("100 key a\n30000 key b\n"));
    EXPECT_EQ(OfflineRenderer::defaultFrames(s.events), 30000u + 22050);
    ASSERT_TRUE(s.parse(""));
    EXPECT_EQ(OfflineRenderer::defaultFrames(s.events), 22050u);
}

// The command line, with the recording engine standing in.
RecordingEngine* lastEngine = nullptr;
AbstractChubEngine* makeRecording() { return lastEngine = new RecordingEngine(); }

struct TempFile {
    std::string path;
    explicit TempFile(const std::string& text, const char* stem = "render-test") {
        char name[] = "/tmp/quorvanel-XXXXXX";
        int fd = mkstemp(name);
        ::close(fd);
        path = std::string(name) + "-" + stem;
        std::rename(name, path.c_str());
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    ~TempFile() { std::remove(path.c_str()); }
};

int runTool(std::vector<std::string> args, std::string* err = nullptr) {
    args.insert(args.begin(), "quorvanel-render");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    FILE* e = std::tmpfile();
    delete lastEngine;
    lastEngine = nullptr;
    // No release: the last engine stays for the test to inspect.
    int rc = RenderTool::run(static_cast<int>(argv.size()), argv.data(), makeRecording, nullptr, e);
    if (err) {
        err->assign(static_cast<size_t>(std::ftell(e)), '\0');
        std::rewind(e);
        std::fread(err->data(), 1, err->size(), e);
    }
    std::fclose(e);
    return rc;
}

TEST(RenderCommand, BadScriptLineExitsTwoWithLineNumberAndBuildsNoEngine) {
    const std::pair<const char*, const char*> cases[] = {
        {"0 key a\n# fine\n5 report 1 2 3\n", "line 3: report takes 8 bytes"},
        {"0 pad leftx 5\n9 pad trigger 5\n", "line 2: pad control 'trigger'"},
        {"0 pad b 1\n\n\n9 pad lefttrigger -5\n", "line 4: pad lefttrigger value '-5'"},
    };
    for (const auto& [text, says] : cases) {
        TempFile script(text);
        TempFile out("", "out.wav");
        std::string err;
        EXPECT_EQ(runTool({script.path, out.path}, &err), 2);
        EXPECT_NE(err.find(says), std::string::npos) << err;
        EXPECT_EQ(lastEngine, nullptr);
    }
}

TEST(RenderCommand, BadCommandLinesAndUnreadableInputsExitTwo) {
    TempFile script("0 key a\n");
    TempFile out("", "out.wav");
    std::string err;
    EXPECT_EQ(runTool({script.path}, &err), 2);
    EXPECT_EQ(runTool({"-n", script.path, out.path}, &err), 2);   // -n takes the script as its value
    EXPECT_EQ(runTool({"-n", "1,5", script.path, out.path}, &err), 2);
    EXPECT_NE(err.find("-n 1,5"), std::string::npos) << err;
    EXPECT_EQ(runTool({"-x", script.path, out.path}, &err), 2);
    EXPECT_EQ(runTool({"/nonexistent/s.txt", out.path}, &err), 2);
    EXPECT_NE(err.find("cannot read /nonexistent/s.txt"), std::string::npos) << err;
    EXPECT_EQ(runTool({"-p", "/nonexistent/p.texte", script.path, out.path}, &err), 2);
    EXPECT_NE(err.find("cannot read patch /nonexistent/p.texte"), std::string::npos) << err;
    EXPECT_EQ(lastEngine, nullptr);
    EXPECT_EQ(runTool({script.path, "/nonexistent/dir/out.wav"}, &err), 1);
    EXPECT_EQ(lastEngine, nullptr);
}

TEST(RenderCommand, LoadsThePatchFirstThenRenders) {
    TempFile patch("chubby 0\n", "p.texte");
    TempFile script("300 key z\n");
    TempFile out("", "out.wav");
    ASSERT_EQ(runTool({"-p", patch.path, "-n", "0.02", script.path, out.path}), 0);
    ASSERT_NE(lastEngine, nullptr);
    // 0.02 s = 441 frames: one whole period and one of 185. No report ever
    // came: the key repaints twice before its period.
    const std::vector<std::string> want = {"load " + patch.path, "256 frames", "beging", "key 122",
                                           "grax", "grax", "185 frames"};
    EXPECT_EQ(lastEngine->outline(), want);
    std::string bytes;
    ASSERT_TRUE(EventScript::readFile(out.path.c_str(), bytes));
    EXPECT_EQ(bytes.size(), 44u + 441 * 4);
    // Without -n: the last event (300) plus one second.
    ASSERT_EQ(runTool({script.path, out.path}), 0);
    ASSERT_TRUE(EventScript::readFile(out.path.c_str(), bytes));
    EXPECT_EQ(bytes.size(), 44u + (300 + 22050) * 4);
}

TEST(RenderCommand, StandardOutputCarriesOnlyTheWav) {
    TempFile script("0 save /dev/null\n");
    TempFile captured("", "stdout.wav");
    std::fflush(stdout);
    int realStdout = dup(STDOUT_FILENO);
    FILE* cap = std::fopen(captured.path.c_str(), "wb");
    dup2(fileno(cap), STDOUT_FILENO);
    int rc = runTool({"-n", "0.01", script.path, "-"});
    std::fflush(stdout);
    dup2(realStdout, STDOUT_FILENO);
    ::close(realStdout);
    std::fclose(cap);
    ASSERT_EQ(rc, 0);
    // The save's printed path went to the error stream, not into the samples.
    std::string bytes;
    ASSERT_TRUE(EventScript::readFile(captured.path.c_str(), bytes));
    ASSERT_EQ(bytes.size(), 44u + 220 * 4);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.find("/dev/null"), std::string::npos);
}

TEST(RenderCommand, LongRenderReportsProgressOnTheErrorStream) {
    TempFile script("");
    TempFile out("", "out.wav");
    std::string err;
    ASSERT_EQ(runTool({"-n", "11", script.path, out.path}, &err), 0);
    EXPECT_NE(err.find("(10%)"), std::string::npos) << err;
    EXPECT_NE(err.find("242550 of 242550 frames (100%)"), std::string::npos) << err;
    ASSERT_EQ(runTool({"-n", "10", script.path, out.path}, &err), 0);
    EXPECT_EQ(err, "");
}

}  // namespace
