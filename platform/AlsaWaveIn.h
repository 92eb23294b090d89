// Sound input straight from ALSA, for machines without a sound server.
#pragma once

#include "platform/WaveIn.h"

#include <memory>
#include <string>

// Devices open the ALSA capture device named ("default" for the program; tests use "null").
std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName = "default");
