// The plugin's window against the plugin's repaints. The test hosts the
// plugin's and the window's shared objects (the window under Xvfb, in a
// parent window of the test's) and passes their messages through a small
// notify buffer, so large pictures come in parts. Every window message
// also goes to a twin instrument in this process whose repaints draw into
// memory: the window must show, pixel for pixel, the twin's last repaint
// with the caption.
#include <gtest/gtest.h>

#include "plugin/Host.h"

#include <dlfcn.h>
#include <lv2/patch/patch.h>
#include <lv2/ui/ui.h>

#include "plugin/Instrument.h"
#include "render/PictureWindow.h"
#include "plugin/WindowPixels.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using lv2host::Instance;
using lv2host::World;

// 15 situations, every ratio 251/241, prime limit 251, every matrix cell set.
std::string extremePatch() {
    std::string t;
    for (int s = 0; s < 15; s++) {
        t += "chubby " + std::to_string(s) + "\n barre\n  queenal 0 3\n chinkwonkanater\n  inhibit 1\n  primelm 251\n"
             "  stritton 0\n  strittle 128\n sponginger\n";
        for (int v = 0; v < 4; v++) t += "  rat " + std::to_string(v) + " = 251 / 241\n";
        t += "  bitshift 8\n  gingzgongz 0\n  quiznoquantan 0\n royalminister\n  inhibit 0\n";
        for (int v = 0; v < 4; v++)
            t += "  kingals " + std::to_string(v) + " = 1 -1 1 -1\n  queenals " + std::to_string(v) + " = -1 1 -1 1\n";
        t += " royalfmoutarde\n  inhibit 0\n";
        for (int v = 0; v < 4; v++)
            t += "  numals " + std::to_string(v) + " = 1 -1 1 -1\n  denals " + std::to_string(v) + " = -1 1 -1 1\n";
        t += "  bitshift 0\n";
    }
    return t;
}

class Rig {
public:
    static constexpr uint32_t kBlock = 512;

    Rig() : twin(48000) {
        uris.map(&World::get().mapFeature);
        twin.pictures().drawOn(&expected);
        dsp.notifyRoom = 4096;
        dis = XOpenDisplay(nullptr);
        parent = XCreateSimpleWindow(dis, DefaultRootWindow(dis), 0, 0, 1024, 768, 0, 0, 0);
        XMapWindow(dis, parent);
        XSync(dis, False);
        lib = dlopen((std::string(QUORVANEL_BINARY_DIR) + "/lv2/quorvanel.lv2/quorvanel_ui.so").c_str(), RTLD_NOW);
        auto get = reinterpret_cast<LV2UI_DescriptorFunction>(lib ? dlsym(lib, "lv2ui_descriptor") : nullptr);
        ui = get ? get(0) : nullptr;
        idle = ui ? static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface)) : nullptr;
    }
    ~Rig() {
        close();
        XCloseDisplay(dis);
    }

    void open() {
        LV2_Feature map{LV2_URID__map, &World::get().mapFeature};
        LV2_Feature inside{LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(parent))};
        const LV2_Feature* features[] = {&map, &inside, nullptr};
        LV2UI_Widget widget = nullptr;
        handle = ui->instantiate(ui, lv2host::kUri, "", write, this, &widget, features);
        win = static_cast<::Window>(reinterpret_cast<uintptr_t>(widget));
    }
    void close() {
        if (handle) ui->cleanup(handle);
        handle = nullptr;
    }

    // Loads a patch text into both instruments' current bank.
    void load(const std::string& text) {
        std::string path = std::string(QUORVANEL_BINARY_DIR) + "/window-test.texte";
        FILE* f = std::fopen(path.c_str(), "w");
        std::fputs(text.c_str(), f);
        std::fclose(f);
        alignas(8) uint8_t room[8192];
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &World::get().mapFeature);
        lv2_atom_forge_set_buffer(&forge, room, sizeof room);
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_object(&forge, &frame, 0, World::get().map(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, World::get().map(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, World::get().map((std::string(lv2host::kUri) + "#bank").c_str()));
        lv2_atom_forge_key(&forge, World::get().map(LV2_PATCH__value));
        lv2_atom_forge_path(&forge, path.c_str(), static_cast<uint32_t>(path.size()));
        lv2_atom_forge_pop(&forge, &frame);
        dsp.sendAtom(reinterpret_cast<const LV2_Atom*>(room));
        blocks(1);
        std::string why;
        twin.offerBank(twin.readBank(path.c_str(), why));
    }

    // `n` blocks, the window's idle call before each.
    void blocks(int n) {
        for (int k = 0; k < n; k++) {
            if (handle) idle->idle(handle);
            for (int c = 0; c < 5; c++) {
                dsp.controls[c] = controls[c];
                twin.portValue(c, controls[c]);
            }
            dsp.prepare(kBlock, {});
            dsp.run(kBlock);
            dsp.runWorker();
            float l[kBlock], r[kBlock];
            twin.render(l, r, kBlock);
            while (const PictureSnapshot* s = twin.pictures().outgoing()) twin.pictures().sentMore(s->length);
            const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(dsp.notify.data());
            LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
                windowio::PicturePart part;
                if (windowio::readPicture(reinterpret_cast<const LV2_Atom_Object*>(&ev->body), uris, part)) {
                    if (part.header[windowio::kOffset] == 0) bytes = parts = 0;
                    bytes += sizeof(LV2_Atom_Event) + ev->body.size;
                    parts++;
                    if (part.header[windowio::kOffset] + static_cast<int32_t>(part.textBytes) ==
                        part.header[windowio::kLength])
                        picture = {bytes, parts};
                }
                if (handle)
                    ui->port_event(handle, 1, sizeof(LV2_Atom) + ev->body.size, uris.eventTransfer, &ev->body);
            }
        }
    }

    // Pixels of the window that differ from the twin's last repaint and
    // the caption, after letting the window catch up.
    long differences(int attempts = 40) {
        MemoryCanvas want = expected;
        PictureWindow::caption(want);
        return plugintest::windowDifferences(dis, win, want, attempts, 25);
    }

    // While sticks move the plugin repaints every 16 units, and a picture
    // takes blocks to come: true when within `n` blocks the window shows
    // the twin's last repaint.
    bool catchesUp(int n) {
        for (int k = 0; k < n; k++) {
            blocks(1);
            if (differences(2) == 0) return true;
        }
        return false;
    }

    void send(XEvent e) {
        e.xany.window = win;
        e.xany.display = dis;
        XSendEvent(dis, win, False, 0, &e);
        XSync(dis, False);
    }
    void key(KeySym k) {
        XEvent e{};
        e.type = KeyPress;
        e.xkey.keycode = XKeysymToKeycode(dis, k);
        send(e);
    }
    void click(int x, int y) {
        XEvent e{};
        e.type = ButtonPress;
        e.xbutton.button = Button1;
        e.xbutton.x = x;
        e.xbutton.y = y;
        send(e);
    }

    Instance dsp{48000};
    Instrument twin;
    MemoryCanvas expected;
    windowio::Uris uris{};
    Display* dis = nullptr;
    ::Window parent = 0, win = 0;
    const LV2UI_Descriptor* ui = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    LV2UI_Handle handle = nullptr;
    void* lib = nullptr;
    float controls[5] = {};
    uint64_t bytes = 0, parts = 0;                      // the messages of the picture coming
    std::pair<uint64_t, uint64_t> picture{0, 0};  // those of the last whole one

private:
    static void write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
        Rig* rig = static_cast<Rig*>(c);
        const auto* atom = static_cast<const LV2_Atom*>(buffer);
        ASSERT_EQ(port, 0u);
        ASSERT_EQ(format, rig->uris.eventTransfer);
        ASSERT_EQ(size, sizeof(LV2_Atom) + atom->size);
        rig->dsp.sendAtom(atom);
        const auto* o = reinterpret_cast<const LV2_Atom_Object*>(atom);
        int32_t x = 0, y = 0;
        windowio::eventPoint(o, rig->uris, x, y);
        rig->twin.windowEvent(0, rig->uris.eventOf(o), x, y);
    }
};

TEST(Window, ShowsThePluginsRepaintAtTwoSizes) {
    std::string fullbank;
    ASSERT_TRUE(EventScript::readFile(QUORVANEL_SOURCE_DIR "/patches/fullbank.texte", fullbank));
    // Moved sticks colour the voice boxes and turn the prime-limit stars.
    // Tab shows the ratios as numbers, in the window as in the twin.
    const struct {
        const char* name;
        std::string patch;
        float sticks[5];
        bool readout;
    } cases[] = {{"fresh", "", {}, false},
                 {"fullbank", fullbank, {}, false},
                 {"extreme", extremePatch(), {}, false},
                 {"extreme, ratios as numbers", extremePatch(), {}, true},
                 {"fullbank, sticks moved", fullbank, {100, -3, 0, -128, 77}, false}};
    for (const auto& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.ui && rig.idle) << dlerror();
        if (!c.patch.empty()) rig.load(c.patch);
        std::copy(c.sticks, c.sticks + 5, rig.controls);
        rig.open();
        if (c.readout) rig.key(XK_Tab);
        EXPECT_TRUE(rig.catchesUp(40)) << c.name << " 500 x 500";
        EXPECT_EQ(rig.expected.getWidth(), 500u);
        if (c.readout) {
            EXPECT_EQ(rig.expected.at(9, 13), 0u) << "the readout's backing, row 1, voice 0";
        }
        std::fprintf(stderr, "%s: a picture is %llu bytes in %llu messages\n", c.name,
                     static_cast<unsigned long long>(rig.picture.first),
                     static_cast<unsigned long long>(rig.picture.second));
        XResizeWindow(rig.dis, rig.win, 732, 412);
        XSync(rig.dis, False);
        EXPECT_TRUE(rig.catchesUp(40)) << c.name << " 732 x 412";
        EXPECT_EQ(rig.expected.getWidth(), 732u);
    }
}

TEST(Window, KeyAndPressReachThePluginAndShowAndOpeningAgainShowsThemAtOnce) {
    Rig rig;
    ASSERT_TRUE(rig.ui && rig.idle);
    rig.open();
    rig.blocks(2);
    rig.key(XK_q);  // the FM marks appear at the repaint after the key
    rig.blocks(2);
    rig.click(66, 246);  // 4 in and 4 up from voice 0's numerator box corner: its own FM cell
    rig.blocks(3);
    EXPECT_EQ(rig.expected.at(66, 246), 0xf50000u);  // voice 0's colour, the band 9 wide at depth 0
    EXPECT_EQ(rig.differences(), 0);
    rig.key(XK_Return);  // a second situation, selected, solo off: the picture keeps the two apart
    rig.key(XK_space);
    rig.blocks(2);
    EXPECT_EQ(rig.differences(), 0);
    rig.close();
    rig.blocks(2);
    rig.open();
    rig.blocks(1);
    EXPECT_EQ(rig.differences(), 0);
}

}  // namespace
