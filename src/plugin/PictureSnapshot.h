// One repaint of the plugin's engine as its window needs it to draw the
// same picture: the size and the bank the repaint used, that bank's count,
// selection and solo mode, whether the ratios were shown as numbers, each situation's levels, and the bank's patch
// text. Levels are what the last report left in the picture and no patch
// text keeps: the four axis bytes that colour the voice boxes (0..255, as
// unsigned bytes) and the prime-limit axis that turns the star (0..255,
// the byte + 128).
// Taking one allocates nothing: the text is formatted into storage made
// at construction, through a stream that takes no lock.
#pragma once

#include "engine/LaceyBanks.h"
#include "engine/MultiplexPotentiator.h"
#include "plugin/WindowMessages.h"

#include <stdio_ext.h>

#include <cstdint>
#include <cstdio>
#include <vector>

class PictureSnapshot {
public:
    static constexpr int kSlots = MultiplexPotentiator::kSlots;
    static constexpr int kLevels = 5;
    // A situation's text is at most about 1.4 KB (its two matrices of 16
    // numbers each at most 11 characters, and some 20 short lines), so 16
    // of them fit with room to spare.
    static constexpr size_t kTextRoom = 1u << 16;

    PictureSnapshot() : text(kTextRoom, 0), buffer(4096, 0) {
        stream = fmemopen(text.data(), text.size(), "w");
        if (!stream) return;
        setvbuf(stream, buffer.data(), _IOFBF, buffer.size());
        __fsetlocking(stream, FSETLOCKING_BYCALLER);
    }
    ~PictureSnapshot() {
        if (stream) std::fclose(stream);
    }
    PictureSnapshot(const PictureSnapshot&) = delete;
    PictureSnapshot& operator=(const PictureSnapshot&) = delete;

    // Takes what the engine's last repaint (at w × h) drew. False, and
    // nothing to send, when the text did not fit.
    bool take(LaceyBanks& engine, uint32_t w, uint32_t h, uint32_t seq) {
        length = 0;
        if (!stream) return false;
        int b = engine.painted();
        MultiplexPotentiator* bank = engine.getBank(b);
        int count = bank->chubamt();
        header[windowio::kSeq] = static_cast<int32_t>(seq);
        header[windowio::kWidth] = static_cast<int32_t>(w);
        header[windowio::kHeight] = static_cast<int32_t>(h);
        header[windowio::kBank] = b;
        header[windowio::kCount] = count;
        header[windowio::kSelected] = bank->getSelected();
        header[windowio::kSolo] = bank->getSolo();
        header[windowio::kOffset] = 0;
        header[windowio::kReadout] = engine.readoutShown() ? 1 : 0;
        for (int s = 0; s < count && s < kSlots; s++) {
            ChubberySituation* situation = bank->getSituation(s);
            unsigned char* l = levels + s * kLevels;
            for (int v = 0; v < 4; v++) l[v] = situation->getGinger()->axisLevel[v];
            l[4] = static_cast<unsigned char>(situation->getChink()->getOfficio());
        }
        std::clearerr(stream);
        std::fseek(stream, 0, SEEK_SET);
        bank->text(stream);
        bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
        long at = std::ftell(stream);
        if (!ok || at < 0 || static_cast<size_t>(at) >= kTextRoom) return false;
        length = static_cast<size_t>(at);
        header[windowio::kLength] = static_cast<int32_t>(length);
        return true;
    }

    uint32_t levelBytes() const {
        int count = header[windowio::kCount];
        return static_cast<uint32_t>((count < kSlots ? count : kSlots) * kLevels);
    }

    int32_t header[windowio::kHeaderInts] = {};
    unsigned char levels[kSlots * kLevels] = {};
    std::vector<char> text;  // the first `length` bytes
    size_t length = 0;

private:
    std::vector<char> buffer;
    FILE* stream = nullptr;
};
