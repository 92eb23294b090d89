// The encoder's stream interface on its own: what it refuses, its chunk and buffer sizes, its handles,
// chunks of any length, and the frame rate it picks for each MPEG version.
#include "mp3/Lame_dll.h"
#include "mp3/Mp3Decode.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

BE_CONFIG Config(std::uint32_t rate = 44100, std::int32_t mode = BE_MP3_MODE_STEREO,
                 std::uint32_t bitrate = 128)
{
    BE_CONFIG c{};
    c.configKind = BE_CONFIG_LAME;
    c.structVersion = 1;
    c.structSize = sizeof(BE_CONFIG);
    c.sampleRate = rate;
    c.mode = mode;
    c.bitrate = bitrate;
    c.maxBitrate = 320;
    c.mpegVersion = BE_MPEG1;
    c.vbrQuality = 4;
    return c;
}

BE_ERR Open(const BE_CONFIG& c)
{
    std::uint32_t samples = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = 0;
    const BE_ERR result = beInitStream(&c, &samples, &size, &stream);
    if (result == BE_ERR_SUCCESSFUL)
        beCloseStream(stream);
    return result;
}

// Encodes the samples in chunks of the lengths given in turn (all channels together), then flushes.
Bytes EncodeInChunks(const BE_CONFIG& c, const std::vector<std::int16_t>& samples,
                     const std::vector<std::size_t>& lengths)
{
    std::uint32_t perChunk = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(beInitStream(&c, &perChunk, &size, &stream), BE_ERR_SUCCESSFUL);
    std::vector<std::uint8_t> buffer(size);
    Bytes out;
    std::size_t at = 0;
    for (std::size_t k = 0; at < samples.size(); ++k) {
        const std::size_t n = std::min(lengths[k % lengths.size()], samples.size() - at);
        std::uint32_t produced = 0;
        EXPECT_EQ(beEncodeChunk(stream, static_cast<std::uint32_t>(n), samples.data() + at, buffer.data(),
                                &produced),
                  BE_ERR_SUCCESSFUL);
        out.insert(out.end(), buffer.begin(), buffer.begin() + produced);
        at += n;
    }
    std::uint32_t produced = 0;
    EXPECT_EQ(beDeinitStream(stream, buffer.data(), &produced), BE_ERR_SUCCESSFUL);
    out.insert(out.end(), buffer.begin(), buffer.begin() + produced);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    return out;
}

TEST(LameDll, RefusesWhatTheEncoderCannotTake)
{
    EXPECT_EQ(Open(Config()), BE_ERR_SUCCESSFUL);

    BE_CONFIG c = Config();
    c.configKind = 0;
    EXPECT_EQ(Open(c), BE_ERR_INVALID_CONFIG);
    c = Config();
    c.structSize = 80;
    EXPECT_EQ(Open(c), BE_ERR_INVALID_CONFIG);

    const auto refused = [](const char* what, auto change) {
        BE_CONFIG bad = Config();
        change(bad);
        EXPECT_EQ(Open(bad), BE_ERR_INVALID_PARAMETERS) << what;
    };
    refused("no sample rate", [](BE_CONFIG& b) { b.sampleRate = 0; });
    refused("mode 4", [](BE_CONFIG& b) { b.mode = 4; });
    refused("negative mode", [](BE_CONFIG& b) { b.mode = -1; });
    refused("quality 4", [](BE_CONFIG& b) { b.quality = 4; });
    refused("100 kbit/s", [](BE_CONFIG& b) { b.bitrate = 100; });
    refused("no bit rate", [](BE_CONFIG& b) { b.bitrate = 0; });
    refused("144 kbit/s is MPEG-2 only", [](BE_CONFIG& b) { b.bitrate = 144; });
    refused("320 kbit/s is MPEG-1 only", [](BE_CONFIG& b) {
        b.mpegVersion = BE_MPEG2;
        b.bitrate = 320;
    });
    refused("MPEG version 3", [](BE_CONFIG& b) { b.mpegVersion = 3; });
    refused("frames at 22.05 kHz are not MPEG-1", [](BE_CONFIG& b) { b.resampleRate = 22050; });
    refused("reserved emphasis", [](BE_CONFIG& b) { b.emphasis = 2; });
    refused("VBR maximum below its minimum", [](BE_CONFIG& b) {
        b.enableVBR = 1;
        b.bitrate = 192;
        b.maxBitrate = 128;
    });
    refused("VBR quality 10", [](BE_CONFIG& b) {
        b.enableVBR = 1;
        b.vbrQuality = 10;
    });

    std::uint32_t samples = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = 0;
    const BE_CONFIG good = Config();
    EXPECT_EQ(beInitStream(nullptr, &samples, &size, &stream), BE_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(beInitStream(&good, nullptr, &size, &stream), BE_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(stream, 0U);
}

TEST(LameDll, ChunkSizesAndHandles)
{
    for (const std::int32_t mode : {BE_MP3_MODE_STEREO, BE_MP3_MODE_MONO}) {
        const BE_CONFIG c = Config(44100, mode, 320);
        std::uint32_t samples = 0;
        std::uint32_t size = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(beInitStream(&c, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
        EXPECT_NE(stream, 0U);
        // One MPEG-1 frame: 1152 samples per channel.
        EXPECT_EQ(samples, mode == BE_MP3_MODE_MONO ? 1152U : 2304U);

        // The largest chunk, at full scale, fits the buffer; one sample more is refused.
        std::vector<std::int16_t> loud(BE_MAX_CHUNK_SAMPLES + 1);
        for (std::size_t i = 0; i < loud.size(); ++i)
            loud[i] = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
        std::vector<std::uint8_t> buffer(size + 16, 0xAB);
        std::uint32_t produced = 0;
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(beEncodeChunk(stream, BE_MAX_CHUNK_SAMPLES, loud.data(), buffer.data(), &produced),
                      BE_ERR_SUCCESSFUL);
            EXPECT_LE(produced, size);
        }
        EXPECT_EQ(beEncodeChunk(stream, BE_MAX_CHUNK_SAMPLES + 1, loud.data(), buffer.data(), &produced),
                  BE_ERR_BUFFER_TOO_SMALL);
        EXPECT_EQ(produced, 0U);
        ASSERT_EQ(beDeinitStream(stream, buffer.data(), &produced), BE_ERR_SUCCESSFUL);
        EXPECT_GT(produced, 0U);
        EXPECT_LE(produced, size);
        EXPECT_TRUE(
            std::all_of(buffer.begin() + size, buffer.end(), [](std::uint8_t b) { return b == 0xAB; }));

        EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(beCloseStream(stream), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(beEncodeChunk(stream, 2, loud.data(), buffer.data(), &produced), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(beDeinitStream(stream, buffer.data(), &produced), BE_ERR_INVALID_HANDLE);
    }
    EXPECT_EQ(beCloseStream(0), BE_ERR_INVALID_HANDLE);
}

TEST(LameDll, ChunksOfAnyLengthMakeTheSameStream)
{
    const std::vector<std::int16_t> samples = Samples(Tones(30000, {{1000, 9000}, {2500, 4000}}));
    const BE_CONFIG c = Config(44100, BE_MP3_MODE_STEREO, 192);
    const Bytes frameByFrame = EncodeInChunks(c, samples, {2304});
    // Odd lengths split stereo pairs between two chunks: each sample still lands in its own channel.
    EXPECT_EQ(EncodeInChunks(c, samples, {1}), frameByFrame);
    EXPECT_EQ(EncodeInChunks(c, samples, {2305, 999, 6, 4607}), frameByFrame);
    EXPECT_EQ(EncodeInChunks(c, samples, {BE_MAX_CHUNK_SAMPLES}), frameByFrame);

    // A sample left without its partner at the end is dropped.
    std::vector<std::int16_t> oneMore = samples;
    oneMore.push_back(30000);
    EXPECT_EQ(EncodeInChunks(c, oneMore, {2305}), frameByFrame);
}

TEST(LameDll, FrameRateFollowsTheMpegVersion)
{
    // 22 050 Hz mono input: MPEG-1 frames at 44.1 kHz, or MPEG-2 frames at its own rate.
    const std::size_t frames = std::size_t{22050} * 2;
    const std::vector<std::int16_t> samples = Samples(Tones(frames, {{1000, 8000}}, 22050));
    BE_CONFIG c = Config(22050, BE_MP3_MODE_MONO, 128);
    for (const std::uint32_t version : {BE_MPEG1, BE_MPEG2}) {
        c.mpegVersion = version;
        const Bytes mp3 = EncodeInChunks(c, samples, {1152});
        const FrameWalk walk = WalkFrames(mp3);
        ASSERT_TRUE(walk.complete) << version;
        EXPECT_EQ(walk.frames.front().version, version == BE_MPEG1 ? 1 : 2);
        EXPECT_EQ(walk.frames.front().sampleRate, version == BE_MPEG1 ? 44100 : 22050);
        EXPECT_EQ(walk.frames.front().bitrate, 128);
        const DecodedMp3 d = DecodeMp3(mp3);
        ASSERT_TRUE(d.ok);
        ASSERT_GT(d.left.size(), static_cast<std::size_t>(d.sampleRate));
        // Still a 1 kHz tone at its level (within 1 dB), at whichever rate.
        EXPECT_NEAR(ToneAmplitude(d.left, 1000, d.sampleRate, d.left.size() / 4, d.sampleRate / 2), 8000,
                    880);
    }
    // A frame rate given outright wins.
    c.mpegVersion = BE_MPEG1;
    c.resampleRate = 32000;
    const FrameWalk walk = WalkFrames(EncodeInChunks(c, samples, {1152}));
    ASSERT_TRUE(walk.complete);
    EXPECT_EQ(walk.frames.front().sampleRate, 32000);
}

TEST(LameDll, VersionRecord)
{
    BE_VERSION v;
    std::memset(&v, 0xFF, sizeof(v));
    beVersion(&v);
    const auto [major, minor] = LibraryVersion();
    EXPECT_EQ(v.majorVersion, major);
    EXPECT_EQ(v.minorVersion, minor);
    EXPECT_EQ(std::string(v.versionText), std::to_string(major) + "." + std::to_string(minor));
}

} // namespace
