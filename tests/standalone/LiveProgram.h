// Test support: runs the real program (build/quorvanel) as a child with its
// own HOME (holding the ALSA configuration the test chose), its own working
// directory, and standard output and error captured in files there.
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace hosttest {

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Tries `done` every `every` ms for up to `ms`; whether it held.
template <class Done>
bool waitFor(Done done, int ms, int every = 10) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        sleepMs(every);
    }
}

class LiveProgram {
public:
    std::string home;
    pid_t pid = -1;
    int status = -1;  // wait status once the child has ended

    // asoundrc: a file under tests/standalone/alsa, or empty for none.
    explicit LiveProgram(const std::string& asoundrc) {
        char dir[] = "/tmp/quorvanel-live-XXXXXX";
        if (mkdtemp(dir)) home = dir;
        if (!asoundrc.empty()) {
            std::string rc = slurp(std::string(QUORVANEL_SOURCE_DIR) + "/tests/standalone/alsa/" + asoundrc);
            std::ofstream(home + "/.asoundrc") << rc;
        }
    }
    ~LiveProgram() {
        stop();
        std::string cmd = "rm -rf '" + home + "'";
        if (!home.empty()) (void)system(cmd.c_str());
    }

    // Starts the program. display: the DISPLAY to give it; nullptr removes
    // the variable; "" keeps the test's own.
    void start(const char* display = "", std::vector<std::string> args = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e; e++) {
            if (!strncmp(*e, "HOME=", 5)) continue;
            if (display && *display && !strncmp(*e, "DISPLAY=", 8)) continue;
            if (!display && !strncmp(*e, "DISPLAY=", 8)) continue;
            env.push_back(*e);
        }
        env.push_back("HOME=" + home);
        if (display && *display) env.push_back(std::string("DISPLAY=") + display);
        std::vector<char*> envp;
        for (auto& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string bin = std::string(QUORVANEL_BINARY_DIR) + "/quorvanel";
        std::vector<std::string> argstore = {bin};
        for (auto& a : args) argstore.push_back(a);
        std::vector<char*> argv;
        for (auto& s : argstore) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::string out = home + "/stdout", err = home + "/stderr";
        // Everything the child needs is built before the fork: it only
        // redirects and executes.
        pid = fork();
        if (pid == 0) {
            if (chdir(home.c_str()) != 0) _exit(126);
            int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    std::string out() const { return slurp(home + "/stdout"); }
    std::string err() const { return slurp(home + "/stderr"); }

    bool running() {
        if (pid <= 0) return false;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        return true;
    }
    // Waits up to `ms` for the child to end on its own; true if it did.
    bool waitExit(int ms) {
        for (int t = 0; t < ms; t += 10) {
            if (!running()) return true;
            sleepMs(10);
        }
        return !running();
    }
    // Waits up to `ms` for standard output to contain `text`.
    bool waitOutput(const std::string& text, int ms) {
        for (int t = 0; t < ms; t += 10) {
            if (out().find(text) != std::string::npos) return true;
            if (!running()) return out().find(text) != std::string::npos;
            sleepMs(10);
        }
        return false;
    }
    // Waits up to `ms` for the start-up report to end: the line after the
    // period count, the device's start, comes once the engine is built.
    bool waitStarted(int ms) {
        for (int t = 0; t < ms; t += 10) {
            std::string o = out();
            size_t at = o.find(" periods\n");
            if (at != std::string::npos && o.size() > at + 9 && o.back() == '\n') return true;
            if (!running()) return false;
            sleepMs(10);
        }
        return false;
    }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
        }
    }
    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// Finds the top-level window titled "quorvanel" other than `except`
// (the test program's own window, if it has one); 0 if none yet.
inline Window findWindow(Display* d, Window except, int ms) {
    for (int t = 0; t <= ms; t += 20) {
        Window root, parent, *kids = nullptr;
        unsigned int n = 0;
        Window found = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) {
            for (unsigned int i = 0; i < n && !found; i++) {
                char* name = nullptr;
                if (kids[i] != except && XFetchName(d, kids[i], &name) && name) {
                    if (!strcmp(name, "quorvanel")) found = kids[i];
                }
                if (name) XFree(name);
            }
            if (kids) XFree(kids);
        }
        if (found) return found;
        sleepMs(20);
    }
    return 0;
}

}  // namespace hosttest
