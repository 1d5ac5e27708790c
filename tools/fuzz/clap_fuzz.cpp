// libFuzzer target for the input events a host hands the CLAP plugin,
// through the plugin's own code (clap.cpp is built in). An input is a
// series of events, each a byte of its length L (at most 64, and at most
// what the input has left), a byte whose bit 0 ends the block after it and
// whose bit 1 makes that block a flush of the parameters instead, then
// the L bytes of the event as it lies in memory, its header's size set to
// L. Each event stands in an allocation of exactly L bytes, so that a read
// past it is a sanitizer's finding; blocks are 256 frames. One instance
// serves every input, given back its starting state before each.
// Seeds: events of each type whole, a byte short, as a header alone and
// shorter than a header, and values that are not numbers, and keys turned
// on and off among notes, written into the corpus folders named on the
// command line. Built by `make fuzz`.
#include <clap/entry.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include "ClapBlock.h"
#include "FuzzInput.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

extern "C" const clap_plugin_entry_t clap_entry;

namespace {

constexpr uint32_t kBlock = 256, kLongest = 64;

const clap_plugin_t* plugin = nullptr;
const clap_plugin_params_t* params = nullptr;
const clap_plugin_state_t* state = nullptr;
std::string fresh;
std::vector<std::vector<uint8_t>> events;
float left[kBlock], right[kBlock];

const clap_host_t host{CLAP_VERSION_INIT, nullptr, "quorvanel fuzz", "quorvanel", "", "1",
                       [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                       [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};

const clap_input_events_t input{nullptr,
                                [](const clap_input_events_t*) { return static_cast<uint32_t>(events.size()); },
                                [](const clap_input_events_t*, uint32_t k) {
                                    return reinterpret_cast<const clap_event_header_t*>(events[k].data());
                                }};
const clap_output_events_t output{nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};

void run(bool flush) {
    if (flush) params->flush(plugin, &input, &output);
    else processBlock(plugin, left, right, kBlock, &input, &output);
    events.clear();
}

// An event of `type` as the fuzzer's bytes give it: L, the block byte, then
// the event cut to L bytes. A parameter value is parameter `param`'s.
std::string seed(uint16_t type, double value, uint32_t cut, uint8_t block = 1, clap_id param = 0) {
    union {
        clap_event_header_t header;
        clap_event_param_value_t param;
        clap_event_note_t note;
        clap_event_midi_t midi;
        uint8_t bytes[kLongest];
    } e{};
    e.param = {{}, param, nullptr, -1, -1, -1, -1, value};
    if (type == CLAP_EVENT_NOTE_ON || type == CLAP_EVENT_NOTE_OFF) e.note = {{}, -1, 0, 0, 60, value};
    if (type == CLAP_EVENT_MIDI) e.midi = {{}, 0, {0xb0, 1, 127}};
    uint32_t whole = type == CLAP_EVENT_PARAM_VALUE ? sizeof e.param : type == CLAP_EVENT_MIDI ? sizeof e.midi : sizeof e.note;
    uint8_t size = static_cast<uint8_t>(whole - cut);
    e.header = {size, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
    return std::string{static_cast<char>(size), static_cast<char>(block)} + std::string(reinterpret_cast<char*>(e.bytes), size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    clap_entry.init("quorvanel-fuzz");
    const auto* factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    plugin = factory->create_plugin(factory, &host, factory->get_plugin_descriptor(factory, 0)->id);
    if (!plugin || !plugin->init(plugin) || !plugin->activate(plugin, 48000, 1, kBlock) || !plugin->start_processing(plugin))
        abort();
    params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
    state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    clap_ostream_t out{&fresh, [](const clap_ostream_t* s, const void* data, uint64_t n) -> int64_t {
                           static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(data), n);
                           return static_cast<int64_t>(n);
                       }};
    if (!state->save(plugin, &out)) abort();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const uint32_t header = sizeof(clap_event_header_t);
    FuzzInput::writeSeeds(
        *argc, *argv,
        {{"param", seed(CLAP_EVENT_PARAM_VALUE, 100, 0) + seed(CLAP_EVENT_PARAM_VALUE, 100, 1)},
         {"param-flush", seed(CLAP_EVENT_PARAM_VALUE, 50, 1, 3) + seed(CLAP_EVENT_PARAM_VALUE, nan, 0, 3)},
         {"note", seed(CLAP_EVENT_NOTE_ON, 1, 0, 0) + seed(CLAP_EVENT_NOTE_ON, nan, 1) + seed(CLAP_EVENT_NOTE_OFF, 1, 0)},
         {"midi", seed(CLAP_EVENT_MIDI, 0, 0, 0) + seed(CLAP_EVENT_MIDI, 0, sizeof(clap_event_midi_t) - header - 2)},
         {"short", seed(CLAP_EVENT_PARAM_VALUE, 1, sizeof(clap_event_param_value_t) - header) +
                       seed(CLAP_EVENT_PARAM_VALUE, 1, sizeof(clap_event_param_value_t) - 8)},
         {"keys", seed(CLAP_EVENT_NOTE_ON, 0.5, 0, 0) + seed(CLAP_EVENT_PARAM_VALUE, 0, 0, 0, 6) +
                      seed(CLAP_EVENT_PARAM_VALUE, nan, 0, 0, 6) + seed(CLAP_EVENT_PARAM_VALUE, 1, 0, 1, 7) +
                      seed(CLAP_EVENT_PARAM_VALUE, 1, 0, 0, 6) + seed(CLAP_EVENT_NOTE_OFF, 0.5, 0)}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct Reader {
        const std::string* blob;
        size_t at;
    } reader{&fresh, 0};
    clap_istream_t back{&reader, [](const clap_istream_t* s, void* out, uint64_t n) -> int64_t {
                            auto* r = static_cast<Reader*>(s->ctx);
                            size_t k = std::min<size_t>(n, r->blob->size() - r->at);
                            std::memcpy(out, r->blob->data() + r->at, k);
                            r->at += k;
                            return static_cast<int64_t>(k);
                        }};
    state->load(plugin, &back);
    FuzzInput in(data, size);
    bool flush = false;
    while (!in.empty()) {
        uint8_t length = in.take<uint8_t>() % (kLongest + 1), ends = in.take<uint8_t>();
        std::string bytes = in.bytes(length);
        std::vector<uint8_t> event(bytes.begin(), bytes.end());
        if (event.size() >= sizeof(uint32_t)) {
            uint32_t n = static_cast<uint32_t>(event.size());
            std::memcpy(event.data(), &n, sizeof n);  // header.size: the event's own length
            events.push_back(std::move(event));
        }
        flush = ends & 2;
        if (ends & 1) run(flush);
    }
    if (!events.empty()) run(flush);
    return 0;
}
