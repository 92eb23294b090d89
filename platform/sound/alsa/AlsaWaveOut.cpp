#include "platform/sound/Backends.h"
#include "platform/sound/alsa/AlsaPcm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Total latency asked of ALSA: long enough to ride out a busy GUI thread, short enough that pause and
// stop feel immediate.
constexpr unsigned kLatencyUs = 150000;
constexpr unsigned kChunksPerSecond = kAlsaChunksPerSecond;
// A write that fails this many times in a row, each time "recovered", means the device is gone.
constexpr int kMaxRecoveries = 8;
// Bound on how long Close lets the last written sound play out.
constexpr auto kPlayOutLimit = std::chrono::milliseconds(2 * kLatencyUs / 1000);

struct HwParamsFree
{
    void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
using HwParamsPtr = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree>;

bool CanPause(snd_pcm_t* pcm)
{
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0)
        return false;
    const HwParamsPtr params(raw);
    return snd_pcm_hw_params_current(pcm, params.get()) == 0 &&
           snd_pcm_hw_params_can_pause(params.get()) == 1;
}

class AlsaWaveOutDevice final : public AlsaWaveDevice<WaveOutDevice>
{
public:
    AlsaWaveOutDevice(PcmPtr pcm, const TWaveFormatEx& format, NotificationQueue* callback, bool canPause)
        : AlsaWaveDevice(std::move(pcm), format, callback), m_canPause(canPause)
    {
        StartWorker();
    }

    ~AlsaWaveOutDevice() override { StopWorker(); }

    MMRESULT Write(WAVEHDR* header) override { return Enqueue(header); }
    MMRESULT Pause() override { return SetAndWake(m_paused, true); }
    MMRESULT Restart() override { return SetAndWake(m_paused, false); }

    // Returns without waiting for the worker: it writes from its own copy of the data, so the headers
    // can go back at once, and it drops what ALSA holds as soon as its current chunk is written.
    MMRESULT Reset() override
    {
        return Interrupt([this] {
            m_queue.ReturnAll();
            m_dropPending = true;
            m_lastPosition = 0;
        });
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        std::uint64_t frames = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_dropPending && m_pcm) {
                frames = m_framesWritten;
                snd_pcm_sframes_t delay = 0;
                if (snd_pcm_delay(m_pcm.get(), &delay) == 0 && delay > 0)
                    frames -= std::min<std::uint64_t>(frames, static_cast<std::uint64_t>(delay));
                // The worker counts a chunk only after ALSA took it, so the delay can briefly include
                // frames not yet counted; a cursor must not step back for that.
                frames = std::max(frames, m_lastPosition);
                m_lastPosition = frames;
            }
        }
        SetDeviceTime(time, frames * m_format.nBlockAlign, frames, m_format.nSamplesPerSec);
        return MMSYSERR_NOERROR;
    }

    // ALSA offers no per-stream volume (the mixer is the whole card's), so the device reports no
    // WAVECAPS_VOLUME and only keeps the value: a caller restoring its setting gets it back, and a
    // volume control that ignores the caps does not show an error box.
    MMRESULT GetVolume(std::uint32_t& volume) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        volume = m_volume;
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetVolume(std::uint32_t volume) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_volume = volume;
        return MMSYSERR_NOERROR;
    }

private:
    enum class Held
    {
        None,
        HwPaused,
        Dropped
    };

    // The worker: every ALSA call but open, close and delay is made here, with m_mutex released.
    void Run() override
    {
        snd_pcm_t* const pcm = m_pcm.get();
        const std::size_t blockAlign = m_format.nBlockAlign;
        std::vector<std::uint8_t> chunk(m_chunkFrames * blockAlign);
        Held held = Held::None;
        bool pauseApplied = false;
        bool startPending = false;
        int recoveries = 0;

        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            if (m_dropPending) {
                DropAndPrepare(lock, pcm);
                m_dropPending = false;
                m_framesWritten = 0;
                held = Held::None;
                pauseApplied = m_paused; // nothing left in ALSA to hold or release
                startPending = false;
                continue;
            }
            if (m_paused != pauseApplied) {
                const bool pause = m_paused;
                lock.unlock();
                held = pause ? Hold(pcm) : Release(pcm, held);
                lock.lock();
                pauseApplied = pause;
                startPending = !pause;
                continue;
            }
            if (m_failed) {
                m_queue.ReturnAll();
                m_wake.wait(lock);
                continue;
            }
            if (m_paused || m_queue.empty()) {
                if (startPending && !m_paused) {
                    startPending = false;
                    lock.unlock();
                    StartIfWaiting(pcm);
                    lock.lock();
                    continue;
                }
                m_wake.wait(lock);
                continue;
            }

            WAVEHDR* header = m_queue.front();
            const std::size_t frames =
                std::min<std::size_t>((header->dwBufferLength - m_queue.offset) / blockAlign, m_chunkFrames);
            if (frames == 0) { // empty, or only a partial frame left, which no device could play
                m_queue.ReturnFront();
                continue;
            }
            std::memcpy(chunk.data(), header->lpData + m_queue.offset, frames * blockAlign);
            const std::uint64_t generation = m_generation;
            lock.unlock();
            snd_pcm_sframes_t written = snd_pcm_writei(pcm, chunk.data(), frames);
            if (written == -EAGAIN) {
                snd_pcm_wait(pcm, 1000 / kChunksPerSecond);
                written = 0;
            } else if (written < 0) {
                // Underruns between buffers are expected; recover silently and write the chunk again.
                written = (++recoveries <= kMaxRecoveries &&
                           snd_pcm_recover(pcm, static_cast<int>(written), 1) == 0)
                              ? 0
                              : written;
            }
            lock.lock();
            if (generation != m_generation)
                continue; // reset meanwhile: the header went back already and the drop is pending
            if (written < 0) {
                m_failed = true;
                continue;
            }
            if (written > 0) {
                recoveries = 0;
                m_framesWritten += static_cast<std::uint64_t>(written);
                m_queue.offset += static_cast<std::size_t>(written) * blockAlign;
                startPending = true;
                if (header->dwBufferLength - m_queue.offset < blockAlign)
                    m_queue.ReturnFront();
            }
        }
        const bool playOut = !m_paused && !pauseApplied && !m_dropPending && !m_failed;
        lock.unlock();
        if (playOut)
            PlayOut(pcm);
    }

    Held Hold(snd_pcm_t* pcm) const
    {
        // Only a running stream has anything to hold; one not started yet simply is not fed.
        if (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING)
            return Held::None;
        if (m_canPause && snd_pcm_pause(pcm, 1) == 0)
            return Held::HwPaused;
        snd_pcm_drop(pcm); // loses what ALSA buffered, a fraction of a second
        return Held::Dropped;
    }

    static Held Release(snd_pcm_t* pcm, Held held)
    {
        if (held == Held::HwPaused && snd_pcm_pause(pcm, 0) < 0)
            held = Held::Dropped; // a suspend while paused leaves a stream that must be prepared
        if (held == Held::Dropped) {
            snd_pcm_drop(pcm);
            snd_pcm_prepare(pcm);
        }
        return Held::None;
    }

    // ALSA starts a stream once its buffer is full; a sound shorter than that, or the end of one fed
    // slowly, would otherwise wait there unheard.
    static void StartIfWaiting(snd_pcm_t* pcm)
    {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && snd_pcm_delay(pcm, &delay) == 0 && delay > 0)
            snd_pcm_start(pcm);
    }

    // Headers go back once written, so a caller closing after the last one would cut the end of the
    // sound that ALSA still holds: let it play, for at most the buffer's length.
    static void PlayOut(snd_pcm_t* pcm)
    {
        StartIfWaiting(pcm);
        const auto deadline = std::chrono::steady_clock::now() + kPlayOutLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING || snd_pcm_delay(pcm, &delay) < 0 || delay <= 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kChunksPerSecond));
        }
    }

    const bool m_canPause;
    std::uint64_t m_framesWritten = 0; // since the open or the last reset
    std::uint64_t m_lastPosition = 0;
    std::uint32_t m_volume = 0xFFFFFFFF;
    bool m_paused = false;
    bool m_dropPending = false;
};

class AlsaWaveOutBackend final : public AlsaWaveBackend<WaveOutBackend>
{
public:
    explicit AlsaWaveOutBackend(std::string pcmName)
        : AlsaWaveBackend(std::move(pcmName), SND_PCM_STREAM_PLAYBACK, kLatencyUs)
    {
    }

private:
    std::unique_ptr<WaveOutDevice> MakeDevice(PcmPtr pcm, const TWaveFormatEx& format,
                                              NotificationQueue* callback) override
    {
        const bool canPause = CanPause(pcm.get());
        return std::make_unique<AlsaWaveOutDevice>(std::move(pcm), format, callback, canPause);
    }
};

} // namespace

std::shared_ptr<WaveOutBackend> CreateAlsaWaveOutBackend(const std::string& pcmName)
{
    return std::make_shared<AlsaWaveOutBackend>(pcmName);
}
