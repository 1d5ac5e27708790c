// A controller report as the engine takes it, and the device it came from.
// The engine never looks inside a device: the handle only tells a report
// from a real controller (or a stand-in for one) from none at all.
#pragma once

// Opaque: a host's controller device (the USB controller's libusb handle,
// or a stand-in for reports from elsewhere).
struct ChubDevice;

// One controller report, by value: bytes points at the 8 signed report
// bytes (axes 0..3 at bytes 0..3: -128..127; byte 4 the prime-limit axis;
// bytes 5, 6 unused; byte 7 the button bits 0, 2, 4, 6 of voices 0..3),
// length is always 8.
struct _CHUBREPORT {
    signed char* bytes;
    unsigned int length;
};
