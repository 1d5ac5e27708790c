// Counts the allocations anyone in the process (the plugin, the libraries
// it calls) makes on a thread while its `counting` is set, through the C
// library's own allocator (PluginTest.cpp defines the counting functions).
// AddressSanitizer has its own allocator: there nothing counts.
#pragma once

#include "plugin/Play.h"

#include <atomic>
#include <random>

extern thread_local bool counting;
extern std::atomic<long> allocations;
constexpr bool kCounts =
#ifdef __SANITIZE_ADDRESS__
    false;
#else
    true;
#endif


namespace plugintest {

// Plays `play` over 48000 frames through a test host's prepare and run, in
// blocks of 1..2048 frames; the allocations the runs made. `after(t)` runs
// after each block that ends at frame t, off the count. `newPitches`: now
// and then a block starts at a new pitch of 1/1 (hosts that have one).
template <class Host, class After>
long countedPlay(Host& host, const std::vector<Input>& play, After after, bool newPitches = false) {
    std::mt19937 rng(4);
    size_t next = 0;
    long made = 0;
    for (uint32_t t = 0; t < 48000;) {
        uint32_t n = 1 + rng() % 2048;
        host.prepare(n, blockOf(play, next, t, n));
        if constexpr (requires { host.pitch; })
            if (newPitches) host.pitch = rng() % 8 ? host.pitch : 200 + rng() % 900;
        allocations = 0;
        counting = true;
        host.run(n);
        counting = false;
        made += allocations;
        after(t += n);
    }
    return made;
}

}  // namespace plugintest
