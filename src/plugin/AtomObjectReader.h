// An atom object that came from outside (a host's event, a window's
// message, a session) read without trusting any size inside it. The
// caller vouches only for the outer size: the object's 8-byte header and
// the `atom.size` bytes of body it declares can be read, which a host
// checks of every event it delivers and the window checks of every message
// it receives. Everything inside is checked against that body before use:
// the body holds at least its id and type (8 bytes), every property lies
// whole inside it, and a value is handed out only when it has the type
// asked for and at least the bytes that type needs. An object with any
// property that runs past its end is malformed, and none of it is read:
// another window, a host that cuts a message short or a corrupt session
// must not make the plugin read past the message, in the host's process
// and mostly on its audio thread. Reads nothing but the object and
// allocates nothing. Sizes: bytes.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cstddef>
#include <cstdint>

class AtomObjectReader {
public:
    explicit AtomObjectReader(const LV2_Atom_Object* o) : object(o) {
        whole = o && o->atom.size >= sizeof(LV2_Atom_Object_Body) && propertiesInside();
    }

    // The object's type; 0, which maps no URI, when it is malformed (then
    // no value is found either).
    LV2_URID type() const { return whole ? object->body.otype : 0; }

    // The value of the first property `key`: null when there is none, or
    // when it is not of `valueType` or holds fewer than `least` bytes.
    const LV2_Atom* value(LV2_URID key, LV2_URID valueType, uint32_t least) const {
        if (!whole) return nullptr;
        for (uint64_t at = sizeof(LV2_Atom_Object_Body); at < object->atom.size; at = next(at)) {
            const LV2_Atom_Property_Body* p = property(at);
            if (p->key != key) continue;
            return p->value.type == valueType && p->value.size >= least ? &p->value : nullptr;
        }
        return nullptr;
    }

    // An event of a sequence lies whole inside the sequence's body; a
    // host builds the sequence, but a short last event would still be read
    // past its end.
    static bool inside(const LV2_Atom_Sequence* s, const LV2_Atom_Event* e) {
        const auto* end = reinterpret_cast<const uint8_t*>(&s->body) + s->atom.size;
        const auto* at = reinterpret_cast<const uint8_t*>(e);
        return at < end && static_cast<size_t>(end - at) >= sizeof(LV2_Atom_Event) &&
               e->body.size <= static_cast<size_t>(end - at) - sizeof(LV2_Atom_Event);
    }

private:
    // Offsets count from the body's first byte (the id); properties are
    // padded to 8 bytes, the last one perhaps not.
    const LV2_Atom_Property_Body* property(uint64_t at) const {
        return reinterpret_cast<const LV2_Atom_Property_Body*>(reinterpret_cast<const uint8_t*>(&object->body) + at);
    }
    uint64_t next(uint64_t at) const {
        return at + ((sizeof(LV2_Atom_Property_Body) + uint64_t{property(at)->value.size} + 7) & ~uint64_t{7});
    }

    bool propertiesInside() const {
        const uint64_t size = object->atom.size;
        for (uint64_t at = sizeof(LV2_Atom_Object_Body); at < size; at = next(at))
            if (size - at < sizeof(LV2_Atom_Property_Body) ||
                property(at)->value.size > size - at - sizeof(LV2_Atom_Property_Body))
                return false;
        return true;
    }

    const LV2_Atom_Object* object;
    bool whole = false;
};
