// The MIDI map: what one MIDI message does to the instrument, on every
// channel alike. Controllers, pitch bend and the notes 36..39 play the
// controller's report (MIDI then counts as a controller that keeps a report
// state, merged with the others); program changes and the notes 48..91 are
// key commands. Everything else is ignored. While keys play notes, every
// note on and off is a note (the voice buttons and key commands stay on
// the window's keys and the controllers) and CC 64 is the sustain pedal;
// the rest reads as before. The map keeps no state: the input gate holds
// MIDI's report state and the notes, so live play, recordings and renders
// read the same messages the same way.
//
// Messages: a status byte 0x80..0xff and its data bytes 0..0x7f, 1..3 bytes
// in all (a system exclusive message is never a whole message here).
// Axis values: report bytes 0..4, -128..127.
#pragma once

class MidiMap {
public:
    enum class Act {
        Nothing,
        Key,         // `key` as a key press
        Axis,        // report byte `axis` (0..4) = `value`
        Press,       // voice button `voice` (0..3) goes down
        Release,     // and up
        ReleaseAll,  // every voice button up (all notes off)
        Rest,        // axes 0..3 and byte 4 back to 0 (reset all controllers)
        NoteOn,      // keys: `note` (0..127) at `velocity` (1..127)
        NoteOff,     // keys: `note` ends
        Pedal,       // keys: the sustain pedal, down when `value` is 1
    };

    struct Effect {
        Act act = Act::Nothing;
        unsigned char key = 0;
        int axis = 0;
        signed char value = 0;
        int voice = 0;
        int note = 0, velocity = 0;
    };

    static constexpr int kVoiceNote = 36;  // notes 36..39: the voice buttons of voices 0..3
    static constexpr int kSustain = 64;    // the sustain pedal's controller, while keys play notes

    // The bytes a whole message with this status byte has, 0 when it is no
    // status byte or opens a message of no fixed length (0xf0 system
    // exclusive, and its end 0xf7 alone).
    static int length(unsigned char status) {
        if (status < 0x80) return 0;
        if (status < 0xf0) return (status & 0xe0) == 0xc0 ? 2 : 3;  // program change, channel pressure: 2
        switch (status) {
        case 0xf0:
        case 0xf7: return 0;
        case 0xf1:
        case 0xf3: return 2;  // time code quarter frame, song select
        case 0xf2: return 3;  // song position
        default: return 1;    // tune request, real-time messages, undefined ones
        }
    }

    // True when `message` is one whole message of `size` bytes.
    static bool whole(const unsigned char* message, int size) {
        if (size < 1 || size > 3 || length(message[0]) != size) return false;
        for (int k = 1; k < size; k++)
            if (message[k] >= 0x80) return false;
        return true;
    }

    // What a whole message does; `keys`: while keys play notes.
    static Effect of(const unsigned char* m, bool keys = false) {
        Effect e;
        unsigned char kind = m[0] & 0xf0;
        if (m[0] >= 0xf0) return e;
        if (kind == 0xc0) {
            if (m[1] <= 9) key(e, static_cast<unsigned char>('0' + m[1]));
            return e;
        }
        if (kind == 0xe0) {
            // 14 bits, centre 8192, to a signed byte: the top 8 bits.
            int bend = (m[1] | (m[2] << 7)) - 8192;
            axis(e, 4, bend >> 6);
            return e;
        }
        if (kind == 0xb0) {
            int v = m[2];
            if (m[1] == 1) axis(e, 0, v);  // a plain keyboard's mod wheel plays voice 0
            else if (m[1] >= 16 && m[1] <= 19) axis(e, m[1] - 16, 2 * (v - 64));
            else if (m[1] == 121) e.act = Act::Rest;
            else if (m[1] == kSustain && keys) {
                e.act = Act::Pedal;
                e.value = v >= 64;
            }
            else if (m[1] == 123) e.act = Act::ReleaseAll;
            return e;
        }
        if (kind != 0x80 && kind != 0x90) return e;
        bool on = kind == 0x90 && m[2] > 0;  // velocity 0 is a note off
        int note = m[1];
        if (keys) {
            e.act = on ? Act::NoteOn : Act::NoteOff;
            e.note = note;
            e.velocity = m[2];
            return e;
        }
        if (note >= kVoiceNote && note < kVoiceNote + 4) {
            e.act = on ? Act::Press : Act::Release;
            e.voice = note - kVoiceNote;
        } else if (on) {
            const char* row = nullptr;
            int first = 0;
            for (const Row& r : kRows)
                if (note >= r.first && note < r.first + r.count) {
                    row = r.keys;
                    first = r.first;
                }
            if (row) key(e, static_cast<unsigned char>(row[note - first]));
        }
        return e;
    }

    // Whether the effect is MIDI playing as a controller (from the first
    // such message on, the gate merges reports); notes played as notes and
    // their pedal are not.
    static bool controls(const Effect& e) {
        return e.act != Act::Nothing && e.act != Act::Key && e.act != Act::NoteOn && e.act != Act::NoteOff &&
               e.act != Act::Pedal;
    }

private:
    // The key commands' notes: each row on consecutive notes from `first`.
    struct Row {
        int first, count;
        const char* keys;
    };
    static constexpr Row kRows[] = {
        {48, 9, "\r\b /qa['z"},  // Return, BackSpace, Space, / q a [ ' z: the bank and its situations
        {60, 9, "wertyuiop"},    // FM depth
        {72, 9, "sdfghjkl;"},    // sensitivity
        {84, 8, "xcvbnm,."},     // bend amount
    };

    static void key(Effect& e, unsigned char k) {
        e.act = Act::Key;
        e.key = k;
    }
    static void axis(Effect& e, int a, int v) {
        e.act = Act::Axis;
        e.axis = a;
        e.value = static_cast<signed char>(v);
    }
};
