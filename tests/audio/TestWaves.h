// Wave images for tests, built byte by byte without the code under test: canonical files, staircase and
// sine signals, and a small RIFF builder for images with any chunks, sizes and orders.
#pragma once

#include "audio/WaveStorage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

void AppendLE16(Bytes& out, std::uint16_t v);
void AppendLE32(Bytes& out, std::uint32_t v);
void AppendText(Bytes& out, const std::string& text);

// An 18-byte PCM format record (cbSize 0) in the order of the file.
TWaveFormatEx PcmFormat(unsigned channels, unsigned rate, unsigned bits);
Bytes FormatBytes(const TWaveFormatEx& format, std::size_t size = 18);

// Builds RIFF images: each call appends a chunk; sizes may be declared falsely on purpose.
class RiffBuilder
{
public:
    explicit RiffBuilder(const std::string& formType = "WAVE") : m_formType(formType) {}
    // Appends a chunk with its body; declaredSize overrides the size field; pad adds the pad byte of an
    // odd body.
    RiffBuilder& chunk(const std::string& id, const Bytes& body, std::int64_t declaredSize = -1,
                       bool pad = true);
    RiffBuilder& fmt(const TWaveFormatEx& format, std::size_t size = 16);
    RiffBuilder& data(const Bytes& samples, std::int64_t declaredSize = -1);
    // The whole image; riffSize overrides the RIFF size field.
    Bytes build(std::int64_t riffSize = -1) const;

private:
    std::string m_formType;
    Bytes m_body;
};

// A canonical 44-byte-header file (16-byte "fmt ").
Bytes CanonicalWave(const TWaveFormatEx& format, const Bytes& samples);

// 16-bit samples, interleaved, little-endian.
Bytes Pcm16(const std::vector<std::int16_t>& samples);
std::vector<std::int16_t> Samples16(const std::uint8_t* data, std::size_t bytes);
// Frame i holds i in the first channel and -i - 1 in the second (mono: i), modulo the 16-bit range.
Bytes Staircase16(std::size_t frames, unsigned channels);
// Frame i holds i mod 256 (and 255 - that in the second channel).
Bytes Staircase8(std::size_t frames, unsigned channels);
// 8- or 16-bit PCM in which every frame differs from its neighbours in every channel and the channels
// differ from each other: a frame too many or too few, or channels swapped, shows even after a fold.
Bytes Ramp(std::size_t frames, unsigned channels, unsigned bits);
Bytes Sine16(std::size_t frames, unsigned channels, double frequency, unsigned rate, double amplitude);

// Loads bytes into a wave as a file would be.
void LoadBytes(TWave& wave, const Bytes& bytes);
std::unique_ptr<TWave> MakeWave(const TWaveFormatEx& format, const Bytes& samples);
Bytes WaveBytes(const TWave& wave);
