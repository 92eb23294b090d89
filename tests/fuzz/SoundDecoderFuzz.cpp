// Feeds arbitrary bytes to the sound decoder as a file in memory, then checks what it promises of a decoded
// wave and uses it as the editor does (the stereo fold, the montage's conversion). The first byte picks the
// name the bytes go by, whose extension steers FFmpeg's probing towards one family of formats.
#include "audio/SoundDecoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr std::array<const char*, 12> Names = {"son.mp3",  "son.m4a",  "son.aac", "son.ogg",
                                               "son.opus", "son.flac", "son.wma", "son.3gp",
                                               "son.amr",  "son.webm", "son.wav", "son"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    TWave wave;
    TDecodeOptions options;
    // Some formats say a great deal in a few bytes (silence in FLAC, a constant in a lossless stream):
    // beyond this the fuzzer would only measure memory.
    options.MaxDataBytes = 64 << 20;
    TSoundLoad result = TSoundLoad::NotSound;
    try {
        result = DecodeSoundBytes(data + 1, size - 1, wave, options, Names[data[0] % Names.size()]);
    } catch (const ESoundTooLongError&) {
        Check(wave.Size() == 0);
        return 0;
    }
    if (result != TSoundLoad::Loaded) {
        Check(wave.Size() == 0);
        return 0;
    }
    const TWaveFormatEx* format = wave.WaveFormat();
    Check(format != nullptr && wave.PCMFormat() != nonePCM);
    Check(format->wBitsPerSample == 16 && (format->nChannels == 1 || format->nChannels == 2));
    Check(wave.DataSize() > 0 && wave.DataSize() % format->nBlockAlign == 0);
    Check(wave.DataSize() <= options.MaxDataBytes);
    Check(wave.Size() == wave.DataOffset() + wave.DataSize());
    // Each stereo format comes right after its mono one in the table.
    if (format->nChannels == 2)
        Check(wave.ConvertToPCM(static_cast<TPCMFormat>(wave.PCMFormat() - 1)));
    if (wave.DataSize() < (1 << 20))
        Check(wave.ConvertToPCM(Mono16bit22050Hz));
    return 0;
}
