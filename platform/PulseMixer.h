// The mixer of a PulseAudio (or PipeWire) sound server: destination 1, the recording destination, has the
// server's sources as its source lines (real inputs first, then the monitors of the outputs), named as the
// desktop's sound settings name them; the selector chooses the source this program records from.
#pragma once

#include "platform/Mixer.h"

#include <memory>

// Connects to the user's sound server; null when none answers within a short time.
std::shared_ptr<MixerBackend> CreatePulseMixerBackend();
