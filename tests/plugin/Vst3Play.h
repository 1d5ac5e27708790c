// The VST3 plugin in the small VST3 host (tools/fuzz/Vst3Host.h), played
// as the LV2 test host plays (Play.h): MIDI notes as note events, the MIDI
// controllers as the parameters the plugin's MIDI mapping names, a
// control value as the parameter of the same place at the block's first
// frame; the events of its output bus as the tuned MIDI they carry.
#pragma once

#include "fuzz/Vst3Host.h"
#include "plugin/Host.h"

#include <dlfcn.h>

#include <cmath>
#include <vector>

namespace vst3play {

inline void* factory() {
    static void* lib = dlopen(QUORVANEL_VST3_BINARY, RTLD_NOW | RTLD_LOCAL);
    auto get = lib ? reinterpret_cast<void* (*)()>(dlsym(lib, "GetPluginFactory")) : nullptr;
    return get ? get() : nullptr;
}

// An event of the output bus as the MIDI message it stands for.
inline std::vector<uint8_t> midiOf(const v3_event& e) {
    auto level = [](float x) { return static_cast<uint8_t>(std::lround(x * 127)); };
    switch (e.type) {
    case V3_EVENT_NOTE_ON:
        return {static_cast<uint8_t>(0x90 | e.note_on.channel), static_cast<uint8_t>(e.note_on.pitch), level(e.note_on.velocity)};
    case V3_EVENT_NOTE_OFF:
        return {static_cast<uint8_t>(0x80 | e.note_off.channel), static_cast<uint8_t>(e.note_off.pitch), level(e.note_off.velocity)};
    case V3_EVENT_POLY_PRESSURE:
        return {static_cast<uint8_t>(0xa0 | e.poly_pressure.channel), static_cast<uint8_t>(e.poly_pressure.pitch),
                level(e.poly_pressure.pressure)};
    case V3_EVENT_DATA: return {e.data.bytes, e.data.bytes + e.data.size};
    case V3_EVENT_LEGACY_MIDI_CC_OUT: {
        const v3_event_legacy_midi_cc_out& c = e.midi_cc_out;
        uint8_t channel = static_cast<uint8_t>(c.channel), v = static_cast<uint8_t>(c.value);
        if (c.cc_number == 129) return {static_cast<uint8_t>(0xe0 | channel), v, static_cast<uint8_t>(c.value2)};
        if (c.cc_number == 130) return {static_cast<uint8_t>(0xc0 | channel), v};
        if (c.cc_number == 128) return {static_cast<uint8_t>(0xd0 | channel), v};
        return {static_cast<uint8_t>(0xb0 | channel), c.cc_number, v};
    }
    default: return {};
    }
}

class Player {
public:
    explicit Player(double rate) : host(factory(), rate) {}
    bool ok() const { return host.ok(); }

    void block(uint32_t n, const std::vector<lv2host::Input>& inputs, std::vector<float>& left, std::vector<float>& right) {
        std::vector<vst3host::Point> points;
        std::vector<v3_event> notes;
        for (const lv2host::Input& i : inputs) {
            if (i.port >= 0) {
                points.push_back({static_cast<v3_param_id>(i.port), 0, host.normalOf(i.port, i.value)});
                continue;
            }
            int status = i.midi[0] & 0xf0;
            int16_t channel = i.midi[0] & 15;
            if (status == 0x90 || status == 0x80) {
                v3_event e{};
                e.sample_offset = static_cast<int32_t>(i.frame);
                bool on = status == 0x90 && i.midi[2];
                e.type = on ? V3_EVENT_NOTE_ON : V3_EVENT_NOTE_OFF;
                if (on) e.note_on = {channel, i.midi[1], 0, i.midi[2] / 127.0f, 0, -1};
                else e.note_off = {channel, i.midi[1], i.midi[2] / 127.0f, -1, 0};
                notes.push_back(e);
                continue;
            }
            int16_t cc = status == 0xe0 ? 129 : status == 0xc0 ? 130 : i.midi[1];
            double value = status == 0xe0 ? (i.midi[1] | i.midi[2] << 7) / 16383.0 : (status == 0xc0 ? i.midi[1] : i.midi[2]) / 127.0;
            v3_param_id id;
            if (host.midiParameter(channel, cc, id)) points.push_back({id, static_cast<int32_t>(i.frame), value});
        }
        host.process(static_cast<int32_t>(n), points, notes);
        left.insert(left.end(), host.left.begin(), host.left.begin() + n);
        right.insert(right.end(), host.right.begin(), host.right.begin() + n);
        for (const v3_event& e : host.output()) tuned.push_back({frames + static_cast<uint64_t>(e.sample_offset), midiOf(e)});
        frames += n;
    }

    vst3host::Instance host;
    std::vector<lv2host::Instance::Tuned> tuned;
    uint64_t frames = 0;
};

}  // namespace vst3play
