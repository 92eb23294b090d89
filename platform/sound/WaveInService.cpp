#include "platform/sound/WaveInService.h"

#include "platform/sound/Backends.h"
#include "platform/sound/alsa/AlsaWaveIn.h"
#include "platform/sound/virtual/VirtualWaveIn.h"

#include <mutex>

namespace {

struct Backend
{
    std::mutex mutex;
    std::shared_ptr<WaveInBackend> current;
};

Backend& backend()
{
    static Backend b;
    return b;
}

DeviceRegistry<WaveInDevice>& devices()
{
    static DeviceRegistry<WaveInDevice> r;
    return r;
}

WaveInDevice* device(HWAVEIN handle)
{
    return devices().Find(handle);
}

} // namespace

WaveInBackend& CurrentWaveInBackend()
{
    Backend& r = backend();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.current) {
        // Like the output: the sound server, which knows every source and the one chosen on the mixer;
        // without one, ALSA's default capture device. ALSA's backend is made even when ALSA has no such
        // device; then a backend that has none at all takes its place, so that the count is 0 and every
        // open is refused with "no device".
        r.current = CreatePulseWaveInBackend();
        if (!r.current) {
            std::shared_ptr<WaveInBackend> alsa = CreateAlsaWaveInBackend("default");
            if (alsa && alsa->GetNumDevs() > 0) {
                r.current = std::move(alsa);
            } else {
                auto none = std::make_shared<VirtualWaveInBackend>();
                none->SetDeviceCount(0);
                r.current = none;
            }
        }
    }
    return *r.current;
}

void SetCurrentWaveInBackend(std::shared_ptr<WaveInBackend> current)
{
    Backend& r = backend();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.current = std::move(current);
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
    if (!format)
        return WAVERR_BADFORMAT;
    WaveInBackend& current = CurrentWaveInBackend();
    if (flags & 0x0001) // WAVE_FORMAT_QUERY
        return current.Query(deviceId, *format);
    if (!handle || !callback)
        return MMSYSERR_INVALPARAM;
    std::unique_ptr<WaveInDevice> opened;
    const MMRESULT result = current.Open(opened, deviceId, *format, callback);
    if (result != MMSYSERR_NOERROR)
        return result;
    *handle = devices().Add(std::move(opened));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN handle)
{
    WaveInDevice* d = device(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    const MMRESULT result = d->Close();
    if (result != MMSYSERR_NOERROR)
        return result;
    devices().Remove(handle); // destroyed here, outside the registry's lock
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header)
{
    return PrepareHeader(device(handle) != nullptr, header);
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header)
{
    return UnprepareHeader(device(handle) != nullptr, header);
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header)
{
    WaveInDevice* d = device(handle);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (const MMRESULT checked = QueueHeader(header))
        return checked;
    header->dwBytesRecorded = 0;
    const MMRESULT result = d->AddBuffer(header);
    if (result != MMSYSERR_NOERROR)
        header->dwFlags &= ~WHDR_INQUEUE;
    return result;
}

#define SONALTO_FORWARD(call, expression)                                                                    \
    MMRESULT call                                                                                            \
    {                                                                                                        \
        WaveInDevice* d = device(handle);                                                                    \
        return d ? d->expression : MMSYSERR_INVALHANDLE;                                                     \
    }

SONALTO_FORWARD(waveInStart(HWAVEIN handle), Start())
SONALTO_FORWARD(waveInStop(HWAVEIN handle), Stop())
SONALTO_FORWARD(waveInReset(HWAVEIN handle), Reset())
SONALTO_FORWARD(waveInGetPosition(HWAVEIN handle, MMTIME& time), GetPosition(time))
#undef SONALTO_FORWARD

MMRESULT waveInGetErrorText(MMRESULT code, std::string& text)
{
    text = WaveErrorText(code);
    return text.empty() ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}
