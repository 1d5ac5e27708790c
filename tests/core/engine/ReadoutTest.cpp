// The ratios as numbers: after the Tab key every repaint draws each voice's
// "n/d" and cents where the layout puts them, read back here from the
// memory canvas glyph by glyph.
#include "EngineKit.h"

#include "engine/MemoryCanvas.h"
#include "engine/RatioReadout.h"

#include <string>
#include <utility>
#include <vector>

namespace {

// The text drawn at scale 1 right-aligned to x, its glyphs' top row at y,
// read cell by cell leftwards until a cell matches no glyph or the window
// ends.
std::string readText(const MemoryCanvas& m, int x, int y) {
    std::string out;
    if (y < 0) return out;
    for (int cell = x - RatioReadout::kGlyphW; cell >= 0; cell -= RatioReadout::kAdvance) {
        char found = 0;
        for (char ch : std::string("0123456789/+-c")) {
            const char* const* g = RatioReadout::glyph(ch);
            bool same = true;
            for (int p = 0; p < RatioReadout::kGlyphW * RatioReadout::kGlyphH && same; p++)
                same = (m.at(cell + p % 5, y + p / 5) == RatioReadout::kInk) == (g[p / 5][p % 5] == '#');
            if (same) found = ch;
        }
        if (!found) return out;
        out.insert(out.begin(), found);
    }
    return out;
}

// Voice v's two lines in drawing row `row` of a repaint `width` wide whose
// rows are `rowh` high: right of them the anchor, below them the row line.
std::string shown(const MemoryCanvas& m, int row, int v, int rowh, int width) {
    int x = width / 8 + width / 4 * v - RatioReadout::kClear - RatioReadout::kPad;
    int top = rowh * row - RatioReadout::blockHeight(1);
    return readText(m, x, top) + " " + readText(m, x, top + RatioReadout::kGlyphH + RatioReadout::kPad);
}

TEST(Readout, TabShowsEachVoicesRatioAndCentsWhereItsBoxesAre) {
    std::string fifteen;
    for (int i = 0; i < 15; i++)
        fifteen += "chubby 0\n sponginger\n  rat 0 = 251 / 241\n  rat 1 = 3 / 2\n  rat 2 = 5 / 4\n  rat 3 = 1 / 255\n";
    const std::vector<std::string> extremes = {"251/241 +70c", "3/2 +702c", "5/4 +386c", "1/255 -9593c"};
    struct Case {
        const char* name;
        std::string bank1, bank2;  // bank 2 in play too when given
        int rowh;
        std::vector<std::pair<int, std::vector<std::string>>> repaints;  // a drawing row: voices 0.. (" ": left out)
        unsigned width = 500, height = 500;
    } cases[] = {
        {"fresh", "", "", 250, {{1, {"1/1 0c", "2/2 0c", "3/3 0c", "4/4 0c"}}}},
        {"15 situations", fifteen, "", 31, {{1, extremes}, {15, extremes}}},
        // Repaints alternate, bank 1 (the previous) first.
        {"two banks", "chubby 0\n sponginger\n  rat 0 = 7 / 4\n", "chubby 0\n sponginger\n  rat 0 = 8 / 9\n", 250,
         {{1, {"7/4 +969c", "2/2 0c"}}, {1, {"8/9 -204c", "2/2 0c"}}}},
        // Too wide for the first column's 26 pixels left of its anchor.
        {"300 x 300", "chubby 0\n sponginger\n  rat 0 = 8 / 1\n", "", 150,
         {{1, {" ", "2/2 0c", "3/3 0c", "4/4 0c"}}}, 300, 300},
        // Rows of 18 pixels: the first row's first text would cover the caption.
        {"15 situations at 500 x 300", fifteen, "", 18,
         {{1, {" ", "3/2 +702c", "5/4 +386c", "1/255 -9593c"}}, {15, extremes}}, 500, 300},
    };
    for (const Case& c : cases) {
        LaceyBanks engine;
        if (!c.bank1.empty()) engine.getBank(1)->load(std::vector<char>(c.bank1.begin(), c.bank1.end()));
        if (!c.bank2.empty()) {
            engine.getBank(2)->load(std::vector<char>(c.bank2.begin(), c.bank2.end()));
            engine.charactros('2');
        }
        MemoryCanvas m;
        m.size(c.width, c.height);
        int w = static_cast<int>(c.width);
        for (int k = 0; k < 2; k++) engine.graxness(_CHDC{0, c.width, c.height, &m});
        EXPECT_EQ(shown(m, 1, 0, c.rowh, w), " ") << c.name << ": hidden at start";
        engine.charactros(9);  // Tab, as scripts write it: key 009
        for (const auto& [row, voices] : c.repaints) {
            engine.graxness(_CHDC{0, c.width, c.height, &m});
            for (size_t v = 0; v < voices.size(); v++)
                EXPECT_EQ(shown(m, row, static_cast<int>(v), c.rowh, w), voices[v]) << c.name << " row " << row << " voice " << v;
            // Nothing of a text's black backing where the caption goes.
            for (int y = 0; y < RatioReadout::kCaptionBottom; y++)
                for (int x = RatioReadout::kCaptionLeft; x < RatioReadout::kCaptionRight; x++)
                    ASSERT_NE(m.at(x, y), RatioReadout::kBacking) << c.name << " at " << x << "," << y;
        }
    }
}

}  // namespace
