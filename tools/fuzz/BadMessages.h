// Messages that a host, another window or a corrupt session may hand the
// plugin or its window: each a well-formed message beside the same message
// made malformed, cut short or with a size inside that claims more than it
// holds. Each is exactly the atom (its 8-byte header and the body it
// declares), so a reader that goes past it reads past its allocation. The
// plugin's tests send them through run() and the window's picture reader;
// the atom fuzzer starts from them.
#pragma once

#include "plugin/WindowMessages.h"

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>

#include <cstdint>
#include <string>
#include <vector>

namespace badmessages {

using Bytes = std::vector<uint8_t>;

struct Message {
    enum Kind { WindowEvent, BankPath, PicturePart, KeysOff, ScalePath };
    const char* name;
    Kind kind;  // what the well-formed one is: an Opened event, a patch:Set of the bank, a picture, of keys off, of the keys' scale
    Bytes good, bad;
};

template <class Build>
Bytes forged(LV2_URID_Map* map, Build build) {
    std::vector<uint64_t> room(1024);  // 8-byte aligned, as a host's buffers are
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, map);
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(room.data()), room.size() * sizeof(uint64_t));
    build(&forge);
    const auto* start = reinterpret_cast<const uint8_t*>(room.data());
    return Bytes(start, start + sizeof(LV2_Atom) + reinterpret_cast<const LV2_Atom*>(start)->size);
}

// Where property `key`'s value header starts in a well-formed object `m`,
// counted from the object's body (the body's size counts from there).
inline uint32_t valueAt(const Bytes& m, LV2_URID key) {
    const auto* o = reinterpret_cast<const LV2_Atom_Object*>(m.data());
    LV2_ATOM_OBJECT_FOREACH(o, p) {
        if (p->key == key)
            return static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(&p->value) -
                                         reinterpret_cast<const uint8_t*>(&o->body));
    }
    return 0;
}

inline LV2_Atom* atomAt(Bytes& m, uint32_t at) {
    return reinterpret_cast<LV2_Atom*>(m.data() + sizeof(LV2_Atom) + at);
}

// `m` with its body cut to `size` bytes.
inline Bytes cut(Bytes m, uint32_t size) {
    reinterpret_cast<LV2_Atom*>(m.data())->size = size;
    m.resize(sizeof(LV2_Atom) + size);
    return m;
}

// The five ways the plugin once read past a message, a picture part of the
// plugin's own cut short, and the keys' parameters cut short. `bankPath`,
// `scalePath`: the files the well-formed patch:Sets name.
inline std::vector<Message> all(LV2_URID_Map* map, const std::string& bankPath, const std::string& scalePath) {
    windowio::Uris u{};
    u.map(map);
    const Bytes opened = forged(map, [&](LV2_Atom_Forge* f) { windowio::forgeEvent(f, u, windowio::Event::Opened, 500, 500); });
    const std::string text = "chubby 0\n";
    auto pictureOf = [&](int32_t length) {
        return forged(map, [&](LV2_Atom_Forge* f) {
            const int32_t header[windowio::kHeaderInts] = {7, 500, 500, 1, 1, 0, 0, length, 0};
            const unsigned char levels[5] = {10, 20, 30, 40, 128};
            windowio::forgePicture(f, u, header, levels, 5, text.data(), static_cast<uint32_t>(text.size()));
        });
    };
    const Bytes picture = pictureOf(static_cast<int32_t>(text.size()));
    const LV2_URID patchValue = map->map(map->handle, LV2_PATCH__value);
    auto setFile = [&](const std::string& path) {
        return forged(map, [&](LV2_Atom_Forge* f) { windowio::forgeFile(f, u, path); });
    };
    const Bytes setBank = setFile(bankPath), setScale = setFile(scalePath);
    const Bytes keysOff = forged(map, [&](LV2_Atom_Forge* f) {
        windowio::forgeSet(f, u, map->map(map->handle, QUORVANEL_LV2_URI "#keys"), [](LV2_Atom_Forge* g) { lv2_atom_forge_bool(g, false); });
    });

    std::vector<Message> out;
    const uint32_t textAt = valueAt(picture, u.text), yAt = valueAt(opened, u.y);
    Bytes longText = pictureOf(static_cast<int32_t>(text.size()) + 64);  // the header as long as the claim
    atomAt(longText, textAt)->size += 64;
    out.push_back({"a picture's text claims more than the part holds", Message::PicturePart, picture, longText});
    out.push_back({"a picture part cut short inside its text", Message::PicturePart, picture,
                   cut(picture, textAt + static_cast<uint32_t>(sizeof(LV2_Atom)) + 4)});
    out.push_back({"an object event of 4 bytes", Message::WindowEvent, opened, cut(opened, 4)});
    out.push_back({"a property runs past the object", Message::WindowEvent, opened, cut(opened, yAt + 4)});
    Bytes emptyInt = cut(opened, yAt + static_cast<uint32_t>(sizeof(LV2_Atom)));
    atomAt(emptyInt, yAt)->size = 0;
    out.push_back({"an Int of 0 bytes ends the object", Message::WindowEvent, opened, emptyInt});
    Bytes longPath = setBank;
    atomAt(longPath, valueAt(setBank, patchValue))->size = 4000;
    out.push_back({"a path runs past the object", Message::BankPath, setBank, longPath});
    Bytes longScale = setScale;
    atomAt(longScale, valueAt(setScale, patchValue))->size = 4000;
    out.push_back({"a scale's path runs past the object", Message::ScalePath, setScale, longScale});
    const uint32_t keysAt = valueAt(keysOff, patchValue);
    Bytes emptyBool = cut(keysOff, keysAt + static_cast<uint32_t>(sizeof(LV2_Atom)));
    atomAt(emptyBool, keysAt)->size = 0;
    out.push_back({"a Bool of 0 bytes ends the object", Message::KeysOff, keysOff, emptyBool});
    return out;
}

}  // namespace badmessages
