// The one way MIDI reaches the plugin's engine: a whole message handed to
// the input gate, whose MIDI map turns it into reports and keys.
#pragma once

#include "engine/InputGate.h"

// `message`: one whole MIDI message of `length` bytes (1..3).
inline void playMidi(InputGate& gate, const unsigned char* message, int length) { gate.midi(message, length); }
