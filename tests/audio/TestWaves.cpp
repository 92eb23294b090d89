#include "audio/TestWaves.h"

#include <cmath>
#include <cstring>
#include <numbers>

void AppendLE16(Bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void AppendLE32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

TWaveFormatEx PcmFormat(unsigned channels, unsigned rate, unsigned bits)
{
    TWaveFormatEx f{};
    f.wFormatTag = 1;
    f.nChannels = static_cast<std::uint16_t>(channels);
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = static_cast<std::uint16_t>(bits);
    f.cbSize = 0;
    return f;
}

Bytes FormatBytes(const TWaveFormatEx& format, std::size_t size)
{
    Bytes out;
    AppendLE16(out, format.wFormatTag);
    AppendLE16(out, format.nChannels);
    AppendLE32(out, format.nSamplesPerSec);
    AppendLE32(out, format.nAvgBytesPerSec);
    AppendLE16(out, format.nBlockAlign);
    AppendLE16(out, format.wBitsPerSample);
    AppendLE16(out, format.cbSize);
    out.resize(size, 0);
    return out;
}

RiffBuilder& RiffBuilder::chunk(const std::string& id, const Bytes& body, std::int64_t declaredSize, bool pad)
{
    AppendText(m_body, id);
    AppendLE32(m_body, declaredSize >= 0 ? static_cast<std::uint32_t>(declaredSize)
                                         : static_cast<std::uint32_t>(body.size()));
    m_body.insert(m_body.end(), body.begin(), body.end());
    if (pad && (body.size() & 1U))
        m_body.push_back(0);
    return *this;
}

RiffBuilder& RiffBuilder::fmt(const TWaveFormatEx& format, std::size_t size)
{
    return chunk("fmt ", FormatBytes(format, size));
}

RiffBuilder& RiffBuilder::data(const Bytes& samples, std::int64_t declaredSize)
{
    return chunk("data", samples, declaredSize);
}

Bytes RiffBuilder::build(std::int64_t riffSize) const
{
    Bytes out;
    AppendText(out, "RIFF");
    AppendLE32(out, riffSize >= 0 ? static_cast<std::uint32_t>(riffSize)
                                  : static_cast<std::uint32_t>(4 + m_body.size()));
    AppendText(out, m_formType);
    out.insert(out.end(), m_body.begin(), m_body.end());
    return out;
}

Bytes CanonicalWave(const TWaveFormatEx& format, const Bytes& samples)
{
    return RiffBuilder().fmt(format, 16).data(samples).build();
}

Bytes Pcm16(const std::vector<std::int16_t>& samples)
{
    Bytes out;
    out.reserve(samples.size() * 2);
    for (std::int16_t s : samples)
        AppendLE16(out, static_cast<std::uint16_t>(s));
    return out;
}

std::vector<std::int16_t> Samples16(const std::uint8_t* data, std::size_t bytes)
{
    std::vector<std::int16_t> out(bytes / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return out;
}

Bytes Staircase16(std::size_t frames, unsigned channels)
{
    std::vector<std::int16_t> s;
    s.reserve(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        s.push_back(static_cast<std::int16_t>(i));
        if (channels == 2)
            s.push_back(static_cast<std::int16_t>(-static_cast<long>(i) - 1));
    }
    return Pcm16(s);
}

Bytes Staircase8(std::size_t frames, unsigned channels)
{
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(static_cast<std::uint8_t>(i));
        if (channels == 2)
            out.push_back(static_cast<std::uint8_t>(255 - (i & 0xFF)));
    }
    return out;
}

Bytes Ramp(std::size_t frames, unsigned channels, unsigned bits)
{
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i)
        for (unsigned c = 0; c < channels; ++c) {
            const auto v = static_cast<std::uint32_t>(i * (3 + 2 * c) + 17 * c);
            if (bits == 8)
                out.push_back(static_cast<std::uint8_t>(v));
            else
                AppendLE16(out, static_cast<std::uint16_t>(v * 41));
        }
    return out;
}

Bytes Sine16(std::size_t frames, unsigned channels, double frequency, unsigned rate, double amplitude)
{
    std::vector<std::int16_t> s;
    s.reserve(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * 32767.0 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
        for (unsigned c = 0; c < channels; ++c)
            s.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    return Pcm16(s);
}

void LoadBytes(TWave& wave, const Bytes& bytes)
{
    TBytesView view(bytes.data(), bytes.size());
    wave.LoadFromStream(view);
}

std::unique_ptr<TWave> MakeWave(const TWaveFormatEx& format, const Bytes& samples)
{
    auto wave = std::make_unique<TWave>();
    LoadBytes(*wave, CanonicalWave(format, samples));
    return wave;
}

Bytes WaveBytes(const TWave& wave)
{
    return Bytes(wave.Memory(), wave.Memory() + wave.Size());
}
