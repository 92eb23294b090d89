// The wave format record, the table of the 20 PCM formats, reading and building RIFF WAVE images over
// streams, and the small texts and measures every audio component shares.
#pragma once

#include "platform/io/HeapBlock.h"
#include "platform/io/Riff.h"
#include "platform/io/Stream.h"
#include "platform/pcm/PcmConverter.h"
#include "platform/sound/WaveFormat.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A format record with its extra bytes, as read from a "fmt " chunk: never shorter than 18 bytes,
// and never shorter than 18 + cbSize.
using WaveFormatBlock = std::vector<std::uint8_t>;

inline const TWaveFormatEx* AsWaveFormat(const WaveFormatBlock& block)
{
    return block.size() >= sizeof(TWaveFormatEx) ? reinterpret_cast<const TWaveFormatEx*>(block.data())
                                                 : nullptr;
}

// Bytes of a record that two formats must share to be the same: 18 + its extra-byte count.
inline std::size_t WaveFormatRecordSize(const TWaveFormatEx& format)
{
    return sizeof(TWaveFormatEx) + format.cbSize;
}

// Same extra-byte counts and the same bytes over 18 + that count.
bool SameWaveFormatRecord(const TWaveFormatEx& a, const TWaveFormatEx& b);

// The order is stored and passed as numbers: never reorder.
enum TPCMFormat : std::uint8_t
{
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz,
};
constexpr int PCMFormatCount = 20;

// Opens chunk I/O on the stream; null only without a stream to open.
std::unique_ptr<RiffIO> OpenStreamIO(TStream& stream);

// Finds the "fmt " and the following "data" chunk of a RIFF WAVE image. The data size is the declared
// one limited to the bytes the image really holds. A record that cannot describe sound (no channel,
// no rate, no block alignment, extra bytes running past its chunk) fails. The handle's offset is restored.
bool ReadWaveHeader(RiffIO& handle, WaveFormatBlock& format, std::uint32_t& dataSize,
                    std::uint32_t& dataOffset);

// Where the record of the "fmt " chunk starts in a RIFF WAVE image; -1 when there is none. The stream's
// position is left as it was.
std::int64_t WaveFormatRecordOffset(TStream& stream);

// The same on a whole stream, whose position is left as it was; false for an empty stream.
bool ReadStreamWaveHeader(TStream& stream, WaveFormatBlock& format, std::uint32_t& dataSize,
                          std::uint32_t& dataOffset);

// Writes "RIFF"/"WAVE", the "fmt " chunk (18 + extra bytes) and opens the "data" chunk.
bool WriteWaveHeader(RiffIO& handle, const TWaveFormatEx& format, RiffChunkInfo& riff, RiffChunkInfo& data);

// Empties the stream and starts an image in it; the handle is left in the open "data" chunk.
std::unique_ptr<RiffIO> BeginStreamWave(TStream& stream, const TWaveFormatEx& format, RiffChunkInfo& riff,
                                        RiffChunkInfo& data);

// Closes the "data" then the RIFF chunk, writing their sizes and pad bytes. False when a write failed.
bool EndWaveWriting(std::unique_ptr<RiffIO> handle, RiffChunkInfo& riff, RiffChunkInfo& data);

// Bytes before the samples in an image this system writes for that format (46 for PCM).
std::uint32_t WaveHeaderSize(const TWaveFormatEx& format);

// rateIndex 0..4 is 8000, 11025, 22050, 44100, 48000 Hz; anything else throws std::out_of_range.
void FillPCMFormat(TWaveFormatEx& format, bool stereo, int rateIndex, bool sixteenBits);
void PCMFormatToWaveFormat(TWaveFormatEx& format, TPCMFormat pcm);
TPCMFormat WaveFormatToPCMFormat(const TWaveFormatEx* format);

std::string WaveFormatDescription(const TWaveFormatEx* format);
// Kilobits per second, or -1 when it does not fit.
std::int32_t WaveBitRate(const TWaveFormatEx* format);
// Bytes of a duration in that format, rounded to whole frames (at least to an even count).
std::uint32_t WaveMsToBytes(const TWaveFormatEx& format, std::uint32_t ms);
// Milliseconds of byteCount bytes (rounded to nearest); 0 when the byte rate is 0.
std::uint32_t WaveDuration(const TWaveFormatEx* format, std::uint32_t byteCount);

std::string MsToTimeString(std::uint32_t ms, unsigned style);

// 0..100 for 8- or 16-bit PCM, counting only the positive half of the range; -1 for other sizes.
int PeakLevel(const void* buffer, std::uint32_t count, int bitsPerSample);

// Converts a whole block of samples between two PCM formats in one pass. dest receives exactly the bytes
// produced. A format that is not PCM on either side gives false and touches nothing.
bool ConvertWaveFormat(const TWaveFormatEx& sourceFormat, const std::uint8_t* sourceData,
                       std::uint32_t sourceSize, HeapBlock& dest, const TWaveFormatEx& destFormat,
                       std::size_t headroom = 0);
// The same over frames whole frames handed over a block at a time, so that they need not all be in memory.
// With headroom, dest starts with that many bytes left free, for the header of the wave the samples go into.
bool ConvertWaveFrames(const TWaveFormatEx& sourceFormat, std::size_t frames, const PcmSource& source,
                       HeapBlock& dest, const TWaveFormatEx& destFormat, std::size_t headroom = 0);
