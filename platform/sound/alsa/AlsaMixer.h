// The mixer of the first ALSA card, for machines without a sound server: its capture elements are the
// recording destination's source lines, the card's capture-source choice (or the capture switches) its
// selector.
//
// One mixer device with two destinations: 0 "Lecture", the card's master playback volume and switch
// (the "Master" element, else the first one with a playback volume), without source lines; 1
// "Enregistrement", whose source lines are the capture elements (named as the card names them, each with
// its capture volume on the 0..65535 scale and its capture switch as the mute: muted when off), followed
// by the choices of the card's capture-source element that no capture element stands for. The
// selector's items are the source lines, in reverse order: selecting one sets the capture-source element
// to its choice, or, on a card without one, switches its capture on and the others' off.
//
// Notifications: the open mixer lists ALSA's poll descriptors; HandleEvents reads the card's events and
// tells of the controls (and lines) whose element changed. Its factory is in Backends.h; this header
// holds what its tests check alone.
#pragma once

#include "platform/sound/Backends.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A source line of the recording destination: the capture element it reads (its position among the
// capture elements, -1 for none) and the choice of the capture-source element that selects it (-1:
// none).
struct AlsaRecordingSource
{
    std::string name;
    int element = -1;
    int choice = -1;

    bool operator==(const AlsaRecordingSource&) const = default;
};

// The capture elements in order, each given the choice of the same name (letter case aside), then the
// choices left over.
std::vector<AlsaRecordingSource> AlsaRecordingSources(const std::vector<std::string>& captureElements,
                                                      const std::vector<std::string>& sourceChoices);

// An element's volume between its bounds on the mixer's 0..65535 scale, and back; rounded, clamped.
std::uint32_t AlsaVolumeToMixer(long value, long minimum, long maximum);
long MixerVolumeToAlsa(std::uint32_t value, long minimum, long maximum);
