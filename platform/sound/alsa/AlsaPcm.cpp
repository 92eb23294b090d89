#include "platform/sound/alsa/AlsaPcm.h"

#include "platform/sound/WaveOutService.h" // WAVE_MAPPER

#include <cerrno>

namespace {

bool meansNoDevice(int err)
{
    return err == -ENOENT || err == -ENODEV || err == -ENXIO;
}

} // namespace

bool IsOurAlsaDeviceId(int deviceId)
{
    return deviceId == 0 || deviceId == WAVE_MAPPER;
}

bool IsAlsaPcmFormat(const TWaveFormatEx& f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

// Opens without waiting: a hardware device held by another program would otherwise block the open
// until it is released, and the GUI thread with it. Returns 0 or a negative errno.
int AlsaPcmSource::openNonBlocking(PcmPtr& pcm) const
{
    snd_pcm_t* raw = nullptr;
    const int err = snd_pcm_open(&raw, m_name.c_str(), m_stream, SND_PCM_NONBLOCK);
    if (err < 0)
        return err;
    pcm.reset(raw);
    return 0;
}

void AlsaPcmSource::remember(bool present)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_present = present;
}

bool AlsaPcmSource::Present()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_present)
            return *m_present;
    }
    PcmPtr pcm;
    const int err = openNonBlocking(pcm);
    pcm.reset();
    const bool present = err == 0 || !meansNoDevice(err);
    remember(present);
    return present;
}

MMRESULT AlsaPcmSource::Open(const TWaveFormatEx& format, unsigned latencyUs, PcmPtr& pcm)
{
    const int err = openNonBlocking(pcm);
    remember(err == 0 || !meansNoDevice(err));
    if (err < 0) {
        if (meansNoDevice(err))
            return MMSYSERR_BADDEVICEID;
        return err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_ERROR;
    }
    if (snd_pcm_nonblock(pcm.get(), 0) < 0)
        return MMSYSERR_ERROR;
    const snd_pcm_format_t sampleFormat =
        format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    const int set = snd_pcm_set_params(pcm.get(), sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED,
                                       format.nChannels, format.nSamplesPerSec, 1, latencyUs);
    if (set < 0)
        return set == -EINVAL ? WAVERR_BADFORMAT : MMSYSERR_ERROR;
    return MMSYSERR_NOERROR;
}

snd_pcm_sframes_t AlsaCaptureCalls::Read(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames)
{
    return snd_pcm_readi(pcm, buffer, frames);
}

int AlsaCaptureCalls::Recover(snd_pcm_t* pcm, int error)
{
    return snd_pcm_recover(pcm, error, 1);
}

int AlsaCaptureCalls::Wait(snd_pcm_t* pcm, int timeoutMs)
{
    return snd_pcm_wait(pcm, timeoutMs);
}
