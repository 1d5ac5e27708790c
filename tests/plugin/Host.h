// A small LV2 host on lilv for the plugin's tests: loads the bundle from
// the build, instantiates the plugin at a rate, feeds blocks of MIDI and
// control values, runs the worker between blocks (as a host without a
// worker thread does), collects the tuned notes of its MIDI output, and
// saves and restores the plugin's state through its state interface.
#pragma once

#include "plugin/WindowMessages.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lv2host {

const char* const kUri = "urn:quorvanel:instrument";

// One input of a block: a MIDI message at a frame, or (port >= 0) a
// control port's value from that block on.
struct Input {
    uint32_t frame = 0;
    std::vector<uint8_t> midi;
    int port = -1;
    float value = 0;
};

class World {
public:
    static World& get() {
        static World w;
        return w;
    }
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;

    LV2_URID map(const char* uri) {
        auto it = ids.find(uri);
        if (it != ids.end()) return it->second;
        names.push_back(uri);
        return ids[uri] = static_cast<LV2_URID>(names.size());
    }
    const char* unmap(LV2_URID id) { return id >= 1 && id <= names.size() ? names[id - 1].c_str() : nullptr; }

    LV2_URID_Map mapFeature{this, [](LV2_URID_Map_Handle h, const char* u) { return static_cast<World*>(h)->map(u); }};
    LV2_URID_Unmap unmapFeature{this,
                                [](LV2_URID_Unmap_Handle h, LV2_URID id) { return static_cast<World*>(h)->unmap(id); }};

private:
    World() {
        world = lilv_world_new();
        std::string bundle = std::string("file://") + QUORVANEL_BINARY_DIR + "/lv2/quorvanel.lv2/";
        LilvNode* b = lilv_new_uri(world, bundle.c_str());
        lilv_world_load_specifications(world);
        lilv_world_load_bundle(world, b);
        lilv_node_free(b);
        LilvNode* uri = lilv_new_uri(world, kUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> names;
};

// A patch:Set of the plugin's property `key` (the part after '#'), as a
// host's parameter sends it: a file's path, or keys on or off.
template <class Value>
std::vector<uint8_t> patchSetOf(const char* key, Value value) {
    World& w = World::get();
    windowio::Uris uris{};
    uris.map(&w.mapFeature);
    std::vector<uint8_t> buf(8192);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &w.mapFeature);
    lv2_atom_forge_set_buffer(&forge, buf.data(), buf.size());
    windowio::forgeSet(&forge, uris, w.map((std::string(kUri) + "#" + key).c_str()), value);
    buf.resize(sizeof(LV2_Atom) + reinterpret_cast<LV2_Atom*>(buf.data())->size);
    return buf;
}
inline std::vector<uint8_t> patchSet(const char* key, const std::string& path) {
    return patchSetOf(key, [&](LV2_Atom_Forge* f) { lv2_atom_forge_path(f, path.c_str(), static_cast<uint32_t>(path.size() + 1)); });
}
inline std::vector<uint8_t> patchSet(const char* key, bool on) {
    return patchSetOf(key, [on](LV2_Atom_Forge* f) { lv2_atom_forge_bool(f, on); });
}

// What the plugin's private inspection interface gives.
struct Inspect {
    uint64_t (*lateInputs)(LV2_Handle);
    uint64_t (*unitsAhead)(LV2_Handle);
};

class Instance {
public:
    static constexpr uint32_t kMaxBlock = 8192;
    static constexpr size_t kAtomRoom = 1 << 16;

    explicit Instance(double rate) : rate(rate) {
        World& w = World::get();
        schedule.handle = this;
        schedule.schedule_work = [](LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
            return static_cast<Instance*>(h)->queue(size, data, false);
        };
        features[0] = {LV2_URID__map, &w.mapFeature};
        features[1] = {LV2_URID__unmap, &w.unmapFeature};
        features[2] = {LV2_WORKER__schedule, &schedule};
        features[3] = {LV2_STATE__mapPath, &mapPath};
        featureList = {&features[0], &features[1], &features[2], &features[3], nullptr};
        instance = lilv_plugin_instantiate(w.plugin, rate, featureList.data());
        if (!instance) return;
        handle = lilv_instance_get_handle(instance);
        midiType = w.map(LV2_MIDI__MidiEvent);
        sequenceType = w.map(LV2_ATOM__Sequence);
        chunkType = w.map(LV2_ATOM__Chunk);
        left.assign(kMaxBlock, 0);
        right.assign(kMaxBlock, 0);
        lilv_instance_connect_port(instance, 0, in.data());
        lilv_instance_connect_port(instance, 1, notify.data());
        lilv_instance_connect_port(instance, 2, left.data());
        lilv_instance_connect_port(instance, 3, right.data());
        for (int c = 0; c < 5; c++) lilv_instance_connect_port(instance, 4 + c, &controls[c]);
        lilv_instance_connect_port(instance, 9, &latency);
        lilv_instance_connect_port(instance, 10, &pitch);
        lilv_instance_connect_port(instance, 11, midiOut.data());
        lilv_instance_connect_port(instance, 12, &tuning);
        lilv_instance_activate(instance);
        worker = static_cast<const LV2_Worker_Interface*>(lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
        state = static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance, LV2_STATE__interface));
        inspect = static_cast<const Inspect*>(
            lilv_instance_get_extension_data(instance, (std::string(kUri) + "#inspect").c_str()));
    }

    ~Instance() {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }

    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool ok() const { return instance != nullptr; }

    // The host deactivates and activates the plugin again (Ardour does so
    // after a run that reads the latency).
    void reactivate() {
        lilv_instance_deactivate(instance);
        lilv_instance_activate(instance);
    }

    // Runs one block of `n` frames with `inputs` (frames inside the block,
    // not decreasing); appends the block's left and right samples.
    void block(uint32_t n, const std::vector<Input>& inputs, std::vector<float>& outLeft, std::vector<float>& outRight) {
        prepare(n, inputs);
        lilv_instance_run(instance, n);
        takeTuned(n);
        outLeft.insert(outLeft.end(), left.begin(), left.begin() + n);
        outRight.insert(outRight.end(), right.begin(), right.begin() + n);
        runWorker();
    }

    // Writes the atom input and the control values for a block of `n`.
    void prepare(uint32_t n, const std::vector<Input>& inputs) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(in.data());
        seq->atom.type = sequenceType;
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->body.unit = 0;
        seq->body.pad = 0;
        for (const std::vector<uint8_t>& a : pendingAtoms) {
            std::vector<uint8_t> ev(sizeof(LV2_Atom_Event) - sizeof(LV2_Atom) + a.size());
            auto* head = reinterpret_cast<LV2_Atom_Event*>(ev.data());
            head->time.frames = 0;
            std::memcpy(&head->body, a.data(), a.size());
            lv2_atom_sequence_append_event(seq, kAtomRoom - sizeof(LV2_Atom), head);
        }
        pendingAtoms.clear();
        for (const Input& i : inputs) {
            if (i.port >= 0) {
                controls[i.port] = i.value;
                continue;
            }
            struct {
                LV2_Atom_Event head;
                uint8_t bytes[8];
            } ev{};
            ev.head.time.frames = i.frame;
            ev.head.body.type = midiType;
            ev.head.body.size = static_cast<uint32_t>(i.midi.size());
            if (!i.midi.empty()) std::memcpy(ev.bytes, i.midi.data(), i.midi.size() < 8 ? i.midi.size() : 8);
            lv2_atom_sequence_append_event(seq, kAtomRoom - sizeof(LV2_Atom), &ev.head);
        }
        auto* out = reinterpret_cast<LV2_Atom_Sequence*>(notify.data());
        out->atom.type = chunkType;
        out->atom.size = notifyRoom;
        auto* tunedOut = reinterpret_cast<LV2_Atom_Sequence*>(midiOut.data());
        tunedOut->atom.type = chunkType;
        tunedOut->atom.size = midiOutRoom;
        (void)n;
    }

    void run(uint32_t n) { lilv_instance_run(instance, n); }

    // A block of `n` whose atom input holds `atom` alone, in a buffer that
    // ends where the atom does: a read past it is a sanitizer finding.
    void blockWith(const std::vector<uint8_t>& atom, uint32_t n) {
        std::vector<uint8_t> seq(sizeof(LV2_Atom_Sequence) + sizeof(int64_t) + atom.size());
        auto* s = reinterpret_cast<LV2_Atom_Sequence*>(seq.data());
        s->atom = {static_cast<uint32_t>(seq.size() - sizeof(LV2_Atom)), sequenceType};
        std::memcpy(seq.data() + sizeof(LV2_Atom_Sequence) + sizeof(int64_t), atom.data(), atom.size());
        prepare(n, {});
        lilv_instance_connect_port(instance, 0, seq.data());
        run(n);
        lilv_instance_connect_port(instance, 0, in.data());
        runWorker();
    }

    // What the last block told on the notify port: "path:PATH" for a
    // patch:Set of a file, "keys:1" or "keys:0" for keys on or off, the
    // type's name after '#' for others.
    std::string told() const {
        World& w = World::get();
        std::string out;
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(notify.data());
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            const auto* o = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(o, w.map(LV2_PATCH__value), &value, 0);
            std::string type = w.unmap(o->body.otype);
            out += out.empty() ? "" : " ";
            if (value && value->type == w.map(LV2_ATOM__Bool))
                out += "keys:" + std::to_string(reinterpret_cast<const LV2_Atom_Bool*>(value)->body);
            else
                out += value ? "path:" + std::string(static_cast<const char*>(LV2_ATOM_BODY_CONST(value)))
                             : type.substr(type.find('#') + 1);
        }
        return out;
    }

    // The MIDI output of the block just run, each message at its frame
    // counted from the first block.
    struct Tuned {
        uint64_t frame;
        std::vector<uint8_t> bytes;
    };
    void takeTuned(uint32_t n) {
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(midiOut.data());
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            const auto* b = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&ev->body));
            if (ev->body.type != midiType) continue;
            EXPECT_LT(ev->time.frames, n) << "a message past the end of its block";
            tuned.push_back({frames + static_cast<uint64_t>(ev->time.frames), {b, b + ev->body.size}});
        }
        frames += n;
    }

    // Appends a raw atom event (a patch message) to the next block's input.
    void send(const std::vector<uint8_t>& atom) { pendingAtoms.push_back(atom); }
    void sendAtom(const LV2_Atom* body) { pendingAtoms.emplace_back(reinterpret_cast<const uint8_t*>(body),
                                                                    reinterpret_cast<const uint8_t*>(body) + sizeof(LV2_Atom) + body->size); }

    // Runs the work the last block scheduled, then its responses.
    void runWorker() {
        for (size_t k = 0; k < jobs; k++) {
            Job& j = work[k];
            worker->work(handle, [](LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
                return static_cast<Instance*>(h)->queue(size, data, true);
            }, this, j.size, j.data.data());
        }
        jobs = 0;
        for (size_t k = 0; k < replies; k++) worker->work_response(handle, reply[k].size, reply[k].data.data());
        replies = 0;
    }

    // The plugin's state as key -> (type, bytes).
    using State = std::map<std::string, std::pair<std::string, std::string>>;

    State save() {
        State s;
        state->save(handle, [](LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t) {
            World& w = World::get();
            (*static_cast<State*>(h))[w.unmap(key)] = {w.unmap(type), std::string(static_cast<const char*>(value), size)};
            return LV2_STATE_SUCCESS;
        }, &s, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, featureList.data());
        return s;
    }

    LV2_State_Status restore(const State& s) {
        return state->restore(handle, [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) -> const void* {
            World& w = World::get();
            const State& st = *static_cast<const State*>(h);
            auto it = st.find(w.unmap(key));
            if (it == st.end()) return nullptr;
            *size = it->second.second.size();
            *type = w.map(it->second.first.c_str());
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return it->second.second.data();
        }, const_cast<State*>(&s), 0, featureList.data());
    }

    // The state as a host keeps a session: lilv's snapshot of the plugin's
    // properties and the control ports' values, as Turtle; and back, the
    // ports first, then the properties. A control port the session lacks
    // keeps its value.
    std::string saveSession() {
        World& w = World::get();
        LilvState* s = lilv_state_new_from_instance(w.plugin, instance, &w.mapFeature, nullptr, nullptr, nullptr, nullptr,
                                                    [](const char* symbol, void* self, uint32_t* size, uint32_t* type) -> const void* {
                                                        *size = sizeof(float);
                                                        *type = World::get().map(LV2_ATOM__Float);
                                                        return static_cast<Instance*>(self)->control(symbol);
                                                    }, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, featureList.data());
        char* text = lilv_state_to_string(w.world, &w.mapFeature, &w.unmapFeature, s, "urn:quorvanel:test-session", nullptr);
        std::string out = text ? text : "";
        lilv_free(text);
        lilv_state_free(s);
        return out;
    }
    bool restoreSession(const std::string& text) {
        World& w = World::get();
        LilvState* s = lilv_state_new_from_string(w.world, &w.mapFeature, text.c_str());
        if (!s) return false;
        lilv_state_restore(s, instance, [](const char* symbol, void* self, const void* value, uint32_t size, uint32_t type) {
            float* port = static_cast<Instance*>(self)->control(symbol);
            if (port && size == sizeof(float) && type == World::get().map(LV2_ATOM__Float)) std::memcpy(port, value, size);
        }, this, 0, featureList.data());
        lilv_state_free(s);
        return true;
    }
    // A control input's value by its port's symbol; null for another.
    float* control(const char* symbol) {
        static const char* const axes[] = {"axis0", "axis1", "axis2", "axis3", "limit"};
        for (int c = 0; c < 5; c++)
            if (!std::strcmp(symbol, axes[c])) return &controls[c];
        return !std::strcmp(symbol, "pitch") ? &pitch : !std::strcmp(symbol, "tuning_out") ? &tuning : nullptr;
    }

    uint64_t late() const { return inspect->lateInputs(handle); }
    uint64_t ahead() const { return inspect->unitsAhead(handle); }

    double rate;
    LilvInstance* instance = nullptr;
    LV2_Handle handle = nullptr;
    float latency = -1;
    float pitch = 689.0625f;  // Hz of 1/1, read at every block
    float controls[5] = {};
    float tuning = 0;  // 0 MPE, 1 MTS
    uint32_t midiOutRoom = kAtomRoom - sizeof(LV2_Atom);  // the MIDI output's room as the plugin sees it
    std::vector<Tuned> tuned;
    uint64_t frames = 0;
    uint32_t notifyRoom = kAtomRoom - sizeof(LV2_Atom);  // the notify buffer as the plugin sees it
    std::vector<float> left, right;
    std::vector<std::vector<uint8_t>> pendingAtoms;
    alignas(8) std::array<uint8_t, kAtomRoom> in{}, notify{}, midiOut{};
    const LV2_State_Interface* state = nullptr;

private:
    struct Job {
        uint32_t size = 0;
        std::array<uint8_t, 8192> data{};
    };

    // Room made before any run, so that scheduling allocates nothing.
    LV2_Worker_Status queue(uint32_t size, const void* data, bool response) {
        size_t& n = response ? replies : jobs;
        Job* list = response ? reply.data() : work.data();
        if (n >= work.size() || size > list[n].data.size()) return LV2_WORKER_ERR_NO_SPACE;
        list[n].size = size;
        std::memcpy(list[n].data.data(), data, size);
        n++;
        return LV2_WORKER_SUCCESS;
    }

    // A session's folder as a host maps paths into it: the source tree.
    static char* copy(const std::string& s) { return strdup(s.c_str()); }
    LV2_State_Map_Path mapPath{this,
                               [](LV2_State_Map_Path_Handle, const char* absolute) {
                                   std::string a = absolute, root = std::string(QUORVANEL_SOURCE_DIR) + "/";
                                   return copy(a.rfind(root, 0) == 0 ? a.substr(root.size()) : a);
                               },
                               [](LV2_State_Map_Path_Handle, const char* abstract) {
                                   return copy(abstract[0] == '/' ? abstract : std::string(QUORVANEL_SOURCE_DIR) + "/" + abstract);
                               }};
    LV2_Worker_Schedule schedule{};
    LV2_Feature features[4];
    std::array<const LV2_Feature*, 5> featureList{};
    const LV2_Worker_Interface* worker = nullptr;
    const Inspect* inspect = nullptr;
    std::array<Job, 16> work, reply;
    size_t jobs = 0, replies = 0;
    LV2_URID midiType = 0, sequenceType = 0, chunkType = 0;
};

}  // namespace lv2host
