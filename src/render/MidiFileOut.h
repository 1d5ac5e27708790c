// The renderer's outlet for the tuned notes: a Standard MIDI File, format
// 0, one track. 11025 ticks a quarter note at 500000 µs a quarter (120
// beats a minute) make one tick one engine frame (22050 a second), so every
// message stands exactly at the frame of its unit, and a unit (256 frames)
// is 256 ticks. The notes still sounding end at the end of the render.
#pragma once

#include "engine/TunedOut.h"
#include "render/WholeFile.h"

#include <string>
#include <vector>

class MidiFileOut final : public TunedOut {
public:
    static constexpr int kTicksPerQuarter = 11025;
    static constexpr int kMicrosecondsPerQuarter = 500000;

    explicit MidiFileOut(LaceyBanks* engine) : TunedOut(engine) {}

    // The whole file, the notes ended at `endFrame`.
    std::string bytes(long long endFrame) {
        notes.silence(endFrame);
        flush();
        std::string track;
        const char* name = notes.way() == TunedNotes::Way::Mpe ? "quorvanel tuned notes (mpe)" : "quorvanel tuned notes (mts)";
        std::string title(name);
        track += std::string("\x00\xff\x03", 3) + static_cast<char>(title.size()) + title;
        track += std::string("\x00\xff\x51\x03", 4);
        for (int shift = 16; shift >= 0; shift -= 8) track += static_cast<char>((kMicrosecondsPerQuarter >> shift) & 0xff);
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
        file += static_cast<char>(kTicksPerQuarter >> 8);
        file += static_cast<char>(kTicksPerQuarter & 0xff);
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
};
