// The controller side of the host: the USB hand controller (vendor 0x6666,
// product 0x6666) read through libusb's asynchronous mode without an event
// thread, so report callbacks run only inside chub_run on the main thread.
#pragma once

#include <libusb-1.0/libusb.h>
#include <cstdint>

// One controller report, by value: bytes points at the 8 signed report
// bytes (axes 0..3 at bytes 0..3: -128..127; byte 4 the prime-limit axis;
// byte 7 the button bits), length is always 8.
struct _CHUBREPORT {
    signed char* bytes;
    unsigned int length;
};

void open_chub();
void chub_run();
void chub_closz();
