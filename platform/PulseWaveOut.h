// Sound output through a PulseAudio (or PipeWire) sound server.
#pragma once

#include "platform/WaveOut.h"

#include <memory>

// Connects to the user's sound server; null when none answers within a short time.
std::shared_ptr<WaveOutBackend> CreatePulseWaveOutBackend();
