// One block of a CLAP plugin's process, as a host runs it: `n` frames into
// two channels, the input events given, the output events taken and
// dropped. For the CLAP fuzzer and the plugin's tests' CLAP host.
#pragma once

#include <clap/plugin.h>

inline clap_process_status processBlock(const clap_plugin_t* plugin, float* left, float* right, uint32_t n,
                                        const clap_input_events_t* in, const clap_output_events_t* out) {
    float* channels[2] = {left, right};
    clap_audio_buffer_t audio{};
    audio.data32 = channels;
    audio.channel_count = 2;
    clap_process_t p{};
    p.steady_time = -1;
    p.frames_count = n;
    p.audio_outputs = &audio;
    p.audio_outputs_count = 1;
    p.in_events = in;
    p.out_events = out;
    return plugin->process(plugin, &p);
}
