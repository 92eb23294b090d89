// What the virtual output and input share: the devices' common state, the backend's test controls (device
// count, a failing open, held stops), its clock, and a device's queue, reset and close. Each direction adds
// what it does with the sound (play it, record a signal) and its own test controls.
//
// Threads: Advance may run on the clock's thread (RunInRealTime); the device state is guarded by the
// backend's mutex, and notifications are pushed with it released.
#pragma once

#include "platform/sound/VirtualClock.h"
#include "platform/sound/WaveService.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// One open device, under its backend's mutex.
struct VirtualWaveState
{
    TWaveFormatEx format{};
    NotificationQueue* callback = nullptr;
    std::deque<WAVEHDR*> queue;  // the front one is being played or filled
    std::uint64_t position = 0;  // bytes since the open or the last reset
    std::uint64_t remainder = 0; // what the clock owes below one unit (byte or frame), in unit-milliseconds
    bool open = false;
};

template <typename Interface, typename Backend, typename State> class VirtualWaveDevice;

// Backend: the direction's (WaveOutBackend, WaveInBackend). State: its device state, a VirtualWaveState.
template <typename Backend, typename State> class VirtualWaveBackend : public Backend
{
public:
    using Device = typename Backend::DeviceType;
    using Caps = typename Backend::CapsType;

    std::string Name() const override { return "virtuel"; }

    unsigned GetNumDevs() override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_deviceCount;
    }

    MMRESULT Query(int deviceId, const TWaveFormatEx& format) override
    {
        Caps caps;
        if (const MMRESULT r = this->GetDevCaps(deviceId, caps))
            return r;
        const bool pcm =
            format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
            (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec > 0 &&
            format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
        return pcm ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }

    MMRESULT Open(std::unique_ptr<Device>& device, int deviceId, const TWaveFormatEx& format,
                  NotificationQueue* callback) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_failOpen != MMSYSERR_NOERROR)
                return std::exchange(m_failOpen, MMSYSERR_NOERROR);
        }
        if (const MMRESULT r = Query(deviceId, format))
            return r;
        auto state = std::make_shared<State>();
        state->format = format;
        state->callback = callback;
        state->open = true;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_devices.push_back(state);
        }
        device = MakeDevice(std::move(state));
        callback->Push(Device::kOpenMessage, nullptr);
        return MMSYSERR_NOERROR;
    }

    // What the test controls.
    void SetDeviceCount(unsigned count) { SetLocked(m_deviceCount, count); }
    void FailNextOpen(MMRESULT code) { SetLocked(m_failOpen, code); }
    // Plays or records ms milliseconds of sound on every open, running device.
    virtual void Advance(std::uint32_t ms) = 0;
    // A clock thread advancing every 5 ms at speed times real time; 0 stops it.
    void RunInRealTime(double speed)
    {
        m_clock.Run(speed, [this](std::uint32_t ms) { Advance(ms); });
    }

    // What the test reads.
    int OpenDevices() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(
            std::count_if(m_devices.begin(), m_devices.end(), [](const auto& d) { return d->open; }));
    }

protected:
    template <typename, typename, typename> friend class VirtualWaveDevice;

    template <typename T> void SetLocked(T& field, T value)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        field = value;
    }

    // The direction's device over the new state.
    virtual std::unique_ptr<Device> MakeDevice(std::shared_ptr<State> state) = 0;

    // Before anything Advance reads goes: the derived class's destructor calls it first.
    void StopClock() { m_clock.Stop(); }

    // Under m_mutex: the units (bytes, frames) of ms milliseconds at perSecond a second, with what the
    // last call owed.
    static std::uint64_t Due(State& d, std::uint32_t perSecond, std::uint32_t ms)
    {
        const std::uint64_t units = static_cast<std::uint64_t>(perSecond) * ms + d.remainder;
        d.remainder = units % 1000;
        return units / 1000;
    }

    // The headers Advance handed back, notified once the mutex is released.
    static void PushDone(const std::vector<std::pair<NotificationQueue*, WAVEHDR*>>& done)
    {
        for (const auto& [callback, header] : done)
            callback->Push(Device::kDoneMessage, header);
    }

    mutable std::mutex m_mutex;
    unsigned m_deviceCount = 1;
    MMRESULT m_failOpen = MMSYSERR_NOERROR;
    // While set (the output's test holds them), a reset or a close is answered but not carried out.
    bool m_holdStops = false;
    std::vector<std::shared_ptr<State>> m_devices; // every device ever opened

private:
    VirtualClock m_clock; // last: stopped before the devices it advances go
};

// An open virtual device of either direction. Interface: WaveOutDevice or WaveInDevice; Backend: the
// direction's VirtualWaveBackend.
template <typename Interface, typename Backend, typename State> class VirtualWaveDevice : public Interface
{
public:
    VirtualWaveDevice(std::shared_ptr<Backend> backend, std::shared_ptr<State> state)
        : m_backend(std::move(backend)), m_state(std::move(state))
    {
    }

    MMRESULT Reset() override
    {
        std::deque<WAVEHDR*> returned;
        {
            const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
            if (m_backend->m_holdStops)
                return MMSYSERR_NOERROR;
            ResetLocked();
            returned.swap(m_state->queue);
            m_state->position = 0;
            for (WAVEHDR* header : returned)
                MarkHeaderDone(header);
        }
        for (WAVEHDR* header : returned)
            m_state->callback->Push(Interface::kDoneMessage, header);
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
        m_state->callback->Push(Interface::kCloseMessage, nullptr);
        return MMSYSERR_NOERROR;
    }

protected:
    // Under the backend's mutex, what a reset changes besides the queue and the position.
    virtual void ResetLocked() = 0;

    // Queues a header, unless the backend was told to fail this one (failure: reset to no failure after).
    MMRESULT Queue(WAVEHDR* header, MMRESULT* failure = nullptr)
    {
        const std::lock_guard<std::mutex> lock(m_backend->m_mutex);
        if (failure && *failure != MMSYSERR_NOERROR)
            return std::exchange(*failure, MMSYSERR_NOERROR);
        m_state->queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    std::shared_ptr<Backend> m_backend;
    std::shared_ptr<State> m_state;
};
