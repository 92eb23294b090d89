#include "platform/sound/virtual/VirtualWaveOut.h"

#include <algorithm>
#include <chrono>
#include <utility>

struct VirtualWaveOutBackend::DeviceState
{
    TWaveFormatEx format{};
    NotificationQueue* callback = nullptr;
    std::deque<WAVEHDR*> queue;
    std::size_t offsetInFirst = 0;
    std::vector<std::uint8_t> played;
    std::uint64_t position = 0;  // bytes since the open or the last reset
    std::uint64_t remainder = 0; // sub-byte carry of the clock, in byte-milliseconds
    bool paused = false;
    bool open = false;
    std::uint32_t volume = 0xFFFFFFFF;
};

class VirtualWaveOutDevice : public WaveOutDevice
{
public:
    VirtualWaveOutDevice(std::shared_ptr<VirtualWaveOutBackend> backend,
                         std::shared_ptr<VirtualWaveOutBackend::DeviceState> state)
        : m_backend(std::move(backend)), m_state(std::move(state))
    {
    }

    MMRESULT Write(WAVEHDR* header) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        if (m_backend->m_failWrite != MMSYSERR_NOERROR)
            return std::exchange(m_backend->m_failWrite, MMSYSERR_NOERROR);
        m_state->queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Pause() override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        m_state->paused = true;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Restart() override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        m_state->paused = false;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override
    {
        std::deque<WAVEHDR*> returned;
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            if (m_backend->m_holdStops)
                return MMSYSERR_NOERROR;
            returned.swap(m_state->queue);
            m_state->offsetInFirst = 0;
            m_state->position = 0;
            for (WAVEHDR* header : returned)
                header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        }
        for (WAVEHDR* header : returned)
            m_state->callback->Push(MM_WOM_DONE, header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        const std::uint64_t bytes = m_state->position;
        const TWaveFormatEx& f = m_state->format;
        switch (time.wType) {
        case MMTIME::Bytes:
            time.value = static_cast<std::uint32_t>(bytes);
            break;
        case MMTIME::Samples:
            time.value = static_cast<std::uint32_t>(f.nBlockAlign ? bytes / f.nBlockAlign : 0);
            break;
        default:
            time.wType = MMTIME::Ms;
            time.value = static_cast<std::uint32_t>(f.nAvgBytesPerSec ? bytes * 1000 / f.nAvgBytesPerSec : 0);
            break;
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetVolume(std::uint32_t& volume) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        volume = m_state->volume;
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetVolume(std::uint32_t volume) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        m_state->volume = volume;
        m_backend->m_lastVolume = volume;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            if (m_backend->m_holdStops)
                return MMSYSERR_NOERROR;
            if (!m_state->queue.empty())
                return WAVERR_STILLPLAYING;
            m_state->open = false;
        }
        m_state->callback->Push(MM_WOM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

private:
    std::shared_ptr<VirtualWaveOutBackend> m_backend;
    std::shared_ptr<VirtualWaveOutBackend::DeviceState> m_state;
};

VirtualWaveOutBackend::~VirtualWaveOutBackend()
{
    m_clock.Stop();
}

unsigned VirtualWaveOutBackend::GetNumDevs()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceCount;
}

MMRESULT VirtualWaveOutBackend::GetDevCaps(int deviceId, WAVEOUTCAPS& caps)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_deviceCount == 0 || deviceId >= static_cast<int>(m_deviceCount) || deviceId < WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    caps.szPname = "Sortie virtuelle";
    caps.dwFormats = WAVE_FORMAT_ALL;
    caps.wChannels = 2;
    caps.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveOutBackend::Query(int deviceId, const TWaveFormatEx& format)
{
    WAVEOUTCAPS caps;
    if (const MMRESULT r = GetDevCaps(deviceId, caps))
        return r;
    const bool pcm =
        format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
        (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec > 0 &&
        format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
    return pcm ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT VirtualWaveOutBackend::Open(std::unique_ptr<WaveOutDevice>& device, int deviceId,
                                     const TWaveFormatEx& format, NotificationQueue* callback)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failOpen != MMSYSERR_NOERROR)
            return std::exchange(m_failOpen, MMSYSERR_NOERROR);
    }
    if (const MMRESULT r = Query(deviceId, format))
        return r;
    auto state = std::make_shared<DeviceState>();
    state->format = format;
    state->callback = callback;
    state->open = true;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(state);
    }
    device = std::make_unique<VirtualWaveOutDevice>(shared_from_this(), state);
    callback->Push(MM_WOM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

void VirtualWaveOutBackend::SetDeviceCount(unsigned count)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceCount = count;
}

void VirtualWaveOutBackend::FailNextOpen(MMRESULT code)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_failOpen = code;
}

void VirtualWaveOutBackend::FailNextWrite(MMRESULT code)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_failWrite = code;
}

void VirtualWaveOutBackend::HoldStops(bool hold)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_holdStops = hold;
}

void VirtualWaveOutBackend::Advance(std::uint32_t ms)
{
    std::vector<std::pair<NotificationQueue*, WAVEHDR*>> done;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& d : m_devices) {
            if (!d->open || d->paused)
                continue;
            const std::uint64_t units =
                static_cast<std::uint64_t>(d->format.nAvgBytesPerSec) * ms + d->remainder;
            std::uint64_t budget = units / 1000;
            d->remainder = units % 1000;
            while (budget > 0 && !d->queue.empty()) {
                WAVEHDR* header = d->queue.front();
                const std::size_t left = header->dwBufferLength - d->offsetInFirst;
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(budget, left));
                d->played.insert(d->played.end(), header->lpData + d->offsetInFirst,
                                 header->lpData + d->offsetInFirst + n);
                d->offsetInFirst += n;
                d->position += n;
                budget -= n;
                if (d->offsetInFirst == header->dwBufferLength) {
                    d->queue.pop_front();
                    d->offsetInFirst = 0;
                    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
                    done.emplace_back(d->callback, header);
                }
            }
            if (d->queue.empty())
                d->remainder = 0; // silence does not carry over
        }
    }
    for (const auto& [callback, header] : done)
        callback->Push(MM_WOM_DONE, header);
}

void VirtualWaveOutBackend::RunInRealTime(double speed)
{
    m_clock.Run(speed, [this](std::uint32_t ms) { Advance(ms); });
}

int VirtualWaveOutBackend::OpenCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_devices.size());
}

int VirtualWaveOutBackend::OpenDevices() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(
        std::count_if(m_devices.begin(), m_devices.end(), [](const auto& d) { return d->open; }));
}

std::vector<std::uint8_t> VirtualWaveOutBackend::Played(int device) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (device < 0 || device >= static_cast<int>(m_devices.size()))
        return {};
    return m_devices[static_cast<std::size_t>(device)]->played;
}

std::vector<std::uint8_t> VirtualWaveOutBackend::LastPlayed() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.empty() ? std::vector<std::uint8_t>() : m_devices.back()->played;
}

std::uint32_t VirtualWaveOutBackend::LastVolume() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastVolume;
}
