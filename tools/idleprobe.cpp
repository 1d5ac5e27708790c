// quorvanel-idleprobe: runs the program's host (window, controller, audio
// device "default") for a while with either main loop and reports what it
// cost and how well it kept up:
//
//   quorvanel-idleprobe busy|wait SECONDS [EVENTS_PER_SECOND [SITUATIONS [LATENCY_MS]]]
//
// busy: every pass straight after the other (the loop without a wait);
// wait: the program's loop, each pass ending in the wait, which sleeps
// until a source can have work.
// EVENTS_PER_SECOND key and mouse presses are sent to the window from a
// second X connection, alternating, and each one's delay until the engine
// receives it is measured (the latencies cover the warm-up too).
// SITUATIONS (default 1) is how many situations the playing bank holds: the
// first is duplicated until there are that many. 0 runs a silent stand-in
// instead of the engine, to tell the host's cost from the engine's.
// LATENCY_MS is the program's --latency (default: none).
//
// The result is one line of name=value fields on standard output: mode,
// seconds (the measured span, which starts once the device has taken a
// second of sound), cpu_percent (the process's CPU time, all threads but the
// event sender, in percent of one core), frames (written in the span) and
// expected (rate × seconds), lost_units (failed writes), events,
// mean_latency_ms, max_latency_ms, engine, situations, passes_per_s (main
// loop passes; waiting, about one a unit, 86 a second, when idle),
// idle_per_s (passes that found nothing: wakes that came too early),
// buffer and period (frames, as the device granted them) and startup_lost
// (failed writes before the measured span).
#include "engine/AbstractChubEngine.h"
#include "standalone/chub.h"
#include "standalone/grax.h"
#include "standalone/pcm.h"

#include "engine/LaceyBanks.h"

#include <X11/keysym.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr double kMostWarmUp = 5.0;  // seconds, at most, run before the measured span

long long now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

double process_cpu_s() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of one thread so far; 0 for a thread never started.
double thread_cpu_s(std::thread& t) {
    clockid_t clock;
    timespec ts;
    if (!t.joinable() || pthread_getcpuclockid(t.native_handle(), &clock) != 0) return 0;
    if (clock_gettime(clock, &ts) != 0) return 0;
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Send times of the probe events, in order; the engine side matches the
// n-th arrival with the n-th send.
std::vector<std::atomic<long long>>* sendTimes = nullptr;
std::atomic<int> sent{0};

// Passes every call to the real engine (silent frames when there is none)
// and times the arrival of key and mouse presses.
class ProbeEngine : public AbstractChubEngine {
public:
    explicit ProbeEngine(AbstractChubEngine* inner) : inner(inner) {}
    int arrived = 0;
    long long worst_ns = 0;
    long long total_ns = 0;

    void graxness(_CHDC c) override { if (inner) inner->graxness(c); }
    int* gingness(int f, int n) override {
        if (inner) return inner->gingness(f, n);
        pair[0] = pair[1] = 0;
        return pair;
    }
    void beging() override { if (inner) inner->beging(); }
    void chubness(ChubDevice* h, _CHUBREPORT r) override { if (inner) inner->chubness(h, r); }
    void charactros(unsigned char k) override { arrive(); if (inner) inner->charactros(k); }
    void mouseButt(_pointille p) override { arrive(); if (inner) inner->mouseButt(p); }
    void textorium_trigger(char* n) override { if (inner) inner->textorium_trigger(n); }
    void textorium_script(char* n) override { if (inner) inner->textorium_script(n); }
    void dupe_chubbery() override { if (inner) inner->dupe_chubbery(); }
    void dupe_multiplex() override { if (inner) inner->dupe_multiplex(); }

private:
    AbstractChubEngine* inner;
    int pair[2] = {0, 0};
    void arrive() {
        if (!sendTimes || arrived >= sent.load()) return;
        long long d = now_ns() - (*sendTimes)[arrived++].load();
        if (d > worst_ns) worst_ns = d;
        total_ns += d;
    }
};

// Key F7 (low byte 0xC4: no binding beyond the per-key reset) and presses
// in the window's far corner, away from every mark.
void send_events(Window target, int per_second, int count, std::atomic<bool>* stop) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    KeyCode f1 = XKeysymToKeycode(d, XK_F7);
    long long period = 1000000000LL / per_second, next = now_ns();
    for (int i = 0; i < count && !stop->load(); i++) {
        next += period;
        while (now_ns() < next) std::this_thread::sleep_for(std::chrono::microseconds(200));
        XEvent e = {};
        if (i % 2 == 0) {
            e.xkey.type = KeyPress;
            e.xkey.window = target;
            e.xkey.root = DefaultRootWindow(d);
            e.xkey.keycode = f1;
            e.xkey.same_screen = True;
        } else {
            e.xbutton.type = ButtonPress;
            e.xbutton.window = target;
            e.xbutton.root = DefaultRootWindow(d);
            e.xbutton.button = Button1;
            e.xbutton.x = 498;
            e.xbutton.y = 498;
            e.xbutton.same_screen = True;
        }
        (*sendTimes)[i].store(now_ns());
        sent.store(i + 1);
        XSendEvent(d, target, False, i % 2 == 0 ? KeyPressMask : ButtonPressMask, &e);
        XFlush(d);
    }
    XCloseDisplay(d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (strcmp(argv[1], "busy") && strcmp(argv[1], "wait"))) {
        fprintf(stderr, "usage: %s busy|wait SECONDS [EVENTS_PER_SECOND [SITUATIONS]]\n", argv[0]);
        return 2;
    }
    bool wait = !strcmp(argv[1], "wait");
    double seconds = atof(argv[2]);
    int per_second = argc > 3 ? atoi(argv[3]) : 0;
    int situations = argc > 4 ? atoi(argv[4]) : 1;
    if (argc > 5 && !pcm_latency_units(argv[5], pcm_buffer_units)) {
        fprintf(stderr, "%s: bad LATENCY_MS %s\n", argv[0], argv[5]);
        return 2;
    }
    if (per_second > 0) XInitThreads();  // the sender has its own connection; be safe anyway

    open_grax();
    open_chub();
    open_pcm();
    AbstractChubEngine* inner = nullptr;
    if (situations > 0) inner = new LaceyBanks();
    ProbeEngine probe(inner);
    host_engine(&probe);
    for (int i = 1; i < situations; i++) abstr->dupe_chubbery();
    pcm_start();
    snd_pcm_uframes_t buffer = 0, period = 0;
    snd_pcm_get_params(playback_handle, &buffer, &period);

    int count = static_cast<int>(per_second * (seconds + kMostWarmUp)) + 1;
    std::vector<std::atomic<long long>> times(per_second > 0 ? count : 0);
    sendTimes = &times;
    std::atomic<bool> stop{false};
    std::thread sender;
    if (per_second > 0) sender = std::thread(send_events, win, per_second, count, &stop);

    // A sound server can take a while to start pulling (an idle null sink
    // sleeps in long blocks); the span measured starts once a second of sound
    // has gone out, so the frames written match the time played.
    long long warm_end = now_ns() + static_cast<long long>(kMostWarmUp * 1e9);
    while (now_ns() < warm_end && pcm_units_written * frames < rate) {
        host_pass();
        if (wait) host_wait();
    }
    long long start = now_ns();
    double cpu0 = process_cpu_s() - thread_cpu_s(sender);
    unsigned long units0 = pcm_units_written, lost0 = pcm_units_lost;
    int arrived0 = probe.arrived;
    long long end = start + static_cast<long long>(seconds * 1e9);
    long passes = 0, idle = 0;
    while (now_ns() < end) {
        passes++;
        if (!host_pass()) idle++;
        if (wait) host_wait();  // as the program does: after every pass
    }
    double elapsed = (now_ns() - start) / 1e9;
    double cpu = process_cpu_s() - thread_cpu_s(sender) - cpu0;
    stop.store(true);
    if (sender.joinable()) sender.join();

    unsigned long written = (pcm_units_written - units0) * frames;
    printf("mode=%s seconds=%.2f cpu_percent=%.2f frames=%lu expected=%.0f lost_units=%lu "
           "events=%d mean_latency_ms=%.2f max_latency_ms=%.2f engine=%s situations=%d passes_per_s=%.0f idle_per_s=%.0f "
           "buffer=%lu period=%lu startup_lost=%lu\n",
           wait ? "wait" : "busy", elapsed, 100 * cpu / elapsed, written, rate * elapsed,
           pcm_units_lost - lost0, probe.arrived - arrived0,
           probe.arrived ? probe.total_ns / 1e6 / probe.arrived : 0.0, probe.worst_ns / 1e6, inner ? "LaceyBanks" : "silent",
           situations, passes / elapsed, idle / elapsed, static_cast<unsigned long>(buffer),
           static_cast<unsigned long>(period), lost0);
    fflush(stdout);
    _exit(0);  // the program has no orderly shutdown; neither does its probe
}
