// The PCM format table, the format and time texts, the peak level and the conversion entry point.
#include "audio/TestWaves.h"
#include "platform/io/LocaleSeparators.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class WithSeparators
{
public:
    WithSeparators(const char* decimal, const char* time)
    {
        SetLocaleSeparatorsOverride(LocaleSeparators{decimal, time});
    }
    ~WithSeparators() { SetLocaleSeparatorsOverride(std::nullopt); }
    WithSeparators(const WithSeparators&) = delete;
    WithSeparators& operator=(const WithSeparators&) = delete;
};

struct PcmRowCase
{
    TPCMFormat pcm;
    unsigned channels, rate, bits;
};

class PcmTableTest : public testing::TestWithParam<PcmRowCase>
{
};

TEST_P(PcmTableTest, FormatAndRecordAgree)
{
    const PcmRowCase& row = GetParam();
    TWaveFormatEx record{};
    PCMFormatToWaveFormat(record, row.pcm);
    EXPECT_EQ(record.wFormatTag, 1);
    EXPECT_EQ(record.nChannels, row.channels);
    EXPECT_EQ(record.nSamplesPerSec, row.rate);
    EXPECT_EQ(record.wBitsPerSample, row.bits);
    EXPECT_EQ(record.nBlockAlign, row.channels * row.bits / 8);
    EXPECT_EQ(record.nAvgBytesPerSec, row.rate * row.channels * row.bits / 8);
    EXPECT_EQ(record.cbSize, 0);
    EXPECT_EQ(WaveFormatToPCMFormat(&record), row.pcm);
    record.wFormatTag = 3;
    EXPECT_EQ(WaveFormatToPCMFormat(&record), nonePCM);
}

INSTANTIATE_TEST_SUITE_P(
    AllTwenty, PcmTableTest,
    testing::Values(PcmRowCase{Mono8Bit8000Hz, 1, 8000, 8}, PcmRowCase{Stereo8bit8000Hz, 2, 8000, 8},
                    PcmRowCase{Mono16bit8000Hz, 1, 8000, 16}, PcmRowCase{Stereo16bit8000Hz, 2, 8000, 16},
                    PcmRowCase{Mono8bit11025Hz, 1, 11025, 8}, PcmRowCase{Stereo8bit11025Hz, 2, 11025, 8},
                    PcmRowCase{Mono16bit11025Hz, 1, 11025, 16}, PcmRowCase{Stereo16bit11025Hz, 2, 11025, 16},
                    PcmRowCase{Mono8bit22050Hz, 1, 22050, 8}, PcmRowCase{Stereo8bit22050Hz, 2, 22050, 8},
                    PcmRowCase{Mono16bit22050Hz, 1, 22050, 16}, PcmRowCase{Stereo16bit22050Hz, 2, 22050, 16},
                    PcmRowCase{Mono8bit44100Hz, 1, 44100, 8}, PcmRowCase{Stereo8bit44100Hz, 2, 44100, 8},
                    PcmRowCase{Mono16bit44100Hz, 1, 44100, 16}, PcmRowCase{Stereo16bit44100Hz, 2, 44100, 16},
                    PcmRowCase{Mono8bit48000Hz, 1, 48000, 8}, PcmRowCase{Stereo8bit48000Hz, 2, 48000, 8},
                    PcmRowCase{Mono16bit48000Hz, 1, 48000, 16},
                    PcmRowCase{Stereo16bit48000Hz, 2, 48000, 16}));

TEST(PcmTable, StoredNumbersAreFixed)
{
    EXPECT_EQ(static_cast<int>(Stereo16bit44100Hz), 16);
    EXPECT_EQ(static_cast<int>(Mono16bit22050Hz), 11);
    EXPECT_EQ(static_cast<int>(Stereo16bit48000Hz), 20);
}

TEST(PcmTable, NoneAndUnknownFormats)
{
    TWaveFormatEx record = PcmFormat(2, 44100, 16);
    const TWaveFormatEx before = record;
    PCMFormatToWaveFormat(record, nonePCM);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_EQ(WaveFormatToPCMFormat(nullptr), nonePCM);
    EXPECT_EQ(WaveFormatToPCMFormat(&before), Stereo16bit44100Hz);
    const TWaveFormatEx odd = PcmFormat(2, 32000, 16);
    EXPECT_EQ(WaveFormatToPCMFormat(&odd), nonePCM);
    const TWaveFormatEx deep = PcmFormat(1, 44100, 24);
    EXPECT_EQ(WaveFormatToPCMFormat(&deep), nonePCM);
    TWaveFormatEx filled{};
    EXPECT_THROW(FillPCMFormat(filled, true, 5, true), std::out_of_range);
    FillPCMFormat(filled, true, 4, false);
    EXPECT_EQ(WaveFormatToPCMFormat(&filled), Stereo8bit48000Hz);
}

TEST(WaveFormatDescription, UsesLocaleDecimalSeparatorAndChannelNames)
{
    const WithSeparators french(",", ":");
    TWaveFormatEx f = PcmFormat(2, 44100, 16);
    EXPECT_EQ(WaveFormatDescription(&f), "PCM 44,100 kHz, 16 Bit, Stereo");
    f = PcmFormat(1, 11025, 8);
    EXPECT_EQ(WaveFormatDescription(&f), "PCM 11,025 kHz, 8 Bit, Mono");
    f = PcmFormat(6, 48000, 16);
    EXPECT_EQ(WaveFormatDescription(&f), "PCM 48,000 kHz, 16 Bit, 6 Ch");
    f.wFormatTag = 3;
    f.nChannels = 2;
    f.wBitsPerSample = 32;
    EXPECT_EQ(WaveFormatDescription(&f), "48,000 kHz, 32 Bit, Stereo");
    const WithSeparators english(".", ":");
    f = PcmFormat(1, 8000, 16);
    EXPECT_EQ(WaveFormatDescription(&f), "PCM 8.000 kHz, 16 Bit, Mono");
}

TEST(WaveBitRateAndDuration, RoundToNearest)
{
    TWaveFormatEx f = PcmFormat(2, 44100, 16);
    EXPECT_EQ(WaveBitRate(&f), 1411); // 1411.2
    f = PcmFormat(1, 11025, 8);
    EXPECT_EQ(WaveBitRate(&f), 88); // 88.2
    f = PcmFormat(1, 8000, 16);
    EXPECT_EQ(WaveDuration(&f, 16000), 1000u);
    EXPECT_EQ(WaveDuration(&f, 24), 2u); // 1.5 ms rounds up
    EXPECT_EQ(WaveDuration(&f, 23), 1u);
    EXPECT_EQ(WaveDuration(&f, 0xFFFFFFFF), 268435456u);
    f.nAvgBytesPerSec = 0;
    EXPECT_EQ(WaveDuration(&f, 16000), 0u);
    f.nAvgBytesPerSec = 1;
    EXPECT_EQ(WaveDuration(&f, 0xFFFFFFFF), 0xFFFFFFFFu); // saturates instead of wrapping
}

struct TimeCase
{
    std::uint32_t ms;
    unsigned style;
    const char* text;
};

class MsToTimeStringTest : public testing::TestWithParam<TimeCase>
{
};

TEST_P(MsToTimeStringTest, Formats)
{
    const WithSeparators french(",", ":");
    EXPECT_EQ(MsToTimeString(GetParam().ms, GetParam().style), GetParam().text);
}

// 3723450 ms is 1 h 2 min 3.45 s.
INSTANTIATE_TEST_SUITE_P(Styles, MsToTimeStringTest,
                         testing::Values(TimeCase{3723450, 0, "1:02:03,45"}, TimeCase{3723450, 1, "1:02:03"},
                                         TimeCase{3723450, 2, "62:03,45"}, TimeCase{3723450, 3, "62:03"},
                                         TimeCase{3723450, 4, "3723,45"}, TimeCase{3723450, 5, "3723"},
                                         TimeCase{3723450, 8, "3723450"}, TimeCase{3723450, 99, "3723450"},
                                         TimeCase{59990, 6, "59,99"}, TimeCase{60000, 6, "1:00,00"},
                                         TimeCase{3600000, 7, "1:00:00"}, TimeCase{3600000, 6, "1:00:00,00"},
                                         TimeCase{61000, 7, "1:01"}, TimeCase{999, 7, "0"},
                                         TimeCase{9, 6, "0,00"}, TimeCase{4294967295u, 0, "1193:02:47,29"}));

TEST(MsToTimeString, FollowsOtherSeparators)
{
    const WithSeparators other(".", "h");
    EXPECT_EQ(MsToTimeString(3723450, 0), "1h02h03.45");
}

TEST(PeakLevel, EightBitCountsUpperHalfOnly)
{
    const Bytes silence(100, 128);
    EXPECT_EQ(PeakLevel(silence.data(), 100, 8), 0);
    const Bytes low = {0, 10, 127};
    EXPECT_EQ(PeakLevel(low.data(), 3, 8), 0);
    const Bytes full = {128, 255, 0};
    EXPECT_EQ(PeakLevel(full.data(), 3, 8), 100);
    const Bytes half = {128, 191};
    EXPECT_EQ(PeakLevel(half.data(), 2, 8), 49); // 63 * 100 / 127
    EXPECT_EQ(PeakLevel(nullptr, 0, 8), 0);
}

TEST(PeakLevel, SixteenBitCountsPositiveSamplesOfWholePairs)
{
    const Bytes square = Pcm16({32767, -32768, 32767, -32768});
    EXPECT_EQ(PeakLevel(square.data(), static_cast<std::uint32_t>(square.size()), 16), 100);
    const Bytes negative = Pcm16({-1, -20000, -32768});
    EXPECT_EQ(PeakLevel(negative.data(), static_cast<std::uint32_t>(negative.size()), 16), 0);
    Bytes odd = Pcm16({16384, 100});
    odd.push_back(0x7F); // a trailing odd byte is not a sample
    EXPECT_EQ(PeakLevel(odd.data(), static_cast<std::uint32_t>(odd.size()), 16), 50);
    // Samples are read at any alignment.
    Bytes shifted = {0};
    const Bytes tail = Pcm16({3276});
    shifted.insert(shifted.end(), tail.begin(), tail.end());
    EXPECT_EQ(PeakLevel(shifted.data() + 1, 2, 16), 9);
    EXPECT_EQ(PeakLevel(nullptr, 0, 16), 0);
    EXPECT_EQ(PeakLevel(square.data(), 4, 24), -1);
    EXPECT_EQ(PeakLevel(square.data(), 4, 0), -1);
}

TEST(ConvertWaveFormat, RefusesNonPcmAndInconsistentRecords)
{
    const Bytes samples = Staircase16(100, 2);
    HeapBlock dest(7);
    dest.data()[0] = 42;
    TWaveFormatEx from = PcmFormat(2, 44100, 16);
    TWaveFormatEx to = PcmFormat(1, 44100, 16);
    TWaveFormatEx floatFormat = to;
    floatFormat.wFormatTag = 3;
    EXPECT_FALSE(ConvertWaveFormat(from, samples.data(), 400, dest, floatFormat));
    EXPECT_FALSE(ConvertWaveFormat(floatFormat, samples.data(), 400, dest, to));
    TWaveFormatEx badAlign = from;
    badAlign.nBlockAlign = 3;
    EXPECT_FALSE(ConvertWaveFormat(badAlign, samples.data(), 400, dest, to));
    EXPECT_EQ(dest.size(), 7u);
    EXPECT_EQ(dest.data()[0], 42);

    ASSERT_TRUE(ConvertWaveFormat(from, samples.data(), 400, dest, to));
    ASSERT_EQ(dest.size(), 200u);
    const auto mono = Samples16(dest.data(), dest.size());
    for (std::size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(mono[i], (static_cast<int>(i) - static_cast<int>(i) - 1) >> 1) << i;
}

TEST(ConvertWaveFormat, RefusesResultsTooLargeForAWave)
{
    // 200 MB of 8 kHz mono 8-bit would be 4.8 GB at 48 kHz stereo 16-bit: more than a wave can describe.
    const TWaveFormatEx from = PcmFormat(1, 8000, 8);
    const TWaveFormatEx to = PcmFormat(2, 48000, 16);
    const std::uint8_t byte = 128;
    HeapBlock dest;
    EXPECT_FALSE(ConvertWaveFormat(from, &byte, 200000000, dest, to)); // refused before reading
    EXPECT_TRUE(dest.empty());
}

} // namespace
