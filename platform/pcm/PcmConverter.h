// The PCM converter: sample rate (libsoxr), channel count (mono/stereo) and sample size (8/16 bits)
// changes over a whole in-memory block in one pass. Deterministic: the same input gives the same output.
// Threads: conversions may run on several threads at once; each thread keeps a resampler of its own.
#pragma once

#include "platform/io/HeapBlock.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// Interleaved PCM as stored in a WAVE "data" chunk: 8-bit unsigned or 16-bit signed little-endian.
struct PcmLayout
{
    unsigned channels = 0; // 1 or 2
    unsigned rate = 0;     // frames per second
    unsigned bits = 0;     // 8 or 16
};

// True when the converter handles this layout (1 or 2 channels, 8 or 16 bits, 1000..384000 Hz).
bool IsSupportedPcm(const PcmLayout& layout);

// Converts the whole frames of src (a trailing partial frame is ignored) from one layout to the other.
// On success out holds exactly the bytes produced (possibly none) and the result is true. An unsupported
// layout on either side gives false and leaves out untouched. Allocation failures throw std::bad_alloc.
bool ConvertPcm(const PcmLayout& from, const std::uint8_t* src, std::size_t srcSize, const PcmLayout& to,
                HeapBlock& out);

// Where ConvertPcmBlocks takes its input: count frames from frame first on, asked for in order, a block at a
// time. The bytes must stay in place until the next call.
using PcmSource = std::function<const std::uint8_t*(std::size_t first, std::size_t count)>;

// ConvertPcm over frames frames that need not all be in memory at once: the same bytes as ConvertPcm of
// the whole, for a source that reads each block from a file as it is asked. With headroom, out starts with
// that many bytes left free (for a header) before the bytes produced.
bool ConvertPcmBlocks(const PcmLayout& from, std::size_t frames, const PcmSource& source, const PcmLayout& to,
                      HeapBlock& out, std::size_t headroom = 0);

// The same-rate case into memory the caller provides: frames whole frames of src become as many frames of
// the other layout at dst, exactly as ConvertPcm makes them. False, touching nothing, for an unsupported
// layout or a change of rate. For a file converted block by block as it is read.
bool ConvertPcmFrames(const PcmLayout& from, const std::uint8_t* src, std::size_t frames, const PcmLayout& to,
                      std::uint8_t* dst);
