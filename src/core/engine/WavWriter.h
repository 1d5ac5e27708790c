// A WAV file of the very bytes the ALSA path writes: 22050 frames per
// second (or the rate that plays them at another pitch of 1/1, see
// PitchOfOne), 2 interleaved channels, signed 16-bit little-endian. The frame
// count is fixed when the writer is made, so the RIFF sizes go out in the
// header before any data and the file can stream to a pipe (no seeking
// back). Frames: 4 bytes each; at most kMaxFrames so that the RIFF size
// (36 + 4 × frames) fits its 32-bit field.
#pragma once

#include <cstdint>
#include <cstdio>

class WavWriter {
public:
    static constexpr uint32_t kRate = 22050;
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kBytesPerFrame = 4;
    static constexpr uint32_t kHeaderBytes = 44;
    static constexpr uint32_t kMaxFrames = (0xFFFFFFFFu - 36) / kBytesPerFrame;

    // `out` must be open for binary writing; the writer neither closes it
    // nor owns it. `frameCount` must not exceed kMaxFrames; `rate` is the
    // header's frames per second, at most 384000.
    WavWriter(FILE* out, uint32_t frameCount, uint32_t rate = kRate) : out(out), promised(frameCount), rate(rate) {}

    // The 44-byte canonical header for `frameCount` frames at `rate`.
    static void header(uint32_t frameCount, unsigned char* h, uint32_t rate = kRate) {
        uint32_t dataBytes = frameCount * kBytesPerFrame;
        put4(h, "RIFF");
        put32(h + 4, 36 + dataBytes);
        put4(h + 8, "WAVE");
        put4(h + 12, "fmt ");
        put32(h + 16, 16);                            // size of the fmt chunk
        put16(h + 20, 1);                             // integer PCM
        put16(h + 22, kChannels);
        put32(h + 24, rate);
        put32(h + 28, rate * kBytesPerFrame);         // bytes per second
        put16(h + 32, kBytesPerFrame);                // block align
        put16(h + 34, 16);                            // bits per sample
        put4(h + 36, "data");
        put32(h + 40, dataBytes);
    }

    // Writes the header; false when the stream refuses it.
    bool begin() {
        unsigned char h[kHeaderBytes];
        header(promised, h, rate);
        return std::fwrite(h, 1, kHeaderBytes, out) == kHeaderBytes;
    }

    // Appends `n` frames of already converted bytes (4 × n of them); more
    // than the header promised is refused, so the sizes never lie.
    bool frames(const unsigned char* bytes, uint32_t n) {
        if (n > promised - written) return false;
        if (std::fwrite(bytes, kBytesPerFrame, n, out) != n) return false;
        written += n;
        return true;
    }

    // True once every promised frame is out and the stream flushed cleanly.
    bool finish() { return written == promised && std::fflush(out) == 0 && !std::ferror(out); }

    uint32_t framesWritten() const { return written; }

private:
    static void put4(unsigned char* p, const char* tag) {
        for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(tag[i]);
    }
    static void put16(unsigned char* p, uint32_t v) {
        p[0] = static_cast<unsigned char>(v & 0xff);
        p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
    }
    static void put32(unsigned char* p, uint32_t v) {
        put16(p, v & 0xffff);
        put16(p + 2, v >> 16);
    }

    FILE* out;
    uint32_t promised;
    uint32_t rate;
    uint32_t written = 0;
};
