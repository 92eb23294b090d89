// The per-sample fade formulas of the montage. The worked values are computed by hand from the gain rules;
// where a whole range is checked, the expectation comes from the small reference below, written from the
// rules in signed terms. Guard chunks before and after the sample data show any write outside the samples.
#include "montage/Fades.h"

#include "audio/TestWaves.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

const TWaveFormatEx Mono22050 = PcmFormat(1, 22050, 16);
const TWaveFormatEx Mono8000 = PcmFormat(1, 8000, 16);

using Samples = std::vector<std::int16_t>;

std::uint16_t Pattern(std::int16_t s)
{
    return static_cast<std::uint16_t>(s);
}

// Gain i / m on a signed sample: a negative sample is taken one step nearer zero before scaling and
// moved one step back after; division first, then product, rounded to nearest with ties to even.
std::int16_t Scaled(std::int16_t s, std::uint32_t i, std::uint32_t m)
{
    if (s >= 0)
        return static_cast<std::int16_t>(std::nearbyintl(static_cast<long double>(s) / m * i));
    return static_cast<std::int16_t>(std::nearbyintl(static_cast<long double>(s + 1) / m * i) - 1);
}

// One sample of a crossfade: a's sample at distance i from its end, falling over m; b's sample j = e - 1 - i,
// rising over e at half weight.
std::int16_t Mixed(std::int16_t a, std::int16_t b, std::uint32_t i, std::uint32_t m, std::uint32_t e)
{
    const std::uint32_t j = e - 1 - i;
    const auto A =
        static_cast<long long>(std::nearbyintl(static_cast<long double>(a < 0 ? a + 1 : a) / m * i));
    const auto B =
        static_cast<long long>(std::nearbyintl(static_cast<long double>(b < 0 ? b + 1 : b) / e * j));
    const long long halfB = B >= 0 ? B / 2 : -((-B + 1) / 2); // rounded down
    return static_cast<std::int16_t>(halfB + A - ((A < 0 || B < 0) ? 1 : 0));
}

Bytes Guard(const std::string& text)
{
    Bytes out;
    AppendText(out, "INFOICMT");
    AppendLE32(out, static_cast<std::uint32_t>(text.size()));
    AppendText(out, text);
    return out;
}

// A wave whose samples sit between two chunks of known content.
std::unique_ptr<TWave> Guarded(const Samples& samples, const TWaveFormatEx& format = Mono22050)
{
    auto wave = std::make_unique<TWave>();
    LoadBytes(*wave, RiffBuilder()
                         .fmt(format)
                         .chunk("LIST", Guard("avant les echantillons"))
                         .data(Pcm16(samples))
                         .chunk("LIST", Guard("apres les echantillons"))
                         .build());
    return wave;
}

Samples SamplesOf(const TWave& wave)
{
    return Samples16(wave.Data(), wave.DataSize());
}

// The bytes of the image outside the sample data.
Bytes Surroundings(const TWave& wave)
{
    const std::uint8_t* begin = wave.Memory();
    const std::uint8_t* dataBegin = wave.Data();
    const std::uint8_t* dataEnd = dataBegin + wave.DataSize();
    Bytes out(begin, dataBegin);
    out.insert(out.end(), dataEnd, begin + wave.Size());
    return out;
}

Samples Wavy(std::size_t count, int seed)
{
    Samples out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] =
            static_cast<std::int16_t>(static_cast<long long>((i * 7919 + seed * 104729) % 60001) - 30000);
    return out;
}

// ---- ScaleSample ----------------------------------------------------------------------------------

TEST(ScaleSample, GainZeroSilencesPositiveAndGivesMinusOneForNegative)
{
    for (std::uint32_t m : {1U, 4U, 22050U}) {
        EXPECT_EQ(ScaleSample(1000, 0, m), 0) << m;
        EXPECT_EQ(ScaleSample(0, 0, m), 0) << m;
        EXPECT_EQ(ScaleSample(40000, 0, m), 65535) << m;
        EXPECT_EQ(ScaleSample(32768, 0, m), 65535) << m; // -32768
    }
}

TEST(ScaleSample, HalvesRoundToEven)
{
    EXPECT_EQ(ScaleSample(32767, 1, 2), 16384); // 16383.5
    EXPECT_EQ(ScaleSample(32765, 1, 2), 16382); // 16382.5
    EXPECT_EQ(ScaleSample(5, 1, 2), 2);         // 2.5
    EXPECT_EQ(ScaleSample(7, 1, 2), 4);         // 3.5
    // -500 is taken as -499: -249.5 rounds to -250, then one step back.
    EXPECT_EQ(ScaleSample(Pattern(-500), 1, 2), Pattern(-251));
    // -502 is taken as -501: -250.5 rounds to -250.
    EXPECT_EQ(ScaleSample(Pattern(-502), 1, 2), Pattern(-251));
}

TEST(ScaleSample, MinusOneStaysMinusOneAtEveryGain)
{
    const std::pair<std::uint32_t, std::uint32_t> gains[] = {{0, 1}, {1, 1}, {1, 2},
                                                             {3, 4}, {7, 9}, {22049, 22050}};
    for (const auto& [i, m] : gains)
        EXPECT_EQ(ScaleSample(65535, i, m), 65535) << i << "/" << m;
}

TEST(ScaleSample, PartialAndFullGains)
{
    EXPECT_EQ(ScaleSample(10000, 1, 4), 2500);
    EXPECT_EQ(ScaleSample(10000, 3, 4), 7500);
    EXPECT_EQ(ScaleSample(9003, 1, 4), 2251);                     // 2250.75
    EXPECT_EQ(ScaleSample(Pattern(-4000), 3, 4), Pattern(-3000)); // -3999 x 3/4 = -2999.25 -> -2999, then -1
    EXPECT_EQ(ScaleSample(32767, 7, 7), 32767);
    EXPECT_EQ(ScaleSample(32768, 7, 7), 32768); // -32768 keeps its value at full gain
    EXPECT_EQ(ScaleSample(Pattern(-2), 5, 5), Pattern(-2));
}

// ---- FadeSampleCount ------------------------------------------------------------------------------

TEST(FadeSampleCount, RateTimesDurationBoundedByTheWave)
{
    auto threeSeconds = MakeWave(Mono22050, Pcm16(Samples(66150, 100)));
    EXPECT_EQ(FadeSampleCount(*threeSeconds, 1000), 22050U);
    EXPECT_EQ(FadeSampleCount(*threeSeconds, 1500), 33075U);
    EXPECT_EQ(FadeSampleCount(*threeSeconds, 5000), 66150U); // the fade is longer than the clip
    EXPECT_EQ(FadeSampleCount(*threeSeconds, 0), 0U);

    auto at8000 = MakeWave(Mono8000, Pcm16(Samples(16000, 100)));
    EXPECT_EQ(FadeSampleCount(*at8000, 1000), 8000U);
    EXPECT_EQ(FadeSampleCount(*at8000, 3000), 16000U);
}

TEST(FadeSampleCount, ShortClipNeverGivesMoreThanItsSamples)
{
    // 100 samples last 4.535 ms, read as 5 ms, which would be 110 samples.
    auto shortClip = MakeWave(Mono22050, Pcm16(Samples(100, 100)));
    ASSERT_EQ(shortClip->Duration(), 5U);
    EXPECT_EQ(FadeSampleCount(*shortClip, 1000), 100U);
    // 1000 samples last 45.35 ms, read as 45 ms: 992.25 samples.
    auto longer = MakeWave(Mono22050, Pcm16(Samples(1000, 100)));
    EXPECT_EQ(FadeSampleCount(*longer, 1000), 992U);
}

TEST(FadeSampleCount, EmptyOrInvalidWaveGivesZero)
{
    TWave invalid;
    EXPECT_EQ(FadeSampleCount(invalid, 1000), 0U);
    auto empty = MakeWave(Mono22050, Bytes{});
    EXPECT_EQ(FadeSampleCount(*empty, 1000), 0U);
}

// ---- Fade-in and fade-out -------------------------------------------------------------------------

const Samples TenSamples = {1000, -2000, 3000, -4000, 5000, -6000, 7001, -8001, 9003, -10000};

TEST(Fades, FadeOutOverFourOfTenSamples)
{
    auto wave = Guarded(TenSamples);
    const Bytes around = Surroundings(*wave);
    ApplyFadeOut(*wave, 4);
    Samples expected = TenSamples;
    expected[9] = -1;    // -10000 at gain 0
    expected[8] = 2251;  // 9003 x 1/4 = 2250.75
    expected[7] = -4001; // -8000 x 2/4, then one step back
    expected[6] = 5251;  // 7001 x 3/4 = 5250.75
    EXPECT_EQ(SamplesOf(*wave), expected);
    EXPECT_EQ(Surroundings(*wave), around);
}

TEST(Fades, FadeInOverFourOfTenSamples)
{
    auto wave = Guarded(TenSamples);
    const Bytes around = Surroundings(*wave);
    ApplyFadeIn(*wave, 4);
    Samples expected = TenSamples;
    expected[0] = 0;     // gain 0
    expected[1] = -501;  // -1999 / 4 = -499.75 -> -500, then -1
    expected[2] = 1500;  // 3000 x 2/4
    expected[3] = -3000; // -3999 x 3/4 = -2999.25 -> -2999, then -1
    EXPECT_EQ(SamplesOf(*wave), expected);
    EXPECT_EQ(Surroundings(*wave), around);
}

TEST(Fades, ZeroCountChangesNothing)
{
    auto wave = Guarded(TenSamples);
    const Bytes before = WaveBytes(*wave);
    ApplyFadeIn(*wave, 0);
    ApplyFadeOut(*wave, 0);
    EXPECT_EQ(WaveBytes(*wave), before);

    TWave invalid;
    ApplyFadeIn(invalid, 10);
    ApplyFadeOut(invalid, 10);
    EXPECT_EQ(invalid.Size(), 0U);
}

TEST(Fades, CountBeyondTheWaveIsLimitedToItsSamples)
{
    const Samples samples = Wavy(10, 3);
    auto in = Guarded(samples);
    auto out = Guarded(samples);
    const Bytes around = Surroundings(*in);
    ApplyFadeIn(*in, 25);
    ApplyFadeOut(*out, 25);
    Samples expectedIn = samples;
    Samples expectedOut = samples;
    for (std::uint32_t i = 0; i < 10; ++i) {
        expectedIn[i] = Scaled(samples[i], i, 10);
        expectedOut[9 - i] = Scaled(samples[9 - i], i, 10);
    }
    EXPECT_EQ(SamplesOf(*in), expectedIn);
    EXPECT_EQ(SamplesOf(*out), expectedOut);
    EXPECT_EQ(Surroundings(*in), around);
    EXPECT_EQ(Surroundings(*out), around);
}

TEST(Fades, LongFadeFollowsTheGainRuleOnEverySample)
{
    const Samples samples = Wavy(3000, 1);
    auto wave = Guarded(samples);
    ApplyFadeOut(*wave, 2000);
    const Samples result = SamplesOf(*wave);
    ASSERT_EQ(result.size(), samples.size());
    for (std::uint32_t k = 0; k < 1000; ++k)
        ASSERT_EQ(result[k], samples[k]) << k;
    for (std::uint32_t i = 0; i < 2000; ++i)
        ASSERT_EQ(result[2999 - i], Scaled(samples[2999 - i], i, 2000)) << i;
}

// ---- Crossfade ------------------------------------------------------------------------------------

TEST(Crossfade, WorkedSamplesWithFourOfEach)
{
    // a's last four samples a6..a9 and b's first four b0..b3.
    auto a = Guarded({11, 22, 33, 44, 55, 66, 4000, -3000, 1000, 8000});
    auto b = Guarded({100, -600, 2000, 4000, 5000, 6000});
    const Bytes bBefore = WaveBytes(*b);
    ApplyCrossfade(*a, 4, *b, 4);
    // i = 0: A = 0, B = 4000 x 3/4 = 3000 -> 1500.
    // i = 1: A = 1000 x 1/4 = 250, B = 2000 x 2/4 = 1000 -> 500 + 250 = 750.
    // i = 2: A = -2999 x 2/4 = -1499.5 -> -1500, B = -599 x 1/4 = -149.75 -> -150 -> -75 - 1500 - 1.
    // i = 3: A = 4000 x 3/4 = 3000, B = 0 -> 3000.
    EXPECT_EQ(SamplesOf(*a), (Samples{11, 22, 33, 44, 55, 66, 3000, -1576, 750, 1500}));
    EXPECT_EQ(WaveBytes(*b), bBefore);
}

TEST(Crossfade, NegativeSamplesRoundAndStepBack)
{
    // i = 1: ua = -1 gives A = 0; ub = -500 (taken as -499) x 2/4 = -249.5 -> -250, halved -125; less 1.
    auto a = Guarded({0, 0, 0, 0, 0, 0, 0, 0, -1, 0});
    auto b = Guarded({0, 0, -500, -2});
    ApplyCrossfade(*a, 4, *b, 4);
    EXPECT_EQ(SamplesOf(*a)[8], -126);
    // i = 0: A = 0; B = -2 (taken as -1) x 3/4 = -0.75 -> -1, halved rounding down -1; less 1: -2.
    EXPECT_EQ(SamplesOf(*a)[9], -2);
}

TEST(Crossfade, FadeInLongerThanFadeOutOverlapsOnlyTheFadeOut)
{
    // At full gain the samples would pass 32767 if the overlap went beyond m.
    const Samples loud(10, 30000);
    auto a = Guarded(loud);
    auto b = Guarded(Samples(8, 30000));
    const Bytes around = Surroundings(*a);
    ApplyCrossfade(*a, 3, *b, 6);
    Samples expected = loud;
    for (std::uint32_t i = 0; i < 3; ++i)
        expected[9 - i] = Mixed(30000, 30000, i, 3, 3);
    const Samples result = SamplesOf(*a);
    EXPECT_EQ(result, expected);
    for (std::int16_t s : result)
        EXPECT_GE(s, 0);
    EXPECT_EQ(Surroundings(*a), around);
}

TEST(Crossfade, OverlapLimitedToTheOutgoingWave)
{
    const Samples aSamples = {1200, -3400, 5600, -7800};
    const Samples bSamples = Wavy(10, 5);
    auto a = Guarded(aSamples);
    auto b = Guarded(bSamples);
    const Bytes around = Surroundings(*a);
    ApplyCrossfade(*a, 4, *b, 8);
    Samples expected(4);
    for (std::uint32_t i = 0; i < 4; ++i)
        expected[3 - i] = Mixed(aSamples[3 - i], bSamples[3 - i], i, 4, 4);
    EXPECT_EQ(SamplesOf(*a), expected);
    EXPECT_EQ(Surroundings(*a), around);
}

TEST(Crossfade, OverlapLimitedToTheIncomingWave)
{
    const Samples aSamples = Wavy(10, 7);
    const Samples bSamples = {-20000, 15000, 25000};
    auto a = Guarded(aSamples);
    auto b = Guarded(bSamples);
    const Bytes around = Surroundings(*a);
    ApplyCrossfade(*a, 6, *b, 6);
    Samples expected = aSamples;
    // Only b's three samples are there to mix: they land on a's last three, b0 on a7.
    for (std::uint32_t i = 0; i < 3; ++i)
        expected[9 - i] = Mixed(aSamples[9 - i], bSamples[2 - i], i, 6, 3);
    EXPECT_EQ(SamplesOf(*a), expected);
    EXPECT_EQ(Surroundings(*a), around);
}

TEST(Crossfade, NothingToMixChangesNothing)
{
    auto a = Guarded(Wavy(10, 2));
    auto b = Guarded(Wavy(10, 4));
    const Bytes before = WaveBytes(*a);
    ApplyCrossfade(*a, 0, *b, 4);
    ApplyCrossfade(*a, 4, *b, 0);
    TWave invalid;
    ApplyCrossfade(*a, 4, invalid, 4);
    EXPECT_EQ(WaveBytes(*a), before);
    ApplyCrossfade(invalid, 4, *b, 4);
    EXPECT_EQ(invalid.Size(), 0U);
}

TEST(Crossfade, LongOverlapFollowsTheMixRuleOnEverySample)
{
    const Samples aSamples = Wavy(5000, 11);
    const Samples bSamples = Wavy(4000, 13);
    auto a = Guarded(aSamples);
    auto b = Guarded(bSamples);
    ApplyCrossfade(*a, 2205, *b, 2205);
    const Samples result = SamplesOf(*a);
    ASSERT_EQ(result.size(), aSamples.size());
    for (std::uint32_t k = 0; k < 5000 - 2205; ++k)
        ASSERT_EQ(result[k], aSamples[k]) << k;
    for (std::uint32_t i = 0; i < 2205; ++i)
        ASSERT_EQ(result[4999 - i], Mixed(aSamples[4999 - i], bSamples[2204 - i], i, 2205, 2205)) << i;
}

} // namespace
