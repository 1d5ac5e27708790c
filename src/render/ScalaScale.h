// A bank as a Scala scale: the ratio of every voice of every situation,
// reduced into the octave 1/1..2/1 (times or divided by 2 until it lies
// there) and to lowest terms, each once, ascending; 1/1 is the scale's
// implied first degree and 2/1 its last. The .scl lists them as n/d; the
// .kbm beside it maps the scale linearly with 1/1 on MIDI key 60, tuned to
// the pitch of 1/1 (Hz). Ratios are the numbers the window shows, without
// the situation's step size or a sawtooth's octave.
#pragma once

#include "engine/MultiplexPotentiator.h"
#include "render/WholeFile.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

class ScalaScale {
public:
    using Ratio = std::pair<long, long>;  // numerator, denominator

    // The scale's degrees after 1/1, 2/1 last.
    static std::vector<Ratio> degrees(MultiplexPotentiator& bank) {
        std::vector<Ratio> out;
        for (int k = 0; k < bank.chubamt(); k++) {
            ChubberySituation* s = bank.getSituation(k);
            if (!s) continue;
            for (int v = 0; v < 4; v++) {
                RatChord* r = s->getGinger()->getRat(v);
                Ratio q = reduced(r->getNume(), r->getDeno());
                if (q != Ratio{1, 1} && std::find(out.begin(), out.end(), q) == out.end()) out.push_back(q);
            }
        }
        std::sort(out.begin(), out.end(), [](const Ratio& a, const Ratio& b) { return a.first * b.second < b.first * a.second; });
        out.push_back({2, 1});
        return out;
    }

    // n/d (1..255 each) in 1/1 <= n/d < 2/1, lowest terms.
    static Ratio reduced(long n, long d) {
        while (n >= 2 * d) d *= 2;
        while (n < d) n *= 2;
        long g = std::gcd(n, d);
        return {n / g, d / g};
    }

    static std::string scl(const std::vector<Ratio>& degrees, const std::string& name) {
        std::string t = "! " + name + "\n!\nquorvanel: the ratios of the current bank, reduced into one octave\n " +
                        std::to_string(degrees.size()) + "\n!\n";
        for (const Ratio& r : degrees) t += " " + std::to_string(r.first) + "/" + std::to_string(r.second) + "\n";
        return t;
    }

    static std::string kbm(double pitchOfOne, const std::string& name) {
        char hz[64];
        std::snprintf(hz, sizeof hz, "%.6f", pitchOfOne);
        return "! " + name +
               "\n!\n! Size of map (0: linear, one scale degree a key):\n0\n"
               "! First MIDI note number to retune:\n0\n"
               "! Last MIDI note number to retune:\n127\n"
               "! Middle note where the first entry of the mapping is mapped to (1/1):\n60\n"
               "! Reference note for which frequency is given:\n60\n"
               "! Frequency to tune the above note to (the pitch of 1/1):\n" +
               std::string(hz) +
               "\n! Scale degree to consider as formal octave (0: the last, 2/1):\n0\n"
               "! Mapping (none: linear).\n";
    }

    // FILE.scl's .kbm: the name with its .scl ending (or none) replaced.
    static std::string kbmPath(const std::string& scl) {
        size_t slash = scl.rfind('/');
        size_t dot = scl.rfind('.');
        bool ending = dot != std::string::npos && (slash == std::string::npos || dot > slash) && scl.substr(dot) == ".scl";
        return (ending ? scl.substr(0, dot) : scl) + ".kbm";
    }

    // Writes both files; false, errno set, when one cannot be written.
    static bool write(const std::string& sclPath, MultiplexPotentiator& bank, double pitchOfOne) {
        std::string kbmName = kbmPath(sclPath);
        return write_whole_file(sclPath, scl(degrees(bank), baseName(sclPath))) &&
               write_whole_file(kbmName, kbm(pitchOfOne, baseName(kbmName)));
    }

private:
    static std::string baseName(const std::string& path) {
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
};
