// The renderer's outlet for the tuned notes: a Standard MIDI File, format
// 0, one track. A tick is one engine frame, so every message stands
// exactly at the frame of its unit and a unit (256 frames) is 256 ticks:
// at the WAV's rate of 22050 frames a second, 11025 ticks a quarter note at
// 500000 µs a quarter (120 beats a minute). At another pitch of 1/1 the WAV
// plays its frames faster or slower, and the file's tempo follows (see
// setRate). The notes still sounding end at the end of the render.
#pragma once

#include "engine/TunedOut.h"
#include "render/WholeFile.h"

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

class MidiFileOut final : public TunedOut {
public:
    static constexpr int kTicksPerQuarter = 11025;
    static constexpr int kMicrosecondsPerQuarter = 500000;

    explicit MidiFileOut(LaceyBanks* engine) : TunedOut(engine) {}

    // The WAV's frames a second: a tick lasts 1/rate s, a quarter D ticks
    // of T µs with T / D = 1000000 / rate exactly (D at most 32767, T below
    // 2^24, 120 beats a minute where that can be had). Only a rate whose
    // exact pair would need more ticks a quarter than a file can say (above
    // 32767, with no factor 2 or 5 shared with a million) gets the tempo
    // rounded to the µs: about 0.1 ms a minute.
    void setRate(uint32_t rate) {
        if (rate == 0) return;
        uint64_t g = std::gcd<uint64_t>(rate, 1000000), d = rate / g, t = 1000000 / g;
        if (d > 32767) {
            ticksPerQuarter = kTicksPerQuarter;
            microsecondsPerQuarter = static_cast<int>((1000000ull * kTicksPerQuarter + rate / 2) / rate);
            return;
        }
        uint64_t k = kMicrosecondsPerQuarter % t == 0 ? kMicrosecondsPerQuarter / t : 1;
        if (d * k > 32767) k = 1;
        ticksPerQuarter = static_cast<int>(d * k);
        microsecondsPerQuarter = static_cast<int>(t * k);
    }

    // The whole file, the notes ended at `endFrame`.
    std::string bytes(long long endFrame) {
        notes.silence(endFrame);
        flush();
        std::string track;
        const char* name = notes.way() == TunedNotes::Way::Mpe ? "quorvanel tuned notes (mpe)" : "quorvanel tuned notes (mts)";
        std::string title(name);
        track += std::string("\x00\xff\x03", 3) + static_cast<char>(title.size()) + title;
        track += std::string("\x00\xff\x51\x03", 4);
        for (int shift = 16; shift >= 0; shift -= 8) track += static_cast<char>((microsecondsPerQuarter >> shift) & 0xff);
        long long last = 0;
        for (const TunedNotes::Message& m : messages) {
            delta(track, m.frame - last);
            last = m.frame;
            if (m.bytes[0] == 0xf0) {
                // A system exclusive event: F0, the length of the rest, the rest (F7 included).
                track += static_cast<char>(0xf0);
                number(track, m.length - 1);
                track.append(reinterpret_cast<const char*>(m.bytes) + 1, m.length - 1);
            } else {
                track.append(reinterpret_cast<const char*>(m.bytes), m.length);
            }
        }
        delta(track, endFrame > last ? endFrame - last : 0);
        track += std::string("\xff\x2f\x00", 3);
        std::string file("MThd\x00\x00\x00\x06\x00\x00\x00\x01", 12);
        file += static_cast<char>(ticksPerQuarter >> 8);
        file += static_cast<char>(ticksPerQuarter & 0xff);
        file += "MTrk";
        for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>((track.size() >> shift) & 0xff);
        return file + track;
    }

    // Writes the file; false, errno set, when it cannot be written.
    bool write(const char* path, long long endFrame) { return write_whole_file(path, bytes(endFrame)); }

private:
    void send(const TunedNotes::Message& m) override { messages.push_back(m); }

    // The ticks before an event. A quantity has four bytes at most, so a
    // longer silence (3.4 hours) is cut by empty text events.
    static void delta(std::string& out, long long v) {
        constexpr long long kMost = 0x0fffffff;
        for (; v > kMost; v -= kMost) {
            number(out, kMost);
            out += std::string("\xff\x01\x00", 3);
        }
        number(out, v);
    }

    // A variable-length quantity: seven bits a byte, the high bit on all
    // but the last.
    static void number(std::string& out, long long v) {
        unsigned char bytes[10];
        int n = 0;
        unsigned long long u = v < 0 ? 0 : static_cast<unsigned long long>(v);
        do {
            bytes[n++] = u & 0x7f;
            u >>= 7;
        } while (u);
        while (n-- > 0) out += static_cast<char>(bytes[n] | (n ? 0x80 : 0));
    }

    std::vector<TunedNotes::Message> messages;
    int ticksPerQuarter = kTicksPerQuarter;
    int microsecondsPerQuarter = kMicrosecondsPerQuarter;
};
