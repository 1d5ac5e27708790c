// libFuzzer target for the patch loader. Each input is loaded into a fresh
// bank as the program loads a patch, its warnings made and dropped; the
// bank is saved, the save is loaded into a second bank and saved again,
// and the two saves must be equal and the second load change nothing (a
// save is a fixed point of loading).
// Then both banks play a few periods driven by controller reports and keys
// taken from the input, so values read from the file reach the sound path.
// Built by `make fuzz` (clang, -fsanitize=fuzzer,address,undefined); any
// sanitizer finding or a differing save stops the run with the input kept.
#include "engine/MultiplexPotentiator.h"
#include "lattice/PerspexStabile.h"

#include "FuzzFolder.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

PerspexStabile* stabile = nullptr;
std::string folder;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string saveOf(MultiplexPotentiator& bank, const char* name) {
    std::string path = folder + "/" + name;
    bank.textorium_trigger(path.data());
    return slurp(path);
}

// A few periods with reports and keys drawn from the input's own bytes.
void play(MultiplexPotentiator& bank, const uint8_t* data, size_t size) {
    static char token;
    ChubDevice* handle = reinterpret_cast<ChubDevice*>(&token);
    for (int period = 0; period < 4; period++) {
        signed char report[8];
        for (int i = 0; i < 8; i++)
            report[i] = static_cast<signed char>(size ? data[(period * 8 + i) % size] : 0);
        bank.chubness(handle, _CHUBREPORT{report, 8});
        if (size) bank.charactros(data[(period * 13 + 5) % size]);
        for (int f = 0; f < 256; f++) bank.gingness(f, 256);
        bank.beging();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = makeFuzzFolder("quorvanel-fuzz");
    atexit([] {
        for (const char* n : {"/first.texte", "/second.texte"}) unlink((folder + n).c_str());
        rmdir(folder.c_str());
    });
    stabile = new PerspexStabile();
    // Every save prints its path; the fuzzer's own report goes to stderr.
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The warnings are made (their words go through the formatting) and
    // dropped; a saved patch must load back without any but those about
    // values kept as written that act as others (a bitshift of 40).
    size_t said = 0;
    auto count = [&said](int, const std::string& text) { said += text.find(" acts as ") == std::string::npos; };
    MultiplexPotentiator first(stabile);
    first.load(std::vector<char>(data, data + size), MultiplexPotentiator::kMaxAdded, count);
    std::string saved = saveOf(first, "first.texte");

    said = 0;
    MultiplexPotentiator second(stabile);
    second.load(std::vector<char>(saved.begin(), saved.end()), MultiplexPotentiator::kMaxAdded, count);
    std::string again = saveOf(second, "second.texte");
    if (again != saved || said) {
        fprintf(stderr, "patch_fuzz: a saved patch does not load back the same, or not silently\n--- first\n%s--- second\n%s",
                saved.c_str(), again.c_str());
        abort();
    }

    play(first, data, size);
    play(second, data, size);
    return 0;
}
