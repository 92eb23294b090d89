// A sound input without sound, for tests: the test drives its clock, the device "records" a signal the
// test gives (a function of the frame index and channel, 16-bit values), and it can fail an open or a
// buffer.
//
// Threads: Advance may run on a clock thread (RunInRealTime); device state is guarded by the backend's
// mutex, and notifications go through each device's queue.
#pragma once

#include "platform/sound/VirtualClock.h"
#include "platform/sound/WaveInService.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class VirtualWaveInBackend : public WaveInBackend, public std::enable_shared_from_this<VirtualWaveInBackend>
{
public:
    using Signal = std::function<int(std::uint64_t frame, unsigned channel)>;

    VirtualWaveInBackend();
    ~VirtualWaveInBackend() override;

    std::string Name() const override { return "virtuel"; }
    unsigned GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, WAVEINCAPS& caps) override;
    MMRESULT Query(int deviceId, const TWaveFormatEx& format) override;
    MMRESULT Open(std::unique_ptr<WaveInDevice>& device, int deviceId, const TWaveFormatEx& format,
                  NotificationQueue* callback) override;

    void SetDeviceCount(unsigned count);
    void SetSignal(Signal signal);
    void FailNextOpen(MMRESULT code);
    // Records ms milliseconds on every open, started device.
    void Advance(std::uint32_t ms);
    void RunInRealTime(double speed);
    int OpenDevices() const;

private:
    friend class VirtualWaveInDevice;
    struct DeviceState;

    mutable std::mutex m_mutex;
    unsigned m_deviceCount = 1;
    MMRESULT m_failOpen = MMSYSERR_NOERROR;
    Signal m_signal;
    std::vector<std::shared_ptr<DeviceState>> m_devices;
    VirtualClock m_clock; // last: stopped before the devices it advances go
};
