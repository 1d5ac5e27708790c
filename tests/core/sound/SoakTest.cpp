// A long run of one situation's five components, wired and driven in the
// situation's order, with random reports, keys, copies and patch files full
// of extreme values. Its point is the sanitizer build: no shift out of
// range, no division fault, no stray index, whatever arrives. Along the
// way it checks the bound that holds for square-wave voices.
#include "SoundRig.h"

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

struct Situation {
    std::unique_ptr<Barre> barre;
    std::unique_ptr<Chinkwonkanater> chink;
    std::unique_ptr<SponGinger> ginger;
    std::unique_ptr<RoyalMinister> rm;
    std::unique_ptr<RoyalFMoutarde> rfm;

    Situation() {
        PerspexStabile* s = soundtest::store();
        barre = std::make_unique<Barre>();
        chink = std::make_unique<Chinkwonkanater>(s, barre.get());
        ginger = std::make_unique<SponGinger>(chink.get(), barre.get(), s);
        rm = std::make_unique<RoyalMinister>(chink.get(), ginger.get(), barre.get());
        rfm = std::make_unique<RoyalFMoutarde>(ginger.get(), barre.get(), rm.get());
    }
    explicit Situation(Situation& src) {
        PerspexStabile* s = soundtest::store();
        barre = std::make_unique<Barre>(src.barre.get());
        chink = std::make_unique<Chinkwonkanater>(src.chink.get(), s, barre.get());
        ginger = std::make_unique<SponGinger>(src.ginger.get(), chink.get(), barre.get(), s);
        rm = std::make_unique<RoyalMinister>(src.rm.get(), chink.get(), ginger.get(), barre.get());
        rfm = std::make_unique<RoyalFMoutarde>(src.rfm.get(), ginger.get(), barre.get(), rm.get());
    }
    ~Situation() {
        rfm.reset();
        rm.reset();
        ginger.reset();
        chink.reset();
        barre.reset();
    }

    void chubspon(signed char* report) {
        barre->but(static_cast<unsigned char>(report[7]));
        if (barre->getQueenFlag())
            for (int i = 0; i < 4; i++) ginger->durszen(i);
        chink->chink(report[4]);
        rfm->bbarr(report);
        rm->modulate(report);
    }

    void key(char k) {
        for (int i = 0; i < 4; i++) ginger->durszen(i);
        static const char fm[] = "wertyuiop";
        static const char asdf[] = "sdfghjkl;";
        static const char strittle[] = "xcvbnm,.";
        if (const char* p = strchr(fm, k)) rfm->setBitshift(static_cast<int>(p - fm));
        else if (const char* q = strchr(asdf, k)) ginger->changeAsdfghon(static_cast<int>(q - asdf));
        else if (const char* x = strchr(strittle, k)) chink->changeStrittle(static_cast<int>(x - strittle) + 1);
        else if (k == 'q') rfm->charactros();
        else if (k == 'a') rm->charactros();
        else if (k == '[') ginger->ginggong();
        else if (k == '\'') ginger->quixnoquantl();
        else if (k == 'z') chink->inh();
    }

    // Reads the sections the way the situation's reader chains them.
    void load(const std::string& text) {
        PatchWords words;
        words.open(text.data(), text.size());
        const char* w = words.next();
        if (PatchWords::is(w, "barre", 5)) w = barre->textum(words);
        if (PatchWords::is(w, "chink", 5)) w = chink->textum(words);
        if (PatchWords::is(w, "spong", 5)) w = ginger->textum(words);
        if (PatchWords::is(w, "royalmi", 7)) w = rm->textum(words);
        if (PatchWords::is(w, "royalfm", 7)) w = rfm->textum(words);
    }
};

struct Extremes {
    std::mt19937 rng{777};
    int any() {
        static const int edge[] = {0, 1, -1, 2, 3, 8, 9, 10, -10, -11, 21, 22, 31, 32, 33, 127, -128,
                                   255, 256, 1 << 20, -(1 << 20), INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1};
        return rng() % 4 == 0 ? static_cast<int>(rng()) : edge[rng() % (sizeof edge / sizeof edge[0])];
    }
    int small() { return static_cast<int>(rng() % 5) - 2; }

    std::string patch() {
        std::string t;
        auto add = [&t](const std::string& s) { t += s; };
        auto n = [](int v) { return std::to_string(v); };
        add(" barre\n");
        add(rng() % 2 ? "  kingal " + n(any()) + "\n" : "  queenal " + n(any()) + " " + n(any()) + "\n");
        add(" chinkwonkanater\n  inhibit " + n(any()) + "\n  primelm " + n(any()) + "\n  stritton " + n(any()) +
            "\n  strittle " + n(any()) + "\n");
        add(" sponginger\n");
        for (int v = 0; v < 4; v++) add("  rat " + n(v) + " = " + n(any()) + " / " + n(any()) + "\n");
        add("  bitshift " + n(any()) + "\n  gingzgongz " + n(any()) + "\n  quiznoquantan " + n(any()) + "\n");
        // Huge queenals weights walk the whole chain on every report; they
        // come now and then, small weights the rest of the time.
        bool wild = rng() % 4 == 0;
        add(" royalminister\n  inhibit " + n(rng() % 3 ? 0 : any()) + "\n");
        for (int r = 0; r < 4; r++) {
            add("  kingals " + n(r) + " = ");
            for (int c = 0; c < 4; c++) add(n(any()) + " ");
            add("\n  queenals " + n(r) + " = ");
            for (int c = 0; c < 4; c++) add(n(wild ? any() : small()) + " ");
            add("\n");
        }
        add(" royalfmoutarde\n  inhibit " + n(rng() % 3 ? 0 : any()) + "\n");
        for (int r = 0; r < 4; r++) {
            add("  numals " + n(r) + " = ");
            for (int c = 0; c < 4; c++) add(n(any()) + " ");
            add("\n  denals " + n(r) + " = ");
            for (int c = 0; c < 4; c++) add(n(any()) + " ");
            add("\n");
        }
        add("  bitshift " + n(any()) + "\n");
        // Now and then a file cut short anywhere.
        if (rng() % 5 == 0) t.resize(rng() % (t.size() + 1));
        return t;
    }
};

}  // namespace

TEST(Soak, MillionFramesOfRandomPlayAndExtremeFiles) {
    Extremes x;
    std::mt19937& rng = x.rng;
    auto sit = std::make_unique<Situation>();
    const char keys[] = "qwertyuiopasdfghjkl;xcvbnm,.z['";
    long long frames = 0;
    long long squareFrames = 0;
    for (int period = 0; frames < 1000000; period++) {
        signed char report[8];
        for (signed char& b : report) b = static_cast<signed char>(rng());
        if (rng() % 4) report[7] = 0;  // buttons mostly released
        sit->chubspon(report);
        if (rng() % 6 == 0) sit->key(keys[rng() % (sizeof keys - 1)]);
        if (rng() % 97 == 0) sit->load(x.patch());
        if (rng() % 211 == 0) sit = std::make_unique<Situation>(*sit);
        if (rng() % 53 == 0) {
            // Extreme settings straight through the setters as well.
            sit->rfm->setBitshift(x.any());
            sit->rfm->setNumal(rng() % 4, rng() % 4, x.any());
            sit->rfm->setDenal(rng() % 4, rng() % 4, x.any());
            sit->rm->kingals[rng() % 4][rng() % 4] = x.any();
        }
        // The host's period; now and then a short or odd one.
        int length = rng() % 50 == 0 ? static_cast<int>(rng() % 300) - 20 : 256;
        for (int f = 0; f < 256; f++, frames++) {
            int* out = sit->rfm->gingModulate(f, length);
            if (sit->ginger->gingzgongz == 0 && length == 256) {
                // Square waves over a whole period: ±1024 per voice, at most
                // two voices at a level of at most 509 (focus mode), or four at 125.
                squareFrames++;
                for (int v = 0; v < 4; v++) ASSERT_EQ(std::abs(sit->rfm->voiceOut[v]), 1024);
                ASSERT_LE(std::abs(static_cast<long long>(out[0])), 2 * 509 * 1024);
                ASSERT_LE(std::abs(static_cast<long long>(out[1])), 2 * 509 * 1024);
            }
        }
        sit->rfm->beging();
    }
    EXPECT_GE(frames, 1000000);
    EXPECT_GT(squareFrames, 0);
}
