// The core on its own, as a plugin or another host embeds it: this program
// links the core library alone (no window system, sound card, USB or game
// controller library), renders scripts through the input gate, runs four
// engines on four threads at once, and counts every allocation while they
// play. Started as `test_alone --render-alone SEED`, it renders the script
// of SEED alone and writes the bytes to standard output, so a test can
// compare with an engine that had a fresh process to itself.
#include <gtest/gtest.h>

#include "engine/InputGate.h"
#include "engine/LaceyBanks.h"
#include "engine/Samples.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

// Every allocation of the program, counted while `counting` is set on the
// thread that allocates. The replacements hand memory to and from malloc
// and free themselves, which the compiler cannot see pairs up.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> allocations{0};
thread_local bool counting = false;
}  // namespace

void* operator new(std::size_t n) {
    if (counting) allocations++;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, std::align_val_t a) {
    if (counting) allocations++;
    std::size_t al = static_cast<std::size_t>(a);
    if (void* p = std::aligned_alloc(al, (n + al - 1) / al * al)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__)
// malloc itself too, where no sanitizer owns it.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* malloc(std::size_t n) {
    if (counting) allocations++;
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t n, std::size_t m) {
    if (counting) allocations++;
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, std::size_t n) {
    if (counting) allocations++;
    return __libc_realloc(p, n);
}
#endif

namespace {

constexpr int kUnits = 3000;  // about 35 seconds
constexpr int kUnit = InputGate::kUnit;

// A performance of every kind of input that reaches the engine while it
// plays (saves and patch loads are file work, not play): reports, every
// key that changes the banks or a situation (Return, BackSpace, Space, '/',
// digits, the letter rows), clicks where the marks lie, exposes and window
// sizes, MIDI messages, at random frames, several per unit at times.
std::vector<EventScript::Event> performance(unsigned seed) {
    std::mt19937 rng(seed);
    static const char keys[] = "\r\r\r\b \x20/0123456789qazx[']wertyuiopsdfghjkl;xcvbnm,.";
    std::vector<EventScript::Event> events;
    long long frame = 0;
    while (frame < static_cast<long long>(kUnits) * kUnit) {
        frame += rng() % 700;
        EventScript::Event e;
        e.frame = frame;
        switch (rng() % 11) {
        case 0:
        case 1:
        case 2:
        case 3:
            e.kind = EventScript::Kind::Report;
            for (int k = 0; k < 8; k++) e.bytes[k] = static_cast<signed char>(rng());
            e.bytes[7] &= 0x55;
            break;
        case 4:
        case 5:
            e.kind = EventScript::Kind::Key;
            e.key = static_cast<unsigned char>(keys[rng() % (sizeof keys - 1)]);
            break;
        case 6:
        case 7:
            e.kind = EventScript::Kind::Click;
            e.x = static_cast<int>(rng() % 520);
            e.y = static_cast<int>(rng() % 520);
            break;
        case 8:
            e.kind = EventScript::Kind::Repaint;
            break;
        case 10: {  // MIDI: voice notes, key notes, controllers, bends, programs
            static const unsigned char status[] = {0x90, 0x80, 0xb0, 0xe0, 0xc0};
            e.kind = EventScript::Kind::Midi;
            e.midi[0] = static_cast<unsigned char>(status[rng() % 5] | (rng() % 16));
            e.midi[1] = static_cast<unsigned char>(36 + rng() % 56);
            e.midi[2] = static_cast<unsigned char>(rng() % 128);
            if ((e.midi[0] & 0xf0) == 0xb0) e.midi[1] = static_cast<unsigned char>(1 + (rng() % 2) * (15 + rng() % 4));
            e.midiLength = MidiMap::length(e.midi[0]);
            break;
        }
        default:
            e.kind = EventScript::Kind::Size;
            e.x = 200 + static_cast<int>(rng() % 400);
            e.y = 200 + static_cast<int>(rng() % 400);
            break;
        }
        events.push_back(e);
    }
    return events;
}

// Plays `events` into a fresh engine for kUnits units, as the live fill loop
// and the renderer do, and returns the 16-bit bytes; the engine's own bank
// copies are made now and then too. Allocations on this thread are counted
// from the first unit to the last.
std::vector<unsigned char> play(unsigned seed, bool count) {
    std::vector<EventScript::Event> events = performance(seed);
    std::vector<unsigned char> out(static_cast<size_t>(kUnits) * kUnit * 4);
    auto engine = std::make_unique<LaceyBanks>();
    InputGate::Unseen window;
    InputGate gate(engine.get(), &window);
    gate.play(&events);
    counting = count;
    for (int u = 0; u < kUnits; u++) {
        gate.beforeUnit();
        if (u % 500 == 250) engine->dupe_multiplex();
        if (u % 700 == 350) engine->dupe_chubbery();
        for (int f = 0; f < kUnit; f++)
            pcm_convert_frame(engine->gingness(f, kUnit), &out[(static_cast<size_t>(u) * kUnit + f) * 4]);
        engine->beging();
        gate.afterUnit();
    }
    counting = false;
    gate.play(nullptr);
    return out;
}

// The bytes of `seed` rendered by this program in a process of its own.
std::vector<unsigned char> playAlone(unsigned seed) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';
    std::string cmd = std::string("'") + self + "' --render-alone " + std::to_string(seed);
    FILE* p = popen(cmd.c_str(), "r");
    std::vector<unsigned char> out(static_cast<size_t>(kUnits) * kUnit * 4);
    size_t got = p ? std::fread(out.data(), 1, out.size(), p) : 0;
    if (p) pclose(p);
    out.resize(got);
    return out;
}

TEST(CoreAlone, FourEnginesOnFourThreadsEachSoundAsAlone) {
    const unsigned seeds[4] = {11, 22, 33, 44};
    std::vector<unsigned char> together[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++) threads.emplace_back([&, i] { together[i] = play(seeds[i], false); });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 4; i++) {
        std::vector<unsigned char> alone = playAlone(seeds[i]);
        ASSERT_EQ(alone.size(), together[i].size()) << "seed " << seeds[i];
        EXPECT_TRUE(alone == together[i]) << "seed " << seeds[i];
    }
    // The performances differ, so equal bytes are no accident of silence.
    EXPECT_NE(together[0], together[1]);
}

TEST(CoreAlone, NothingIsAllocatedWhileEveryKindOfInputPlays) {
    allocations = 0;
    std::vector<unsigned char> bytes = play(5, true);
    EXPECT_EQ(allocations.load(), 0);
    // The counter counts: the same loop's set-up allocates.
    counting = true;
    auto engine = std::make_unique<LaceyBanks>();
    counting = false;
    EXPECT_GT(allocations.load(), 0);
}

// The program links nothing of a window system, a sound card or a
// controller library.
TEST(CoreAlone, LinksNoHostLibrary) {
    FILE* p = popen("readelf -d /proc/self/exe", "r");
    ASSERT_NE(p, nullptr);
    std::string needed;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        if (std::strstr(line, "NEEDED")) needed += line;
    pclose(p);
    EXPECT_NE(needed.find("libc.so"), std::string::npos) << needed;
    for (const char* lib : {"libX11", "libasound", "libusb", "libSDL2"})
        EXPECT_EQ(needed.find(lib), std::string::npos) << lib;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--render-alone") == 0) {
        std::vector<unsigned char> bytes = play(static_cast<unsigned>(std::atoi(argv[2])), false);
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
