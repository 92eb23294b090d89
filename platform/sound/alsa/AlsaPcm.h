// What the ALSA output and input backends share: one PCM by name and direction, whether it exists, and
// opening it for a format; a device whose worker thread makes the ALSA calls; the backend around it. Only
// the two ALSA backends include this.
//
// Threads: a device's worker makes every ALSA call but open, close and delay, with the device's mutex
// released; the GUI thread's calls take the mutex, change the state and wake the worker.
#pragma once

#include "platform/sound/HeaderQueue.h"
#include "platform/sound/WaveDevice.h"
#include "platform/sound/WaveFormat.h"
#include "platform/sound/WaveOutService.h" // WAVE_MAPPER, WAVE_FORMAT_ALL

#include <algorithm>
#include <alsa/asoundlib.h>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

// A worker moves this much sound at a time, so that a stop, a pause or a reset is noticed within one chunk.
constexpr unsigned kAlsaChunksPerSecond = 50;

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

// An open ALSA device of either direction (Interface: WaveOutDevice, WaveInDevice). The derived class
// starts the worker once it is whole and stops it before it goes: Run is its own.
template <typename Interface> class AlsaWaveDevice : public Interface
{
public:
    MMRESULT Close() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_queue.empty())
                return WAVERR_STILLPLAYING;
        }
        StopWorker();
        m_pcm.reset();
        m_callback->Push(Interface::kCloseMessage, nullptr);
        return MMSYSERR_NOERROR;
    }

protected:
    AlsaWaveDevice(PcmPtr pcm, const TWaveFormatEx& format, NotificationQueue* callback)
        : m_pcm(std::move(pcm)), m_format(format), m_callback(callback),
          m_chunkFrames(std::max<std::uint32_t>(1, format.nSamplesPerSec / kAlsaChunksPerSecond)),
          m_queue(callback)
    {
    }

    void StartWorker()
    {
        m_worker = std::thread([this] { Run(); });
    }

    void StopWorker()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_wake.notify_one();
        }
        if (m_worker.joinable())
            m_worker.join();
    }

    // Queues a header for the worker (WriteHeader, AddBuffer).
    MMRESULT Enqueue(WAVEHDR* header)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed)
            return m_failure;
        if (m_stop)
            return MMSYSERR_ERROR;
        m_queue.push_back(header);
        m_wake.notify_one();
        return MMSYSERR_NOERROR;
    }

    // Sets a flag the worker acts on (paused, started) and wakes it.
    MMRESULT SetAndWake(bool& flag, bool value)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        flag = value;
        m_wake.notify_one();
        return MMSYSERR_NOERROR;
    }

    // Changes the state under m_mutex and wakes the worker to act on it, without waiting for it: a new
    // generation tells it that what a chunk in flight brings back belongs to no buffer any more.
    template <typename Change> MMRESULT Interrupt(Change change)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        change();
        ++m_generation;
        m_wake.notify_one();
        return MMSYSERR_NOERROR;
    }

    virtual void Run() = 0;

    // For the worker: drops what ALSA holds, ready to start again, with m_mutex released meanwhile.
    static void DropAndPrepare(std::unique_lock<std::mutex>& lock, snd_pcm_t* pcm)
    {
        lock.unlock();
        snd_pcm_drop(pcm);
        snd_pcm_prepare(pcm);
        lock.lock();
    }

    PcmPtr m_pcm;
    const TWaveFormatEx m_format;
    NotificationQueue* const m_callback;
    const std::size_t m_chunkFrames;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    HeaderQueue<Interface::kDoneMessage> m_queue; // handed back under m_mutex
    std::uint64_t m_generation = 0;               // counts the stops and resets a chunk in flight misses
    bool m_failed = false;
    MMRESULT m_failure = MMSYSERR_ERROR; // what a failed device answers
    bool m_stop = false;

private:
    std::thread m_worker;
};

// An ALSA backend of either direction (Backend: WaveOutBackend, WaveInBackend): one device, the PCM named.
template <typename Backend> class AlsaWaveBackend : public Backend
{
public:
    using Device = typename Backend::DeviceType;
    using Caps = typename Backend::CapsType;

    AlsaWaveBackend(std::string pcmName, snd_pcm_stream_t stream, unsigned latencyUs)
        : m_source(std::move(pcmName), stream), m_latencyUs(latencyUs)
    {
    }

    std::string Name() const override { return "ALSA"; }

    unsigned GetNumDevs() override { return m_source.Present() ? 1 : 0; }

    MMRESULT GetDevCaps(int deviceId, Caps& caps) override
    {
        if (!IsOurAlsaDeviceId(deviceId) || !m_source.Present())
            return MMSYSERR_BADDEVICEID;
        caps.szPname = "ALSA " + m_source.Name();
        caps.dwFormats = WAVE_FORMAT_ALL;
        caps.wChannels = 2;
        if constexpr (requires { caps.dwSupport; })
            caps.dwSupport = 0;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Query(int deviceId, const TWaveFormatEx& format) override
    {
        if (!IsOurAlsaDeviceId(deviceId) || !m_source.Present())
            return MMSYSERR_BADDEVICEID;
        return IsAlsaPcmFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }

    MMRESULT Open(std::unique_ptr<Device>& device, int deviceId, const TWaveFormatEx& format,
                  NotificationQueue* callback) override
    {
        if (!IsOurAlsaDeviceId(deviceId))
            return MMSYSERR_BADDEVICEID;
        if (!IsAlsaPcmFormat(format))
            return WAVERR_BADFORMAT;
        PcmPtr pcm;
        if (const MMRESULT opened = m_source.Open(format, m_latencyUs, pcm))
            return opened;
        try {
            device = MakeDevice(std::move(pcm), format, callback);
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        } catch (const std::system_error&) {
            return MMSYSERR_ERROR; // no thread to be had
        }
        callback->Push(Device::kOpenMessage, nullptr);
        return MMSYSERR_NOERROR;
    }

protected:
    // The direction's device on the open PCM.
    virtual std::unique_ptr<Device> MakeDevice(PcmPtr pcm, const TWaveFormatEx& format,
                                               NotificationQueue* callback) = 0;

private:
    AlsaPcmSource m_source;
    const unsigned m_latencyUs;
};
