// What the plugin and its window say to each other, as atom objects.
//
// Window to plugin, through the atom input that also carries MIDI: the
// window's own events, which the plugin hands its input gate as the
// program's window events: Opened (its size), Size, Click (window pixels),
// Key (the low byte of the key's first key symbol), Repaint (the window was uncovered) and Closed.
// Each is an object of that type with the integer properties x and y
// (Size, Opened: width and height; Key: x is the key). A file pasted into
// the window goes as the patch:Set of the plugin's file parameter its name
// ends for (File), as a host's file chooser sends it.
//
// Plugin to window, on the notify output: a Picture after each repaint
// while the window is open. One picture may take several messages when
// the host's buffer is small: each carries the same header and levels and
// the text from `offset`; the window draws once all `length` bytes came.
//   header: atom:Vector of Int: seq, width, height, bank, count,
//           selected, solo, length, offset, readout (1: the ratios shown
//           as numbers)
//   levels: atom:Chunk, PictureSnapshot::kLevels bytes per situation
//   text:   atom:Chunk, the painted bank's patch text from `offset`
// Readers take an object whose declared size can be read and trust nothing
// inside it (AtomObjectReader): a malformed message is no event and no
// picture.
#pragma once

#include "plugin/AtomObjectReader.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/patch/patch.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <strings.h>

#ifndef QUORVANEL_LV2_URI
#define QUORVANEL_LV2_URI "urn:quorvanel:instrument"
#endif

namespace windowio {

enum class Event : uint32_t { Opened, Size, Click, Key, Repaint, Closed, Count };

constexpr int kHeaderInts = 10;
enum Header { kSeq, kWidth, kHeight, kBank, kCount, kSelected, kSolo, kLength, kOffset, kReadout };

// The notify port's buffer size the bundle asks for (rsz:minimumSize): a
// whole picture of the largest bank fits in one message.
constexpr uint32_t kNotifyRoom = 65536;
// Room a picture message takes beyond its text.
constexpr uint32_t kPictureOverhead = 256 + 16 * 5 + 16;

// The plugin's file parameters.
enum class File : int { Bank, Scale, Map, Count };

struct Uris {
    LV2_URID events[static_cast<int>(Event::Count)];
    LV2_URID picture, x, y, header, levels, text, atomInt, atomVector, atomChunk, atomObject, eventTransfer;
    LV2_URID files[static_cast<int>(File::Count)], patchSet, patchProperty, patchValue, atomPath, atomUrid;

    void map(LV2_URID_Map* m) {
        static const char* const names[] = {"#Opened", "#Size", "#Click", "#Key", "#Repaint", "#Closed"};
        for (int k = 0; k < static_cast<int>(Event::Count); k++) events[k] = id(m, names[k]);
        picture = id(m, "#Picture");
        x = id(m, "#x");
        y = id(m, "#y");
        header = id(m, "#header");
        levels = id(m, "#levels");
        text = id(m, "#text");
        atomInt = m->map(m->handle, LV2_ATOM__Int);
        atomVector = m->map(m->handle, LV2_ATOM__Vector);
        atomChunk = m->map(m->handle, LV2_ATOM__Chunk);
        atomObject = m->map(m->handle, LV2_ATOM__Object);
        eventTransfer = m->map(m->handle, LV2_ATOM__eventTransfer);
        files[0] = id(m, "#bank");
        files[1] = id(m, "#scale");
        files[2] = id(m, "#map");
        patchSet = m->map(m->handle, LV2_PATCH__Set);
        patchProperty = m->map(m->handle, LV2_PATCH__property);
        patchValue = m->map(m->handle, LV2_PATCH__value);
        atomPath = m->map(m->handle, LV2_ATOM__Path);
        atomUrid = m->map(m->handle, LV2_ATOM__URID);
    }

    // The window event an object is, or Event::Count (also for a
    // malformed object).
    Event eventOf(const LV2_Atom_Object* o) const {
        LV2_URID type = AtomObjectReader(o).type();
        for (int k = 0; k < static_cast<int>(Event::Count); k++)
            if (type && type == events[k]) return static_cast<Event>(k);
        return Event::Count;
    }

private:
    static LV2_URID id(LV2_URID_Map* m, const char* suffix) {
        char uri[128];
        const char* base = QUORVANEL_LV2_URI;
        int n = 0;
        while (base[n] && n < 100) uri[n] = base[n], n++;
        for (int k = 0; suffix[k] && n < 127; k++) uri[n++] = suffix[k];
        uri[n] = '\0';
        return m->map(m->handle, uri);
    }
};

// A window event as an object in `forge`'s buffer.
inline LV2_Atom_Forge_Ref forgeEvent(LV2_Atom_Forge* forge, const Uris& u, Event e, int32_t x, int32_t y) {
    LV2_Atom_Forge_Frame frame;
    LV2_Atom_Forge_Ref ref = lv2_atom_forge_object(forge, &frame, 0, u.events[static_cast<int>(e)]);
    lv2_atom_forge_key(forge, u.x);
    lv2_atom_forge_int(forge, x);
    lv2_atom_forge_key(forge, u.y);
    lv2_atom_forge_int(forge, y);
    lv2_atom_forge_pop(forge, &frame);
    return ref;
}

// Reads an event's x and y; false, and both 0, when either is missing or
// no whole atom:Int: the event is malformed and goes no further.
inline bool eventPoint(const LV2_Atom_Object* o, const Uris& u, int32_t& x, int32_t& y) {
    AtomObjectReader r(o);
    const LV2_Atom* ax = r.value(u.x, u.atomInt, sizeof(int32_t));
    const LV2_Atom* ay = r.value(u.y, u.atomInt, sizeof(int32_t));
    x = ax && ay ? reinterpret_cast<const LV2_Atom_Int*>(ax)->body : 0;
    y = ax && ay ? reinterpret_cast<const LV2_Atom_Int*>(ay)->body : 0;
    return ax && ay;
}

// The file parameter a file's name is for: a .scl the keys' scale, a .kbm
// their mapping, any other a bank file.
inline File fileFor(const std::string& path) {
    auto ends = [&](const char* tail) {
        size_t n = std::strlen(tail);
        return path.size() > n && strcasecmp(path.c_str() + path.size() - n, tail) == 0;
    };
    return ends(".scl") ? File::Scale : ends(".kbm") ? File::Map : File::Bank;
}

// A patch:Set of the plugin's `property`, its value forged by `value`.
template <class Value>
LV2_Atom_Forge_Ref forgeSet(LV2_Atom_Forge* forge, const Uris& u, LV2_URID property, Value value) {
    LV2_Atom_Forge_Frame frame;
    LV2_Atom_Forge_Ref ref = lv2_atom_forge_object(forge, &frame, 0, u.patchSet);
    lv2_atom_forge_key(forge, u.patchProperty);
    lv2_atom_forge_urid(forge, property);
    lv2_atom_forge_key(forge, u.patchValue);
    value(forge);
    lv2_atom_forge_pop(forge, &frame);
    return ref;
}

// The patch:Set of the parameter `path` is for.
inline LV2_Atom_Forge_Ref forgeFile(LV2_Atom_Forge* forge, const Uris& u, const std::string& path) {
    return forgeSet(forge, u, u.files[static_cast<int>(fileFor(path))], [&](LV2_Atom_Forge* f) {
        lv2_atom_forge_path(f, path.c_str(), static_cast<uint32_t>(path.size() + 1));
    });
}

// The file parameter a patch:Set sets, and its path: `length` bytes at
// `path`, up to the value's first NUL or its end; File::Count for anything
// else. Allocates nothing.
inline File readFile(const LV2_Atom_Object* o, const Uris& u, const char*& path, uint32_t& length) {
    AtomObjectReader r(o);
    const LV2_Atom* property = r.type() == u.patchSet ? r.value(u.patchProperty, u.atomUrid, sizeof(LV2_URID)) : nullptr;
    const LV2_Atom* value = r.value(u.patchValue, u.atomPath, 1);
    for (int k = 0; property && value && k < static_cast<int>(File::Count); k++) {
        if (reinterpret_cast<const LV2_Atom_URID*>(property)->body != u.files[k]) continue;
        path = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        length = static_cast<uint32_t>(strnlen(path, value->size));
        return static_cast<File>(k);
    }
    return File::Count;
}

// One picture message: the header, the levels and `n` bytes of text.
inline LV2_Atom_Forge_Ref forgePicture(LV2_Atom_Forge* forge, const Uris& u, const int32_t header[kHeaderInts],
                                       const unsigned char* levels, uint32_t levelBytes, const char* text,
                                       uint32_t n) {
    LV2_Atom_Forge_Frame frame;
    LV2_Atom_Forge_Ref ref = lv2_atom_forge_object(forge, &frame, 0, u.picture);
    lv2_atom_forge_key(forge, u.header);
    lv2_atom_forge_vector(forge, sizeof(int32_t), u.atomInt, kHeaderInts, header);
    lv2_atom_forge_key(forge, u.levels);
    lv2_atom_forge_atom(forge, levelBytes, u.atomChunk);
    lv2_atom_forge_write(forge, levels, levelBytes);  // padded by the forge
    lv2_atom_forge_key(forge, u.text);
    lv2_atom_forge_atom(forge, n, u.atomChunk);
    lv2_atom_forge_write(forge, text, n);
    lv2_atom_forge_pop(forge, &frame);
    return ref;
}

// A picture message as read: pointers into the message.
struct PicturePart {
    int32_t header[kHeaderInts] = {};
    const unsigned char* levels = nullptr;
    uint32_t levelBytes = 0;
    const char* text = nullptr;
    uint32_t textBytes = 0;
};

// False for an object that is not a whole picture message.
inline bool readPicture(const LV2_Atom_Object* o, const Uris& u, PicturePart& out) {
    AtomObjectReader r(o);
    if (r.type() != u.picture) return false;
    constexpr uint32_t kHeaderBytes = sizeof(LV2_Atom_Vector_Body) + kHeaderInts * sizeof(int32_t);
    const LV2_Atom* h = r.value(u.header, u.atomVector, kHeaderBytes);
    const LV2_Atom* l = r.value(u.levels, u.atomChunk, 0);
    const LV2_Atom* t = r.value(u.text, u.atomChunk, 0);
    if (!h || !l || !t || h->size != kHeaderBytes) return false;
    const auto* v = reinterpret_cast<const LV2_Atom_Vector*>(h);
    if (v->body.child_type != u.atomInt || v->body.child_size != sizeof(int32_t)) return false;
    const auto* ints = reinterpret_cast<const int32_t*>(v + 1);
    for (int k = 0; k < kHeaderInts; k++) out.header[k] = ints[k];
    out.levels = static_cast<const unsigned char*>(LV2_ATOM_BODY_CONST(l));
    out.levelBytes = l->size;
    out.text = static_cast<const char*>(LV2_ATOM_BODY_CONST(t));
    out.textBytes = t->size;
    return true;
}

// The same from a message as it came: `size` bytes at `message`, the
// atom's header included. False also when the atom claims more than came.
inline bool readPicture(const void* message, uint32_t size, const Uris& u, PicturePart& out) {
    const auto* atom = static_cast<const LV2_Atom*>(message);
    if (!message || size < sizeof(LV2_Atom) || atom->type != u.atomObject || atom->size > size - sizeof(LV2_Atom))
        return false;
    return readPicture(reinterpret_cast<const LV2_Atom_Object*>(atom), u, out);
}

}  // namespace windowio
