// Hosts' messages at the edges of what VST3 and CLAP allow, through the
// plugins' own code: parameter ids past every parameter, values beyond
// 0..1, infinite or not a number, CLAP events shorter than their type
// (each in an allocation of exactly its length, so that a read past it is
// a sanitizer's finding), and states naming a device or a FIFO as their
// bank file. Each row also says what the plugin made of the message.
#include <gtest/gtest.h>

#include "plugin/Allocations.h"
#include "plugin/ClapHost.h"
#include "plugin/Play.h"
#include "plugin/Vst3Play.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
constexpr uint32_t kProgram = 1000, kCc1 = 2000, kBend = 2007;  // the VST3 plugin's ids: channel 1's CC 1 and bend
constexpr double kAxisStart = 128 / 255.0;                      // axis 0 at 0, of -128..127

// A CLAP event of `type` for axis 0 (a parameter value) or key 60, cut to `size` bytes.
std::vector<uint8_t> clapEvent(uint16_t type, double value, uint32_t size) {
    union {
        clap_event_header_t header;
        clap_event_param_value_t param;
        clap_event_note_t note;
        clap_event_midi_t midi;
    } e{};
    e.param = {{}, 0, nullptr, -1, -1, -1, -1, value};
    if (type != CLAP_EVENT_PARAM_VALUE) e.note = {{}, -1, 0, 0, 60, 1.0};
    if (type == CLAP_EVENT_MIDI) e.midi = {{}, 0, {0x90, 60, 100}};
    uint32_t full = type == CLAP_EVENT_PARAM_VALUE ? sizeof e.param : type == CLAP_EVENT_MIDI ? sizeof e.midi : sizeof e.note;
    e.header = {size ? size : full, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
    const auto* bytes = reinterpret_cast<const uint8_t*>(&e);
    return std::vector<uint8_t>(bytes, bytes + e.header.size);
}

TEST(HostMessages, EachIsHeldToWhatItMayMeanOrSkipped) {
    enum class Via { Vst3Set, Vst3Block, ClapBlock, ClapFlush };
    struct Case {
        const char* name;
        Via via;
        uint32_t what;      // VST3: the parameter id; CLAP: the event's type
        double value;       // VST3: normalised; CLAP: axis 0's plain value
        uint32_t size;      // CLAP: the event's bytes (0: its type's whole size)
        double after;       // VST3: `what`'s normalised value after it; CLAP: axis 0's
        const char* shown;  // VST3: the text `value` shows as ("": refused)
    } cases[] = {
        {"id 0xFFFFFFFF", Via::Vst3Set, 0xFFFFFFFF, 0.5, 0, 0, ""},
        {"id 0xFFFFFFFF in a block", Via::Vst3Block, 0xFFFFFFFF, 0.5, 0, 0, ""},
        {"id 0x800007D0, the first whose place came out below 0", Via::Vst3Block, 0x800007D0, 0.5, 0, 0, ""},
        {"the id after the last MIDI parameter", Via::Vst3Set, kCc1 + 16 * 10, 0.5, 0, 0, ""},
        {"channel 16's sustain pedal at 2.0 in a block: 127", Via::Vst3Block, kCc1 + 16 * 10 - 1, 2.0, 0, 1, "127"},
        {"keys at 0.4: off", Via::Vst3Set, 6, 0.4, 0, 0, "0"},
        {"keys not a number: ignored, on", Via::Vst3Block, 6, kNaN, 0, 1, ""},
        {"the program at 2.0: the last preset", Via::Vst3Set, kProgram, 2.0, 0, 1, "wander"},
        {"the program at -inf: the first", Via::Vst3Set, kProgram, -kInf, 0, 0, "demo"},
        {"the program not a number: ignored", Via::Vst3Set, kProgram, kNaN, 0, 0, ""},
        {"CC 1 at 2.0 in a block: 127, not FE", Via::Vst3Block, kCc1, 2.0, 0, 1, "127"},
        {"CC 1 not a number in a block", Via::Vst3Block, kCc1, kNaN, 0, 0, ""},
        {"the bend at -inf in a block", Via::Vst3Block, kBend, -kInf, 0, 0, "0"},
        {"axis 0 not a number in a block", Via::Vst3Block, 0, kNaN, 0, kAxisStart, ""},
        {"axis 0 at +inf", Via::Vst3Set, 0, kInf, 0, 1, "127"},
        {"a whole parameter value", Via::ClapBlock, CLAP_EVENT_PARAM_VALUE, 100, 0, 100, nullptr},
        {"a parameter value a byte short", Via::ClapBlock, CLAP_EVENT_PARAM_VALUE, 100, sizeof(clap_event_param_value_t) - 1, 0, nullptr},
        {"a parameter value of its header alone", Via::ClapBlock, CLAP_EVENT_PARAM_VALUE, 100, sizeof(clap_event_header_t), 0, nullptr},
        {"half a header", Via::ClapBlock, CLAP_EVENT_PARAM_VALUE, 100, 8, 0, nullptr},
        {"a parameter value not a number", Via::ClapBlock, CLAP_EVENT_PARAM_VALUE, kNaN, 0, 0, nullptr},
        {"a note on a byte short", Via::ClapBlock, CLAP_EVENT_NOTE_ON, 0, sizeof(clap_event_note_t) - 1, 0, nullptr},
        {"a MIDI event without its bytes", Via::ClapBlock, CLAP_EVENT_MIDI, 0, sizeof(clap_event_header_t) + 2, 0, nullptr},
        {"a whole parameter value, flushed", Via::ClapFlush, CLAP_EVENT_PARAM_VALUE, 100, 0, 100, nullptr},
        {"a parameter value a byte short, flushed", Via::ClapFlush, CLAP_EVENT_PARAM_VALUE, 100, sizeof(clap_event_param_value_t) - 1, 0, nullptr},
    };
    for (const Case& c : cases) {
        if (c.via == Via::ClapBlock || c.via == Via::ClapFlush) {
            claphost::Instance clap(48000);
            ASSERT_TRUE(clap.ok());
            clap.send(c.via == Via::ClapBlock ? 512 : 0, {clapEvent(static_cast<uint16_t>(c.what), c.value, c.size)});
            EXPECT_EQ(clap.value(0), c.after) << c.name;
            continue;
        }
        vst3host::Instance vst3(vst3play::factory(), 48000);
        ASSERT_TRUE(vst3.ok());
        if (c.via == Via::Vst3Set) EXPECT_EQ(vst3.set(c.what, c.value), *c.shown ? V3_OK : V3_INVALID_ARG) << c.name;
        else vst3.process(512, {{c.what, 100, c.value}});
        EXPECT_DOUBLE_EQ(vst3.normal(c.what), c.after) << c.name;
        EXPECT_EQ(vst3.text(c.what, c.value), c.shown) << c.name;
    }
}

// A state that names as its bank file what is no regular file is refused
// at once, by either plugin, and the instrument keeps what it had.
TEST(HostMessages, AStatesBankFileIsReadOnlyWhenARegularFile) {
    char dir[] = "/tmp/quorvanel-fifo-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string fifo = std::string(dir) + "/bank.texte";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& bank : {std::string("/dev/zero"), fifo, std::string(dir)}) {
        std::string state = std::string("\0bank ", 6) + bank + "\n";
        claphost::Instance clap(48000);
        vst3host::Instance vst3(vst3play::factory(), 48000);
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(clap.load(state)) << bank;
        EXPECT_FALSE(vst3.load(state)) << bank;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5) << bank;
        std::string saved = vst3.save();
        EXPECT_EQ(saved.find("bank ", std::strlen(saved.c_str())), std::string::npos) << bank;
    }
    unlink(fifo.c_str());
    rmdir(dir);
}

// 300 program changes with no window open: what each replaced (about 680
// KB of banks) is destroyed at the next change, not kept.
TEST(HostMessages, ProgramChangesWithoutAWindowKeepNoRetiredBanks) {
    if (!kCounts) GTEST_SKIP() << "AddressSanitizer's allocator is not counted";
    vst3host::Instance vst3(vst3play::factory(), 48000);
    vst3.process(512, {});
    size_t before = mallinfo2().uordblks;
    for (int k = 1; k <= 300; k++) {
        ASSERT_EQ(vst3.set(kProgram, (k % 4) / 3.0), V3_OK);
        vst3.process(512, {});
        vst3.process(512, {});
    }
    double grown = (static_cast<double>(mallinfo2().uordblks) - static_cast<double>(before)) / (1 << 20);
    std::printf("300 program changes: %.2f MB more in use\n", grown);
    EXPECT_LT(grown, 20);
}

}  // namespace
