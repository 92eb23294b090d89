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

WaveService<WaveInBackend>& service()
{
    static WaveService<WaveInBackend> s(ProbeWaveInBackend);
    return s;
}

} // namespace

WaveInBackend& CurrentWaveInBackend()
{
    return service().Backends().Current();
}

void SetCurrentWaveInBackend(std::shared_ptr<WaveInBackend> current)
{
    service().Backends().Set(std::move(current));
}

unsigned waveInGetNumDevs()
{
    return CurrentWaveInBackend().GetNumDevs();
}

MMRESULT waveInGetDevCaps(int deviceId, WAVEINCAPS& caps)
{
    return CurrentWaveInBackend().GetDevCaps(deviceId, caps);
}

MMRESULT waveInOpen(HWAVEIN* handle, int deviceId, const TWaveFormatEx* format, NotificationQueue* callback,
                    std::uint32_t flags)
{
    return service().Open(handle, deviceId, format, callback, flags);
}

MMRESULT waveInClose(HWAVEIN handle)
{
    return service().Close(handle);
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header)
{
    return service().Prepare(handle, header);
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header)
{
    return service().Unprepare(handle, header);
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header)
{
    return service().QueueBuffer(handle, header, [](WaveInDevice& d, WAVEHDR* h) {
        h->dwBytesRecorded = 0;
        return d.AddBuffer(h);
    });
}

#define SONALTO_FORWARD(call, expression)                                                                    \
    MMRESULT call                                                                                            \
    {                                                                                                        \
        return service().Forward(handle, [&](WaveInDevice& d) { return d.expression; });                     \
    }

SONALTO_FORWARD(waveInStart(HWAVEIN handle), Start())
SONALTO_FORWARD(waveInStop(HWAVEIN handle), Stop())
SONALTO_FORWARD(waveInReset(HWAVEIN handle), Reset())
SONALTO_FORWARD(waveInGetPosition(HWAVEIN handle, MMTIME& time), GetPosition(time))
#undef SONALTO_FORWARD

MMRESULT waveInGetErrorText(MMRESULT code, std::string& text)
{
    return WaveGetErrorText(code, text);
}
