// An event script: the inputs a live session delivers, each stamped with
// the audio frame (22050 per second, counted from 0) before whose unit of
// 256 frames it arrives. The offline renderer and `quorvanel --play` read
// it; `quorvanel --record` writes it. One event a line:
//   FRAME report B0 B1 B2 B3 B4 B5 B6 B7   bytes -128..255 (128..255 are the
//                                          same bytes as -128..-1)
//   FRAME pad NAME VALUE                   a game-controller axis or button
//                                          (leftx .. y) at its raw value
//   FRAME key K                            one character as it stands, or a
//                                          decimal code of 2+ digits, 0..255
//   FRAME save PATH                        one word, saved with Ctrl+S's call
//   FRAME click X Y                        a mouse press, window pixels
//                                          -32768..32767
//   FRAME expose                           the window is repainted
//   FRAME size W H                         the window's size, 1..65535, from
//                                          the next repaint on
//   FRAME midi B1 [B2 [B3]]                one whole MIDI message, each byte
//                                          two hexadecimal digits
// '#' starts a comment anywhere on a line; blank lines are allowed; frames
// must not decrease. Before the first event a script may carry the bank
// loaded at start: a line `bank NAME` (NAME: where it came from, for the
// reader) followed by the patch text, each of its lines written after a
// '|' in the first column and taken byte for byte, '#' included. A script
// played with keys as notes says so before its first event too: a line
// `keys`, and the scale and keyboard mapping the keys were tuned to when
// they were not the defaults, each a line `scale NAME` or `map NAME`
// followed by its text after '|' as the bank's. Each of these lines comes
// once at most, in any order. Parsing stops at the first bad line and
// names it (line numbers from 1), so nothing is played from a half-read
// script.
#pragma once

#include "engine/MidiMap.h"
#include "engine/PadControls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

class EventScript {
public:
    enum class Kind { Report, Pad, Key, Save, Click, Repaint, Size, Midi };  // Repaint: an `expose` line

    struct Event {
        long long frame = 0;            // 0 .. kMaxFrame
        Kind kind = Kind::Report;
        signed char bytes[8] = {};      // Report: the 8 report bytes
        unsigned char key = 0;          // Key: as charactros receives it
        std::string path;               // Save: the file name
        int x = 0, y = 0;               // Click: the press; Size: width, height
        int control = 0, value = 0;     // Pad: a PadControl and its raw value
        unsigned char midi[3] = {};     // Midi: the message as it arrived
        int midiLength = 0;             // Midi: its bytes, 1..3
        int line = 0;                   // where it stood in the script
    };

    // Frames beyond this cannot be rendered into one WAV file anyway
    // (its data size is a 32-bit byte count of 4-byte frames).
    static constexpr long long kMaxFrame = 0x3FFFFFF0LL;

    std::vector<Event> events;
    bool hasBank = false;        // a `bank` line was read: load bankText at start
    std::string bankName;        // its NAME
    std::string bankText;        // the patch text, each '|' line with its line feed

    // A text carried for the keys: its NAME, the text as the bank's, and
    // the script line each of its lines stood on (to name in errors).
    struct Carried {
        bool has = false;
        int line = 0;  // of its `scale` or `map` line
        std::string name, text;
        std::vector<int> lines;
    };
    bool keys = false;           // a `keys` line: keys play notes
    Carried scale, map;          // `scale NAME`, `map NAME` and their texts
    int errorLine = 0;           // line of the first error, 0 when none
    std::string error;           // what was wrong with it

    // Parses a whole script held in memory; false on the first bad line.
    bool parse(const std::string& text) {
        events.clear();
        hasBank = false;
        bankName.clear();
        bankText.clear();
        keys = false;
        scale = Carried{};
        map = Carried{};
        carrying = nullptr;
        carryingLines = nullptr;
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
        int e = errno;  // why the read failed (a folder: EISDIR), not what fclose leaves
        std::fclose(f);
        errno = e;
        return ok;
    }

    // "line N: what" (or the bare message for an unreadable file).
    std::string message() const {
        if (errorLine == 0) return error;
        return "line " + std::to_string(errorLine) + ": " + error;
    }

    // The script line of one event (no line feed), as parse reads it back.
    static std::string format(const Event& e) {
        char line[kLineRoom];
        int n = formatInto(e, e.frame, line, sizeof line);
        if (n >= 0 && static_cast<size_t>(n) < sizeof line) return std::string(line, static_cast<size_t>(n));
        std::string big(static_cast<size_t>(n) + 1, '\0');
        formatInto(e, e.frame, big.data(), big.size());
        big.pop_back();
        return big;
    }

    // The same line at frame `f` into `out` (snprintf's contract: the length
    // it needs is returned, the text is cut to `size`). Allocates nothing,
    // so the host can record a report in every unit.
    static int formatInto(const Event& e, long long f, char* out, size_t size) {
        switch (e.kind) {
        case Kind::Report:
            return std::snprintf(out, size, "%lld report %d %d %d %d %d %d %d %d", f, e.bytes[0], e.bytes[1],
                                 e.bytes[2], e.bytes[3], e.bytes[4], e.bytes[5], e.bytes[6], e.bytes[7]);
        case Kind::Pad:
            return std::snprintf(out, size, "%lld pad %s %d", f, pad_control_names[e.control], e.value);
        case Kind::Key: {
            char word[4];
            keyWord(e.key, word);
            return std::snprintf(out, size, "%lld key %s", f, word);
        }
        case Kind::Save:
            return std::snprintf(out, size, "%lld save %s", f, e.path.c_str());
        case Kind::Click:
            return std::snprintf(out, size, "%lld click %d %d", f, e.x, e.y);
        case Kind::Repaint:
            return std::snprintf(out, size, "%lld expose", f);
        case Kind::Size:
            return std::snprintf(out, size, "%lld size %d %d", f, e.x, e.y);
        case Kind::Midi: {
            static const char* const kBytes[] = {"%lld midi %02x", "%lld midi %02x %02x", "%lld midi %02x %02x %02x"};
            int n = e.midiLength < 1 ? 1 : e.midiLength > 3 ? 3 : e.midiLength;
            return std::snprintf(out, size, kBytes[n - 1], f, e.midi[0], e.midi[1], e.midi[2]);
        }
        }
        return 0;
    }

    // Room for every line but a save with a very long path.
    static constexpr size_t kLineRoom = 256;

    // A carried text (a bank, a scale, a mapping) as scripts and the
    // plugins' state write it under its head line: each of its lines after
    // a '|', with its line feed.
    static std::string carriedLines(const std::string& text) {
        std::string out;
        for (size_t at = 0; at < text.size();) {
            size_t stop = text.find('\n', at);
            if (stop == std::string::npos) stop = text.size();
            out += '|';
            out.append(text, at, stop - at);
            out += '\n';
            at = stop + 1;
        }
        return out;
    }

    // A key as the script writes it: printable characters as they stand
    // (but '#', which would start a comment), every other byte as a
    // three-digit code.
    static void keyWord(unsigned char k, char out[4]) {
        if (k > ' ' && k < 127 && k != '#') {
            out[0] = static_cast<char>(k);
            out[1] = '\0';
        } else {
            std::snprintf(out, 4, "%03u", k);
        }
    }

private:
    static constexpr const char* kKinds = "report, pad, key, save, click, expose, size or midi";

    static std::string padNames() {
        std::string out;
        for (int c = 0; c < kPadControls; c++) out += (c ? " " : "") + std::string(pad_control_names[c]);
        return out;
    }

    static std::string padRange(int control) {
        if (pad_value_ok(control, -32768)) return "-32768..32767";
        if (pad_value_ok(control, 32767)) return "0..32767";
        return "0 or 1";
    }

    std::string* carrying = nullptr;         // the text '|' lines go to
    std::vector<int>* carryingLines = nullptr;  // and where they stood, for the keys' texts

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

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
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
        if (!line.empty() && line[0] == '|') {
            if (!carrying) return fail(lineNo, "bank text before the 'bank' line");
            if (!events.empty()) return fail(lineNo, "bank text after the first event");
            carrying->append(line, 1, std::string::npos);
            *carrying += '\n';
            if (carryingLines) carryingLines->push_back(lineNo);
            return true;
        }
        // A file name or a key cannot hold one, and the line would not
        // write back as it reads.
        if (line.find('\0') != std::string::npos) return fail(lineNo, "a NUL byte");
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> w = words(line);
        if (w.empty()) return true;

        if (w[0] == "bank") {
            if (hasBank) return fail(lineNo, "a second 'bank' line");
            if (!events.empty()) return fail(lineNo, "'bank' after the first event");
            if (w.size() != 2) return fail(lineNo, "bank takes one name, found " + std::to_string(w.size() - 1) + " words");
            hasBank = true;
            bankName = w[1];
            carrying = &bankText;
            carryingLines = nullptr;
            return true;
        }
        if (w[0] == "keys") {
            if (keys) return fail(lineNo, "a second 'keys' line");
            if (!events.empty()) return fail(lineNo, "'keys' after the first event");
            if (w.size() != 1) return fail(lineNo, "keys takes nothing, found " + std::to_string(w.size() - 1) + " words");
            keys = true;
            return true;
        }
        if (w[0] == "scale" || w[0] == "map") {
            Carried& c = w[0] == "scale" ? scale : map;
            if (c.has) return fail(lineNo, "a second '" + w[0] + "' line");
            if (!events.empty()) return fail(lineNo, "'" + w[0] + "' after the first event");
            if (w.size() != 2)
                return fail(lineNo, w[0] + " takes one name, found " + std::to_string(w.size() - 1) + " words");
            c.has = true;
            c.line = lineNo;
            c.name = w[1];
            carrying = &c.text;
            carryingLines = &c.lines;
            return true;
        }

        Event e;
        e.line = lineNo;
        long long frame;
        if (!integer(w[0], 0, kMaxFrame, frame))
            return fail(lineNo, "frame '" + w[0] + "' is not a whole number 0.." + std::to_string(kMaxFrame));
        if (!events.empty() && frame < events.back().frame)
            return fail(lineNo, "frame " + std::to_string(frame) + " is before the previous event's frame " +
                                    std::to_string(events.back().frame));
        e.frame = frame;
        if (w.size() < 2) return fail(lineNo, "missing event (" + std::string(kKinds) + ")");

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
        } else if (kind == "pad") {
            if (args != 2) return fail(lineNo, "pad takes a name and a value, found " + std::to_string(args) + " words");
            e.kind = Kind::Pad;
            e.control = pad_control_of(w[2].c_str());
            if (e.control < 0) return fail(lineNo, "pad control '" + w[2] + "' is not one of " + padNames());
            long long v;
            if (!integer(w[3], -32768, 32767, v) || !pad_value_ok(e.control, static_cast<long>(v)))
                return fail(lineNo, "pad " + w[2] + " value '" + w[3] + "' is out of its range (" +
                                        padRange(e.control) + ")");
            e.value = static_cast<int>(v);
        } else if (kind == "click" || kind == "size") {
            bool click = kind == "click";
            if (args != 2) return fail(lineNo, kind + " takes two numbers, found " + std::to_string(args) + " words");
            long long lo = click ? -32768 : 1, hi = click ? 32767 : 65535;
            long long a, b;
            if (!integer(w[2], lo, hi, a) || !integer(w[3], lo, hi, b))
                return fail(lineNo, kind + " takes two whole numbers " + std::to_string(lo) + ".." + std::to_string(hi));
            e.kind = click ? Kind::Click : Kind::Size;
            e.x = static_cast<int>(a);
            e.y = static_cast<int>(b);
        } else if (kind == "midi") {
            if (args < 1 || args > 3)
                return fail(lineNo, "midi takes one message of 1..3 bytes, found " + std::to_string(args) + " words");
            e.kind = Kind::Midi;
            e.midiLength = static_cast<int>(args);
            for (size_t k = 0; k < args; k++) {
                const std::string& b = w[2 + k];
                int hi = hexDigit(b[0]), lo = b.size() == 2 ? hexDigit(b[1]) : -1;
                if (b.size() != 2 || hi < 0 || lo < 0)
                    return fail(lineNo, "midi byte " + std::to_string(k + 1) + " '" + b + "' is not two hexadecimal digits");
                e.midi[k] = static_cast<unsigned char>(hi * 16 + lo);
            }
            int want = MidiMap::length(e.midi[0]);
            if (e.midi[0] < 0x80)
                return fail(lineNo, "midi message starts with a data byte '" + w[2] + "', not a status byte 80..ff");
            if (want == 0) return fail(lineNo, "midi status '" + w[2] + "' opens no whole message of 1..3 bytes");
            if (want != e.midiLength)
                return fail(lineNo, "midi status '" + w[2] + "' takes " + std::to_string(want) + " bytes, found " +
                                        std::to_string(e.midiLength));
            for (int k = 1; k < e.midiLength; k++)
                if (e.midi[k] >= 0x80)
                    return fail(lineNo, "midi data byte " + std::to_string(k + 1) + " '" + w[2 + k] + "' is not below 80");
        } else if (kind == "expose") {
            if (args != 0) return fail(lineNo, "expose takes nothing, found " + std::to_string(args) + " words");
            e.kind = Kind::Repaint;
        } else {
            return fail(lineNo, "unknown event '" + kind + "' (" + kKinds + ")");
        }
        events.push_back(std::move(e));
        return true;
    }
};
