// The mixer of the first ALSA card, for machines without a sound server: its capture elements are the
// recording destination's source lines, the card's capture-source choice (or the capture switches) its
// selector.
#pragma once

#include "platform/Mixer.h"

#include <memory>
#include <string>

// Null when the card cannot be opened ("default" reaches the first card; tests name another).
std::shared_ptr<MixerBackend> CreateAlsaMixerBackend(const std::string& cardName = "default");
