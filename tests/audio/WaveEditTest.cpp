// Editing a wave: cutting, inserting and converting. Every signal is a staircase (or another signal whose
// every sample tells where it came from), so that a cut one byte or one frame off shows as a wrong value.
// Every result is compared byte for byte with the canonical image built by the test helpers.
#include "audio/TestWaves.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>
#include <sstream>

namespace {

const TWaveFormatEx Mono16At8000 = PcmFormat(1, 8000, 16);
const TWaveFormatEx Stereo16At44100 = PcmFormat(2, 44100, 16);
const TWaveFormatEx Mono8At11025 = PcmFormat(1, 11025, 8);
const TWaveFormatEx Stereo8At22050 = PcmFormat(2, 22050, 8);

constexpr std::uint32_t MaxMs = std::numeric_limits<std::uint32_t>::max();

Bytes Text(const std::string& text)
{
    Bytes out;
    AppendText(out, text);
    return out;
}

Bytes InfoList(const std::string& comment)
{
    Bytes out = Text("INFOICMT");
    AppendLE32(out, static_cast<std::uint32_t>(comment.size()));
    AppendText(out, comment);
    if (comment.size() & 1U)
        out.push_back(0);
    return out;
}

// What every edit must leave: "fmt " of 18 bytes, "data", pad byte after odd samples, nothing else.
Bytes Canonical(const TWaveFormatEx& format, const Bytes& samples)
{
    return RiffBuilder().fmt(format, 18).data(samples).build();
}

// An image an edit must not keep the layout of: 16-byte "fmt " and chunks before and after the data.
Bytes Decorated(const TWaveFormatEx& format, const Bytes& samples)
{
    return RiffBuilder()
        .fmt(format, 16)
        .chunk("LIST", InfoList("avant"))
        .data(samples)
        .chunk("LIST", InfoList("apres"))
        .build();
}

Bytes Staircase(const TWaveFormatEx& format, std::size_t frames)
{
    return format.wBitsPerSample == 16 ? Staircase16(frames, format.nChannels)
                                       : Staircase8(frames, format.nChannels);
}

// Frame i holds 20000 + i (and -20000 - i in the second channel): unlike any staircase value used here.
Bytes Marker16(std::size_t frames, unsigned channels)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<std::int16_t>(20000 + i));
        if (channels == 2)
            samples.push_back(static_cast<std::int16_t>(-20000 - static_cast<int>(i)));
    }
    return Pcm16(samples);
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct FrameRange
{
    std::size_t first; // inclusive
    std::size_t last;  // exclusive
};

Bytes PickFrames(const Bytes& signal, std::size_t frameBytes, const std::vector<FrameRange>& ranges)
{
    Bytes out;
    for (const FrameRange& range : ranges) {
        const Bytes part = Slice(signal, range.first * frameBytes, range.last * frameBytes);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Reports where two images part, instead of printing thousands of bytes.
testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected)
{
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (diff.first == actual.end() && diff.second == expected.end())
        return testing::AssertionSuccess();
    const auto at = diff.first - actual.begin();
    auto failure = testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                               << ", first difference at byte " << at;
    if (diff.first != actual.end() && diff.second != expected.end())
        failure << " (" << int{*diff.first} << " instead of " << int{*diff.second} << ")";
    return failure;
}

std::uint32_t Le32(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::string TextAt(const Bytes& bytes, std::size_t at)
{
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

struct ChangeCounter
{
    explicit ChangeCounter(TWave& wave)
    {
        wave.OnChange = [this](TWave*) { ++count; };
    }
    int count = 0;
};

// Loads an image and reads its details, so that the next modification has to be told.
void LoadParsed(TWave& wave, const Bytes& image)
{
    LoadBytes(wave, image);
    static_cast<void>(wave.Valid());
}

// ---- Delete -----------------------------------------------------------------------------------------

struct DeleteRow
{
    std::string name;
    TWaveFormatEx format;
    std::size_t frames;
    std::uint32_t startMs;
    std::uint32_t lengthMs;
    std::vector<FrameRange> kept;
};

void PrintTo(const DeleteRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveDeleteTest : public testing::TestWithParam<DeleteRow>
{
};

TEST_P(WaveDeleteTest, KeepsFramesOutsideTheCut)
{
    const DeleteRow& row = GetParam();
    const Bytes signal = Staircase(row.format, row.frames);
    TWave wave;
    LoadParsed(wave, Decorated(row.format, signal));
    ASSERT_TRUE(wave.Valid());
    ChangeCounter changes(wave);

    ASSERT_TRUE(wave.Delete(row.startMs, row.lengthMs));

    EXPECT_EQ(changes.count, 1);
    const Bytes kept = PickFrames(signal, row.format.nBlockAlign, row.kept);
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(row.format, kept)));
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataOffset(), 46u);
    EXPECT_EQ(wave.DataSize(), kept.size());
    EXPECT_EQ(wave.Position(), 0u);
}

// Byte positions by hand: MsToBytes rounds avg * ms / 1000 to the nearest byte, then up to a whole frame
// (at least two bytes).
INSTANTIATE_TEST_SUITE_P(
    Rows, WaveDeleteTest,
    testing::Values(
        // 16000 bytes per second: 1 ms is 16 bytes, 8 frames; 8000 frames last 1000 ms.
        DeleteRow{"Mono16At8000_Everything", Mono16At8000, 8000, 0, 1000, {}},
        DeleteRow{"Mono16At8000_AtStart_KeepsTail", Mono16At8000, 8000, 0, 1, {{8, 8000}}},
        DeleteRow{"Mono16At8000_Middle", Mono16At8000, 8000, 250, 250, {{0, 2000}, {4000, 8000}}},
        DeleteRow{"Mono16At8000_LastMsAndBeyond_KeepsHead", Mono16At8000, 8000, 999, 1000, {{0, 7992}}},
        DeleteRow{"Mono16At8000_MaximumLength", Mono16At8000, 8000, 500, MaxMs, {{0, 4000}}},
        // 176400 bytes per second: 3 ms is 529.2 -> 532 bytes, 133 frames; 1 ms 176 bytes, 44 frames;
        // 10 ms 1764 bytes, 441 frames; 99 ms 17463.6 -> 17464 bytes, 4366 frames.
        DeleteRow{"Stereo16At44100_AtStart_KeepsTail", Stereo16At44100, 4410, 0, 3, {{133, 4410}}},
        DeleteRow{"Stereo16At44100_Middle", Stereo16At44100, 4410, 3, 3, {{0, 133}, {266, 4410}}},
        DeleteRow{"Stereo16At44100_OneMsThenTen", Stereo16At44100, 4410, 1, 10, {{0, 44}, {485, 4410}}},
        DeleteRow{"Stereo16At44100_LastMs", Stereo16At44100, 4410, 99, 1, {{0, 4366}}},
        // 11025 bytes per second: 3 ms is 33.075 -> 34 bytes; 2 ms 22.05 -> 22 bytes. 1081 bytes stay: odd.
        DeleteRow{"Mono8At11025_OddResult", Mono8At11025, 1103, 3, 2, {{0, 34}, {56, 1103}}},
        // 44100 bytes per second: 5 ms is 220.5 -> 221 -> 222 bytes, 111 frames; 1 ms 44 bytes, 22 frames.
        DeleteRow{"Stereo8At22050_HalfByteRoundsUp", Stereo8At22050, 2205, 5, 1, {{0, 111}, {133, 2205}}}),
    [](const testing::TestParamInfo<DeleteRow>& info) { return info.param.name; });

TEST(WaveDelete, StereoCut_KeepsFramesWhole)
{
    // A cut at 529 bytes would fall between the samples of a frame and swap the channels after it.
    TWave wave;
    LoadBytes(wave, CanonicalWave(Stereo16At44100, Staircase16(4410, 2)));
    ASSERT_TRUE(wave.Delete(3, 3));
    ASSERT_EQ(wave.DataSize(), (4410 - 133) * 4u);
    const std::vector<std::int16_t> samples = Samples16(wave.Data(), wave.DataSize());
    EXPECT_EQ(samples[2 * 132], 132);
    EXPECT_EQ(samples[2 * 132 + 1], -133);
    EXPECT_EQ(samples[2 * 133], 266);
    EXPECT_EQ(samples[2 * 133 + 1], -267);

    ASSERT_TRUE(wave.Delete(0, 3));
    const std::vector<std::int16_t> rest = Samples16(wave.Data(), wave.DataSize());
    ASSERT_GE(rest.size(), 2u);
    EXPECT_EQ(rest[0], 266);
    EXPECT_EQ(rest[1], -267);
}

TEST(WaveDelete, CropToSelection_KeepsTheSelection)
{
    const Bytes signal = Staircase16(8000, 1);
    TWave wave;
    LoadBytes(wave, Decorated(Mono16At8000, signal));
    const std::uint32_t start = 250;
    const std::uint32_t end = 600;
    ASSERT_TRUE(wave.Delete(end, wave.Duration() - end));
    ASSERT_TRUE(wave.Delete(0, start));
    // 250 ms is frame 2000, 600 ms frame 4800.
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(Mono16At8000, PickFrames(signal, 2, {{2000, 4800}}))));
    EXPECT_EQ(wave.Duration(), end - start);
}

TEST(WaveDelete, Everything_LeavesValidWaveWithoutSamples)
{
    TWave wave;
    LoadBytes(wave, CanonicalWave(Mono16At8000, Staircase16(8000, 1)));
    ASSERT_TRUE(wave.Delete(0, 1000));
    EXPECT_TRUE(wave.Valid());
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.Duration(), 0u);
    EXPECT_EQ(wave.Size(), 46u);
    // Nothing left to cut.
    EXPECT_FALSE(wave.Delete(0, 10));
}

struct RefusalRow
{
    std::string name;
    Bytes image;
    std::uint32_t startMs;
    std::uint32_t lengthMs;
};

void PrintTo(const RefusalRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveDeleteRefusalTest : public testing::TestWithParam<RefusalRow>
{
};

TEST_P(WaveDeleteRefusalTest, LeavesWaveUntouched)
{
    const RefusalRow& row = GetParam();
    TWave wave;
    LoadParsed(wave, row.image);
    ChangeCounter changes(wave);
    EXPECT_FALSE(wave.Delete(row.startMs, row.lengthMs));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), row.image));
    EXPECT_EQ(changes.count, 0);
}

// The sound lasts 1000 ms.
const Bytes OneSecond = Decorated(Mono16At8000, Staircase16(8000, 1));

INSTANTIATE_TEST_SUITE_P(Rows, WaveDeleteRefusalTest,
                         testing::Values(RefusalRow{"ZeroLength", OneSecond, 0, 0},
                                         RefusalRow{"ZeroLengthInside", OneSecond, 500, 0},
                                         RefusalRow{"StartAtDuration", OneSecond, 1000, 10},
                                         RefusalRow{"StartPastDuration", OneSecond, 5000, 10},
                                         RefusalRow{"StartMaximum", OneSecond, MaxMs, 1},
                                         RefusalRow{"NoSamples", Decorated(Mono16At8000, {}), 0, 10},
                                         RefusalRow{"InvalidContent", Text("pas un son du tout"), 0, 10},
                                         RefusalRow{"Empty", {}, 0, 10}),
                         [](const testing::TestParamInfo<RefusalRow>& info) { return info.param.name; });

TEST(WaveEdit, ResultHeader_IsCanonical)
{
    // Odd 8-bit data, a 16-byte "fmt " and LIST chunks in the source; a 46-byte header in the result.
    const TWaveFormatEx format = PcmFormat(1, 8000, 8);
    TWave wave;
    LoadBytes(wave, RiffBuilder()
                        .chunk("LIST", InfoList("debut"))
                        .fmt(format, 16)
                        .data(Staircase8(801, 1))
                        .chunk("LIST", InfoList("fin"))
                        .build());
    ASSERT_TRUE(wave.Valid());
    ASSERT_TRUE(wave.Delete(0, 100)); // 800 bytes out, 1 left

    const Bytes image = WaveBytes(wave);
    ASSERT_EQ(image.size(), 46 + 1 + 1u);
    EXPECT_EQ(TextAt(image, 0), "RIFF");
    EXPECT_EQ(Le32(image, 4), image.size() - 8);
    EXPECT_EQ(TextAt(image, 8), "WAVE");
    EXPECT_EQ(TextAt(image, 12), "fmt ");
    EXPECT_EQ(Le32(image, 16), 18u);
    EXPECT_EQ(Slice(image, 20, 38), FormatBytes(format, 18)); // cbSize 0 written out
    EXPECT_EQ(TextAt(image, 38), "data");
    EXPECT_EQ(Le32(image, 42), 1u);
    EXPECT_EQ(image[46], 800 % 256);
    EXPECT_EQ(image[47], 0); // pad
    EXPECT_EQ(wave.DataOffset(), 46u);
    EXPECT_EQ(wave.DataSize(), 1u);
}

// ---- Insert -----------------------------------------------------------------------------------------

struct InsertRow
{
    std::string name;
    TWaveFormatEx format;
    Bytes target;
    Bytes inserted;
    std::uint32_t posMs;
    std::size_t atByte;
};

void PrintTo(const InsertRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveInsertTest : public testing::TestWithParam<InsertRow>
{
};

TEST_P(WaveInsertTest, PlacesAllOfTheOtherWaveAtTheFrame)
{
    const InsertRow& row = GetParam();
    TWave wave;
    TWave other;
    LoadParsed(wave, Decorated(row.format, row.target));
    const Bytes otherImage = CanonicalWave(row.format, row.inserted);
    LoadBytes(other, otherImage);
    ChangeCounter changes(wave);
    ChangeCounter otherChanges(other);

    ASSERT_TRUE(wave.Insert(row.posMs, other));

    const Bytes expected = Cat(
        {Slice(row.target, 0, row.atByte), row.inserted, Slice(row.target, row.atByte, row.target.size())});
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(row.format, expected)));
    EXPECT_EQ(wave.DataSize(), expected.size());
    EXPECT_EQ(wave.DataOffset(), 46u);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(otherChanges.count, 0);
    EXPECT_TRUE(SameBytes(WaveBytes(other), otherImage));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaveInsertTest,
    testing::Values(
        // 100 frames at 16000 bytes per second: 200 bytes, 13 ms; MsToBytes(13) = 208 is past the end.
        InsertRow{"Mono16At8000_AtStart", Mono16At8000, Staircase16(100, 1), Marker16(10, 1), 0, 0},
        InsertRow{"Mono16At8000_AfterOneMs", Mono16At8000, Staircase16(100, 1), Marker16(10, 1), 1, 16},
        InsertRow{"Mono16At8000_AtDuration_Appends", Mono16At8000, Staircase16(100, 1), Marker16(10, 1), 13,
                  200},
        InsertRow{"Mono16At8000_AtMaximum_Appends", Mono16At8000, Staircase16(100, 1), Marker16(10, 1), MaxMs,
                  200},
        // 3 ms: 529.2 -> 532 bytes, frame 133.
        InsertRow{"Stereo16At44100_AfterThreeMs", Stereo16At44100, Staircase16(441, 2), Marker16(5, 2), 3,
                  532},
        // 1 ms: 11.025 -> 12 bytes; 101 + 2 bytes: odd result.
        InsertRow{"Mono8At11025_OddResult", Mono8At11025, Staircase8(101, 1), Bytes{200, 201}, 1, 12},
        // 5 ms: 220.5 -> 222 bytes, frame 111.
        InsertRow{"Stereo8At22050_AfterFiveMs", Stereo8At22050, Staircase8(441, 2), Bytes{200, 55, 201, 54},
                  5, 222},
        InsertRow{"IntoWaveWithoutSamples", Mono16At8000, Bytes{}, Marker16(10, 1), 0, 0},
        InsertRow{"WaveWithoutSamples", Mono16At8000, Staircase16(100, 1), Bytes{}, 1, 16}),
    [](const testing::TestParamInfo<InsertRow>& info) { return info.param.name; });

TEST(WaveInsert, AtDurationMinusOne_GoesBeforeTheLastMillisecond)
{
    // 100 frames last 12.5 -> 13 ms; 12 ms are 192 bytes, so the last 4 frames stay after the insertion.
    const Bytes target = Staircase16(100, 1);
    const Bytes inserted = Marker16(10, 1);
    TWave wave;
    TWave other;
    LoadBytes(wave, CanonicalWave(Mono16At8000, target));
    LoadBytes(other, CanonicalWave(Mono16At8000, inserted));
    ASSERT_EQ(wave.Duration(), 13u);
    ASSERT_TRUE(wave.Insert(wave.Duration() - 1, other));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(Mono16At8000, Cat({Slice(target, 0, 192), inserted,
                                                                        Slice(target, 192, 200)}))));
}

TEST(WaveInsert, IntoItself_Doubles)
{
    const Bytes mono = Staircase16(100, 1);
    TWave wave;
    LoadBytes(wave, Decorated(Mono16At8000, mono));
    ASSERT_TRUE(wave.Insert(0, wave));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(Mono16At8000, Cat({mono, mono}))));

    const Bytes stereo = Staircase16(441, 2);
    TWave other;
    LoadBytes(other, Decorated(Stereo16At44100, stereo));
    ASSERT_TRUE(other.Insert(3, other)); // frame 133
    EXPECT_TRUE(SameBytes(WaveBytes(other), Canonical(Stereo16At44100, Cat({Slice(stereo, 0, 532), stereo,
                                                                            Slice(stereo, 532, 1764)}))));
}

TEST(WaveInsert, OtherLayoutsOfTheSameRecord_AreAccepted)
{
    const Bytes target = Staircase16(100, 1);
    const Bytes inserted = Marker16(10, 1);
    // An 18-byte record with cbSize 0 followed by two bytes of no meaning, before a LIST chunk.
    Bytes record = FormatBytes(Mono16At8000, 20);
    record[18] = 'x';
    record[19] = 'y';
    TWave wave;
    TWave other;
    LoadBytes(wave, CanonicalWave(Mono16At8000, target));
    LoadBytes(other, RiffBuilder().chunk("fmt ", record).chunk("LIST", InfoList("x")).data(inserted).build());
    ASSERT_TRUE(wave.Insert(0, other));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(Mono16At8000, Cat({inserted, target}))));
}

TEST(WaveInsert, TruncatedOther_InsertsTheBytesPresent)
{
    const Bytes target = Staircase16(100, 1);
    const Bytes present = Marker16(10, 1);
    TWave wave;
    TWave other;
    LoadBytes(wave, CanonicalWave(Mono16At8000, target));
    LoadBytes(other, RiffBuilder().fmt(Mono16At8000).data(present, 5000).build());
    ASSERT_EQ(other.DataSize(), present.size());
    ASSERT_TRUE(wave.Insert(1, other));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(Mono16At8000, Cat({Slice(target, 0, 16), present,
                                                                        Slice(target, 16, 200)}))));
}

struct InsertRefusalRow
{
    std::string name;
    Bytes target;
    Bytes other;
};

void PrintTo(const InsertRefusalRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveInsertRefusalTest : public testing::TestWithParam<InsertRefusalRow>
{
};

TEST_P(WaveInsertRefusalTest, LeavesBothWavesUntouched)
{
    const InsertRefusalRow& row = GetParam();
    TWave wave;
    TWave other;
    LoadParsed(wave, row.target);
    LoadParsed(other, row.other);
    ChangeCounter changes(wave);
    EXPECT_FALSE(wave.Insert(0, other));
    EXPECT_FALSE(wave.Insert(1, other));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), row.target));
    EXPECT_TRUE(SameBytes(WaveBytes(other), row.other));
    EXPECT_EQ(changes.count, 0);
}

Bytes WithExtraBytes(const TWaveFormatEx& base, const Bytes& samples)
{
    TWaveFormatEx format = base;
    format.cbSize = 2;
    return RiffBuilder().chunk("fmt ", FormatBytes(format, 20)).data(samples).build();
}

Bytes WithByteRate(const TWaveFormatEx& base, std::uint32_t byteRate, const Bytes& samples)
{
    TWaveFormatEx format = base;
    format.nAvgBytesPerSec = byteRate;
    return CanonicalWave(format, samples);
}

const Bytes Target = Decorated(Mono16At8000, Staircase16(100, 1));

INSTANTIATE_TEST_SUITE_P(
    Rows, WaveInsertRefusalTest,
    testing::Values(
        InsertRefusalRow{"OtherRate", Target, CanonicalWave(PcmFormat(1, 11025, 16), Marker16(10, 1))},
        InsertRefusalRow{"OtherChannels", Target, CanonicalWave(PcmFormat(2, 8000, 16), Marker16(10, 2))},
        InsertRefusalRow{"OtherBits", Target, CanonicalWave(PcmFormat(1, 8000, 8), Staircase8(10, 1))},
        InsertRefusalRow{"OtherByteRate", Target, WithByteRate(Mono16At8000, 16001, Marker16(10, 1))},
        InsertRefusalRow{"OtherHasExtraBytes", Target, WithExtraBytes(Mono16At8000, Marker16(10, 1))},
        InsertRefusalRow{"OtherInvalid", Target, Text("pas un son du tout")},
        InsertRefusalRow{"OtherEmpty", Target, Bytes{}},
        InsertRefusalRow{"TargetInvalid", Text("pas un son du tout"),
                         CanonicalWave(Mono16At8000, Marker16(10, 1))},
        InsertRefusalRow{"TargetEmpty", Bytes{}, CanonicalWave(Mono16At8000, Marker16(10, 1))}),
    [](const testing::TestParamInfo<InsertRefusalRow>& info) { return info.param.name; });

// ---- Conversion: same rate, exact samples -----------------------------------------------------------

struct ConvertRow
{
    std::string name;
    TWaveFormatEx from;
    Bytes samples;
    TPCMFormat to;
    TWaveFormatEx toFormat; // the record of "to", written out
    Bytes expected;
};

void PrintTo(const ConvertRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveConvertTest : public testing::TestWithParam<ConvertRow>
{
};

TEST_P(WaveConvertTest, GivesExactSamplesInCanonicalImage)
{
    const ConvertRow& row = GetParam();
    TWave wave;
    LoadParsed(wave, Decorated(row.from, row.samples));
    ASSERT_TRUE(wave.Valid());
    ChangeCounter changes(wave);

    ASSERT_TRUE(wave.ConvertToPCM(row.to));

    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(row.toFormat, row.expected)));
    EXPECT_EQ(wave.PCMFormat(), row.to);
    EXPECT_EQ(wave.DataSize(), row.expected.size());
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(wave.Position(), 0u);
}

TEST_P(WaveConvertTest, ConvertToWithTheRecord_GivesTheSame)
{
    const ConvertRow& row = GetParam();
    TWave wave;
    LoadBytes(wave, Decorated(row.from, row.samples));
    ASSERT_TRUE(wave.ConvertTo(row.toFormat));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(row.toFormat, row.expected)));
}

// Left 3i - 1001, right i: (4i - 1001) >> 1 = 2i - 501, rounding down also below zero.
Bytes OddSumStereo16(std::size_t frames)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<std::int16_t>(3 * static_cast<int>(i) - 1001));
        samples.push_back(static_cast<std::int16_t>(i));
    }
    return Pcm16(samples);
}

Bytes HalfOfOddSums(std::size_t frames)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i < frames; ++i)
        samples.push_back(static_cast<std::int16_t>(2 * static_cast<int>(i) - 501));
    return Pcm16(samples);
}

// Frame i: (i, i), 16 bits.
Bytes DoubledStaircase16(std::size_t frames)
{
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<std::int16_t>(i));
        samples.push_back(static_cast<std::int16_t>(i));
    }
    return Pcm16(samples);
}

// 8-bit staircase widened: (i - 128) * 256, and (127 - i) * 256 in the second channel.
Bytes WidenedStaircase8(unsigned channels)
{
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 256; ++i) {
        samples.push_back(static_cast<std::int16_t>((i - 128) * 256));
        if (channels == 2)
            samples.push_back(static_cast<std::int16_t>((127 - i) * 256));
    }
    return Pcm16(samples);
}

// Frame i: (256i - 32768, 32767 - 256i), which narrow to (i, 255 - i): the 8-bit stereo staircase.
Bytes SteppedStereo16()
{
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 256; ++i) {
        samples.push_back(static_cast<std::int16_t>(256 * i - 32768));
        samples.push_back(static_cast<std::int16_t>(32767 - 256 * i));
    }
    return Pcm16(samples);
}

// Frame i: (i, i + 1); averaged as bytes: i.
Bytes NeighbourStereo8(std::size_t frames)
{
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(static_cast<std::uint8_t>(i));
        out.push_back(static_cast<std::uint8_t>(i + 1));
    }
    return out;
}

Bytes DoubledStaircase8(std::size_t frames)
{
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(static_cast<std::uint8_t>(i));
        out.push_back(static_cast<std::uint8_t>(i));
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    SameRate, WaveConvertTest,
    testing::Values(
        // 500 frames of four bytes become 500 of two: half the size.
        ConvertRow{"Stereo16ToMono16_AveragesRoundingDown", Stereo16At44100, OddSumStereo16(500),
                   Mono16bit44100Hz, PcmFormat(1, 44100, 16), HalfOfOddSums(500)},
        ConvertRow{"Mono16ToStereo16_Duplicates", PcmFormat(1, 22050, 16), Staircase16(300, 1),
                   Stereo16bit22050Hz, PcmFormat(2, 22050, 16), DoubledStaircase16(300)},
        ConvertRow{"Mono8ToMono16_Widens", PcmFormat(1, 8000, 8), Staircase8(256, 1), Mono16bit8000Hz,
                   PcmFormat(1, 8000, 16), WidenedStaircase8(1)},
        ConvertRow{"Stereo8ToStereo16_WidensEachChannel", PcmFormat(2, 11025, 8), Staircase8(256, 2),
                   Stereo16bit11025Hz, PcmFormat(2, 11025, 16), WidenedStaircase8(2)},
        ConvertRow{"Stereo16ToStereo8_NarrowsEachChannel", PcmFormat(2, 48000, 16), SteppedStereo16(),
                   Stereo8bit48000Hz, PcmFormat(2, 48000, 8), Staircase8(256, 2)},
        // (v >> 8) + 128, rounding down below zero; 9 samples: odd data with its pad byte.
        ConvertRow{"Mono16ToMono8_NarrowsRoundingDown", PcmFormat(1, 8000, 16),
                   Pcm16({-32768, -257, -256, -1, 0, 255, 256, 32767, 12345}), Mono8Bit8000Hz,
                   PcmFormat(1, 8000, 8), Bytes{0, 126, 127, 127, 128, 128, 129, 255, 176}},
        ConvertRow{"Stereo8ToMono8_AveragesBytes", Stereo8At22050, NeighbourStereo8(201), Mono8bit22050Hz,
                   PcmFormat(1, 22050, 8), Staircase8(201, 1)},
        ConvertRow{"Mono8ToStereo8_Duplicates", Mono8At11025, Staircase8(101, 1), Stereo8bit11025Hz,
                   PcmFormat(2, 11025, 8), DoubledStaircase8(101)},
        ConvertRow{"NoSamples", Mono16At8000, Bytes{}, Stereo16bit8000Hz, PcmFormat(2, 8000, 16), Bytes{}}),
    [](const testing::TestParamInfo<ConvertRow>& info) { return info.param.name; });

TEST(WaveConvert, SameFormat_ChangesNothing)
{
    const Bytes image = Decorated(Stereo16At44100, Staircase16(441, 2));
    TWave wave;
    LoadParsed(wave, image);
    ChangeCounter changes(wave);
    EXPECT_TRUE(wave.ConvertToPCM(Stereo16bit44100Hz));
    EXPECT_TRUE(wave.ConvertTo(Stereo16At44100));
    EXPECT_TRUE(SameBytes(WaveBytes(wave), image)); // not even rewritten in canonical form
    EXPECT_EQ(changes.count, 0);
}

TEST(WaveConvert, Refusals_LeaveWaveUntouched)
{
    TWaveFormatEx floatFormat = PcmFormat(1, 8000, 32);
    floatFormat.wFormatTag = 3;
    TWaveFormatEx adpcm = Mono16At8000;
    adpcm.wFormatTag = 2;
    const Bytes pcm = Decorated(Mono16At8000, Staircase16(800, 1));
    const Bytes floats = RiffBuilder().fmt(floatFormat, 18).data(Bytes(3200, 0)).build();
    const Bytes text = Text("pas un son du tout");
    const Bytes empty;

    struct Case
    {
        const char* name;
        const Bytes& image;
        std::function<bool(TWave&)> convert;
    };
    const Case cases[] = {
        {"PcmToNone", pcm, [](TWave& w) { return w.ConvertToPCM(nonePCM); }},
        {"PcmToFloat", pcm, [&](TWave& w) { return w.ConvertTo(floatFormat); }},
        {"PcmToAdpcmSameFields", pcm, [&](TWave& w) { return w.ConvertTo(adpcm); }},
        {"FloatToPcm", floats, [](TWave& w) { return w.ConvertToPCM(Mono16bit8000Hz); }},
        {"FloatToPcmRecord", floats, [](TWave& w) { return w.ConvertTo(Mono16At8000); }},
        {"InvalidToPcm", text, [](TWave& w) { return w.ConvertToPCM(Mono16bit8000Hz); }},
        {"EmptyToPcm", empty, [](TWave& w) { return w.ConvertToPCM(Mono16bit8000Hz); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWave wave;
        LoadParsed(wave, c.image);
        ChangeCounter changes(wave);
        EXPECT_FALSE(c.convert(wave));
        EXPECT_TRUE(SameBytes(WaveBytes(wave), c.image));
        EXPECT_EQ(changes.count, 0);
    }
}

// ---- Conversion: rate changes -----------------------------------------------------------------------

constexpr double ToneHz = 440.0;
constexpr double ToneLevel = 0.5;

Bytes Sine8(std::size_t frames, unsigned channels, double frequency, unsigned rate, double amplitude)
{
    Bytes out;
    for (std::size_t i = 0; i < frames; ++i) {
        const double v =
            amplitude * 127.0 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
        for (unsigned c = 0; c < channels; ++c)
            out.push_back(static_cast<std::uint8_t>(128 + std::lround(v)));
    }
    return out;
}

// One channel of the wave's samples, in -1..1.
std::vector<double> Channel(const TWave& wave, unsigned channel)
{
    const TWaveFormatEx& format = *wave.WaveFormat();
    const std::size_t frames = wave.DataSize() / format.nBlockAlign;
    std::vector<double> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* p = wave.Data() + i * format.nBlockAlign + channel * (format.wBitsPerSample / 8);
        out[i] = format.wBitsPerSample == 16 ? static_cast<std::int16_t>(p[0] | (p[1] << 8)) / 32768.0
                                             : (p[0] - 128) / 128.0;
    }
    return out;
}

// Frequency from the upward zero crossings of the middle of the signal, interpolated between samples.
double ToneFrequency(const std::vector<double>& x, unsigned rate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t i = x.size() / 10; i + 1 < x.size() * 9 / 10; ++i) {
        if (x[i] < 0 && x[i + 1] >= 0) {
            const double t = static_cast<double>(i) + x[i] / (x[i] - x[i + 1]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) / ((last - first) / rate);
}

double MiddlePeak(const std::vector<double>& x)
{
    double peak = 0;
    for (std::size_t i = x.size() / 10; i < x.size() * 9 / 10; ++i)
        peak = std::max(peak, std::abs(x[i]));
    return peak;
}

struct RateRow
{
    std::string name;
    TWaveFormatEx from;
    TPCMFormat to;
    TWaveFormatEx toFormat;
};

void PrintTo(const RateRow& row, std::ostream* out)
{
    *out << row.name;
}

class WaveRateTest : public testing::TestWithParam<RateRow>
{
};

TEST_P(WaveRateTest, KeepsLengthPitchAndLevel)
{
    const RateRow& row = GetParam();
    const unsigned rate = row.from.nSamplesPerSec;
    // One second of tone.
    const Bytes tone = row.from.wBitsPerSample == 16
                           ? Sine16(rate, row.from.nChannels, ToneHz, rate, ToneLevel)
                           : Sine8(rate, row.from.nChannels, ToneHz, rate, ToneLevel);
    TWave wave;
    LoadParsed(wave, Decorated(row.from, tone));
    ChangeCounter changes(wave);

    ASSERT_TRUE(wave.ConvertToPCM(row.to));

    EXPECT_EQ(changes.count, 1);
    ASSERT_TRUE(wave.Valid());
    EXPECT_EQ(FormatBytes(*wave.WaveFormat(), 18), FormatBytes(row.toFormat, 18));
    const Bytes samples(wave.Data(), wave.Data() + wave.DataSize());
    EXPECT_TRUE(SameBytes(WaveBytes(wave), Canonical(row.toFormat, samples)));

    const unsigned outRate = row.toFormat.nSamplesPerSec;
    const std::size_t frames = wave.DataSize() / row.toFormat.nBlockAlign;
    EXPECT_NEAR(static_cast<double>(frames), outRate, 2.0);
    EXPECT_NEAR(wave.Duration(), 1000.0, 1.0);

    for (unsigned c = 0; c < row.toFormat.nChannels; ++c) {
        SCOPED_TRACE(c);
        const std::vector<double> x = Channel(wave, c);
        EXPECT_NEAR(ToneFrequency(x, outRate), ToneHz, ToneHz * 0.005);
        EXPECT_NEAR(MiddlePeak(x), ToneLevel, ToneLevel * 0.02);
    }
    if (row.toFormat.nChannels == 2) {
        EXPECT_EQ(Channel(wave, 0), Channel(wave, 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, WaveRateTest,
                         testing::Values(RateRow{"Mono16At8000ToMono16At22050", Mono16At8000,
                                                 Mono16bit22050Hz, PcmFormat(1, 22050, 16)},
                                         RateRow{"Stereo16At44100ToMono16At8000", Stereo16At44100,
                                                 Mono16bit8000Hz, PcmFormat(1, 8000, 16)},
                                         RateRow{"Mono16At11025ToStereo16At48000", PcmFormat(1, 11025, 16),
                                                 Stereo16bit48000Hz, PcmFormat(2, 48000, 16)},
                                         RateRow{"Stereo16At22050ToStereo8At11025", PcmFormat(2, 22050, 16),
                                                 Stereo8bit11025Hz, PcmFormat(2, 11025, 8)},
                                         RateRow{"Mono8At8000ToMono16At44100", PcmFormat(1, 8000, 8),
                                                 Mono16bit44100Hz, PcmFormat(1, 44100, 16)}),
                         [](const testing::TestParamInfo<RateRow>& info) { return info.param.name; });

} // namespace

// Copying a stretch gives the bytes a copy of the whole followed by the two cuts gave (the reference), on
// staircases where a frame too many or too few shows: odd milliseconds at 44.1 and 22.05 kHz, stereo and
// 8-bit, a source whose length ends inside a millisecond, stretches at the start, at the end and past it.
TEST(WaveCopyRange, GivesWhatTheWholeCopyAndTheTwoCutsGave)
{
    struct Source
    {
        TWaveFormatEx format;
        std::size_t frames;
        bool decorated;
    };
    const Source sources[] = {
        {PcmFormat(1, 44100, 16), 44100 + 20, false}, {PcmFormat(2, 44100, 16), 22050 + 7, true},
        {PcmFormat(2, 22050, 8), 11025 + 3, false},   {PcmFormat(1, 11025, 8), 11025, true},
        {PcmFormat(1, 8000, 16), 8000, false},
    };
    const std::pair<std::uint32_t, std::uint32_t> stretches[] = {
        {0, 1},    {0, 333},    {1, 2},       {17, 501}, {333, 999},  {499, 500},   {250, 1000},
        {0, 1000}, {999, 1000}, {1000, 1001}, {0, 5000}, {700, 4000}, {2000, 3000},
    };
    for (const Source& source : sources) {
        const Bytes samples = Staircase(source.format, source.frames);
        TWave whole;
        LoadBytes(whole, source.decorated ? Decorated(source.format, samples)
                                          : CanonicalWave(source.format, samples));
        for (const auto& [startMs, endMs] : stretches) {
            SCOPED_TRACE(std::to_string(source.format.nChannels) + " ch " +
                         std::to_string(source.format.nSamplesPerSec) + " Hz " +
                         std::to_string(source.format.wBitsPerSample) + " bits, " + std::to_string(startMs) +
                         " to " + std::to_string(endMs) + " ms");
            TWave reference;
            reference.CopyContentFrom(whole);
            reference.Delete(endMs, std::numeric_limits<std::uint32_t>::max() - endMs);
            reference.Delete(0, startMs);
            TWave copied;
            LoadBytes(copied, Canonical(source.format, Bytes(6, 0x55))); // whatever it held goes
            EXPECT_TRUE(copied.CopyRange(whole, startMs, endMs));
            EXPECT_TRUE(SameBytes(WaveBytes(copied), WaveBytes(reference)));
        }
    }
    TWave empty;
    TWave target;
    LoadBytes(target, Canonical(Mono16At8000, Staircase16(10, 1)));
    EXPECT_FALSE(target.CopyRange(empty, 0, 10));
    EXPECT_EQ(target.Size(), 0U);
}
