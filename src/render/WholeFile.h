// Writes a whole file the renderer makes beside its WAV (the tuned notes,
// the scale): false, errno set, when it cannot be written completely.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>

inline bool write_whole_file(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int e = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok && !errno) errno = e ? e : EIO;
    return ok;
}
