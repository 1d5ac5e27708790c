// The CLAP plugin in a small CLAP host against the LV2 plugin in the lilv
// host: the very same samples for the same random MIDI, whatever the
// blocks, with note ons and offs as MIDI or as CLAP notes; with the VST3
// plugin too, the same samples and tuned notes for the same notes; the
// same latency; the state (the LV2's text, the bank file, the parameters,
// the keys) kept and carried between the formats; nothing allocated in
// process() while the window is open; the window showing the plugin's
// repaint.
#include <gtest/gtest.h>

#include "plugin/Allocations.h"
#include "plugin/ClapHost.h"
#include "plugin/Play.h"
#include "plugin/Vst3Play.h"

#include "plugin/Instrument.h"
#include "plugin/WindowPixels.h"
#include "render/PictureWindow.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <functional>
#include <thread>

namespace {

using namespace plugintest;

std::string textOf(const std::string& state) { return std::string(state.c_str()); }

// A window of the test's on the display, for the plugin's window to go in.
struct Parent {
    Parent() : dis(XOpenDisplay(nullptr)) {
        if (!dis) return;
        win = XCreateSimpleWindow(dis, DefaultRootWindow(dis), 0, 0, 600, 600, 0, 0, 0);
        XMapWindow(dis, win);
        XSync(dis, False);
    }
    ~Parent() {
        if (dis) XCloseDisplay(dis);
    }
    Display* dis;
    ::Window win = 0;
};

TEST(Clap, SamplesEqualTheLv2sWhateverTheBlocks) {
    std::mt19937 rng(5);
    struct Case {
        double rate;
        const char* cut;
        std::function<uint32_t()> next;
        bool notes;
        float pitch = 689.0625f;  // of 1/1: the LV2's port, the CLAP's parameter 5
    } cases[] = {{48000, "1", [] { return 1u; }, false},
                 {48000, "64", [] { return 64u; }, true},
                 {48000, "random", [&] { return 1 + static_cast<uint32_t>(rng() % 8192); }, false},
                 {48000, "random", [&] { return 1 + static_cast<uint32_t>(rng() % 8192); }, true},
                 {44100, "1000", [] { return 1000u; }, true},
                 {48000, "300", [] { return 300u; }, false, 440}};
    for (Case& c : cases) {
        const uint32_t frames = static_cast<uint32_t>(2 * c.rate);
        std::vector<Input> play = randomPlay(static_cast<unsigned>(c.rate) + 1, frames, 400);
        lv2host::Instance lv2(c.rate);
        lv2.pitch = c.pitch;
        Out want = playFixed(lv2, play, frames, 8192);
        double energy = 0;
        for (float v : want.left) energy += v * v;
        ASSERT_GT(energy, 1.0);
        claphost::Instance clap(c.rate, c.notes);
        ASSERT_TRUE(clap.ok());
        play.insert(play.begin(), Input{0, {}, 5, c.pitch});
        Out got = playIn(clap, play, frames, c.next);
        EXPECT_TRUE(got.left == want.left && got.right == want.right)
            << c.rate << " blocks " << c.cut << (c.notes ? ", CLAP notes" : ", MIDI") << ", 1/1 at " << c.pitch;
    }
}

// A scale or mapping file as the state of the CLAP and VST3 plugins
// carries it: its path, then its lines after '|'.
std::string carried(const char* what, const std::string& path) {
    std::string text;
    EXPECT_TRUE(EventScript::readFile(path.c_str(), text));
    return std::string(what) + " " + path + "\n" + EventScript::carriedLines(text);
}

// The same notes through the three formats, keys on as in a new instance,
// the scale and mapping (when given) as the LV2's file parameters and the
// others' state give them, tuned notes both ways: the same samples, and on
// the CLAP's note output and the VST3's event output the same tuned notes
// at the same frames as on the LV2's midi_out.
TEST(Clap, TheSameNotesPlayAlikeAsLv2ClapAndVst3) {
    const std::string data = QUORVANEL_SOURCE_DIR "/tests/plugin/data/";
    const struct {
        double rate;
        float way;  // of the tuned notes: 0 MPE, 1 MTS
        bool clapNotes, scale;
        float pitch;
        uint32_t block;
    } cases[] = {{48000, 0, true, false, 689.0625f, 512},
                 {48000, 1, false, true, 440, 300},
                 {44100, 0, false, true, 689.0625f, 1000},
                 {22050, 1, true, false, 261.63f, 64}};
    for (const auto& c : cases) {
        const uint32_t frames = static_cast<uint32_t>(2 * c.rate);
        // After the first blocks, by when the LV2's worker has read the files.
        std::vector<Input> play = randomNotes(static_cast<unsigned>(c.rate), frames / 20, frames, 300);
        lv2host::Instance lv2(c.rate);
        lv2.pitch = c.pitch;
        lv2.tuning = c.way;
        claphost::Instance clap(c.rate, c.clapNotes);
        clap.keepTuned = true;
        vst3play::Player vst3(c.rate);
        ASSERT_TRUE(clap.ok() && vst3.ok());
        if (c.scale) {
            lv2.send(lv2host::patchSet("scale", data + "just-major.scl"));
            lv2.send(lv2host::patchSet("map", data + "d-linear.kbm"));
            std::string keys = carried("scale", data + "just-major.scl") + carried("map", data + "d-linear.kbm");
            ASSERT_TRUE(clap.load(clap.save() + keys));
            ASSERT_TRUE(vst3.host.load(vst3.host.save() + keys));
        }
        Out want = playFixed(lv2, play, frames, c.block);
        play.insert(play.begin(), {Input{0, {}, 5, c.pitch}, Input{0, {}, 7, c.way}});
        Out fromClap = playFixed(clap, play, frames, c.block), fromVst3 = playFixed(vst3, play, frames, c.block);
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << (c.way ? "MTS" : "MPE") << (c.scale ? ", a scale" : ""));
        EXPECT_TRUE(fromClap.left == want.left && fromClap.right == want.right);
        EXPECT_TRUE(fromVst3.left == want.left && fromVst3.right == want.right);
        EXPECT_GT(lv2.tuned.size(), 150u);
        auto same = [&](const std::vector<lv2host::Instance::Tuned>& got) {
            return std::equal(got.begin(), got.end(), lv2.tuned.begin(), lv2.tuned.end(),
                              [](const auto& a, const auto& b) { return a.frame == b.frame && a.bytes == b.bytes; });
        };
        EXPECT_TRUE(same(clap.tuned)) << clap.tuned.size() << " CLAP messages, " << lv2.tuned.size() << " LV2";
        EXPECT_TRUE(same(vst3.tuned)) << vst3.tuned.size() << " VST3 messages, " << lv2.tuned.size() << " LV2";
    }
}

TEST(Clap, LatencyIsTheLv2s) {
    const struct {
        double rate;
        uint32_t latency;
    } cases[] = {{22050, 255}, {44100, 547}, {48000, 596}, {96000, 1192}};
    for (const auto& c : cases) EXPECT_EQ(claphost::Instance(c.rate).latency(), c.latency) << c.rate;
    // A new pitch of 1/1 moves the latency as the LV2's port shows it: the
    // plugin asks the host once to restart it and read the latency again.
    lv2host::Instance lv2(48000);
    lv2.pitch = 440;
    Out ignore = playFixed(lv2, {}, 512, 512);
    claphost::Instance clap(48000);
    EXPECT_EQ(clap.latency(), 596u);
    ignore = playFixed(clap, {Input{0, {}, 5, 440}}, 1024, 512);
    EXPECT_EQ(clap.restarts, 1);
    EXPECT_EQ(clap.latency(), 934u);
    EXPECT_EQ(lv2.latency, 934);
}

TEST(Clap, StateIsTheLv2sTextTheBankFileAndTheParameters) {
    const std::string bells = QUORVANEL_SOURCE_DIR "/patches/fmbells.texte";
    std::string patch;
    ASSERT_TRUE(EventScript::readFile(bells.c_str(), patch));
    // A bank file alone loads it into the current bank (1 at start).
    claphost::Instance a(48000);
    ASSERT_TRUE(a.load(std::string("\0bank ", 6) + bells + "\n"));
    Out ignore = playFixed(a, {}, 1024, 512);
    EXPECT_NE(textOf(a.save()).find("\nbank 1 0 0\n" + patch), std::string::npos);
    std::vector<Input> some = randomPlay(5, 24000, 100, false);
    some.insert(some.begin(), Input{0, {}, 5, 440});  // the pitch of 1/1
    ignore = playFixed(a, some, 24000, 512);
    std::string saved = a.save();
    EXPECT_EQ(saved.substr(textOf(saved).size()),
              std::string("\0bank ", 6) + bells + "\naxis0 40\naxis1 60\naxis2 0\naxis3 0\nlimit 0\npitch 440\nkeys 1\ntuning_out 0\n");

    // The same text in the LV2 plugin and in another CLAP instance: the
    // same continuation, and the same text again.
    lv2host::Instance lv2(48000);
    ASSERT_EQ(lv2.restore({{std::string(lv2host::kUri) + "#instrument", {LV2_ATOM__String, textOf(saved) + '\0'}},
                           {std::string(lv2host::kUri) + "#keys", {LV2_ATOM__Bool, std::string("\1\0\0\0", 4)}}}),
              LV2_STATE_SUCCESS);
    lv2.pitch = 440;  // an LV2 host keeps the port's value itself
    claphost::Instance b(48000);
    ASSERT_TRUE(b.load(saved));
    EXPECT_EQ(b.value(0), 40);
    EXPECT_EQ(b.value(1), 60);
    EXPECT_EQ(b.value(5), 440);
    std::vector<Input> more = randomPlay(6, 48000, 200, false);
    Out fromLv2 = playFixed(lv2, more, 48000, 100), fromClap = playFixed(b, more, 48000, 300);
    EXPECT_TRUE(fromLv2.left == fromClap.left && fromLv2.right == fromClap.right);
    std::string again = b.save();
    EXPECT_EQ(textOf(again), std::string(lv2.save()[std::string(lv2host::kUri) + "#instrument"].second.c_str()));
    EXPECT_NE(textOf(again), textOf(saved));  // the continuation moved it on

    // An LV2 text alone keeps the bank file and the parameters; a text
    // that is not an instrument is refused.
    claphost::Instance c(48000);
    ASSERT_TRUE(c.load(again));
    ASSERT_TRUE(c.load(textOf(saved)));
    EXPECT_EQ(c.save(), saved);
    EXPECT_FALSE(c.load(std::string("chubby 0\n", 10)));
}

TEST(Clap, ProcessAllocatesNothingWithTheWindowOpen) {
    Parent top;
    if (!top.dis) GTEST_SKIP() << "no display";
    for (double rate : {22050.0, 48000.0}) {
        claphost::Instance inst(rate);
        ASSERT_TRUE(inst.openWindow(top.win));
        EXPECT_EQ(inst.timers, 1);
        std::string saved;
        std::thread saver([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            saved = inst.save();
        });
        std::vector<Input> play = randomPlay(31, 48000, 2000);
        bool loaded = false, tuned = false;
        const std::string data = QUORVANEL_SOURCE_DIR "/tests/plugin/data/";
        long made = countedPlay(inst, play, [&](uint32_t t) {
            inst.tick();  // the window's side: events out, pictures in
            if (t >= 24000 && !loaded)  // a bank file: the bank it replaces is retired
                loaded = inst.load(std::string("\0bank ", 6) + QUORVANEL_SOURCE_DIR "/patches/fmbells.texte\n");
            if (t >= 36000 && !tuned)  // keys on a scale and mapping: the scale they replace is retired
                tuned = inst.load(std::string("\0keys 1\n", 8) + carried("scale", data + "just-major.scl") +
                                  carried("map", data + "d-linear.kbm"));
        });
        EXPECT_TRUE(loaded && tuned);
        saver.join();
        inst.closeWindow();
        EXPECT_EQ(inst.timers, 0);
        EXPECT_EQ(made, 0) << rate;
        EXPECT_GT(inst.callbacks, 0);
        EXPECT_EQ(saved.rfind("quorvanel instrument 1\n", 0), 0u);
    }
    if (!kCounts) GTEST_SKIP() << "AddressSanitizer's allocator is not counted";
}

TEST(Clap, TheWindowShowsThePluginsRepaintAndTakesKeysPressesAndPastedFiles) {
    Parent top;
    if (!top.dis) GTEST_SKIP() << "no display";
    Display* dis = top.dis;
    ::Window parent = top.win;
    claphost::Instance clap(48000);
    ASSERT_TRUE(clap.openWindow(parent));
    // A twin instrument hears what the window says, and draws into memory.
    Instrument twin(48000);
    MemoryCanvas expected;
    twin.pictures().drawOn(&expected);
    twin.windowEvent(0, windowio::Event::Opened, 500, 500);
    auto blocks = [&](int n) {
        for (int k = 0; k < n; k++) {
            clap.tick();
            std::vector<float> l, r;
            clap.block(512, {}, l, r);
            float tl[512], tr[512];
            twin.render(tl, tr, 512);
            while (const PictureSnapshot* s = twin.pictures().outgoing()) twin.pictures().sentMore(s->length);
        }
    };
    ::Window win = 0;
    for (int k = 0; k < 50 && !win; k++) {
        blocks(1);
        ::Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(dis, parent, &root, &up, &children, &count);
        if (count) win = children[0];
        if (children) XFree(children);
    }
    ASSERT_NE(win, 0u);
    auto send = [&](XEvent e) {
        e.xany.window = win;
        e.xany.display = dis;
        XSendEvent(dis, win, False, 0, &e);
        XSync(dis, False);
        blocks(2);
    };
    XEvent key{};
    key.type = KeyPress;
    key.xkey.keycode = XKeysymToKeycode(dis, XK_q);
    send(key);
    twin.windowEvent(0, windowio::Event::Key, 'q', 0);
    XEvent press{};
    press.type = ButtonPress;
    press.xbutton.button = Button1;
    press.xbutton.x = 66;  // voice 0's own FM cell, once the marks show
    press.xbutton.y = 246;
    send(press);
    twin.windowEvent(0, windowio::Event::Click, 66, 246);
    blocks(3);
    EXPECT_EQ(expected.at(66, 246), 0xf50000u);
    MemoryCanvas want = expected;
    PictureWindow::caption(want);
    long diff = -1;
    for (int k = 0; k < 40 && diff != 0; k++) {
        blocks(1);
        diff = plugintest::windowDifferences(dis, win, want, 1, 25);
    }
    EXPECT_EQ(diff, 0);
    // Ctrl+V pastes the file a file manager copied (a URI list on the
    // clipboard, which this test's window holds): a scale, a mapping and a
    // bank file, each by its name's ending; the state then carries them.
    const std::string data = QUORVANEL_SOURCE_DIR "/tests/plugin/data/", bells = QUORVANEL_SOURCE_DIR "/patches/fmbells.texte";
    Atom clipboard = XInternAtom(dis, "CLIPBOARD", False), uris = XInternAtom(dis, "text/uri-list", False);
    for (const std::string& file : {data + "just-major.scl", data + "d-linear.kbm", bells}) {
        std::string list = "file://" + file + "\r\n";
        XSetSelectionOwner(dis, clipboard, parent, CurrentTime);
        XEvent paste{};
        paste.type = KeyPress;
        paste.xkey.keycode = XKeysymToKeycode(dis, XK_v);
        paste.xkey.state = ControlMask;
        send(paste);
        for (int k = 0; k < 20; k++, blocks(1))
            for (XEvent e; XPending(dis);) {
                XNextEvent(dis, &e);
                if (e.type != SelectionRequest) continue;
                const XSelectionRequestEvent& r = e.xselectionrequest;
                XEvent answer{};
                answer.xselection = {SelectionNotify, 0, True, dis, r.requestor, r.selection, r.target, r.target == uris ? r.property : None, r.time};
                XChangeProperty(dis, r.requestor, r.property, uris, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(list.data()),
                                static_cast<int>(list.size()));
                XSendEvent(dis, r.requestor, False, 0, &answer);
                XFlush(dis);
            }
    }
    std::string state = clap.save();
    state.erase(0, std::strlen(state.c_str()));
    EXPECT_EQ(state.rfind(std::string("\0bank ", 6) + bells + "\n", 0), 0u);
    EXPECT_NE(state.find(carried("scale", data + "just-major.scl") + carried("map", data + "d-linear.kbm")), std::string::npos);
    clap.closeWindow();
}

}  // namespace
