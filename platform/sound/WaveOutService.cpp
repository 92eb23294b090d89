#include "platform/sound/WaveOutService.h"

#include "platform/sound/Backends.h"

#include <mutex>

namespace {

struct Backend
{
    std::mutex mutex;
    std::shared_ptr<WaveOutBackend> current;
};

Backend& backend()
{
    static Backend b;
    return b;
}

DeviceRegistry<WaveOutDevice>& devices()
{
    static DeviceRegistry<WaveOutDevice> r;
    return r;
}

WaveOutDevice* device(HWAVEOUT handle)
{
    return devices().Find(handle);
}

} // namespace

WaveOutBackend& CurrentWaveOutBackend()
{
    Backend& r = backend();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.current) {
        // Desktops run a sound server that knows the real devices and their volumes; without one,
        // ALSA's default device is what there is.
        r.current = CreatePulseWaveOutBackend();
        if (!r.current)
            r.current = CreateAlsaWaveOutBackend("default");
    }
    return *r.current;
}

void SetCurrentWaveOutBackend(std::shared_ptr<WaveOutBackend> current)
{
    Backend& r = backend();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.current = std::move(current);
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
    if (!format)
        return WAVERR_BADFORMAT; // a wave without a valid header has no format a device could play
    WaveOutBackend& current = CurrentWaveOutBackend();
    if (flags & WAVE_FORMAT_QUERY)
        return current.Query(deviceId, *format);
    if (!handle || !callback)
        return MMSYSERR_INVALPARAM;
    std::unique_ptr<WaveOutDevice> opened;
    const MMRESULT result = current.Open(opened, deviceId, *format, callback);
    if (result != MMSYSERR_NOERROR)
        return result;
    *handle = devices().Add(std::move(opened));
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle)
{
    WaveOutDevice* d = device(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    const MMRESULT result = d->Close();
    if (result != MMSYSERR_NOERROR)
        return result;
    devices().Remove(handle); // destroyed here, outside the registry's lock
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    return PrepareHeader(device(handle) != nullptr, header);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    return UnprepareHeader(device(handle) != nullptr, header);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header)
{
    WaveOutDevice* d = device(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT checked = QueueHeader(header))
        return checked;
    const MMRESULT result = d->Write(header);
    if (result != MMSYSERR_NOERROR)
        header->dwFlags &= ~WHDR_INQUEUE;
    return result;
}

#define SONALTO_FORWARD(call, expression)                                                                    \
    MMRESULT call                                                                                            \
    {                                                                                                        \
        WaveOutDevice* d = device(handle);                                                                   \
        return d ? d->expression : MMSYSERR_INVALHANDLE;                                                     \
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
    text = WaveErrorText(code);
    return text.empty() ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}
