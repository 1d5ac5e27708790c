// quorvanel-startprobe: starts the program, watches its window map, presses
// a key a set time after that, and reports when the first audio unit was made
// and at which frame the key was recorded:
//
//   quorvanel-startprobe KEY_MS PROGRAM [ARGS...]
//
// PROGRAM runs with ARGS and `--record` into a private folder, its output
// thrown away, in this probe's environment (DISPLAY, HOME with the ALSA
// configuration that chooses the sound server). The window is seen to map
// through the root window's substructure events. The first unit shows in the
// take: the recorder writes what the unit's inputs were (the window's first
// expose at least) once the unit is made. The key ('h', which only sets the
// motion sensitivity) goes to the window through the X server, and the
// program is ended with SIGTERM once the key is in the take.
//
// One line of name=value fields on standard output, times in milliseconds
// from the window's map: first_unit_ms (when the take first held an input:
// the end of the first unit), key_ms (when the key was sent), key_frame (the
// frame the take gives the key), frame0_ms (key_ms less key_frame's time
// at 22050 frames a second: when frame 0 was made, as the frames count it,
// within a unit). Exit status 1 when the window, the take or the key line
// did not come within 10 seconds.
#include "../tests/standalone/SendEvents.h"  // the tests' key sender

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kGiveUpMs = 10000;
constexpr double kFramesPerMs = 22.05;

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The frame of the take's first event line of `kind` ("" any), or -1.
long long first_frame(const std::string& take, const char* kind) {
    std::istringstream in(take);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] < '0' || line[0] > '9') continue;
        std::istringstream words(line);
        long long frame;
        std::string what;
        if (words >> frame >> what && (!*kind || what == kind)) return frame;
    }
    return -1;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool is_program_window(Display* d, Window w) {
    char* name = nullptr;
    bool yes = XFetchName(d, w, &name) && name && std::strcmp(name, "quorvanel") == 0;
    if (name) XFree(name);
    return yes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvanel-startprobe KEY_MS PROGRAM [ARGS...]\n");
        return 2;
    }
    double key_after = std::atof(argv[1]);
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "quorvanel-startprobe: no X display\n");
        return 1;
    }
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);

    char dir[] = "/tmp/quorvanel-startprobe-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string take = std::string(dir) + "/take.txt";
    std::vector<std::string> args(argv + 2, argv + argc);
    args.push_back("--record");
    args.push_back(take);
    std::vector<char*> child_argv;
    for (std::string& a : args) child_argv.push_back(a.data());
    child_argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(child_argv[0], child_argv.data());
        _exit(127);
    }

    double start = now_ms(), mapped = -1, first_unit = -1, key_sent = -1;
    Window win = 0;
    long long key_frame = -1;
    while (now_ms() - start < kGiveUpMs && key_frame < 0) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify && mapped < 0 && is_program_window(d, e.xmap.window)) {
                mapped = now_ms();
                win = e.xmap.window;
            }
        }
        if (mapped >= 0 && first_unit < 0 && first_frame(slurp(take), "") >= 0) first_unit = now_ms();
        if (mapped >= 0 && key_sent < 0 && now_ms() - mapped >= key_after) {
            hosttest::sendKey(d, win, XK_h, 0);
            XFlush(d);
            key_sent = now_ms();
        }
        if (key_sent >= 0) key_frame = first_frame(slurp(take), "key");
        pollfd x = {ConnectionNumber(d), POLLIN, 0};
        poll(&x, 1, 1);  // a millisecond at most between looks
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::string cmd = std::string("rm -rf '") + dir + "'";
    (void)std::system(cmd.c_str());
    if (mapped < 0 || first_unit < 0 || key_frame < 0) {
        std::fprintf(stderr, "quorvanel-startprobe: no %s within %.0f s\n",
                     mapped < 0 ? "window" : first_unit < 0 ? "first unit" : "key line", kGiveUpMs / 1000);
        return 1;
    }
    std::printf("first_unit_ms=%.1f key_ms=%.1f key_frame=%lld frame0_ms=%.1f\n", first_unit - mapped,
                key_sent - mapped, key_frame, key_sent - mapped - key_frame / kFramesPerMs);
    return 0;
}
