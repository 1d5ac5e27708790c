// The quorvanel-render program as a user runs it: real exit statuses, the
// message on standard error, and the WAV on a pipe. Skipped when the
// program has not been built next to this test (building only test_engine).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace
