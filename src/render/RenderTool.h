// The command line of quorvanel-render:
//   quorvanel-render [-p PATCH] [-n SECONDS] [--saves DIR] [--picture FRAME FILE.png]
//                    [--pitch HZ] [--midi-out FILE.mid [--tuning-out mpe|mts]] [--scala FILE.scl]
//                    [--keys] [--keys-scale FILE.scl] [--keys-map FILE.kbm] SCRIPT OUT.wav
//   quorvanel-render --check PATCH|FILE.scl|FILE.kbm
// Builds one engine with no window, loads PATCH into its current bank as the
// program does at start, and renders the event script into a WAV file
// (OUT "-" is standard output). The script's saves write nothing unless
// --saves names a folder for them. --picture also writes the window's
// picture after the last repaint at or before FRAME. --pitch writes the rate
// that sounds 1/1 at HZ into the WAV header; the samples stay the same. The
// tuning options (TuningFiles) write tuned notes and the bank's scale.
// The keys' options (KeyOptions) make the script's MIDI notes play notes.
// Exit status: 0 done; 2 bad command line, unreadable patch or script, a
// malformed script line, or an output (OUT, the picture, the tuning files)
// that is the script, the patch or another output; 1 when an output
// cannot be written. Every output is checked before the render, and on a
// refusal nothing is written.
// --check loads PATCH as the program would and prints the loader's
// warnings: 0 none, 1 some, 2 a patch that cannot be read or is none.
// Given a scale (.scl) it names each degree that keys play as the nearest
// ratio of terms 1..255 instead, a mapping (.kbm) it reads: 0 nothing to
// say, 1 some degrees, 2 a file that cannot be read or is malformed.
#pragma once

#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/OfflineRenderer.h"
#include "engine/InputGate.h"
#include "engine/KeyOptions.h"
#include "engine/MultiplexPotentiator.h"
#include "engine/PatchFile.h"
#include "engine/PitchOfOne.h"
#include "engine/ScriptPad.h"
#include "engine/WavWriter.h"
#include "render/PictureWindow.h"
#include "render/PngWriter.h"
#include "render/TuningFiles.h"
#include "hostkit/SameFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class RenderTool {
public:
    using EngineFactory = AbstractChubEngine* (*)();
    // Destroys what the factory made, through its own type: the interface
    // has no virtual destructor, so the tool cannot delete it itself.
    using EngineRelease = void (*)(AbstractChubEngine*);

    static constexpr int kOk = 0;
    static constexpr int kOutputFailed = 1;
    static constexpr int kWarnings = 1;  // --check: the patch loads, with warnings
    static constexpr int kBadInput = 2;

    // `make` builds the engine once the inputs are known to be good and
    // `release` (when given) destroys it after the render. Diagnostics go
    // to `err`.
    static int run(int argc, char** argv, EngineFactory make, EngineRelease release = nullptr,
                   FILE* err = stderr) {
        const char* patch = nullptr;
        const char* seconds = nullptr;
        const char* saves = nullptr;
        const char* pictureFrame = nullptr;
        const char* picturePath = nullptr;
        const char* check = nullptr;
        double pitch = PitchOfOne::kDefault;  // Hz of 1/1
        bool pitchGiven = false;
        std::vector<const char*> operands;
        TuningFiles tuning;
        KeyOptions keyOptions;
        for (int i = 1; i < argc; i++) {
            std::string a = argv[i];
            if (a == "-h" || a == "--help") {
                usage(err);
                return kOk;
            }
            if (a == "-V" || a == "--version") {
                std::fprintf(stdout, "quorvanel-render %s\n", QUORVANEL_VERSION);
                return kOk;
            }
            if ((a == "-p" || a == "-n" || a == "--saves") && i + 1 < argc) {
                (a == "-p" ? patch : a == "-n" ? seconds : saves) = argv[++i];
            } else if (a == "-p" || a == "-n" || a == "--saves") {
                return complain(err, a + " needs a value");
            } else if (a == "--keys") {
                keyOptions.keys = true;
            } else if (a == "--keys-scale" || a == "--keys-map") {
                if (i + 1 >= argc) return complain(err, a + " needs a value");
                (a == "--keys-scale" ? keyOptions.scalePath : keyOptions.mapPath) = argv[++i];
            } else if (TuningFiles::takes(a)) {
                if (i + 1 >= argc) return complain(err, a + " needs a value");
                tuning.set(a, argv[++i]);
            } else if (a == "--picture" && i + 2 < argc) {
                pictureFrame = argv[++i];
                picturePath = argv[++i];
            } else if (a == "--picture") {
                return complain(err, "--picture needs a FRAME and a FILE");
            } else if ((a == "--pitch" || a == "--check") && i + 1 < argc) {
                if (a == "--check") check = argv[++i];
                else if (!PitchOfOne::parse(argv[++i], pitch))
                    return complain(err, std::string("--pitch ") + argv[i] + ": not a frequency of 31.25..12000 Hz");
                else pitchGiven = true;
            } else if (a == "--pitch" || a == "--check") {
                return complain(err, a + " needs a value");
            } else if (a == "--") {
                for (i++; i < argc; i++) operands.push_back(argv[i]);
            } else if (a.size() > 1 && a[0] == '-') {
                return complain(err, "unknown option " + a);
            } else {
                operands.push_back(argv[i]);
            }
        }
        if (check) {
            if (patch || seconds || saves || picturePath || !operands.empty())
                return complain(err, "--check takes one PATCH and nothing else");
            std::string name = check;
            for (const char* ending : {".scl", ".kbm"})
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ending) == 0)
                    return checkKeys(check, ending[1] == 'k', err);
            return checkPatch(check, err);
        }
        if (operands.size() != 2) return complain(err, "expected SCRIPT and OUT.wav");
        const char* scriptPath = operands[0];
        const char* outPath = operands[1];
        long long pictureAt = 0;
        if (pictureFrame && !frameNumber(pictureFrame, pictureAt))
            return complain(err, std::string("--picture ") + pictureFrame + ": not a frame number");

        EventScript script;
        if (!script.load(scriptPath)) {
            std::fprintf(err, "quorvanel-render: %s: %s\n", scriptPath, script.message().c_str());
            return kBadInput;
        }
        if (patch) {
            std::string problem = InputGate::patchProblem(patch);
            if (!problem.empty()) {
                std::fprintf(err, "quorvanel-render: %s\n", problem.c_str());
                return kBadInput;
            }
        }
        std::optional<KeyScale> keyScale;
        if (keyOptions.on(script)) {
            std::string problem;
            keyScale.emplace();
            if (!keyOptions.prepare(script, scriptPath, *keyScale, pitch, pitchGiven, problem, "quorvanel-render", err)) {
                std::fprintf(err, "quorvanel-render: %s\n", problem.c_str());
                return kBadInput;
            }
        }
        std::string tuningProblem = tuning.problem();
        if (!tuningProblem.empty()) return complain(err, tuningProblem);
        std::vector<std::pair<std::string, std::string>> outputs = tuning.outputs();
        if (picturePath) outputs.insert(outputs.begin(), {"--picture", picturePath});
        if (std::strcmp(outPath, "-") != 0) outputs.insert(outputs.begin(), {"", outPath});
        const std::pair<const char*, const char*> inputs[] = {
            {scriptPath, "the script"}, {patch, "the patch"}, {keyOptions.scalePath, "the scale"},
            {keyOptions.mapPath, "the keyboard map"}};
        if (int status = outputProblem(outputs, inputs, err)) return status;
        uint32_t total;
        if (seconds) {
            if (!OfflineRenderer::framesFor(seconds, total))
                return complain(err, std::string("-n ") + seconds + ": not a decimal number of seconds up to " +
                                         std::to_string(WavWriter::kMaxFrames / WavWriter::kRate));
        } else {
            uint64_t d = OfflineRenderer::defaultFrames(script.events);
            if (d > WavWriter::kMaxFrames) return complain(err, "the script runs longer than one WAV file can hold");
            total = static_cast<uint32_t>(d);
        }

        Output out;
        if (!out.open(outPath)) {
            std::fprintf(err, "quorvanel-render: cannot write %s: %s\n", outPath, std::strerror(errno));
            return kOutputFailed;
        }
        AbstractChubEngine* engine = make();
        InputGate::Unseen unseen;
        std::optional<PictureWindow> picture;
        if (picturePath) picture.emplace(pictureAt);
        InputGate::Window* window = picture ? static_cast<InputGate::Window*>(&*picture) : &unseen;
        // Only the script's own pad plays in a render, never one plugged
        // into the machine.
        ScriptPad pad;
        InputGate gate(engine, window, &pad);
        if (picture) picture->watch(&gate);
        tuning.setPitch(pitch);
        if (!tuning.attach(engine, gate)) {
            out.close();
            if (release) release(engine);
            return complain(err, "this engine has no voices to tune");
        }
        gate.savesTo(saves);
        if (keyScale) gate.playKeys(&*keyScale);
        if (!gate.loadAtStart(patch, script, scriptPath, "quorvanel-render", err)) {
            out.close();
            if (release) release(engine);
            return kOutputFailed;
        }
        WavWriter wav(out.file, total, PitchOfOne::wholeRate(pitch));
        size_t undelivered = 0;
        bool ok = OfflineRenderer::render(gate, *engine, script.events, total, wav,
                                          total > OfflineRenderer::kProgressFrames ? err : nullptr, &undelivered);
        ok = out.close() && ok;
        if (!ok) std::fprintf(err, "quorvanel-render: writing %s failed\n", outPath);
        ok = tuning.write(total, err) && ok;
        if (release) release(engine);
        if (undelivered)
            std::fprintf(err, "quorvanel-render: %zu event(s) after the end of the render were not delivered\n",
                         undelivered);
        if (picture && !PngWriter::write(picturePath, picture->picture())) {
            std::fprintf(err, "quorvanel-render: cannot write the picture %s\n", picturePath);
            ok = false;
        }
        return ok ? kOk : kOutputFailed;
    }

private:
    // What keeps the render's outputs (each a name, "" for the WAV, and a
    // path) from being made, said on `err` before anything is written: one
    // that is an input (each a path, or null, and its name) or an output
    // before it, by where its name leads (kBadInput), or one that cannot be
    // written where it stands (kOutputFailed). 0 when nothing does.
    template <size_t N>
    static int outputProblem(const std::vector<std::pair<std::string, std::string>>& outputs,
                             const std::pair<const char*, const char*> (&inputs)[N], FILE* err) {
        for (size_t k = 0; k < outputs.size(); k++) {
            const auto& [what, path] = outputs[k];
            std::string named = (what.empty() ? "" : what + " ") + path;
            for (const auto& [input, inputName] : inputs)
                if (same_place(path.c_str(), input))
                    return complain(err, named + " is " + inputName + ": it would be written over");
            for (size_t o = 0; o < k; o++)
                if (same_place(path.c_str(), outputs[o].second.c_str()))
                    return complain(err, named + (outputs[o].first.empty() ? " is the WAV: it would be written over"
                                                                           : " is " + outputs[o].first + "'s file too"));
        }
        for (const auto& [what, path] : outputs) {
            std::string why;
            if (!writable(path.c_str(), why)) {
                std::fprintf(err, "quorvanel-render: cannot write %s: %s\n", path.c_str(), why.c_str());
                return kOutputFailed;
            }
        }
        return 0;
    }

    // Whether a file can be written at `path`, found without changing
    // anything: an existing one opened for writing (not emptied), or else
    // its folder writable. False with the reason.
    static bool writable(const char* path, std::string& why) {
        struct stat st;
        if (stat(path, &st) == 0) {
            int fd = S_ISDIR(st.st_mode) ? -1 : open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                close(fd);
                return true;
            }
            why = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
            return false;
        }
        std::string folder(path);
        size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        if (errno == ENOENT && access(folder.c_str(), W_OK | X_OK) == 0) return true;
        why = std::strerror(errno);
        return false;
    }

    // Loads the patch into a bank of its own, as the program loads it at
    // start, and prints the loader's warnings on `err`.
    static int checkPatch(const char* path, FILE* err) {
        std::string problem = InputGate::patchProblem(path);
        if (!problem.empty()) {
            std::fprintf(err, "quorvanel-render: %s\n", problem.c_str());
            return kBadInput;
        }
        std::string text, why;
        PatchFile::read(path, text, why);
        PerspexStabile stabile;
        MultiplexPotentiator bank(&stabile);
        int warnings = 0;
        bank.load(std::vector<char>(text.begin(), text.end()), MultiplexPotentiator::kMaxAdded,
                  MultiplexPotentiator::warnOn(err, path, &warnings));
        return warnings ? kWarnings : kOk;
    }

    // Reads a scale or a mapping as keys would and names, for a scale, each
    // degree keys play as the nearest ratio of terms 1..255, with its error.
    static int checkKeys(const char* path, bool isMap, FILE* err) {
        std::string text, why;
        if (!KeyScale::readFile(path, text, why)) {
            std::fprintf(err, "quorvanel-render: %s\n", why.c_str());
            return kBadInput;
        }
        KeyScale scale;
        KeyScale::Problem p;
        KeyScale::Source source{path, text};
        if (!scale.build(isMap ? KeyScale::Source{} : source, isMap ? source : KeyScale::Source{}, &p)) {
            std::fprintf(err, "quorvanel-render: %s:%d: %s\n", path, p.line, p.what.c_str());
            return kBadInput;
        }
        std::vector<KeyScale::Nearest> nearest = isMap ? std::vector<KeyScale::Nearest>{} : scale.nearestDegrees();
        for (const KeyScale::Nearest& n : nearest) {
            std::string what = n.written + (n.cents ? " cents" : "");
            if (n.plays.sounds())
                std::fprintf(err, "%s:%d: %s is no ratio of whole numbers 1..255: keys play %d/%d, %+.3f cents\n", path,
                             n.line, what.c_str(), n.plays.nume, n.plays.deno, n.error);
            else
                std::fprintf(err, "%s:%d: %s lies outside 1/255..255/1: its keys are silent unless their octaves bring it inside\n", path, n.line,
                             what.c_str());
        }
        return nearest.empty() ? kOk : kWarnings;
    }

    // The WAV stream. For "-" the WAV takes over the real standard output
    // and standard output is pointed at standard error meanwhile: the
    // engine prints its own lines there (the path of every save), and they
    // must not land in the middle of the samples.
    struct Output {
        FILE* file = nullptr;
        int savedStdout = -1;

        bool open(const char* path) {
            if (std::strcmp(path, "-") != 0) {
                file = std::fopen(path, "wb");
                return file != nullptr;
            }
            std::fflush(stdout);
            savedStdout = dup(STDOUT_FILENO);
            int wavFd = dup(STDOUT_FILENO);
            if (savedStdout < 0 || wavFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return false;
            file = fdopen(wavFd, "wb");
            return file != nullptr;
        }

        bool close() {
            bool ok = std::fclose(file) == 0;
            if (savedStdout >= 0) {
                std::fflush(stdout);
                dup2(savedStdout, STDOUT_FILENO);
                ::close(savedStdout);
            }
            return ok;
        }
    };

    // A frame number: decimal digits only, at most the last frame a script
    // can hold.
    static bool frameNumber(const char* text, long long& out) {
        if (!*text) return false;
        long long v = 0;
        for (const char* c = text; *c; c++) {
            if (*c < '0' || *c > '9') return false;
            v = v * 10 + (*c - '0');
            if (v > EventScript::kMaxFrame) return false;
        }
        out = v;
        return true;
    }

    static void usage(FILE* err) {
        std::fprintf(err,
                     "usage: quorvanel-render [-p PATCH] [-n SECONDS] [--saves DIR] [--picture FRAME FILE.png]\n"
                     "                        [--pitch HZ] [--midi-out FILE.mid [--tuning-out mpe|mts]]\n"
                     "                        [--scala FILE.scl] [--keys] [--keys-scale FILE.scl]\n"
                     "                        [--keys-map FILE.kbm] SCRIPT OUT.wav\n"
                     "       quorvanel-render --check PATCH|FILE.scl|FILE.kbm\n"
                     "  renders SCRIPT (lines: FRAME report B0..B7 | FRAME pad NAME VALUE | FRAME key K |\n"
                     "  FRAME save PATH | FRAME click X Y | FRAME expose | FRAME size W H |\n"
                     "  FRAME midi B1 [B2 [B3]] (hexadecimal); a recording\n"
                     "  also carries its bank) into a 22050 Hz stereo 16-bit WAV; OUT - writes to\n"
                     "  standard output;\n"
                     "  SECONDS defaults to the last event plus one second; the script's saves\n"
                     "  write nothing unless --saves DIR names a folder for them (DIR/NAME);\n"
                     "  no output may be SCRIPT, PATCH or another output; --picture writes the\n"
                     "  window's picture after the last repaint at or before FRAME; --pitch HZ:\n"
                     "  1/1 sounds at HZ\n"
                     "  (31.25..12000, default 689.0625): the header's rate is 32 x HZ, rounded,\n"
                     "  and everything runs faster or slower with it, as a tape does; SECONDS\n"
                     "  and frames still count 22050 a second. --check PATCH prints what loading\n"
                     "  PATCH would change or could not read: status 0 none, 1 some, 2 no patch;\n"
                     "  of a scale it names the degrees keys play as the nearest ratio of whole\n"
                     "  numbers 1..255. --keys: the script's MIDI notes play notes, tuned to the\n"
                     "  12-note 5-limit scale with 1/1 on key 60, or to --keys-scale FILE.scl\n"
                     "  through --keys-map FILE.kbm (either implies --keys; the map's reference\n"
                     "  frequency sets the pitch of 1/1 unless --pitch does).\n"
                     "  --version: the version\n"
                     "%s",
                     TuningFiles::usage());
    }

    static int complain(FILE* err, const std::string& what) {
        std::fprintf(err, "quorvanel-render: %s\n", what.c_str());
        usage(err);
        return kBadInput;
    }
};
