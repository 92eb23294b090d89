// The per-sample fade formulas of the montage: gains applied in place to 16-bit mono samples.
#pragma once

#include "audio/WaveStorage.h"

#include <cstdint>

// u read as an unsigned 16-bit sample, gain i / m; the result as the 16-bit pattern to store.
std::uint16_t ScaleSample(std::uint16_t u, std::uint32_t i, std::uint32_t m);

// Samples faded for a duration: round(rate x min(duration, ms) / 1000), never more than the wave holds.
std::uint32_t FadeSampleCount(const TWave& wave, std::int32_t ms);

// Linear fades over m samples at the start or the end of the wave (a wave of 16-bit samples).
void ApplyFadeIn(TWave& wave, std::uint32_t m);
void ApplyFadeOut(TWave& wave, std::uint32_t m);

// Mixes the first e samples of b, rising at half weight, into the last samples of a, falling over m.
// The overlap is limited to min(e, m, the two waves' sample counts), so the gains never pass 1 and no
// sample outside either wave is touched.
void ApplyCrossfade(TWave& a, std::uint32_t m, const TWave& b, std::uint32_t e);
