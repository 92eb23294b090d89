// The MP3 encoder's stream interface: a configuration record, a version record and the five calls that
// open an encoder stream, encode 16-bit PCM into it chunk by chunk, flush it and close it. libmp3lame does
// the encoding behind them; nothing of that library shows through this header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using BE_ERR = std::uint32_t;

// Results of the calls. Anything but BE_ERR_SUCCESSFUL means the call did nothing useful.
constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
constexpr BE_ERR BE_ERR_INVALID_CONFIG = 1;     // not a LAME configuration record, or one too short
constexpr BE_ERR BE_ERR_INVALID_PARAMETERS = 2; // a rate, mode, bit rate or quality the encoder refuses
constexpr BE_ERR BE_ERR_OUT_OF_MEMORY = 3;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;   // not a stream opened by beInitStream, or already closed
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5; // more samples in one chunk than BE_MAX_CHUNK_SAMPLES
constexpr BE_ERR BE_ERR_ENCODER_FAILED = 6;   // the encoder itself gave up on the samples

// The configuration kind of the record below.
constexpr std::uint32_t BE_CONFIG_LAME = 256;
// Values of BE_CONFIG::mode.
constexpr std::int32_t BE_MP3_MODE_STEREO = 0;
constexpr std::int32_t BE_MP3_MODE_JSTEREO = 1;
constexpr std::int32_t BE_MP3_MODE_DUALCHANNEL = 2;
constexpr std::int32_t BE_MP3_MODE_MONO = 3;
// Values of BE_CONFIG::mpegVersion.
constexpr std::uint32_t BE_MPEG2 = 0;
constexpr std::uint32_t BE_MPEG1 = 1;
// Values of BE_CONFIG::quality.
constexpr std::int32_t BE_QUALITY_NORMAL = 0;
constexpr std::int32_t BE_QUALITY_LOW = 1;
constexpr std::int32_t BE_QUALITY_HIGH = 2;
constexpr std::int32_t BE_QUALITY_VOICE = 3;
// The encoder level (0 best and slowest, 9 fastest) each quality runs at, by quality: the library's own
// recommendations for "good quality, fast" (5), "ok quality, really fast" (7) and "near-best quality, not
// too slow" (2). The voice quality is the normal level with the band cut above BE_VOICE_LOWPASS_HZ,
// above the formants and sibilants of speech, so that the bits go where the voice is.
constexpr std::array<std::int32_t, 4> BE_QUALITY_LEVELS{5, 7, 2, 5};
constexpr std::int32_t BE_VOICE_LOWPASS_HZ = 12000;

// One call to beEncodeChunk takes at most this many 16-bit samples (all channels together): the most
// that a chunk length held in 16 bits can carry.
constexpr std::uint32_t BE_MAX_CHUNK_SAMPLES = 0xFFFF / 2;

#pragma pack(push, 1)
// The configuration of one stream, little-endian, packed. Boolean fields are 32-bit: non-zero is true.
struct BE_CONFIG
{
    std::uint32_t configKind;    // BE_CONFIG_LAME
    std::uint32_t structVersion; // 1
    std::uint32_t structSize;    // sizeof(BE_CONFIG)
    std::uint32_t sampleRate;    // of the input, in Hz
    std::uint32_t resampleRate;  // of the MP3 frames, in Hz; 0 lets the encoder choose
    std::int32_t mode;           // BE_MP3_MODE_...
    std::uint32_t bitrate;       // kbit/s: the constant rate, or the lowest one with VBR
    std::uint32_t maxBitrate;    // kbit/s: the highest rate with VBR
    std::int32_t quality;        // BE_QUALITY_...
    std::uint32_t mpegVersion;   // BE_MPEG1 or BE_MPEG2
    std::uint32_t psyModel;      // 0: the encoder's own psychoacoustic model (the only one)
    std::uint32_t emphasis;      // 0 none, 1 50/15 µs, 3 CCITT J.17
    std::uint32_t privateBit;
    std::uint32_t crc;
    std::uint32_t copyright;
    std::uint32_t original;
    std::uint32_t writeVBRHeader;
    std::uint32_t enableVBR;
    std::int32_t vbrQuality; // 0 (best) to 9
    std::uint8_t reserved[255];
};

// What beVersion reports: the library module's and its encoder engine's version numbers first.
struct BE_VERSION
{
    std::uint8_t dllMajorVersion;
    std::uint8_t dllMinorVersion;
    std::uint8_t majorVersion;
    std::uint8_t minorVersion;
    std::uint8_t psyMajorVersion;
    std::uint8_t psyMinorVersion;
    char versionText[32]; // the release as the library writes it, e.g. "3.100", zero-terminated
    std::uint8_t reserved[90];
};
#pragma pack(pop)
static_assert(sizeof(BE_CONFIG) == 331);
static_assert(sizeof(BE_VERSION) == 128);

// A stream's handle; 0 is never a valid one.
using HBE_STREAM = std::uintptr_t;

// Fills the version record.
void beVersion(BE_VERSION* version);

// Opens a stream for the configuration. On success, samples is the number of 16-bit samples (all channels
// together) of one MP3 frame, the natural chunk size, and bufferSize the number of bytes the output buffer
// of every later call on the stream must hold.
BE_ERR beInitStream(const BE_CONFIG* config, std::uint32_t* samples, std::uint32_t* bufferSize,
                    HBE_STREAM* stream);

// Encodes count interleaved 16-bit samples (all channels together, at most BE_MAX_CHUNK_SAMPLES) and
// writes the MP3 bytes that are ready into output, their number into outputBytes. A stereo sample left
// without its partner waits for the next chunk.
BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t count, const std::int16_t* samples,
                     std::uint8_t* output, std::uint32_t* outputBytes);

// Encodes what the stream still holds and writes the last MP3 bytes into output.
BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* outputBytes);

// Releases the stream; its handle is no longer valid.
BE_ERR beCloseStream(HBE_STREAM stream);
