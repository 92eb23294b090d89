// The wave format record as RIFF files and sound devices know it: 18 little-endian bytes, followed in
// memory by cbSize extra bytes.
#pragma once

#include <bit>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "wave images are read in place as little-endian");

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
// The 18-byte format record of a "fmt " chunk, followed in memory by cbSize extra bytes.
struct TWaveFormatEx
{
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);
