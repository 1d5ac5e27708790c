// A small CLAP host for the plugin's tests, beside the lilv one (Host.h):
// loads build/clap/quorvanel.clap, makes an instance at a rate, runs
// blocks of the same inputs the LV2 host takes (MIDI as MIDI events or,
// when asked, note ons and offs as CLAP notes; a control value as the
// parameter of the same place, at the block's first frame), keeps the MIDI
// of its output note port when asked (as the LV2 host keeps its MIDI
// output), saves and loads the state through memory streams, and opens
// the window in an X11 window of the test's, whose timer the test runs.
#pragma once

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>

#include "fuzz/ClapBlock.h"
#include "plugin/Host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace claphost {

using lv2host::Input;

class Instance {
public:
    static constexpr uint32_t kMaxBlock = 8192;

    explicit Instance(double rate, bool notes = false) : notes(notes) {
        static void* lib = dlopen(QUORVANEL_BINARY_DIR "/clap/quorvanel.clap", RTLD_NOW | RTLD_LOCAL);
        static const clap_plugin_entry_t* entry =
            lib ? static_cast<const clap_plugin_entry_t*>(dlsym(lib, "clap_entry")) : nullptr;
        static bool ready = entry && entry->init(QUORVANEL_BINARY_DIR "/clap/quorvanel.clap");
        if (!ready) return;
        const auto* factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
        host.host_data = this;
        plugin = factory->create_plugin(factory, &host, factory->get_plugin_descriptor(factory, 0)->id);
        if (!plugin || !plugin->init(plugin) || !plugin->activate(plugin, rate, 1, kMaxBlock) ||
            !plugin->start_processing(plugin)) {
            plugin = nullptr;
            return;
        }
        params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
        gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
        left.assign(kMaxBlock, 0);
        right.assign(kMaxBlock, 0);
        events.reserve(4096);
        inEvents.ctx = this;
        inEvents.size = [](const clap_input_events_t* l) {
            return static_cast<uint32_t>(of(l)->raw.empty() ? of(l)->events.size() : of(l)->raw.size());
        };
        inEvents.get = [](const clap_input_events_t* l, uint32_t k) -> const clap_event_header_t* {
            if (of(l)->raw.empty()) return &of(l)->events[k].header;
            return reinterpret_cast<const clap_event_header_t*>(of(l)->raw[k].data());
        };
        outEvents.ctx = this;
        outEvents.try_push = [](const clap_output_events_t* l, const clap_event_header_t* h) {
            Instance* self = static_cast<Instance*>(l->ctx);
            if (!self->keepTuned) return true;
            uint64_t at = self->frames + h->time;
            if (h->type == CLAP_EVENT_MIDI) {
                const auto* m = reinterpret_cast<const clap_event_midi_t*>(h);
                self->tuned.push_back({at, {m->data, m->data + ((m->data[0] & 0xe0) == 0xc0 ? 2 : 3)}});
            } else if (h->type == CLAP_EVENT_MIDI_SYSEX) {
                const auto* m = reinterpret_cast<const clap_event_midi_sysex_t*>(h);
                self->tuned.push_back({at, {m->buffer, m->buffer + m->size}});
            }
            return true;
        };
    }
    ~Instance() {
        if (!plugin) return;
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool ok() const { return plugin != nullptr; }

    uint32_t latency() const {
        const auto* l = static_cast<const clap_plugin_latency_t*>(plugin->get_extension(plugin, CLAP_EXT_LATENCY));
        return l->get(plugin);
    }

    // As lv2host::Instance::block.
    void block(uint32_t n, const std::vector<Input>& inputs, std::vector<float>& outLeft, std::vector<float>& outRight) {
        prepare(n, inputs);
        run(n);
        outLeft.insert(outLeft.end(), left.begin(), left.begin() + n);
        outRight.insert(outRight.end(), right.begin(), right.begin() + n);
    }

    void prepare(uint32_t, const std::vector<Input>& inputs) {
        events.clear();
        for (const Input& i : inputs) {
            Event e{};
            e.header.time = i.frame;
            e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
            uint8_t status = i.midi.empty() ? 0 : i.midi[0] & 0xf0;
            if (i.port >= 0) {
                e.header.size = sizeof e.param;
                e.header.type = CLAP_EVENT_PARAM_VALUE;
                e.param.param_id = static_cast<clap_id>(i.port);
                e.param.note_id = -1;
                e.param.value = i.value;
            } else if (notes && i.midi.size() == 3 && (status == 0x90 || status == 0x80)) {
                e.header.size = sizeof e.note;
                e.header.type = status == 0x90 && i.midi[2] ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF;
                e.note = {e.header, -1, 0, static_cast<int16_t>(i.midi[0] & 15), i.midi[1], i.midi[2] / 127.0};
            } else {
                e.header.size = sizeof e.midi;
                e.header.type = CLAP_EVENT_MIDI;
                std::memcpy(e.midi.data, i.midi.data(), i.midi.size() < 3 ? i.midi.size() : 3);
            }
            events.push_back(e);
        }
    }

    void run(uint32_t n) {
        processBlock(plugin, left.data(), right.data(), n, &inEvents, &outEvents);
        frames += n;
    }

    // Events as a host may hand them in, each in an allocation exactly as
    // long as it is: to process() in a block of `n` frames, or (`n` 0) to
    // the parameters' flush.
    void send(uint32_t n, const std::vector<std::vector<uint8_t>>& bytes) {
        raw = bytes;
        if (n) run(n);
        else params->flush(plugin, &inEvents, &outEvents);
        raw.clear();
    }

    std::string save() {
        std::string blob;
        clap_ostream_t out{&blob, [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
                               static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(data), size);
                               return static_cast<int64_t>(size);
                           }};
        return state->save(plugin, &out) ? blob : "";
    }

    // Read back a few bytes at a time, as a stream from a file may give them.
    bool load(const std::string& blob) {
        struct Reader {
            const std::string* blob;
            size_t at;
        } reader{&blob, 0};
        clap_istream_t in{&reader, [](const clap_istream_t* s, void* data, uint64_t size) -> int64_t {
                              auto* r = static_cast<Reader*>(s->ctx);
                              size_t n = std::min<size_t>({size, 1000, r->blob->size() - r->at});
                              std::memcpy(data, r->blob->data() + r->at, n);
                              r->at += n;
                              return static_cast<int64_t>(n);
                          }};
        return state->load(plugin, &in);
    }

    double value(clap_id id) const {
        double v = -1;
        params->get_value(plugin, id, &v);
        return v;
    }

    // The window inside `parent`, and the host's timer for it.
    bool openWindow(unsigned long parent) {
        clap_window_t w{CLAP_WINDOW_API_X11, {}};
        w.x11 = parent;
        return gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, false) && gui->create(plugin, CLAP_WINDOW_API_X11, false) &&
               gui->set_parent(plugin, &w) && gui->show(plugin);
    }
    void tick() {
        const auto* t = static_cast<const clap_plugin_timer_support_t*>(plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
        if (timers) t->on_timer(plugin, 0);
    }
    void closeWindow() { gui->destroy(plugin); }

    const clap_plugin_t* plugin = nullptr;
    std::vector<float> left, right;
    int timers = 0;       // registered by the plugin
    int callbacks = 0;    // main-thread calls it asked for
    int restarts = 0;     // restarts it asked for (to tell a new latency)
    bool keepTuned = false;
    std::vector<lv2host::Instance::Tuned> tuned;  // the output's MIDI, at frames counted from the first block
    uint64_t frames = 0;

private:
    union Event {
        clap_event_header_t header;
        clap_event_midi_t midi;
        clap_event_note_t note;
        clap_event_param_value_t param;
    };
    static Instance* of(const clap_input_events_t* l) { return static_cast<Instance*>(l->ctx); }
    static Instance* of(const clap_host_t* h) { return static_cast<Instance*>(h->host_data); }

    const void* extension(const char* id) {
        static const clap_host_timer_support_t timer = {
            [](const clap_host_t* h, uint32_t, clap_id* id) {
                *id = 0;
                return ++of(h)->timers == 1;
            },
            [](const clap_host_t* h, clap_id) {
                of(h)->timers--;
                return true;
            }};
        return !std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) ? &timer : nullptr;
    }

    bool notes;
    clap_host_t host{CLAP_VERSION_INIT,
                     nullptr,
                     "quorvanel tests",
                     "quorvanel",
                     "",
                     "1",
                     [](const clap_host_t* h, const char* id) { return of(h)->extension(id); },
                     [](const clap_host_t* h) { of(h)->restarts++; },
                     [](const clap_host_t*) {},
                     [](const clap_host_t* h) { of(h)->callbacks++; }};
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_gui_t* gui = nullptr;
    std::vector<Event> events;
    std::vector<std::vector<uint8_t>> raw;
    clap_input_events_t inEvents{};
    clap_output_events_t outEvents{};
};

}  // namespace claphost
