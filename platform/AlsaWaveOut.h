// Sound output straight to ALSA, for machines without a sound server.
#pragma once

#include "platform/WaveOut.h"

#include <memory>
#include <string>

// Devices open the ALSA device named ("default" for the program; tests use "null").
std::shared_ptr<WaveOutBackend> CreateAlsaWaveOutBackend(const std::string& pcmName = "default");
