// Sound input through a PulseAudio (or PipeWire) sound server: one device, recording from the source
// chosen on the mixer (CaptureSource.h), or from the server's default source when none is chosen or the
// chosen one is gone.
#pragma once

#include "platform/WaveIn.h"

#include <memory>

// Uses the process's connection to the user's sound server; null when none answers within a short time.
std::shared_ptr<WaveInBackend> CreatePulseWaveInBackend();
