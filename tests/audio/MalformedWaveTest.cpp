// Every damaged or unusual file of the table must load without a crash and read as the table says; what
// a valid one yields must lie inside the image, and editing it must stay inside too.
#include "audio/MalformedWaves.h"

#include <gtest/gtest.h>

namespace {

class MalformedWaveTest : public testing::TestWithParam<MalformedWave>
{
};

TEST_P(MalformedWaveTest, ReadsAsExpected)
{
    const MalformedWave& row = GetParam();
    TWave wave;
    LoadBytes(wave, row.bytes);
    ASSERT_EQ(wave.Valid(), row.valid);
    if (!row.valid) {
        EXPECT_EQ(wave.WaveFormat(), nullptr);
        EXPECT_EQ(wave.Data(), nullptr);
        EXPECT_EQ(wave.DataSize(), 0u);
        EXPECT_EQ(wave.Duration(), 0u);
        EXPECT_EQ(wave.PCMFormat(), nonePCM);
        EXPECT_EQ(wave.FormatDescription(), "");
        return;
    }
    EXPECT_EQ(wave.DataSize(), row.dataSize);
    EXPECT_EQ(wave.DataOffset(), row.dataOffset);
    ASSERT_NE(wave.WaveFormat(), nullptr);
    EXPECT_EQ(wave.WaveFormat()->wFormatTag, row.formatTag);
    // The samples read are the file's own bytes at the data offset.
    ASSERT_LE(static_cast<std::uint64_t>(wave.DataOffset()) + wave.DataSize(), row.bytes.size());
    EXPECT_TRUE(std::equal(wave.Data(), wave.Data() + wave.DataSize(), row.bytes.begin() + row.dataOffset));
}

TEST_P(MalformedWaveTest, ReadStreamWaveHeaderAgreesAndKeepsPosition)
{
    const MalformedWave& row = GetParam();
    TBytesView view(row.bytes.data(), row.bytes.size());
    view.Seek(3, SeekOrigin::Beginning);
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_EQ(ReadStreamWaveHeader(view, format, size, offset), row.valid);
    EXPECT_EQ(view.Position(), 3u);
    if (row.valid) {
        EXPECT_EQ(size, row.dataSize);
        EXPECT_EQ(offset, row.dataOffset);
        ASSERT_GE(format.size(), 18u);
        EXPECT_LE(WaveFormatRecordSize(*AsWaveFormat(format)), format.size());
    }
}

TEST_P(MalformedWaveTest, EditingStaysInsideTheImage)
{
    const MalformedWave& row = GetParam();
    TWave wave;
    LoadBytes(wave, row.bytes);
    const bool valid = wave.Valid();
    const auto duration = wave.Duration();
    if (duration > 0)
        EXPECT_TRUE(wave.Delete(duration / 2, 1));
    else
        EXPECT_FALSE(wave.Delete(0, 1));
    // Converting works for PCM and is refused, leaving the wave as it was, for anything else.
    const Bytes before = WaveBytes(wave);
    const bool pcm = wave.PCMFormat() != nonePCM;
    EXPECT_EQ(wave.ConvertToPCM(Stereo16bit44100Hz), pcm);
    if (!pcm) {
        EXPECT_EQ(WaveBytes(wave), before);
    }
    if (valid) {
        TWave copy;
        copy.CopyContentFrom(wave);
        EXPECT_TRUE(wave.Insert(wave.Duration(), copy));
        EXPECT_EQ(wave.DataSize(), 2 * copy.DataSize());
    }
    const auto size = wave.Size();
    wave.TrimToData();
    EXPECT_LE(wave.Size(), size);
    EXPECT_EQ(wave.Valid(), valid);
}

INSTANTIATE_TEST_SUITE_P(Rows, MalformedWaveTest, testing::ValuesIn(MalformedWaves()),
                         [](const testing::TestParamInfo<MalformedWave>& info) { return info.param.name; });

} // namespace
