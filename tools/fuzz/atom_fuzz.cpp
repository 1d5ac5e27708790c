// libFuzzer target for the atoms that reach the plugin and its window from
// outside: window events and patch messages on the plugin's atom input,
// through the plugin's own run(), and picture parts, through the window's
// own reader, which puts parts together and paints a whole picture (into
// memory here). An input is a series of atoms as a sequence carries them,
// each an 8-byte header and its body padded to 8 bytes; the last is cut to
// what the input holds, as a host delivers only what it checked. Each atom
// goes to the plugin alone in a block, in a buffer that ends where the atom
// does, so a read past it is a sanitizer finding, and then to the window,
// as do the pictures the plugin sends back. The bank files a patch:Set
// names are never opened (the worker's jobs are dropped).
// Building an instance's lattice store costs most of a run, so one plugin
// and one window serve every input: before each, the plugin's instrument
// is restored to the fresh one and its window closed (what its input gate
// learned, such as MIDI playing as a controller, stays).
// Seeds: the malformed messages of the plugin's tests and the well-formed
// ones they were made from (BadMessages.h), written into each corpus folder
// named on the command line where absent. Built by `make fuzz`.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "BadMessages.h"
#include "FuzzInput.h"
#include "engine/MemoryCanvas.h"
#include "plugin/PictureView.h"


#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

constexpr uint32_t kBlock = 256;     // one unit at 22050
constexpr uint32_t kNotify = 1u << 16;

std::vector<std::string> uris;
LV2_URID_Map map{nullptr, [](LV2_URID_Map_Handle, const char* uri) -> LV2_URID {
                     auto at = std::find(uris.begin(), uris.end(), uri);
                     if (at == uris.end()) at = uris.insert(uris.end(), uri);
                     return static_cast<LV2_URID>(at - uris.begin() + 1);
                 }};
// The jobs scheduled while the plugin is reset (the banks it retires, for
// the worker to free); any other is dropped.
bool resetting = false;
std::vector<std::vector<uint8_t>> jobs;
LV2_Worker_Schedule schedule{nullptr, [](LV2_Worker_Schedule_Handle, uint32_t size, const void* data) {
                                 const auto* bytes = static_cast<const uint8_t*>(data);
                                 if (resetting) jobs.emplace_back(bytes, bytes + size);
                                 return LV2_WORKER_SUCCESS;
                             }};
const LV2_Feature mapFeature{LV2_URID__map, &map}, scheduleFeature{LV2_WORKER__schedule, &schedule};
const LV2_Feature* const features[] = {&mapFeature, &scheduleFeature, nullptr};
windowio::Uris windowUris{};

size_t padded(size_t n) { return (n + 7) & ~size_t{7}; }

// A plugin with its ports; 8-byte aligned buffers, as a host's are.
struct Plugin {
    const LV2_Descriptor* d = lv2_descriptor(0);
    LV2_Handle h = d->instantiate(d, 22050, "", features);
    float left[kBlock] = {}, right[kBlock] = {}, controls[5] = {}, latency = 0;
    std::vector<uint64_t> notify = std::vector<uint64_t>(kNotify / sizeof(uint64_t));

    Plugin() {
        d->connect_port(h, 1, notify.data());
        d->connect_port(h, 2, left);
        d->connect_port(h, 3, right);
        for (uint32_t c = 0; c < 5; c++) d->connect_port(h, 4 + c, &controls[c]);
        d->connect_port(h, 9, &latency);
    }
    ~Plugin() { d->cleanup(h); }

    const void* extension(const char* uri) const { return d->extension_data ? d->extension_data(uri) : nullptr; }

    // Back to the fresh instrument (`fresh`, its saved text), window closed.
    void reset(const std::string& fresh, const std::vector<uint8_t>& closed) {
        const auto* state = static_cast<const LV2_State_Interface*>(extension(LV2_STATE__interface));
        const auto* worker = static_cast<const LV2_Worker_Interface*>(extension(LV2_WORKER__interface));
        state->restore(h, [](LV2_State_Handle text, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) -> const void* {
            if (key != map.map(nullptr, QUORVANEL_LV2_URI "#instrument")) return nullptr;
            *size = static_cast<const std::string*>(text)->size() + 1;
            *type = map.map(nullptr, LV2_ATOM__String);
            *flags = 0;
            return static_cast<const std::string*>(text)->c_str();
        }, const_cast<std::string*>(&fresh), 0, features);
        resetting = true;
        block(closed.data(), closed.size());
        resetting = false;
        for (const std::vector<uint8_t>& j : jobs)
            worker->work(h, [](LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; },
                         nullptr, static_cast<uint32_t>(j.size()), j.data());
        jobs.clear();
    }

    std::string save() const {
        std::string text;
        const auto* state = static_cast<const LV2_State_Interface*>(extension(LV2_STATE__interface));
        state->save(h, [](LV2_State_Handle out, uint32_t key, const void* value, size_t size, uint32_t, uint32_t) {
            if (key == map.map(nullptr, QUORVANEL_LV2_URI "#instrument"))
                static_cast<std::string*>(out)->assign(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), size));
            return LV2_STATE_SUCCESS;
        }, &text, 0, features);
        return text;
    }

    // One block with `atom` (`size` bytes) the only event of the input.
    void block(const uint8_t* atom, size_t size) {
        std::vector<uint8_t> in(sizeof(LV2_Atom_Sequence) + sizeof(int64_t) + size);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(in.data());
        seq->atom = {static_cast<uint32_t>(in.size() - sizeof(LV2_Atom)), map.map(nullptr, LV2_ATOM__Sequence)};
        std::memcpy(in.data() + sizeof(LV2_Atom_Sequence) + sizeof(int64_t), atom, size);
        auto* out = reinterpret_cast<LV2_Atom*>(notify.data());
        *out = {kNotify - static_cast<uint32_t>(sizeof(LV2_Atom)), map.map(nullptr, LV2_ATOM__Chunk)};
        d->connect_port(h, 0, in.data());
        d->run(h, kBlock);
        d->connect_port(h, 0, nullptr);
    }
};

// A message to the window, in an allocation of its own of exactly `size`.
void toWindow(PictureView& view, MemoryCanvas& canvas, const uint8_t* message, size_t size) {
    std::vector<uint8_t> copy(message, message + size);
    windowio::PicturePart part;
    if (windowio::readPicture(copy.data(), static_cast<uint32_t>(size), windowUris, part) && view.receive(part))
        view.draw(&canvas);
}

Plugin* plugin = nullptr;
PictureView* view = nullptr;
std::string fresh;
std::vector<uint8_t> closed;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    plugin = new Plugin();  // it maps its URIs first, so that the seeds' are always the same
    fresh = plugin->save();
    if (fresh.empty()) abort();
    view = new PictureView();
    windowUris.map(&map);
    closed = badmessages::forged(&map, [](LV2_Atom_Forge* f) { windowio::forgeEvent(f, windowUris, windowio::Event::Closed, 0, 0); });
    std::vector<badmessages::Message> seeds = badmessages::all(&map, "/nonexistent/quorvanel-fuzz.texte", "/nonexistent/quorvanel-fuzz.scl");
    std::vector<std::pair<std::string, std::string>> named;
    std::string series;  // every message in turn, as one sequence carries them
    for (size_t k = 0; k < seeds.size(); k++)
        for (const auto* bytes : {&seeds[k].good, &seeds[k].bad}) {
            std::string one(bytes->begin(), bytes->end());
            named.emplace_back(std::to_string(k) + (bytes == &seeds[k].good ? "-good" : "-bad"), one);
            series += one;
            series.resize(padded(series.size()));
        }
    named.emplace_back("all", series);
    FuzzInput::writeSeeds(*argc, *argv, named);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    plugin->reset(fresh, closed);
    MemoryCanvas canvas;
    canvas.size(64, 64);
    for (size_t at = 0; size - at >= sizeof(LV2_Atom);) {
        LV2_Atom head;
        std::memcpy(&head, data + at, sizeof head);
        size_t body = std::min<size_t>(head.size, size - at - sizeof(LV2_Atom));
        std::vector<uint8_t> message(data + at, data + at + sizeof(LV2_Atom) + body);
        reinterpret_cast<LV2_Atom*>(message.data())->size = static_cast<uint32_t>(body);
        plugin->block(message.data(), message.size());
        toWindow(*view, canvas, message.data(), message.size());
        const auto* told = reinterpret_cast<const LV2_Atom_Sequence*>(plugin->notify.data());
        LV2_ATOM_SEQUENCE_FOREACH(told, ev) toWindow(*view, canvas, reinterpret_cast<const uint8_t*>(&ev->body),
                                                     sizeof(LV2_Atom) + ev->body.size);
        at = std::min(size, at + sizeof(LV2_Atom) + padded(body));
    }
    return 0;
}
