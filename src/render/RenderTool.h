// The command line of quorvanel-render:
//   quorvanel-render [-p PATCH] [-n SECONDS] [--saves DIR] [--picture FRAME FILE.png]
//                    [--midi-out FILE.mid [--tuning-out mpe|mts]] [--scala FILE.scl] SCRIPT OUT.wav
// Builds one engine with no window, loads PATCH into its current bank as the
// program does at start, and renders the event script into a WAV file
// (OUT "-" is standard output). The script's saves write nothing unless
// --saves names a folder for them. --picture also writes the window's
// picture after the last repaint at or before FRAME; the tuning options
// (TuningFiles) write tuned notes and the bank's scale. Exit status: 0 done;
// 2 bad command line, unreadable patch or script, a malformed script line,
// or an OUT that is the script or the patch (nothing is rendered then); 1
// when the output cannot be written.
#pragma once

#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/OfflineRenderer.h"
#include "engine/InputGate.h"
#include "engine/WavWriter.h"
#include "render/PictureWindow.h"
#include "render/PngWriter.h"
#include "render/TuningFiles.h"
#include "hostkit/SameFile.h"
#include "standalone/pad.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

class RenderTool {
public:
    using EngineFactory = AbstractChubEngine* (*)();
    // Destroys what the factory made, through its own type: the interface
    // has no virtual destructor, so the tool cannot delete it itself.
    using EngineRelease = void (*)(AbstractChubEngine*);

    static constexpr int kOk = 0;
    static constexpr int kOutputFailed = 1;
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
        std::vector<const char*> operands;
        TuningFiles tuning;
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
            } else if (TuningFiles::takes(a)) {
                if (i + 1 >= argc) return complain(err, a + " needs a value");
                tuning.set(a, argv[++i]);
            } else if (a == "--picture" && i + 2 < argc) {
                pictureFrame = argv[++i];
                picturePath = argv[++i];
            } else if (a == "--picture") {
                return complain(err, "--picture needs a FRAME and a FILE");
            } else if (a == "--") {
                for (i++; i < argc; i++) operands.push_back(argv[i]);
            } else if (a.size() > 1 && a[0] == '-') {
                return complain(err, "unknown option " + a);
            } else {
                operands.push_back(argv[i]);
            }
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
        for (const char* input : {scriptPath, patch})
            if (same_file(outPath, input))
                return complain(err, std::string(outPath) + " is " + (input == patch ? "the patch" : "the script") +
                                         ": it would be written over");
        std::string tuningProblem = tuning.problem(outPath, scriptPath, patch);
        if (!tuningProblem.empty()) return complain(err, tuningProblem);
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
        // into the machine; without pad lines SDL is not even started.
        std::optional<PadControllers> pads;
        for (const EventScript::Event& e : script.events)
            if (e.kind == EventScript::Kind::Pad && !pads) pads.emplace(false);
        InputGate gate(engine, window, pads ? &*pads : nullptr);
        if (picture) picture->watch(&gate);
        if (!tuning.attach(engine, gate)) {
            out.close();
            if (release) release(engine);
            return complain(err, "this engine has no voices to tune");
        }
        gate.savesTo(saves);
        if (!gate.loadAtStart(patch, script, scriptPath, "quorvanel-render", err)) {
            out.close();
            if (release) release(engine);
            return kOutputFailed;
        }
        WavWriter wav(out.file, total);
        size_t undelivered = 0;
        bool ok = OfflineRenderer::render(gate, *engine, script.events, total, wav,
                                          total > OfflineRenderer::kProgressFrames ? err : nullptr, &undelivered);
        ok = out.close() && ok;
        ok = ok && tuning.write(total, err);
        if (release) release(engine);
        if (undelivered)
            std::fprintf(err, "quorvanel-render: %zu event(s) after the end of the render were not delivered\n",
                         undelivered);
        if (ok && picture && !PngWriter::write(picturePath, picture->picture())) {
            std::fprintf(err, "quorvanel-render: cannot write the picture %s\n", picturePath);
            return kOutputFailed;
        }
        if (!ok) {
            std::fprintf(err, "quorvanel-render: writing %s failed\n", outPath);
            return kOutputFailed;
        }
        return kOk;
    }

private:
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
                     "                        [--midi-out FILE.mid [--tuning-out mpe|mts]] [--scala FILE.scl]\n"
                     "                        SCRIPT OUT.wav\n"
                     "  renders SCRIPT (lines: FRAME report B0..B7 | FRAME pad NAME VALUE | FRAME key K |\n"
                     "  FRAME save PATH | FRAME click X Y | FRAME expose | FRAME size W H |\n"
                     "  FRAME midi B1 [B2 [B3]] (hexadecimal); a recording\n"
                     "  also carries its bank) into a 22050 Hz stereo 16-bit WAV; OUT - writes to\n"
                     "  standard output;\n"
                     "  SECONDS defaults to the last event plus one second; the script's saves\n"
                     "  write nothing unless --saves DIR names a folder for them (DIR/NAME);\n"
                     "  OUT must not be SCRIPT or PATCH; --picture writes the window's picture\n"
                     "  after the last repaint at or before FRAME. --version: the version\n"
                     "%s",
                     TuningFiles::usage());
    }

    static int complain(FILE* err, const std::string& what) {
        std::fprintf(err, "quorvanel-render: %s\n", what.c_str());
        usage(err);
        return kBadInput;
    }
};
