#include "platform/sound/virtual/VirtualWaveIn.h"

#include <algorithm>
#include <utility>

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

class VirtualWaveInDevice : public VirtualWaveDevice<WaveInDevice, VirtualWaveInBackend, VirtualWaveInState>
{
public:
    using VirtualWaveDevice::VirtualWaveDevice;

    MMRESULT AddBuffer(WAVEHDR* header) override { return Queue(header); }

    MMRESULT Start() override
    {
        m_backend->SetLocked(m_state->started, true);
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
                MarkHeaderDone(partial);
            }
        }
        if (partial)
            m_state->callback->Push(MM_WIM_DATA, partial);
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

private:
    void ResetLocked() override { m_state->started = false; }
};

VirtualWaveInBackend::VirtualWaveInBackend() = default;

VirtualWaveInBackend::~VirtualWaveInBackend()
{
    StopClock();
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

std::unique_ptr<WaveInDevice> VirtualWaveInBackend::MakeDevice(std::shared_ptr<VirtualWaveInState> state)
{
    return std::make_unique<VirtualWaveInDevice>(shared_from_this(), std::move(state));
}

void VirtualWaveInBackend::SetSignal(Signal signal)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_signal = std::move(signal);
}

void VirtualWaveInBackend::Advance(std::uint32_t ms)
{
    std::vector<std::pair<NotificationQueue*, WAVEHDR*>> filled;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& d : m_devices) {
            if (!d->open || !d->started)
                continue;
            std::uint64_t frames = Due(*d, d->format.nSamplesPerSec, ms);
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
                    MarkHeaderDone(header);
                    filled.emplace_back(d->callback, header);
                }
            }
            // Frames with no buffer to go into are lost, as on a real device that overruns.
            d->frame += frames;
        }
    }
    PushDone(filled);
}
