#include "standalone/chub.h"

#include "engine/InputGate.h"
#include "standalone/grax.h"

#include <cstdio>

libusb_device_handle* devh = nullptr;
libusb_transfer* trance = nullptr;
unsigned char gwonz[CHUB_REPORT_LEN] = {};
_CHUBREPORT chuddle = {nullptr, 0};
timeval chub_timeout = {0, 0};
int (*chub_resubmit)(libusb_transfer*) = libusb_submit_transfer;
unsigned long chub_completions = 0;

namespace {

bool usb_up = false;        // libusb_init succeeded: the default context exists
bool stop_reported = false;

// Controller input ends for good when the transfer cannot go out again;
// the player hears and sees everything else go on, so say why once.
void input_stopped(const char* why) {
    if (stop_reported) return;
    stop_reported = true;
    fprintf(stderr, "quorvanel: controller input stopped (%s)\n", why);
}

}  // namespace

void open_chub() {
    // Without a context every later libusb call on the default context
    // would fail or crash; the program then runs as with no controller.
    if (libusb_init(nullptr) < 0) return;
    usb_up = true;
    devh = libusb_open_device_with_vid_pid(nullptr, CHUB_VENDOR, CHUB_PRODUCT);
    if (!devh) {
        // The controller is looked for at start only: without it libusb has
        // nothing to do, and every pass would still poll its descriptors and
        // every wait ask for them.
        chub_closz();
        return;
    }
    libusb_detach_kernel_driver(devh, INTERFACE);
    libusb_set_configuration(devh, 1);
    libusb_claim_interface(devh, INTERFACE);
    trance = libusb_alloc_transfer(0);
    libusb_fill_interrupt_transfer(trance, devh, ENDPOINT_INT_IN, gwonz, CHUB_REPORT_LEN,
                                   chub_callback, nullptr, TIMEOUT);
    int r = libusb_submit_transfer(trance);
    if (r < 0) input_stopped(libusb_error_name(r));
}

// Every completion, report or time-out or failure, hands the buffer on as
// it stands: after a time-out the engine gets the previous report again.
void LIBUSB_CALL chub_callback(libusb_transfer* transfer) {
    chub_completions++;
    chuddle.bytes = reinterpret_cast<signed char*>(gwonz);
    chuddle.length = CHUB_REPORT_LEN;
    host_input.report(chuddle.bytes, reinterpret_cast<ChubDevice*>(devh));
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) {
        input_stopped("device gone");
        return;
    }
    int r = chub_resubmit(transfer);
    if (r < 0) input_stopped(libusb_error_name(r));
}

int chub_run() {
    if (!usb_up) return 0;
    unsigned long before = chub_completions;
    libusb_handle_events_timeout(nullptr, &chub_timeout);
    return static_cast<int>(chub_completions - before);
}

void chub_closz() {
    if (devh) {
        libusb_release_interface(devh, INTERFACE);
        libusb_close(devh);
        devh = nullptr;
    }
    if (usb_up) libusb_exit(nullptr);
    usb_up = false;
}

bool chub_active() { return usb_up; }
