#include "montage/Fades.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

std::int64_t roundHalfEven(long double value)
{
    return static_cast<std::int64_t>(std::nearbyintl(value));
}

std::uint16_t load(const std::uint8_t* data, std::uint32_t index)
{
    std::uint16_t u = 0;
    std::memcpy(&u, data + 2 * static_cast<std::size_t>(index), 2);
    return u;
}

void store(std::uint8_t* data, std::uint32_t index, std::int64_t value)
{
    const auto u = static_cast<std::uint16_t>(value); // kept as its 16-bit pattern
    std::memcpy(data + 2 * static_cast<std::size_t>(index), &u, 2);
}

std::uint32_t sampleCount(const TWave& wave)
{
    return wave.DataSize() / 2;
}

// The signed value a gain works on: negative samples are taken one step nearer zero.
long double gainValue(std::uint16_t u)
{
    return u < 32768 ? static_cast<long double>(u) : static_cast<long double>(u) - 65535;
}

} // namespace

std::uint16_t ScaleSample(std::uint16_t u, std::uint32_t i, std::uint32_t m)
{
    if (u < 32768)
        return static_cast<std::uint16_t>(roundHalfEven(static_cast<long double>(u) / m * i));
    const long double v = static_cast<long double>(u) - 65535;
    return static_cast<std::uint16_t>(roundHalfEven(v / m * i) - 1);
}

std::uint32_t FadeSampleCount(const TWave& wave, std::int32_t ms)
{
    const TWaveFormatEx* format = wave.WaveFormat();
    if (!format || ms <= 0)
        return 0;
    const long double d = std::min<long double>(wave.Duration(), ms);
    const std::int64_t count = roundHalfEven(format->nSamplesPerSec * (d / 1000));
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(count, 0, sampleCount(wave)));
}

void ApplyFadeIn(TWave& wave, std::uint32_t m)
{
    m = std::min(m, sampleCount(wave));
    std::uint8_t* data = wave.Data();
    for (std::uint32_t i = 0; i < m; ++i)
        store(data, i, ScaleSample(load(data, i), i, m));
}

void ApplyFadeOut(TWave& wave, std::uint32_t m)
{
    const std::uint32_t n = sampleCount(wave);
    m = std::min(m, n);
    std::uint8_t* data = wave.Data();
    for (std::uint32_t i = 0; i < m; ++i)
        store(data, n - 1 - i, ScaleSample(load(data, n - 1 - i), i, m));
}

void ApplyCrossfade(TWave& a, std::uint32_t m, const TWave& b, std::uint32_t e)
{
    const std::uint32_t na = sampleCount(a);
    const std::uint32_t nb = sampleCount(b);
    e = std::min({e, m, na, nb});
    if (e == 0)
        return;
    std::uint8_t* da = a.Data();
    const std::uint8_t* db = b.Data();
    for (std::uint32_t i = 0; i < e; ++i) {
        const std::uint32_t j = e - 1 - i;
        const std::int64_t A = roundHalfEven(gainValue(load(da, na - 1 - i)) / m * i);
        const std::int64_t B = roundHalfEven(gainValue(load(db, j)) / e * j);
        // B halved, rounding down (an arithmetic shift).
        const std::int64_t half = B >= 0 ? B / 2 : -((-B + 1) / 2);
        store(da, na - 1 - i, half + A - ((A < 0 || B < 0) ? 1 : 0));
    }
}
