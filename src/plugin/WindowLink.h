// The plugin and its window in one process (the CLAP and VST3 plugins):
// the same window messages the LV2 plugin and window pass through their
// host, here through two MessageRings, so the window is the LV2 one
// (EmbeddedWindow) and the instrument hears it as the LV2 plugin does.
// To the plugin: the window's events, read at the start of a block and
// acting at its first frame, as an LV2 host delivers them; a file pasted
// into the window, handed to `file` at once, on the window's thread (a
// file is read there, never on the audio thread). To the window:
// sequences of picture messages, as they would stand on the notify port,
// as many parts as the ring has room for; the rest go after later blocks.
// The audio thread's side allocates nothing and waits for nothing.
#pragma once

#include "plugin/EmbeddedWindow.h"
#include "plugin/Instrument.h"
#include "plugin/MessageRing.h"
#include "plugin/PictureParts.h"
#include "plugin/UridTable.h"

#include <cstdint>
#include <string>
#include <vector>

class WindowLink {
public:
    static constexpr uint32_t kEventRoom = 1u << 14;  // bytes of window events waiting
    static constexpr uint32_t kPictureRoom = 1u << 18;  // bytes of pictures waiting

    WindowLink() : events(kEventRoom), pictures(kPictureRoom), scratch(windowio::kNotifyRoom / 8) {
        uris.map(urids.map());
        lv2_atom_forge_init(&forge, urids.map());
    }
    WindowLink(const WindowLink&) = delete;
    WindowLink& operator=(const WindowLink&) = delete;

    LV2_URID_Map* map() { return urids.map(); }

    // --- The audio thread -----------------------------------------------

    // The window's events since the last block, at the block's first frame.
    void takeEvents(Instrument& instrument) {
        alignas(8) uint8_t room[256];
        for (uint32_t n = events.pop(room, sizeof room); n; n = events.pop(room, sizeof room)) {
            const auto* atom = reinterpret_cast<const LV2_Atom*>(room);
            if (n < sizeof(LV2_Atom) || sizeof(LV2_Atom) + atom->size > n || atom->type != uris.atomObject) continue;
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(atom);
            int32_t x = 0, y = 0;
            windowio::eventPoint(object, uris, x, y);
            instrument.windowEvent(0, uris.eventOf(object), x, y);
        }
    }

    // The instrument's pictures waiting, as far as the ring has room.
    void sendPictures(Instrument& instrument) {
        PluginWindow& w = instrument.pictures();
        if (!w.outgoing()) return;
        uint32_t room = pictures.space();
        uint32_t most = static_cast<uint32_t>(scratch.size() * sizeof(uint64_t));
        room = (room < most ? room : most) & ~7u;
        if (room < windowio::kPictureOverhead + 128) return;
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(scratch.data()), room);
        LV2_Atom_Forge_Frame sequence;
        lv2_atom_forge_sequence_head(&forge, &sequence, 0);
        windowio::forgePictures(w, &forge, uris);
        lv2_atom_forge_pop(&forge, &sequence);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(scratch.data());
        if (atom->size > sizeof(LV2_Atom_Sequence_Body)) pictures.push(atom, sizeof(LV2_Atom) + atom->size);
    }

    // --- The window's thread --------------------------------------------

    // Where a pasted file goes: `to`, the file parameter and the path.
    using FileTo = void (*)(void* to, windowio::File file, const std::string& path);
    void onFile(FileTo call, void* to) {
        file = call;
        fileTo = to;
    }

    // EmbeddedWindow's way out.
    static void send(void* link, const LV2_Atom* atom) {
        WindowLink* l = static_cast<WindowLink*>(link);
        const char* path;
        uint32_t length;
        windowio::File f = atom->type == l->uris.atomObject
                               ? windowio::readFile(reinterpret_cast<const LV2_Atom_Object*>(atom), l->uris, path, length)
                               : windowio::File::Count;
        if (f == windowio::File::Count) l->events.push(atom, sizeof(LV2_Atom) + atom->size);
        else if (l->file) l->file(l->fileTo, f, std::string(path, length));
    }

    // The pictures that came, each message to the window.
    void deliver(EmbeddedWindow& window) {
        for (uint32_t n = pictures.pop(inbox.data(), inboxRoom()); n; n = pictures.pop(inbox.data(), inboxRoom())) {
            const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(inbox.data());
            if (n < sizeof(LV2_Atom_Sequence) || sizeof(LV2_Atom) + sequence->atom.size > n) continue;
            LV2_ATOM_SEQUENCE_FOREACH(sequence, ev) window.receive(&ev->body, sizeof(LV2_Atom) + ev->body.size);
        }
    }

    // Drops the pictures of a window gone, before a new one opens.
    void forget() {
        while (pictures.next()) pictures.pop(inbox.data(), inboxRoom());
    }

private:
    uint32_t inboxRoom() const { return static_cast<uint32_t>(inbox.size() * sizeof(uint64_t)); }

    UridTable urids;
    windowio::Uris uris{};
    LV2_Atom_Forge forge{};
    MessageRing events, pictures;
    FileTo file = nullptr;
    void* fileTo = nullptr;
    std::vector<uint64_t> scratch;                                 // the audio thread's, 8-byte aligned
    std::vector<uint64_t> inbox = std::vector<uint64_t>(windowio::kNotifyRoom / 8);  // the window's
};
