#include "platform/sound/virtual/VirtualWaveIn.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <utility>

struct VirtualWaveInBackend::DeviceState
{
    TWaveFormatEx format{};
    NotificationQueue* callback = nullptr;
    std::deque<WAVEHDR*> queue;
    bool started = false;
    bool open = false;
    std::uint64_t frame = 0;     // next frame of the signal
    std::uint64_t position = 0;  // bytes recorded since the open or the last reset
    std::uint64_t remainder = 0; // sub-frame carry of the clock
};

namespace {

// Writes one frame of the signal in the device's format.
void putFrame(std::uint8_t* out, const TWaveFormatEx& f, const VirtualWaveInBackend::Signal& signal,
              std::uint64_t frame)
{
    for (unsigned c = 0; c < f.nChannels; ++c) {
        const int v = std::clamp(signal ? signal(frame, c) : 0, -32768, 32767);
        if (f.wBitsPerSample == 8) {
            *out++ = static_cast<std::uint8_t>((v >> 8) + 128);
        } else {
            *out++ = static_cast<std::uint8_t>(v);
            *out++ = static_cast<std::uint8_t>(static_cast<unsigned>(v) >> 8);
        }
    }
}

} // namespace

class VirtualWaveInDevice : public WaveInDevice
{
public:
    VirtualWaveInDevice(std::shared_ptr<VirtualWaveInBackend> backend,
                        std::shared_ptr<VirtualWaveInBackend::DeviceState> state)
        : m_backend(std::move(backend)), m_state(std::move(state))
    {
    }

    MMRESULT AddBuffer(WAVEHDR* header) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        m_state->queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        m_state->started = true;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() override
    {
        WAVEHDR* partial = nullptr;
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            m_state->started = false;
            // The buffer being filled comes back with what it holds.
            if (!m_state->queue.empty() && m_state->queue.front()->dwBytesRecorded > 0) {
                partial = m_state->queue.front();
                m_state->queue.pop_front();
                partial->dwFlags = (partial->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            }
        }
        if (partial)
            m_state->callback->Push(MM_WIM_DATA, partial);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override
    {
        std::deque<WAVEHDR*> returned;
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            m_state->started = false;
            m_state->position = 0;
            returned.swap(m_state->queue);
            for (WAVEHDR* header : returned)
                header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        }
        for (WAVEHDR* header : returned)
            m_state->callback->Push(MM_WIM_DATA, header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        const TWaveFormatEx& f = m_state->format;
        if (time.wType == MMTIME::Bytes) {
            time.value = static_cast<std::uint32_t>(m_state->position);
        } else {
            time.wType = MMTIME::Ms;
            time.value = static_cast<std::uint32_t>(
                f.nAvgBytesPerSec ? m_state->position * 1000 / f.nAvgBytesPerSec : 0);
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            if (!m_state->queue.empty())
                return WAVERR_STILLPLAYING;
            m_state->open = false;
        }
        m_state->callback->Push(MM_WIM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

private:
    std::shared_ptr<VirtualWaveInBackend> m_backend;
    std::shared_ptr<VirtualWaveInBackend::DeviceState> m_state;
};

VirtualWaveInBackend::VirtualWaveInBackend() = default;

VirtualWaveInBackend::~VirtualWaveInBackend()
{
    m_clock.Stop();
}

unsigned VirtualWaveInBackend::GetNumDevs()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceCount;
}

MMRESULT VirtualWaveInBackend::GetDevCaps(int deviceId, WAVEINCAPS& caps)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_deviceCount == 0 || deviceId >= static_cast<int>(m_deviceCount) || deviceId < -1)
        return MMSYSERR_BADDEVICEID;
    caps.szPname = "Entrée virtuelle";
    caps.dwFormats = 0xFFF;
    caps.wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveInBackend::Query(int deviceId, const TWaveFormatEx& format)
{
    WAVEINCAPS caps;
    if (const MMRESULT r = GetDevCaps(deviceId, caps))
        return r;
    const bool pcm =
        format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
        (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec > 0 &&
        format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
    return pcm ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT VirtualWaveInBackend::Open(std::unique_ptr<WaveInDevice>& device, int deviceId,
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
    device = std::make_unique<VirtualWaveInDevice>(shared_from_this(), state);
    callback->Push(MM_WIM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

void VirtualWaveInBackend::SetDeviceCount(unsigned count)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceCount = count;
}

void VirtualWaveInBackend::SetSignal(Signal signal)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_signal = std::move(signal);
}

void VirtualWaveInBackend::FailNextOpen(MMRESULT code)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_failOpen = code;
}

void VirtualWaveInBackend::Advance(std::uint32_t ms)
{
    std::vector<std::pair<NotificationQueue*, WAVEHDR*>> filled;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& d : m_devices) {
            if (!d->open || !d->started)
                continue;
            const std::uint64_t units =
                static_cast<std::uint64_t>(d->format.nSamplesPerSec) * ms + d->remainder;
            std::uint64_t frames = units / 1000;
            d->remainder = units % 1000;
            const std::uint32_t align = d->format.nBlockAlign;
            while (frames > 0 && !d->queue.empty()) {
                WAVEHDR* header = d->queue.front();
                const std::uint32_t room = (header->dwBufferLength - header->dwBytesRecorded) / align;
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, room));
                for (std::uint32_t i = 0; i < n; ++i)
                    putFrame(header->lpData + header->dwBytesRecorded + static_cast<std::size_t>(i) * align,
                             d->format, m_signal, d->frame + i);
                header->dwBytesRecorded += n * align;
                d->frame += n;
                d->position += static_cast<std::uint64_t>(n) * align;
                frames -= n;
                if ((header->dwBufferLength - header->dwBytesRecorded) < align) {
                    d->queue.pop_front();
                    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
                    filled.emplace_back(d->callback, header);
                }
            }
            // Frames with no buffer to go into are lost, as on a real device that overruns.
            d->frame += frames;
        }
    }
    for (const auto& [callback, header] : filled)
        callback->Push(MM_WIM_DATA, header);
}

void VirtualWaveInBackend::RunInRealTime(double speed)
{
    m_clock.Run(speed, [this](std::uint32_t ms) { Advance(ms); });
}

int VirtualWaveInBackend::OpenDevices() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(
        std::count_if(m_devices.begin(), m_devices.end(), [](const auto& d) { return d->open; }));
}
