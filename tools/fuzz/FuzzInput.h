// A fuzz input read as fields (numbers as they lie in memory, so that any
// bit pattern of a double, NaN and infinities included, is a value), the
// same fields written for the seeds, and the seeds written into the corpus
// folders named on a target's command line where they are absent.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool empty() const { return at >= size; }

    // The next field; what the input lacks reads as zero bytes.
    template <class T>
    T take() {
        T v{};
        size_t n = size - at < sizeof v ? size - at : sizeof v;
        std::memcpy(&v, data + at, n);
        at += n;
        return v;
    }

    // Up to `n` bytes, fewer at the input's end.
    std::string bytes(size_t n) {
        n = size - at < n ? size - at : n;
        std::string out(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return out;
    }

    // The same fields into a seed.
    template <class T>
    static void put(std::string& out, T v) {
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    }

    // Each seed as "seed-NAME" in every folder among `argv` (the corpus
    // folders a libFuzzer command line names), unless one is there.
    static void writeSeeds(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& seeds) {
        for (int a = 1; a < argc; a++) {
            struct stat st;
            const char* dir = argv[a];
            if (dir[0] == '-' || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            for (const auto& [name, bytes] : seeds) {
                std::string path = std::string(dir) + "/seed-" + name;
                if (stat(path.c_str(), &st) == 0) continue;
                if (FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fwrite(bytes.data(), 1, bytes.size(), f);
                    std::fclose(f);
                }
            }
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};
