// The sustain pedal over the notes keys play: while it is down, a key let
// go goes on sounding until the pedal lifts, or until it is struck again
// (a new note, which its next release ends as any other). Keys 0..127.
#pragma once

class KeyPedal {
public:
    static constexpr int kKeys = 128;

    // A key is struck: what the pedal held of it is the new note now.
    void press(int key) { held[key & 127] = false; }

    // A key is let go: true when its note ends now, false when the pedal
    // holds it.
    bool release(int key) {
        if (down) held[key & 127] = true;
        return !down;
    }

    // The pedal goes down or up; as it lifts, end(key) for every key it held.
    template <class End>
    void set(bool pressed, End end) {
        if (down && !pressed)
            for (int k = 0; k < kKeys; k++)
                if (held[k]) {
                    held[k] = false;
                    end(k);
                }
        down = pressed;
    }

    // Every note has ended: the pedal holds none (and stays where it is).
    void clear() {
        for (bool& h : held) h = false;
    }

private:
    bool down = false;
    bool held[kKeys] = {};
};
