#include "platform/sound/alsa/AlsaWaveIn.h"

#include "platform/sound/alsa/AlsaPcm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// Size of ALSA's capture buffer: room for the worker to be late by this much before sound is lost.
constexpr unsigned kLatencyUs = 200000;
constexpr unsigned kChunksPerSecond = kAlsaChunksPerSecond;
// A read that fails this many times in a row, each time "recovered", means the device is gone. After the
// first failure the attempts are a chunk's time apart: a device that keeps failing at once is given
// about as long as ALSA's buffer lasts, without the worker spinning meanwhile.
constexpr int kMaxRecoveries = 8;
constexpr auto kRetryPause = std::chrono::milliseconds(1000 / kChunksPerSecond);

// What the service reports once the device has failed for good.
MMRESULT FailureResult(snd_pcm_sframes_t error)
{
    // Unplugged, or its driver gone: as if there had never been a device.
    if (error == -ENODEV || error == -ENXIO || error == -ENOENT || error == -ESHUTDOWN)
        return MMSYSERR_BADDEVICEID;
    return MMSYSERR_ERROR;
}

AlsaCaptureCalls& StandardCalls()
{
    static AlsaCaptureCalls calls;
    return calls;
}

class AlsaWaveInDevice final : public AlsaWaveDevice<WaveInDevice>
{
public:
    AlsaWaveInDevice(PcmPtr pcm, const TWaveFormatEx& format, NotificationQueue* callback,
                     std::shared_ptr<AlsaCaptureCalls> calls)
        : AlsaWaveDevice(std::move(pcm), format, callback), m_calls(std::move(calls))
    {
        StartWorker();
    }

    ~AlsaWaveInDevice() override { StopWorker(); }

    MMRESULT AddBuffer(WAVEHDR* header) override { return Enqueue(header); }

    MMRESULT Start() override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed)
            return m_failure;
        m_started = true;
        m_wake.notify_one();
        return MMSYSERR_NOERROR;
    }

    // Returns without waiting for the worker: a chunk it is reading meanwhile is dropped, and it stops
    // the ALSA stream as soon as that read ends.
    MMRESULT Stop() override
    {
        return Interrupt([this] {
            m_started = false;
            if (!m_queue.empty() && m_queue.offset > 0)
                m_queue.ReturnFront();
        });
    }

    MMRESULT Reset() override
    {
        return Interrupt([this] {
            m_started = false;
            m_queue.ReturnAll();
            m_position = 0;
        });
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        std::uint64_t bytes = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            bytes = m_position;
        }
        SetDeviceTime(time, bytes, bytes / m_format.nBlockAlign, m_format.nSamplesPerSec);
        return MMSYSERR_NOERROR;
    }

private:
    // The worker: every ALSA call but open and close is made here, with m_mutex released. It reads into
    // a chunk of its own and copies under the lock, so a header handed back meanwhile is never written.
    // A read that keeps failing makes the device fail: every queued header goes back (the one being
    // filled with what it holds), and the worker sleeps until the close.
    void Run() override
    {
        snd_pcm_t* const pcm = m_pcm.get();
        AlsaCaptureCalls& calls = m_calls ? *m_calls : StandardCalls();
        const std::size_t blockAlign = m_format.nBlockAlign;
        std::vector<std::uint8_t> chunk(m_chunkFrames * blockAlign);
        bool capturing = false; // the ALSA stream may hold data or be running
        int failures = 0;       // failed attempts in a row

        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            if (m_failed) {
                m_queue.ReturnAll();
                m_wake.wait(lock);
                continue;
            }
            if (!m_started && capturing) {
                // Sound captured while stopped must not reach the next buffer.
                DropAndPrepare(lock, pcm);
                capturing = false;
                failures = 0;
                continue;
            }
            if (!m_started || m_queue.empty()) {
                m_wake.wait(lock);
                continue;
            }

            WAVEHDR* header = m_queue.front();
            const std::size_t frames =
                std::min<std::size_t>((header->dwBufferLength - m_queue.offset) / blockAlign, m_chunkFrames);
            if (frames == 0) { // full, or too small for a single frame
                m_queue.ReturnFront();
                continue;
            }
            const std::uint64_t generation = m_generation;
            const auto attemptAt = std::chrono::steady_clock::now();
            capturing = true;
            lock.unlock();
            if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
                snd_pcm_start(pcm);
            snd_pcm_sframes_t read = calls.Read(pcm, chunk.data(), frames);
            if (read == 0)
                read = -EAGAIN; // nothing though blocking: counts as a failed attempt
            if (read < 0 && ++failures <= kMaxRecoveries) {
                if (read == -EAGAIN) {
                    calls.Wait(pcm, static_cast<int>(kRetryPause.count()));
                    read = 0;
                } else if (calls.Recover(pcm, static_cast<int>(read)) == 0) {
                    read = 0; // an overrun, most often: the worker fell behind; read on
                }
            }
            lock.lock();
            if (read < 0) {
                m_failure = FailureResult(read);
                m_failed = true; // the buffers go back at the top of the loop
                continue;
            }
            if (generation != m_generation)
                continue; // stopped or reset meanwhile: what was read belongs to no buffer
            if (read == 0) {
                // Failed again right after a failure: the next attempt waits for a chunk's time to pass,
                // or for a stop, a reset or the close.
                if (failures > 1)
                    m_wake.wait_until(lock, attemptAt + kRetryPause,
                                      [&] { return m_stop || generation != m_generation; });
                continue;
            }
            failures = 0;
            const std::size_t bytes =
                std::min<std::size_t>(static_cast<std::size_t>(read), frames) * blockAlign;
            std::memcpy(header->lpData + m_queue.offset, chunk.data(), bytes);
            m_queue.offset += bytes;
            m_position += bytes;
            if (header->dwBufferLength - m_queue.offset < blockAlign)
                m_queue.ReturnFront();
        }
        lock.unlock();
        if (capturing)
            snd_pcm_drop(pcm);
    }

    const std::shared_ptr<AlsaCaptureCalls> m_calls; // null: ALSA's own
    std::uint64_t m_position = 0;                    // bytes recorded since the open or the last reset
    bool m_started = false;
};

class AlsaWaveInBackend final : public AlsaWaveBackend<WaveInBackend>
{
public:
    AlsaWaveInBackend(std::string pcmName, std::shared_ptr<AlsaCaptureCalls> calls)
        : AlsaWaveBackend(std::move(pcmName), SND_PCM_STREAM_CAPTURE, kLatencyUs), m_calls(std::move(calls))
    {
    }

private:
    std::unique_ptr<WaveInDevice> MakeDevice(PcmPtr pcm, const TWaveFormatEx& format,
                                             NotificationQueue* callback) override
    {
        return std::make_unique<AlsaWaveInDevice>(std::move(pcm), format, callback, m_calls);
    }

    const std::shared_ptr<AlsaCaptureCalls> m_calls;
};

} // namespace

std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName)
{
    return std::make_shared<AlsaWaveInBackend>(pcmName, nullptr);
}

std::shared_ptr<WaveInBackend> CreateAlsaWaveInBackend(const std::string& pcmName,
                                                       std::shared_ptr<AlsaCaptureCalls> calls)
{
    return std::make_shared<AlsaWaveInBackend>(pcmName, std::move(calls));
}
