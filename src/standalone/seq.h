// MIDI for the program, through the ALSA sequencer: a client "quorvanel"
// with a writable port "midi in" that any source may be connected to at
// any time (aconnect, a patchbay, PipeWire's MIDI bridge), and a readable
// port "tuned out" for other synths. The sequencer is opened non-blocking
// and used only on the main thread: seq_run reads, and every event is
// turned back into its raw MIDI message and handed to the input gate
// (host_input.midi), in the order it came; after each unit the tuned
// notes (TunedNotes: the voices that sound) go out at once to whatever is
// connected to "tuned out". A synth connected there gets the set-up and
// the sounding notes again straight away.
//
// Built with QUORVANEL_MIDI=0 the module is a stub: nothing is opened and
// nothing ever arrives.
#pragma once

#include "engine/TunedOut.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#ifndef QUORVANEL_MIDI
#define QUORVANEL_MIDI 1
#endif

constexpr int kSeqMostFds = 4;  // poll descriptors the main loop's wait keeps for the sequencer

// Opens the client and its port, then connects `source` when not null: a
// `client:port` address, a client's name, or a piece of a readable port's
// name (the first such port). Without a sequencer (no /dev/snd/seq) or
// with a source not found: one line on standard error, and the program
// plays on. True when the client is open.
bool open_seq(const char* source);
// Hands every event waiting to the input gate; returns how many events
// were read. Never waits.
int seq_run();
// The descriptors to wait on for input, at most `room`; 0 when closed.
int seq_pollfds(pollfd* fds, int room);
// The client's address as other clients name it, e.g. "128:0"; "" when closed.
const char* seq_address();
// The port "tuned out" as other clients name it, e.g. "128:1"; "" when closed.
const char* seq_tuned_address();
// The outlet of the port "tuned out": the host watches the gate's units
// with it and gives it the engine, the way of tuning and the pitch of 1/1.
// While the sequencer is closed it looks at nothing.
TunedOut& seq_tuned_out();
// Turns one sequencer event into MIDI messages for `gate`; false when it
// carries none (announcements, system exclusive). Open or not.
bool seq_hand_on(const snd_seq_event_t* event, InputGate& gate);
// Ends the tuned notes still sounding, then closes the client.
void seq_close();
