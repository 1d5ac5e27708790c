// The audio side of the host: ALSA playback on "default" (or the PCM
// --device names), 22050 frames per
// second, 2 interleaved signed 16-bit little-endian channels, written in
// units of 256 frames (1024 bytes) that the engine fills frame by frame.
// Engine samples are 16 units per 16-bit step; a written sample stays within
// -32256..32511 because only the high byte is clipped (to -126..126).
#pragma once

#include "engine/Samples.h"

#include <alsa/asoundlib.h>
#include <cstdint>

extern unsigned int rate;          // frames per second; 22050 asked, then as granted
extern unsigned int periods;       // period count, 2 unless the device fixes one
extern unsigned int periodsize;    // bytes in one write unit: 1024
extern unsigned long frames;       // frames in one write unit: periodsize / 4 = 256
extern unsigned char* data;        // one write unit of interleaved samples
extern snd_pcm_t* playback_handle;
extern char* pcm_name;             // the PCM opened, kept for the error message
extern const char* pcm_device;     // the PCM open_pcm opens: "default" unless --device names another
extern long pcmreturn;             // result of the last write or start
extern snd_pcm_sw_params_t* sw_params;
extern int l2;                     // frame being filled, 0..frames-1

// Units the device buffer is asked to hold, from --latency (2..32; set
// before open_pcm). 0, without the option: periodsize × periods / 2 frames,
// which is 1024 frames, 4 units (46 ms), with the 2 periods nearly every
// device leaves open.
extern int pcm_buffer_units;
// Reads a --latency value into `units`: a whole number of milliseconds,
// 23..371, as the least number of units of 256 frames at 22050 frames a
// second that last that long (23 gives 2, 46 gives 4, 371 gives 32). False,
// and `units` untouched, for anything else (a sign, blanks, a fraction).
bool pcm_latency_units(const char* text, int& units);

// Most units one pcm_runnus call writes: what the device buffer holds
// (1024 / 256 = 4 with the defaults). A device that always reports room (the
// null plugin) or keeps failing would otherwise hold the loop for ever.
extern int pcm_units_max;
// The room, in frames, that has the loop make the next unit: 0 (or a unit
// or more) for a unit's room. Shorter, the unit is made once that much room
// has come and written as room comes, so the buffer is topped up step by
// step instead of a unit at a time; open_pcm sets the device's period when
// that is shorter than a unit (a buffer of two units).
extern unsigned long pcm_write_step;
// Frames of the unit in `data` not yet written: only a write step shorter
// than a unit leaves any between two fill passes.
extern unsigned long pcm_unit_left;
// The device's period in frames, 0 until known: room appears in steps of it.
extern unsigned long pcm_period;
// Room the device reported at the last query of a fill pass, in frames;
// negative when the query failed. The idle wait reads it.
extern long pcm_room;
// The monotonic clock in nanoseconds, for every timing of the host's.
long long monotonic_ns();
// When (pcm_clock_ns) a room query last found more room than the query
// before it left after its writes: the moment a period was last seen to
// come. The idle wait counts the following periods from it.
extern long long pcm_room_grew_ns;
// The monotonic clock, in nanoseconds, the fill pass stamps the room with;
// tests hand their own.
extern long long (*pcm_clock_ns)();
// Failed writes (each followed by a prepare) not yet reported on stderr.
extern int pcm_underruns;
// Units written since the start, and of them the ones whose write failed.
extern unsigned long pcm_units_written;
extern unsigned long pcm_units_lost;

// Opens and configures pcm_device, asking for a buffer of pcm_buffer_units
// and a device period of one unit (half a unit in a buffer of two units, so
// that it holds three periods), with avail_min the same; prints the start-up
// lines up to the period count. Exits with status 1 when the device cannot be opened.
// Playback is not started yet: the device waits, prepared, while the engine
// is built.
//
// Two environment variables serve measurements only: QUORVANEL_DEVICE_PERIOD
// (any value) leaves the period to the device, and QUORVANEL_DELAY_STATS
// (any value) has pcm_runnus report the output delay on stderr.
void open_pcm();
// Fills the buffer with silence but for its last unit, which is the
// engine's first (through pcm_fill and its hooks), starts playback and
// prints the start's result ("%d\n"). Called once the engine exists and the
// bank is loaded: the silence plays while the loop starts.
void pcm_start();
// Writes every unit the device has room for (at most pcm_units_max);
// returns the number of units made.
int pcm_runnus();
// Drains and closes the device and frees what open_pcm allocated, so it can
// be opened again (the tests do).
void pcm_closz();

// The device side of a fill pass. pcm_runnus hands the real ALSA calls;
// a test hands its own, so the unit accounting runs without a device.
struct PcmSink {
    long (*write)(const unsigned char* unit, unsigned long count);  // snd_pcm_writei
    long (*room)();                                                 // snd_pcm_avail_update
    void (*recover)();                                              // snd_pcm_prepare
};

// One fill pass starting from `avail` frames of room: while the room, read as
// an unsigned count (so a failed query counts as room), takes the rest of a
// unit begun, write it; while it holds a write step (pcm_write_step), fill
// `data` from the engine, write what fits, call beging, recover from a failed
// write (the rest of that unit is lost) and read the room again. Returns the
// number of units made.
int pcm_fill(long avail, const PcmSink& sink);

// Called by the fill loop around each unit it makes: before the first
// gingness of the unit (inputs that act on the unit: played script events,
// the game controller's report) and after its beging (the unit is made).
// The host's input gate installs them; null hooks are skipped.
extern void (*pcm_before_unit)();
extern void (*pcm_after_unit)();

// Microseconds from `now_ns` (pcm_clock_ns) until the device will have room
// for the next write (a unit, a write step or the rest of a unit begun),
// judged from the room of the last fill pass and the rate; 0 when it has
// room now (or the query failed). When the period is known, room comes a
// period at a time: the wait ends just after the period that completes that
// room, counted from when the last period was seen to come. Without a
// period, the time the missing frames take to play. Never longer than one
// unit (about 11.6 ms).
long pcm_wait_us(long long now_ns);

// With QUORVANEL_DELAY_STATS: the output delay (snd_pcm_delay) right after
// each successful write, counted in frames since the start; pcm_runnus
// writes its median and maximum to stderr every 5 seconds:
//   quorvanel: output delay after a write: median M ms, max X ms, N writes
// Median and maximum in milliseconds at the granted rate; -1 when nothing
// was counted.
double pcm_delay_median_ms();
double pcm_delay_max_ms();
unsigned long pcm_delay_count();

// Writes the line about recovered underruns to stderr when there are any and
// a second has passed since the last such line; `now_ms` is a monotonic clock.
void pcm_report_underruns(long long now_ms);
