// One window-less lattice store shared by the lattice tests that only read it.
#pragma once

#include "lattice/PerspexStabile.h"

namespace lattest {

inline PerspexStabile& store() {
    static PerspexStabile* s = new PerspexStabile();
    return *s;
}

}  // namespace lattest
