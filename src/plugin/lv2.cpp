// The instrument as an LV2 plugin, on the plain C API: the ports, the MIDI
// and patch messages of the atom input, the tuned notes on the MIDI
// output, the parameters (the bank file, keys on or off, the keys' scale
// and mapping files; the files read by the worker, off the audio thread),
// and the session state (the whole instrument as one text, and the keys).
// The sound and its timing are Instrument's.
//
// Keys are a property of the state, not a control port: a host gives a
// port that an old session lacks its default, which would turn keys on in
// a session saved before they played notes. So a new instance plays keys,
// a state that holds the instrument but no `keys` (saved before them)
// turns them off, and a state that holds neither (a host's empty default)
// changes nothing. The example presets name themselves (`preset`) and
// leave the keys as they are.
// Messages (a bank file that cannot be read, what the patch loader changed
// in one) go to the host's log when it offers one, else to standard error;
// a session's own text is the plugin's writing and loads without them.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "plugin/AtomObjectReader.h"
#include "plugin/Instrument.h"
#include "plugin/PictureParts.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#ifndef QUORVANEL_LV2_URI
#define QUORVANEL_LV2_URI "urn:quorvanel:instrument"
#endif

namespace {

constexpr const char* kUri = QUORVANEL_LV2_URI;
constexpr const char* kInstrumentKey = QUORVANEL_LV2_URI "#instrument";
// Keys on or off; the texts of the keys' scale and mapping files (the files
// themselves, as the bank file, are the window messages' File keys).
constexpr const char* kKeysKey = QUORVANEL_LV2_URI "#keys";
constexpr const char* kTextKeys[2] = {QUORVANEL_LV2_URI "#scaleText", QUORVANEL_LV2_URI "#mapText"};
constexpr const char* kPresetKey = QUORVANEL_LV2_URI "#preset";
// Read by the test host: how many inputs came late and units were made early.
constexpr const char* kInspectUri = QUORVANEL_LV2_URI "#inspect";

enum Port : uint32_t {
    kMidiIn, kNotify, kLeft, kRight, kAxis0, kAxis1, kAxis2, kAxis3, kByte4, kLatency, kPitch, kMidiOut, kTuningOut, kPorts
};

constexpr size_t kPathRoom = 4096;

struct Uris {
    LV2_URID atomPath, atomObject, atomUrid, atomString, atomBool, atomInt, midiEvent, patchSet, patchGet,
        patchProperty, patchValue, instrument, keys, texts[2], preset;

    void map(LV2_URID_Map* m) {
        atomBool = m->map(m->handle, LV2_ATOM__Bool);
        atomInt = m->map(m->handle, LV2_ATOM__Int);
        keys = m->map(m->handle, kKeysKey);
        for (int t = 0; t < 2; t++) texts[t] = m->map(m->handle, kTextKeys[t]);
        preset = m->map(m->handle, kPresetKey);
        atomPath = m->map(m->handle, LV2_ATOM__Path);
        atomObject = m->map(m->handle, LV2_ATOM__Object);
        atomUrid = m->map(m->handle, LV2_ATOM__URID);
        atomString = m->map(m->handle, LV2_ATOM__String);
        midiEvent = m->map(m->handle, LV2_MIDI__MidiEvent);
        patchSet = m->map(m->handle, LV2_PATCH__Set);
        patchGet = m->map(m->handle, LV2_PATCH__Get);
        patchProperty = m->map(m->handle, LV2_PATCH__property);
        patchValue = m->map(m->handle, LV2_PATCH__value);
        instrument = m->map(m->handle, kInstrumentKey);
    }
};

// What the audio thread and the worker tell each other.
struct Work {
    enum Kind : uint32_t { Load, Loaded, Free, Tune, Tuned };
    Kind kind;
    uint32_t instrument;  // Loaded: the instrument the bank was made for (Plugin::made)
    uint32_t which;       // Tune, Tuned: the scale (0) or the mapping (1)
    MultiplexPotentiator* bank;
    InstrumentState::Banks* banks;
    KeyScale* keys;
    char path[kPathRoom];
};

// What the notify port tells the host at the end of a block.
enum Tell : uint32_t { kTellBank = 1, kTellKeys = 2, kTellFiles = 4, kTellAll = 7 };

struct Plugin {
    explicit Plugin(double rate) : rate(rate), instrument(std::make_unique<Instrument>(rate)) {}

    double rate;
    std::unique_ptr<Instrument> instrument;  // made anew when activated after it ran
    uint32_t made = 0;                       // instruments made before this one
    bool ran = false;                        // run since the last activate
    Uris uris{};
    windowio::Uris windowUris{};
    LV2_URID_Map* map = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    LV2_Log_Logger logger{};
    LV2_Atom_Forge forge{};
    LV2_Atom_Forge tunedForge{};
    const LV2_Atom_Sequence* midiIn = nullptr;
    LV2_Atom_Sequence* midiOut = nullptr;
    const float* tuningOut = nullptr;
    LV2_Atom_Sequence* notify = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    const float* controls[PortControllers::kControls] = {};
    float* latency = nullptr;
    const float* pitch = nullptr;   // Hz of 1/1; the host keeps it with the session, as every control port
    char bankPath[kPathRoom] = {};  // the last bank file loaded; audio thread
    std::atomic<bool> keys{true};   // keys on: a new instance plays them
    char keyPaths[2][kPathRoom] = {};  // the scale and the mapping files last read; audio thread
    uint32_t tell = 0;              // Tell bits: what to send on the notify port
    Work message{};                 // built here rather than on the audio thread's stack
    Work reply{};                   // a worker's answer, taken on the audio thread

    LV2_URID bankKey() const { return windowUris.files[static_cast<int>(windowio::File::Bank)]; }
    // The keys' scale (0) or mapping (1) file.
    LV2_URID keyFileKey(int t) const {
        return windowUris.files[static_cast<int>(t ? windowio::File::Map : windowio::File::Scale)];
    }
};

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    LV2_Log_Log* log = nullptr;
    const char* missing = lv2_features_query(features, LV2_URID__map, &map, true, LV2_WORKER__schedule,
                                             &schedule, true, LV2_LOG__log, &log, false, nullptr);
    if (missing) return nullptr;
    Plugin* p = new Plugin(rate);
    p->map = map;
    p->schedule = schedule;
    lv2_log_logger_init(&p->logger, map, log);
    p->uris.map(map);
    p->windowUris.map(map);
    lv2_atom_forge_init(&p->forge, map);
    lv2_atom_forge_init(&p->tunedForge, map);
    return p;
}

void connect(LV2_Handle h, uint32_t port, void* data) {
    Plugin* p = static_cast<Plugin*>(h);
    switch (port) {
    case kMidiIn: p->midiIn = static_cast<const LV2_Atom_Sequence*>(data); break;
    case kNotify: p->notify = static_cast<LV2_Atom_Sequence*>(data); break;
    case kLeft: p->left = static_cast<float*>(data); break;
    case kRight: p->right = static_cast<float*>(data); break;
    case kAxis0:
    case kAxis1:
    case kAxis2:
    case kAxis3:
    case kByte4: p->controls[port - kAxis0] = static_cast<const float*>(data); break;
    case kLatency: p->latency = static_cast<float*>(data); break;
    case kPitch: p->pitch = static_cast<const float*>(data); break;
    case kMidiOut: p->midiOut = static_cast<LV2_Atom_Sequence*>(data); break;
    case kTuningOut: p->tuningOut = static_cast<const float*>(data); break;
    default: break;
    }
}

// A patch:Set of a file (the bank, the keys' scale or mapping) goes to the
// worker; one of keys on or off acts at its frame. A patch:Get is answered
// with every value. A malformed object is neither.
void patchMessage(Plugin* p, const LV2_Atom_Object* object, uint32_t frame) {
    const Uris& u = p->uris;
    AtomObjectReader r(object);
    if (r.type() == u.patchGet) {
        p->tell = kTellAll;
        return;
    }
    if (r.type() != u.patchSet) return;
    const LV2_Atom* property = r.value(u.patchProperty, u.atomUrid, sizeof(LV2_URID));
    if (!property) return;
    LV2_URID key = reinterpret_cast<const LV2_Atom_URID*>(property)->body;
    if (key == u.keys) {
        const LV2_Atom* on = r.value(u.patchValue, u.atomBool, sizeof(int32_t));
        if (!on) on = r.value(u.patchValue, u.atomInt, sizeof(int32_t));
        if (!on) return;
        bool keys = reinterpret_cast<const LV2_Atom_Int*>(on)->body != 0;
        p->keys.store(keys, std::memory_order_relaxed);
        p->instrument->keysOn(keys, frame);
        p->tell |= kTellKeys;
        return;
    }
    const char* path;
    uint32_t length;
    windowio::File file = windowio::readFile(object, p->windowUris, path, length);
    if (file == windowio::File::Count || length >= kPathRoom) return;
    Work& w = p->message;
    w.kind = file == windowio::File::Bank ? Work::Load : Work::Tune;
    w.which = file == windowio::File::Map;
    w.bank = nullptr;
    w.banks = nullptr;
    w.keys = nullptr;
    std::memcpy(w.path, path, length);
    w.path[length] = '\0';
    p->schedule->schedule_work(p->schedule->handle, sizeof(Work), &w);
}

// A patch:Set of `property` on the notify port; `value` forges its value.
template <class Value>
void tellSet(Plugin* p, LV2_URID property, Value value) {
    lv2_atom_forge_frame_time(&p->forge, 0);
    windowio::forgeSet(&p->forge, p->windowUris, property, value);
}

void tellPath(Plugin* p, LV2_URID property, const char* path) {
    if (path[0])
        tellSet(p, property, [&](LV2_Atom_Forge* f) { lv2_atom_forge_path(f, path, static_cast<uint32_t>(std::strlen(path))); });
}

void tell(Plugin* p) {
    if (!p->notify) return;
    const Uris& u = p->uris;
    uint32_t room = p->notify->atom.size;
    lv2_atom_forge_set_buffer(&p->forge, reinterpret_cast<uint8_t*>(p->notify), room);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&p->forge, &sequence, 0);
    if (p->tell & kTellBank) tellPath(p, p->bankKey(), p->bankPath);
    if (p->tell & kTellKeys)
        tellSet(p, u.keys, [p](LV2_Atom_Forge* f) { lv2_atom_forge_bool(f, p->keys.load(std::memory_order_relaxed)); });
    if (p->tell & kTellFiles)
        for (int t = 0; t < 2; t++) tellPath(p, p->keyFileKey(t), p->keyPaths[t]);
    p->tell = 0;
    windowio::forgePictures(p->instrument->pictures(), &p->forge, p->windowUris);
    lv2_atom_forge_pop(&p->forge, &sequence);
}

// The tuned notes due in this block, as many as the port holds; the rest
// wait for the next block.
void tellTuned(Plugin* p) {
    if (!p->midiOut) return;
    LV2_Atom_Forge& f = p->tunedForge;
    lv2_atom_forge_set_buffer(&f, reinterpret_cast<uint8_t*>(p->midiOut), p->midiOut->atom.size);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&f, &sequence, 0);
    uint32_t frame;
    const TunedNotes::Message* m;
    while (p->instrument->nextTuned(frame, m)) {
        uint32_t length = static_cast<uint32_t>(m->length);
        if (f.size - f.offset < sizeof(LV2_Atom_Event) + lv2_atom_pad_size(length)) break;
        lv2_atom_forge_frame_time(&f, frame);
        lv2_atom_forge_atom(&f, length, p->uris.midiEvent);
        lv2_atom_forge_write(&f, m->bytes, length);
        p->instrument->popTuned();
    }
    lv2_atom_forge_pop(&f, &sequence);
}

// Activated again after it ran (Ardour runs a plugin once to read its
// latency, then activates it again): the instance forgets its history, as
// LV2 asks, and keeps its banks, so that a session sounds the same whatever
// ran before it. Not while any other call is in progress.
void activate(LV2_Handle h) {
    Plugin* p = static_cast<Plugin*>(h);
    if (!p->ran) return;
    p->instrument = p->instrument->anew(p->rate);
    p->made++;
    p->ran = false;
}

void run(LV2_Handle h, uint32_t n) {
    Plugin* p = static_cast<Plugin*>(h);
    p->ran = true;
    Instrument& in = *p->instrument;
    in.keysOn(p->keys.load(std::memory_order_relaxed));
    if (p->pitch) in.setPitch(*p->pitch);
    if (p->latency) *p->latency = static_cast<float>(in.latency());
    if (p->tuningOut) in.tuningWay(*p->tuningOut >= 0.5f ? TunedNotes::Way::Mts : TunedNotes::Way::Mpe);
    for (int c = 0; c < PortControllers::kControls; c++)
        if (p->controls[c]) in.portValue(c, *p->controls[c]);
    if (p->midiIn) {
        LV2_ATOM_SEQUENCE_FOREACH(p->midiIn, ev) {
            if (!AtomObjectReader::inside(p->midiIn, ev)) break;
            uint32_t frame = ev->time.frames < 0 ? 0 : static_cast<uint32_t>(ev->time.frames);
            if (frame >= n) frame = n ? n - 1 : 0;
            if (ev->body.type == p->uris.midiEvent) {
                in.midi(frame, static_cast<const unsigned char*>(LV2_ATOM_BODY_CONST(&ev->body)), ev->body.size);
            } else if (ev->body.type == p->uris.atomObject) {
                const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
                windowio::Event e = p->windowUris.eventOf(object);
                if (e == windowio::Event::Count) {
                    patchMessage(p, object, frame);
                    continue;
                }
                int32_t x = 0, y = 0;
                if (windowio::eventPoint(object, p->windowUris, x, y)) in.windowEvent(frame, e, x, y);
            }
        }
    }
    if (p->left && p->right) in.render(p->left, p->right, n);
    tellTuned(p);
    Instrument::Retired gone[8];
    for (int k = in.retired(gone, 8); k > 0; k = in.retired(gone, 8))
        for (int i = 0; i < k; i++) {
            Work& w = p->message;
            w.kind = Work::Free;
            w.bank = gone[i].bank;
            w.banks = gone[i].banks;
            w.keys = gone[i].keys;
            w.path[0] = '\0';
            p->schedule->schedule_work(p->schedule->handle, sizeof(Work), &w);
        }
    tell(p);
}

void cleanup(LV2_Handle h) { delete static_cast<Plugin*>(h); }

// --- The worker --------------------------------------------------------

LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void* data) {
    Plugin* p = static_cast<Plugin*>(h);
    if (size != sizeof(Work)) return LV2_WORKER_ERR_UNKNOWN;
    Work w;
    std::memcpy(&w, data, sizeof w);
    if (w.kind == Work::Free) {
        delete w.bank;
        delete w.banks;
        delete w.keys;
        return LV2_WORKER_SUCCESS;
    }
    if (w.kind == Work::Tune) {
        std::string why;
        double hz = 0;
        if (!p->instrument->keysFile(w.which, w.path, why, hz)) {
            lv2_log_error(&p->logger, "quorvanel: %s\n", why.c_str());
            return LV2_WORKER_ERR_UNKNOWN;
        }
        // The pitch of 1/1 is the host's control, automatable; the mapping
        // does not move it.
        if (hz > 0)
            lv2_log_note(&p->logger, "quorvanel: %s puts 1/1 at %.4f Hz; the Pitch of 1/1 control sets it\n", w.path, hz);
        w.kind = Work::Tuned;
        return respond(handle, sizeof w, &w);
    }
    if (w.kind != Work::Load) return LV2_WORKER_ERR_UNKNOWN;
    delete w.bank;  // one made for an instrument that is gone (see workResponse)
    std::string why;
    w.instrument = p->made;
    w.bank = p->instrument->readBank(w.path, why, [p, &w](int line, const std::string& text) {
        lv2_log_warning(&p->logger, "%s:%d: %s\n", w.path, line, text.c_str());
    });
    if (!w.bank) {
        lv2_log_error(&p->logger, "quorvanel: cannot load %s: %s\n", w.path, why.c_str());
        return LV2_WORKER_ERR_UNKNOWN;
    }
    w.kind = Work::Loaded;
    if (respond(handle, sizeof w, &w) != LV2_WORKER_SUCCESS) {
        delete w.bank;
        return LV2_WORKER_ERR_NO_SPACE;
    }
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status workResponse(LV2_Handle h, uint32_t size, const void* data) {
    Plugin* p = static_cast<Plugin*>(h);
    if (size != sizeof(Work)) return LV2_WORKER_ERR_UNKNOWN;
    // Hosts hand the reply over in their own buffers, not always aligned.
    Work* w = &p->reply;
    std::memcpy(w, data, sizeof(Work));
    if (w->kind == Work::Tuned) {
        std::memcpy(p->keyPaths[w->which ? 1 : 0], w->path, kPathRoom);
        p->keyPaths[w->which ? 1 : 0][kPathRoom - 1] = '\0';
        p->tell |= kTellFiles;
        return LV2_WORKER_SUCCESS;
    }
    if (w->kind != Work::Loaded) return LV2_WORKER_ERR_UNKNOWN;
    if (w->instrument != p->made) {
        // Read for the instrument before the host activated the plugin
        // again: its bank leans on that one's lattice. Read again.
        w->kind = Work::Load;
        p->schedule->schedule_work(p->schedule->handle, sizeof(Work), w);
        return LV2_WORKER_SUCCESS;
    }
    if (!p->instrument->offerBank(w->bank)) {
        // Too many retired banks wait for the worker: this one goes too.
        w->kind = Work::Free;
        w->banks = nullptr;
        p->schedule->schedule_work(p->schedule->handle, sizeof(Work), w);
        return LV2_WORKER_SUCCESS;
    }
    std::memcpy(p->bankPath, w->path, kPathRoom);
    p->bankPath[kPathRoom - 1] = '\0';
    p->tell |= kTellBank;
    return LV2_WORKER_SUCCESS;
}

// --- The session state -------------------------------------------------

// The host's path mapping, when it offers one.
struct Paths {
    LV2_State_Map_Path* map = nullptr;
    LV2_State_Free_Path* free = nullptr;
    explicit Paths(const LV2_Feature* const* features) {
        lv2_features_query(features, LV2_STATE__mapPath, &map, false, LV2_STATE__freePath, &free, false, nullptr);
    }
    // `path` as `abstract` (or back) makes it, into `out`; false without a mapping.
    bool mapped(const char* path, bool abstract, std::string& out) const {
        if (!map) return false;
        char* made = abstract ? map->abstract_path(map->handle, path) : map->absolute_path(map->handle, path);
        if (!made) return false;
        out = made;
        if (free) free->free_path(free->handle, made);
        else std::free(made);
        return true;
    }
};

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const* features) {
    Plugin* p = static_cast<Plugin*>(h);
    const Uris& u = p->uris;
    std::string text;
    if (!p->instrument->snapshot(text)) return LV2_STATE_ERR_UNKNOWN;
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    LV2_State_Status status = store(handle, u.instrument, text.c_str(), text.size() + 1, u.atomString, flags);
    if (status != LV2_STATE_SUCCESS) return status;
    const int32_t keys = p->keys.load();
    status = store(handle, u.keys, &keys, sizeof keys, u.atomBool, flags);
    if (status != LV2_STATE_SUCCESS) return status;
    // The files' texts, so that the session plays the same when a file has
    // moved or changed since, and their names, for the host's file
    // parameters; the bank file's name alone, the banks being in the text.
    Paths paths(features);
    KeyScale::Source texts[2];
    p->instrument->keySources(texts[0], texts[1]);
    std::string abstract;
    for (int t = 0; t < 2; t++) {
        if (!texts[t].given()) continue;
        status = store(handle, u.texts[t], texts[t].text.c_str(), texts[t].text.size() + 1, u.atomString, flags);
        if (status != LV2_STATE_SUCCESS) return status;
        if (!texts[t].name.empty() && paths.mapped(texts[t].name.c_str(), true, abstract))
            store(handle, p->keyFileKey(t), abstract.c_str(), abstract.size() + 1, u.atomPath, flags);
    }
    if (p->bankPath[0] && paths.mapped(p->bankPath, true, abstract))
        store(handle, p->bankKey(), abstract.c_str(), abstract.size() + 1, u.atomPath, flags);
    return LV2_STATE_SUCCESS;
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const* features) {
    Plugin* p = static_cast<Plugin*>(h);
    const Uris& u = p->uris;
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* value = retrieve(handle, u.instrument, &size, &type, &flags);
    if (!value || type != u.atomString) return LV2_STATE_ERR_NO_PROPERTY;
    std::string text(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), size));
    Paths paths(features);
    // A path the session holds, made absolute; empty when it holds none or
    // one that does not end inside what the session kept.
    auto pathOf = [&](LV2_URID key) {
        std::string out;
        const void* path = retrieve(handle, key, &size, &type, &flags);
        if (path && type == u.atomPath && std::memchr(path, '\0', size)) paths.mapped(static_cast<const char*>(path), false, out);
        return out;
    };
    // A state names what the keys play unless it is a preset; one saved
    // before keys played notes names nothing: the default scale, keys off.
    const bool preset = retrieve(handle, u.preset, &size, &type, &flags) != nullptr;
    std::unique_ptr<KeyScale> keys;
    std::string why;
    if (!preset) {
        KeyScale::Source texts[2];
        for (int t = 0; t < 2; t++) {
            const void* v = retrieve(handle, u.texts[t], &size, &type, &flags);
            if (!v || type != u.atomString) continue;
            texts[t].text.assign(static_cast<const char*>(v), strnlen(static_cast<const char*>(v), size));
            texts[t].name = pathOf(p->keyFileKey(t));
        }
        keys.reset(Instrument::makeKeys(texts[0], texts[1], why));
        if (!keys) {
            lv2_log_error(&p->logger, "quorvanel: cannot restore the keys: %s\n", why.c_str());
            return LV2_STATE_ERR_BAD_TYPE;
        }
    }
    if (!p->instrument->restore(text, why)) {
        lv2_log_error(&p->logger, "quorvanel: cannot restore the instrument: %s\n", why.c_str());
        return LV2_STATE_ERR_BAD_TYPE;
    }
    if (keys) {
        const void* on = retrieve(handle, u.keys, &size, &type, &flags);
        bool known = on && (type == u.atomBool || type == u.atomInt) && size >= sizeof(int32_t);
        int32_t flag = 0;
        if (known) std::memcpy(&flag, on, sizeof flag);
        p->keys.store(flag != 0);
        const KeyScale::Source* named[2] = {&keys->scale(), &keys->map()};
        for (int t = 0; t < 2; t++) std::strncpy(p->keyPaths[t], named[t]->name.c_str(), kPathRoom - 1);
        p->instrument->offerKeys(keys.release());
    }
    // Only told to the host: the banks came with the text.
    std::string bank = pathOf(p->bankKey());
    if (!bank.empty()) std::strncpy(p->bankPath, bank.c_str(), kPathRoom - 1);
    p->tell = kTellAll;
    return LV2_STATE_SUCCESS;
}

struct Inspect {
    uint64_t (*lateInputs)(LV2_Handle);
    uint64_t (*unitsAhead)(LV2_Handle);
};

const void* extensionData(const char* uri) {
    static const LV2_State_Interface state = {save, restore};
    static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
    static const Inspect inspect = {
        [](LV2_Handle h) { return static_cast<Plugin*>(h)->instrument->lateInputs(); },
        [](LV2_Handle h) { return static_cast<Plugin*>(h)->instrument->unitsAhead(); },
    };
    if (!std::strcmp(uri, LV2_STATE__interface)) return &state;
    if (!std::strcmp(uri, LV2_WORKER__interface)) return &worker;
    if (!std::strcmp(uri, kInspectUri)) return &inspect;
    return nullptr;
}

const LV2_Descriptor descriptor = {kUri, instantiate, connect, activate, run, nullptr, cleanup, extensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
