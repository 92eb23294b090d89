#include "platform/sound/virtual/VirtualWaveOut.h"

#include <algorithm>
#include <utility>

class VirtualWaveOutDevice
    : public VirtualWaveDevice<WaveOutDevice, VirtualWaveOutBackend, VirtualWaveOutState>
{
public:
    using VirtualWaveDevice::VirtualWaveDevice;

    MMRESULT Write(WAVEHDR* header) override { return Queue(header, &m_backend->m_failWrite); }

    MMRESULT Pause() override
    {
        m_backend->SetLocked(m_state->paused, true);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Restart() override
    {
        m_backend->SetLocked(m_state->paused, false);
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

private:
    void ResetLocked() override { m_state->offsetInFirst = 0; }
};

VirtualWaveOutBackend::~VirtualWaveOutBackend()
{
    StopClock();
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

std::unique_ptr<WaveOutDevice> VirtualWaveOutBackend::MakeDevice(std::shared_ptr<VirtualWaveOutState> state)
{
    return std::make_unique<VirtualWaveOutDevice>(shared_from_this(), std::move(state));
}

void VirtualWaveOutBackend::FailNextWrite(MMRESULT code)
{
    SetLocked(m_failWrite, code);
}

void VirtualWaveOutBackend::HoldStops(bool hold)
{
    SetLocked(m_holdStops, hold);
}

void VirtualWaveOutBackend::Advance(std::uint32_t ms)
{
    std::vector<std::pair<NotificationQueue*, WAVEHDR*>> done;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& d : m_devices) {
            if (!d->open || d->paused)
                continue;
            std::uint64_t budget = Due(*d, d->format.nAvgBytesPerSec, ms);
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
                    MarkHeaderDone(header);
                    done.emplace_back(d->callback, header);
                }
            }
            if (d->queue.empty())
                d->remainder = 0; // silence does not carry over
        }
    }
    PushDone(done);
}

int VirtualWaveOutBackend::OpenCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_devices.size());
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
