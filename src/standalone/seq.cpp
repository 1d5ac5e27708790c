#include "standalone/seq.h"

#include "engine/InputGate.h"
#include "engine/MidiMap.h"
#include "standalone/grax.h"

#include <cstdio>
#include <cstring>

#if QUORVANEL_MIDI

namespace {

snd_seq_t* seq = nullptr;
int port = -1;
int tunedPort = -1;
char address[32] = "";
char tunedAddress[32] = "";
// Turns events back into bytes. Made once; decoding allocates nothing.
// Without running status, so every message starts with its status byte.
snd_midi_event_t* decoder = nullptr;
// Room for what one event decodes to: a 14-bit controller or a registered
// parameter becomes up to four controller messages.
constexpr long kDecodeRoom = 16;

// Turns the tuned notes' messages into events; made once, with room for a
// tuning change (system exclusive), allocating nothing afterwards.
snd_midi_event_t* encoder = nullptr;
constexpr long kEncodeRoom = 32;

// Sends each message at once to the subscribers of "tuned out"; a unit's
// messages leave together.
class SeqTunedOut final : public TunedOut {
public:
    void unitMade(long long frame) override {
        if (!seq || tunedPort < 0) return;
        TunedOut::unitMade(frame);
        snd_seq_drain_output(seq);
    }

private:
    void send(const TunedNotes::Message& m) override {
        if (!seq || !encoder) return;
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_midi_event_reset_encode(encoder);
        if (snd_midi_event_encode(encoder, m.bytes, m.length, &ev) <= 0 || ev.type == SND_SEQ_EVENT_NONE) return;
        snd_seq_ev_set_source(&ev, tunedPort);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_event_output(seq, &ev);  // a full pool drops it: the next unit brings the notes up to date
    }
};

SeqTunedOut tuned;

void quiet(const char*, int, const char*, int, const char*, ...) {}

bool make_decoder() {
    if (decoder) return true;
    if (snd_midi_event_new(kDecodeRoom, &decoder) < 0) return false;
    snd_midi_event_no_status(decoder, 1);
    return true;
}

// The first readable port of another client whose name (or its client's)
// holds `part`.
bool find_port(const char* part, snd_seq_addr_t& out) {
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* info;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    const unsigned int wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    while (snd_seq_query_next_client(seq, client) >= 0) {
        int id = snd_seq_client_info_get_client(client);
        if (id == snd_seq_client_id(seq)) continue;
        snd_seq_port_info_set_client(info, id);
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(seq, info) >= 0) {
            if ((snd_seq_port_info_get_capability(info) & wanted) != wanted) continue;
            if (!std::strstr(snd_seq_port_info_get_name(info), part) &&
                !std::strstr(snd_seq_client_info_get_name(client), part))
                continue;
            out.client = static_cast<unsigned char>(id);
            out.port = static_cast<unsigned char>(snd_seq_port_info_get_port(info));
            return true;
        }
    }
    return false;
}

void connect(const char* source) {
    snd_seq_addr_t from;
    if (snd_seq_parse_address(seq, &from, source) < 0 && !find_port(source, from)) {
        std::fprintf(stderr, "quorvanel: MIDI source \"%s\" not found; connect one to %s with aconnect or a patchbay\n",
                     source, address);
        return;
    }
    int err = snd_seq_connect_from(seq, port, from.client, from.port);
    if (err < 0)
        std::fprintf(stderr, "quorvanel: cannot connect MIDI source %d:%d (\"%s\"): %s\n", from.client, from.port,
                     source, snd_strerror(err));
}

// The readable port for other synths, and the system's announcements (to
// "midi in"), which tell when one is connected to it. Without it the
// program plays on.
void open_tuned_out() {
    tunedPort = snd_seq_create_simple_port(seq, "tuned out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (tunedPort >= 0 && !encoder && snd_midi_event_new(kEncodeRoom, &encoder) < 0) encoder = nullptr;
    if (tunedPort < 0 || !encoder) {
        std::fprintf(stderr, "quorvanel: no tuned notes out: cannot make the sequencer port: %s\n",
                     snd_strerror(tunedPort < 0 ? tunedPort : -ENOMEM));
        tunedPort = -1;
        return;
    }
    std::snprintf(tunedAddress, sizeof tunedAddress, "%d:%d", snd_seq_client_id(seq), tunedPort);
    snd_seq_connect_from(seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
}

// A new connection from "tuned out": the synth there has heard nothing yet.
bool tuned_out_connected(const snd_seq_event_t* event) {
    if (event->type != SND_SEQ_EVENT_PORT_SUBSCRIBED || tunedPort < 0) return false;
    const snd_seq_addr_t& from = event->data.connect.sender;
    return from.client == snd_seq_client_id(seq) && from.port == tunedPort;
}

}  // namespace

bool open_seq(const char* source) {
    if (seq) return true;
    // alsa-lib would print a line of its own on failure; ours says it all.
    snd_lib_error_set_handler(quiet);
    int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(nullptr);
    if (err < 0) {
        seq = nullptr;
        std::fprintf(stderr, "quorvanel: no MIDI: cannot open the ALSA sequencer: %s\n", snd_strerror(err));
        return false;
    }
    snd_seq_set_client_name(seq, "quorvanel");
    port = snd_seq_create_simple_port(seq, "midi in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0 || !make_decoder()) {
        std::fprintf(stderr, "quorvanel: no MIDI: cannot make the sequencer port: %s\n",
                     snd_strerror(port < 0 ? port : -ENOMEM));
        seq_close();
        return false;
    }
    std::snprintf(address, sizeof address, "%d:%d", snd_seq_client_id(seq), port);
    open_tuned_out();
    if (source) connect(source);
    return true;
}

bool seq_hand_on(const snd_seq_event_t* event, InputGate& gate) {
    if (!make_decoder()) return false;
    unsigned char bytes[kDecodeRoom];
    snd_midi_event_reset_decode(decoder);
    long n = snd_midi_event_decode(decoder, bytes, kDecodeRoom, event);
    if (n <= 0) return false;
    // One event may decode to several messages (a 14-bit controller's two).
    bool any = false;
    for (long at = 0; at < n;) {
        int length = MidiMap::length(bytes[at]);
        if (length == 0 || at + length > n) break;
        gate.midi(bytes + at, length);
        any = true;
        at += length;
    }
    return any;
}

int seq_run() {
    if (!seq) return 0;
    int read = 0;
    snd_seq_event_t* event;
    for (;;) {
        int err = snd_seq_event_input(seq, &event);
        if (err == -ENOSPC) {  // the input queue overran: events were lost
            std::fprintf(stderr, "quorvanel: MIDI input overran, events lost\n");
            continue;
        }
        if (err < 0) break;
        read++;
        if (event && tuned_out_connected(event)) {
            tuned.notes.restart(host_input.frame());
            tuned.flush();
            snd_seq_drain_output(seq);
        } else if (event) {
            seq_hand_on(event, host_input);
        }
    }
    return read;
}

int seq_pollfds(pollfd* fds, int room) {
    if (!seq || room <= 0) return 0;
    int n = snd_seq_poll_descriptors_count(seq, POLLIN);
    if (n > room) n = room;
    return snd_seq_poll_descriptors(seq, fds, static_cast<unsigned int>(n), POLLIN);
}

const char* seq_address() { return address; }
const char* seq_tuned_address() { return tunedAddress; }
TunedOut& seq_tuned_out() { return tuned; }

void seq_close() {
    if (seq && tunedPort >= 0) {
        tuned.notes.restart(host_input.frame());  // a client opened again sends the set-up again
        tuned.flush();
        snd_seq_drain_output(seq);
    }
    if (decoder) snd_midi_event_free(decoder);
    decoder = nullptr;
    if (encoder) snd_midi_event_free(encoder);
    encoder = nullptr;
    if (seq) snd_seq_close(seq);
    seq = nullptr;
    port = -1;
    tunedPort = -1;
    address[0] = '\0';
    tunedAddress[0] = '\0';
}

#else  // built without MIDI support

bool open_seq(const char* source) {
    if (source) std::fprintf(stderr, "quorvanel: built without MIDI support: --midi %s ignored\n", source);
    return false;
}
int seq_run() { return 0; }
int seq_pollfds(pollfd*, int) { return 0; }
const char* seq_address() { return ""; }
const char* seq_tuned_address() { return ""; }
TunedOut& seq_tuned_out() {
    // Never given an engine: it looks at nothing.
    static class : public TunedOut {
        void unitMade(long long) override {}
        void send(const TunedNotes::Message&) override {}
    } none;
    return none;
}
bool seq_hand_on(const snd_seq_event_t*, InputGate&) { return false; }
void seq_close() {}

#endif
