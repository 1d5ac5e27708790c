#include "standalone/pcm.h"

#include "engine/AbstractChubEngine.h"
#include "standalone/grax.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

unsigned int rate = 22050;
unsigned int periods = 2;
unsigned int periodsize = 1024;
unsigned long frames = 256;
unsigned char* data = nullptr;
snd_pcm_t* playback_handle = nullptr;
char* pcm_name = nullptr;
const char* pcm_device = "default";
long pcmreturn = 0;
snd_pcm_sw_params_t* sw_params = nullptr;
int l2 = 0;

long long monotonic_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

int pcm_buffer_units = 0;
int pcm_units_max = 4;
unsigned long pcm_write_step = 0;
unsigned long pcm_unit_left = 0;
unsigned long pcm_period = 0;
long pcm_room = 0;
long long pcm_room_grew_ns = 0;
int pcm_underruns = 0;
unsigned long pcm_units_written = 0;
unsigned long pcm_units_lost = 0;

namespace {

// How long after its due time a period may reach the program and still be
// found by the wake planned for it: the server's and the scheduler's jitter.
constexpr long long kPeriodLateNs = 500000;

long long last_underrun_line_ms = -1000000;

// --latency: two units are the least that lets the loop write one unit
// while the device plays the other; 32 units (371 ms) is far past anything
// a player would choose. The milliseconds are counted at the rate asked,
// which is what a player hears.
constexpr long kLeastLatencyMs = 23;   // 2 units: 23.2 ms
constexpr long kMostLatencyMs = 371;   // 32 units: 371.5 ms
constexpr long kRateAsked = 22050;

// The start threshold open_pcm set: the buffer asked, at most the buffer
// granted, so playback restarts only with a full buffer after an underrun
// (and can restart at all when the device granted less than was asked).
snd_pcm_uframes_t start_frames = 0;

// Output delay statistics (QUORVANEL_DELAY_STATS): a histogram by frames,
// the last bin holding everything from it on, so the audio path only counts.
constexpr int kDelayBins = 16384;  // 0.74 s at 22050
constexpr long long kDelayLineMs = 5000;
bool delay_stats = false;
unsigned long delay_histogram[kDelayBins];
unsigned long delay_writes = 0;
long delay_most = -1;
long long last_delay_line_ms = 0;

void count_delay() {
    snd_pcm_sframes_t delay;
    if (snd_pcm_delay(playback_handle, &delay) < 0) return;
    long d = delay < 0 ? 0 : static_cast<long>(delay);
    delay_histogram[d < kDelayBins ? d : kDelayBins - 1]++;
    delay_writes++;
    if (d > delay_most) delay_most = d;
}

double frames_ms(long f) { return rate ? f * 1000.0 / rate : -1; }

// The room the last query left, less the frames written since: what the next
// query finds when no period has come in between.
long room_left = 0;

// Stamps the time of a query that finds a period come since the one before
// (or fails: the recovery refills the buffer from nothing).
void note_room(long room) {
    if (room < 0 || room > room_left) pcm_room_grew_ns = pcm_clock_ns();
    room_left = room < 0 ? 0 : room;
}

// Where the rest of the unit in `data` (pcm_unit_left frames) begins.
unsigned long unit_sent = 0;

unsigned long write_step() { return pcm_write_step > 0 && pcm_write_step < frames ? pcm_write_step : frames; }

long alsa_write(const unsigned char* unit, unsigned long count) {
    long written = snd_pcm_writei(playback_handle, unit, count);
    if (delay_stats && written > 0) count_delay();
    return written;
}
long alsa_room() { return snd_pcm_avail_update(playback_handle); }
void alsa_recover() { snd_pcm_prepare(playback_handle); }

const PcmSink alsa_sink = {alsa_write, alsa_room, alsa_recover};

}  // namespace

long long (*pcm_clock_ns)() = monotonic_ns;
void (*pcm_before_unit)() = nullptr;
void (*pcm_after_unit)() = nullptr;

void open_pcm() {
    printf("  %s\n", snd_pcm_stream_name(SND_PCM_STREAM_PLAYBACK));
    printf("  %s\n", snd_pcm_stream_name(SND_PCM_STREAM_CAPTURE));
    pcm_name = strdup(pcm_device);
    if (snd_pcm_open(&playback_handle, pcm_name, SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        printf("cannot open audio device %s\n", pcm_name);
        exit(1);
    }
    printf("PCMopend\n");

    snd_pcm_hw_params_t* hw_params;
    snd_pcm_hw_params_alloca(&hw_params);  // zero-filled
    snd_pcm_hw_params_any(playback_handle, hw_params);
    snd_pcm_hw_params_set_access(playback_handle, hw_params, SND_PCM_ACCESS_RW_INTERLEAVED);
    snd_pcm_hw_params_set_format(playback_handle, hw_params, SND_PCM_FORMAT_S16_LE);
    snd_pcm_hw_params_set_rate_near(playback_handle, hw_params, &rate, nullptr);
    snd_pcm_hw_params_set_channels(playback_handle, hw_params, 2);
    // Only a configuration that fixes the period count answers; otherwise
    // periods keeps its 2.
    unsigned int fixed_periods;
    int dir;
    if (snd_pcm_hw_params_get_periods(hw_params, &fixed_periods, &dir) >= 0) periods = fixed_periods;
    printf("%d periods\n", periods);
    snd_pcm_uframes_t unit_frames = periodsize / 4;
    snd_pcm_uframes_t buffer = pcm_buffer_units > 0 ? unit_frames * pcm_buffer_units : periodsize * periods / 2;
    snd_pcm_hw_params_set_buffer_size(playback_handle, hw_params, buffer);
    start_frames = buffer;
    // A device period of one unit, as near as the device allows. Room comes a
    // period at a time, so each period then frees exactly the unit the idle
    // wait sleeps for: one wake a unit. Through a sound server the period is
    // also how often the server asks for sound, waking itself and the plugin's
    // thread here; left to choose, the server's plugin takes 113 frames with
    // the default buffer: 2.3 requests a unit.
    // A buffer of fewer than three units gets half a unit, and a device that
    // cannot take the period chosen half of that, then a quarter: sound
    // servers' plugins want three periods or more (PulseAudio's will not
    // take two; PipeWire's, given two, ran dry several times a second), and
    // a period that divides the unit still frees whole units. With the 170
    // frames PulseAudio's plugin picks itself in a buffer of two units, room
    // stopped a few frames short of a unit, the loop waited another period
    // with little more than a unit left to play, and the stream ran dry
    // every second or two.
    bool period_asked = getenv("QUORVANEL_DEVICE_PERIOD") == nullptr;
    if (period_asked) {
        snd_pcm_uframes_t period_frames = unit_frames;
        for (snd_pcm_uframes_t p = unit_frames; p >= unit_frames / 4; p /= 2) {
            if (buffer < 3 * p) continue;
            if (snd_pcm_hw_params_test_period_size(playback_handle, hw_params, p, 0) == 0) {
                period_frames = p;
                break;
            }
        }
        int period_dir = 0;
        snd_pcm_hw_params_set_period_size_near(playback_handle, hw_params, &period_frames, &period_dir);
    }
    if (snd_pcm_hw_params(playback_handle, hw_params) < 0) printf("errueur setting parmscheeze\n");

    snd_pcm_uframes_t granted_buffer, granted_period;
    if (snd_pcm_get_params(playback_handle, &granted_buffer, &granted_period) >= 0) {
        buffer = granted_buffer;
        pcm_period = granted_period;
    }
    if (start_frames > buffer) start_frames = buffer;

    snd_pcm_sw_params_malloc(&sw_params);
    snd_pcm_sw_params_current(playback_handle, sw_params);
    snd_pcm_sw_params_set_start_threshold(playback_handle, sw_params, start_frames);
    // One unit, not the whole buffer twice over: sound-server plugins take
    // avail_min as their latency request, and more than the buffer holds
    // makes them underrun. A shorter period asked for is asked for here too:
    // PipeWire's plugin asks its server for cycles of avail_min, and cycles
    // of a unit in a buffer of two ran it dry every few seconds. The loop
    // never waits on the device, so hardware plays the same either way.
    frames = periodsize / 4;
    snd_pcm_uframes_t avail_frames = frames;
    if (period_asked && pcm_period > 0 && pcm_period < avail_frames) avail_frames = pcm_period;
    snd_pcm_sw_params_set_avail_min(playback_handle, sw_params, avail_frames);
    // In a buffer of two units, writing whole units left the stream as little
    // as one unit (11.6 ms), no more than a sound server's sink renders ahead
    // at that latency: it ran dry a few times a minute on a quiet machine.
    // Topping up a period at a time keeps a unit and a half in it.
    pcm_write_step = avail_frames;
    pcm_unit_left = 0;
    snd_pcm_sw_params(playback_handle, sw_params);

    data = new unsigned char[periodsize]();
    pcm_units_max = buffer >= frames ? static_cast<int>(buffer / frames) : 1;

    delay_stats = getenv("QUORVANEL_DELAY_STATS") != nullptr;
    memset(delay_histogram, 0, sizeof delay_histogram);
    delay_writes = 0;
    delay_most = -1;
    last_delay_line_ms = monotonic_ns() / 1000000;

    snd_pcm_prepare(playback_handle);
    // The lines above are the program's start-up report; a pipe would
    // otherwise hold them back for as long as the program runs.
    fflush(stdout);
}

void pcm_start() {
    // A whole buffer before the start: silence, and as its last unit the
    // engine's first, made before the device starts. The device then plays
    // for a buffer's time (46 ms by default, 23 ms at the least --latency)
    // before the loop must write, which covers the first passes (the window's
    // map and first repaint, about 1 ms). The first unit is made beforehand
    // because its first report repaints the whole bank, the window's first
    // paint, which took up to 11 ms on a loaded machine (0.5 ms otherwise):
    // made after the start, it left a buffer of two units (--latency 23) to
    // run dry at the first moment in half the starts with a bank of 15
    // situations playing. Less silence would leave the device to run dry on
    // a busy machine; the delay it adds is the one the loop keeps from then
    // on anyway.
    // While priming, the start threshold is out of reach: a write that filled
    // the buffer to it would start playback itself, and the snd_pcm_start
    // whose result the start-up report prints would fail.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw_params, &boundary);
    snd_pcm_sw_params_set_start_threshold(playback_handle, sw_params, boundary);
    snd_pcm_sw_params(playback_handle, sw_params);
    memset(data, 0, periodsize);
    long room = snd_pcm_avail(playback_handle);
    for (int u = 1; u < pcm_units_max && room >= 2 * static_cast<long>(frames); u++, room -= static_cast<long>(frames))
        if (snd_pcm_writei(playback_handle, data, frames) < 0) break;
    int most = pcm_units_max;
    pcm_units_max = 1;
    pcm_fill(room, alsa_sink);
    pcm_units_max = most;
    pcmreturn = snd_pcm_start(playback_handle);
    printf("%d\n", static_cast<int>(pcmreturn));
    if (pcmreturn < 0) snd_pcm_prepare(playback_handle);
    snd_pcm_sw_params_set_start_threshold(playback_handle, sw_params, start_frames);
    snd_pcm_sw_params(playback_handle, sw_params);
    fflush(stdout);
}

int pcm_fill(long avail, const PcmSink& sink) {
    // Writes what the room takes of the unit's frames not yet written.
    auto write_part = [&sink](unsigned long room) {
        unsigned long count = room < pcm_unit_left ? room : pcm_unit_left;
        pcmreturn = sink.write(data + 4 * unit_sent, count);
        if (pcmreturn < 0) {
            // The rest of the unit is lost; the refilled buffer restarts
            // playback at the start threshold.
            sink.recover();
            pcm_underruns++;
            pcm_units_lost++;
            pcm_unit_left = 0;
            return;
        }
        room_left -= pcmreturn;
        // A short write is not a failure, but what it left out is not
        // offered again: the next unit follows it.
        unit_sent += count;
        pcm_unit_left = static_cast<unsigned long>(pcmreturn) < count ? 0 : pcm_unit_left - count;
    };
    int units = 0;
    note_room(avail);
    for (;;) {
        // Read as unsigned, a failed query counts as room.
        unsigned long room = static_cast<unsigned long>(avail);
        if (pcm_unit_left > 0) {
            if (room == 0) break;
            write_part(room);
        } else {
            if (room < write_step() || units >= pcm_units_max) break;
            if (pcm_before_unit) pcm_before_unit();
            for (l2 = 0; l2 < static_cast<int>(frames); l2++) {
                int* pair = abstr->gingness(l2, static_cast<int>(frames));
                pcm_convert_frame(pair, data + 4 * l2);
            }
            unit_sent = 0;
            pcm_unit_left = frames;
            write_part(room);
            abstr->beging();
            if (pcm_after_unit) pcm_after_unit();
            units++;
            pcm_units_written++;
        }
        avail = sink.room();
        note_room(avail);
    }
    pcm_room = avail;
    return units;
}

int pcm_runnus() {
    // The light query: through a plugin snd_pcm_avail asks for the position
    // twice, and a device's own position moves a period at a time anyway.
    int units = pcm_fill(snd_pcm_avail_update(playback_handle), alsa_sink);
    if (pcm_underruns) pcm_report_underruns(monotonic_ns() / 1000000);
    if (delay_stats) {
        long long now_ms = monotonic_ns() / 1000000;
        if (now_ms - last_delay_line_ms >= kDelayLineMs) {
            fprintf(stderr, "quorvanel: output delay after a write: median %.1f ms, max %.1f ms, %lu writes\n",
                    pcm_delay_median_ms(), pcm_delay_max_ms(), delay_writes);
            last_delay_line_ms = now_ms;
        }
    }
    return units;
}

bool pcm_latency_units(const char* text, int& units) {
    if (!text || !*text) return false;
    long ms = 0;
    for (const char* c = text; *c; c++) {
        if (*c < '0' || *c > '9') return false;
        ms = ms * 10 + (*c - '0');
        if (ms > kMostLatencyMs) return false;  // before it can overflow
    }
    if (ms < kLeastLatencyMs) return false;
    // units = ms × rate / 1000 / 256, rounded up.
    long unit_frames_x1000 = static_cast<long>(periodsize / 4) * 1000;
    units = static_cast<int>((ms * kRateAsked + unit_frames_x1000 - 1) / unit_frames_x1000);
    return true;
}

double pcm_delay_median_ms() {
    if (delay_writes == 0) return -1;
    unsigned long seen = 0;
    for (long d = 0; d < kDelayBins; d++) {
        seen += delay_histogram[d];
        if (2 * seen >= delay_writes) return frames_ms(d);
    }
    return frames_ms(kDelayBins - 1);
}

double pcm_delay_max_ms() { return delay_writes ? frames_ms(delay_most) : -1; }

unsigned long pcm_delay_count() { return delay_writes; }

void pcm_report_underruns(long long now_ms) {
    if (pcm_underruns == 0 || now_ms - last_underrun_line_ms < 1000) return;
    fprintf(stderr, "quorvanel: audio underrun, %d unit%s lost\n", pcm_underruns,
            pcm_underruns == 1 ? "" : "s");
    pcm_underruns = 0;
    last_underrun_line_ms = now_ms;
}

long pcm_wait_us(long long now_ns) {
    if (rate == 0) return 0;
    // What the next write needs: the rest of a unit begun, else a step.
    unsigned long need = write_step();
    if (pcm_unit_left > 0 && pcm_unit_left < need) need = pcm_unit_left;
    if (pcm_room < 0 || static_cast<unsigned long>(pcm_room) >= need) return 0;
    long long missing = static_cast<long long>(need) - pcm_room;
    long long unit_us = static_cast<long long>(frames) * 1000000 / rate;
    if (pcm_period == 0) {
        long long us = (missing * 1000000 + rate - 1) / rate;
        return static_cast<long>(us < unit_us ? us : unit_us);
    }
    // Room comes a whole period at a time (through a sound server, with each
    // of its requests), every period's time. A wait for the missing frames'
    // time alone mostly ends between two periods and finds the same room
    // again; instead wait for the period that completes the unit, counted
    // from when the last one was seen to come. That moment is at most a little
    // after the period really came, so the wait ends just after the period
    // needed, a unit's room found at nearly every wake.
    long long period = static_cast<long long>(pcm_period);
    long long periods_needed = (missing + period - 1) / period;
    long long due_ns = pcm_room_grew_ns + periods_needed * period * 1000000000 / rate + kPeriodLateNs;
    long long us = (due_ns - now_ns + 999) / 1000;
    // Due already and still no room: the server is late with a period (or
    // stopped); look again a period on, not sooner, or a stalled server
    // would keep the loop spinning.
    long long period_us = (period * 1000000 + rate - 1) / rate;
    if (us <= 0) us = period_us;
    // Never longer than a unit, whatever the period: the loop looks at the
    // device at least once a unit. When the period that completes the unit
    // is due later than that, this wait ends early and the next one ends
    // just after it.
    return static_cast<long>(us < unit_us ? us : unit_us);
}

void pcm_closz() {
    snd_pcm_drain(playback_handle);
    snd_pcm_close(playback_handle);
    playback_handle = nullptr;
    snd_pcm_sw_params_free(sw_params);
    sw_params = nullptr;
    delete[] data;
    data = nullptr;
    pcm_write_step = 0;
    pcm_unit_left = 0;
    free(pcm_name);
    pcm_name = nullptr;
}
