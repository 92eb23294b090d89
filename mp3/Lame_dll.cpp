#include "mp3/Lame_dll.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <lame.h>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

struct LameCloser
{
    void operator()(lame_global_flags* flags) const noexcept { lame_close(flags); }
};
using LameFlags = std::unique_ptr<lame_global_flags, LameCloser>;

struct Stream
{
    LameFlags lame;
    int channels = 2;
    std::uint32_t bufferSize = 0;
    // A stereo chunk with an odd sample count leaves its last sample here, for the next chunk's right
    // channel; a sample still waiting when the stream is flushed has no partner and is dropped.
    bool hasPending = false;
    std::int16_t pending = 0;
    std::vector<std::int16_t> joined;
};

std::mutex g_streamsLock;
std::unordered_map<HBE_STREAM, std::unique_ptr<Stream>> g_streams;
HBE_STREAM g_nextHandle = 1;

Stream* findStream(HBE_STREAM handle)
{
    const std::lock_guard<std::mutex> lock(g_streamsLock);
    const auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second.get();
}

// The library writes its complaints to the standard error; the caller gets result codes instead.
void quiet(const char* /*format*/, va_list /*args*/) {}

constexpr std::array<std::uint32_t, 14> Mpeg1Bitrates{32,  40,  48,  56,  64,  80,  96,
                                                      112, 128, 160, 192, 224, 256, 320};
constexpr std::array<std::uint32_t, 14> Mpeg2Bitrates{8,  16, 24, 32,  40,  48,  56,
                                                      64, 80, 96, 112, 128, 144, 160};
constexpr std::array<std::uint32_t, 3> Mpeg1Rates{32000, 44100, 48000};
constexpr std::array<std::uint32_t, 6> Mpeg2Rates{16000, 22050, 24000, 8000, 11025, 12000};

template <std::size_t N> bool contains(const std::array<std::uint32_t, N>& values, std::uint32_t value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

// The MPEG version follows from the rate of the frames: the library has no other way of choosing it.
// Left to the encoder, the frames keep the input's rate family (44.1 kHz, 48 kHz or 32 kHz) at the
// rates of the version asked for.
std::uint32_t frameRate(const BE_CONFIG& config)
{
    if (config.resampleRate != 0)
        return config.resampleRate;
    const std::uint32_t in = config.sampleRate;
    std::uint32_t base = 0;
    if (in % 11025 == 0)
        base = 44100;
    else if (in % 12000 == 0)
        base = 48000;
    else if (in % 8000 == 0)
        base = 32000;
    else
        base = in < 38050 ? 32000 : (in < 46050 ? 44100 : 48000);
    return config.mpegVersion == BE_MPEG1 ? base : base / 2;
}

bool validConfig(const BE_CONFIG& config, std::uint32_t outRate)
{
    if (config.sampleRate < 1000 || config.sampleRate > 192000)
        return false;
    if (config.mode < BE_MP3_MODE_STEREO || config.mode > BE_MP3_MODE_MONO)
        return false;
    if (config.quality < BE_QUALITY_NORMAL || config.quality > BE_QUALITY_VOICE)
        return false;
    if (config.emphasis == 2 || config.emphasis > 3)
        return false;
    const bool mpeg1 = config.mpegVersion == BE_MPEG1;
    if (!mpeg1 && config.mpegVersion != BE_MPEG2)
        return false;
    if (mpeg1 ? !contains(Mpeg1Rates, outRate) : !contains(Mpeg2Rates, outRate))
        return false;
    const auto validRate = [&](std::uint32_t kbps) {
        return mpeg1 ? contains(Mpeg1Bitrates, kbps) : contains(Mpeg2Bitrates, kbps);
    };
    if (!validRate(config.bitrate))
        return false;
    if (config.enableVBR != 0) {
        if (!validRate(config.maxBitrate) || config.maxBitrate < config.bitrate)
            return false;
        if (config.vbrQuality < 0 || config.vbrQuality > 9)
            return false;
    }
    return true;
}

} // namespace

void beVersion(BE_VERSION* version)
{
    if (!version)
        return;
    std::memset(version, 0, sizeof(*version));
    lame_version_t numbers{};
    get_lame_version_numerical(&numbers);
    // The library module and its encoder engine are one and the same here: both report its release.
    version->dllMajorVersion = static_cast<std::uint8_t>(numbers.major);
    version->dllMinorVersion = static_cast<std::uint8_t>(numbers.minor);
    version->majorVersion = static_cast<std::uint8_t>(numbers.major);
    version->minorVersion = static_cast<std::uint8_t>(numbers.minor);
    version->psyMajorVersion = static_cast<std::uint8_t>(numbers.psy_major);
    version->psyMinorVersion = static_cast<std::uint8_t>(numbers.psy_minor);
    const char* text = get_lame_short_version();
    if (text)
        std::strncpy(version->versionText, text, sizeof(version->versionText) - 1);
}

BE_ERR beInitStream(const BE_CONFIG* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream)
{
    if (!config || !samples || !bufferSize || !stream)
        return BE_ERR_INVALID_PARAMETERS;
    if (config->configKind != BE_CONFIG_LAME || config->structVersion < 1 ||
        config->structSize < sizeof(BE_CONFIG))
        return BE_ERR_INVALID_CONFIG;
    const std::uint32_t outRate = frameRate(*config);
    if (!validConfig(*config, outRate))
        return BE_ERR_INVALID_PARAMETERS;

    auto s = std::make_unique<Stream>();
    s->lame.reset(lame_init());
    if (!s->lame)
        return BE_ERR_OUT_OF_MEMORY;
    lame_global_flags* lame = s->lame.get();
    lame_set_errorf(lame, quiet);
    lame_set_debugf(lame, quiet);
    lame_set_msgf(lame, quiet);

    s->channels = config->mode == BE_MP3_MODE_MONO ? 1 : 2;
    lame_set_in_samplerate(lame, static_cast<int>(config->sampleRate));
    lame_set_num_channels(lame, s->channels);
    lame_set_out_samplerate(lame, static_cast<int>(outRate));
    static constexpr std::array<MPEG_mode, 4> Modes{STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
    lame_set_mode(lame, Modes[static_cast<std::size_t>(config->mode)]);
    lame_set_quality(lame, BE_QUALITY_LEVELS[static_cast<std::size_t>(config->quality)]);
    if (config->quality == BE_QUALITY_VOICE)
        lame_set_lowpassfreq(lame, BE_VOICE_LOWPASS_HZ);
    lame_set_emphasis(lame, static_cast<int>(config->emphasis));
    lame_set_extension(lame, config->privateBit != 0 ? 1 : 0);
    lame_set_error_protection(lame, config->crc != 0 ? 1 : 0);
    lame_set_copyright(lame, config->copyright != 0 ? 1 : 0);
    lame_set_original(lame, config->original != 0 ? 1 : 0);
    lame_set_bWriteVbrTag(lame, config->writeVBRHeader != 0 ? 1 : 0);
    // Always given: left alone, the library picks a rate of its own from the input's format.
    lame_set_brate(lame, static_cast<int>(config->bitrate));
    if (config->enableVBR != 0) {
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_q(lame, config->vbrQuality);
        lame_set_VBR_min_bitrate_kbps(lame, static_cast<int>(config->bitrate));
        lame_set_VBR_max_bitrate_kbps(lame, static_cast<int>(config->maxBitrate));
    } else {
        lame_set_VBR(lame, vbr_off);
    }
    if (lame_init_params(lame) < 0)
        return BE_ERR_INVALID_PARAMETERS;

    // The library's worst case for n samples per channel is 1.25 n + 7200 bytes, counted at the rate of
    // the frames; a chunk may carry one more sample than the largest, the one a stereo chunk left behind.
    const std::uint64_t perChannel = (BE_MAX_CHUNK_SAMPLES + 1) / static_cast<std::uint32_t>(s->channels) + 1;
    const std::uint64_t stretch =
        std::max<std::uint64_t>(1, (outRate + config->sampleRate - 1) / config->sampleRate);
    s->bufferSize = static_cast<std::uint32_t>((perChannel * stretch * 5 + 3) / 4 + 7200);
    s->joined.reserve(BE_MAX_CHUNK_SAMPLES + 1);

    *samples = static_cast<std::uint32_t>(lame_get_framesize(lame) * s->channels);
    *bufferSize = s->bufferSize;
    const std::lock_guard<std::mutex> lock(g_streamsLock);
    *stream = g_nextHandle++;
    g_streams.emplace(*stream, std::move(s));
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t count, const std::int16_t* samples,
                     std::uint8_t* output, std::uint32_t* outputBytes)
{
    Stream* s = findStream(stream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!outputBytes || !output || (count > 0 && !samples))
        return BE_ERR_INVALID_PARAMETERS;
    *outputBytes = 0;
    if (count > BE_MAX_CHUNK_SAMPLES)
        return BE_ERR_BUFFER_TOO_SMALL;

    const std::int16_t* data = samples;
    std::size_t total = count;
    if (s->channels == 2 && (s->hasPending || count % 2 != 0)) {
        s->joined.clear();
        if (s->hasPending)
            s->joined.push_back(s->pending);
        s->joined.insert(s->joined.end(), samples, samples + count);
        s->hasPending = s->joined.size() % 2 != 0;
        if (s->hasPending) {
            s->pending = s->joined.back();
            s->joined.pop_back();
        }
        data = s->joined.data();
        total = s->joined.size();
    }
    if (total == 0)
        return BE_ERR_SUCCESSFUL;

    const int size = static_cast<int>(s->bufferSize);
    int produced = 0;
    if (s->channels == 1) {
        produced = lame_encode_buffer(s->lame.get(), data, data, static_cast<int>(total), output, size);
    } else {
        // The library reads the samples without changing them; its declaration predates const.
        produced = lame_encode_buffer_interleaved(s->lame.get(), const_cast<std::int16_t*>(data),
                                                  static_cast<int>(total / 2), output, size);
    }
    if (produced < 0)
        return produced == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_ENCODER_FAILED;
    *outputBytes = static_cast<std::uint32_t>(produced);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes)
{
    Stream* s = findStream(stream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!output || !outputBytes)
        return BE_ERR_INVALID_PARAMETERS;
    *outputBytes = 0;
    s->hasPending = false;
    const int produced = lame_encode_flush(s->lame.get(), output, static_cast<int>(s->bufferSize));
    if (produced < 0)
        return BE_ERR_ENCODER_FAILED;
    *outputBytes = static_cast<std::uint32_t>(produced);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM stream)
{
    std::unique_ptr<Stream> closing;
    {
        const std::lock_guard<std::mutex> lock(g_streamsLock);
        const auto it = g_streams.find(stream);
        if (it == g_streams.end())
            return BE_ERR_INVALID_HANDLE;
        closing = std::move(it->second);
        g_streams.erase(it);
    }
    return BE_ERR_SUCCESSFUL;
}
