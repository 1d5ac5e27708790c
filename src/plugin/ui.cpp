// The plugin's own window as an LV2 X11 UI (EmbeddedWindow): it reports
// its window to the host as the widget, takes the host's parent window,
// and passes its messages through the host: its events as atoms written to
// the plugin's control input, the plugin's pictures from the notify
// output. No instance access: the host may run the window in another
// process.
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plugin/EmbeddedWindow.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr const char* kUiUri = QUORVANEL_LV2_URI "#ui";
constexpr uint32_t kControlPort = 0, kNotifyPort = 1;

struct Ui {
    Ui(LV2_URID_Map* map, LV2UI_Write_Function write, LV2UI_Controller controller)
        : write(write), controller(controller), window(map, send, this) {}

    static void send(void* to, const LV2_Atom* atom) {
        Ui* ui = static_cast<Ui*>(to);
        ui->write(ui->controller, kControlPort, sizeof(LV2_Atom) + atom->size,
                  ui->window.messageUris().eventTransfer, atom);
    }

    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    EmbeddedWindow window;
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    void* parent = nullptr;
    LV2UI_Resize* resize = nullptr;
    const char* missing = lv2_features_query(features, LV2_URID__map, &map, true, LV2_UI__parent, &parent, false,
                                             LV2_UI__resize, &resize, false, nullptr);
    if (missing) return nullptr;
    Ui* ui = new Ui(map, write, controller);
    if (!ui->window.open(static_cast<::Window>(reinterpret_cast<uintptr_t>(parent)))) {
        delete ui;
        return nullptr;
    }
    if (resize) resize->ui_resize(resize->handle, EmbeddedWindow::kStartSize, EmbeddedWindow::kStartSize);
    *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(ui->window.window()));
    return ui;
}

void cleanup(LV2UI_Handle h) { delete static_cast<Ui*>(h); }

void portEvent(LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    Ui* ui = static_cast<Ui*>(h);
    if (port != kNotifyPort || format != ui->window.messageUris().eventTransfer) return;
    ui->window.receive(static_cast<const LV2_Atom*>(buffer), size);
}

int idle(LV2UI_Handle h) {
    static_cast<Ui*>(h)->window.pump();
    return 0;
}

const void* extensionData(const char* uri) {
    static const LV2UI_Idle_Interface idleInterface = {idle};
    if (!std::strcmp(uri, LV2_UI__idleInterface)) return &idleInterface;
    return nullptr;
}

const LV2UI_Descriptor descriptor = {kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
