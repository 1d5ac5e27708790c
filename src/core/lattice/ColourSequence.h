// The sequence the picture's colours are drawn from: the numbers the C
// library's rand() gives after its default seed (srand(1)), made by each
// engine for itself. The process's own rand() is shared with every library
// in the process (a sound server's client library draws from it thousands
// of times before the engine exists) and takes a lock, so colours drawn
// from it would change from one start to the next and could not be drawn
// on an audio thread. The generator is the additive feedback one the GNU C
// library uses for rand(): 31 words of state, taps 3 apart, the first 310
// results thrown away.
// next(): 0..2^31-1.
#pragma once

#include <cstdint>

class ColourSequence {
public:
    ColourSequence() {
        int32_t word = 1;  // the default seed
        state[0] = static_cast<uint32_t>(word);
        // word = 16807 × word mod (2^31 - 1), by Schrage's method so
        // nothing overflows.
        for (int i = 1; i < kWords; i++) {
            int32_t hi = word / 127773, lo = word % 127773;
            word = 16807 * lo - 2836 * hi;
            if (word < 0) word += 2147483647;
            state[i] = static_cast<uint32_t>(word);
        }
        front = kSeparation;
        rear = 0;
        for (int i = 0; i < 10 * kWords; i++) next();
    }

    int next() {
        uint32_t sum = state[front] += state[rear];
        if (++front >= kWords) {
            front = 0;
            ++rear;
        } else if (++rear >= kWords) {
            rear = 0;
        }
        return static_cast<int>(sum >> 1);
    }

    int operator()() { return next(); }

private:
    static constexpr int kWords = 31;
    static constexpr int kSeparation = 3;

    uint32_t state[kWords];
    int front, rear;
};
