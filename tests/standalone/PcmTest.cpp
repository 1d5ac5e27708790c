// Audio output: the sample conversion, the fill loop's unit accounting with a
// device of the test's own, and one real pass through ALSA into a capture file.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "standalone/grax.h"
#include "standalone/pcm.h"
#include "RecordingEngine.h"


#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

using hosttest::RecordingEngine;

struct Bytes4 {
    unsigned char b[4];
};

Bytes4 convertPair(int l, int r) {
    Bytes4 out;
    int pair[2] = {l, r};
    pcm_convert_frame(pair, out.b);
    return out;
}

TEST(PcmConvert, WorkedValues) {
    Bytes4 z = convertPair(0, 0);
    EXPECT_EQ(z.b[0], 0x00); EXPECT_EQ(z.b[1], 0x00); EXPECT_EQ(z.b[2], 0x00); EXPECT_EQ(z.b[3], 0x00);
    Bytes4 s = convertPair(16, -16);
    EXPECT_EQ(s.b[0], 0x01); EXPECT_EQ(s.b[1], 0x00); EXPECT_EQ(s.b[2], 0xFF); EXPECT_EQ(s.b[3], 0xFF);
    unsigned char b[2];
    // 16 × 32767: the high byte is held at 126 while the low byte follows.
    pcm_convert(524272, b);
    EXPECT_EQ(b[0], 0xFF); EXPECT_EQ(b[1], 0x7E);
    pcm_convert(2097152, b);
    EXPECT_EQ(b[0], 0x00); EXPECT_EQ(b[1], 0x7E);
    pcm_convert(-2097152, b);
    EXPECT_EQ(b[0], 0x00); EXPECT_EQ(b[1], 0x82);
    // Division by 16 rounds toward minus infinity: -1 is sample -1 (FF FF).
    pcm_convert(-1, b);
    EXPECT_EQ(b[0], 0xFF); EXPECT_EQ(b[1], 0xFF);
    // Far beyond the clip the low byte still follows bits 4..11.
    pcm_convert(INT32_MIN + 0x230, b);
    EXPECT_EQ(b[0], 0x23); EXPECT_EQ(b[1], 0x82);
}

TEST(PcmConvert, FrameIsConvertedInPlace) {
    int pair[2] = {524272, -2097152};
    unsigned char f[4];
    pcm_convert_frame(pair, f);
    EXPECT_EQ(pair[0], 126);
    EXPECT_EQ(pair[1], -126);
}

// A device whose room shrinks by each unit written and that never plays:
// what a real device does between two of its periods.
struct FakeDevice {
    static long room;
    static long writeResult;  // what every write returns; 0 = the unit's length
    static bool fixedRoom;    // room does not shrink (the null plugin)
    static long periodOnWrite;  // frames of room that come while each unit is written
    static int writes, recovers;
    static std::string written;  // bytes of every unit written, in order

    static long write(const unsigned char* unit, unsigned long count) {
        writes++;
        written.append(reinterpret_cast<const char*>(unit), count * 4);
        if (!fixedRoom) room -= static_cast<long>(count);
        room += periodOnWrite;
        return writeResult ? writeResult : static_cast<long>(count);
    }
    static long roomNow() { return room; }
    static void recover() { recovers++; }
    static void reset(long r) {
        room = r; writeResult = 0; fixedRoom = false; periodOnWrite = 0;
        writes = recovers = 0; written.clear();
    }
};
long FakeDevice::room, FakeDevice::writeResult, FakeDevice::periodOnWrite;
bool FakeDevice::fixedRoom;
int FakeDevice::writes, FakeDevice::recovers;
std::string FakeDevice::written;
const PcmSink fakeSink = {FakeDevice::write, FakeDevice::roomNow, FakeDevice::recover};

// A clock that moves on 1 µs each time it is read, so each stamp the fill
// pass takes tells which reading took it.
long long fakeNow = 0;
long long fakeClock() { return fakeNow += 1000; }

class PcmFill : public ::testing::Test {
protected:
    RecordingEngine engine;
    unsigned char unit[1024] = {};
    long long (*savedClock)() = pcm_clock_ns;
    void SetUp() override {
        host_engine(&engine);
        data = unit;
        frames = 256;
        pcm_units_max = 4;
        pcm_write_step = 0;
        pcm_unit_left = 0;
        pcm_underruns = 0;
        pcm_clock_ns = fakeClock;
        fakeNow = 1000000000;
    }
    void TearDown() override {
        data = nullptr;
        pcm_clock_ns = savedClock;
        // Left pending, a later pass through the real device would report
        // them against the real clock.
        pcm_underruns = 0;
        pcm_write_step = 0;
        pcm_unit_left = 0;
    }
    // A pass over a device with no room, so the next pass compares with 0.
    void startEmpty() {
        FakeDevice::reset(0);
        pcm_fill(0, fakeSink);
    }
};

TEST_F(PcmFill, RoomForLessThanAUnitAsksNothing) {
    FakeDevice::reset(200);
    EXPECT_EQ(pcm_fill(200, fakeSink), 0);
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_EQ(FakeDevice::writes, 0);
    EXPECT_EQ(pcm_room, 200);
}

TEST_F(PcmFill, WritesUnitsUntilRoomFallsBelowAUnit) {
    FakeDevice::reset(600);
    EXPECT_EQ(pcm_fill(600, fakeSink), 2);
    EXPECT_EQ(FakeDevice::writes, 2);
    EXPECT_EQ(engine.count("beging"), 2);
    ASSERT_EQ(engine.calls.size(), 2u * 257);
    // Each unit asks frames 0..255 of a period of 256, then ends the period.
    for (int u = 0; u < 2; u++) {
        for (int f = 0; f < 256; f++)
            ASSERT_EQ(engine.calls[u * 257 + f], "ging " + std::to_string(f) + "/256");
        EXPECT_EQ(engine.calls[u * 257 + 256], "beging");
    }
    EXPECT_EQ(pcm_room, 88);
    // The units hold the converted ramp: frame n is sample n left, -n right.
    ASSERT_EQ(FakeDevice::written.size(), 2048u);
    for (int n = 0; n < 512; n++) {
        const unsigned char* f = reinterpret_cast<const unsigned char*>(FakeDevice::written.data()) + 4 * n;
        ASSERT_EQ(f[0] | f[1] << 8, n) << "frame " << n;
        ASSERT_EQ(static_cast<int16_t>(f[2] | f[3] << 8), -n) << "frame " << n;
    }
    EXPECT_EQ(pcm_underruns, 0);
}

TEST_F(PcmFill, DeviceAlwaysReportingRoomIsBoundedToTheBuffer) {
    FakeDevice::reset(1024);
    FakeDevice::fixedRoom = true;
    EXPECT_EQ(pcm_fill(1024, fakeSink), 4);
    EXPECT_EQ(engine.count("beging"), 4);
    EXPECT_EQ(engine.gings, 1024);
}

TEST_F(PcmFill, FailingDeviceLosesEachUnitAndStillEndsThePeriod) {
    // A failed query counts as room; every write fails, is recovered from,
    // and the period still ends for the engine.
    FakeDevice::reset(-EPIPE);
    FakeDevice::writeResult = -EPIPE;
    EXPECT_EQ(pcm_fill(-EPIPE, fakeSink), 4);
    EXPECT_EQ(FakeDevice::writes, 4);
    EXPECT_EQ(FakeDevice::recovers, 4);
    EXPECT_EQ(engine.count("beging"), 4);
    EXPECT_EQ(pcm_underruns, 4);
    EXPECT_EQ(pcmreturn, -EPIPE);
}

// The idle wait counts periods from the moment one was last seen to come:
// a query that finds more room than the one before left after its writes.
TEST_F(PcmFill, AQueryFindingAPeriodComeIsStamped) {
    startEmpty();
    long long before = fakeNow;
    FakeDevice::reset(113);
    pcm_fill(113, fakeSink);  // a period came: stamped
    EXPECT_EQ(pcm_room_grew_ns, before + 1000);
    pcm_fill(113, fakeSink);  // the same room: not again
    EXPECT_EQ(pcm_room_grew_ns, before + 1000);
    // 113 + 226 = 339: stamped at the first query; the unit written leaves
    // 83, which the query after the write finds, so no second stamp.
    FakeDevice::reset(339);
    pcm_fill(339, fakeSink);
    EXPECT_EQ(FakeDevice::writes, 1);
    EXPECT_EQ(pcm_room, 83);
    EXPECT_EQ(pcm_room_grew_ns, before + 2000);
}

TEST_F(PcmFill, APeriodComingDuringAWriteIsStampedAtTheQueryAfterIt) {
    startEmpty();
    long long before = fakeNow;
    FakeDevice::reset(300);
    FakeDevice::periodOnWrite = 113;  // 300 - 256 + 113 = 157 after the write
    EXPECT_EQ(pcm_fill(300, fakeSink), 1);
    EXPECT_EQ(pcm_room, 157);
    EXPECT_EQ(pcm_room_grew_ns, before + 2000);  // the first query, then the second
}

TEST_F(PcmFill, AFailedQueryIsStamped) {
    startEmpty();
    long long before = fakeNow;
    FakeDevice::reset(-EPIPE);
    FakeDevice::writeResult = -EPIPE;
    pcm_units_max = 1;
    pcm_fill(-EPIPE, fakeSink);
    EXPECT_EQ(pcm_room_grew_ns, before + 2000);  // before the write and after it
}

TEST_F(PcmFill, ShortWriteIsNotAFailure) {
    FakeDevice::reset(300);
    FakeDevice::writeResult = 100;
    EXPECT_EQ(pcm_fill(300, fakeSink), 1);
    EXPECT_EQ(FakeDevice::recovers, 0);
    EXPECT_EQ(pcm_underruns, 0);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// In a buffer of two units the loop writes a period at a time (128 frames):
// a unit is made once a step's room has come and written as room comes, so
// the device never holds less than a unit and a half. Each row is one pass:
// the room it finds, the units it makes, the frames of each write, and what
// is left of the unit begun.
TEST_F(PcmFill, AWriteStepShorterThanAUnitTopsTheBufferUp) {
    pcm_write_step = 128;
    struct Pass { long room; int units; std::vector<long> writes; unsigned long left; };
    const Pass passes[] = {
        {127, 0, {}, 0},               // less than a step: nothing made
        {128, 1, {128}, 128},          // a unit made, half of it written
        {100, 0, {100}, 28},           // the rest as room comes, nothing new
        {150, 0, {28}, 0},             // 122 left: less than a step
        {130, 1, {130}, 126},
        {600, 2, {126, 256, 218}, 38}, // the rest, a whole unit, a part
        {0, 0, {}, 38},
    };
    FakeDevice::reset(0);
    long frame = 0;  // the ramp's frames written so far: the units follow on
    for (const Pass& p : passes) {
        SCOPED_TRACE("room " + std::to_string(p.room));
        size_t before = FakeDevice::written.size();
        int writesBefore = FakeDevice::writes;
        FakeDevice::room = p.room;
        EXPECT_EQ(pcm_fill(p.room, fakeSink), p.units);
        EXPECT_EQ(FakeDevice::writes - writesBefore, static_cast<int>(p.writes.size()));
        long total = 0;
        for (long w : p.writes) total += w;
        ASSERT_EQ(FakeDevice::written.size() - before, static_cast<size_t>(total) * 4);
        EXPECT_EQ(pcm_unit_left, p.left);
        for (; frame < static_cast<long>(FakeDevice::written.size() / 4); frame++) {
            const unsigned char* f = reinterpret_cast<const unsigned char*>(FakeDevice::written.data()) + 4 * frame;
            ASSERT_EQ(f[0] | f[1] << 8, frame) << "frame " << frame;
        }
    }
    EXPECT_EQ(engine.count("beging"), 4);
    // The wait is for the rest of the unit begun (38 frames) when that is
    // less than a step, else for a step: either is one period of 128 away,
    // 5804988 ns and the half millisecond after a period was last seen.
    pcm_period = 128;
    pcm_room_grew_ns = 2000000000;
    const struct { unsigned long left; long room, us; } waits[] = {
        {38, 0, 6305}, {38, 37, 6305}, {38, 38, 0}, {0, 127, 6305}, {0, 128, 0}};
    for (const auto& w : waits) {
        pcm_unit_left = w.left;
        pcm_room = w.room;
        EXPECT_EQ(pcm_wait_us(2000000000), w.us) << w.left << " left, room " << w.room;
    }
    pcm_period = 0;
    // A write that fails loses the rest of its unit; the next pass begins anew.
    pcm_unit_left = 0;
    FakeDevice::reset(128);
    EXPECT_EQ(pcm_fill(128, fakeSink), 1);
    FakeDevice::writeResult = -EPIPE;
    FakeDevice::room = 64;
    EXPECT_EQ(pcm_fill(64, fakeSink), 0);
    EXPECT_EQ(pcm_unit_left, 0u);
    EXPECT_EQ(FakeDevice::recovers, 1);
    EXPECT_EQ(pcm_underruns, 1);
}

// The --latency values: whole milliseconds 23..371, rounded up to units of
// 256 frames at 22050 (one unit is 11.61 ms).
TEST(PcmLatency, MillisecondsToUnitsAndRefusals) {
    struct Row { const char* text; int units; };  // units 0: refused
    const Row rows[] = {
        {"23", 2},  {"024", 3},  {"34", 3},  {"35", 4},  {"46", 4},  {"47", 5},
        {"100", 9}, {"348", 30}, {"349", 31}, {"371", 32},
        {"22", 0},  {"372", 0},  {"0", 0},   {"", 0},    {"-23", 0}, {"+23", 0},
        {" 23", 0}, {"23 ", 0},  {"23.0", 0}, {"23ms", 0}, {"0x20", 0}, {"ms", 0},
        {"99999999999999999999023", 0},
    };
    for (const Row& r : rows) {
        int units = -7;
        EXPECT_EQ(pcm_latency_units(r.text, units), r.units != 0) << '"' << r.text << '"';
        EXPECT_EQ(units, r.units ? r.units : -7) << '"' << r.text << '"';
    }
    int units = -7;
    EXPECT_FALSE(pcm_latency_units(nullptr, units));
    EXPECT_EQ(units, -7);
}

// Real opens and three fill passes each through ALSA: "default" is a file
// plugin over the null device (tests/standalone/alsa/capture.asoundrc), so every
// byte the host writes lands in $HOME/capture.raw. For each --latency the
// buffer asked for, the period (a unit; half a unit in a buffer of two, so
// that it holds three periods at least), the start threshold and the
// priming: the start-up lines as always, a buffer of silence but for its
// last unit, which is the engine's first, made before the start, then the
// converted frames.
TEST(PcmDevice, BufferPeriodAndPrimingForEachLatency) {
    char dir[] = "/tmp/quorvanel-pcm-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string home = dir;
    std::string rc = readFile(std::string(QUORVANEL_SOURCE_DIR) + "/tests/standalone/alsa/capture.asoundrc");
    ASSERT_FALSE(rc.empty());
    std::ofstream(home + "/.asoundrc") << rc;
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    snd_config_update_free_global();  // read the configuration under the new HOME
    setenv("QUORVANEL_DELAY_STATS", "1", 1);

    struct Row { int units; unsigned long buffer, period; };  // units 0: no --latency
    const Row rows[] = {{0, 1024, 256}, {2, 512, 128}, {3, 768, 256}, {4, 1024, 256}, {9, 2304, 256}, {32, 8192, 256}};
    for (const Row& r : rows) {
        SCOPED_TRACE("units " + std::to_string(r.units));
        RecordingEngine engine;
        host_engine(&engine);
        pcm_buffer_units = r.units;
        testing::internal::CaptureStdout();
        open_pcm();
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "  PLAYBACK\n  CAPTURE\nPCMopend\n2 periods\n");
        snd_pcm_uframes_t buffer = 0, period = 0, threshold = 0;
        snd_pcm_get_params(playback_handle, &buffer, &period);
        EXPECT_EQ(buffer, r.buffer);
        EXPECT_EQ(period, r.period);
        EXPECT_EQ(pcm_period, r.period);
        snd_pcm_sw_params_get_start_threshold(sw_params, &threshold);
        EXPECT_EQ(threshold, r.buffer);
        // A sound server's plugin takes avail_min as how often to ask for sound.
        snd_pcm_uframes_t availMin = 0;
        snd_pcm_sw_params_get_avail_min(sw_params, &availMin);
        EXPECT_EQ(availMin, r.period);
        EXPECT_EQ(pcm_write_step, r.period);  // topped up a period at a time in a buffer of two units
        EXPECT_EQ(snd_pcm_state(playback_handle), SND_PCM_STATE_PREPARED);  // not started yet
        int max = static_cast<int>(r.buffer / 256);
        EXPECT_EQ(pcm_units_max, max);
        EXPECT_TRUE(engine.calls.empty());

        testing::internal::CaptureStdout();
        pcm_start();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "0\n");
        EXPECT_EQ(engine.count("beging"), 1);
        EXPECT_EQ(snd_pcm_state(playback_handle), SND_PCM_STATE_RUNNING);
        // The priming raised the threshold for its writes only.
        snd_pcm_sw_params_current(playback_handle, sw_params);
        snd_pcm_sw_params_get_start_threshold(sw_params, &threshold);
        EXPECT_EQ(threshold, r.buffer);
        int units = 0;
        for (int i = 0; i < 3; i++) units += pcm_runnus();
        // The null device always has room, so each pass is held to the buffer.
        EXPECT_EQ(units, 3 * max);
        EXPECT_EQ(engine.count("beging"), 3 * max + 1);
        // Every write that went through was counted for the delay line.
        EXPECT_EQ(pcm_delay_count(), static_cast<unsigned long>(3 * max + 1));
        pcm_closz();
        EXPECT_EQ(data, nullptr);

        std::string cap = readFile(home + "/capture.raw");
        ASSERT_EQ(cap.size(), r.buffer * 4 + 3 * max * 1024u);
        size_t silence = (r.buffer - 256) * 4;
        for (size_t i = 0; i < silence; i++) ASSERT_EQ(cap[i], 0) << "priming byte " << i;
        const unsigned char* f = reinterpret_cast<const unsigned char*>(cap.data()) + silence;
        for (int n = 0; n < (3 * max + 1) * 256; n++, f += 4) {
            ASSERT_EQ(f[0] | f[1] << 8, n) << "frame " << n;
            ASSERT_EQ(static_cast<int16_t>(f[2] | f[3] << 8), -n) << "frame " << n;
        }
        unlink((home + "/capture.raw").c_str());
    }
    pcm_buffer_units = 0;
    unsetenv("QUORVANEL_DELAY_STATS");
    setenv("HOME", oldHome.c_str(), 1);
    snd_config_update_free_global();
    unlink((home + "/.asoundrc").c_str());
    rmdir(dir);
}

class PcmWait : public ::testing::Test {
protected:
    unsigned int savedRate = rate;
    static constexpr long long t0 = 1000000000;  // when the last period was seen to come
    void SetUp() override {
        rate = 22050;
        frames = 256;
        pcm_period = 0;
        pcm_write_step = 0;
        pcm_unit_left = 0;
        pcm_room_grew_ns = t0;
    }
    void TearDown() override {
        rate = savedRate;
        pcm_period = 0;
    }
};

TEST_F(PcmWait, NoWaitWithRoomForAUnitOrAFailedQuery) {
    pcm_period = 113;
    pcm_room = 256;
    EXPECT_EQ(pcm_wait_us(t0), 0);
    pcm_room = -EPIPE;
    EXPECT_EQ(pcm_wait_us(t0), 0);
    pcm_period = 0;
    EXPECT_EQ(pcm_wait_us(t0), 0);
}

TEST_F(PcmWait, WithoutAPeriodTheMissingFramesTimeAtMostAUnit) {
    // 56 frames missing at 22050 per second: 2539.68 µs, rounded up.
    pcm_room = 200;
    EXPECT_EQ(pcm_wait_us(t0 + 5000000), 2540);
    // No room at all: one whole unit, 11609 µs.
    pcm_room = 0;
    EXPECT_EQ(pcm_wait_us(t0), 11609);
}

// Periods of 113 frames come every 5124716 ns; the wait ends half a
// millisecond after the period that completes the unit, counted from t0.
TEST_F(PcmWait, EndsJustAfterThePeriodThatCompletesTheUnit) {
    pcm_period = 113;
    long long now = t0 + 300000;  // the unit written took 0.3 ms
    pcm_room = 200;  // one period: t0 + 5124716 + 500000
    EXPECT_EQ(pcm_wait_us(now), 5325);
    pcm_room = 100;  // two periods: t0 + 10249433 + 500000
    EXPECT_EQ(pcm_wait_us(now), 10450);
    // Three periods: t0 + 15374149 + 500000, longer than a unit, so the
    // wait is held to one unit (11609 µs) and the next one waits on.
    pcm_room = 20;
    EXPECT_EQ(pcm_wait_us(now), 11609);
    now = t0 + 11609000;
    EXPECT_EQ(pcm_wait_us(now), 4266);
    pcm_room = 0;
    EXPECT_EQ(pcm_wait_us(t0), 11609);
}

TEST_F(PcmWait, APeriodOverdueIsLookedForAPeriodLater) {
    pcm_period = 113;
    pcm_room = 200;
    EXPECT_EQ(pcm_wait_us(t0 + 6000000), 5125);  // due at 5.62 ms; 113 frames are 5124.7 µs
    pcm_room_grew_ns = 0;                         // no period seen for a long time
    EXPECT_EQ(pcm_wait_us(t0), 5125);
}

TEST_F(PcmWait, NeverLongerThanAUnit) {
    // Periods of 512 frames: one is due 23720 µs after t0.
    pcm_period = 512;
    pcm_room = 250;
    EXPECT_EQ(pcm_wait_us(t0), 11609);
    // A period seen to come long after it was due (a clock jump, a stamp
    // from the future).
    pcm_period = 113;
    pcm_room = 0;
    pcm_room_grew_ns = t0 + 1000000000;
    EXPECT_EQ(pcm_wait_us(t0), 11609);
}

TEST(PcmUnderruns, ReportedAtMostOnceASecondWithTheCount) {
    pcm_underruns = 3;
    testing::internal::CaptureStderr();
    pcm_report_underruns(5000000);
    pcm_underruns = 2;
    pcm_report_underruns(5000999);  // within the second: held back
    EXPECT_EQ(pcm_underruns, 2);
    pcm_report_underruns(5001000);
    pcm_report_underruns(5003000);  // nothing pending: silent
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "quorvanel: audio underrun, 3 units lost\n"
                   "quorvanel: audio underrun, 2 units lost\n");
    EXPECT_EQ(pcm_underruns, 0);
}

}  // namespace
