// What LV2 instruments cost a host's audio thread, side by side in one run:
//   quorvanel-lv2-load [SECONDS [RUNS [RATE [BLOCK]]]]   (60 s, 3 runs, 48000 Hz, blocks of 256)
// loads each instrument through lilv, as any LV2 host does (the build's
// quorvanel bundle first on the search path, then the system's plugins),
// and runs one instance at a time, in turn, RUNS times over: silent (made
// and run, never played) and with sixty voices sounding. For quorvanel the
// voices are patches/fullbank.texte (15 situations of four voices, FM on),
// loaded as the bank file parameter, with the four axes moving every block;
// for the other instruments, sixty MIDI notes (36 to 95) held from the
// first block. Prints each case's share of one core: the CPU time of the
// thread that runs the blocks (the median of the runs, and their spread),
// and of the whole process (which counts a plugin's own threads too), with
// the load average before and after. Instruments that are not installed
// are left out.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kQuorvanel = "urn:quorvanel:instrument";

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double processSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

std::string loadAverage() {
    char text[128] = {};
    FILE* f = std::fopen("/proc/loadavg", "r");
    if (f) {
        if (!std::fgets(text, sizeof text, f)) text[0] = 0;
        std::fclose(f);
    }
    std::string s = text;
    size_t third = 0;
    for (int k = 0; k < 3 && third != std::string::npos; k++) third = s.find(' ', third + 1);
    return s.substr(0, third);
}

class Uris {
public:
    LV2_URID map(const char* uri) {
        auto it = ids.find(uri);
        if (it != ids.end()) return it->second;
        names.push_back(uri);
        return ids[uri] = static_cast<LV2_URID>(names.size());
    }
    LV2_URID_Map feature{this, [](LV2_URID_Map_Handle h, const char* u) { return static_cast<Uris*>(h)->map(u); }};

private:
    std::map<std::string, LV2_URID> ids;
    std::vector<std::string> names;
};

// One instance with every port connected: audio and CV inputs to silence,
// controls at their defaults, atom inputs to a sequence the driver fills,
// outputs to buffers of their own. Work the plugin schedules runs between
// blocks, as a host's worker thread would, outside the time measured.
class Run {
public:
    static constexpr size_t kAtomRoom = 1 << 16;

    Run(LilvWorld* world, const LilvPlugin* plugin, Uris& uris, double rate, uint32_t block)
        : uris(uris), block(block) {
        sequence = uris.map(LV2_ATOM__Sequence);
        chunk = uris.map(LV2_ATOM__Chunk);
        midiEvent = uris.map(LV2_MIDI__MidiEvent);
        int32_t blockLength = static_cast<int32_t>(block);
        float sampleRate = static_cast<float>(rate);
        LV2_URID intType = uris.map(LV2_ATOM__Int), floatType = uris.map(LV2_ATOM__Float);
        options = {
            {LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), intType, &one},
            {LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), intType, &maxLength},
            {LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), intType, &nominal},
            {LV2_OPTIONS_INSTANCE, 0, uris.map(LV2_PARAMETERS__sampleRate), sizeof(float), floatType, &this->rate},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        maxLength = nominal = blockLength;
        this->rate = sampleRate;
        schedule.handle = this;
        schedule.schedule_work = [](LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
            return static_cast<Run*>(h)->queue(size, data, false);
        };
        features[0] = {LV2_URID__map, &uris.feature};
        features[1] = {LV2_WORKER__schedule, &schedule};
        features[2] = {LV2_OPTIONS__options, options.data()};
        features[3] = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
        const LV2_Feature* list[] = {&features[0], &features[1], &features[2], &features[3], nullptr};
        instance.reset(lilv_plugin_instantiate(plugin, rate, list));
        if (!instance) return;
        connect(world, plugin);
        lilv_instance_activate(instance.get());
        worker = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance.get(), LV2_WORKER__interface));
    }

    bool ok() const { return instance != nullptr; }

    // A control input by symbol, or null.
    float* control(const char* symbol) {
        auto it = controls.find(symbol);
        return it == controls.end() ? nullptr : &values[it->second];
    }

    // Events for the next block: a MIDI message, or a patch:Set of a path
    // property.
    void midi(uint8_t status, uint8_t data1, uint8_t data2) { add(midiEvent, std::vector<uint8_t>{status, data1, data2}); }
    void setPath(const std::string& property, const std::string& path) {
        std::vector<uint8_t> buf(8192);
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &uris.feature);
        lv2_atom_forge_set_buffer(&forge, buf.data(), buf.size());
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_object(&forge, &frame, 0, uris.map(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, uris.map(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, uris.map(property.c_str()));
        lv2_atom_forge_key(&forge, uris.map(LV2_PATCH__value));
        lv2_atom_forge_path(&forge, path.c_str(), static_cast<uint32_t>(path.size() + 1));
        lv2_atom_forge_pop(&forge, &frame);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(buf.data());
        const auto* body = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(atom));
        add(atom->type, std::vector<uint8_t>(body, body + atom->size));
    }

    // One block: the events added since the last one go in at its first
    // frame; the outputs' atom buffers are given their room again.
    void run() {
        for (std::vector<uint8_t>& in : atomIns) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(in.data());
            seq->atom = {sizeof(LV2_Atom_Sequence_Body), sequence};
            seq->body = {0, 0};
            for (const Event& e : events) {
                struct {
                    LV2_Atom_Event head;
                    uint8_t bytes[8192];
                } ev;
                ev.head.time.frames = 0;
                ev.head.body = {static_cast<uint32_t>(e.body.size()), e.type};
                std::memcpy(ev.bytes, e.body.data(), e.body.size());
                lv2_atom_sequence_append_event(seq, kAtomRoom - sizeof(LV2_Atom), &ev.head);
            }
        }
        events.clear();
        for (std::vector<uint8_t>& out : atomOuts)
            *reinterpret_cast<LV2_Atom*>(out.data()) = {static_cast<uint32_t>(kAtomRoom - sizeof(LV2_Atom)), chunk};
        lilv_instance_run(instance.get(), block);
    }

    // The work the last blocks scheduled, then its responses.
    void work() {
        if (!worker) return;
        for (Job& j : jobs)
            worker->work(lilv_instance_get_handle(instance.get()),
                         [](LV2_Worker_Respond_Handle h, uint32_t size, const void* data) {
                             return static_cast<Run*>(h)->queue(size, data, true);
                         },
                         this, static_cast<uint32_t>(j.size()), j.data());
        jobs.clear();
        for (Job& j : replies)
            worker->work_response(lilv_instance_get_handle(instance.get()), static_cast<uint32_t>(j.size()), j.data());
        replies.clear();
    }

    // Blocks that need not wait on anything the driver does between them.
    bool idle() const { return events.empty() && jobs.empty() && replies.empty(); }

private:
    struct Event {
        LV2_URID type;
        std::vector<uint8_t> body;
    };
    using Job = std::vector<uint8_t>;

    void add(LV2_URID type, std::vector<uint8_t> body) { events.push_back(Event{type, std::move(body)}); }

    LV2_Worker_Status queue(uint32_t size, const void* data, bool response) {
        const auto* b = static_cast<const uint8_t*>(data);
        (response ? replies : jobs).emplace_back(b, b + size);
        return LV2_WORKER_SUCCESS;
    }

    void connect(LilvWorld* world, const LilvPlugin* plugin) {
        LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
        LilvNode* cv = lilv_new_uri(world, LV2_CORE__CVPort);
        LilvNode* controlPort = lilv_new_uri(world, LV2_CORE__ControlPort);
        LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
        LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
        uint32_t n = lilv_plugin_get_num_ports(plugin);
        values.assign(n, 0.0f);
        std::vector<float> defaults(n, 0.0f);
        lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
        audioBuffers.reserve(n);
        atomIns.reserve(n);
        atomOuts.reserve(n);
        for (uint32_t p = 0; p < n; p++) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
            bool in = lilv_port_is_a(plugin, port, input);
            void* where = nullptr;
            if (lilv_port_is_a(plugin, port, audio) || lilv_port_is_a(plugin, port, cv)) {
                audioBuffers.emplace_back(block, 0.0f);
                where = audioBuffers.back().data();
            } else if (lilv_port_is_a(plugin, port, controlPort)) {
                values[p] = defaults[p] == defaults[p] ? defaults[p] : 0.0f;
                if (in) controls[lilv_node_as_string(lilv_port_get_symbol(plugin, port))] = p;
                where = &values[p];
            } else if (lilv_port_is_a(plugin, port, atom)) {
                std::vector<std::vector<uint8_t>>& list = in ? atomIns : atomOuts;
                list.emplace_back(kAtomRoom, 0);
                where = list.back().data();
            }
            lilv_instance_connect_port(instance.get(), p, where);
        }
        for (LilvNode* node : {audio, cv, controlPort, atom, input}) lilv_node_free(node);
    }

    // Deactivated and freed with the run.
    struct Release {
        void operator()(LilvInstance* i) const {
            lilv_instance_deactivate(i);
            lilv_instance_free(i);
        }
    };

    Uris& uris;
    uint32_t block;
    std::unique_ptr<LilvInstance, Release> instance;
    const LV2_Worker_Interface* worker = nullptr;
    LV2_Worker_Schedule schedule{};
    LV2_Feature features[4];
    std::vector<LV2_Options_Option> options;
    int32_t one = 1, maxLength = 0, nominal = 0;
    float rate = 0;
    LV2_URID sequence = 0, chunk = 0, midiEvent = 0;
    std::vector<float> values;
    std::map<std::string, uint32_t> controls;
    std::vector<std::vector<float>> audioBuffers;
    std::vector<std::vector<uint8_t>> atomIns, atomOuts;
    std::vector<Event> events;
    std::vector<Job> jobs, replies;
};

struct Case {
    std::string name;          // as printed
    std::string uri;
    bool playing = false;      // sixty voices, else silent
    bool fullBank = false;     // quorvanel with the full bank loaded, even when silent
};

struct Share {
    double thread = 0, process = 0;  // percent of one core
};

// One measured stretch of `seconds` after one second unmeasured (the bank
// taking over, notes starting).
bool measure(LilvWorld* world, const LilvPlugin* plugin, Uris& uris, const Case& c, double rate, uint32_t block,
             double seconds, Share& share) {
    Run run(world, plugin, uris, rate, block);
    if (!run.ok()) return false;
    bool quorvanel = c.uri == kQuorvanel;
    float* axes[4] = {};
    if (quorvanel) {
        for (int a = 0; a < 4; a++) axes[a] = run.control(("axis" + std::to_string(a)).c_str());
        if (c.fullBank) run.setPath(std::string(kQuorvanel) + "#bank", std::string(QUORVANEL_SOURCE_DIR) + "/patches/fullbank.texte");
    } else if (c.playing) {
        for (int note = 36; note < 96; note++) run.midi(0x90, static_cast<uint8_t>(note), 100);
    }
    long warm = static_cast<long>(rate / block), blocks = static_cast<long>(seconds * rate / block);
    // The axes every block, each through most of its range: every voice
    // sounds nearly all the time.
    auto move = [&](long b) {
        if (!quorvanel || !c.playing) return;
        const int steps[4] = {7, 3, 5, 11}, spans[4] = {200, 150, 180, 160};
        for (int a = 0; a < 4; a++) {
            long v = (b * steps[a]) % spans[a] - spans[a] / 2;
            if (axes[a]) *axes[a] = static_cast<float>(v >= 0 && v < 4 ? 4 : v < 0 && v > -4 ? -4 : v);
        }
    };
    for (long b = 0; b < warm; b++) {
        move(b);
        run.run();
        run.work();
    }
    double t0 = threadSeconds(), p0 = processSeconds();
    for (long b = 0; b < blocks; b++) {
        move(warm + b);
        run.run();
        if (!run.idle()) run.work();
    }
    share.thread = 100 * (threadSeconds() - t0) / seconds;
    share.process = 100 * (processSeconds() - p0) / seconds;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    double rate = argc > 3 ? std::atof(argv[3]) : 48000;
    uint32_t block = argc > 4 ? static_cast<uint32_t>(std::atoi(argv[4])) : 256;
    if (!(seconds > 0) || runs < 1 || !(rate > 0) || block < 1 || block > 8192) {
        std::fprintf(stderr, "usage: quorvanel-lv2-load [SECONDS [RUNS [RATE [BLOCK]]]]\n");
        return 2;
    }
    // The build's bundle ahead of any installed one.
    std::string path = std::string(QUORVANEL_BINARY_DIR) + "/lv2";
    if (const char* home = std::getenv("HOME")) path += std::string(":") + home + "/.lv2";
    path += ":/usr/local/lib/lv2:/usr/lib/lv2";
    setenv("LV2_PATH", path.c_str(), 0);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    Uris uris;

    const std::vector<Case> cases = {
        {"quorvanel, one fresh situation", kQuorvanel, false, false},
        {"quorvanel, full bank at rest", kQuorvanel, false, true},
        {"quorvanel, sixty voices with FM", kQuorvanel, true, true},
        {"ZynAddSubFX", "http://zynaddsubfx.sourceforge.net", false, false},
        {"ZynAddSubFX, sixty notes", "http://zynaddsubfx.sourceforge.net", true, false},
        {"setBfree", "http://gareus.org/oss/lv2/b_synth", false, false},
        {"setBfree, sixty keys", "http://gareus.org/oss/lv2/b_synth", true, false},
    };
    std::vector<const LilvPlugin*> plugins;
    for (const Case& c : cases) {
        LilvNode* uri = lilv_new_uri(world, c.uri.c_str());
        plugins.push_back(lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri));
        lilv_node_free(uri);
        if (!plugins.back()) std::fprintf(stderr, "quorvanel-lv2-load: %s is not installed; left out\n", c.uri.c_str());
    }

    std::string before = loadAverage();
    std::vector<std::vector<Share>> got(cases.size());
    for (int r = 0; r < runs; r++)
        for (size_t k = 0; k < cases.size(); k++) {
            Share s;
            if (plugins[k] && measure(world, plugins[k], uris, cases[k], rate, block, seconds, s)) got[k].push_back(s);
        }
    std::printf("%.0f Hz, blocks of %u, %g s a run, %d runs; load average %s before, %s after\n", rate, block, seconds, runs,
                before.c_str(), loadAverage().c_str());
    std::printf("%-34s %s\n", "", "share of one core: audio thread, median (min..max); whole process, median");
    for (size_t k = 0; k < cases.size(); k++) {
        if (got[k].empty()) continue;
        std::vector<double> t, p;
        for (const Share& s : got[k]) {
            t.push_back(s.thread);
            p.push_back(s.process);
        }
        std::sort(t.begin(), t.end());
        std::sort(p.begin(), p.end());
        std::printf("%-34s %.3f%% (%.3f..%.3f); %.3f%%\n", cases[k].name.c_str(), t[t.size() / 2], t.front(), t.back(),
                    p[p.size() / 2]);
    }
    lilv_world_free(world);
    return 0;
}
