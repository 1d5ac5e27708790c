// Counts the allocations anyone in the process (the plugin, the libraries
// it calls) makes on a thread while its `counting` is set, through the C
// library's own allocator (PluginTest.cpp defines the counting functions).
// AddressSanitizer has its own allocator: there nothing counts.
#pragma once

#include <atomic>

extern thread_local bool counting;
extern std::atomic<long> allocations;
constexpr bool kCounts =
#ifdef __SANITIZE_ADDRESS__
    false;
#else
    true;
#endif

