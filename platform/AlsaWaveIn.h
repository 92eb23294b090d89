// Sound input straight from ALSA, for machines without a sound server.
#pragma once

#include "platform/WaveIn.h"

#include <memory>
#include <string>

class AlsaCaptureCalls; // platform/AlsaPcm.h

// Devices open the ALSA capture device named ("default" for the program; tests use "null").
std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName = "default");
// The same, its devices reading through calls a test supplies (see AlsaCaptureCalls).
std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName,
                                                       std::shared_ptr<AlsaCaptureCalls> calls);
