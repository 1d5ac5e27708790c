// libFuzzer target for what a host hands the VST3 plugin, through the
// plugin's own code (vst3.cpp is built in) and the small host of
// Vst3Host.h. An input is a series of messages, each a kind byte and its
// fields (FuzzInput: numbers as they lie in memory, so any double is a
// value, NaN and infinities included):
//   0  a block: a count of parameter points (each an id, a frame and a
//      value), a count of note events (each on or off, a channel, a key,
//      a velocity and a frame), then the block's frames (0: a flush)
//   1  a value to the edit controller (an id and a value), then the same
//      value's text, plain value and normalised value back
//   2  a text typed for a parameter: an id, a length and the text
//   3  a state: a length and its bytes; then the state saved
// One instance serves every input (making one costs most of a run): before
// each it is given back the state it started with. What that state does
// not hold stays, as the MIDI parameters' last values. A state may name
// any file as its bank: it is only ever read.
// Seeds: the messages that once went out of bounds or hung (an id of
// 0xFFFFFFFF, NaN, infinite and out-of-range values, a state naming
// /dev/zero), keys turned off and on, the sustain pedal, and states with
// a scale that is one and one that is not, written into the corpus
// folders named on the command line. Built by `make fuzz`.
#include "FuzzInput.h"
#include "Vst3Host.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

extern "C" void* GetPluginFactory();

namespace {

vst3host::Instance* plugin = nullptr;
std::string fresh;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();

std::string value(uint32_t id, double x) {
    std::string s(1, '\1');
    FuzzInput::put(s, id);
    FuzzInput::put(s, x);
    return s;
}

std::string block(uint32_t id, double x) {
    std::string s(1, '\0');
    FuzzInput::put<uint8_t>(s, 1);
    FuzzInput::put(s, id);
    FuzzInput::put<int32_t>(s, 0);
    FuzzInput::put(s, x);
    FuzzInput::put<uint8_t>(s, 0);
    FuzzInput::put<uint16_t>(s, 256);
    return s;
}

std::string state(const std::string& blob) {
    std::string s(1, '\3');
    FuzzInput::put(s, static_cast<uint16_t>(blob.size()));
    return s + blob;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    plugin = new vst3host::Instance(GetPluginFactory(), 48000);
    if (!plugin->ok()) abort();
    fresh = plugin->save();
    std::string typed(1, '\2');
    FuzzInput::put<uint32_t>(typed, 0);
    FuzzInput::put<uint8_t>(typed, 3);
    FuzzInput::writeSeeds(*argc, *argv,
                          {{"id-ffffffff", value(0xFFFFFFFF, 0.5) + block(0xFFFFFFFF, 0.5)},
                           {"id-800007d0", block(0x800007D0, 0.5)},
                           {"program", value(1000, kNaN) + value(1000, kInf) + value(1000, 2.0) + value(1000, -1)},
                           {"midi", block(2000, 2.0) + block(2007, -kInf) + block(2008, kNaN)},
                           {"axis", block(0, kNaN) + value(5, kInf) + typed + "nan"},
                           {"bank-dev-zero", state(std::string("\0bank /dev/zero\n", 16))},
                           {"preset", state(std::string("\0preset wander\naxis0 1e308\npitch nan\n", 37))},
                           {"keys", value(6, kNaN) + block(6, 0.4) + block(7, 2.0) + block(2144, 2.0) + value(6, 1)},
                           {"scale", state(std::string("\0keys 1\nscale a.scl\n|!\n|a\n| 2\n| 5/4\n| 2/1\n", 42))},
                           {"scale-short", state(std::string("\0keys 1\nscale a.scl\n|a\n| 3\n| 5/4\nmap a.kbm\n|0\n", 46))}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plugin->load(fresh);
    FuzzInput in(data, size);
    while (!in.empty()) {
        switch (in.take<uint8_t>() % 4) {
        case 0: {
            std::vector<vst3host::Point> points(in.take<uint8_t>() % 32);
            for (vst3host::Point& p : points) p = {in.take<uint32_t>(), in.take<int32_t>(), in.take<double>()};
            std::vector<v3_event> notes(in.take<uint8_t>() % 32);
            for (v3_event& e : notes) {
                e = {};
                e.type = in.take<uint8_t>() & 1 ? V3_EVENT_NOTE_OFF : V3_EVENT_NOTE_ON;
                e.note_on.channel = in.take<int16_t>();
                e.note_on.pitch = in.take<int16_t>();
                e.note_on.velocity = in.take<float>();
                e.sample_offset = in.take<int32_t>();
            }
            plugin->process(in.take<uint16_t>() % (vst3host::Instance::kMaxBlock + 1), points, notes);
            break;
        }
        case 1: {
            uint32_t id = in.take<uint32_t>();
            double x = in.take<double>();
            plugin->set(id, x);
            plugin->text(id, x);
            plugin->normalOf(id, plugin->plain(id, x));
            plugin->normal(id);
            break;
        }
        case 2: {
            uint32_t id = in.take<uint32_t>();
            double out = 0;
            plugin->valueOf(id, in.bytes(in.take<uint8_t>()), out);
            break;
        }
        default: {
            plugin->load(in.bytes(in.take<uint16_t>()));
            plugin->save();
            break;
        }
        }
    }
    return 0;
}
