// Sound input straight from ALSA, for machines without a sound server (its plain factory is in
// Backends.h). This header adds what a test of the capture loop needs.
#pragma once

#include "platform/sound/Backends.h"

#include <memory>
#include <string>

class AlsaCaptureCalls; // platform/sound/alsa/AlsaPcm.h

// Devices reading through calls a test supplies (see AlsaCaptureCalls).
std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName,
                                                       std::shared_ptr<AlsaCaptureCalls> calls);
