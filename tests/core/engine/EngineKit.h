// Test support for the engine: one lattice store per test program (it is
// large and never changes), temporary folders, whole-file reads and writes,
// and saving or loading a bank through real files.
#pragma once

// gtest first: the X11 headers define macros (None, Bool) it would trip on.
#include <gtest/gtest.h>

#include "engine/LaceyBanks.h"
#include "engine/MultiplexPotentiator.h"
#include "lattice/PerspexStabile.h"
#include "render/RenderTool.h"
#include "voice/VoiceRig.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace enginetest {

// What a fresh bank with one situation saves before any report.
inline const char* const kFreshBlock =
    " barre\n"
    "  atrest\n"
    " chinkwonkanater\n"
    "  inhibit 0\n"
    "  primelm 2\n"
    "  stritton 0\n"
    "  strittle 128\n"
    " sponginger\n"
    "  rat 0 = 1 / 1\n"
    "  rat 1 = 2 / 2\n"
    "  rat 2 = 3 / 3\n"
    "  rat 3 = 4 / 4\n"
    "  bitshift 0\n"
    "  gingzgongz 0\n"
    "  quiznoquantan 0\n"
    " royalminister\n"
    "  inhibit 1\n"
    "  kingals 0 = 0 0 0 0 \n"
    "  queenals 0 = 0 0 0 0 \n"
    "  kingals 1 = 0 0 0 0 \n"
    "  queenals 1 = 0 0 0 0 \n"
    "  kingals 2 = 0 0 0 0 \n"
    "  queenals 2 = 0 0 0 0 \n"
    "  kingals 3 = 0 0 0 0 \n"
    "  queenals 3 = 0 0 0 0 \n"
    " royalfmoutarde\n"
    "  inhibit 1\n"
    "  numals 0 = 0 0 0 0 \n"
    "  denals 0 = 0 0 0 0 \n"
    "  numals 1 = 0 0 0 0 \n"
    "  denals 1 = 0 0 0 0 \n"
    "  numals 2 = 0 0 0 0 \n"
    "  denals 2 = 0 0 0 0 \n"
    "  numals 3 = 0 0 0 0 \n"
    "  denals 3 = 0 0 0 0 \n"
    "  bitshift 0\n";

inline std::string freshBlock(int position) {
    return "chubby " + std::to_string(position) + "\n" + kFreshBlock;
}

// A fresh situation's block with its four ratios ("n / d"), its step size
// and its wave switches set.
inline std::string situationBlock(const char* const (&rats)[4], int strittle = 128, int g = 0, int q = 0) {
    std::string t = freshBlock(0);
    auto set = [&](const std::string& from, const std::string& to) { t.replace(t.find(from), from.size(), to); };
    for (int v = 0; v < 4; v++)
        set("rat " + std::to_string(v) + " = " + std::to_string(v + 1) + " / " + std::to_string(v + 1),
            "rat " + std::to_string(v) + " = " + rats[v]);
    set("strittle 128", "strittle " + std::to_string(strittle));
    set("gingzgongz 0", "gingzgongz " + std::to_string(g));
    set("quiznoquantan 0", "quiznoquantan " + std::to_string(q));
    return t;
}

// A whole situation block with every field given, distinct per `i`; the
// text is exactly what a save writes, so load-then-save must return it.
inline std::string fullBlock(int i) {
    static const int primes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53};
    char line[160];
    std::string t = "chubby " + std::to_string(i) + "\n barre\n";
    if (i % 3 == 0) {
        t += "  atrest\n";
    } else if (i % 3 == 1) {
        t += "  kingal " + std::to_string(i % 4) + "\n";
    } else {
        int a = i % 4, b = (i + 1 + i / 4) % 4;
        if (a == b) b = (b + 1) % 4;
        snprintf(line, sizeof line, "  queenal %d %d\n", a < b ? a : b, a < b ? b : a);
        t += line;
    }
    snprintf(line, sizeof line,
             " chinkwonkanater\n  inhibit %d\n  primelm %d\n  stritton %d\n  strittle %d\n",
             1 - i % 2, primes[i], i % 9, 100 + 7 * i);
    t += line;
    t += " sponginger\n";
    for (int v = 0; v < 4; v++) {
        snprintf(line, sizeof line, "  rat %d = %d / %d\n", v, 1 + (37 * i + 11 * v) % 255,
                 1 + (53 * i + 29 * v + 3) % 255);
        t += line;
    }
    snprintf(line, sizeof line, "  bitshift %d\n  gingzgongz %d\n  quiznoquantan %d\n", i % 9,
             i % 2, (i / 2) % 2);
    t += line;
    auto rows = [&](const char* head, const char* a, const char* b, int inhibit, int seed) {
        t += head;
        t += "  inhibit " + std::to_string(inhibit) + "\n";
        for (int r = 0; r < 4; r++) {
            t += "  " + std::string(a) + " " + std::to_string(r) + " = ";
            for (int c = 0; c < 4; c++) t += std::to_string((seed + i + 2 * r + c) % 3 - 1) + " ";
            t += "\n  " + std::string(b) + " " + std::to_string(r) + " = ";
            for (int c = 0; c < 4; c++) t += std::to_string((seed * i + r - 3 * c) % 5) + " ";
            t += "\n";
        }
    };
    rows(" royalminister\n", "kingals", "queenals", i % 2, 1);
    rows(" royalfmoutarde\n", "numals", "denals", (i + 1) % 2, 2);
    t += "  bitshift " + std::to_string(8 - i % 9) + "\n";
    return t;
}

inline PerspexStabile* stabile() {
    static PerspexStabile* s = new PerspexStabile();
    return s;
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A private folder under /tmp, removed with everything in it.
struct TempDir {
    std::string path;
    TempDir() {
        char t[] = "/tmp/quorvanel-engine-XXXXXX";
        if (mkdtemp(t)) path = t;
    }
    ~TempDir() {
        if (path.empty()) return;
        std::string cmd = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
        (void)system(cmd.c_str());
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// What the situation writes into a patch file (its sections, no header).
inline std::string textOf(ChubberySituation& s) { return voicetest::written(s); }

// Saves the bank into a fresh folder and returns the file's text; the
// path line the save prints is swallowed.
inline std::string savedText(MultiplexPotentiator& bank) {
    TempDir dir;
    std::string path = dir / "bank.texte";
    testing::internal::CaptureStdout();
    bank.textorium_trigger(path.data());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, path + " \n");
    return slurp(path);
}

// Loads the text into the bank through a real file.
inline void loadText(MultiplexPotentiator& bank, const std::string& text) {
    TempDir dir;
    std::string path = dir / "in.texte";
    spit(path, text);
    bank.textorium_script(path.data());
}

// A controller report with the given bytes, for a bank or an engine; the
// handle is never read, it only has to be there.
struct Report {
    signed char bytes[8];
    Report(int a0, int a1, int a2, int a3, int b4, int buttons) {
        signed char init[8] = {static_cast<signed char>(a0), static_cast<signed char>(a1),
                               static_cast<signed char>(a2), static_cast<signed char>(a3),
                               static_cast<signed char>(b4), 0, 0,
                               static_cast<signed char>(buttons)};
        for (int i = 0; i < 8; i++) bytes[i] = init[i];
    }
    _CHUBREPORT chub() { return _CHUBREPORT{bytes, 8}; }
    static ChubDevice* handle() {
        static char token;
        return reinterpret_cast<ChubDevice*>(&token);
    }
};

// Runs the renderer's command line in this process, on the engine the
// program makes; its status, and what it said on standard error in `said`.
inline int renderTool(std::vector<std::string> args, std::string* said = nullptr) {
    args.insert(args.begin(), "quorvanel-render");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    FILE* err = std::tmpfile();
    int status = RenderTool::run(
        static_cast<int>(argv.size()), argv.data(), [] { return static_cast<AbstractChubEngine*>(new LaceyBanks()); },
        [](AbstractChubEngine* e) { delete static_cast<LaceyBanks*>(e); }, err);
    std::rewind(err);
    char buf[4096];
    std::string text;
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, err)) > 0;) text.append(buf, n);
    std::fclose(err);
    if (said) *said = text;
    return status;
}

}  // namespace enginetest
