// A bank's frame is compiled twice (for every x86-64, and for machines with
// AVX2), and the loader picks one. Whichever runs here must give the same
// numbers as the situations' own frames, which are compiled once for every
// machine: two identical banks hear the same reports, one through its
// frame, the other summed situation by situation, and must agree on every
// frame. Buttons are left alone so that king and queen held in the patch
// stay as loaded.
#include "EngineKit.h"

#include <random>
#include <string>

namespace {

using enginetest::Report;
using enginetest::TempDir;

const std::string kSource = QUORVANEL_SOURCE_DIR;

void loadText(MultiplexPotentiator& bank, const std::string& text) {
    TempDir dir;
    enginetest::spit(dir / "bank.texte", text);
    std::string path = dir / "bank.texte";
    bank.textorium_script(path.data());
}

// Plays `periods` periods of random axes and the given depth byte to both
// banks; returns how many frames were compared.
long compare(const std::string& patch, int periods, unsigned seed) {
    MultiplexPotentiator dispatched(enginetest::stabile()), plain(enginetest::stabile());
    loadText(dispatched, patch);
    loadText(plain, patch);
    EXPECT_EQ(dispatched.chubamt(), plain.chubamt());
    std::mt19937 rng(seed);
    long frames = 0;
    for (int p = 0; p < periods; p++) {
        Report r(static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                 static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), 0);
        dispatched.chubness(Report::handle(), r.chub());
        plain.chubness(Report::handle(), r.chub());
        for (int f = 0; f < 256; f++) {
            int* got = dispatched.gingness(f, 256);
            long long left = 0, right = 0;
            for (int k = 0; k < plain.chubamt(); k++) {
                int* pair = plain.getSituation(k)->ging(f, 256);
                left += pair[0];
                right += pair[1];
            }
            // The bank's sums wrap as ints; so do these, once cut to 32 bits.
            if (got[0] != static_cast<int>(left) || got[1] != static_cast<int>(right)) {
                ADD_FAILURE() << "period " << p << " frame " << f;
                return frames;
            }
            frames++;
        }
        dispatched.beging();
        plain.beging();
    }
    return frames;
}

}  // namespace

TEST(BankFrame, DispatchedFrameMatchesTheSituationsFrames) {
    // Every kind of situation the save format can hold, kings and queens
    // included, and the full-load bank with all cells set.
    std::string varied;
    for (int i = 0; i < 15; i++) varied += enginetest::fullBlock(i);
    EXPECT_EQ(compare(varied, 60, 11), 60 * 256);
    EXPECT_EQ(compare(enginetest::slurp(kSource + "/patches/fullbank.texte"), 60, 12), 60 * 256);
}
