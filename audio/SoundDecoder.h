// Reading the sound files teachers bring (MP3, AAC, Ogg Vorbis, Opus, FLAC, WMA, the sound of a video...)
// into a wave the editor already knows. RIFF WAVE files of 8- or 16-bit PCM are read byte for byte as they
// always were; every other file is decoded whole by FFmpeg's libraries, whose headers stay inside this
// library.
#pragma once

#include "audio/WaveStorage.h"
#include "platform/io/Stream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class TSoundLoad
{
    Loaded,
    NotSound, // nothing in the file could be decoded as sound
    Cancelled
};

// Told now and then with the share of the input read so far (0 to 1); answering false stops the decode.
using TDecodeProgress = std::function<bool(double done)>;

// The most sample bytes a wave can hold: its chunk sizes are 32-bit, and the RIFF size counts the header.
constexpr std::uint64_t MaxWaveDataBytes = (0xFFFFFFFFULL - 46) / 4 * 4;

// A decode whose 16-bit result would not fit in a wave. An EStreamError, so that whoever tells the user
// about an unreadable file tells this one too.
class ESoundTooLongError : public EStreamError
{
public:
    explicit ESoundTooLongError(const std::string& fileName);
};

struct TDecodeOptions
{
    TDecodeProgress Progress;
    // Beyond this many bytes of 16-bit samples the decode stops with ESoundTooLongError.
    std::uint64_t MaxDataBytes = MaxWaveDataBytes;
};

// The rate a decoded wave gets: the source's own when it is one of the five rates of the PCM formats, else
// the next higher one of them (48000 Hz for anything above).
unsigned DecodedRate(unsigned sourceRate);

// Whether a wave image is a RIFF WAVE of 8- or 16-bit PCM, which the program reads itself whatever its
// rate and channels.
bool IsPcmWave(const TWave& wave);

// Decodes all of a file's sound into wave: 16-bit PCM, mono for a mono source and stereo otherwise (more
// channels are mixed down), at DecodedRate of the source, without the encoder's delay and padding. The
// wave changes only when the result is Loaded. A file that cannot be opened raises EFOpenError, one that
// fails while being read EReadError, a result too long for a wave ESoundTooLongError.
TSoundLoad DecodeSoundFile(const std::string& fileName, TWave& wave, const TDecodeOptions& options = {});
// The same from bytes in memory; nameHint is a file name whose extension helps tell the format.
TSoundLoad DecodeSoundBytes(const void* data, std::size_t size, TWave& wave,
                            const TDecodeOptions& options = {}, const std::string& nameHint = {});

// Folds a wave of 16-bit stereo PCM in one of the PCM formats to the mono format of its rate, each sample the
// average of its two channels rounded down, as ConvertToPCM does it, but inside the wave's own block: an
// hour of decoded sound needs no second block beside it. False, and the wave unchanged, for any other wave.
bool FoldStereoInPlace(TWave& wave);

// Reads any sound file into wave: a RIFF WAVE of 8- or 16-bit PCM as its bytes stand, anything else through
// DecodeSoundFile (and then *decoded, when given, is set). The wave changes only when the result is Loaded;
// the errors are DecodeSoundFile's.
TSoundLoad LoadSoundFile(const std::string& fileName, TWave& wave, const TDecodeOptions& options = {},
                         bool* decoded = nullptr);
