// Whether two names lead to one file, so that no output is ever written
// over one of the program's own inputs or over another output. Two
// existing names are one file when they share device and inode; a name
// that does not exist yet is compared by where it would be made: its
// folder resolved (symbolic links, "." and ".."), then its own name.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

inline bool same_file(const char* a, const char* b) {
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The file a name leads to, as an absolute path with every link resolved;
// for a name that does not exist, its resolved folder and its own name;
// empty when not even its folder exists.
inline std::string resolved_path(const char* name) {
    if (char* real = realpath(name, nullptr)) {
        std::string out(real);
        std::free(real);
        return out;
    }
    std::string path(name);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) return "";
    std::string out(real);
    std::free(real);
    return (out == "/" ? "" : out) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// One file by either test: an output still to be made among them too.
inline bool same_place(const char* a, const char* b) {
    if (!a || !b) return false;
    if (same_file(a, b)) return true;
    std::string ra = resolved_path(a);
    return !ra.empty() && ra == resolved_path(b);
}
