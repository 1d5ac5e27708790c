// The program's command line:
//   quorvanel [--record FILE] [--play SCRIPT] [--saves DIR] [--latency MS] [--midi SOURCE]
//             [--pitch HZ] [--tuning-out mpe|mts] [--keys] [--keys-scale FILE.scl]
//             [--keys-map FILE.kbm] [--device PCM | --jack [--no-connect]] [PATCH]
// With no options it is the instrument as always, with at most one patch
// file: a second is a usage error, not silently ignored. `--` ends the
// options, so a patch whose name starts with '-' can still be named. Read
// with getopt_long.
#pragma once

#include "engine/KeyOptions.h"
#include "engine/PitchOfOne.h"
#include "engine/TunedNotes.h"

#include <getopt.h>

#include <cstdio>
#include <string_view>

class ProgramOptions {
public:
    const char* patch = nullptr;    // loaded into the current bank at start
    const char* record = nullptr;   // --record: the performance's script is written here
    const char* play = nullptr;     // --play: a script played along with the player
    const char* latency = nullptr;  // --latency: milliseconds of sound buffer, as given
    const char* midi = nullptr;     // --midi: a MIDI source connected at start
    const char* saves = nullptr;    // --saves: the folder the played script's saves go to
    double pitch = PitchOfOne::kDefault;  // --pitch: Hz of 1/1; the sound device runs at its rate
    bool pitchGiven = false;              // --pitch was given (a keyboard map's frequency then does not count)
    KeyOptions keys;                      // --keys, --keys-scale, --keys-map: MIDI's notes play notes
    TunedNotes::Way tuningOut = TunedNotes::Way::Mpe;  // --tuning-out: how the port "tuned out" tunes
    const char* device = nullptr;   // --device: the ALSA PCM played to instead of "default"
    bool jack = false;              // --jack: a JACK client instead of an ALSA device
    bool connect = true;            // false with --no-connect: the JACK outputs are left unconnected

    static constexpr int kGoOn = -1;

    // Reads argv. Returns kGoOn when the program should start, or the exit
    // status when it should stop: 0 after --help (the usage on `out`) or
    // --version, 2 after a usage error (the usage on `err`).
    int parse(int argc, char** argv, FILE* out = stdout, FILE* err = stderr) {
        static const option longOptions[] = {
            {"record", required_argument, nullptr, 'r'},
            {"play", required_argument, nullptr, 'p'},
            {"latency", required_argument, nullptr, 'l'},
            {"midi", required_argument, nullptr, 'm'},
            {"saves", required_argument, nullptr, 's'},
            {"pitch", required_argument, nullptr, 'f'},
            {"tuning-out", required_argument, nullptr, 't'},
            {"keys", no_argument, nullptr, 'k'},
            {"keys-scale", required_argument, nullptr, 'S'},
            {"keys-map", required_argument, nullptr, 'M'},
            {"device", required_argument, nullptr, 'd'},
            {"jack", no_argument, nullptr, 'j'},
            {"no-connect", no_argument, nullptr, 'n'},
            {"help", no_argument, nullptr, 'h'},
            {"version", no_argument, nullptr, 'V'},
            {nullptr, 0, nullptr, 0},
        };
        // getopt keeps its place in globals; start afresh (tests parse many
        // command lines in one process). The leading ':' keeps getopt quiet:
        // the messages below say what was wrong. '+': options come first.
        optind = 0;
        int c;
        while ((c = getopt_long(argc, argv, "+:h", longOptions, nullptr)) != -1) {
            switch (c) {
            case 'r': record = optarg; break;
            case 'p': play = optarg; break;
            case 'l': latency = optarg; break;
            case 'm': midi = optarg; break;
            case 's': saves = optarg; break;
            case 'f':
                if (!PitchOfOne::parse(optarg, pitch)) {
                    std::fprintf(err, "quorvanel: --pitch %s: not a frequency of 31.25..12000 Hz\n", optarg);
                    usage(err);
                    return 2;
                }
                pitchGiven = true;
                break;
            case 'k': keys.keys = true; break;
            case 'S': keys.scalePath = optarg; break;
            case 'M': keys.mapPath = optarg; break;
            case 't':
                if (TunedNotes::wayNamed(optarg, tuningOut)) break;
                std::fprintf(err, "quorvanel: --tuning-out %s: not mpe or mts\n", optarg);
                usage(err);
                return 2;
            case 'd': device = optarg; break;
            case 'j': jack = true; break;
            case 'n': connect = false; break;
            case 'h':
                usage(out);
                return 0;
            case 'V':
                std::fprintf(out, "quorvanel %s\n", QUORVANEL_VERSION);
                return 0;
            case ':':
                std::fprintf(err, "quorvanel: option %s needs a value\n", argv[optind - 1]);
                usage(err);
                return 2;
            default:
                if (optopt) std::fprintf(err, "quorvanel: unknown option -%c\n", optopt);
                else std::fprintf(err, "quorvanel: unknown option %s\n", argv[optind - 1]);
                usage(err);
                return 2;
            }
        }
        if (jack && device) {
            std::fprintf(err, "quorvanel: --device names an ALSA device; with --jack the JACK server plays\n");
            usage(err);
            return 2;
        }
        if (!connect && !jack) {
            std::fprintf(err, "quorvanel: --no-connect goes with --jack\n");
            usage(err);
            return 2;
        }
        // Options stop at the first operand or at "--": an option word after
        // the patch is a mistake, not a second patch to ignore.
        bool ended = optind > 0 && optind <= argc && std::string_view(argv[optind - 1]) == "--";
        if (optind < argc) {
            patch = argv[optind];
            if (!ended && patch[0] == '-' && patch[1] != '\0') {
                std::fprintf(err, "quorvanel: unknown option %s\n", patch);
                usage(err);
                return 2;
            }
            for (int i = optind + 1; !ended && i < argc; i++)
                if (argv[i][0] == '-' && argv[i][1] != '\0') {
                    std::fprintf(err, "quorvanel: options go before the patch: %s\n", argv[i]);
                    usage(err);
                    return 2;
                }
            if (optind + 1 < argc) {
                std::fprintf(err, "quorvanel: one patch at most, found a second: %s\n", argv[optind + 1]);
                usage(err);
                return 2;
            }
        }
        return kGoOn;
    }

    static void usage(FILE* f) {
        std::fputs(
            "usage: quorvanel [--record FILE] [--play SCRIPT] [--saves DIR] [--latency MS]\n"
            "                 [--midi SOURCE] [--pitch HZ] [--tuning-out mpe|mts] [--keys]\n"
            "                 [--keys-scale FILE.scl] [--keys-map FILE.kbm]\n"
            "                 [--device PCM | --jack [--no-connect]] [PATCH]\n"
            "  PATCH           a patch file loaded into the current bank at start\n"
            "  --record FILE   write every input of the performance to FILE as an event\n"
            "                  script; quorvanel-render FILE OUT.wav makes the very sound\n"
            "                  the sound card received. FILE must not exist yet\n"
            "  --play SCRIPT   play the script's events at their frames while you play\n"
            "  --saves DIR     write the played script's saves into DIR (a save of\n"
            "                  .../NAME to DIR/NAME); without it they write nothing\n"
            "  --latency MS    keep MS milliseconds of sound buffered, 23..371 (default 46):\n"
            "                  less delay between a move and its sound, more risk of\n"
            "                  underruns (clicks) on a busy machine\n"
            "  --midi SOURCE   connect the MIDI source (CLIENT:PORT, or part of a port's\n"
            "                  name, as aconnect -l lists them) to the port\n"
            "                  \"quorvanel:midi in\" at start; sources can be connected\n"
            "                  there at any time with aconnect or a patchbay\n"
            "  --pitch HZ      the frequency of 1/1, 31.25..12000 (default 689.0625):\n"
            "                  the sound device plays at 32 x HZ frames a second, so\n"
            "                  everything runs faster or slower with it, as a tape does\n"
            "  --tuning-out WAY how the port \"quorvanel:tuned out\" tunes the voices that\n"
            "                  sound as MIDI notes for other synths: mpe (a channel and\n"
            "                  pitch bend per voice, the default) or mts (tuned keys on\n"
            "                  channel 1)\n"
            "  --keys          MIDI's notes play notes: each key takes a voice and sounds\n"
            "                  its ratio, of the 12-note 5-limit scale with 1/1 on key 60\n"
            "  --keys-scale FILE.scl  the keys' ratios from a Scala scale instead\n"
            "  --keys-map FILE.kbm    and their keys from a Scala keyboard mapping, whose\n"
            "                  reference frequency sets the pitch of 1/1 unless --pitch\n"
            "                  does (either file implies --keys)\n"
            "  --device PCM    play to the ALSA device PCM (hw:1, plughw:1,0, a name from\n"
            "                  ~/.asoundrc) instead of \"default\"\n"
            "  --jack          play as the JACK client \"quorvanel\": outputs left and\n"
            "                  right, connected to the first two playback ports, and\n"
            "                  the MIDI ports \"midi in\" and \"tuned out\"; --midi then\n"
            "                  names a JACK MIDI port, and --latency is the time the\n"
            "                  program may be late by, on top of a server's period\n"
            "  --no-connect    with --jack: leave the outputs unconnected\n"
            "  -h, --help      this text\n"
            "  --version       the version\n"
            "  --              ends the options (for a patch whose name starts with '-')\n",
            f);
    }
};
