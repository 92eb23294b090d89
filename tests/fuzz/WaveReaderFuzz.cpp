// Feeds arbitrary bytes to the wave reader as a loaded file, then uses what it yields the way the
// editor does: every detail, a cut, an append, a trim and a conversion.
#include "audio/WaveStorage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TWave wave;
    TBytesView view(data, size);
    wave.LoadFromStream(view);
    if (!wave.Valid())
        return 0;
    const std::uint8_t* samples = wave.Data();
    unsigned sum = 0;
    for (std::uint32_t i = 0; i < wave.DataSize(); ++i)
        sum += samples[i];
    static_cast<void>(sum);
    static_cast<void>(wave.FormatDescription());
    static_cast<void>(wave.BitRate());
    const std::uint32_t duration = wave.Duration();
    static_cast<void>(PeakLevel(wave.Data(), wave.DataSize(), wave.WaveFormat()->wBitsPerSample));
    static_cast<void>(wave.Delete(duration / 3, duration / 3 + 1));
    TWave copy;
    copy.CopyContentFrom(wave);
    static_cast<void>(wave.Insert(wave.Duration() / 2, copy));
    // Small inputs only: a conversion of a hostile rate could be long, not wrong.
    if (wave.DataSize() < 65536)
        static_cast<void>(wave.ConvertToPCM(Mono16bit22050Hz));
    wave.TrimToData();
    static_cast<void>(wave.IsEqual(copy));
    return 0;
}
