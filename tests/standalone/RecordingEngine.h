// Test engine for the host: records every call the host makes, returns a
// ramp of frames the tests can predict, and paints the whole window one
// colour so a test can see what was drawn after it.
#pragma once

#include "engine/AbstractChubEngine.h"

#include <string>
#include <vector>

namespace hosttest {

struct RecordingEngine : AbstractChubEngine {
    struct Report {
        ChubDevice* handle;
        std::vector<signed char> bytes;
    };
    std::vector<std::string> calls;  // "ging 0/256", "beging", "key 115", ...
    std::vector<_pointille> points;
    std::vector<_CHDC> paints;
    std::vector<Report> reports;
    std::vector<unsigned char> keys;
    std::vector<std::string> saves;
    unsigned long paintPixel = 0xff0000;  // red on the 24-bit screen
    int pair[2] = {0, 0};
    int gings = 0;  // frames produced so far

    // Frame n of the ramp: left = 16 × n (the 16-bit sample n once
    // converted), right = its negation.
    static int rampLeft(int n) { return 16 * n; }

    void graxness(_CHDC c) override {
        paints.push_back(c);
        calls.push_back("graxness");
        grax_colour(c, static_cast<Colour>(paintPixel));
        grax_fill(c, 0, 0, c.width, c.height);
    }
    int* gingness(int frame, int count) override {
        calls.push_back("ging " + std::to_string(frame) + "/" + std::to_string(count));
        pair[0] = rampLeft(gings);
        pair[1] = -rampLeft(gings);
        gings++;
        return pair;
    }
    void beging() override { calls.push_back("beging"); }
    void chubness(ChubDevice* h, _CHUBREPORT r) override {
        calls.push_back("chubness");
        reports.push_back({h, std::vector<signed char>(r.bytes, r.bytes + r.length)});
    }
    void charactros(unsigned char key) override {
        calls.push_back("key " + std::to_string(key));
        keys.push_back(key);
    }
    void mouseButt(_pointille p) override {
        calls.push_back("mouse");
        points.push_back(p);
    }
    void textorium_trigger(char* name) override {
        calls.push_back("save");
        saves.push_back(name);
    }
    void textorium_script(char* name) override { calls.push_back("load"); }
    void dupe_chubbery() override { calls.push_back("dupe_chubbery"); }
    void dupe_multiplex() override { calls.push_back("dupe_multiplex"); }

    int count(const std::string& call) const {
        int n = 0;
        for (const auto& c : calls) n += c == call;
        return n;
    }
    void clear() {
        calls.clear(); points.clear(); paints.clear(); reports.clear();
        keys.clear(); saves.clear();
    }
};

}  // namespace hosttest
