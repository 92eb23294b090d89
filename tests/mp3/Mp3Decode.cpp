#include "mp3/Mp3Decode.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <lame.h>
#include <memory>
#include <numbers>

namespace {

struct HipCloser
{
    void operator()(hip_global_flags* hip) const noexcept { hip_decode_exit(hip); }
};

// Layer III bit rates by index, for MPEG-1 and for MPEG-2 and 2.5.
constexpr int Mpeg1Rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
constexpr int Mpeg2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
constexpr int SampleRates[3] = {44100, 48000, 32000};

bool readHeader(const Bytes& file, std::size_t at, Mp3Frame& frame)
{
    if (at + 4 > file.size())
        return false;
    const std::uint32_t h = (std::uint32_t{file[at]} << 24) | (std::uint32_t{file[at + 1]} << 16) |
                            (std::uint32_t{file[at + 2]} << 8) | std::uint32_t{file[at + 3]};
    if ((h >> 21) != 0x7FF)
        return false;
    const unsigned versionBits = (h >> 19) & 3;
    const unsigned layerBits = (h >> 17) & 3;
    const unsigned rateIndex = (h >> 12) & 15;
    const unsigned srIndex = (h >> 10) & 3;
    if (versionBits == 1 || layerBits == 0 || srIndex == 3)
        return false;
    frame.version = versionBits == 3 ? 1 : (versionBits == 2 ? 2 : 25);
    frame.layer = 4 - static_cast<int>(layerBits);
    frame.crc = ((h >> 16) & 1) == 0;
    frame.bitrate = frame.version == 1 ? Mpeg1Rates[rateIndex] : Mpeg2Rates[rateIndex];
    frame.sampleRate = SampleRates[srIndex] / (frame.version == 1 ? 1 : (frame.version == 2 ? 2 : 4));
    const bool padding = ((h >> 9) & 1) != 0;
    frame.privateBit = ((h >> 8) & 1) != 0;
    frame.mode = static_cast<int>((h >> 6) & 3);
    frame.copyright = ((h >> 3) & 1) != 0;
    frame.original = ((h >> 2) & 1) != 0;
    if (frame.layer != 3 || frame.bitrate <= 0)
        return false;
    const std::size_t perFrame = frame.version == 1 ? 144 : 72;
    frame.length = perFrame * static_cast<std::size_t>(frame.bitrate) * 1000 /
                       static_cast<std::size_t>(frame.sampleRate) +
                   (padding ? 1 : 0);
    frame.offset = at;
    return true;
}

} // namespace

FrameWalk WalkFrames(const Bytes& file)
{
    FrameWalk walk;
    std::size_t at = 0;
    Mp3Frame frame;
    while (at < file.size() && readHeader(file, at, frame) && at + frame.length <= file.size()) {
        walk.frames.push_back(frame);
        at += frame.length;
    }
    walk.complete = at == file.size() && !walk.frames.empty();
    return walk;
}

DecodedMp3 DecodeMp3(const Bytes& file)
{
    DecodedMp3 out;
    std::unique_ptr<hip_global_flags, HipCloser> hip(hip_decode_init());
    if (!hip)
        return out;
    std::vector<short> left(FrameSamples * 2);
    std::vector<short> right(FrameSamples * 2);
    mp3data_struct info{};
    Bytes copy = file; // the decoder's declaration wants writable bytes
    bool failed = false;
    const auto take = [&](int n) {
        for (int i = 0; i < n; ++i) {
            out.left.push_back(left[static_cast<std::size_t>(i)]);
            if (info.stereo == 2)
                out.right.push_back(right[static_cast<std::size_t>(i)]);
        }
    };
    // Fed a piece at a time; each call gives back at most one frame, so the buffers above are enough.
    constexpr std::size_t Piece = 512;
    for (std::size_t at = 0; at < copy.size() && !failed; at += Piece) {
        const std::size_t len = std::min(Piece, copy.size() - at);
        int n = hip_decode1_headers(hip.get(), copy.data() + at, len, left.data(), right.data(), &info);
        while (n > 0) {
            take(n);
            n = hip_decode1_headers(hip.get(), copy.data(), 0, left.data(), right.data(), &info);
        }
        failed = n < 0;
    }
    out.ok = !failed && info.header_parsed == 1;
    out.channels = info.stereo;
    out.sampleRate = info.samplerate;
    return out;
}

double ToneAmplitude(const std::vector<std::int16_t>& samples, double frequency, int rate, std::size_t from,
                     std::size_t count)
{
    double s = 0;
    double c = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(from + i) / rate;
        s += samples[from + i] * std::sin(phase);
        c += samples[from + i] * std::cos(phase);
    }
    return 2 * std::hypot(s, c) / static_cast<double>(count);
}

double ResidualRms(const std::vector<std::int16_t>& samples, double frequency, int rate, std::size_t from,
                   std::size_t count)
{
    double s = 0;
    double c = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(from + i) / rate;
        s += samples[from + i] * std::sin(phase);
        c += samples[from + i] * std::cos(phase);
    }
    const double a = 2 * s / static_cast<double>(count);
    const double b = 2 * c / static_cast<double>(count);
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(from + i) / rate;
        const double r = samples[from + i] - a * std::sin(phase) - b * std::cos(phase);
        sum += r * r;
    }
    return std::sqrt(sum / static_cast<double>(count));
}

double Rms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t count)
{
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[from + i]) * samples[from + i];
    return std::sqrt(sum / static_cast<double>(count));
}

Bytes Tones(std::size_t frames, const std::vector<Tone>& channels, int rate)
{
    Bytes out;
    out.reserve(frames * channels.size() * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        for (const Tone& tone : channels) {
            const double value = tone.amplitude * std::sin(2 * std::numbers::pi * tone.frequency *
                                                           static_cast<double>(i) / rate);
            const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value)));
            out.push_back(static_cast<std::uint8_t>(sample));
            out.push_back(static_cast<std::uint8_t>(sample >> 8));
        }
    }
    return out;
}

std::vector<std::int16_t> Samples(const Bytes& pcm)
{
    std::vector<std::int16_t> out(pcm.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    return out;
}

std::pair<int, int> LibraryVersion()
{
    lame_version_t v{};
    get_lame_version_numerical(&v);
    return {v.major, v.minor};
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
