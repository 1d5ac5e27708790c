// The word stream the `textum()` readers take their words from while a
// patch text file is loaded; each bank has its own, so engines on other
// threads never share one. The whole file is held in memory; words are
// runs of bytes between blanks (space, tab) and line ends. A NUL byte
// also ends a word, so a word is always a proper C string inside the
// buffer and nothing reads past its end. Lines end at a line feed, a
// carriage return and line feed, or a carriage return alone; they are
// counted from 1. A line whose first word begins with '#' is a comment: it
// holds no words.
//
// A reader takes a keyword (or a section's or block's word) with next(),
// wherever it stands, and the values after it with value(), number() and
// skip(), which stay on the keyword's line: a line short of a value ends
// there and never takes words from the next line.
//
// Warnings: a load may give the stream a sink. The readers tell it every
// value they change and every line they cannot read, with the line; a
// load without a sink says nothing and formats nothing.
//
// A load may also say which words the format knows: next() then passes
// over a line whose first word is none of them, and over the words of a
// line after what its keyword read that are none of them, each with a
// warning, so that the readers meet only what they may take.
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class PatchWords {
public:
    // Where a load's warnings go: the line (from 1) and what happened there.
    using Warn = std::function<void(int line, const std::string& text)>;
    // Whether the format knows a word (null: every word passes).
    using Known = bool (*)(const char* word);

    // Takes a private copy of `size` bytes; the stream then starts at its
    // first word.
    void open(const char* bytes, size_t size, Warn sink = {}, Known known = nullptr) {
        open(std::vector<char>(bytes, bytes + size), std::move(sink), known);
    }

    // Takes over a file's bytes without copying them.
    void open(std::vector<char>&& bytes, Warn sink = {}, Known known = nullptr) {
        buffer = std::move(bytes);
        buffer.push_back('\0');
        warnTo = std::move(sink);
        knows = known;
        words.clear();
        size_t end = buffer.size() - 1;
        int line = 1;
        bool first = true;
        for (size_t i = 0; i < end;) {
            char c = buffer[i];
            if (c == '\n' || c == '\r') {
                buffer[i++] = '\0';
                if (c == '\r' && i < end && buffer[i] == '\n') buffer[i++] = '\0';
                line++;
                first = true;
            } else if (c == ' ' || c == '\t' || c == '\0') {
                buffer[i++] = '\0';
            } else if (first && c == '#') {
                while (i < end && buffer[i] != '\n' && buffer[i] != '\r') buffer[i++] = '\0';
            } else {
                words.push_back(Word{i, line, first});
                first = false;
                while (i < end && !separator(buffer[i])) i++;
            }
        }
        at = 0;
        key = Word{end, 1, true};  // values may be read from the first line before any keyword
    }

    void close() {
        buffer.clear();
        buffer.shrink_to_fit();
        words.clear();
        words.shrink_to_fit();
        warnTo = nullptr;
        knows = nullptr;
        at = 0;
    }

    // The next word wherever it stands, or null at the end of the stream
    // (passing over what the format does not know, when the load said
    // what it knows). It becomes the keyword whose line the values are
    // read from.
    const char* next() {
        while (at < words.size() && knows && !knows(&buffer[words[at].pos])) {
            const Word& w = words[at];
            std::string what = quoted(&buffer[w.pos]);
            warnAt(w.line, w.first ? what + " is not a word of the patch format; the line is skipped"
                                   : what + " is one word too many on its line; it and the rest of the line are skipped");
            while (at < words.size() && words[at].line == w.line) at++;
        }
        if (at >= words.size()) return nullptr;
        key = words[at++];
        return &buffer[key.pos];
    }

    // The word next() would give, not taken.
    const char* peek() {
        Word was = key;
        const char* w = next();
        if (w) at--;
        key = was;
        return w;
    }

    // Passes over what is left of the keyword's line.
    void skipLine() {
        while (at < words.size() && words[at].line == key.line) at++;
    }

    // The next word of the keyword's line, or null (nothing taken) when
    // the line has no more.
    const char* value() {
        if (at >= words.size() || words[at].line != key.line) return nullptr;
        return &buffer[words[at++].pos];
    }

    // Words left on the keyword's line.
    int left() const {
        int n = 0;
        for (size_t k = at; k < words.size() && words[k].line == key.line; k++) n++;
        return n;
    }

    // Reads the line's next word as a number into `out`; at the line's end
    // `out` is left as it was and false is returned. A word that is not a
    // plain decimal number is read as toInt reads it, with a warning.
    bool number(int& out) {
        const char* w = value();
        if (!w) return false;
        Reading r = scan(w);
        out = r.value;
        if (!warnTo) return true;
        if (!r.digits) warn(quoted(w) + " is not a number; read as 0");
        else if (r.clamped) warn(quoted(w) + " is beyond -2147483648..2147483647; read as " + std::to_string(out));
        else if (r.trailing) warn(quoted(w) + " is not a plain number; read as " + std::to_string(out));
        return true;
    }

    // The whole numbers written in what is left of the line, at most `most`
    // of them, each an optional sign and its digits wherever they stand in
    // the words ("= 3/2" holds 3 and 2); the words they were found in are
    // taken. Returns how many were found.
    int numbersInLine(int* out, int most) {
        int found = 0;
        while (found < most) {
            const char* w = value();
            if (!w) break;
            for (const char* c = w; *c && found < most;) {
                bool sign = (*c == '-' || *c == '+') && c[1] >= '0' && c[1] <= '9';
                if (!sign && !(*c >= '0' && *c <= '9')) {
                    c++;
                    continue;
                }
                out[found++] = toInt(c);
                c += sign ? 2 : 1;
                while (*c >= '0' && *c <= '9') c++;
            }
        }
        return found;
    }

    // Skips up to `n` words of the keyword's line (the "=", "/" and index
    // words of a line).
    void skip(int n) {
        for (int i = 0; i < n; i++) value();
    }

    // The keyword's line.
    int line() const { return key.line; }
    // The line of the last word of the stream (0 when there is none).
    int lastLine() const { return words.empty() ? 0 : words.back().line; }

    bool warns() const { return static_cast<bool>(warnTo); }
    // Warns about the keyword's line: "KEYWORD: text".
    void warn(const std::string& text) {
        if (warnTo) warnTo(key.line, printable(&buffer[key.pos]) + ": " + text);
    }
    // Warns that the keyword's line ends before its one value.
    void missingValue() { warn("the line ends before its value, which stays as it was"); }
    // Warns about a line with a text of its own.
    void warnAt(int line, const std::string& text) {
        if (warnTo) warnTo(line, text);
    }

    // A word as a warning shows it: in quotes, control bytes as '?', and
    // cut short when it is long.
    static std::string quoted(const char* w) { return "'" + printable(w) + "'"; }

    // Decimal integer with an optional sign at the start of the word;
    // anything after the digits is ignored, a word without digits reads 0.
    // Values beyond the int range are clamped instead of overflowing.
    static int toInt(const char* w) { return scan(w).value; }

    // True when the word is an optional sign and digits only, within the
    // int range.
    static bool plain(const char* w) {
        Reading r = scan(w);
        return r.digits && !r.clamped && !r.trailing;
    }

    // A keyword test: does `word` begin with the first `count` characters of
    // `keyword`? A null word (end of stream) never passes.
    static bool is(const char* word, const char* keyword, size_t count) {
        return word && strncmp(word, keyword, count) == 0;
    }

private:
    struct Word {
        size_t pos;  // where it starts in the buffer
        int line;
        bool first;  // the first word of its line
    };

    // What toInt makes of a word, and what it had to pass over.
    struct Reading {
        int value = 0;
        bool digits = false;    // some after the optional sign
        bool clamped = false;   // beyond the int range
        bool trailing = false;  // something after the digits, or no digits
    };

    static Reading scan(const char* w) {
        Reading r;
        long long v = 0;
        bool neg = false;
        if (*w == '+' || *w == '-') neg = (*w++ == '-');
        while (*w >= '0' && *w <= '9') {
            if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (*w - '0');
            r.digits = true;
            w++;
        }
        r.trailing = *w != '\0' || !r.digits;
        if (neg) v = -v;
        r.clamped = v > INT_MAX || v < INT_MIN;
        r.value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
        return r;
    }

    static bool separator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

    static std::string printable(const char* w) {
        static constexpr size_t kShown = 40;
        std::string s;
        for (; *w && s.size() < kShown; w++) s += static_cast<unsigned char>(*w) < 0x20 || *w == 0x7f ? '?' : *w;
        if (*w) s += "...";
        return s;
    }

    std::vector<char> buffer;
    std::vector<Word> words;  // in file order
    size_t at = 0;            // the next word
    Word key{0, 0, true};     // the last word next() gave
    Warn warnTo;
    Known knows = nullptr;
};
