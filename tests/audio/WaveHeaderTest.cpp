// Building wave images and reading their headers back through the chunk I/O.
#include "audio/TestWaves.h"

#include <gtest/gtest.h>

namespace {

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::string text(const Bytes& b, std::size_t at, std::size_t n = 4)
{
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Writes samples through BeginStreamWave and EndWaveWriting, as every writer of the program does.
Bytes writeImage(const TWaveFormatEx& format, const Bytes& samples, TMemoryStream& stream)
{
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(stream, format, riff, data);
    EXPECT_TRUE(handle);
    if (!handle)
        return {};
    if (!samples.empty()) {
        EXPECT_EQ(handle->Write(samples.data(), samples.size()), static_cast<std::int64_t>(samples.size()));
    }
    EXPECT_TRUE(EndWaveWriting(std::move(handle), riff, data));
    return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

TEST(WaveWriter, PcmImageHas46ByteHeaderAndExactSizes)
{
    const TWaveFormatEx format = PcmFormat(2, 44100, 16);
    const Bytes samples = Staircase16(10, 2);
    TMemoryStream stream;
    const Bytes image = writeImage(format, samples, stream);
    ASSERT_EQ(image.size(), 46 + samples.size());
    EXPECT_EQ(text(image, 0), "RIFF");
    EXPECT_EQ(le32(image, 4), image.size() - 8);
    EXPECT_EQ(text(image, 8), "WAVE");
    EXPECT_EQ(text(image, 12), "fmt ");
    EXPECT_EQ(le32(image, 16), 18u);
    EXPECT_EQ(Bytes(image.begin() + 20, image.begin() + 38), FormatBytes(format, 18));
    EXPECT_EQ(text(image, 38), "data");
    EXPECT_EQ(le32(image, 42), samples.size());
    EXPECT_EQ(Bytes(image.begin() + 46, image.end()), samples);
}

TEST(WaveWriter, OddDataGetsPadByteNotCountedInItsSize)
{
    const Bytes samples = Staircase8(7, 1);
    TMemoryStream stream;
    const Bytes image = writeImage(PcmFormat(1, 8000, 8), samples, stream);
    ASSERT_EQ(image.size(), 46 + 7 + 1u);
    EXPECT_EQ(le32(image, 42), 7u);
    EXPECT_EQ(image.back(), 0);
    EXPECT_EQ(le32(image, 4), image.size() - 8);
}

TEST(WaveWriter, OddExtraBytesArePaddedAndReadBack)
{
    Bytes record = FormatBytes(PcmFormat(1, 8000, 16), 18);
    record[16] = 3; // cbSize 3: a 21-byte "fmt " body
    record.insert(record.end(), {0xAA, 0xBB, 0xCC});
    const auto& format = *reinterpret_cast<const TWaveFormatEx*>(record.data());
    EXPECT_EQ(WaveHeaderSize(format), 12u + 8 + 21 + 1 + 8);
    TMemoryStream stream;
    const Bytes image = writeImage(format, Staircase16(4, 1), stream);
    EXPECT_EQ(le32(image, 16), 21u);
    EXPECT_EQ(image[20 + 21], 0); // pad byte
    EXPECT_EQ(text(image, 42), "data");

    WaveFormatBlock read;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_TRUE(ReadStreamWaveHeader(stream, read, size, offset));
    EXPECT_EQ(read, record);
    EXPECT_EQ(offset, WaveHeaderSize(format));
    EXPECT_EQ(size, 8u);
}

TEST(WaveWriter, BeginEmptiesTheStreamFirst)
{
    TMemoryStream stream;
    const Bytes junk(1000, 0x55);
    stream.Write(junk.data(), junk.size());
    const Bytes image = writeImage(PcmFormat(1, 8000, 16), {}, stream);
    EXPECT_EQ(image.size(), 46u);
    EXPECT_EQ(le32(image, 42), 0u);
}

TEST(WaveWriter, ImageCutShortBeforeClosingStillReadsEveryByte)
{
    // A recording interrupted before its chunks were closed keeps the largest sizes in its headers.
    TMemoryStream stream;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(stream, PcmFormat(1, 22050, 16), riff, data);
    ASSERT_TRUE(handle);
    const Bytes samples = Staircase16(300, 1);
    handle->Write(samples.data(), samples.size());
    handle.reset();
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_TRUE(ReadStreamWaveHeader(stream, format, size, offset));
    EXPECT_EQ(size, samples.size());
    EXPECT_EQ(offset, 46u);
}

TEST(WaveReader, CanonicalFileReadsWithZeroExtraCountAndOffset44)
{
    const Bytes image = CanonicalWave(PcmFormat(2, 44100, 16), Staircase16(3, 2));
    TBytesView view(image.data(), image.size());
    auto handle = OpenStreamIO(view);
    handle->Seek(17, SeekOrigin::Beginning);
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_TRUE(ReadWaveHeader(*handle, format, size, offset));
    EXPECT_EQ(handle->Offset(), 17u); // restored
    ASSERT_EQ(format.size(), 18u);
    EXPECT_EQ(AsWaveFormat(format)->cbSize, 0);
    EXPECT_EQ(AsWaveFormat(format)->nChannels, 2);
    EXPECT_EQ(AsWaveFormat(format)->nSamplesPerSec, 44100u);
    EXPECT_EQ(offset, 44u);
    EXPECT_EQ(size, 12u);
}

TEST(WaveReader, Fmt14BytesReadsBitsAndExtraCountAsZero)
{
    const Bytes image = RiffBuilder().fmt(PcmFormat(1, 8000, 16), 14).data(Bytes(4, 1)).build();
    TBytesView view(image.data(), image.size());
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_TRUE(ReadStreamWaveHeader(view, format, size, offset));
    EXPECT_EQ(AsWaveFormat(format)->wBitsPerSample, 0);
    EXPECT_EQ(AsWaveFormat(format)->cbSize, 0);
    EXPECT_EQ(AsWaveFormat(format)->nBlockAlign, 2);
}

TEST(WaveReader, ChunksAroundAreSkipped)
{
    Bytes list;
    AppendText(list, "INFO");
    const Bytes samples = Staircase16(8, 1);
    const Bytes image = RiffBuilder()
                            .chunk("bext", Bytes(3, 9))
                            .fmt(PcmFormat(1, 11025, 16))
                            .chunk("LIST", list)
                            .data(samples)
                            .chunk("cue ", Bytes(24, 0))
                            .build();
    TBytesView view(image.data(), image.size());
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    ASSERT_TRUE(ReadStreamWaveHeader(view, format, size, offset));
    EXPECT_EQ(offset, 12u + 12 + 24 + 12 + 8);
    EXPECT_EQ(size, samples.size());
}

TEST(WaveReader, EmptyStreamIsRefused)
{
    TMemoryStream stream;
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    EXPECT_FALSE(ReadStreamWaveHeader(stream, format, size, offset));
}

} // namespace
