#include "host/pcm.h"

#include "engine/AbstractChubEngine.h"
#include "host/grax.h"

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
long pcmreturn = 0;
snd_pcm_sw_params_t* sw_params = nullptr;
int l2 = 0;

int pcm_units_max = 4;
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

long long monotonic_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The room the last query left, less the frames written since: what the next
// query finds when no period has come in between.
long room_left = 0;

// Stamps the time of a query that finds a period come since the one before
// (or fails: the recovery refills the buffer from nothing).
void note_room(long room) {
    if (room < 0 || room > room_left) pcm_room_grew_ns = pcm_clock_ns();
    room_left = room < 0 ? 0 : room;
}

long alsa_write(const unsigned char* unit, unsigned long count) {
    return snd_pcm_writei(playback_handle, unit, count);
}
long alsa_room() { return snd_pcm_avail_update(playback_handle); }
void alsa_recover() { snd_pcm_prepare(playback_handle); }

const PcmSink alsa_sink = {alsa_write, alsa_room, alsa_recover};

}  // namespace

long long (*pcm_clock_ns)() = monotonic_ns;

void open_pcm() {
    printf("  %s\n", snd_pcm_stream_name(SND_PCM_STREAM_PLAYBACK));
    printf("  %s\n", snd_pcm_stream_name(SND_PCM_STREAM_CAPTURE));
    pcm_name = strdup("default");
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
    snd_pcm_uframes_t buffer = periodsize * periods / 2;
    snd_pcm_hw_params_set_buffer_size(playback_handle, hw_params, buffer);
    if (snd_pcm_hw_params(playback_handle, hw_params) < 0) printf("errueur setting parmscheeze\n");

    snd_pcm_uframes_t granted_buffer, granted_period;
    if (snd_pcm_get_params(playback_handle, &granted_buffer, &granted_period) >= 0) {
        buffer = granted_buffer;
        pcm_period = granted_period;
    }

    snd_pcm_sw_params_malloc(&sw_params);
    snd_pcm_sw_params_current(playback_handle, sw_params);
    snd_pcm_sw_params_set_start_threshold(playback_handle, sw_params, periodsize * periods / 2);
    // One unit, not the whole buffer twice over: sound-server plugins take
    // avail_min as their latency request, and more than the buffer holds
    // makes them underrun. The loop never waits on the device, so hardware
    // plays the same either way.
    frames = periodsize / 4;
    snd_pcm_sw_params_set_avail_min(playback_handle, sw_params, frames);
    snd_pcm_sw_params(playback_handle, sw_params);

    // Zeroed, so the priming unit written before the engine exists is silence.
    data = new unsigned char[periodsize]();
    pcm_units_max = buffer >= frames ? static_cast<int>(buffer / frames) : 1;

    snd_pcm_prepare(playback_handle);
    snd_pcm_writei(playback_handle, data, frames);
    pcmreturn = snd_pcm_start(playback_handle);
    printf("%d\n", static_cast<int>(pcmreturn));
    if (pcmreturn < 0) snd_pcm_prepare(playback_handle);
    // The lines above are the program's start-up report; a pipe would
    // otherwise hold them back for as long as the program runs.
    fflush(stdout);
}

int pcm_fill(long avail, const PcmSink& sink) {
    int units = 0;
    note_room(avail);
    while (static_cast<unsigned long>(avail) >= frames && units < pcm_units_max) {
        for (l2 = 0; l2 < static_cast<int>(frames); l2++) {
            int* pair = abstr->gingness(l2, static_cast<int>(frames));
            pcm_convert_frame(pair, data + 4 * l2);
        }
        pcmreturn = sink.write(data, frames);
        abstr->beging();
        if (pcmreturn < 0) {
            // The unit is lost; the refilled buffer restarts playback at the
            // start threshold.
            sink.recover();
            pcm_underruns++;
            pcm_units_lost++;
        }
        units++;
        pcm_units_written++;
        if (pcmreturn > 0) room_left -= pcmreturn;
        avail = sink.room();
        note_room(avail);
    }
    pcm_room = avail;
    return units;
}

int pcm_runnus() {
    int units = pcm_fill(snd_pcm_avail(playback_handle), alsa_sink);
    if (pcm_underruns) pcm_report_underruns(monotonic_ns() / 1000000);
    return units;
}

void pcm_report_underruns(long long now_ms) {
    if (pcm_underruns == 0 || now_ms - last_underrun_line_ms < 1000) return;
    fprintf(stderr, "quorvanel: audio underrun, %d unit%s lost\n", pcm_underruns,
            pcm_underruns == 1 ? "" : "s");
    pcm_underruns = 0;
    last_underrun_line_ms = now_ms;
}

long pcm_wait_us(long long now_ns) {
    if (rate == 0) return 0;
    if (pcm_room < 0 || static_cast<unsigned long>(pcm_room) >= frames) return 0;
    long long missing = static_cast<long long>(frames) - pcm_room;
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
}
