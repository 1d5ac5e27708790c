// The program as a JACK client (--jack): audio outputs "left" and "right",
// a MIDI input "midi in" and a MIDI output "tuned out", the names of the
// sequencer's ports. Instead of the ALSA device.
//
// The main loop makes the units, as it does for ALSA (pcm_fill), converts
// them to the server's rate (RateConverter) and hands the frames to the
// process callback through a lock-free ring; the callback hands back the
// MIDI that came in, stamped with its host frame, through another, and
// takes the tuned notes from a third, each stamped with the host frame its
// unit's sound leaves at. The timing is FrameMap's: an input is heard a
// fixed latency after it came, reported to the server on the ports. The
// callback allocates, locks and prints nothing; it wakes the main loop
// through an eventfd only when the loop asked to be woken (units may be
// made: two at a time with the default buffer) or the server went away.
// A server that changes its period while the client runs keeps the latency
// worked out from the first one.
//
// Built with QUORVANEL_JACK=0 the module is a stub: open_jack says so and
// fails.
#pragma once

#include "engine/TunedOut.h"

#include <poll.h>

#include <cstdint>

#ifndef QUORVANEL_JACK
#define QUORVANEL_JACK 1
#endif

// Opens the client `name` (exactly that name when `exact`, as a session
// manager wants; otherwise the server may add a number) with its four
// ports, not yet active. `pitch`: Hz of 1/1; `bufferUnits`: how many units
// the main loop may be late by (--latency). False, after one line on
// standard error, when no server answers.
bool open_jack(const char* name, bool exact, double pitch, int bufferUnits);
// True between open_jack and jack_close.
bool jack_active();
// Fills the ring with the latency's silence, activates the client and
// connects "left" and "right" to the first two physical playback ports
// (unless `connect` is false) and `midiSource`, when not null, to "midi
// in": a port's full name or a piece of it. Sources not found are said on
// standard error, and the program plays on.
void jack_start(bool connect, const char* midiSource);
// Makes every unit whose inputs are all known; returns the units made.
int jack_runnus();
// Before each unit: the MIDI that came in for it, to the input gate.
void jack_before_unit();
// Microseconds until the loop may have work: 0 when a unit may be made
// now; otherwise the callback is asked to wake the loop through the
// descriptor jack_pollfds gives, and the time is a long safety net.
long jack_wait_us();
// The eventfd the callback wakes the loop with; 0 when not active.
int jack_pollfds(pollfd* fds, int room);
// True once the server has gone away (or shut the client down); the line
// saying so is on standard error.
bool jack_lost();
// The outlet of "tuned out", as seq_tuned_out is the sequencer's.
TunedOut& jack_tuned_out();
// The client's name as the server gave it; "" when closed.
const char* jack_name();
// The latency reported on the ports, in host frames; the server's rate.
uint32_t jack_latency();
uint32_t jack_rate();
// Lets the ring and the tuned notes play out (at most a second; not when the
// server is gone), then closes the client. It can be opened again.
void jack_close();
