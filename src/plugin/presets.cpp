// Writes the bundle's presets: one per example patch, each the whole
// instrument as it stands after the patch is loaded into the current bank
// at start, so choosing a preset in a host sounds like starting the
// program with that patch.
//   quorvanel-lv2-presets URI OUT.ttl PATCH...
// Exit status 0 done, 1 when OUT.ttl cannot be written, 2 for a bad
// command line or an unreadable patch.
#include "engine/EventScript.h"
#include "engine/InstrumentState.h"
#include "engine/LaceyBanks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The instrument's text after `patch`, as a Turtle long string.
bool presetText(const char* patch, std::string& out) {
    std::string bytes;
    if (!EventScript::readFile(patch, bytes)) return false;
    LaceyBanks engine;
    engine.getBank(engine.getCurrent())->load(std::vector<char>(bytes.begin(), bytes.end()));
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (!f || !InstrumentState::write(engine, f)) return false;
    std::fclose(f);
    out.clear();
    for (size_t k = 0; k < size; k++) {
        if (text[k] == '\\' || text[k] == '"') out += '\\';
        out += text[k];
    }
    std::free(text);
    return true;
}

std::string stem(const char* path) {
    std::string s(path);
    size_t slash = s.rfind('/');
    if (slash != std::string::npos) s.erase(0, slash + 1);
    size_t dot = s.rfind('.');
    if (dot != std::string::npos && dot > 0) s.erase(dot);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvanel-lv2-presets URI OUT.ttl PATCH...\n");
        return 2;
    }
    const std::string uri = argv[1];
    std::string ttl =
        "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
        "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
        "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n";
    for (int i = 3; i < argc; i++) {
        std::string text;
        if (!presetText(argv[i], text)) {
            std::fprintf(stderr, "quorvanel-lv2-presets: cannot read %s: %s\n", argv[i], std::strerror(errno));
            return 2;
        }
        std::string name = stem(argv[i]);
        ttl += "\n<" + uri + ":preset:" + name + ">\n\ta pset:Preset ;\n\tlv2:appliesTo <" + uri +
               "> ;\n\trdfs:label \"" + name + "\" ;\n\tstate:state [\n\t\t<" + uri + "#instrument> \"\"\"" +
               text + "\"\"\"\n\t] .\n";
    }
    FILE* out = std::fopen(argv[2], "w");
    if (!out || std::fwrite(ttl.data(), 1, ttl.size(), out) != ttl.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "quorvanel-lv2-presets: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    return 0;
}
