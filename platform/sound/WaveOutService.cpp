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

WaveService<WaveOutBackend>& service()
{
    static WaveService<WaveOutBackend> s(ProbeWaveOutBackend);
    return s;
}

} // namespace

WaveOutBackend& CurrentWaveOutBackend()
{
    return service().Backends().Current();
}

void SetCurrentWaveOutBackend(std::shared_ptr<WaveOutBackend> current)
{
    service().Backends().Set(std::move(current));
}

unsigned waveOutGetNumDevs()
{
    return CurrentWaveOutBackend().GetNumDevs();
}

MMRESULT waveOutGetDevCaps(int deviceId, WAVEOUTCAPS& caps)
{
    return CurrentWaveOutBackend().GetDevCaps(deviceId, caps);
}

MMRESULT waveOutOpen(HWAVEOUT* handle, int deviceId, const TWaveFormatEx* format, NotificationQueue* callback,
                     std::uint32_t flags)
{
    return service().Open(handle, deviceId, format, callback, flags);
}

MMRESULT waveOutClose(HWAVEOUT handle)
{
    return service().Close(handle);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    return service().Prepare(handle, header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    return service().Unprepare(handle, header);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header)
{
    return service().QueueBuffer(handle, header, [](WaveOutDevice& d, WAVEHDR* h) { return d.Write(h); });
}

#define SONALTO_FORWARD(call, expression)                                                                    \
    MMRESULT call                                                                                            \
    {                                                                                                        \
        return service().Forward(handle, [&](WaveOutDevice& d) { return d.expression; });                    \
    }

SONALTO_FORWARD(waveOutPause(HWAVEOUT handle), Pause())
SONALTO_FORWARD(waveOutRestart(HWAVEOUT handle), Restart())
SONALTO_FORWARD(waveOutReset(HWAVEOUT handle), Reset())
SONALTO_FORWARD(waveOutGetPosition(HWAVEOUT handle, MMTIME& time), GetPosition(time))
SONALTO_FORWARD(waveOutGetVolume(HWAVEOUT handle, std::uint32_t& volume), GetVolume(volume))
SONALTO_FORWARD(waveOutSetVolume(HWAVEOUT handle, std::uint32_t volume), SetVolume(volume))
SONALTO_FORWARD(waveOutGetPitch(HWAVEOUT handle, std::uint32_t& pitch), GetPitch(pitch))
SONALTO_FORWARD(waveOutSetPitch(HWAVEOUT handle, std::uint32_t pitch), SetPitch(pitch))
SONALTO_FORWARD(waveOutGetPlaybackRate(HWAVEOUT handle, std::uint32_t& rate), GetPlaybackRate(rate))
SONALTO_FORWARD(waveOutSetPlaybackRate(HWAVEOUT handle, std::uint32_t rate), SetPlaybackRate(rate))
#undef SONALTO_FORWARD

MMRESULT waveOutGetErrorText(MMRESULT code, std::string& text)
{
    return WaveGetErrorText(code, text);
}
