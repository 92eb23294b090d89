#include "platform/sound/WaveOutService.h"

#include "platform/sound/Backends.h"

namespace {

std::shared_ptr<WaveOutBackend> ProbeWaveOutBackend()
{
    // Desktops run a sound server that knows the real devices and their volumes; without one, ALSA's
    // default device is what there is.
    if (auto pulse = CreatePulseWaveOutBackend())
        return pulse;
    return CreateAlsaWaveOutBackend("default");
}

} // namespace

SONALTO_WAVE_SERVICE_FUNCTIONS(Out, HWAVEOUT, WAVEOUTCAPS, ProbeWaveOutBackend)

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header)
{
    return service().QueueBuffer(handle, header, [](WaveOutDevice& d, WAVEHDR* h) { return d.Write(h); });
}

SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutPause(HWAVEOUT handle), Pause())
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutRestart(HWAVEOUT handle), Restart())
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutGetVolume(HWAVEOUT handle, std::uint32_t& volume),
                     GetVolume(volume))
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutSetVolume(HWAVEOUT handle, std::uint32_t volume),
                     SetVolume(volume))
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutGetPitch(HWAVEOUT handle, std::uint32_t& pitch), GetPitch(pitch))
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutSetPitch(HWAVEOUT handle, std::uint32_t pitch), SetPitch(pitch))
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutGetPlaybackRate(HWAVEOUT handle, std::uint32_t& rate),
                     GetPlaybackRate(rate))
SONALTO_WAVE_FORWARD(WaveOutDevice, waveOutSetPlaybackRate(HWAVEOUT handle, std::uint32_t rate),
                     SetPlaybackRate(rate))
