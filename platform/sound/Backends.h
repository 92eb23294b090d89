// The real sound backends, as the service front-ends probe them at start and as tests and benchmarks pick
// one directly. Only their factories are public: each backend's own headers stay under its folder
// (pulse/, alsa/), so no library above sees libpulse's or ALSA's headers.
#pragma once

#include "platform/sound/MixerService.h"
#include "platform/sound/WaveInService.h"
#include "platform/sound/WaveOutService.h"

#include <memory>
#include <string>

// Through a PulseAudio (or PipeWire) sound server. Each connects to the user's server (the input uses the
// process's shared connection) and is null when none answers within a short time.
std::shared_ptr<WaveOutBackend> CreatePulseWaveOutBackend();
// One device, recording from the source chosen on the mixer (CaptureSource.h), or from the server's
// default source when none is chosen or the chosen one is gone.
std::shared_ptr<WaveInBackend> CreatePulseWaveInBackend();
// Destination 1, the recording destination, has the server's sources as its source lines (real inputs
// first, then the monitors of the outputs), named as the desktop's sound settings name them; the selector
// chooses the source this program records from.
std::shared_ptr<MixerBackend> CreatePulseMixerBackend();

// Straight to ALSA, for machines without a sound server. Devices open the ALSA device named ("default" for
// the program; tests use "null").
std::shared_ptr<WaveOutBackend> CreateAlsaWaveOutBackend(const std::string& pcmName = "default");
std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName = "default");
// The mixer of the first ALSA card (see alsa/AlsaMixer.h); null when the card cannot be opened. "default"
// reaches the first card, "hw:N" (or "hw:ID") a card by number or identifier; any other name is taken as
// an ALSA control device's ("pulse", for tests).
std::shared_ptr<MixerBackend> CreateAlsaMixerBackend(const std::string& cardName = "default");
