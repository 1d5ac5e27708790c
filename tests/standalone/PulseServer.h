// Test support: a private PulseAudio server with a null sink, started with
// tools/pulse-server.sh for the life of a test suite. The program and the
// probes find it through PULSE_SERVER and PULSE_CLIENTCONFIG, which start()
// sets in the test's own environment for its children to inherit.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace hosttest {

class PulseServer {
public:
    // The server's folder; empty when none could be started.
    std::string dir;

    PulseServer() = default;
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;
    // A test that stops early must not leave a server running.
    ~PulseServer() { stop(); }

    // level: the server's log level ("" for its own; "4" logs underruns).
    bool start(const std::string& level = "") {
        if (std::system("command -v pulseaudio >/dev/null 2>&1") != 0) return false;
        char name[] = "/tmp/quorvanel-pulse-XXXXXX";
        if (!mkdtemp(name)) return false;
        std::string cmd = "sh " + quote(script()) + " start " + quote(name) + (level.empty() ? "" : " " + level);
        FILE* p = popen(cmd.c_str(), "r");
        std::string exports;
        char buf[512];
        while (p && std::fgets(buf, sizeof buf, p)) exports += buf;
        if (!p || pclose(p) != 0 || exports.empty()) return false;
        dir = name;
        setenv("PULSE_SERVER", ("unix:" + dir + "/run/pulse/native").c_str(), 1);
        setenv("PULSE_CLIENTCONFIG", (dir + "/client.conf").c_str(), 1);
        return true;
    }

    void stop() {
        if (dir.empty()) return;
        std::string cmd = "sh " + quote(script()) + " stop " + quote(dir) + "; rm -rf " + quote(dir);
        (void)std::system(cmd.c_str());
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_CLIENTCONFIG");
        dir.clear();
    }

    static std::string quote(const std::string& s) { return "'" + s + "'"; }

private:
    static std::string script() { return std::string(QUORVANEL_SOURCE_DIR) + "/tools/pulse-server.sh"; }
};

}  // namespace hosttest
