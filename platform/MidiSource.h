#pragma once
// The front ends' former name of platform/SoundFont.h (the MIDI source itself is decode/MidiSource.h); goes
// once they include SoundFont.h.

#include "platform/SoundFont.h"
