#include "audio/WaveUtils.h"

#include "platform/io/LocaleSeparators.h"
#include "platform/io/MulDiv.h"
#include "platform/pcm/PcmConverter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

const FourCC FourCC_WAVE = MakeFourCC('W', 'A', 'V', 'E');
const FourCC FourCC_fmt = MakeFourCC('f', 'm', 't', ' ');
const FourCC FourCC_data = MakeFourCC('d', 'a', 't', 'a');

constexpr std::array<std::uint32_t, 5> Rates = {8000, 11025, 22050, 44100, 48000};

struct PcmRow
{
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
};

// Row i describes TPCMFormat i + 1: for each rate, mono 8, stereo 8, mono 16, stereo 16.
constexpr std::array<PcmRow, PCMFormatCount> PcmTable = [] {
    std::array<PcmRow, PCMFormatCount> table{};
    int i = 0;
    for (std::uint32_t rate : Rates)
        for (std::uint16_t bits : {8, 16})
            for (std::uint16_t channels : {1, 2})
                table[static_cast<std::size_t>(i++)] = PcmRow{channels, rate, bits};
    return table;
}();

// Restores a handle's offset on every way out.
class OffsetKeeper
{
public:
    explicit OffsetKeeper(RiffIO& handle) : m_handle(handle), m_offset(handle.Offset()) {}
    ~OffsetKeeper() { m_handle.Seek(static_cast<std::int64_t>(m_offset), SeekOrigin::Beginning); }
    OffsetKeeper(const OffsetKeeper&) = delete;
    OffsetKeeper& operator=(const OffsetKeeper&) = delete;

private:
    RiffIO& m_handle;
    std::uint64_t m_offset;
};

// a * b / c rounded to nearest, halves up, in 64 bits; c > 0 and a * b < 2^64 for every caller.
std::uint64_t mulDivRound(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    return (a * b + c / 2) / c;
}

std::string format2(unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02u", value);
    return buffer;
}

} // namespace

bool SameWaveFormatRecord(const TWaveFormatEx& a, const TWaveFormatEx& b)
{
    return a.cbSize == b.cbSize && std::memcmp(&a, &b, WaveFormatRecordSize(a)) == 0;
}

std::unique_ptr<RiffIO> OpenStreamIO(TStream& stream)
{
    return std::make_unique<RiffIO>(stream);
}

bool ReadWaveHeader(RiffIO& handle, WaveFormatBlock& format, std::uint32_t& dataSize,
                    std::uint32_t& dataOffset)
{
    OffsetKeeper keeper(handle);
    if (handle.Seek(0, SeekOrigin::Beginning) < 0)
        return false;

    RiffChunkInfo riff;
    riff.fccType = FourCC_WAVE;
    if (handle.Descend(riff, nullptr, RiffFindRiff) != RiffResult::Ok)
        return false;

    RiffChunkInfo fmt;
    fmt.ckid = FourCC_fmt;
    if (handle.Descend(fmt, &riff, RiffFindChunk) != RiffResult::Ok)
        return false;
    if (fmt.cksize < 14)
        return false;
    std::uint64_t streamSize = 0;
    try {
        streamSize = handle.stream().Size();
    } catch (...) {
        return false;
    }
    // A chunk claiming more bytes than the image holds is cut short: no need to allocate for it.
    if (fmt.dataOffset + fmt.cksize > streamSize)
        return false;

    WaveFormatBlock block(std::max<std::size_t>(fmt.cksize, sizeof(TWaveFormatEx)), 0);
    if (handle.Read(block.data(), fmt.cksize) != static_cast<std::int64_t>(fmt.cksize))
        return false;
    const TWaveFormatEx& record = *AsWaveFormat(block);
    if (WaveFormatRecordSize(record) > block.size())
        return false;
    if (record.nChannels == 0 || record.nSamplesPerSec == 0 || record.nBlockAlign == 0)
        return false;

    if (handle.Ascend(fmt) != RiffResult::Ok)
        return false;
    RiffChunkInfo data;
    data.ckid = FourCC_data;
    if (handle.Descend(data, &riff, RiffFindChunk) != RiffResult::Ok)
        return false;
    if (data.dataOffset > UINT32_MAX)
        return false;

    // A recording cut short keeps its declared size: read the bytes that are really there.
    const std::uint64_t present = streamSize > data.dataOffset ? streamSize - data.dataOffset : 0;
    dataSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(data.cksize, present));
    dataOffset = static_cast<std::uint32_t>(data.dataOffset);
    format = std::move(block);
    return true;
}

bool ReadStreamWaveHeader(TStream& stream, WaveFormatBlock& format, std::uint32_t& dataSize,
                          std::uint32_t& dataOffset)
{
    if (stream.Size() == 0)
        return false;
    const std::uint64_t position = stream.Position();
    bool ok = false;
    {
        auto handle = OpenStreamIO(stream);
        ok = handle && ReadWaveHeader(*handle, format, dataSize, dataOffset);
    }
    stream.Seek(static_cast<std::int64_t>(position), SeekOrigin::Beginning);
    return ok;
}

bool WriteWaveHeader(RiffIO& handle, const TWaveFormatEx& format, RiffChunkInfo& riff, RiffChunkInfo& data)
{
    if (handle.Seek(0, SeekOrigin::Beginning) < 0)
        return false;
    // Sizes stay at their largest until the chunks are closed, so that an image cut short (a recording
    // interrupted by a crash) still reads with every byte it holds.
    riff = RiffChunkInfo{};
    riff.fccType = FourCC_WAVE;
    riff.cksize = UINT32_MAX;
    if (handle.CreateChunk(riff, RiffCreateRiff) != RiffResult::Ok)
        return false;

    RiffChunkInfo fmt;
    fmt.ckid = FourCC_fmt;
    fmt.cksize = static_cast<std::uint32_t>(WaveFormatRecordSize(format));
    if (handle.CreateChunk(fmt, 0) != RiffResult::Ok)
        return false;
    const auto recordSize = static_cast<std::int64_t>(WaveFormatRecordSize(format));
    if (handle.Write(&format, static_cast<std::size_t>(recordSize)) != recordSize)
        return false;
    if (handle.Ascend(fmt) != RiffResult::Ok)
        return false;

    data = RiffChunkInfo{};
    data.ckid = FourCC_data;
    data.cksize = UINT32_MAX;
    return handle.CreateChunk(data, 0) == RiffResult::Ok;
}

std::unique_ptr<RiffIO> BeginStreamWave(TStream& stream, const TWaveFormatEx& format, RiffChunkInfo& riff,
                                        RiffChunkInfo& data)
{
    auto handle = OpenStreamIO(stream);
    if (!handle)
        return nullptr;
    stream.SetSize(0);
    if (!WriteWaveHeader(*handle, format, riff, data))
        return nullptr;
    return handle;
}

bool EndWaveWriting(std::unique_ptr<RiffIO> handle, RiffChunkInfo& riff, RiffChunkInfo& data)
{
    if (!handle)
        return false;
    const bool dataClosed = handle->Ascend(data) == RiffResult::Ok;
    const bool riffClosed = handle->Ascend(riff) == RiffResult::Ok;
    return dataClosed && riffClosed;
}

std::int64_t WaveFormatRecordOffset(TStream& stream)
{
    const std::unique_ptr<RiffIO> handle = OpenStreamIO(stream);
    OffsetKeeper keeper(*handle);
    if (handle->Seek(0, SeekOrigin::Beginning) < 0)
        return -1;
    RiffChunkInfo riff;
    riff.fccType = FourCC_WAVE;
    if (handle->Descend(riff, nullptr, RiffFindRiff) != RiffResult::Ok)
        return -1;
    RiffChunkInfo fmt;
    fmt.ckid = FourCC_fmt;
    if (handle->Descend(fmt, &riff, RiffFindChunk) != RiffResult::Ok)
        return -1;
    return static_cast<std::int64_t>(fmt.dataOffset);
}

std::uint32_t WaveHeaderSize(const TWaveFormatEx& format)
{
    const auto record = static_cast<std::uint32_t>(WaveFormatRecordSize(format));
    return 12 + 8 + record + (record & 1U) + 8;
}

void FillPCMFormat(TWaveFormatEx& format, bool stereo, int rateIndex, bool sixteenBits)
{
    if (rateIndex < 0 || rateIndex >= static_cast<int>(Rates.size()))
        throw std::out_of_range("FillPCMFormat: rate index");
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = stereo ? 2 : 1;
    format.nSamplesPerSec = Rates[static_cast<std::size_t>(rateIndex)];
    format.wBitsPerSample = sixteenBits ? 16 : 8;
    format.nBlockAlign = static_cast<std::uint16_t>(MulDiv(format.nChannels, format.wBitsPerSample, 8));
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;
}

void PCMFormatToWaveFormat(TWaveFormatEx& format, TPCMFormat pcm)
{
    if (pcm == nonePCM || pcm > PCMFormatCount)
        return;
    const PcmRow& row = PcmTable[pcm - 1];
    int rateIndex = 0;
    while (Rates[static_cast<std::size_t>(rateIndex)] != row.rate)
        ++rateIndex;
    FillPCMFormat(format, row.channels == 2, rateIndex, row.bits == 16);
}

TPCMFormat WaveFormatToPCMFormat(const TWaveFormatEx* format)
{
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM)
        return nonePCM;
    for (std::size_t i = 0; i < PcmTable.size(); ++i) {
        const PcmRow& row = PcmTable[i];
        if (row.channels == format->nChannels && row.rate == format->nSamplesPerSec &&
            row.bits == format->wBitsPerSample)
            return static_cast<TPCMFormat>(i + 1);
    }
    return nonePCM;
}

std::string WaveFormatDescription(const TWaveFormatEx* format)
{
    if (!format)
        return {};
    // The rate in kHz with three decimals is exact for a whole number of Hz: no floating point, so the
    // text does not depend on the C library's own locale.
    const std::uint32_t rate = format->nSamplesPerSec;
    char kHz[32];
    std::snprintf(kHz, sizeof kHz, "%u%s%03u", rate / 1000, CurrentLocaleSeparators().decimal.c_str(),
                  rate % 1000);
    std::string text = std::string(kHz) + " kHz, " + std::to_string(format->wBitsPerSample) + " Bit, ";
    if (format->nChannels == 1)
        text += "Mono";
    else if (format->nChannels == 2)
        text += "Stereo";
    else
        text += std::to_string(format->nChannels) + " Ch";
    if (format->wFormatTag == WAVE_FORMAT_PCM)
        text = "PCM " + text;
    return text;
}

std::int32_t WaveBitRate(const TWaveFormatEx* format)
{
    if (!format)
        return 0;
    const std::uint64_t bitsPerFrame = static_cast<std::uint64_t>(format->nChannels) * format->wBitsPerSample;
    const std::uint64_t kbps = mulDivRound(format->nSamplesPerSec, bitsPerFrame, 1000);
    return kbps > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
               ? -1
               : static_cast<std::int32_t>(kbps);
}

std::uint32_t WaveDuration(const TWaveFormatEx* format, std::uint32_t byteCount)
{
    if (!format || format->nAvgBytesPerSec == 0)
        return 0;
    const std::uint64_t ms = mulDivRound(1000, byteCount, format->nAvgBytesPerSec);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX));
}

std::uint32_t WaveMsToBytes(const TWaveFormatEx& format, std::uint32_t ms)
{
    // Rounded to the nearest byte, then up to a whole frame (and to an even count), so that a cut never
    // falls inside a frame: between the two samples of a stereo frame it would swap the channels after it.
    const std::uint64_t unit = std::max<std::uint64_t>(2, format.nBlockAlign);
    std::uint64_t bytes = (static_cast<std::uint64_t>(format.nAvgBytesPerSec) * ms + 500) / 1000;
    bytes = (bytes + unit - 1) / unit * unit;
    const std::uint64_t limit = UINT32_MAX / unit * unit;
    return static_cast<std::uint32_t>(std::min(bytes, limit));
}

std::string MsToTimeString(std::uint32_t ms, unsigned style)
{
    const LocaleSeparators sep = CurrentLocaleSeparators();
    const std::uint32_t c = ms / 10;
    const std::uint32_t s = c / 100;
    const std::uint32_t m = s / 60;
    const std::uint32_t h = m / 60;
    if (style == 6)
        style = h > 0 ? 0 : (m > 0 ? 2 : 4);
    else if (style == 7)
        style = h > 0 ? 1 : (m > 0 ? 3 : 5);
    switch (style) {
    case 0:
        return std::to_string(h) + sep.time + format2(m % 60) + sep.time + format2(s % 60) + sep.decimal +
               format2(c % 100);
    case 1:
        return std::to_string(h) + sep.time + format2(m % 60) + sep.time + format2(s % 60);
    case 2:
        return std::to_string(m) + sep.time + format2(s % 60) + sep.decimal + format2(c % 100);
    case 3:
        return std::to_string(m) + sep.time + format2(s % 60);
    case 4:
        return std::to_string(s) + sep.decimal + format2(c % 100);
    case 5:
        return std::to_string(s);
    default:
        return std::to_string(ms);
    }
}

int PeakLevel(const void* buffer, std::uint32_t count, int bitsPerSample)
{
    if (bitsPerSample == 8) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        unsigned peak = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            peak = std::max<unsigned>(peak, bytes[i]);
        return peak >= 128 ? static_cast<int>((peak - 128) * 100 / 127) : 0;
    }
    if (bitsPerSample == 16) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        int peak = 0;
        for (std::uint32_t i = 0; i + 1 < count; i += 2) {
            const auto v = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
            peak = std::max<int>(peak, v);
        }
        return peak * 100 / 32767;
    }
    return -1;
}

bool ConvertWaveFormat(const TWaveFormatEx& sourceFormat, const std::uint8_t* sourceData,
                       std::uint32_t sourceSize, HeapBlock& dest, const TWaveFormatEx& destFormat,
                       std::size_t headroom)
{
    if (sourceFormat.nBlockAlign == 0)
        return false;
    const std::size_t frameBytes = sourceFormat.nBlockAlign;
    return ConvertWaveFrames(
        sourceFormat, sourceSize / frameBytes,
        [sourceData, frameBytes](std::size_t first, std::size_t) { return sourceData + first * frameBytes; },
        dest, destFormat, headroom);
}

bool ConvertWaveFrames(const TWaveFormatEx& sourceFormat, std::size_t frames, const PcmSource& source,
                       HeapBlock& dest, const TWaveFormatEx& destFormat, std::size_t headroom)
{
    const auto pcmLayout = [](const TWaveFormatEx& f) {
        return PcmLayout{f.nChannels, f.nSamplesPerSec, f.wBitsPerSample};
    };
    const auto consistent = [](const TWaveFormatEx& f) {
        return f.wFormatTag == WAVE_FORMAT_PCM &&
               f.nBlockAlign * 8U == static_cast<unsigned>(f.nChannels) * f.wBitsPerSample;
    };
    if (!consistent(sourceFormat) || !consistent(destFormat) || sourceFormat.nSamplesPerSec == 0)
        return false;
    // The result must still fit a wave image, whose sizes are 32-bit.
    const std::uint64_t outFrames =
        mulDivRound(frames, destFormat.nSamplesPerSec, sourceFormat.nSamplesPerSec) + 2;
    if (outFrames * destFormat.nBlockAlign > UINT32_MAX - 2 * WaveHeaderSize(destFormat))
        return false;
    return ConvertPcmBlocks(pcmLayout(sourceFormat), frames, source, pcmLayout(destFormat), dest, headroom);
}
