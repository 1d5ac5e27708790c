// An event script for the offline renderer: the controller reports, key
// presses and saves a live session would have delivered, each stamped with
// the audio frame (22050 per second, counted from 0) before whose period it
// arrives. One event a line:
//   FRAME report B0 B1 B2 B3 B4 B5 B6 B7   bytes -128..255 (128..255 are the
//                                          same bytes as -128..-1)
//   FRAME key K                            one character as it stands, or a
//                                          decimal code of 2+ digits, 0..255
//   FRAME save PATH                        one word, saved with Ctrl+S's call
// '#' starts a comment anywhere on a line; blank lines are allowed; frames
// must not decrease. Parsing stops at the first bad line and names it
// (line numbers from 1), so nothing is rendered from a half-read script.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

class EventScript {
public:
    enum class Kind { Report, Key, Save };

    struct Event {
        long long frame = 0;            // 0 .. kMaxFrame
        Kind kind = Kind::Report;
        signed char bytes[8] = {};      // Report: the 8 report bytes
        unsigned char key = 0;          // Key: as charactros receives it
        std::string path;               // Save: the file name
        int line = 0;                   // where it stood in the script
    };

    // Frames beyond this cannot be rendered into one WAV file anyway
    // (its data size is a 32-bit byte count of 4-byte frames).
    static constexpr long long kMaxFrame = 0x3FFFFFF0LL;

    std::vector<Event> events;
    int errorLine = 0;           // line of the first error, 0 when none
    std::string error;           // what was wrong with it

    // Parses a whole script held in memory; false on the first bad line.
    bool parse(const std::string& text) {
        events.clear();
        errorLine = 0;
        error.clear();
        int lineNo = 0;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lineNo++;
            if (!parseLine(text.substr(start, end - start), lineNo)) return false;
            start = end + 1;
        }
        return true;
    }

    // Reads and parses a file; an unreadable file is an error of line 0.
    bool load(const char* path) {
        std::string text;
        if (!readFile(path, text)) {
            events.clear();
            errorLine = 0;
            error = std::string("cannot read ") + path + ": " + std::strerror(errno);
            return false;
        }
        return parse(text);
    }

    // The whole file into `out`; false when it cannot be opened or read.
    static bool readFile(const char* path, std::string& out) {
        FILE* f = std::fopen(path, "rb");
        if (!f) return false;
        out.clear();
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        bool ok = !std::ferror(f);
        std::fclose(f);
        return ok;
    }

    // "line N: what" (or the bare message for an unreadable file).
    std::string message() const {
        if (errorLine == 0) return error;
        return "line " + std::to_string(errorLine) + ": " + error;
    }

private:
    bool fail(int lineNo, const std::string& what) {
        errorLine = lineNo;
        error = what;
        return false;
    }

    static std::vector<std::string> words(const std::string& line) {
        std::vector<std::string> out;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && isSpace(line[i])) i++;
            size_t j = i;
            while (j < line.size() && !isSpace(line[j])) j++;
            if (j > i) out.push_back(line.substr(i, j - i));
            i = j;
        }
        return out;
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

    // A decimal integer with an optional leading '-', nothing else; values
    // beyond `hi` (or below `lo`) are refused rather than wrapped.
    static bool integer(const std::string& w, long long lo, long long hi, long long& out) {
        size_t i = 0;
        bool neg = false;
        if (i < w.size() && w[i] == '-') { neg = true; i++; }
        if (i == w.size()) return false;
        long long v = 0;
        for (; i < w.size(); i++) {
            if (w[i] < '0' || w[i] > '9') return false;
            v = v * 10 + (w[i] - '0');
            if (v > kMaxFrame) return false;  // beyond every range here; stops before overflow
        }
        out = neg ? -v : v;
        return out >= lo && out <= hi;
    }

    bool parseLine(std::string line, int lineNo) {
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> w = words(line);
        if (w.empty()) return true;

        Event e;
        e.line = lineNo;
        long long frame;
        if (!integer(w[0], 0, kMaxFrame, frame))
            return fail(lineNo, "frame '" + w[0] + "' is not a whole number 0.." + std::to_string(kMaxFrame));
        if (!events.empty() && frame < events.back().frame)
            return fail(lineNo, "frame " + std::to_string(frame) + " is before the previous event's frame " +
                                    std::to_string(events.back().frame));
        e.frame = frame;
        if (w.size() < 2) return fail(lineNo, "missing event (report, key or save)");

        const std::string& kind = w[1];
        size_t args = w.size() - 2;
        if (kind == "report") {
            if (args != 8) return fail(lineNo, "report takes 8 bytes, found " + std::to_string(args));
            e.kind = Kind::Report;
            for (int k = 0; k < 8; k++) {
                long long b;
                if (!integer(w[2 + k], -128, 255, b))
                    return fail(lineNo, "report byte " + std::to_string(k) + " '" + w[2 + k] +
                                            "' is not a number -128..255");
                e.bytes[k] = static_cast<signed char>(static_cast<unsigned char>(b & 0xff));
            }
        } else if (kind == "key") {
            if (args != 1) return fail(lineNo, "key takes one key, found " + std::to_string(args) + " words");
            e.kind = Kind::Key;
            const std::string& k = w[2];
            if (k.size() == 1) {
                e.key = static_cast<unsigned char>(k[0]);
            } else {
                long long code;
                bool digits = k.find_first_not_of("0123456789") == std::string::npos;
                if (!digits || !integer(k, 0, 255, code))
                    return fail(lineNo, "key '" + k + "' is neither one character nor a code 0..255");
                e.key = static_cast<unsigned char>(code);
            }
        } else if (kind == "save") {
            if (args != 1) return fail(lineNo, "save takes one path, found " + std::to_string(args) + " words");
            e.kind = Kind::Save;
            e.path = w[2];
        } else {
            return fail(lineNo, "unknown event '" + kind + "' (report, key or save)");
        }
        events.push_back(std::move(e));
        return true;
    }
};
