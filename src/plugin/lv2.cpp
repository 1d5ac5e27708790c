// The instrument as an LV2 plugin, on the plain C API: the ports, the MIDI
// and patch messages of the atom input, the tuned notes on the MIDI output, the bank file parameter (read by
// the worker, off the audio thread), and the session state (the whole
// instrument as one text). The sound and its timing are Instrument's.
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
constexpr const char* kBankKey = QUORVANEL_LV2_URI "#bank";
// Read by the test host: how many inputs came late and units were made early.
constexpr const char* kInspectUri = QUORVANEL_LV2_URI "#inspect";

enum Port : uint32_t {
    kMidiIn, kNotify, kLeft, kRight, kAxis0, kAxis1, kAxis2, kAxis3, kByte4, kLatency, kPitch, kMidiOut, kTuningOut, kPorts
};

constexpr size_t kPathRoom = 4096;

struct Uris {
    LV2_URID atomPath, atomObject, atomUrid, atomString, midiEvent, patchSet, patchGet,
        patchProperty, patchValue, bank, instrument;

    void map(LV2_URID_Map* m) {
        atomPath = m->map(m->handle, LV2_ATOM__Path);
        atomObject = m->map(m->handle, LV2_ATOM__Object);
        atomUrid = m->map(m->handle, LV2_ATOM__URID);
        atomString = m->map(m->handle, LV2_ATOM__String);
        midiEvent = m->map(m->handle, LV2_MIDI__MidiEvent);
        patchSet = m->map(m->handle, LV2_PATCH__Set);
        patchGet = m->map(m->handle, LV2_PATCH__Get);
        patchProperty = m->map(m->handle, LV2_PATCH__property);
        patchValue = m->map(m->handle, LV2_PATCH__value);
        bank = m->map(m->handle, kBankKey);
        instrument = m->map(m->handle, kInstrumentKey);
    }
};

// What the audio thread and the worker tell each other.
struct Work {
    enum Kind : uint32_t { Load, Loaded, Free };
    Kind kind;
    uint32_t instrument;  // Loaded: the instrument the bank was made for (Plugin::made)
    MultiplexPotentiator* bank;
    InstrumentState::Banks* banks;
    char path[kPathRoom];
};

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
    bool tellPath = false;          // send it on the notify port
    Work message{};                 // built here rather than on the audio thread's stack
    Work reply{};                   // a worker's answer, taken on the audio thread
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

// A patch:Set of the bank file goes to the worker; a patch:Get is answered
// with the file last loaded. A malformed object is neither.
void patchMessage(Plugin* p, const LV2_Atom_Object* object) {
    const Uris& u = p->uris;
    AtomObjectReader r(object);
    if (r.type() == u.patchGet) {
        p->tellPath = p->bankPath[0] != 0;
        return;
    }
    if (r.type() != u.patchSet) return;
    const LV2_Atom* property = r.value(u.patchProperty, u.atomUrid, sizeof(LV2_URID));
    if (!property || reinterpret_cast<const LV2_Atom_URID*>(property)->body != u.bank) return;
    const LV2_Atom* value = r.value(u.patchValue, u.atomPath, 1);
    if (!value || value->size >= kPathRoom) return;
    Work& w = p->message;
    w.kind = Work::Load;
    w.bank = nullptr;
    w.banks = nullptr;
    std::memcpy(w.path, LV2_ATOM_BODY_CONST(value), value->size);
    w.path[value->size - 1] = '\0';
    p->schedule->schedule_work(p->schedule->handle, sizeof(Work), &w);
}

void tell(Plugin* p) {
    if (!p->notify) return;
    const Uris& u = p->uris;
    uint32_t room = p->notify->atom.size;
    lv2_atom_forge_set_buffer(&p->forge, reinterpret_cast<uint8_t*>(p->notify), room);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&p->forge, &sequence, 0);
    if (p->tellPath) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&p->forge, 0);
        lv2_atom_forge_object(&p->forge, &object, 0, u.patchSet);
        lv2_atom_forge_key(&p->forge, u.patchProperty);
        lv2_atom_forge_urid(&p->forge, u.bank);
        lv2_atom_forge_key(&p->forge, u.patchValue);
        lv2_atom_forge_path(&p->forge, p->bankPath, static_cast<uint32_t>(std::strlen(p->bankPath)));
        lv2_atom_forge_pop(&p->forge, &object);
        p->tellPath = false;
    }
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
                    patchMessage(p, object);
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
        return LV2_WORKER_SUCCESS;
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
    p->tellPath = true;
    return LV2_WORKER_SUCCESS;
}

// --- The session state -------------------------------------------------

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const* features) {
    Plugin* p = static_cast<Plugin*>(h);
    std::string text;
    if (!p->instrument->snapshot(text)) return LV2_STATE_ERR_UNKNOWN;
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    LV2_State_Status status =
        store(handle, p->uris.instrument, text.c_str(), text.size() + 1, p->uris.atomString, flags);
    if (status != LV2_STATE_SUCCESS) return status;
    // The bank file's name, for the host's file parameter; the banks
    // themselves are all in the text.
    const char* path = p->bankPath;
    if (!path[0]) return LV2_STATE_SUCCESS;
    LV2_State_Map_Path* mapPath = nullptr;
    LV2_State_Free_Path* freePath = nullptr;
    lv2_features_query(features, LV2_STATE__mapPath, &mapPath, false, LV2_STATE__freePath, &freePath, false,
                       nullptr);
    if (!mapPath) return LV2_STATE_SUCCESS;
    char* abstract = mapPath->abstract_path(mapPath->handle, path);
    if (!abstract) return LV2_STATE_SUCCESS;
    store(handle, p->uris.bank, abstract, std::strlen(abstract) + 1, p->uris.atomPath, flags);
    if (freePath) freePath->free_path(freePath->handle, abstract);
    else std::free(abstract);
    return LV2_STATE_SUCCESS;
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const* features) {
    Plugin* p = static_cast<Plugin*>(h);
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* value = retrieve(handle, p->uris.instrument, &size, &type, &flags);
    if (!value || type != p->uris.atomString) return LV2_STATE_ERR_NO_PROPERTY;
    std::string text(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), size));
    std::string why;
    if (!p->instrument->restore(text, why)) {
        lv2_log_error(&p->logger, "quorvanel: cannot restore the instrument: %s\n", why.c_str());
        return LV2_STATE_ERR_BAD_TYPE;
    }
    const void* path = retrieve(handle, p->uris.bank, &size, &type, &flags);
    LV2_State_Map_Path* mapPath = nullptr;
    LV2_State_Free_Path* freePath = nullptr;
    lv2_features_query(features, LV2_STATE__mapPath, &mapPath, false, LV2_STATE__freePath, &freePath, false,
                       nullptr);
    // A path that does not end inside what the session kept is not read.
    if (path && type == p->uris.atomPath && mapPath && std::memchr(path, '\0', size)) {
        char* absolute = mapPath->absolute_path(mapPath->handle, static_cast<const char*>(path));
        if (absolute) {
            // Only told to the host: the banks came with the text.
            std::strncpy(p->bankPath, absolute, kPathRoom - 1);
            p->tellPath = true;
            if (freePath) freePath->free_path(freePath->handle, absolute);
            else std::free(absolute);
        }
    }
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
