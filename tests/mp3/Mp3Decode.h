// Reading MP3 files back for the tests: the frame headers walked one by one from the first byte, and the
// sound decoded with the encoder library's own decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Mp3Frame
{
    int version = 0; // 1 (MPEG-1), 2 (MPEG-2) or 25 (MPEG-2.5)
    int layer = 0;
    bool crc = false; // protected by a CRC (the protection bit cleared)
    int bitrate = 0;  // kbit/s
    int sampleRate = 0;
    bool privateBit = false;
    int mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool copyright = false;
    bool original = false;
    std::size_t offset = 0;
    std::size_t length = 0;
};

// The frames of a file made of MP3 frames only, each header read where the previous frame ends.
// complete is false when some bytes are not a frame (the walk stops there).
struct FrameWalk
{
    std::vector<Mp3Frame> frames;
    bool complete = false;
};
FrameWalk WalkFrames(const Bytes& file);

struct DecodedMp3
{
    bool ok = false; // the decoder took every byte without an error
    int channels = 0;
    int sampleRate = 0;
    std::vector<std::int16_t> left;
    std::vector<std::int16_t> right; // empty for mono
};
DecodedMp3 DecodeMp3(const Bytes& file);

// The samples before the first input sample in what the decoder gives back: the encoder's delay (576)
// plus the decoder's (529), as the library documents them.
constexpr std::size_t CodecDelay = 1105;
constexpr std::size_t FrameSamples = 1152; // per channel, MPEG-1 layer III

// Amplitude of the frequency in samples [from, from + count) (count covering whole cycles).
double ToneAmplitude(const std::vector<std::int16_t>& samples, double frequency, int rate, std::size_t from,
                     std::size_t count);
// Root mean square of what is left once that tone is taken out, over the same span.
double ResidualRms(const std::vector<std::int16_t>& samples, double frequency, int rate, std::size_t from,
                   std::size_t count);
double Rms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t count);

// 16-bit little-endian frames of one tone per channel (frequency in Hz, peak amplitude), starting at phase 0.
struct Tone
{
    double frequency;
    double amplitude;
};
Bytes Tones(std::size_t frames, const std::vector<Tone>& channels, int rate = 44100);
std::vector<std::int16_t> Samples(const Bytes& pcm);

// The library's release numbers, read directly.
std::pair<int, int> LibraryVersion();

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
