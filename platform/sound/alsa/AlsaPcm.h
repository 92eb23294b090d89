// What the ALSA output and input backends share: one PCM by name and direction, whether it exists, and
// opening it for a format. Only the two ALSA backends include this.
#pragma once

#include "platform/sound/WaveDevice.h"
#include "platform/sound/WaveFormat.h"

#include <alsa/asoundlib.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct PcmCloser
{
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPtr = std::unique_ptr<snd_pcm_t, PcmCloser>;

// The calls through which a capture worker takes sound and gets over a failed read. The program uses
// them as they are; a test derives from this to play a card that overruns, disappears or never delivers.
class AlsaCaptureCalls
{
public:
    virtual ~AlsaCaptureCalls() = default;
    // snd_pcm_readi: frames read, or a negative errno.
    virtual snd_pcm_sframes_t Read(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames);
    // snd_pcm_recover, silently: 0 when the stream can be read again.
    virtual int Recover(snd_pcm_t* pcm, int error);
    // snd_pcm_wait: waits up to timeoutMs for sound to read.
    virtual int Wait(snd_pcm_t* pcm, int timeoutMs);
};

// An ALSA backend offers one device; WAVE_MAPPER means "whichever", which is that one.
bool IsOurAlsaDeviceId(int deviceId);
// 8 or 16 bits, mono or stereo, 1000 to 192000 Hz, a block align that matches.
bool IsAlsaPcmFormat(const TWaveFormatEx& format);

class AlsaPcmSource
{
public:
    AlsaPcmSource(std::string name, snd_pcm_stream_t stream) : m_name(std::move(name)), m_stream(stream) {}

    const std::string& Name() const { return m_name; }
    // Whether the PCM exists, probed once: opening it is what tells, and keeping it open would take the
    // card from other programs. Each later open is fresher news (a card plugged in, or gone).
    bool Present();
    // Opens it for the format: blocking reads or writes, interleaved, about latencyUs of buffer.
    MMRESULT Open(const TWaveFormatEx& format, unsigned latencyUs, PcmPtr& pcm);

private:
    int openNonBlocking(PcmPtr& pcm) const;
    void remember(bool present);

    const std::string m_name;
    const snd_pcm_stream_t m_stream;
    std::mutex m_mutex;
    std::optional<bool> m_present;
};
