// The plugin window's picture: a bank of its own, rebuilt from each
// picture the plugin sends (see PictureSnapshot) on a lattice store of its
// own, and painted by the same core code that laid out the plugin's
// repaint, so it draws the same fills and lines. Parts of a picture are
// put together by their offsets; a part that does not continue the
// picture being put together is dropped until a new picture starts, and so
// is one the plugin could not have sent (a side outside 1..32767, a text
// longer than a picture holds). Sizes: window pixels.
#pragma once

#include "engine/MultiplexPotentiator.h"
#include "engine/RatioReadout.h"
#include "lattice/PerspexStabile.h"
#include "plugin/PictureSnapshot.h"
#include "plugin/PluginWindow.h"
#include "plugin/WindowMessages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PictureView {
public:
    PictureView() : stabile(std::make_unique<PerspexStabile>()) {}

    // One part of a picture; true when it completed one (now shown).
    bool receive(const windowio::PicturePart& part) {
        const int32_t* h = part.header;
        if (h[windowio::kLength] < 0 || h[windowio::kOffset] < 0 ||
            static_cast<size_t>(h[windowio::kLength]) >= PictureSnapshot::kTextRoom || !side(h[windowio::kWidth]) ||
            !side(h[windowio::kHeight]))
            return false;
        size_t offset = static_cast<size_t>(h[windowio::kOffset]);
        size_t length = static_cast<size_t>(h[windowio::kLength]);
        if (offset == 0) {
            text.clear();
            seq = h[windowio::kSeq];
            building = true;
        }
        if (!building || h[windowio::kSeq] != seq || offset != text.size() || offset + part.textBytes > length) {
            building = false;
            return false;
        }
        text.append(part.text, part.textBytes);
        if (text.size() < length) return false;
        building = false;
        show(h, part.levels, part.levelBytes);
        return true;
    }

    // A whole picture at once (the plugin's snapshot, in tests and tools).
    void show(const PictureSnapshot& s) {
        text.assign(s.text.data(), s.length);
        show(s.header, s.levels, s.levelBytes());
    }

    bool shown() const { return bank != nullptr; }
    uint32_t width() const { return static_cast<uint32_t>(header[windowio::kWidth]); }
    uint32_t height() const { return static_cast<uint32_t>(header[windowio::kHeight]); }
    int32_t sequence() const { return header[windowio::kSeq]; }

    // Paints the picture at the size its repaint had, with the ratios as
    // numbers when the repaint showed them.
    void draw(Canvas* canvas) {
        if (bank) RatioReadout::paint(*bank, _CHDC{0, width(), height(), canvas}, header[windowio::kReadout] != 0);
    }

private:
    static bool side(int32_t pixels) { return pixels >= 1 && pixels <= static_cast<int32_t>(PluginWindow::kLargest); }

    void show(const int32_t* h, const unsigned char* levels, uint32_t levelBytes) {
        for (int k = 0; k < windowio::kHeaderInts; k++) header[k] = h[k];
        if (!bank) bank = std::make_unique<MultiplexPotentiator>(stabile.get());
        bank->load(std::vector<char>(text.begin(), text.end()), MultiplexPotentiator::kSlots);
        bank->choose(header[windowio::kSelected], header[windowio::kSolo]);
        const int n = PictureSnapshot::kLevels;
        for (int s = 0; s < bank->chubamt() && (s + 1) * n <= static_cast<int>(levelBytes); s++) {
            ChubberySituation* situation = bank->getSituation(s);
            const unsigned char* l = levels + s * n;
            for (int v = 0; v < 4; v++) situation->getGinger()->axisLevel[v] = l[v];
            situation->getChink()->seeAxis(static_cast<signed char>(l[4] - 128));
        }
    }

    std::unique_ptr<PerspexStabile> stabile;
    std::unique_ptr<MultiplexPotentiator> bank;
    int32_t header[windowio::kHeaderInts] = {};
    std::string text;
    int32_t seq = 0;
    bool building = false;
};
