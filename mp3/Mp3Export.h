// The MP3 export of a rendered montage, as one operation that shows nothing: the montage converted to stereo
// 16-bit 44 100 Hz, written to the fixed temporary WAV file, encoded beside the target and renamed over it in
// one step. The MP3 dialog and the command-line exporter both run it.
#pragma once

#include "audio/WaveStorage.h"
#include "mp3/LameCoder.h"

#include <cstdint>
#include <optional>
#include <string>

// The choices the dialog offers: a bit rate of its list and a quality, by the list's order.
struct TMp3Choice
{
    std::uint32_t Bitrate = 320;
    MPEG_QUALITY Quality = MPEG_QUALITY::NORMAL_QUALITY;
};

// The bit rates and the quality names of the dialog's lists, in their order.
inline constexpr std::uint32_t Mp3Bitrates[] = {320, 256, 192, 160, 128, 96};
inline constexpr const char* Mp3QualityNames[] = {"Normal", "Faible", "Haute", "Voix"};
// The quality of that name in the list above; nothing for another name.
std::optional<MPEG_QUALITY> Mp3QualityNamed(const std::string& name);

// Encodes the rendered montage into the target. work holds the converted copy while the temporary file is
// written; coder is the encoder, whose progress events the caller may watch. On success the temporary file is
// gone and the target holds the MP3; on any failure (ELameError, EFCreateError naming the target, the file
// layer's errors) neither the temporary file nor a partial MP3 is left and the target is as it was.
void ExportWaveAsMp3(const TWave& rendered, const std::string& target, const TMp3Choice& choice,
                     TWaveStorage& work, TLameCoder& coder);

// The fixed temporary WAV file of the MP3 exports, inside a folder of the user's own under the user's cache
// folder (the runtime folder without one), created with mode 0700 when missing. Raises EFCreateError when
// that folder cannot be made or is not the user's own.
std::string Mp3TemporaryWaveFile();
