// A private folder for a fuzz target's files, in memory where the machine
// has /dev/shm (the targets write a file for every input). Aborts when none
// can be made: a target must not write anywhere else.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string makeFuzzFolder(const std::string& stem) {
    for (std::string base : {"/dev/shm/", "/tmp/"}) {
        std::string dir = base + stem + "-XXXXXX";
        if (mkdtemp(dir.data())) return dir;
    }
    abort();
}
