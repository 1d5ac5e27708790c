// The pictures a PluginWindow has waiting, as window messages in a
// sequence being forged (each an event at frame 0): as many parts as the
// forge's buffer holds; the rest goes out at the next call. The LV2 plugin
// forges them on its notify port, the in-process window link into its
// ring. Audio thread; allocates nothing.
#pragma once

#include "plugin/WindowMessages.h"
#include "plugin/PluginWindow.h"

#include <cstring>

namespace windowio {

inline void forgePictures(PluginWindow& w, LV2_Atom_Forge* forge, const Uris& uris) {
    for (const PictureSnapshot* s = w.outgoing(); s; s = w.outgoing()) {
        uint32_t room = forge->size - forge->offset;
        size_t left = s->length - w.sent();
        if (room < kPictureOverhead + (left ? 64 : 0)) return;
        uint32_t n = static_cast<uint32_t>(left < room - kPictureOverhead ? left : room - kPictureOverhead);
        int32_t header[kHeaderInts];
        std::memcpy(header, s->header, sizeof header);
        header[kOffset] = static_cast<int32_t>(w.sent());
        lv2_atom_forge_frame_time(forge, 0);
        forgePicture(forge, uris, header, s->levels, s->levelBytes(), s->text.data() + w.sent(), n);
        w.sentMore(n);
    }
}

}  // namespace windowio
