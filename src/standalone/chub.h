// The controller side of the host: the USB hand controller (vendor 0x6666,
// product 0x6666) read through libusb's asynchronous mode without an event
// thread, so report callbacks run only inside chub_run on the main thread.
// One interrupt transfer of 8 bytes stays in flight for ever; every
// completion hands the report to the engine and every 16th repaints.
#pragma once

#include "engine/ChubReport.h"

#include <libusb-1.0/libusb.h>
#include <sys/time.h>

constexpr int INTERFACE = 0;           // detached from the kernel driver, claimed
constexpr int ENDPOINT_INT_IN = 0x81;  // the interrupt endpoint reports come from
constexpr int ENDPOINT_INT_OUT = 0x01; // the device's output endpoint; never sent to
constexpr int TIMEOUT = 5000;          // transfer time-out, milliseconds
constexpr int PACKET_INT_LEN = 6;      // shortest report the engine accepts, bytes
constexpr int CHUB_VENDOR = 0x6666;
constexpr int CHUB_PRODUCT = 0x6666;
constexpr int CHUB_REPORT_LEN = 8;     // what the transfer always asks for, bytes

extern libusb_device_handle* devh;  // the open controller; null when none was found
extern libusb_transfer* trance;     // the one interrupt transfer, resubmitted for ever
extern unsigned char gwonz[CHUB_REPORT_LEN];  // the report buffer the transfer fills
extern _CHUBREPORT chuddle;         // the report record handed to the engine
extern int& grax_countor;           // reports modulo 16, paces the repaints (the input gate's)
extern timeval chub_timeout;        // 0 s 0 µs: chub_run never waits

// How a completed transfer is sent off again; libusb_submit_transfer, or a
// test's own so the callback runs without a device.
extern int (*chub_resubmit)(libusb_transfer*);
// Completions handled so far (tells the main loop a pass did work).
extern unsigned long chub_completions;

// Opens the controller and puts the transfer in flight; without a
// controller it returns and the program runs without controller input.
void open_chub();
// Runs due libusb events and callbacks without waiting; returns the number
// of completions handled.
int chub_run();
// The transfer's completion callback.
void LIBUSB_CALL chub_callback(libusb_transfer* transfer);
// Releases the controller.
void chub_closz();
// True when libusb is up, so its descriptors can be waited on.
bool chub_active();
