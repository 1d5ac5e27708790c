// The instrument as a VST3 plugin (quorvanel.vst3), on the plain C
// interface to VST3 of Debian's dpf-source ("travesty"): one object that is
// the component, the audio processor and the edit controller at once, so
// the host's controller and processor share one HostedInstrument.
//
// VST3 passes notes as events and every other MIDI message through the
// controller's MIDI mapping: the CCs the instrument's MIDI map reads, the
// pitch bend and the program change are hidden parameters per channel,
// turned back into MIDI at their sample offset. The tuned notes go out on
// an event output bus, as events (the LV2's midi_out as VST3 carries MIDI). The presets (the example
// patches) are the programs of one program list, chosen by a program
// change parameter. The window is an IPlugView embedded in the host's X11
// window and serviced by the host's run loop: a timer and the window's X
// connection.
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/events.h>
#include <travesty/factory.h>
#include <travesty/unit.h>
#include <travesty/view.h>

#include "plugin/HostedInstrument.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

// The class: "quorvanel-instru" in ASCII.
constexpr v3_tuid kClassId = V3_ID(0x71756F72, 0x76616E65, 0x6C2D696E, 0x73747275);
constexpr const char* kName = "quorvanel";
constexpr uint32_t kTimerMs = 30;

// Parameter ids beyond the table's: the program change, and MIDI's per
// channel, kMidi + a place: 9 × channel + k for the first nine controllers
// of kControllers (as they were first numbered), 144 + channel for the
// sustain pedal, which keys added. Ids once given never change: hosts keep
// values under them.
constexpr v3_param_id kProgram = 1000;
constexpr v3_param_id kMidi = 2000;
constexpr int kAftertouch = 128, kPitchBend = 129, kProgramChange = 130;  // VST3's controller numbers beyond the CCs
constexpr int16_t kControllers[] = {1, 16, 17, 18, 19, 121, 123, kPitchBend, kProgramChange, 64};
constexpr int kMapped = static_cast<int>(sizeof kControllers / sizeof kControllers[0]);
constexpr int kFirstMapped = 9;
constexpr int kMidiParams = 16 * kMapped;

// A name into one of VST3's fields: UTF-16 (ours are ASCII) or bytes.
void text(int16_t* out, size_t room, const char* name) {
    size_t k = 0;
    for (; name[k] && k + 1 < room; k++) out[k] = static_cast<int16_t>(static_cast<unsigned char>(name[k]));
    out[k] = 0;
}
template <size_t N>
void text(int16_t (&out)[N], const char* name) {
    text(out, N, name);
}
// A parameter's v3_str_128, as a function's parameter a pointer.
void text(int16_t* out, const char* name) { text(out, 128, name); }
template <size_t N>
void text(char (&out)[N], const char* name) {
    std::snprintf(out, N, "%s", name);
}

bool same(const v3_tuid a, const v3_tuid b) { return std::memcmp(a, b, sizeof(v3_tuid)) == 0; }

template <class T>
T* call(T** object) {
    return v3_cpp_obj(object);
}

// Keeps `now` (a host's object) in `slot` instead of what it held.
template <class T>
v3_result hold(T**& slot, T** now) {
    if (now) v3_cpp_obj_ref(now);
    if (slot) v3_cpp_obj_unref(slot);
    slot = now;
    return V3_OK;
}

// One interface of an object: what the host holds is the address of
// `table`, the interface's functions; `owner` is the object.
struct Face {
    const void* table;
    void* owner;
};
template <class Owner>
Owner* owner(void* self) {
    return static_cast<Owner*>(static_cast<Face*>(self)->owner);
}

struct Plugin;
struct View;

// --- The plugin -------------------------------------------------------------

struct Plugin {
    Plugin();
    ~Plugin() {
        if (handler) v3_cpp_obj_unref(handler);
    }

    Face component, processor, controller, mapping, units;
    std::atomic<uint32_t> refs{0};
    v3_component_handler** handler = nullptr;
    HostedInstrument core;
    std::atomic<double> midiValues[kMidiParams] = {};

    // The inputs of a block in the order they act: by frame, parameters
    // (controllers) before notes at the same frame. Room made beforehand.
    struct Input {
        int32_t frame;
        int order;
        v3_param_id id;  // a parameter's, or a note's when `note`
        double value;
        bool note, on;
        int16_t channel, pitch;
    };
    static constexpr int kInputs = 4096;
    Input inputs[kInputs];

    uint32_t ref() { return ++refs; }
    uint32_t unref() {
        uint32_t left = --refs;
        if (left == 0) delete this;
        return left;
    }
    v3_result query(const v3_tuid iid, void** out);
    void process(v3_process_data* data);
    void input(const Input& in, uint32_t frames);
    void sendTuned(v3_event_list** out);
    // On the host's UI thread, where VST3 takes restarts: a new pitch of
    // 1/1 moved the latency, which the host then reads again.
    void tellLatency() {
        if (handler && core.latencyToTell()) call(handler)->restart_component(handler, V3_RESTART_LATENCY_CHANGED);
    }
};

v3_result V3_API queryPlugin(void* self, const v3_tuid iid, void** out) { return owner<Plugin>(self)->query(iid, out); }
uint32_t V3_API refPlugin(void* self) { return owner<Plugin>(self)->ref(); }
uint32_t V3_API unrefPlugin(void* self) { return owner<Plugin>(self)->unref(); }
HostedInstrument& coreOf(void* self) { return owner<Plugin>(self)->core; }

v3_result V3_API initialize(void*, v3_funknown**) { return V3_OK; }
v3_result V3_API terminate(void*) { return V3_OK; }

// The state: HostedInstrument's, read and written whole.
v3_result V3_API loadState(void* self, v3_bstream** stream) {
    std::string blob;
    char chunk[4096];
    for (;;) {
        int32_t got = 0;
        if (call(stream)->read(stream, chunk, sizeof chunk, &got) != V3_OK || got <= 0) break;
        blob.append(chunk, static_cast<size_t>(got));
    }
    std::string why;
    if (coreOf(self).load(blob.data(), blob.size(), why)) return V3_OK;
    std::fprintf(stderr, "quorvanel: cannot restore the instrument: %s\n", why.c_str());
    return V3_FALSE;
}

v3_result V3_API saveState(void* self, v3_bstream** stream) {
    std::string blob;
    if (!coreOf(self).save(blob)) return V3_FALSE;
    for (size_t done = 0; done < blob.size();) {
        int32_t wrote = 0;
        int32_t n = static_cast<int32_t>(std::min<size_t>(blob.size() - done, 1 << 20));
        if (call(stream)->write(stream, blob.data() + done, n, &wrote) != V3_OK || wrote <= 0) return V3_FALSE;
        done += static_cast<size_t>(wrote);
    }
    return V3_OK;
}

const v3_component_cpp kComponent = {
    {queryPlugin, refPlugin, unrefPlugin},
    {initialize, terminate},
    {
        [](void*, v3_tuid) -> v3_result { return V3_NOT_IMPLEMENTED; },  // no separate controller class
        [](void*, int32_t) -> v3_result { return V3_OK; },
        [](void*, int32_t media, int32_t direction) -> int32_t {
            return (media == V3_AUDIO && direction == V3_OUTPUT) || media == V3_EVENT;
        },
        [](void*, int32_t media, int32_t direction, int32_t index, v3_bus_info* info) -> v3_result {
            bool audio = media == V3_AUDIO && direction == V3_OUTPUT, events = media == V3_EVENT;
            if (index != 0 || !(audio || events)) return V3_INVALID_ARG;
            std::memset(info, 0, sizeof *info);
            info->media_type = media;
            info->direction = direction;
            info->channel_count = audio ? 2 : 16;
            text(info->bus_name, audio ? "Output" : direction == V3_INPUT ? "MIDI in" : "Tuned notes");
            info->bus_type = V3_MAIN;
            info->flags = V3_DEFAULT_ACTIVE;
            return V3_OK;
        },
        [](void*, v3_routing_info*, v3_routing_info*) -> v3_result { return V3_FALSE; },
        [](void*, int32_t, int32_t, int32_t, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_bool on) -> v3_result {
            if (on) coreOf(self).activate();
            coreOf(self).tidy();
            return V3_OK;
        },
        loadState,
        saveState,
    }};

const v3_audio_processor_cpp kProcessor = {
    {queryPlugin, refPlugin, unrefPlugin},
    {
        [](void*, v3_speaker_arrangement*, int32_t inputs, v3_speaker_arrangement* outputs, int32_t count) -> v3_result {
            return inputs == 0 && count == 1 && outputs[0] == (V3_SPEAKER_L | V3_SPEAKER_R) ? V3_OK : V3_FALSE;
        },
        [](void*, int32_t direction, int32_t index, v3_speaker_arrangement* out) -> v3_result {
            if (direction != V3_OUTPUT || index != 0) return V3_INVALID_ARG;
            *out = V3_SPEAKER_L | V3_SPEAKER_R;
            return V3_OK;
        },
        [](void*, int32_t size) -> v3_result { return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE; },
        [](void* self) -> uint32_t { return coreOf(self).latency(); },
        [](void* self, v3_process_setup* setup) -> v3_result {
            coreOf(self).activate(setup->sample_rate);
            return V3_OK;
        },
        [](void*, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_process_data* data) -> v3_result {
            owner<Plugin>(self)->process(data);
            return V3_OK;
        },
        [](void*) -> uint32_t { return UINT32_MAX; },  // it may sound with no input at all
    }};

// --- Parameters -------------------------------------------------------------

// Where a parameter id points: a table row (>= 0), the program change
// (-1), a MIDI parameter (-2, with its place), or nothing (-3). Ids are
// any 32 bits a host sends.
int kindOf(v3_param_id id, int& place) {
    if (int k = params::indexOf(id); k >= 0) return k;
    if (id == kProgram) return -1;
    if (id < kMidi || id - kMidi >= static_cast<v3_param_id>(kMidiParams)) return -3;
    place = static_cast<int>(id - kMidi);
    return -2;
}

// A normalised value as a host hands it in, held to 0..1; false for one
// that is not a number, which is ignored.
bool normal(double& x) {
    if (!(x == x)) return false;
    x = x < 0 ? 0 : x > 1 ? 1 : x;
    return true;
}

int channelOf(int place) { return place < 16 * kFirstMapped ? place / kFirstMapped : (place - 16 * kFirstMapped) % 16; }
int16_t controllerOf(int place) {
    return kControllers[place < 16 * kFirstMapped ? place % kFirstMapped : kFirstMapped + (place - 16 * kFirstMapped) / 16];
}
int placeOf(int channel, int k) { return k < kFirstMapped ? channel * kFirstMapped + k : 16 * kFirstMapped + 16 * (k - kFirstMapped) + channel; }
double midiRange(int place) { return controllerOf(place) == kPitchBend ? 16383 : 127; }
double programRange() { return HostedInstrument::kPresets > 1 ? HostedInstrument::kPresets - 1 : 1; }

double toPlain(v3_param_id id, double x) {
    int place = 0;
    int kind = kindOf(id, place);
    if (!normal(x)) x = 0;
    if (kind >= 0) return params::fromNormal(kind, x);
    return std::round(x * (kind == -1 ? programRange() : kind == -2 ? midiRange(place) : 1));
}
double toNormal(v3_param_id id, double v) {
    int place = 0;
    int kind = kindOf(id, place);
    if (kind >= 0) return params::toNormal(kind, v);
    double range = kind == -1 ? programRange() : kind == -2 ? midiRange(place) : 1;
    return v > 0 ? v < range ? v / range : 1 : 0;  // not a number: 0
}

v3_result V3_API parameterInfo(void*, int32_t index, v3_param_info* info) {
    std::memset(info, 0, sizeof *info);
    if (index < 0 || index >= params::kCount + 1 + kMidiParams) return V3_INVALID_ARG;
    if (index < params::kCount) {
        const params::Info& p = params::kList[index];
        info->param_id = p.id;
        text(info->title, p.name);
        text(info->short_title, p.symbol);
        info->step_count = params::steps(index);
        info->default_normalised_value = params::toNormal(index, p.start);
        info->flags = V3_PARAM_CAN_AUTOMATE;
    } else if (index == params::kCount) {
        info->param_id = kProgram;
        text(info->title, "Preset");
        text(info->short_title, "Preset");
        info->step_count = HostedInstrument::kPresets - 1;
        info->flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST;
    } else {
        int place = index - params::kCount - 1;
        char name[32];
        std::snprintf(name, sizeof name, "MIDI %d:%d", channelOf(place) + 1, controllerOf(place));
        info->param_id = kMidi + static_cast<v3_param_id>(place);
        text(info->title, name);
        text(info->short_title, name);
        info->default_normalised_value = controllerOf(place) == kPitchBend ? 8192 / 16383.0 : 0;
        info->flags = V3_PARAM_IS_HIDDEN | V3_PARAM_READ_ONLY;
    }
    return V3_OK;
}

double V3_API normalValue(void* self, v3_param_id id) {
    Plugin* p = owner<Plugin>(self);
    int place = 0;
    int kind = kindOf(id, place);
    if (kind >= 0) return params::toNormal(kind, p->core.value(kind));
    if (kind == -1) return p->core.preset() < 0 ? 0 : p->core.preset() / programRange();
    return kind == -2 ? p->midiValues[place].load() : 0;
}

// A parameter's value from the host, on any thread.
v3_result setValueOf(Plugin* p, v3_param_id id, double x) {
    int place = 0;
    int kind = kindOf(id, place);
    if (kind == -3 || !normal(x)) return V3_INVALID_ARG;
    if (kind >= 0) p->core.setValue(kind, params::fromNormal(kind, x));
    else if (kind == -2) p->midiValues[place].store(x);
    else if (kind == -1 && static_cast<int>(toPlain(id, x)) != p->core.preset())
        p->core.choosePreset(static_cast<int>(toPlain(id, x)));  // a change only: a state restored keeps its own
    return V3_OK;
}

// The same from the edit controller, on the host's UI thread.
v3_result V3_API setNormalValue(void* self, v3_param_id id, double x) {
    Plugin* p = owner<Plugin>(self);
    v3_result r = setValueOf(p, id, x);
    p->tellLatency();
    return r;
}

v3_result V3_API valueText(void*, v3_param_id id, double x, v3_str_128 out) {
    int place = 0;
    char shown[64];
    int kind = kindOf(id, place);
    if (kind == -3 || !normal(x)) return V3_INVALID_ARG;
    if (kind == -1) text(shown, HostedInstrument::presetName(static_cast<int>(toPlain(id, x))));
    else std::snprintf(shown, sizeof shown, "%g", toPlain(id, x));
    text(out, shown);
    return V3_OK;
}

v3_result V3_API textValue(void*, v3_param_id id, int16_t* in, double* out) {
    char typed[128];
    int k = 0;
    for (; in[k] && k < 127; k++) typed[k] = static_cast<char>(in[k]);
    typed[k] = 0;
    int place = 0;
    double v = 0;
    char* end = typed;
    if (kindOf(id, place) == -1) v = HostedInstrument::presetIndex(typed), end = typed + (v >= 0);
    else v = std::strtod(typed, &end);
    if (end == typed || !(v == v)) return V3_FALSE;
    *out = toNormal(id, v);
    return V3_OK;
}

v3_plugin_view** V3_API createView(void* self, const char* name);

const v3_edit_controller_cpp kController = {
    {queryPlugin, refPlugin, unrefPlugin},
    {initialize, terminate},
    {
        // The component's state: the same object has taken it already.
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*, v3_bstream**) -> v3_result { return V3_OK; },
        [](void*) -> int32_t { return params::kCount + 1 + kMidiParams; },
        parameterInfo,
        valueText,
        textValue,
        [](void*, v3_param_id id, double x) { return toPlain(id, x); },
        [](void*, v3_param_id id, double v) { return toNormal(id, v); },
        normalValue,
        setNormalValue,
        [](void* self, v3_component_handler** handler) { return hold(owner<Plugin>(self)->handler, handler); },
        createView,
    }};

const v3_midi_mapping_cpp kMapping = {
    {queryPlugin, refPlugin, unrefPlugin},
    {[](void*, int32_t bus, int16_t channel, int16_t cc, v3_param_id* id) -> v3_result {
        if (bus != 0 || channel < 0 || channel > 15) return V3_FALSE;
        for (int k = 0; k < kMapped; k++)
            if (kControllers[k] == cc) {
                *id = kMidi + static_cast<v3_param_id>(placeOf(channel, k));
                return V3_OK;
            }
        return V3_FALSE;
    }}};

// One unit, the root, with the program list of the presets.
constexpr int32_t kPresetList = 1;

const v3_unit_information_cpp kUnits = {
    {queryPlugin, refPlugin, unrefPlugin},
    {
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_unit_info* info) -> v3_result {
            if (index != 0) return V3_INVALID_ARG;
            info->id = 0;
            info->parent_unit_id = -1;
            text(info->name, kName);
            info->program_list_id = kPresetList;
            return V3_OK;
        },
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_program_list_info* info) -> v3_result {
            if (index != 0) return V3_INVALID_ARG;
            info->id = kPresetList;
            text(info->name, "Presets");
            info->programCount = HostedInstrument::kPresets;
            return V3_OK;
        },
        [](void*, int32_t list, int32_t index, v3_str_128 name) -> v3_result {
            if (list != kPresetList || index < 0 || index >= HostedInstrument::kPresets) return V3_INVALID_ARG;
            text(name, HostedInstrument::presetName(index));
            return V3_OK;
        },
        [](void*, int32_t, int32_t, const char*, v3_str_128) -> v3_result { return V3_FALSE; },
        [](void*, int32_t, int32_t) -> v3_result { return V3_FALSE; },
        [](void*, int32_t, int32_t, int16_t, v3_str_128) -> v3_result { return V3_FALSE; },
        [](void*) -> int32_t { return 0; },
        [](void*, int32_t) -> v3_result { return V3_OK; },
        [](void*, int32_t, int32_t, int32_t, int32_t, int32_t* unit) -> v3_result {
            *unit = 0;
            return V3_OK;
        },
        [](void*, int32_t, int32_t, v3_bstream**) -> v3_result { return V3_NOT_IMPLEMENTED; },
    }};

Plugin::Plugin()
    : component{&kComponent, this},
      processor{&kProcessor, this},
      controller{&kController, this},
      mapping{&kMapping, this},
      units{&kUnits, this} {
    for (int k = 0; k < kMidiParams; k++) midiValues[k].store(controllerOf(k) == kPitchBend ? 8192 / 16383.0 : 0);
}

v3_result Plugin::query(const v3_tuid iid, void** out) {
    Face* face = nullptr;
    if (same(iid, v3_funknown_iid) || same(iid, v3_plugin_base_iid) || same(iid, v3_component_iid)) face = &component;
    else if (same(iid, v3_audio_processor_iid)) face = &processor;
    else if (same(iid, v3_edit_controller_iid)) face = &controller;
    else if (same(iid, v3_midi_mapping_iid)) face = &mapping;
    else if (same(iid, v3_unit_information_iid)) face = &units;
    *out = face;
    if (!face) return V3_NO_INTERFACE;
    ref();
    return V3_OK;
}

// The block's parameter changes and notes, merged by frame, then rendered.
void Plugin::process(v3_process_data* data) {
    int n = 0;
    if (v3_param_changes** changes = data->input_params) {
        for (int32_t q = 0, count = call(changes)->get_param_count(changes); q < count; q++) {
            v3_param_value_queue** queue = call(changes)->get_param_data(changes, q);
            if (!queue) continue;
            v3_param_id id = call(queue)->get_param_id(queue);
            for (int32_t k = 0, points = call(queue)->get_point_count(queue); k < points && n < kInputs; k++) {
                Input& in = inputs[n];
                if (call(queue)->get_point(queue, k, &in.frame, &in.value) != V3_OK) continue;
                in.order = n++;
                in.id = id;
                in.note = false;
            }
        }
    }
    if (v3_event_list** events = data->input_events) {
        v3_event ev;
        for (uint32_t k = 0, count = call(events)->get_event_count(events); k < count && n < kInputs; k++) {
            if (call(events)->get_event(events, static_cast<int32_t>(k), &ev) != V3_OK) continue;
            Input& in = inputs[n];
            if (ev.type == V3_EVENT_NOTE_ON) in = {ev.sample_offset, 0, 0, ev.note_on.velocity, true, true, ev.note_on.channel, ev.note_on.pitch};
            else if (ev.type == V3_EVENT_NOTE_OFF) in = {ev.sample_offset, 0, 0, ev.note_off.velocity, true, false, ev.note_off.channel, ev.note_off.pitch};
            else continue;
            in.order = kInputs + n++;  // after the parameters at the same frame
        }
    }
    std::sort(inputs, inputs + n, [](const Input& a, const Input& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.order < b.order;
    });
    uint32_t frames = data->nframes > 0 ? static_cast<uint32_t>(data->nframes) : 0;
    if (frames == 0) {  // a flush: the parameters' values only, for the next block
        for (int k = 0; k < n; k++)
            if (!inputs[k].note) setValueOf(this, inputs[k].id, inputs[k].value);
        return;
    }
    core.begin();
    for (int k = 0; k < n; k++) input(inputs[k], frames);
    if (data->num_output_buses < 1 || !data->outputs || data->outputs[0].num_channels < 2) return;
    float** out = data->outputs[0].channel_buffers_32;
    if (!out || !out[0] || !out[1]) return;
    core.render(out[0], out[1], frames);
    data->outputs[0].channel_silence_bitset = 0;
    sendTuned(data->output_events);
}

// A tuned note's MIDI message as the VST3 event that carries it: notes as
// note events (velocity / 127, no note id), key pressure as such,
// controllers, the bend, channel pressure and the program change as MIDI
// controller output, a tuning change as system exclusive (its bytes stay
// where they are until the next block).
v3_event eventOf(const TunedNotes::Message& m, uint32_t frame) {
    v3_event e{};
    e.sample_offset = static_cast<int32_t>(frame);
    const uint8_t* b = m.bytes;
    int8_t channel = static_cast<int8_t>(b[0] & 15);
    auto controller = [&](int number, int value, int value2) {
        e.type = V3_EVENT_LEGACY_MIDI_CC_OUT;
        e.midi_cc_out = {static_cast<uint8_t>(number), channel, static_cast<int8_t>(value), static_cast<int8_t>(value2)};
    };
    switch (m.length < 2 ? 0 : b[0] & 0xf0) {
    case 0x90:
        if (m.length == 3 && b[2]) {
            e.type = V3_EVENT_NOTE_ON;
            e.note_on = {channel, b[1], 0, b[2] / 127.0f, 0, -1};
            break;
        }
        [[fallthrough]];
    case 0x80:
        e.type = V3_EVENT_NOTE_OFF;
        e.note_off = {channel, b[1], m.length == 3 ? b[2] / 127.0f : 0, -1, 0};
        break;
    case 0xa0:
        e.type = V3_EVENT_POLY_PRESSURE;
        e.poly_pressure = {channel, b[1], m.length == 3 ? b[2] / 127.0f : 0, -1};
        break;
    case 0xb0: controller(b[1], m.length == 3 ? b[2] : 0, 0); break;
    case 0xc0: controller(kProgramChange, b[1], 0); break;
    case 0xd0: controller(kAftertouch, b[1], 0); break;
    case 0xe0: controller(kPitchBend, b[1], m.length == 3 ? b[2] : 0); break;
    default:
        e.type = V3_EVENT_DATA;
        e.data = {static_cast<uint32_t>(m.length), 0, m.bytes};  // type 0: system exclusive
        break;
    }
    return e;
}

// The tuned notes due in the block, on the event output bus at their
// frames. Without the bus (a host that turned it off) they are dropped;
// what the host's list refuses waits for the next block.
void Plugin::sendTuned(v3_event_list** out) {
    uint32_t frame;
    const TunedNotes::Message* m;
    while (core.nextTuned(frame, m)) {
        if (out) {
            v3_event e = eventOf(*m, frame);
            if (call(out)->add_event(out, &e) != V3_OK) return;
        }
        core.popTuned();
    }
}

void Plugin::input(const Input& in, uint32_t frames) {
    uint32_t frame = in.frame < 0 ? 0 : static_cast<uint32_t>(in.frame) < frames ? static_cast<uint32_t>(in.frame) : frames - 1;
    if (in.note) {
        if (in.pitch >= 0 && in.pitch < 128) core.note(frame, in.on, in.channel, in.pitch, in.value);
        return;
    }
    int place = 0;
    int kind = kindOf(in.id, place);
    double x = in.value;
    if (!normal(x)) return;
    if (kind >= 0) {
        core.paramEvent(kind, params::fromNormal(kind, x), frame);
        return;
    }
    if (kind != -2) return;  // the program change acts through the controller, off this thread
    // Hosts send parameters' values again as they please (Ardour all that
    // are not 0 when it starts): a controller that keeps a value acts only
    // when it changes; all notes off and reset all controllers act always.
    int channel = channelOf(place), cc = controllerOf(place);
    if (midiValues[place].exchange(x, std::memory_order_relaxed) == x && cc != 121 && cc != 123) return;
    int v = static_cast<int>(toPlain(in.id, x));
    uint8_t m[3] = {static_cast<uint8_t>(0xb0 | channel), static_cast<uint8_t>(cc), static_cast<uint8_t>(v)};
    if (cc == kPitchBend) m[0] = static_cast<uint8_t>(0xe0 | channel), m[1] = v & 0x7f, m[2] = static_cast<uint8_t>(v >> 7);
    if (cc == kProgramChange) m[0] = static_cast<uint8_t>(0xc0 | channel), m[1] = static_cast<uint8_t>(v);
    core.midi(frame, m, cc == kProgramChange ? 2 : 3);
}

// --- The window ---------------------------------------------------------------

// The window as the host's plugin view; it keeps its plugin alive.
struct View {
    explicit View(Plugin* plugin);
    ~View() {
        removed();
        if (frame) v3_cpp_obj_unref(frame);
        plugin->unref();
    }

    Face view, timer, connection;
    std::atomic<uint32_t> refs{1};
    Plugin* plugin;
    v3_plugin_frame** frame = nullptr;
    v3_run_loop** loop = nullptr;

    uint32_t unref() {
        uint32_t left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HostedInstrument& core() { return plugin->core; }

    v3_result attached(void* parent) {
        if (!core().openWindow(reinterpret_cast<uintptr_t>(parent))) return V3_FALSE;
        if (frame && v3_cpp_obj_query_interface(frame, v3_run_loop_iid, &loop) == V3_OK && loop) {
            call(loop)->register_timer(loop, reinterpret_cast<v3_timer_handler**>(&timer), kTimerMs);
            call(loop)->register_event_handler(loop, reinterpret_cast<v3_event_handler**>(&connection),
                                               core().windowConnection());
        } else {
            loop = nullptr;
        }
        return V3_OK;
    }
    v3_result removed() {
        if (loop) {
            call(loop)->unregister_timer(loop, reinterpret_cast<v3_timer_handler**>(&timer));
            call(loop)->unregister_event_handler(loop, reinterpret_cast<v3_event_handler**>(&connection));
            v3_cpp_obj_unref(loop);
            loop = nullptr;
        }
        core().closeWindow();
        return V3_OK;
    }
};

v3_result V3_API queryView(void* self, const v3_tuid iid, void** out) {
    View* v = owner<View>(self);
    Face* face = nullptr;
    if (same(iid, v3_funknown_iid) || same(iid, v3_plugin_view_iid)) face = &v->view;
    else if (same(iid, v3_timer_handler_iid)) face = &v->timer;
    else if (same(iid, v3_event_handler_iid)) face = &v->connection;
    *out = face;
    if (!face) return V3_NO_INTERFACE;
    ++v->refs;
    return V3_OK;
}
uint32_t V3_API refView(void* self) { return ++owner<View>(self)->refs; }
uint32_t V3_API unrefView(void* self) { return owner<View>(self)->unref(); }

v3_result V3_API viewSize(void* self, v3_view_rect* rect) {
    uint32_t w = 0, h = 0;
    owner<View>(self)->core().windowSize(w, h);
    *rect = v3_view_rect{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
    return V3_OK;
}

const v3_plugin_view_cpp kView = {
    {queryView, refView, unrefView},
    {
        [](void*, const char* type) -> v3_result {
            return type && !std::strcmp(type, V3_VIEW_PLATFORM_TYPE_X11) ? V3_OK : V3_FALSE;
        },
        [](void* self, void* parent, const char* type) -> v3_result {
            if (!type || std::strcmp(type, V3_VIEW_PLATFORM_TYPE_X11) != 0) return V3_FALSE;
            return owner<View>(self)->attached(parent);
        },
        [](void* self) -> v3_result { return owner<View>(self)->removed(); },
        [](void*, float) -> v3_result { return V3_FALSE; },
        [](void*, int16_t, int16_t, int16_t) -> v3_result { return V3_FALSE; },  // keys come from X
        [](void*, int16_t, int16_t, int16_t) -> v3_result { return V3_FALSE; },
        viewSize,
        [](void* self, v3_view_rect* rect) -> v3_result {
            owner<View>(self)->core().resizeWindow(static_cast<uint32_t>(std::max(rect->right - rect->left, 0)),
                                                   static_cast<uint32_t>(std::max(rect->bottom - rect->top, 0)));
            return V3_OK;
        },
        [](void*, v3_bool) -> v3_result { return V3_OK; },
        [](void* self, v3_plugin_frame** frame) { return hold(owner<View>(self)->frame, frame); },
        [](void*) -> v3_result { return V3_OK; },
        [](void*, v3_view_rect* rect) -> v3_result {
            rect->right = std::max(rect->right, rect->left + static_cast<int32_t>(EmbeddedWindow::kSmallest));
            rect->bottom = std::max(rect->bottom, rect->top + static_cast<int32_t>(EmbeddedWindow::kSmallest));
            return V3_OK;
        },
    }};

const v3_timer_handler_cpp kTimer = {{queryView, refView, unrefView}, {[](void* self) {
                                          owner<View>(self)->core().tick();
                                          owner<View>(self)->plugin->tellLatency();
                                      }}};
const v3_event_handler_cpp kConnection = {{queryView, refView, unrefView},
                                          {[](void* self, int) { owner<View>(self)->core().tick(); }}};

View::View(Plugin* plugin) : view{&kView, this}, timer{&kTimer, this}, connection{&kConnection, this}, plugin(plugin) {
    plugin->ref();
}

v3_plugin_view** V3_API createView(void* self, const char* name) {
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    return reinterpret_cast<v3_plugin_view**>(&(new View(owner<Plugin>(self)))->view);
}

// --- The factory ---------------------------------------------------------------

// The class as the three versions of the factory describe it.
template <class Info>
v3_result classInfo(int32_t index, Info* info) {
    if (index != 0) return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->class_id, kClassId, sizeof(v3_tuid));
    info->cardinality = 0x7fffffff;
    text(info->category, "Audio Module Class");
    text(info->name, kName);
    if constexpr (!std::is_same_v<Info, v3_class_info>) {
        text(info->sub_categories, "Instrument|Synth");
        text(info->vendor, kName);
        text(info->version, QUORVANEL_VERSION);
        text(info->sdk_version, "VST 3.7.4");
    }
    return V3_OK;
}

v3_result V3_API queryFactory(void* self, const v3_tuid iid, void** out) {
    bool known = same(iid, v3_funknown_iid) || same(iid, v3_plugin_factory_iid) || same(iid, v3_plugin_factory_2_iid) ||
                 same(iid, v3_plugin_factory_3_iid);
    *out = known ? self : nullptr;
    return known ? V3_OK : V3_NO_INTERFACE;
}

const v3_plugin_factory_cpp kFactoryTable = {
    {queryFactory, [](void*) -> uint32_t { return 1; }, [](void*) -> uint32_t { return 1; }},
    {
        [](void*, v3_factory_info* info) -> v3_result {
            std::memset(info, 0, sizeof *info);
            std::snprintf(info->vendor, sizeof info->vendor, "%s", kName);
            info->flags = 0x10;
            return V3_OK;
        },
        [](void*) -> int32_t { return 1; },
        [](void*, int32_t index, v3_class_info* info) { return classInfo(index, info); },
        [](void*, const v3_tuid id, const v3_tuid iid, void** out) -> v3_result {
            *out = nullptr;
            if (!same(id, kClassId)) return V3_NO_INTERFACE;
            Plugin* p = new Plugin();
            if (p->query(iid, out) == V3_OK) return V3_OK;
            delete p;
            return V3_NO_INTERFACE;
        },
    },
    {[](void*, int32_t index, v3_class_info_2* info) { return classInfo(index, info); }},
    {
        [](void*, int32_t index, v3_class_info_3* info) { return classInfo(index, info); },
        [](void*, v3_funknown**) -> v3_result { return V3_OK; },
    }};

struct {
    const v3_plugin_factory_cpp* table;
} factory{&kFactoryTable};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void* GetPluginFactory() { return &factory; }
__attribute__((visibility("default"))) bool ModuleEntry(void*) { return true; }
__attribute__((visibility("default"))) bool ModuleExit() { return true; }
}
