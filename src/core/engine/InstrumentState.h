// The whole instrument as one text: the ten banks (each as its patch text),
// the banks in play, and each bank's selection and solo mode. A host that
// keeps the instrument in its own files (a plugin's session state) saves
// and restores it through this. The text:
//   quorvanel instrument 1
//   play CURRENT PREVIOUS          bank indices 0..9
//   bank INDEX SELECTED SOLO       once per bank, 0..9 in order; SOLO 0 or 1
//   chubby 0 ...                   the bank's patch text, as a save writes it
// A bank's patch text runs to the next line that starts with "bank ".
// Writing is plain formatted output into a stream the caller owns, so a
// caller may aim it at memory it allocated beforehand; reading builds new
// banks and leaves the engine alone until `Banks::swapInto`.
#pragma once

#include "engine/LaceyBanks.h"
#include "engine/MultiplexPotentiator.h"
#include "lattice/PerspexStabile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

class InstrumentState {
public:
    static constexpr int kBanks = LaceyBanks::kBanks;

    // Writes the instrument; false when the stream reports an error.
    static bool write(LaceyBanks& engine, FILE* f) {
        std::fprintf(f, "quorvanel instrument 1\nplay %d %d\n", engine.getCurrent(), engine.getPrevious());
        for (int b = 0; b < kBanks; b++) {
            MultiplexPotentiator* bank = engine.getBank(b);
            std::fprintf(f, "bank %d %d %d\n", b, bank->getSelected(), bank->getSolo());
            bank->text(f);
        }
        return std::fflush(f) == 0 && !std::ferror(f);
    }

    // Ten banks read from a text, ready to take the engine's place.
    class Banks {
    public:
        Banks() = default;
        Banks(const Banks&) = delete;
        Banks& operator=(const Banks&) = delete;
        ~Banks() { clear(); }

        // Puts these banks and pair into `engine`; afterwards this holds the
        // banks the engine had, for the caller to destroy where it may.
        void swapInto(LaceyBanks& engine) {
            for (int b = 0; b < kBanks; b++) banks[b] = engine.replaceBank(b, banks[b]);
            int c = engine.getCurrent(), p = engine.getPrevious();
            engine.setPair(current, previous);
            current = c;
            previous = p;
        }

        void clear() {
            for (MultiplexPotentiator*& b : banks) {
                delete b;
                b = nullptr;
            }
        }

        MultiplexPotentiator* banks[kBanks] = {};
        int current = 1, previous = 1;
    };

    // Reads `text` into fresh banks on `stabile` (the engine's lattice
    // store). False, with the reason in `why` and `out` left empty, for a
    // text that is not an instrument.
    static bool read(const std::string& text, PerspexStabile* stabile, Banks& out, std::string& why) {
        out.clear();
        std::vector<std::string> lines = split(text);
        size_t at = 0;
        if (lines.empty() || lines[0] != "quorvanel instrument 1") return fail(out, why, "not a quorvanel instrument");
        at = 1;
        int current = 0, previous = 0;
        if (at >= lines.size() || std::sscanf(lines[at].c_str(), "play %d %d", &current, &previous) != 2 ||
            !isBank(current) || !isBank(previous))
            return fail(out, why, "line 2: expected play CURRENT PREVIOUS with banks 0..9");
        at++;
        for (int b = 0; b < kBanks; b++) {
            int index = -1, selected = 0, solo = 0;
            if (at >= lines.size() || std::sscanf(lines[at].c_str(), "bank %d %d %d", &index, &selected, &solo) != 3 ||
                index != b)
                return fail(out, why, "line " + std::to_string(at + 1) + ": expected bank " + std::to_string(b));
            std::string patch;
            for (at++; at < lines.size() && lines[at].compare(0, 5, "bank ") != 0; at++) patch += lines[at] + "\n";
            out.banks[b] = new MultiplexPotentiator(stabile);
            out.banks[b]->load(std::vector<char>(patch.begin(), patch.end()));
            out.banks[b]->choose(selected, solo);
        }
        out.current = current;
        out.previous = previous;
        return true;
    }

private:
    static bool isBank(int b) { return b >= 0 && b < kBanks; }

    static bool fail(Banks& out, std::string& why, const std::string& reason) {
        out.clear();
        why = reason;
        return false;
    }

    static std::vector<std::string> split(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};
