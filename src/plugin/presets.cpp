// Writes the plugins' presets: one per example patch, each the whole
// instrument as it stands after the patch is loaded into the current bank
// at start, so choosing a preset in a host sounds like starting the
// program with that patch. An LV2 preset also names itself, which tells
// the plugin to leave the keys as they are.
//   quorvanel-lv2-presets URI OUT.ttl PATCH...    the LV2 bundle's presets
//   quorvanel-lv2-presets --header OUT.h PATCH...  the same texts as C++, for
//                                                  the VST3 plugin's programs
// Exit status 0 done, 1 when OUT.ttl cannot be written, 2 for a bad
// command line or an unreadable patch.
#include "engine/PatchFile.h"
#include "engine/InstrumentState.h"
#include "engine/LaceyBanks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The instrument's text after `patch`; false, with the reason, when the
// patch cannot be read.
bool presetText(const char* patch, std::string& out, std::string& why) {
    std::string bytes;
    if (!PatchFile::read(patch, bytes, why)) return false;
    LaceyBanks engine;
    engine.getBank(engine.getCurrent())->load(std::vector<char>(bytes.begin(), bytes.end()));
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (!f || !InstrumentState::write(engine, f)) {
        why = "its instrument text cannot be made";
        return false;
    }
    std::fclose(f);
    out.assign(text, size);
    std::free(text);
    return true;
}

// `text` inside double quotes, as a Turtle long string or (`lines`) as C++
// string literals, a line each.
std::string quoted(const std::string& text, bool lines) {
    std::string out = lines ? "\n        \"" : "";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n' && lines) {
            out += "\\n\"\n        \"";
            continue;
        }
        out += c;
    }
    return lines ? out + "\"" : out;
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
        std::fprintf(stderr, "usage: quorvanel-lv2-presets URI OUT.ttl PATCH...\n"
                             "       quorvanel-lv2-presets --header OUT.h PATCH...\n");
        return 2;
    }
    const std::string uri = argv[1];
    const bool header = uri == "--header";
    std::string ttl = header ? "// Made by quorvanel-lv2-presets from the example patches.\n#pragma once\n\n"
                               "struct PresetText {\n    const char* name;\n    const char* text;\n};\n\n"
                               "inline constexpr PresetText kPresetTexts[] = {\n" :
        "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
        "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
        "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n";
    for (int i = 3; i < argc; i++) {
        std::string text, why;
        if (!presetText(argv[i], text, why)) {
            std::fprintf(stderr, "quorvanel-lv2-presets: cannot read %s: %s\n", argv[i], why.c_str());
            return 2;
        }
        std::string name = stem(argv[i]);
        if (header) {
            ttl += "    {\"" + name + "\"," + quoted(text, true) + "},\n";
            continue;
        }
        ttl += "\n<" + uri + ":preset:" + name + ">\n\ta pset:Preset ;\n\tlv2:appliesTo <" + uri +
               "> ;\n\trdfs:label \"" + name + "\" ;\n\tstate:state [\n\t\t<" + uri + "#preset> \"" + name + "\" ;\n\t\t<" +
               uri + "#instrument> \"\"\"" + quoted(text, false) + "\"\"\"\n\t] .\n";
    }
    if (header) ttl += "};\n";
    FILE* out = std::fopen(argv[2], "w");
    if (!out || std::fwrite(ttl.data(), 1, ttl.size(), out) != ttl.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "quorvanel-lv2-presets: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    return 0;
}
