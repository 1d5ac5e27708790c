// The quorvanel-render program as a user runs it: real exit statuses, the
// message on standard error, and the WAV on a pipe. Skipped when the
// program has not been built next to this test (building only test_engine).
#include <gtest/gtest.h>

#include "plugin/Pitch.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kProgram = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel-render";
const std::string kSource = QUORVANEL_SOURCE_DIR;

bool built() {
    struct stat st;
    return stat(kProgram.c_str(), &st) == 0;
}

// Runs a shell command; its exit status, and its standard output in `out`.
int shell(const std::string& command, std::string* out = nullptr) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string tempPath(const char* stem) {
    char name[] = "/tmp/quorvanel-render-program-XXXXXX";
    int fd = mkstemp(name);
    ::close(fd);
    std::remove(name);
    return std::string(name) + stem;
}

TEST(RenderProgram, ScriptErrorExitsTwoNamingTheLine) {
    if (!built()) GTEST_SKIP() << kProgram << " not built";
    std::string script = tempPath(".txt");
    std::string wav = tempPath(".wav");
    FILE* f = std::fopen(script.c_str(), "w");
    std::fputs("0 report 0 0 0 0 0 0 0 0\n100 key\n", f);
    std::fclose(f);
    std::string err;
    EXPECT_EQ(shell(kProgram + " " + script + " " + wav + " 2>&1", &err), 2);
    EXPECT_NE(err.find(script + ": line 2: key takes one key"), std::string::npos) << err;
    struct stat st;
    EXPECT_NE(stat(wav.c_str(), &st), 0);  // nothing written
    std::remove(script.c_str());
}

TEST(RenderProgram, WavOnAPipeEqualsTheFile) {
    if (!built()) GTEST_SKIP() << kProgram << " not built";
    std::string script = kSource + "/scripts/square.txt";
    std::string wav = tempPath(".wav");
    std::string piped, fromFile;
    ASSERT_EQ(shell(kProgram + " -n 0.5 " + script + " -", &piped), 0);
    ASSERT_EQ(shell(kProgram + " -n 0.5 " + script + " " + wav + " && cat " + wav, &fromFile), 0);
    EXPECT_EQ(piped.size(), 44u + 4 * 11025);
    EXPECT_EQ(piped, fromFile);
    std::remove(wav.c_str());
}

// --pitch changes the header's rate alone: 1/1 (voice 0 of square.txt)
// at 440 Hz is 14080 frames a second, exactly, and measures 440 Hz.
TEST(RenderProgram, PitchWritesTheRateThatSoundsOneOneThere) {
    if (!built()) GTEST_SKIP() << kProgram << " not built";
    std::string script = kSource + "/scripts/square.txt";
    std::string plain, tuned;
    ASSERT_EQ(shell(kProgram + " " + script + " -", &plain), 0);
    ASSERT_EQ(shell(kProgram + " --pitch 440 " + script + " -", &tuned), 0);
    ASSERT_EQ(tuned.size(), plain.size());
    EXPECT_EQ(tuned.substr(44), plain.substr(44));
    uint32_t rate = 0, bytes = 0;
    std::memcpy(&rate, tuned.data() + 24, 4);
    std::memcpy(&bytes, tuned.data() + 28, 4);
    EXPECT_EQ(rate, 14080u);
    EXPECT_EQ(bytes, 4 * 14080u);
    std::vector<float> left(18432);
    for (size_t t = 0; t < left.size(); t++) {
        int16_t v;
        std::memcpy(&v, tuned.data() + 44 + 4 * (2048 + t), 2);
        left[t] = v;
    }
    EXPECT_NEAR(hosts::crossingHz(left, rate), 440.0, 440 * (std::exp2(0.1 / 1200) - 1));
}

TEST(RenderProgram, CheckSaysWhatLoadingWouldChange) {
    if (!built()) GTEST_SKIP() << kProgram << " not built";
    std::string bad = tempPath(".texte"), script = tempPath(".txt");
    FILE* f = std::fopen(bad.c_str(), "w");
    std::fputs("# a hand-made patch\nchubby 0\n sponginger\n\trat 0 = 1 / 300\n", f);
    std::fclose(f);
    f = std::fopen(script.c_str(), "w");
    std::fputs("0 key a\n", f);
    std::fclose(f);
    const struct {
        std::string args;
        int status;
        std::string says;  // on standard error
    } cases[] = {
        {"--check " + kSource + "/patches/wander.texte", 0, ""},
        {"--check " + bad, 1, bad + ":4: rat: denominator 300 is outside 1..255; loaded as 44 (less a multiple of 256)\n"},
        {"--check " + script, 2,
         "quorvanel-render: " + script + ": not a patch file: line 1 begins with '0', not a situation block (\"chubby\")\n"},
        {"--check /dev/zero", 2, "quorvanel-render: cannot read patch /dev/zero: not a regular file"},
        {"--check " + bad + " " + script + " out.wav", 2, "--check takes one PATCH and nothing else"},
        {"--pitch 30 " + script + " -", 2, "--pitch 30: not a frequency of 31.25..12000 Hz"},
    };
    for (const auto& c : cases) {
        std::string err;
        EXPECT_EQ(shell("timeout 5 " + kProgram + " " + c.args + " 2>&1 >/dev/null", &err), c.status) << c.args;
        if (c.says.empty()) EXPECT_EQ(err, "") << c.args;
        else EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
    }
    std::remove(bad.c_str());
    std::remove(script.c_str());
}

}  // namespace
