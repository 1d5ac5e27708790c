// The audio side of the host: ALSA playback on "default", 22050 frames per
// second, 2 interleaved signed 16-bit little-endian channels, written in
// units of 256 frames that the engine fills frame by frame.
#pragma once

#include <alsa/asoundlib.h>
#include <cstdint>

extern unsigned int rate;
extern unsigned int periods;
extern unsigned int periodsize;
extern unsigned long frames;
extern unsigned char* data;
extern snd_pcm_t* playback_handle;

void open_pcm();
void pcm_runnus();
void pcm_closz();

// Converts one engine value (16 units per 16-bit step) to the two bytes of a
// 16-bit little-endian sample: shift by 4, low byte as it falls, high byte
// clamped to -126..126. The clip is on the high byte only, so the sample
// stays within -32256..32511. `out` receives low byte then high byte.
inline void pcm_convert(int v, unsigned char* out) {
    v >>= 4;
    out[0] = static_cast<unsigned char>(v & 0xff);
    v >>= 8;
    if (v > 126) v = 126;
    if (v < -126) v = -126;
    out[1] = static_cast<unsigned char>(v & 0xff);
}
