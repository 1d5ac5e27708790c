// A key played as a note, as the input gate hands it to the engine while
// keys play notes: Down sounds `key` (0..127) at `velocity` (1..127) on
// the ratio nume/deno (whole numbers 1..255), Up ends the note of `key`,
// AllUp ends every note. The gate has already turned MIDI's note on and
// off, the sustain pedal and the scale into these.
#pragma once

struct KeyNote {
    enum class Kind { Down, Up, AllUp };
    Kind kind = Kind::AllUp;
    int key = 0;
    int velocity = 0;
    int nume = 1, deno = 1;
};
