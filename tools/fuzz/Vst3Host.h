// A small VST3 host on the plain C interface of dpf-source ("travesty"),
// for the VST3 fuzzer and the plugin's tests: makes the one class of a
// factory, activates it at a rate, runs blocks with a host's parameter
// points and note events and takes the events the plugin sends, calls the
// edit controller's parameter functions as a host's UI thread does, asks
// which parameter a MIDI controller is, and hands states in and out
// through memory streams. The host's objects (parameter changes, their queues, the event
// list, the streams) are plain tables of functions over this host's data;
// the plugin holds none of them past a call, so none counts references.
#pragma once

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/events.h>
#include <travesty/factory.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace vst3host {

// One point of a parameter's queue in a block.
struct Point {
    v3_param_id id;
    int32_t frame;
    double value;
};

class Instance {
public:
    static constexpr int32_t kMaxBlock = 4096;

    // `factory`: what the module's GetPluginFactory gives.
    Instance(void* factory, double rate) : left(kMaxBlock), right(kMaxBlock) {
        auto** f = static_cast<v3_plugin_factory_cpp**>(factory);
        v3_class_info info;
        if (!f || (*f)->v1.get_class_info(f, 0, &info) != V3_OK ||
            (*f)->v1.create_instance(f, info.class_id, v3_component_iid, reinterpret_cast<void**>(&component)) != V3_OK)
            return;
        (*component)->query_interface(component, v3_audio_processor_iid, reinterpret_cast<void**>(&processor));
        (*component)->query_interface(component, v3_edit_controller_iid, reinterpret_cast<void**>(&controller));
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kMaxBlock, rate};
        (*component)->base.initialize(component, nullptr);
        (*processor)->proc.setup_processing(processor, &setup);
        (*component)->comp.set_active(component, 1);
        (*processor)->proc.set_processing(processor, 1);
    }
    ~Instance() {
        if (!ok()) return;
        (*processor)->proc.set_processing(processor, 0);
        (*component)->comp.set_active(component, 0);
        (*component)->base.terminate(component);
        (*controller)->unref(controller);
        (*processor)->unref(processor);
        (*component)->unref(component);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool ok() const { return component && processor && controller; }

    // One block of `n` frames (0: a flush of the parameters alone).
    void process(int32_t n, const std::vector<Point>& points, const std::vector<v3_event>& notes = {}) {
        changes.queues.clear();
        for (const Point& p : points) {
            auto q = std::find_if(changes.queues.begin(), changes.queues.end(), [&](const Queue& x) { return x.id == p.id; });
            if (q == changes.queues.end()) q = changes.queues.insert(changes.queues.end(), Queue{&kQueue, p.id, {}});
            q->points.push_back({p.frame, p.value});
        }
        events.events = notes;
        float* channels[2] = {left.data(), right.data()};
        v3_audio_bus_buffers out{};
        out.num_channels = 2;
        out.channel_buffers_32 = channels;
        v3_process_data d{};
        d.process_mode = V3_REALTIME;
        d.symbolic_sample_size = V3_SAMPLE_32;
        d.nframes = std::min(n, kMaxBlock);
        d.num_output_buses = 1;
        d.outputs = &out;
        d.input_params = reinterpret_cast<v3_param_changes**>(&changes);
        d.input_events = reinterpret_cast<v3_event_list**>(&events);
        sent.events.clear();
        d.output_events = reinterpret_cast<v3_event_list**>(&sent);
        (*processor)->proc.process(processor, &d);
    }

    // The events the plugin sent in the last block (a system exclusive's
    // bytes are the plugin's, until its next block).
    const std::vector<v3_event>& output() const { return sent.events; }

    // The parameter MIDI controller `cc` of `channel` is, as a host asks
    // the plugin's MIDI mapping (128 and up: VST3's aftertouch, bend and
    // program change); false when it is none.
    bool midiParameter(int16_t channel, int16_t cc, v3_param_id& id) {
        v3_midi_mapping_cpp** mapping = nullptr;
        if ((*component)->query_interface(component, v3_midi_mapping_iid, reinterpret_cast<void**>(&mapping)) != V3_OK)
            return false;
        bool found = (*mapping)->map.get_midi_controller_assignment(mapping, 0, channel, cc, &id) == V3_OK;
        (*mapping)->unref(mapping);
        return found;
    }

    // The edit controller's side, as a host's UI thread calls it.
    v3_result set(v3_param_id id, double x) { return (*controller)->ctrl.set_parameter_normalised(controller, id, x); }
    double normal(v3_param_id id) { return (*controller)->ctrl.get_parameter_normalised(controller, id); }
    double plain(v3_param_id id, double x) { return (*controller)->ctrl.normalised_parameter_to_plain(controller, id, x); }
    double normalOf(v3_param_id id, double v) { return (*controller)->ctrl.plain_parameter_to_normalised(controller, id, v); }
    // The text a value shows as (ASCII), or "" when it is refused.
    std::string text(v3_param_id id, double x) {
        v3_str_128 shown{};
        if ((*controller)->ctrl.get_parameter_string_for_value(controller, id, x, shown) != V3_OK) return "";
        std::string out;
        for (int k = 0; k < 128 && shown[k]; k++) out += static_cast<char>(shown[k]);
        return out;
    }
    v3_result valueOf(v3_param_id id, const std::string& typed, double& out) {
        std::vector<int16_t> wide(typed.begin(), typed.end());
        wide.push_back(0);
        return (*controller)->ctrl.get_parameter_value_for_string(controller, id, wide.data(), &out);
    }

    bool load(const std::string& blob) {
        Stream s{&kStream, blob, 0};
        return (*component)->comp.set_state(component, reinterpret_cast<v3_bstream**>(&s)) == V3_OK;
    }
    std::string save() {
        Stream s{&kStream, "", 0};
        return (*component)->comp.get_state(component, reinterpret_cast<v3_bstream**>(&s)) == V3_OK ? s.bytes : "";
    }

    std::vector<float> left, right;

private:
    // The host's objects: each starts with its table, as the plugin reads
    // them (the funknown's three functions, then the interface's).
    struct Queue {
        const v3_param_value_queue_cpp* table;
        v3_param_id id;
        std::vector<std::pair<int32_t, double>> points;
    };
    struct Changes {
        const v3_param_changes_cpp* table;
        std::vector<Queue> queues;
    };
    struct Events {
        const v3_event_list_cpp* table;
        std::vector<v3_event> events;
    };
    struct StreamTable : v3_funknown {
        v3_bstream stream;
    };
    struct Stream {
        const StreamTable* table;
        std::string bytes;
        size_t at;
    };

    template <class T>
    static T* of(void* self) {
        return static_cast<T*>(self);
    }
    static v3_result V3_API query(void*, const v3_tuid, void** out) {
        *out = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t V3_API one(void*) { return 1; }

    static inline const v3_param_value_queue_cpp kQueue = {
        {query, one, one},
        {[](void* self) { return of<Queue>(self)->id; },
         [](void* self) { return static_cast<int32_t>(of<Queue>(self)->points.size()); },
         [](void* self, int32_t k, int32_t* frame, double* value) -> v3_result {
             Queue* q = of<Queue>(self);
             if (k < 0 || k >= static_cast<int32_t>(q->points.size())) return V3_INVALID_ARG;
             *frame = q->points[k].first;
             *value = q->points[k].second;
             return V3_OK;
         },
         [](void*, int32_t, double, int32_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }}};
    static inline const v3_param_changes_cpp kChanges = {
        {query, one, one},
        {[](void* self) { return static_cast<int32_t>(of<Changes>(self)->queues.size()); },
         [](void* self, int32_t k) -> v3_param_value_queue** {
             Changes* c = of<Changes>(self);
             if (k < 0 || k >= static_cast<int32_t>(c->queues.size())) return nullptr;
             return reinterpret_cast<v3_param_value_queue**>(&c->queues[k]);
         },
         [](void*, v3_param_id*, int32_t*) -> v3_param_value_queue** { return nullptr; }}};
    static inline const v3_event_list_cpp kEvents = {
        {query, one, one},
        {[](void* self) { return static_cast<uint32_t>(of<Events>(self)->events.size()); },
         [](void* self, int32_t k, v3_event* out) -> v3_result {
             Events* e = of<Events>(self);
             if (k < 0 || k >= static_cast<int32_t>(e->events.size())) return V3_INVALID_ARG;
             *out = e->events[k];
             return V3_OK;
         },
         [](void* self, v3_event* e) -> v3_result {
             of<Events>(self)->events.push_back(*e);
             return V3_OK;
         }}};
    // Read back a few bytes at a time, as a stream from a file may give them.
    static inline const StreamTable kStream = {
        {query, one, one},
        {[](void* self, void* out, int32_t n, int32_t* got) -> v3_result {
             Stream* s = of<Stream>(self);
             size_t k = std::min<size_t>({static_cast<size_t>(std::max(n, 0)), 1000, s->bytes.size() - s->at});
             std::memcpy(out, s->bytes.data() + s->at, k);
             s->at += k;
             if (got) *got = static_cast<int32_t>(k);
             return V3_OK;
         },
         [](void* self, void* in, int32_t n, int32_t* wrote) -> v3_result {
             of<Stream>(self)->bytes.append(static_cast<const char*>(in), static_cast<size_t>(std::max(n, 0)));
             if (wrote) *wrote = n;
             return V3_OK;
         },
         [](void*, int64_t, int32_t, int64_t*) -> v3_result { return V3_NOT_IMPLEMENTED; },
         [](void* self, int64_t* at) -> v3_result {
             *at = static_cast<int64_t>(of<Stream>(self)->at);
             return V3_OK;
         }}};

    v3_component_cpp** component = nullptr;
    v3_audio_processor_cpp** processor = nullptr;
    v3_edit_controller_cpp** controller = nullptr;
    Changes changes{&kChanges, {}};
    Events events{&kEvents, {}}, sent{&kEvents, {}};
};

}  // namespace vst3host
