#include "platform/sound/WaveInService.h"

#include "platform/sound/Backends.h"
#include "platform/sound/virtual/VirtualWaveIn.h"

namespace {

std::shared_ptr<WaveInBackend> ProbeWaveInBackend()
{
    // Like the output: the sound server, which knows every source and the one chosen on the mixer;
    // without one, ALSA's default capture device. ALSA's backend is made even when ALSA has no such
    // device; then a backend that has none at all takes its place, so that the count is 0 and every
    // open is refused with "no device".
    if (auto pulse = CreatePulseWaveInBackend())
        return pulse;
    std::shared_ptr<WaveInBackend> alsa = CreateAlsaWaveInBackend("default");
    if (alsa && alsa->GetNumDevs() > 0)
        return alsa;
    auto none = std::make_shared<VirtualWaveInBackend>();
    none->SetDeviceCount(0);
    return none;
}

} // namespace

SONALTO_WAVE_SERVICE_FUNCTIONS(In, HWAVEIN, WAVEINCAPS, ProbeWaveInBackend)

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header)
{
    return service().QueueBuffer(handle, header, [](WaveInDevice& d, WAVEHDR* h) {
        h->dwBytesRecorded = 0;
        return d.AddBuffer(h);
    });
}

SONALTO_WAVE_FORWARD(WaveInDevice, waveInStart(HWAVEIN handle), Start())
SONALTO_WAVE_FORWARD(WaveInDevice, waveInStop(HWAVEIN handle), Stop())
