// The word stream the `textum()` readers take their words from while a
// patch text file is loaded; each bank has its own, so engines on other
// threads never share one. The whole file is held in memory; words are
// runs of bytes between separators (space, line feed, carriage return; a
// tab is not a separator). A NUL byte also ends a word, so a word is always
// a proper C string inside the buffer and nothing reads past its end.
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

class PatchWords {
public:
    // Takes a private copy of `size` bytes; the stream then starts at its
    // first word.
    void open(const char* bytes, size_t size) {
        open(std::vector<char>(bytes, bytes + size));
    }

    // Takes over a file's bytes without copying them.
    void open(std::vector<char>&& bytes) {
        buffer = std::move(bytes);
        buffer.push_back('\0');
        for (char& c : buffer)
            if (c == ' ' || c == '\n' || c == '\r') c = '\0';
        pos = 0;
    }

    void close() {
        buffer.clear();
        buffer.shrink_to_fit();
        pos = 0;
    }

    // The next word, or null at the end of the stream.
    const char* next() {
        size_t end = buffer.empty() ? 0 : buffer.size() - 1;
        while (pos < end && buffer[pos] == '\0') pos++;
        if (pos >= end) return nullptr;
        const char* w = &buffer[pos];
        while (pos < end && buffer[pos] != '\0') pos++;
        return w;
    }

    // Reads the next word as a number into `out`; at the end of the stream
    // `out` is left as it was and false is returned.
    bool number(int& out) {
        const char* w = next();
        if (!w) return false;
        out = toInt(w);
        return true;
    }

    // Skips `n` words (the "=", "/" and index words of a line).
    void skip(int n) {
        for (int i = 0; i < n; i++) next();
    }

    // Decimal integer with an optional sign at the start of the word;
    // anything after the digits is ignored, a word without digits reads 0.
    // Values beyond the int range are clamped instead of overflowing.
    static int toInt(const char* w) {
        long long v = 0;
        bool neg = false;
        if (*w == '+' || *w == '-') neg = (*w++ == '-');
        while (*w >= '0' && *w <= '9') {
            if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (*w - '0');
            w++;
        }
        if (neg) v = -v;
        if (v > INT_MAX) return INT_MAX;
        if (v < INT_MIN) return INT_MIN;
        return static_cast<int>(v);
    }

    // A keyword test: does `word` begin with the first `count` characters of
    // `keyword`? A null word (end of stream) never passes.
    static bool is(const char* word, const char* keyword, size_t count) {
        return word && strncmp(word, keyword, count) == 0;
    }

private:
    std::vector<char> buffer;
    size_t pos = 0;
};
