#include "platform/pcm/PcmConverter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <soxr.h>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Small enough for the staging buffers to stay in cache, large enough that the per-block
// overhead of the resampler calls is lost in the noise.
constexpr std::size_t kBlockFrames = 16384;

// libsoxr's flushed length lands within a frame of the rounded ratio; the spare frames keep
// a late extra frame from being lost without ever having to grow the block.
constexpr std::size_t kSpareFrames = 2;

constexpr unsigned kMinRate = 1000;
constexpr unsigned kMaxRate = 384000;

std::size_t FrameBytes(const PcmLayout& layout)
{
    return static_cast<std::size_t>(layout.channels) * (layout.bits / 8);
}

// Bytes for frames output frames; a size that cannot be represented cannot be allocated either.
std::size_t BytesFor(std::size_t frames, std::size_t frameBytes)
{
    if (frames > std::numeric_limits<std::size_t>::max() / frameBytes)
        throw std::bad_alloc();
    return frames * frameBytes;
}

inline int Load16(const std::uint8_t* p)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::int16_t v = 0;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    }
}

inline void Store16(std::uint8_t* p, int v)
{
    if constexpr (std::endian::native == std::endian::little) {
        const auto s = static_cast<std::int16_t>(v);
        std::memcpy(p, &s, sizeof s);
    } else {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(static_cast<unsigned>(v) >> 8);
    }
}

// Runs perFrame(i) for every frame. The fixed-length inner loop is what lets an -O2 build
// vectorise the kernels: the compiler's cheap cost model leaves loops of unknown length scalar.
template <typename PerFrame> inline void ForEachFrame(std::size_t frames, PerFrame perFrame)
{
    constexpr std::size_t kGroup = 16;
    std::size_t i = 0;
    for (; i + kGroup <= frames; i += kGroup) {
        for (std::size_t k = 0; k < kGroup; ++k)
            perFrame(i + k);
    }
    for (; i < frames; ++i)
        perFrame(i);
}

// ---- Same rate: integers only -------------------------------------------------------------

// Samples are combined in the wider of the two sizes: 8-bit input going to 16 bits is widened
// before the channels are averaged so the half step of the average is kept, and 16-bit input
// going to 8 bits is averaged before it is narrowed. Between 8-bit formats the unsigned bytes
// are averaged directly.
template <unsigned InBits, unsigned InCh, unsigned OutBits, unsigned OutCh>
void ConvertFramesInt(const std::uint8_t* __restrict src, std::uint8_t* __restrict dst, std::size_t frames)
{
    constexpr bool kByteDomain = InBits == 8 && OutBits == 8;
    // Both lambdas address single samples of the interleaved streams.
    const auto load = [src](std::size_t n) -> int {
        if constexpr (InBits == 16)
            return Load16(src + 2 * n);
        else if constexpr (kByteDomain)
            return src[n];
        else
            return (src[n] - 128) << 8;
    };
    const auto store = [dst](std::size_t n, int v) {
        if constexpr (OutBits == 16)
            Store16(dst + 2 * n, v);
        else if constexpr (kByteDomain)
            dst[n] = static_cast<std::uint8_t>(v);
        else
            dst[n] = static_cast<std::uint8_t>((v >> 8) + 128);
    };

    if constexpr (InCh == 2 && OutCh == 1) {
        ForEachFrame(frames, [&](std::size_t i) { store(i, (load(2 * i) + load(2 * i + 1)) >> 1); });
    } else if constexpr (InCh == 1 && OutCh == 2) {
        ForEachFrame(frames, [&](std::size_t i) {
            const int v = load(i);
            store(2 * i, v);
            store(2 * i + 1, v);
        });
    } else {
        ForEachFrame(frames * InCh, [&](std::size_t n) { store(n, load(n)); });
    }
}

using IntConverter = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

template <unsigned InBits, unsigned OutBits> IntConverter PickIntConverter(unsigned inCh, unsigned outCh)
{
    if (inCh == 1)
        return outCh == 1 ? ConvertFramesInt<InBits, 1, OutBits, 1> : ConvertFramesInt<InBits, 1, OutBits, 2>;
    return outCh == 1 ? ConvertFramesInt<InBits, 2, OutBits, 1> : ConvertFramesInt<InBits, 2, OutBits, 2>;
}

IntConverter PickIntConverter(const PcmLayout& from, const PcmLayout& to)
{
    if (from.bits == 8)
        return to.bits == 8 ? PickIntConverter<8, 8>(from.channels, to.channels)
                            : PickIntConverter<8, 16>(from.channels, to.channels);
    return to.bits == 8 ? PickIntConverter<16, 8>(from.channels, to.channels)
                        : PickIntConverter<16, 16>(from.channels, to.channels);
}

void ConvertSameRateInto(const PcmLayout& from, const std::uint8_t* src, std::size_t frames,
                         const PcmLayout& to, std::uint8_t* dst)
{
    if (from.bits == to.bits && from.channels == to.channels)
        std::memcpy(dst, src, frames * FrameBytes(to));
    else
        PickIntConverter(from, to)(src, dst, frames);
}

void ConvertSameRate(const PcmLayout& from, std::size_t frames, const PcmSource& source, const PcmLayout& to,
                     HeapBlock& result, std::size_t headroom)
{
    // The frame count does not change, so the estimate is exact and nothing needs trimming.
    const std::size_t outFrameBytes = FrameBytes(to);
    result.allocate(headroom + BytesFor(frames, outFrameBytes));
    for (std::size_t done = 0; done < frames;) {
        const std::size_t block = std::min(kBlockFrames, frames - done);
        ConvertSameRateInto(from, source(done, block), block, to,
                            result.data() + headroom + done * outFrameBytes);
        done += block;
    }
}

// ---- Rate change: libsoxr on floats -------------------------------------------------------

// Decodes frames into the resampler's input, folding stereo to mono first so that only one
// channel goes through the filter.
template <unsigned InBits, unsigned InCh, unsigned ResCh>
void DecodeFrames(const std::uint8_t* __restrict src, float* __restrict dst, std::size_t frames)
{
    const auto load = [src](std::size_t n) -> float {
        if constexpr (InBits == 16)
            return static_cast<float>(Load16(src + 2 * n)) * (1.0f / 32768.0f);
        else
            return static_cast<float>(src[n] - 128) * (1.0f / 128.0f);
    };

    if constexpr (InCh == 2 && ResCh == 1)
        ForEachFrame(frames, [&](std::size_t i) { dst[i] = (load(2 * i) + load(2 * i + 1)) * 0.5f; });
    else
        ForEachFrame(frames * InCh, [&](std::size_t n) { dst[n] = load(n); });
}

// Rounds half to even and clips, giving what clipping lrintf(y) gives in the default rounding
// mode, but in a form the compiler can vectorise (lrintf itself is a library call here). Adding
// and removing 1.5 * 2^23 leaves y rounded to an integer for any |y| < 2^22; anything larger is
// clipped anyway.
template <int Lo, int Hi> inline int RoundClipped(float y)
{
    constexpr float kRound = 12582912.0f;
    float r = (y + kRound) - kRound;
    r = r < static_cast<float>(Lo) ? static_cast<float>(Lo) : r;
    r = r > static_cast<float>(Hi) ? static_cast<float>(Hi) : r;
    return static_cast<int>(r);
}

// Encodes resampled frames, duplicating mono to stereo on the way out.
template <unsigned ResCh, unsigned OutBits, unsigned OutCh>
void EncodeFrames(const float* __restrict src, std::uint8_t* __restrict dst, std::size_t frames)
{
    const auto store = [dst](std::size_t n, float x) {
        if constexpr (OutBits == 16)
            Store16(dst + 2 * n, RoundClipped<-32768, 32767>(x * 32768.0f));
        else
            dst[n] = static_cast<std::uint8_t>(RoundClipped<-128, 127>(x * 128.0f) + 128);
    };

    if constexpr (ResCh == 1 && OutCh == 2) {
        ForEachFrame(frames, [&](std::size_t i) {
            store(2 * i, src[i]);
            store(2 * i + 1, src[i]);
        });
    } else {
        ForEachFrame(frames * OutCh, [&](std::size_t n) { store(n, src[n]); });
    }
}

using Decoder = void (*)(const std::uint8_t*, float*, std::size_t);
using Encoder = void (*)(const float*, std::uint8_t*, std::size_t);

template <unsigned InBits> Decoder PickDecoder(unsigned inCh, unsigned resCh)
{
    if (inCh == 1)
        return DecodeFrames<InBits, 1, 1>;
    return resCh == 1 ? DecodeFrames<InBits, 2, 1> : DecodeFrames<InBits, 2, 2>;
}

template <unsigned OutBits> Encoder PickEncoder(unsigned resCh, unsigned outCh)
{
    if (resCh == 2)
        return EncodeFrames<2, OutBits, 2>;
    return outCh == 1 ? EncodeFrames<1, OutBits, 1> : EncodeFrames<1, OutBits, 2>;
}

struct SoxrDeleter
{
    void operator()(soxr_t handle) const noexcept { soxr_delete(handle); }
};
using SoxrHandle = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

// A resampler and its buffers, kept by each thread from one conversion to the next between the same rates:
// converting clip after clip then costs their samples, not a new filter and fresh memory for each.
struct Resampler
{
    unsigned inRate = 0;
    unsigned outRate = 0;
    unsigned channels = 0;
    SoxrHandle soxr;
    std::vector<float> staged;
    std::vector<float> resampled;
};

// The thread's resampler for these rates, ready for a fresh signal (soxr_clear forgets the last one's
// samples); null when libsoxr refuses them.
Resampler* ResamplerFor(unsigned inRate, unsigned outRate, unsigned channels)
{
    thread_local Resampler kept;
    if (kept.soxr && kept.inRate == inRate && kept.outRate == outRate && kept.channels == channels &&
        soxr_clear(kept.soxr.get()) == nullptr)
        return &kept;
    kept.soxr.reset();
    // Float in and out: libsoxr only dithers when it produces integers, and dither would make
    // the same input give different bytes from one run to the next.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    SoxrHandle soxr(soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime));
    if (!soxr || error != nullptr)
        return nullptr;
    kept.soxr = std::move(soxr);
    kept.inRate = inRate;
    kept.outRate = outRate;
    kept.channels = channels;
    kept.staged.resize(kBlockFrames * channels);
    kept.resampled.resize(kBlockFrames * channels);
    return &kept;
}

// round(frames * outRate / inRate), split into whole seconds of input and the rest so that no
// product can overflow.
std::size_t ExpectedFrames(std::size_t frames, unsigned inRate, unsigned outRate)
{
    const std::size_t seconds = frames / inRate;
    const std::uint64_t rest = frames % inRate;
    if (seconds > (std::numeric_limits<std::size_t>::max() - outRate - kSpareFrames) / outRate)
        throw std::bad_alloc();
    const auto restFrames =
        static_cast<std::size_t>((rest * outRate * 2 + inRate) / (std::uint64_t{inRate} * 2));
    return seconds * outRate + restFrames;
}

bool ConvertRate(const PcmLayout& from, std::size_t frames, const PcmSource& source, const PcmLayout& to,
                 HeapBlock& result, std::size_t headroom)
{
    const unsigned resCh = std::min(from.channels, to.channels);
    const std::size_t outFrameBytes = FrameBytes(to);
    const Decoder decode =
        from.bits == 8 ? PickDecoder<8>(from.channels, resCh) : PickDecoder<16>(from.channels, resCh);
    const Encoder encode =
        to.bits == 8 ? PickEncoder<8>(resCh, to.channels) : PickEncoder<16>(resCh, to.channels);

    Resampler* const resampler = ResamplerFor(from.rate, to.rate, resCh);
    if (!resampler)
        return false;
    const soxr_t soxr = resampler->soxr.get();
    std::vector<float>& staged = resampler->staged;
    std::vector<float>& resampled = resampler->resampled;
    soxr_error_t error = nullptr;

    const std::size_t capacity = ExpectedFrames(frames, from.rate, to.rate) + kSpareFrames;
    result.allocate(headroom + BytesFor(capacity, outFrameBytes));
    std::size_t written = 0;

    const auto emit = [&](std::size_t count) {
        count = std::min(count, capacity - written);
        encode(resampled.data(), result.data() + headroom + written * outFrameBytes, count);
        written += count;
    };

    for (std::size_t done = 0; done < frames;) {
        const std::size_t block = std::min(kBlockFrames, frames - done);
        decode(source(done, block), staged.data(), block);
        done += block;

        // libsoxr takes no more input per call than fits the output buffer, so a block can
        // take several calls when upsampling.
        const float* in = staged.data();
        std::size_t left = block;
        while (left > 0) {
            std::size_t used = 0;
            std::size_t produced = 0;
            error = soxr_process(soxr, in, left, &used, resampled.data(), kBlockFrames, &produced);
            if (error != nullptr || (used == 0 && produced == 0))
                return false;
            in += used * resCh;
            left -= used;
            emit(produced);
        }
    }

    // A null input marks the end of the stream: the filter's tail comes out over as many calls
    // as needed, ending with one that produces nothing.
    for (;;) {
        std::size_t produced = 0;
        error = soxr_process(soxr, nullptr, 0, nullptr, resampled.data(), kBlockFrames, &produced);
        if (error != nullptr)
            return false;
        emit(produced);
        if (produced == 0 || written == capacity)
            break;
    }

    result.resize(headroom + written * outFrameBytes);
    return true;
}

} // namespace

bool IsSupportedPcm(const PcmLayout& layout)
{
    return (layout.channels == 1 || layout.channels == 2) && (layout.bits == 8 || layout.bits == 16) &&
           layout.rate >= kMinRate && layout.rate <= kMaxRate;
}

bool ConvertPcm(const PcmLayout& from, const std::uint8_t* src, std::size_t srcSize, const PcmLayout& to,
                HeapBlock& out)
{
    if (!IsSupportedPcm(from) || !IsSupportedPcm(to))
        return false;

    const std::size_t frameBytes = FrameBytes(from);
    return ConvertPcmBlocks(
        from, srcSize / frameBytes,
        [src, frameBytes](std::size_t first, std::size_t) { return src + first * frameBytes; }, to, out);
}

bool ConvertPcmBlocks(const PcmLayout& from, std::size_t frames, const PcmSource& source, const PcmLayout& to,
                      HeapBlock& out, std::size_t headroom)
{
    if (!IsSupportedPcm(from) || !IsSupportedPcm(to))
        return false;
    HeapBlock result;
    if (frames == 0)
        result.allocate(headroom);
    else if (from.rate == to.rate)
        ConvertSameRate(from, frames, source, to, result, headroom);
    else if (!ConvertRate(from, frames, source, to, result, headroom))
        return false;
    out = std::move(result);
    return true;
}

bool ConvertPcmFrames(const PcmLayout& from, const std::uint8_t* src, std::size_t frames, const PcmLayout& to,
                      std::uint8_t* dst)
{
    if (!IsSupportedPcm(from) || !IsSupportedPcm(to) || from.rate != to.rate)
        return false;
    if (frames > 0)
        ConvertSameRateInto(from, src, frames, to, dst);
    return true;
}
