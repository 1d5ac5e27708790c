// libFuzzer target for the patch loader. Each input is written to a file
// and loaded into a fresh bank exactly as the program loads a patch; the
// bank is saved, the save is loaded into a second bank and saved again,
// and the two saves must be equal (a save is a fixed point of loading).
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
        for (const char* n : {"/input.texte", "/first.texte", "/second.texte"}) unlink((folder + n).c_str());
        rmdir(folder.c_str());
    });
    stabile = new PerspexStabile();
    // Every save prints its path; the fuzzer's own report goes to stderr.
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input = folder + "/input.texte";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    MultiplexPotentiator first(stabile);
    first.textorium_script(input.data());
    std::string saved = saveOf(first, "first.texte");

    MultiplexPotentiator second(stabile);
    std::string firstPath = folder + "/first.texte";
    second.textorium_script(firstPath.data());
    std::string again = saveOf(second, "second.texte");
    if (again != saved) {
        fprintf(stderr, "patch_fuzz: a saved patch does not load back the same\n--- first\n%s--- second\n%s",
                saved.c_str(), again.c_str());
        abort();
    }

    play(first, data, size);
    play(second, data, size);
    return 0;
}
