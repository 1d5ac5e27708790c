// Starting and stopping the real hosts the plugin tests drive (a JACK
// server, jalv, Ardour's Lua session tool): a child process with its own
// environment, standard input from a pipe the test holds open, and its
// output in a log file the test shows when something fails.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hosts {

// A program on the PATH, or empty.
inline std::string which(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string full = dir + "/" + name;
        if (access(full.c_str(), X_OK) == 0) return full;
    }
    return "";
}

class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    // Starts `argv` with `env` added to this process's environment; its
    // standard output and error go to `log`.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& logPath) {
        log = logPath;
        int in[2];
        if (pipe(in) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> envs;
        for (char** e = environ; *e; e++) envs.push_back(*e);
        for (const std::string& e : env) envs.push_back(e);
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (std::string& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        input = in[1];
        if (rc != 0) pid = -1;
        return rc == 0;
    }

    // Sends a line to its standard input.
    void say(const std::string& line) {
        std::string l = line + "\n";
        if (input >= 0 && write(input, l.data(), l.size()) < 0) {}
    }

    // Waits up to `seconds` for it to end; its exit status, or -1.
    int wait(double seconds) {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (pid > 0) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > until) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    bool running() {
        return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
    }

    void stop() {
        if (input >= 0) close(input);
        input = -1;
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        if (wait(5) < 0 && pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }

    std::string output() const {
        std::ifstream f(log);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    pid_t pid = -1;
    int input = -1;
    std::string log;
};

}  // namespace hosts
