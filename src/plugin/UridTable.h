// URIs as numbers for the window messages when the plugin and its window
// share a process (CLAP, VST3) and no LV2 host maps them: the first URI
// asked for is 1, the next 2, and so on. Only the threads that set up a
// plugin and its window map; a lock keeps two instances apart.
#pragma once

#include <lv2/urid/urid.h>

#include <mutex>
#include <string>
#include <vector>

class UridTable {
public:
    LV2_URID_Map* map() { return &feature; }

private:
    LV2_URID id(const char* uri) {
        std::lock_guard<std::mutex> one(lock);
        for (size_t k = 0; k < uris.size(); k++)
            if (uris[k] == uri) return static_cast<LV2_URID>(k + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }

    std::mutex lock;
    std::vector<std::string> uris;
    LV2_URID_Map feature{this, [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<UridTable*>(h)->id(uri); }};
};
