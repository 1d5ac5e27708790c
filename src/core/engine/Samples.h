// The engine's samples as the sound device takes them: 16-bit signed
// little-endian stereo frames. Engine units are 16 per 16-bit step; the
// high byte is clamped to -126..126, so the loudest sample is about
// 0.985 of full scale. The live fill loop, the renderer and the plugin all
// convert here, so they agree to the byte.
#pragma once

#include <cstdint>

// Converts one engine value to the two bytes of its 16-bit little-endian
// sample: shift by 4, low byte as it falls, high byte clamped to -126..126.
// `out` receives low byte then high byte. Returns what is left of the value
// (the clamped high byte), which the fill loop stores back in the engine's pair.
inline int pcm_convert(int v, unsigned char* out) {
    v >>= 4;
    out[0] = static_cast<unsigned char>(v & 0xff);
    v >>= 8;
    if (v > 126) v = 126;
    if (v < -126) v = -126;
    out[1] = static_cast<unsigned char>(v & 0xff);
    return v;
}

// One frame, converted in place on the engine's pair: left into bytes 0..1,
// right into bytes 2..3.
inline void pcm_convert_frame(int* pair, unsigned char* frame) {
    pair[0] = pcm_convert(pair[0], frame);
    pair[1] = pcm_convert(pair[1], frame + 2);
}

// A converted sample's two bytes as the float hosts that take floats are
// given (the plugins, JACK): -1 ≤ x < 1.
inline float pcm_sample_float(const unsigned char* sample) {
    return static_cast<int16_t>(sample[0] | sample[1] << 8) / 32768.0f;
}
