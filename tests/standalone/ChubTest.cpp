// Controller input: the completion callback driven with transfers the test
// fills itself (no USB device can be attached here), the resubmission made
// observable, and libusb itself with no controller plugged in.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "standalone/chub.h"
#include "RecordingEngine.h"
#include "support/XWindow.h"

#include <chrono>
#include <cstring>
#include <vector>

namespace {

using hosttest::RecordingEngine;

std::vector<libusb_transfer*> resubmitted;
int resubmitResult = 0;
int fakeResubmit(libusb_transfer* t) {
    resubmitted.push_back(t);
    return resubmitResult;
}

libusb_device_handle* const fakeHandle = reinterpret_cast<libusb_device_handle*>(0x6666);

class ChubCallback : public ::testing::Test {
protected:
    RecordingEngine engine;
    libusb_transfer transfer = {};
    libusb_device_handle* savedHandle = nullptr;
    void SetUp() override {
        testx::xwindow();
        host_engine(&engine);
        savedHandle = devh;
        devh = fakeHandle;
        grax_countor = 0;
        chub_resubmit = fakeResubmit;
        resubmitted.clear();
        resubmitResult = 0;
        transfer.dev_handle = fakeHandle;
        transfer.endpoint = ENDPOINT_INT_IN;
        transfer.buffer = gwonz;
        transfer.length = 8;
    }
    void TearDown() override {
        devh = savedHandle;
        chub_resubmit = libusb_submit_transfer;
    }
    // A report arrives: the device wrote 8 bytes into the buffer.
    void deliver(std::vector<signed char> bytes) {
        memcpy(gwonz, bytes.data(), 8);
        transfer.status = LIBUSB_TRANSFER_COMPLETED;
        transfer.actual_length = 8;
        chub_callback(&transfer);
    }
    // The transfer timed out: nothing was written.
    void timeOut() {
        transfer.status = LIBUSB_TRANSFER_TIMED_OUT;
        transfer.actual_length = 0;
        chub_callback(&transfer);
    }
};

TEST_F(ChubCallback, EngineGetsTheHandleAndTheEightBytes) {
    deliver({1, -2, 3, -128, 127, 0, 0, 0x55});
    ASSERT_EQ(engine.reports.size(), 1u);
    EXPECT_EQ(engine.reports[0].handle, reinterpret_cast<ChubDevice*>(fakeHandle));
    std::vector<signed char> want = {1, -2, 3, -128, 127, 0, 0, 0x55};
    EXPECT_EQ(engine.reports[0].bytes, want);
    EXPECT_EQ(chuddle.length, 8u);
    EXPECT_EQ(chuddle.bytes, reinterpret_cast<signed char*>(gwonz));
}

TEST_F(ChubCallback, RepaintsAfterTheFirstReportAndEverySixteenthAfterIt) {
    for (int n = 1; n <= 33; n++) {
        deliver({static_cast<signed char>(n), 0, 0, 0, 0, 0, 0, 0});
        int want = n < 17 ? 1 : n < 33 ? 2 : 3;
        ASSERT_EQ(static_cast<int>(engine.paints.size()), want) << "after report " << n;
    }
    // The repaint follows the report that caused it.
    ASSERT_GE(engine.calls.size(), 2u);
    EXPECT_EQ(engine.calls[0], "chubness");
    EXPECT_EQ(engine.calls[1], "graxness");
    EXPECT_EQ(engine.paints[0].width, 500u);
    EXPECT_EQ(grax_countor, 1);
}

TEST_F(ChubCallback, TimeOutDeliversThePreviousReportAgainAndCounts) {
    deliver({9, 8, 7, 6, 5, 4, 3, 2});
    for (int n = 2; n <= 16; n++) timeOut();
    EXPECT_EQ(engine.paints.size(), 1u);
    ASSERT_EQ(engine.reports.size(), 16u);
    EXPECT_EQ(engine.reports[15].bytes, engine.reports[0].bytes);
    timeOut();  // the 17th completion repaints, report or not
    EXPECT_EQ(engine.paints.size(), 2u);
    EXPECT_EQ(engine.reports[16].bytes, (std::vector<signed char>{9, 8, 7, 6, 5, 4, 3, 2}));
}

TEST_F(ChubCallback, EveryCompletionIsResubmitted) {
    deliver({0, 0, 0, 0, 0, 0, 0, 0});
    timeOut();
    transfer.status = LIBUSB_TRANSFER_ERROR;
    chub_callback(&transfer);
    ASSERT_EQ(resubmitted.size(), 3u);
    for (libusb_transfer* t : resubmitted) EXPECT_EQ(t, &transfer);
    EXPECT_EQ(engine.reports.size(), 3u);
}

// Both ways the input stops share one message, said once for the process.
TEST_F(ChubCallback, InputThatStopsIsReportedOnceOnStderr) {
    testing::internal::CaptureStderr();
    resubmitResult = LIBUSB_ERROR_NO_DEVICE;
    deliver({1, 1, 1, 1, 1, 1, 1, 1});
    deliver({2, 2, 2, 2, 2, 2, 2, 2});
    transfer.status = LIBUSB_TRANSFER_NO_DEVICE;
    resubmitResult = 0;
    chub_callback(&transfer);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "quorvanel: controller input stopped (LIBUSB_ERROR_NO_DEVICE)\n");
    // An unplugged device is not asked again; the last report still reached
    // the engine like any other completion.
    EXPECT_EQ(resubmitted.size(), 2u);
    EXPECT_EQ(engine.reports.size(), 3u);
}

TEST(ChubNoController, OpensWithoutAndRunsWithoutWaiting) {
    RecordingEngine engine;
    host_engine(&engine);
    open_chub();
    EXPECT_EQ(devh, nullptr);  // no controller on a test machine
    EXPECT_EQ(trance, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    int handled = 0;
    for (int i = 0; i < 1000; i++) handled += chub_run();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(handled, 0);
    EXPECT_LT(us, 200000) << "1000 passes should not wait";
    EXPECT_TRUE(engine.calls.empty());
}

}  // namespace
