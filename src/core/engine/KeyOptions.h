// The keys' options of the program and the renderer, and what they make
// at start:
//   --keys               MIDI's notes play notes (KeyScale's defaults)
//   --keys-scale FILE    on the degrees of a Scala scale (.scl)
//   --keys-map FILE      through a Scala keyboard mapping (.kbm)
// Either file implies --keys. A played script that says `keys`, or carries
// a scale or a mapping, plays keys too; a file named here wins over the
// text the script carries, as a patch named wins over its bank. A
// mapping's reference frequency sets the pitch of 1/1 unless --pitch does.
// Problems are named as "FILE:LINE: what" (the script's file and line for
// a text it carries); the programs stop with status 2 before anything is
// made.
#pragma once

#include "engine/EventScript.h"
#include "engine/KeyScale.h"
#include "engine/PitchOfOne.h"

#include <algorithm>
#include <cstdio>
#include <string>

class KeyOptions {
public:
    bool keys = false;
    const char* scalePath = nullptr;
    const char* mapPath = nullptr;

    // Whether keys play notes, from the options or the script.
    bool on(const EventScript& script) const {
        return keys || scalePath || mapPath || script.keys || script.scale.has || script.map.has;
    }

    // Builds `out` from the files named and the texts `script` (read from
    // `scriptName`, none when null) carries; false, with the line to print
    // in `error`, when a file cannot be read or a text is wrong. A file that
    // replaces a carried text says so on `err`, as "WHO: FILE replaces the
    // scale SCRIPT carries".
    bool build(const EventScript& script, const char* scriptName, KeyScale& out, std::string& error, const char* who,
               FILE* err) {
        Text texts[2];
        const char* paths[2] = {scalePath, mapPath};
        const EventScript::Carried* carried[2] = {&script.scale, &script.map};
        for (int t = 0; t < 2; t++) {
            Text& x = texts[t];
            if (paths[t]) {
                if (!KeyScale::readFile(paths[t], x.source.text, error)) return false;
                x.source.name = paths[t];
                if (carried[t]->has && err)
                    std::fprintf(err, "%s: %s replaces the %s %s carries\n", who, paths[t], t ? "map" : "scale",
                                 scriptName ? scriptName : "the script");
            } else if (carried[t]->has) {
                x.source.name = carried[t]->name;
                x.source.text = carried[t]->text;
                x.carried = carried[t];
                x.where = scriptName ? scriptName : "the script";
            }
            if (x.where.empty()) x.where = x.source.name;
        }
        KeyScale::Problem p;
        if (!out.build(texts[0].source, texts[1].source, &p)) {
            error = texts[p.inMap].at(p.line) + p.what;
            return false;
        }
        mapWhere = texts[1].at(out.mapPitchLine());
        return true;
    }

    // What the program and the renderer do before anything is opened: builds
    // `out` as build does and, unless the pitch was given (--pitch), takes
    // the pitch of 1/1 the mapping's reference gives into `pitch`; false,
    // with `error` said, when a file cannot be read or that pitch lies
    // outside the pitches the instrument can have.
    bool prepare(const EventScript& script, const char* scriptName, KeyScale& out, double& pitch, bool pitchGiven,
                 std::string& error, const char* who, FILE* err) {
        return build(script, scriptName, out, error, who, err) && (pitchGiven || pitchFrom(out, pitch, error));
    }

private:
    bool pitchFrom(const KeyScale& scale, double& pitch, std::string& error) const {
        double hz = scale.mapPitch();
        if (hz == 0) return true;
        if (!(hz >= PitchOfOne::kLowest && hz <= PitchOfOne::kHighest)) {
            char said[64];
            std::snprintf(said, sizeof said, "%.4f", hz);
            error = mapWhere + "the reference key puts 1/1 at " + said + " Hz, outside 31.25..12000 (--pitch HZ overrides it)";
            return false;
        }
        pitch = hz;
        return true;
    }

    // A text, and how to name one of its lines: a file's own, or the
    // script's lines it was carried on.
    struct Text {
        KeyScale::Source source;
        std::string where;                          // the file that holds it
        const EventScript::Carried* carried = nullptr;  // the script's, when it carried the text
        // "FILE:LINE: " of line `line` of the text: in a script, the line it
        // stood on (the header's for a text of no lines, the last one's
        // for its end).
        std::string at(int line) const {
            int n = line;
            if (carried) {
                const std::vector<int>& lines = carried->lines;
                n = lines.empty() ? carried->line : lines[std::min(std::max(line, 1), static_cast<int>(lines.size())) - 1];
            }
            return where + ":" + std::to_string(n) + ": ";
        }
    };
    std::string mapWhere;  // "FILE:LINE: " of the mapping's frequency
};
