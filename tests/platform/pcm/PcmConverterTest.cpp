#include "platform/pcm/PcmConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// ---- Helpers --------------------------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

// Interleaved samples as integers in the format's own range (0..255 or -32768..32767).
using Samples = std::vector<int>;

Bytes Pack(const Samples& samples, unsigned bits)
{
    Bytes bytes;
    bytes.reserve(samples.size() * (bits / 8));
    for (const int v : samples) {
        if (bits == 8) {
            bytes.push_back(static_cast<std::uint8_t>(v));
        } else {
            const auto u = static_cast<std::uint16_t>(v);
            bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
    }
    return bytes;
}

Samples Unpack(const HeapBlock& block, unsigned bits)
{
    Samples samples;
    const std::uint8_t* p = block.data();
    if (bits == 8) {
        samples.assign(p, p + block.size());
    } else {
        for (std::size_t i = 0; i + 1 < block.size(); i += 2)
            samples.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[i] | (p[i + 1] << 8))));
    }
    return samples;
}

// Converts, expecting success, and returns the output samples.
Samples ConvertOk(const PcmLayout& from, const Samples& in, const PcmLayout& to)
{
    const Bytes bytes = Pack(in, from.bits);
    HeapBlock out;
    EXPECT_TRUE(ConvertPcm(from, bytes.data(), bytes.size(), to, out));
    EXPECT_EQ(out.size() % (to.channels * to.bits / 8), 0u);
    return Unpack(out, to.bits);
}

Samples Interleave(const Samples& left, const Samples& right)
{
    Samples out;
    for (std::size_t i = 0; i < left.size(); ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

// Sample value in [-1, 1) of an integer sample, whatever its size.
double Normalised(int v, unsigned bits)
{
    return bits == 8 ? (v - 128) / 128.0 : v / 32768.0;
}

int Quantised(double x, unsigned bits)
{
    if (bits == 8)
        return std::clamp(static_cast<int>(std::lround(x * 128.0)) + 128, 0, 255);
    return std::clamp(static_cast<int>(std::lround(x * 32768.0)), -32768, 32767);
}

std::vector<double> Channel(const Samples& samples, unsigned channels, unsigned channel, unsigned bits)
{
    std::vector<double> out;
    for (std::size_t i = channel; i < samples.size(); i += channels)
        out.push_back(Normalised(samples[i], bits));
    return out;
}

std::size_t RoundedRatio(std::size_t frames, unsigned inRate, unsigned outRate)
{
    return static_cast<std::size_t>(std::llround(static_cast<double>(frames) * outRate / inRate));
}

long FrameDifference(std::size_t a, std::size_t b)
{
    return static_cast<long>(a) - static_cast<long>(b);
}

struct Tone
{
    double frequency = 1000.0;
    double amplitude = 0.5; // -6 dBFS
    double phase = 0.0;
};

// Whole-frame sines, one tone per channel.
Samples MakeTones(const PcmLayout& layout, double seconds, const std::vector<Tone>& tones)
{
    const auto frames = static_cast<std::size_t>(seconds * layout.rate);
    Samples samples;
    for (std::size_t i = 0; i < frames; ++i) {
        for (unsigned c = 0; c < layout.channels; ++c) {
            const Tone& tone = tones[c];
            const double t = static_cast<double>(i) / layout.rate;
            samples.push_back(
                Quantised(tone.amplitude * std::sin(2 * std::numbers::pi * tone.frequency * t + tone.phase),
                          layout.bits));
        }
    }
    return samples;
}

// The middle of a signal, clear of the resampler's start and end transients.
std::vector<double> Middle(const std::vector<double>& x)
{
    const std::size_t margin = x.size() / 10;
    return {x.begin() + static_cast<std::ptrdiff_t>(margin), x.end() - static_cast<std::ptrdiff_t>(margin)};
}

double Rms(const std::vector<double>& x)
{
    double sum = 0;
    for (const double v : x)
        sum += v * v;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

double Db(double ratio)
{
    return 20 * std::log10(ratio);
}

// Frequency from the first and last upward zero crossings, placed between samples by linear
// interpolation.
double MeasuredFrequency(const std::vector<double>& x, unsigned rate)
{
    double first = -1;
    double last = -1;
    int cycles = -1;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = static_cast<double>(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++cycles;
        }
    }
    if (cycles < 1)
        return 0;
    return cycles * rate / (last - first);
}

// ---- Unsupported layouts, empty and partial input --------------------------------------------

const PcmLayout kValid{2, 44100, 16};

const std::vector<PcmLayout> kUnsupported = {
    {0, 44100, 16}, {3, 44100, 16}, {2, 0, 16},     {2, 999, 16}, {2, 384001, 16},
    {2, 44100, 0},  {2, 44100, 24}, {1, 22050, 32}, {1, 8000, 4},
};

TEST(PcmConverter, IsSupportedPcm_AcceptsOnlyTheHandledRange)
{
    EXPECT_TRUE(IsSupportedPcm({1, 1000, 8}));
    EXPECT_TRUE(IsSupportedPcm({2, 384000, 16}));
    EXPECT_TRUE(IsSupportedPcm({1, 44100, 16}));
    for (const PcmLayout& layout : kUnsupported)
        EXPECT_FALSE(IsSupportedPcm(layout))
            << layout.channels << " ch, " << layout.rate << " Hz, " << layout.bits;
}

TEST(PcmConverter, UnsupportedSpec_OnEitherSide_FailsAndLeavesOutUntouched)
{
    const Bytes in = Pack(Samples(200, 1000), 16);
    for (const PcmLayout& bad : kUnsupported) {
        for (const bool badSource : {true, false}) {
            HeapBlock out(3);
            std::memcpy(out.data(), "abc", 3);
            const std::uint8_t* before = out.data();
            const PcmLayout& from = badSource ? bad : kValid;
            const PcmLayout& to = badSource ? kValid : bad;
            EXPECT_FALSE(ConvertPcm(from, in.data(), in.size(), to, out))
                << (badSource ? "source " : "target ") << bad.channels << " ch, " << bad.rate << " Hz, "
                << bad.bits << " bits";
            ASSERT_EQ(out.size(), 3u);
            EXPECT_EQ(out.data(), before);
            EXPECT_EQ(std::memcmp(out.data(), "abc", 3), 0);
        }
    }
}

TEST(PcmConverter, EmptyOrShorterThanAFrame_GivesEmptyOutput)
{
    const std::array<std::uint8_t, 3> bytes = {1, 2, 3};
    for (const PcmLayout& to : {PcmLayout{1, 44100, 8}, PcmLayout{2, 22050, 16}}) {
        for (const std::size_t size : {std::size_t{0}, std::size_t{3}}) {
            HeapBlock out(7);
            EXPECT_TRUE(ConvertPcm(kValid, bytes.data(), size, to, out))
                << size << " bytes to " << to.rate << " Hz";
            EXPECT_EQ(out.size(), 0u);
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(PcmConverter, TrailingPartialFrame_IsIgnored)
{
    const PcmLayout from{2, 44100, 16};
    Samples in;
    for (int i = 0; i < 3000; ++i)
        in.push_back((i * 37) % 20000 - 10000);
    const Bytes whole = Pack(in, 16);
    Bytes ragged = whole;
    ragged.insert(ragged.end(), {0x7F, 0x7F, 0x80}); // three of the four bytes of a frame

    for (const PcmLayout& to : {PcmLayout{1, 44100, 16}, PcmLayout{2, 44100, 8}, PcmLayout{1, 22050, 16}}) {
        HeapBlock expected;
        HeapBlock got;
        ASSERT_TRUE(ConvertPcm(from, whole.data(), whole.size(), to, expected));
        ASSERT_TRUE(ConvertPcm(from, ragged.data(), ragged.size(), to, got));
        ASSERT_EQ(got.size(), expected.size()) << to.rate << " Hz";
        EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size()), 0) << to.rate << " Hz";
    }
}

// ---- Same rate: exact integer results ------------------------------------------------------

TEST(PcmConverter, StereoToMono_AveragesChannels)
{
    // 16 bits, each channel a staircase of its own that crosses zero: every output value is the
    // floor of the mean, so odd negative sums round down (-3.5 -> -4).
    Samples left;
    Samples right;
    for (int i = 0; i < 2000; ++i) {
        left.push_back(i - 1000);
        right.push_back(777 - 3 * i);
    }
    Samples mono = ConvertOk({2, 44100, 16}, Interleave(left, right), {1, 44100, 16});
    ASSERT_EQ(mono.size(), left.size());
    for (std::size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(mono[i], static_cast<int>(std::floor((left[i] + right[i]) / 2.0))) << "frame " << i;

    // Full scale must not overflow a 16-bit intermediate.
    mono =
        ConvertOk({2, 8000, 16}, {32767, 32767, -32768, -32768, 32767, -32768, -3, -4, 3, 4}, {1, 8000, 16});
    EXPECT_EQ(mono, (Samples{32767, -32768, -1, -4, 3}));

    // 8 bits: the unsigned bytes are averaged.
    left.clear();
    right.clear();
    for (int i = 0; i < 256; ++i) {
        left.push_back(i);
        right.push_back((255 - 3 * i) & 0xFF);
    }
    mono = ConvertOk({2, 11025, 8}, Interleave(left, right), {1, 11025, 8});
    ASSERT_EQ(mono.size(), 256u);
    for (std::size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(mono[i], (left[i] + right[i]) / 2) << "frame " << i;
    EXPECT_EQ(ConvertOk({2, 11025, 8}, {0, 255, 255, 255, 0, 0, 1, 2}, {1, 11025, 8}),
              (Samples{127, 255, 0, 1}));
}

TEST(PcmConverter, MonoToStereo_DuplicatesTheChannel)
{
    Samples in16;
    for (int i = -32768; i < 32768; i += 7)
        in16.push_back(i);
    EXPECT_EQ(ConvertOk({1, 48000, 16}, in16, {2, 48000, 16}), Interleave(in16, in16));

    Samples in8;
    for (int i = 0; i < 256; ++i)
        in8.push_back(i);
    EXPECT_EQ(ConvertOk({1, 8000, 8}, in8, {2, 8000, 8}), Interleave(in8, in8));
}

TEST(PcmConverter, SampleSize_8To16And16To8)
{
    // Every 8-bit value: silence 128 becomes 0, the step is 256.
    Samples all8;
    for (int v = 0; v < 256; ++v)
        all8.push_back(v);
    const Samples wide = ConvertOk({1, 22050, 8}, all8, {1, 22050, 16});
    ASSERT_EQ(wide.size(), 256u);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(wide[static_cast<std::size_t>(v)], (v - 128) * 256) << "byte " << v;

    // Every 16-bit value: the high byte, floored, offset to unsigned.
    Samples all16;
    for (int v = -32768; v < 32768; ++v)
        all16.push_back(v);
    const Samples narrow = ConvertOk({1, 22050, 16}, all16, {1, 22050, 8});
    ASSERT_EQ(narrow.size(), all16.size());
    for (std::size_t i = 0; i < narrow.size(); ++i)
        ASSERT_EQ(narrow[i], static_cast<int>(std::floor(all16[i] / 256.0)) + 128) << "value " << all16[i];
    EXPECT_EQ(ConvertOk({1, 8000, 16}, {-32768, -257, -256, -1, 0, 255, 256, 32767}, {1, 8000, 8}),
              (Samples{0, 126, 127, 127, 128, 128, 129, 255}));

    // Stereo keeps the channels apart.
    EXPECT_EQ(ConvertOk({2, 8000, 8}, {0, 255, 128, 129}, {2, 8000, 16}), (Samples{-32768, 32512, 0, 256}));
}

TEST(PcmConverter, SameRate_ChannelAndSizeChangesCombined)
{
    // Averages are taken at the larger of the two sample sizes.
    Samples left16;
    Samples right16;
    for (int i = 0; i < 65536; i += 3) {
        left16.push_back(i - 32768);
        right16.push_back(32767 - 2 * (i / 3));
    }
    const Samples mono8 = ConvertOk({2, 44100, 16}, Interleave(left16, right16), {1, 44100, 8});
    ASSERT_EQ(mono8.size(), left16.size());
    for (std::size_t i = 0; i < mono8.size(); ++i)
        ASSERT_EQ(mono8[i], static_cast<int>(std::floor((left16[i] + right16[i]) / 512.0)) + 128) << i;

    Samples left8;
    Samples right8;
    for (int i = 0; i < 256; ++i) {
        left8.push_back(i);
        right8.push_back((7 * i + 3) & 0xFF);
    }
    // Widened first, so the half step of an odd sum survives: exactly (a + b - 256) * 128.
    const Samples mono16 = ConvertOk({2, 44100, 8}, Interleave(left8, right8), {1, 44100, 16});
    ASSERT_EQ(mono16.size(), 256u);
    for (std::size_t i = 0; i < mono16.size(); ++i)
        ASSERT_EQ(mono16[i], (left8[i] + right8[i] - 256) * 128) << i;

    Samples wide;
    for (const int v : left8)
        wide.push_back((v - 128) * 256);
    EXPECT_EQ(ConvertOk({1, 44100, 8}, left8, {2, 44100, 16}), Interleave(wide, wide));

    Samples narrow;
    for (const int v : left16)
        narrow.push_back(static_cast<int>(std::floor(v / 256.0)) + 128);
    EXPECT_EQ(ConvertOk({1, 44100, 16}, left16, {2, 44100, 8}), Interleave(narrow, narrow));

    // Stereo 8 <-> stereo 16 and the identity, which must be a plain copy.
    Samples both16;
    for (std::size_t i = 0; i < left8.size(); ++i) {
        both16.push_back((left8[i] - 128) * 256);
        both16.push_back((right8[i] - 128) * 256);
    }
    const Samples stereo8 = Interleave(left8, right8);
    EXPECT_EQ(ConvertOk({2, 44100, 8}, stereo8, {2, 44100, 16}), both16);
    EXPECT_EQ(ConvertOk({2, 44100, 16}, both16, {2, 44100, 8}), stereo8);
    EXPECT_EQ(ConvertOk({2, 44100, 8}, stereo8, {2, 44100, 8}), stereo8);
    const Samples stereo16 = Interleave(left16, right16);
    EXPECT_EQ(ConvertOk({2, 44100, 16}, stereo16, {2, 44100, 16}), stereo16);
}

// ---- Rate changes --------------------------------------------------------------------------

struct ResampleCase
{
    PcmLayout from;
    PcmLayout to;
    double seconds;
};

std::string CaseName(const PcmLayout& layout)
{
    return std::string(layout.channels == 1 ? "m" : "s") + std::to_string(layout.bits) + "_" +
           std::to_string(layout.rate);
}

class PcmConverterSine : public testing::TestWithParam<ResampleCase>
{
};

// A 1 kHz tone at -6 dBFS must come out as the same tone: right length, frequency and level,
// and sample for sample close to the ideal sine at the new rate (which also catches glitches at
// block boundaries and any time shift). Stereo sources carry different tones in the two
// channels: 90 degrees apart when folded to mono, so that the mean has a known level of its
// own, and different frequencies when kept stereo, so that a channel mix-up shows.
TEST_P(PcmConverterSine, KeepsLengthFrequencyAndLevel)
{
    const auto& [from, to, seconds] = GetParam();
    const bool fold = from.channels == 2 && to.channels == 1;
    const std::vector<Tone> tones = fold
                                        ? std::vector<Tone>{{1000, 0.5, 0}, {1000, 0.5, std::numbers::pi / 2}}
                                        : std::vector<Tone>{{1000, 0.5, 0}, {1500, 0.4, 0}};
    const Samples in = MakeTones(from, seconds, tones);
    const std::size_t inFrames = in.size() / from.channels;
    const Samples out = ConvertOk(from, in, to);
    const std::size_t outFrames = out.size() / to.channels;
    EXPECT_LE(std::labs(FrameDifference(outFrames, RoundedRatio(inFrames, from.rate, to.rate))), 2)
        << inFrames << " frames in, " << outFrames << " out";

    for (unsigned c = 0; c < to.channels; ++c) {
        // Mono duplicated to stereo repeats the first tone; folded stereo is the mean.
        Tone expected = from.channels == 1 ? tones[0] : tones[c];
        if (fold)
            expected = {1000, 0.5 * std::cos(std::numbers::pi / 4), std::numbers::pi / 4};

        const std::vector<double> all = Channel(out, to.channels, c, to.bits);
        const std::vector<double> middle = Middle(all);
        EXPECT_NEAR(MeasuredFrequency(middle, to.rate), expected.frequency, expected.frequency * 0.002)
            << "channel " << c;
        EXPECT_NEAR(Db(Rms(middle) / (expected.amplitude / std::numbers::sqrt2)), 0.0, 0.2)
            << "channel " << c;

        const std::size_t margin = all.size() / 10;
        double error = 0;
        for (std::size_t i = margin; i + margin < all.size(); ++i) {
            const double t = static_cast<double>(i) / to.rate;
            const double ideal =
                expected.amplitude * std::sin(2 * std::numbers::pi * expected.frequency * t + expected.phase);
            error = std::max(error, std::abs(all[i] - ideal));
        }
        // A few quantisation steps of the coarser of the two formats.
        const double step = std::min(from.bits, to.bits) == 8 ? 1 / 128.0 : 1 / 32768.0;
        EXPECT_LT(error, 4 * step + 1e-3) << "channel " << c;
    }

    if (from.channels == 1 && to.channels == 2) {
        for (std::size_t i = 0; i + 1 < out.size(); i += 2)
            ASSERT_EQ(out[i], out[i + 1]) << "frame " << i / 2;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PcmConverter, PcmConverterSine,
    testing::Values(
        ResampleCase{{1, 44100, 16}, {1, 22050, 16}, 0.5}, ResampleCase{{2, 44100, 16}, {1, 22050, 16}, 0.5},
        ResampleCase{{1, 22050, 16}, {1, 44100, 16}, 0.5}, ResampleCase{{2, 22050, 16}, {2, 44100, 16}, 0.5},
        // Longer than one input block; each block needs several resampler calls.
        ResampleCase{{1, 8000, 16}, {1, 48000, 16}, 9.0}, ResampleCase{{1, 8000, 16}, {2, 48000, 16}, 0.5},
        ResampleCase{{2, 48000, 16}, {2, 11025, 16}, 1.5}, // crosses a block boundary
        ResampleCase{{2, 48000, 16}, {1, 11025, 8}, 0.5}, ResampleCase{{1, 11025, 8}, {2, 44100, 16}, 0.5},
        ResampleCase{{2, 22050, 8}, {1, 8000, 8}, 0.5}),
    [](const testing::TestParamInfo<ResampleCase>& info) {
        return CaseName(info.param.from) + "_to_" + CaseName(info.param.to);
    });

TEST(PcmConverter, Resampling_IsDeterministic)
{
    const PcmLayout from{2, 44100, 16};
    Samples in = MakeTones(from, 1.0, {{1000, 0.5, 0}, {3000, 0.3, 1}});
    // Some broadband content, where rounding differences would show first.
    unsigned seed = 12345;
    for (int& v : in) {
        seed = seed * 1103515245u + 12345u;
        v = std::clamp(v + static_cast<int>((seed >> 16) % 2001) - 1000, -32768, 32767);
    }
    const Bytes bytes = Pack(in, 16);

    for (const PcmLayout& to : {PcmLayout{1, 22050, 16}, PcmLayout{2, 48000, 8}}) {
        HeapBlock first;
        HeapBlock second;
        ASSERT_TRUE(ConvertPcm(from, bytes.data(), bytes.size(), to, first));
        // Something different in between, so that leftover state would show.
        HeapBlock other;
        ASSERT_TRUE(ConvertPcm(from, bytes.data(), bytes.size() / 3, PcmLayout{2, 8000, 16}, other));
        ASSERT_TRUE(ConvertPcm(from, bytes.data(), bytes.size(), to, second));
        ASSERT_EQ(first.size(), second.size());
        EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size()), 0) << to.rate << " Hz";
    }
}

// Each thread keeps its resampler between conversions at the same rates: what it gives after another
// signal must be what a resampler made for this one gives.
TEST(PcmConverter, Resampling_AfterAnotherSignalGivesWhatAFreshResamplerGives)
{
    const PcmLayout from{2, 44100, 16};
    const PcmLayout to{1, 22050, 16};
    const Bytes bytes = Pack(MakeTones(from, 1.0, {{1000, 0.5, 0}, {3000, 0.3, 1}}), 16);
    HeapBlock fresh;
    bool freshDone = false;
    std::thread([&] { freshDone = ConvertPcm(from, bytes.data(), bytes.size(), to, fresh); }).join();
    ASSERT_TRUE(freshDone);
    HeapBlock other;
    HeapBlock again;
    ASSERT_TRUE(ConvertPcm(from, bytes.data() + 4000, bytes.size() / 2, to, other));
    ASSERT_TRUE(ConvertPcm(from, bytes.data(), bytes.size(), to, again));
    ASSERT_EQ(fresh.size(), again.size());
    EXPECT_EQ(std::memcmp(fresh.data(), again.data(), fresh.size()), 0);
}

// Resampled values are rounded to the nearest step, not truncated: a constant level comes out
// as the nearest 8-bit value, on either side of silence (the same-rate path floors instead).
TEST(PcmConverter, Resampling_RoundsToTheNearestStep)
{
    struct Level
    {
        int in16;
        int out8; // round(in16 / 256) + 128
    };
    const std::vector<Level> levels = {{1000, 132}, {-1000, 124}, {230, 129},
                                       {-230, 127}, {25, 128},    {-25, 128}};
    for (const Level& level : levels) {
        for (const auto& [inRate, outRate] : {std::pair{44100u, 48000u}, std::pair{22050u, 8000u}}) {
            const Samples out = ConvertOk({1, inRate, 16}, Samples(inRate / 5, level.in16), {1, outRate, 8});
            ASSERT_GT(out.size(), 100u);
            const std::size_t margin = out.size() / 4;
            for (std::size_t i = margin; i + margin < out.size(); ++i)
                ASSERT_EQ(out[i], level.out8)
                    << level.in16 << " at " << inRate << " -> " << outRate << ", frame " << i;
        }
    }

    // 8 to 16 bits: each step lands exactly.
    for (const int v : {0, 1, 127, 129, 255}) {
        const Samples out = ConvertOk({1, 11025, 8}, Samples(2205, v), {1, 44100, 16});
        const std::size_t margin = out.size() / 4;
        for (std::size_t i = margin; i + margin < out.size(); ++i)
            ASSERT_EQ(out[i], (v - 128) * 256) << "byte " << v << ", frame " << i;
    }
}

// A full-scale square overshoots when band-limited: the overshoot must be clipped, never wrapped
// round to the other sign. Away from the edges every sample keeps the sign of the input.
TEST(PcmConverter, Resampling_FullScaleSquare_ClipsWithoutWrapping)
{
    constexpr std::size_t kHalfPeriod = 22; // about 1 kHz at 44.1 kHz
    for (const unsigned bits : {16u, 8u}) {
        const PcmLayout from{1, 44100, bits};
        const int high = bits == 16 ? 32767 : 255;
        const int low = bits == 16 ? -32768 : 0;
        Samples in;
        for (std::size_t i = 0; i < 22050; ++i)
            in.push_back((i / kHalfPeriod) % 2 == 0 ? high : low);

        for (const PcmLayout& to : {PcmLayout{1, 48000, bits}, PcmLayout{2, 22050, bits}}) {
            const Samples out = ConvertOk(from, in, to);
            const std::size_t frames = out.size() / to.channels;
            ASSERT_GT(frames, 1000u);
            EXPECT_NE(std::find(out.begin(), out.end(), high), out.end()) << "no clipping exercised";
            EXPECT_NE(std::find(out.begin(), out.end(), low), out.end()) << "no clipping exercised";

            const double halfPeriod = static_cast<double>(kHalfPeriod) / from.rate; // seconds
            const double guard = 4.0 / to.rate;
            std::size_t checked = 0;
            for (std::size_t j = 100; j + 100 < frames; ++j) {
                // Input edges fall half way between the samples on either side of them.
                const double t = (static_cast<double>(j) / to.rate) + 0.5 / from.rate;
                const double position = std::fmod(t, halfPeriod);
                if (position < guard || position > halfPeriod - guard)
                    continue;
                const bool positive = static_cast<long>(t / halfPeriod) % 2 == 0;
                for (unsigned c = 0; c < to.channels; ++c) {
                    const double v = Normalised(out[j * to.channels + c], bits);
                    ASSERT_TRUE(positive ? v > 0.5 : v < -0.5)
                        << bits << " bits to " << to.rate << " Hz, frame " << j << ": " << v;
                }
                ++checked;
            }
            EXPECT_GT(checked, frames / 5);
        }
    }
}

// ---- Every format to every format ----------------------------------------------------------

std::vector<PcmLayout> AllFormats()
{
    std::vector<PcmLayout> formats;
    for (const unsigned channels : {1u, 2u})
        for (const unsigned bits : {8u, 16u})
            for (const unsigned rate : {8000u, 11025u, 22050u, 44100u, 48000u})
                formats.push_back({channels, rate, bits});
    return formats;
}

class PcmConverterPairs : public testing::TestWithParam<std::tuple<PcmLayout, PcmLayout>>
{
};

TEST_P(PcmConverterPairs, ConvertsToWholeFramesOfTheExpectedLengthAndLevel)
{
    const auto& [from, to] = GetParam();
    const Samples in = MakeTones(from, 0.2, {{1000, 0.5, 0}, {1000, 0.5, 0}});
    const Bytes bytes = Pack(in, from.bits);
    HeapBlock out;
    ASSERT_TRUE(ConvertPcm(from, bytes.data(), bytes.size(), to, out));
    const std::size_t frameBytes = to.channels * to.bits / 8;
    ASSERT_EQ(out.size() % frameBytes, 0u);

    const std::size_t inFrames = in.size() / from.channels;
    const std::size_t outFrames = out.size() / frameBytes;
    EXPECT_LE(std::labs(FrameDifference(outFrames, RoundedRatio(inFrames, from.rate, to.rate))), 2);

    // Catches a mismatched sample size or channel layout, which would garble the level.
    const Samples samples = Unpack(out, to.bits);
    for (unsigned c = 0; c < to.channels; ++c)
        EXPECT_NEAR(Db(Rms(Middle(Channel(samples, to.channels, c, to.bits))) / (0.5 / std::numbers::sqrt2)),
                    0.0, 0.3)
            << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(PcmConverter, PcmConverterPairs,
                         testing::Combine(testing::ValuesIn(AllFormats()), testing::ValuesIn(AllFormats())),
                         [](const testing::TestParamInfo<std::tuple<PcmLayout, PcmLayout>>& info) {
                             return CaseName(std::get<0>(info.param)) + "_to_" +
                                    CaseName(std::get<1>(info.param));
                         });

} // namespace
