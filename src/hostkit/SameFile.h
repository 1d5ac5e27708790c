// Whether two names lead to one file (the same device and inode), so that
// no output is ever written over one of the program's own inputs. A name
// that does not exist is no file at all.
#pragma once

#include <sys/stat.h>

inline bool same_file(const char* a, const char* b) {
    struct stat sa, sb;
    return a && b && stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
