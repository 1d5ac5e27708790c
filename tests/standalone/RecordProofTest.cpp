// The proof that a recording is the performance: the real program under the
// test's X server plays a script of controller reports (--play) and records
// (--record) while xdotool plays keys, matrix clicks and a Ctrl+S over it
// for more than ten seconds. ALSA's "default" writes every byte the program
// sends into a file on its way to a private PulseAudio null sink, so the
// program runs at the sound card's pace. Then the recording alone is
// rendered, and the render's samples must equal every byte the program
// wrote after the silence it starts with.
#include "LiveProgram.h"
#include "PulseServer.h"
#include "standalone/grax.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using hosttest::LiveProgram;
using hosttest::PulseServer;
using hosttest::slurp;

// Reports every 1024 frames for `seconds`: the axes swing through their
// ranges at different speeds and the voice buttons come and go, so every
// unit sounds and the ratios move. From the fifth second on MIDI joins in
// (a general-purpose knob, the pitch bend, a voice note, key notes), so the
// reports are merged with it from then on.
std::string playedScript(int seconds) {
    std::ostringstream s;
    s << "# axes and buttons for the proof\n";
    for (int f = 0, n = 0; f < seconds * 22050; f += 1024, n++) {
        auto swing = [&](int speed, int phase) { return (n * speed + phase) % 200 - 100; };
        int buttons = (n / 40) % 2 ? 0x05 : 0x50;
        s << f << " report " << swing(3, 0) << " " << swing(5, 50) << " " << swing(7, 20) << " "
          << swing(2, 90) << " " << (n / 30) % 9 - 4 << " 0 0 " << buttons << "\n";
        if (n < 110) continue;
        char midi[64];
        std::snprintf(midi, sizeof midi, "%d midi b%x 12 %02x\n", f, n % 16, (n * 11) % 128);
        s << midi;
        if (n % 4 == 0) {
            std::snprintf(midi, sizeof midi, "%d midi e0 %02x %02x\n", f, (n * 37) % 128, (n * 5) % 128);
            s << midi;
        }
        if (n % 40 == 0) s << f << " midi 90 26 64\n";
        if (n % 40 == 25) s << f << " midi 90 26 00\n";
        if (n % 50 == 10) s << f << " midi 9" << n % 10 << " " << 60 + n % 9 << " 50\n";
    }
    return s.str();
}

// What xdotool plays, as a shell script: 60 keys (three more situations,
// selection, solo, the letter rows), 12 clicks on matrix marks, a Ctrl+S,
// about twelve seconds in all.
std::string player(const std::string& window) {
    std::ostringstream s;
    s << "w=" << window << "\n"
      << "k() { xdotool key --window $w \"$1\"; sleep 0.15; }\n"
      << "c() { xdotool mousemove --window $w $1 $2 click 1; sleep 0.15; }\n"
      << "for x in Return Return Return; do k $x; done\n";
    const char* letters[] = {"q", "a", "z", "w", "s", "x", "e", "d", "c", "r", "f", "v", "t", "g", "b",
                             "y", "h", "n", "u", "j", "m", "i", "k", "o", "l", "p", "bracketleft",
                             "apostrophe", "space", "slash"};
    int clicks = 0;
    for (int round = 0; round < 2; round++) {
        for (int k = 0; k < 30; k++) {
            s << "k " << letters[k] << "\n";
            // Marks sit in the numerator and denominator boxes of each row.
            if (k % 5 == 4) {
                s << "c " << 60 + 37 * clicks << " " << 40 + 29 * clicks << "\n";
                clicks++;
            }
        }
        if (round == 0) s << "xdotool key --window $w ctrl+s; sleep 0.3\n";
    }
    return s.str();
}

TEST(RecordProof, TheRecordingRendersToEveryByteTheProgramWrote) {
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
    PulseServer server;
    if (!server.start()) GTEST_SKIP() << "no PulseAudio server could be started";

    LiveProgram prog("");
    const std::string& home = prog.home;
    // The server is named in the device, not in the environment: with
    // PULSE_SERVER set, ALSA's own configuration finds a running server and
    // puts its plain pulse device over this "default".
    std::ofstream(home + "/.asoundrc") << "pcm.!default {\n"
                                          "    type file\n"
                                          "    slave.pcm { type pulse handle_underrun true server \"unix:"
                                       << server.dir << "/run/pulse/native\" }\n"
                                          "    file \"" << home << "/capture.raw\"\n"
                                          "    format \"raw\"\n"
                                          "}\n";
    unsetenv("PULSE_SERVER");
    std::ofstream(home + "/played.txt") << playedScript(16);
    // The player starts from output.texte and saves over it: the recording
    // must carry the bank as it was at start.
    std::ofstream(home + "/output.texte") << slurp(std::string(QUORVANEL_SOURCE_DIR) + "/patches/fmbells.texte");

    prog.start("", {"--play", "played.txt", "--record", "take.txt", "output.texte"});
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    Window w = hosttest::findWindow(d, dis ? win : 0, 5000);  // not this test program's own
    XCloseDisplay(d);
    ASSERT_NE(w, 0u) << prog.err();
    hosttest::sleepMs(500);
    std::ofstream(home + "/player.sh") << player(std::to_string(w));
    ASSERT_EQ(std::system(("sh " + PulseServer::quote(home + "/player.sh") + " 2>/dev/null").c_str()), 0);
    hosttest::sleepMs(300);
    prog.stop();  // SIGKILL: what acted on sound must already be in the file

    std::string err = prog.err();
    if (err.find("underrun") != std::string::npos) GTEST_SKIP() << "the machine was too busy: " << err;
    const std::string take = slurp(home + "/take.txt");
    const std::string capture = slurp(home + "/capture.raw");
    int keys = 0, clicks = 0, saves = 0, midis = 0;
    std::istringstream lines(take);
    for (std::string line; std::getline(lines, line);) {
        keys += line.find(" key ") != std::string::npos;
        clicks += line.find(" click ") != std::string::npos;
        saves += line.find(" save ") != std::string::npos;
        midis += line.find(" midi ") != std::string::npos;
    }
    EXPECT_GE(keys, 50);
    EXPECT_EQ(clicks, 12);
    EXPECT_EQ(saves, 1);
    EXPECT_GE(midis, 100);  // the played script's MIDI from its fifth second on
    ASSERT_GT(capture.size(), 12u * 22050 * 4) << "less than twelve seconds were captured";

    // The render, in a folder of its own (it saves again where the program saved).
    const std::string out = home + "/render";
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    std::string cmd = "cd " + PulseServer::quote(out) + " && " + PulseServer::quote(std::string(QUORVANEL_BINARY_DIR) +
                      "/quorvanel-render") + " -n 40 ../take.txt take.wav >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string wav = slurp(out + "/take.wav");
    ASSERT_GT(wav.size(), 44u);
    const std::string samples = wav.substr(44);

    // The program starts with silence of its own before the engine's first
    // unit; the first report sounds at once, so where the render begins in
    // the capture is plain.
    size_t start = 0;
    while (start < capture.size() && capture[start] == 0) start++;
    start -= start % 1024;
    ASSERT_GE(start, 1024u);
    ASSERT_LT(start, capture.size());
    const size_t length = capture.size() - start;
    ASSERT_LE(length, samples.size());
    size_t same = 0;
    while (same < length && capture[start + same] == samples[same]) same++;
    EXPECT_EQ(same, length) << "first differing frame " << same / 4 << " of " << length / 4
                            << " (the capture's silence: " << start / 1024 << " units)";
    std::printf("recorded %zu lines, %d keys, %d clicks, %d midi; %zu frames compared\n",
                static_cast<size_t>(std::count(take.begin(), take.end(), '\n')), keys, clicks, midis, length / 4);
}

}  // namespace
