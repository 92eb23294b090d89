#include "platform/WaveOut.h"

#include "platform/AlsaWaveOut.h"
#include "platform/PulseWaveOut.h"

#include <map>
#include <mutex>

namespace {

struct Registry
{
    std::mutex mutex;
    std::shared_ptr<WaveOutBackend> backend;
    std::map<HWAVEOUT, std::unique_ptr<WaveOutDevice>> devices;
    HWAVEOUT next = 1;
};

Registry& registry()
{
    static Registry r;
    return r;
}

WaveOutDevice* device(HWAVEOUT handle)
{
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.devices.find(handle);
    return it == r.devices.end() ? nullptr : it->second.get();
}

} // namespace

WaveOutBackend& CurrentWaveOutBackend()
{
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.backend) {
        // Desktops run a sound server that knows the real devices and their volumes; without one,
        // ALSA's default device is what there is.
        r.backend = CreatePulseWaveOutBackend();
        if (!r.backend)
            r.backend = CreateAlsaWaveOutBackend("default");
    }
    return *r.backend;
}

void SetCurrentWaveOutBackend(std::shared_ptr<WaveOutBackend> backend)
{
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.backend = std::move(backend);
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
    WaveOutBackend& backend = CurrentWaveOutBackend();
    if (flags & WAVE_FORMAT_QUERY)
        return backend.Query(deviceId, *format);
    if (!handle || !callback)
        return MMSYSERR_INVALPARAM;
    std::unique_ptr<WaveOutDevice> opened;
    const MMRESULT result = backend.Open(opened, deviceId, *format, callback);
    if (result != MMSYSERR_NOERROR)
        return result;
    Registry& r = registry();
    const std::lock_guard<std::mutex> lock(r.mutex);
    *handle = r.next++;
    r.devices.emplace(*handle, std::move(opened));
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
    std::unique_ptr<WaveOutDevice> closed;
    {
        Registry& r = registry();
        const std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.devices.find(handle);
        closed = std::move(it->second);
        r.devices.erase(it);
    }
    return MMSYSERR_NOERROR; // the device is destroyed here, outside the registry's lock
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    if (!device(handle))
        return MMSYSERR_INVALHANDLE;
    if (!header || !header->lpData)
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header)
{
    if (!device(handle))
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header)
{
    WaveOutDevice* d = device(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
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
