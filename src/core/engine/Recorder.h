// The performance recorder behind `--record FILE`: every input the engine
// takes, written as an event script that the offline renderer turns into
// the very samples the sound card received, or `--play` plays again.
// The file opens with the bank loaded at start (a `bank` line and the patch
// text after '|'), so a recording replays on its own even after the player
// has saved over the patch it began from. A take played with keys as
// notes opens with the mode and the scale and mapping they were tuned to.
// Frames: 22050 per second, the
// first frame of the unit the input acted on, counted from the engine's
// first unit.
#pragma once

#include "engine/EventScript.h"
#include "engine/KeyScale.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { close(); }

    // Creates (or truncates) `path`; false with errno set when it cannot.
    // fresh: only a file that does not exist yet is created (a take is
    // never written over).
    bool open(const char* path, bool fresh = false) {
        file = std::fopen(path, fresh ? "wx" : "w");
        if (!file) return false;
        name = path;
        std::fprintf(file, "# quorvanel recording: quorvanel-render %s OUT.wav renders it\n", path);
        return check();
    }

    // The patch text loaded into the current bank at start, before any event.
    void bank(const char* from, const std::string& text) { carry("bank", from, text); }

    // Keys play notes on `scale`'s ratios, from before any event: a scale
    // or mapping that is not the default goes with it.
    void keys(const KeyScale& scale) {
        if (!file) return;
        std::fputs("keys\n", file);
        if (!check()) return;
        if (scale.scale().given()) carry("scale", scale.scale().name.c_str(), scale.scale().text);
        if (scale.map().given()) carry("map", scale.map().name.c_str(), scale.map().text);
    }

private:
    // A line `HEAD NAME`, then the text, each line after a '|'.
    void carry(const char* head, const char* from, const std::string& text) {
        if (!file) return;
        // One word, as the script reads it: a name with blanks keeps its
        // first word; the name is only there for the reader.
        std::string word(from);
        size_t cut = word.find_first_of(" \t\r\n\v\f");
        if (cut != std::string::npos) word.erase(cut);
        if (word.empty()) word = "-";
        std::fprintf(file, "%s %s\n", head, word.c_str());
        std::string lines = EventScript::carriedLines(text);
        std::fwrite(lines.data(), 1, lines.size(), file);
        check();
    }

public:
    // One input, at the frame of the unit it acts on.
    void event(long long frame, const EventScript::Event& e) {
        if (!file) return;
        // The frame is the unit's, not the one a played script gave.
        char line[EventScript::kLineRoom];
        int n = EventScript::formatInto(e, frame, line, sizeof line);
        if (n < 0) return;
        if (static_cast<size_t>(n) < sizeof line) {
            std::fwrite(line, 1, static_cast<size_t>(n), file);
        } else {  // only a save with a very long path
            EventScript::Event at = e;
            at.frame = frame;
            std::string big = EventScript::format(at);
            std::fwrite(big.data(), 1, big.size(), file);
        }
        std::fputc('\n', file);
    }

    // Called once a unit: what acted on sound reaches the file, so killing
    // the program loses nothing that was heard.
    void flush() {
        if (!file) return;
        std::fflush(file);
        check();
    }

    void close() {
        if (!file) return;
        bool ok = std::fclose(file) == 0;
        file = nullptr;
        if (!ok) failed(errno);
    }

    bool recording() const { return file != nullptr; }

private:
    // A failed write stops the recording with one line; the instrument plays on.
    bool check() {
        if (!std::ferror(file)) return true;
        int e = errno;
        std::fclose(file);
        file = nullptr;
        failed(e);
        return false;
    }

    void failed(int e) {
        std::fprintf(stderr, "quorvanel: recording to %s stopped: %s\n", name.c_str(),
                     e ? std::strerror(e) : "write error");
    }

    FILE* file = nullptr;
    std::string name;
};
