// The instrument as a CLAP plugin (quorvanel.clap): a note port that takes
// MIDI and CLAP notes, a stereo output, a note port that sends the tuned
// notes as MIDI (the LV2's midi_out), the parameters of Parameters.h, the
// latency, the state, and the window embedded in the host's X11 window and
// serviced from the host's timer. Everything else is HostedInstrument's.
// The CLAP headers are those of Debian's dpf-source (CLAP 1.1).
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>

#include "plugin/HostedInstrument.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifndef QUORVANEL_PLUGIN_ID
#define QUORVANEL_PLUGIN_ID "urn:quorvanel:instrument"
#endif

namespace {

constexpr uint32_t kTimerMs = 30;

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER,
                                  CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT, QUORVANEL_PLUGIN_ID, "quorvanel", "quorvanel", "", "", "", QUORVANEL_VERSION,
    "A just-intonation synthesizer: ratios of whole numbers up to 255, four voices per situation "
    "frequency-modulating each other, ten banks.",
    const_cast<const char**>(kFeatures)};

struct Plugin {
    clap_plugin_t clap;
    const clap_host_t* host;
    const clap_host_timer_support_t* timers = nullptr;
    clap_id timer = CLAP_INVALID_ID;
    HostedInstrument core;
};

Plugin* of(const clap_plugin_t* p) { return static_cast<Plugin*>(p->plugin_data); }

// The length of a MIDI message by its status byte (0 for system exclusive,
// which the instrument does not take).
uint32_t midiLength(uint8_t status) {
    if (status < 0xf0) return (status & 0xe0) == 0xc0 ? 2 : 3;
    if (status == 0xf1 || status == 0xf3) return 2;
    if (status == 0xf2) return 3;
    return status == 0xf0 || status == 0xf7 ? 0 : 1;
}

// The bytes an event of `type` needs to be read as one; 0 for a type not
// taken.
uint32_t sizeOf(uint16_t type) {
    switch (type) {
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF: return sizeof(clap_event_note_t);
    case CLAP_EVENT_MIDI: return sizeof(clap_event_midi_t);
    case CLAP_EVENT_PARAM_VALUE: return sizeof(clap_event_param_value_t);
    default: return 0;
    }
}

// One input event at `frame`; `live` false: parameter events alone (a
// flush outside process, taken at the next block). An event that is
// shorter than its type (header.size) is skipped, and so is a parameter
// value that is not a number.
void take(Plugin* p, const clap_event_header_t* h, uint32_t frame, bool live) {
    if (!h || h->size < sizeof *h || h->space_id != CLAP_CORE_EVENT_SPACE_ID) return;
    if (!sizeOf(h->type) || h->size < sizeOf(h->type)) return;
    switch (h->type) {
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF: {
        const auto* n = reinterpret_cast<const clap_event_note_t*>(h);
        if (live && n->key >= 0 && n->key < 128)
            p->core.note(frame, h->type == CLAP_EVENT_NOTE_ON, n->channel < 0 ? 0 : n->channel, n->key, n->velocity);
        break;
    }
    case CLAP_EVENT_MIDI: {
        const auto* m = reinterpret_cast<const clap_event_midi_t*>(h);
        uint32_t length = midiLength(m->data[0]);
        if (live && length) p->core.midi(frame, m->data, length);
        break;
    }
    case CLAP_EVENT_PARAM_VALUE: {
        const auto* v = reinterpret_cast<const clap_event_param_value_t*>(h);
        int k = params::indexOf(v->param_id);
        if (k < 0) break;
        if (live) p->core.paramEvent(k, v->value, frame);
        else p->core.setValue(k, v->value);
        break;
    }
    default: break;
    }
}

// The tuned notes due in the block, each at its frame on the output note
// port: three bytes or fewer as a MIDI event, a tuning change as system
// exclusive (its bytes stay where they are until the next block). What the
// host does not take waits for the next block, as the LV2's full port
// keeps it.
void sendTuned(Plugin* p, const clap_output_events_t* out) {
    uint32_t frame;
    const TunedNotes::Message* m;
    while (out && p->core.nextTuned(frame, m)) {
        clap_event_header_t header{0, frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
        bool taken;
        if (m->length <= 3) {
            clap_event_midi_t e{header, 0, {}};
            e.header.size = sizeof e;
            std::memcpy(e.data, m->bytes, static_cast<size_t>(m->length));
            taken = out->try_push(out, &e.header);
        } else {
            clap_event_midi_sysex_t e{header, 0, m->bytes, static_cast<uint32_t>(m->length)};
            e.header.size = sizeof e;
            e.header.type = CLAP_EVENT_MIDI_SYSEX;
            taken = out->try_push(out, &e.header);
        }
        if (!taken) break;
        p->core.popTuned();
    }
}

clap_process_status process(const clap_plugin_t* plugin, const clap_process_t* process) {
    Plugin* p = of(plugin);
    uint32_t n = process->frames_count;
    p->core.begin();
    const clap_input_events_t* in = process->in_events;
    for (uint32_t k = 0, count = in ? in->size(in) : 0; k < count; k++) {
        const clap_event_header_t* h = in->get(in, k);
        if (h && h->size >= sizeof *h) take(p, h, h->time < n ? h->time : n ? n - 1 : 0, true);
    }
    if (process->audio_outputs_count < 1 || process->audio_outputs[0].channel_count < 2 ||
        !process->audio_outputs[0].data32)
        return CLAP_PROCESS_ERROR;
    float** out = process->audio_outputs[0].data32;
    if (p->core.render(out[0], out[1], n)) p->host->request_callback(p->host);
    sendTuned(p, process->out_events);
    // A new pitch of 1/1 moved the latency: the host reads it when it
    // activates the plugin again.
    if (p->core.latencyToTell()) p->host->request_restart(p->host);
    return CLAP_PROCESS_CONTINUE;
}

// --- Extensions --------------------------------------------------------

uint32_t paramCount(const clap_plugin_t*) { return params::kCount; }

bool paramInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info) {
    if (index >= static_cast<uint32_t>(params::kCount)) return false;
    const params::Info& p = params::kList[index];
    std::memset(info, 0, sizeof *info);
    info->id = p.id;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (p.whole ? CLAP_PARAM_IS_STEPPED : 0);
    std::snprintf(info->name, sizeof info->name, "%s", p.name);
    info->min_value = p.min;
    info->max_value = p.max;
    info->default_value = p.start;
    return true;
}

bool paramValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    int k = params::indexOf(id);
    if (k < 0) return false;
    *value = of(plugin)->core.value(k);
    return true;
}

bool paramText(const clap_plugin_t*, clap_id id, double value, char* text, uint32_t size) {
    int k = params::indexOf(id);
    if (k < 0 || size == 0) return false;
    std::snprintf(text, size, "%g", params::clamp(k, value));
    return true;
}

bool paramFromText(const clap_plugin_t*, clap_id id, const char* text, double* value) {
    int k = params::indexOf(id);
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (k < 0 || end == text) return false;
    *value = params::clamp(k, v);
    return true;
}

void paramFlush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t*) {
    for (uint32_t k = 0, count = in ? in->size(in) : 0; k < count; k++) take(of(plugin), in->get(in, k), 0, false);
}

bool stateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    std::string blob;
    if (!of(plugin)->core.save(blob)) return false;
    for (size_t done = 0; done < blob.size();) {
        int64_t n = stream->write(stream, blob.data() + done, blob.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool stateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    std::string blob;
    char chunk[4096];
    for (int64_t n; (n = stream->read(stream, chunk, sizeof chunk)) != 0;) {
        if (n < 0) return false;
        blob.append(chunk, static_cast<size_t>(n));
    }
    std::string why;
    if (of(plugin)->core.load(blob.data(), blob.size(), why)) return true;
    std::fprintf(stderr, "quorvanel: cannot restore the instrument: %s\n", why.c_str());
    return false;
}

uint32_t latency(const clap_plugin_t* plugin) { return of(plugin)->core.latency(); }

uint32_t audioPorts(const clap_plugin_t*, bool input) { return input ? 0 : 1; }

bool audioPort(const clap_plugin_t*, uint32_t index, bool input, clap_audio_port_info_t* info) {
    if (input || index != 0) return false;
    std::memset(info, 0, sizeof *info);
    info->id = 0;
    std::snprintf(info->name, sizeof info->name, "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

// One note port each way: MIDI and CLAP notes in; the tuned notes out, as
// MIDI.
uint32_t notePorts(const clap_plugin_t*, bool) { return 1; }

bool notePort(const clap_plugin_t*, uint32_t index, bool input, clap_note_port_info_t* info) {
    if (index != 0) return false;
    std::memset(info, 0, sizeof *info);
    info->id = input ? 0 : 1;
    info->supported_dialects = input ? CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI : CLAP_NOTE_DIALECT_MIDI;
    info->preferred_dialect = CLAP_NOTE_DIALECT_MIDI;
    std::snprintf(info->name, sizeof info->name, "%s", input ? "MIDI in" : "Tuned notes");
    return true;
}

// The window: embedded in an X11 window, made when the host gives it.
bool guiSupported(const clap_plugin_t*, const char* api, bool floating) {
    return api && !std::strcmp(api, CLAP_WINDOW_API_X11) && !floating;
}
bool guiPreferred(const clap_plugin_t*, const char** api, bool* floating) {
    *api = CLAP_WINDOW_API_X11;
    *floating = false;
    return true;
}
bool guiCreate(const clap_plugin_t* plugin, const char* api, bool floating) {
    return guiSupported(plugin, api, floating);
}
void guiDestroy(const clap_plugin_t* plugin) {
    Plugin* p = of(plugin);
    if (p->timers && p->timer != CLAP_INVALID_ID) p->timers->unregister_timer(p->host, p->timer);
    p->timer = CLAP_INVALID_ID;
    p->core.closeWindow();
}
bool guiScale(const clap_plugin_t*, double) { return false; }
bool guiSize(const clap_plugin_t* plugin, uint32_t* w, uint32_t* h) {
    of(plugin)->core.windowSize(*w, *h);
    return true;
}
bool guiCanResize(const clap_plugin_t*) { return true; }
bool guiHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
    *hints = clap_gui_resize_hints_t{true, true, false, 0, 0};
    return true;
}
bool guiAdjust(const clap_plugin_t*, uint32_t* w, uint32_t* h) {
    if (*w < EmbeddedWindow::kSmallest) *w = EmbeddedWindow::kSmallest;
    if (*h < EmbeddedWindow::kSmallest) *h = EmbeddedWindow::kSmallest;
    return true;
}
bool guiSetSize(const clap_plugin_t* plugin, uint32_t w, uint32_t h) {
    of(plugin)->core.resizeWindow(w, h);
    return true;
}
bool guiParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    Plugin* p = of(plugin);
    if (!window || !window->api || std::strcmp(window->api, CLAP_WINDOW_API_X11) != 0) return false;
    if (!p->core.openWindow(window->x11)) return false;
    if (p->timers && p->timer == CLAP_INVALID_ID && !p->timers->register_timer(p->host, kTimerMs, &p->timer))
        p->timer = CLAP_INVALID_ID;
    return true;
}
bool guiTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void guiTitle(const clap_plugin_t*, const char*) {}
bool guiShow(const clap_plugin_t* plugin, bool shown) {
    of(plugin)->core.showWindow(shown);
    return true;
}

void onTimer(const clap_plugin_t* plugin, clap_id) { of(plugin)->core.tick(); }

const void* extension(const clap_plugin_t*, const char* id) {
    static const clap_plugin_params_t parameters = {paramCount, paramInfo, paramValue, paramText, paramFromText, paramFlush};
    static const clap_plugin_state_t state = {stateSave, stateLoad};
    static const clap_plugin_latency_t latencies = {latency};
    static const clap_plugin_audio_ports_t audio = {audioPorts, audioPort};
    static const clap_plugin_note_ports_t notes = {notePorts, notePort};
    static const clap_plugin_gui_t gui = {
        guiSupported, guiPreferred, guiCreate, guiDestroy, guiScale, guiSize, guiCanResize, guiHints, guiAdjust,
        guiSetSize, guiParent, guiTransient, guiTitle, [](const clap_plugin_t* p) { return guiShow(p, true); },
        [](const clap_plugin_t* p) { return guiShow(p, false); }};
    static const clap_plugin_timer_support_t timer = {onTimer};
    if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &parameters;
    if (!std::strcmp(id, CLAP_EXT_STATE)) return &state;
    if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &latencies;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &audio;
    if (!std::strcmp(id, CLAP_EXT_NOTE_PORTS)) return &notes;
    if (!std::strcmp(id, CLAP_EXT_GUI)) return &gui;
    if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &timer;
    return nullptr;
}

// --- The plugin and its factory ------------------------------------------

const clap_plugin_t* create(const clap_host_t* host) {
    Plugin* p = new Plugin{{}, host, nullptr, CLAP_INVALID_ID, {}};
    p->clap.desc = &kDescriptor;
    p->clap.plugin_data = p;
    p->clap.init = [](const clap_plugin_t* plugin) {
        Plugin* q = of(plugin);
        q->timers = static_cast<const clap_host_timer_support_t*>(q->host->get_extension(q->host, CLAP_EXT_TIMER_SUPPORT));
        return true;
    };
    p->clap.destroy = [](const clap_plugin_t* plugin) {
        guiDestroy(plugin);
        delete of(plugin);
    };
    p->clap.activate = [](const clap_plugin_t* plugin, double rate, uint32_t, uint32_t) {
        of(plugin)->core.activate(rate);
        return true;
    };
    p->clap.deactivate = [](const clap_plugin_t*) {};
    p->clap.start_processing = [](const clap_plugin_t*) { return true; };
    p->clap.stop_processing = [](const clap_plugin_t*) {};
    p->clap.reset = [](const clap_plugin_t*) {};
    p->clap.process = process;
    p->clap.get_extension = extension;
    p->clap.on_main_thread = [](const clap_plugin_t* plugin) { of(plugin)->core.tidy(); };
    return &p->clap;
}

const clap_plugin_factory_t kFactory = {
    [](const clap_plugin_factory_t*) -> uint32_t { return 1; },
    [](const clap_plugin_factory_t*, uint32_t index) { return index == 0 ? &kDescriptor : nullptr; },
    [](const clap_plugin_factory_t*, const clap_host_t* host, const char* id) -> const clap_plugin_t* {
        if (!id || std::strcmp(id, kDescriptor.id) != 0 || !clap_version_is_compatible(host->clap_version)) return nullptr;
        return create(host);
    }};

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {
    CLAP_VERSION_INIT, [](const char*) { return true; }, [] {},
    [](const char* id) -> const void* { return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) ? nullptr : &kFactory; }};
