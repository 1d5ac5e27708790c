// PerspexStabile: the one lattice store, shared by every bank and component
// and never changed after construction. It owns the prime list (2..251), the
// 256 factored numbers, every ratio i/j (i, j = 1..255) as a node of one chain
// sorted by value plus a 256 × 256 table to find them, a 256-entry colour
// ramp and one accent colour. It also keeps the engine's colour sequence,
// which the numbers, the ramp and every new prime-limit selector draw from
// in turn, so each engine's colours are the same at every start.
// Ratio nodes: 1 + 255 × 255 (the reference 1/1 and a second 1/1 at [1][1]).
// Colour components are 8-bit (0..255).
#pragma once

#include "engine/Canvas.h"
#include "lattice/ColourSequence.h"
#include "lattice/Numba.h"
#include "lattice/Prime.h"
#include "lattice/RatChord.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

class PerspexStabile {
public:
    static constexpr int kTerms = 256;                         // numbers 0..255, 0 standing for 1
    static constexpr int kNodes = 1 + 255 * 255;               // ratio nodes
    static constexpr int kAccentR = 170, kAccentG = 20, kAccentB = 22;

    RatChord* quadrangularis;   // the reference node 1/1
    RatChord** table;           // [i × 256 + j] = i/j; row 0 only [0] and [1] (the reference node)
    Numba numbers[kTerms];      // entry i = i for 1..255; entry 0 = 1 without factors
    Prime* truth;               // prime list head: 2
    Colour annex[256];          // colour ramp
    Colour cardinalAccent;

    // Numbers first (their colours take the first 1536 draws, entry 0
    // first), then the primes, factors, chain and finally the ramp.
    PerspexStabile() : quadrangularis(nullptr), table(nullptr), truth(nullptr), annex(), cardinalAccent(0) {
        for (Numba& n : numbers) n.colour(colours);
        truth = gimmeTruth(256, 256, nullptr);
        makeNumbarz();
        table = new RatChord*[kTerms * kTerms]();
        buildChain();
        init_annex();
    }
    ~PerspexStabile() {
        // The nodes live in one block (see buildChain); they hold no resources.
        ::operator delete(pool);
        delete[] table;
        // factor chains go before the primes they point at
        for (int i = 0; i < kTerms; i++) numbers[i].setValue(numbers[i].getValue(), nullptr);
        while (truth) {
            Prime* n = truth->next();
            delete truth;
            truth = n;
        }
    }
    PerspexStabile(const PerspexStabile&) = delete;
    PerspexStabile& operator=(const PerspexStabile&) = delete;

    Prime* getTruth() const { return truth; }
    Numba* getNumba(int a) { return &numbers[limrap(a)]; }
    // The node a/b, each term through limrap. getQuid(1, 1) is the second
    // 1/1, directly above the reference node.
    RatChord* getQuid(int a, int b) const { return table[limrap(a) * kTerms + limrap(b)]; }
    RatChord* getQuadrangularis() const { return quadrangularis; }
    // a's truncating remainder modulo 256 if positive, else 1:
    // 300 -> 44, 256 -> 1, 0 -> 1, -3 -> 1.
    static int limrap(int a) {
        int r = a % 256;
        return r > 0 ? r : 1;
    }
    // Ramp entry i; callers pass a byte, and other values wrap into 0..255.
    Colour getMarylandAnnex(int i) const { return annex[i & 255]; }
    Colour getCardinalAccent() const { return cardinalAccent; }
    // The next number of the engine's colour sequence, 0..2^31-1.
    int drawColour() { return colours.next(); }

private:
    void* pool = nullptr;   // storage of all ratio nodes, in chain order
    ColourSequence colours;

    // Builds the ascending list of primes below n by trial division, taking
    // them from n downward onto the head of list. weight = how many k in
    // 2..count-1 the prime divides.
    static Prime* gimmeTruth(int count, int n, Prime* list) {
        for (; n >= 2; n--) {
            bool prime = true;
            for (int k = 2; k < n && prime; k++) prime = n % k != 0;
            if (!prime) continue;
            int weight = 0;
            for (int k = 2; k < count; k++) weight += k % n == 0;
            list = new Prime(n, weight, list);
        }
        return list;
    }

    // Factors a into the chain m trying primes from p upward; the largest
    // prime ends at the head.
    static Multaple* computeMultnas(int a, Multaple* m, Prime* p) {
        while (p && a != 1) {
            if (a % p->getValue() != 0) {
                p = p->next();
                continue;
            }
            if (m && m->getValence() == p) m->increment();
            else m = new Multaple(p, m);
            a /= p->getValue();
        }
        return m;
    }

    void makeNumbarz() {
        numbers[0].setValue(1, nullptr);
        for (int i = 1; i < kTerms; i++) numbers[i].setValue(i, computeMultnas(i, nullptr, truth));
    }

    // Creates every ratio node and links them into one chain sorted by value.
    //
    // The chain is the one that placing the nodes one by one gives: the
    // reference 1/1 first; then for each row i, i/1 placed with ouster from
    // (i-1)/1 and each i/j (j = 2..255) with insert from i/(j-1). insert
    // walks down past equal values and ouster up past them, so among equal
    // values a later row lands lower: the value-1 nodes run, from the top
    // down, second 1/1, reference 1/1, 2/2, 3/3, ..., 255/255.
    //
    // That one-by-one placement walks some eight million links (about 40 ms),
    // so the same order is reached by sorting instead: by value, then by
    // numerator from large to small, then by creation (which puts the
    // reference node below the second 1/1). Positive floats order like their
    // bit patterns, so the float comparisons of insert/ouster carry over.
    //
    // The nodes are then made in the pool in chain order, so that a walk
    // along the chain reads memory straight ahead instead of jumping across
    // the 4 MB the nodes take (a voice's chain steps walk it every period).
    void buildChain() {
        static_assert(kNodes <= 0x10000, "creation index must fit the key's low 16 bits");
        // Creation index k: 0 the reference 1/1, then i/j row by row.
        auto numeOf = [](int k) { return k == 0 ? 1 : 1 + (k - 1) / 255; };
        auto denoOf = [](int k) { return k == 0 ? 1 : 1 + (k - 1) % 255; };
        // key: value bits | 255 - numerator | creation index (< 2^16)
        std::vector<uint64_t> keys(kNodes);
        for (int k = 0; k < kNodes; k++) {
            float value = RatChord::valueOf(numeOf(k), denoOf(k));
            uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            keys[k] = uint64_t(bits) << 32 | uint64_t(255 - numeOf(k)) << 16 | uint64_t(k);
        }
        std::sort(keys.begin(), keys.end());
        pool = ::operator new(sizeof(RatChord) * kNodes);
        RatChord* nodes = static_cast<RatChord*>(pool);
        for (int rank = 0; rank < kNodes; rank++) {
            int k = static_cast<int>(keys[rank] & 0xffff);
            int i = numeOf(k), j = denoOf(k);
            RatChord* c = new (nodes + rank) RatChord(i, j, numbers);
            if (k == 0) {
                quadrangularis = c;
                table[0] = table[1] = c;
            } else {
                table[i * kTerms + j] = c;
                if (j == 1) table[i * kTerms] = c;
            }
            if (rank > 0) {
                c->prev = c - 1;
                c[-1].next = c;
            }
        }
    }

    // Ramp: entries 0..127 run from mid-grey toward red (red wraps past 255),
    // entries 255 down to 128 the same toward blue; each entry jittered by its
    // own draw % 8. Components wrap modulo 256.
    void init_annex() {
        for (int i = 0; i < 128; i++) {
            int a = colours.next() % 8;
            annex[i] = GRAXBRUSHWAND(wrap(i + i / 2 + a - 128), wrap(i / 2 + a - 128), wrap(a - 128));
        }
        for (int i = 0; i < 128; i++) {
            int a = colours.next() % 8;
            annex[255 - i] = GRAXBRUSHWAND(wrap(a - 128), wrap(i / 2 + a - 128), wrap(i + i / 2 + a - 128));
        }
        cardinalAccent = GRAXBRUSHWAND(kAccentR, kAccentG, kAccentB);
    }
    static unsigned char wrap(int c) { return static_cast<unsigned char>(c & 255); }
};
