// A sound output without sound, for tests: the test drives its clock (or lets it run at a multiple of
// real time), reads every byte each device played, and can make an open or a write fail.
//
// Threads: Advance may run on a clock thread of its own (RunInRealTime); the device state is guarded
// by the backend's mutex, and notifications go through each device's queue.
#pragma once

#include "platform/sound/VirtualClock.h"
#include "platform/sound/WaveOutService.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class VirtualWaveOutBackend : public WaveOutBackend,
                              public std::enable_shared_from_this<VirtualWaveOutBackend>
{
public:
    VirtualWaveOutBackend() = default;
    ~VirtualWaveOutBackend() override;

    std::string Name() const override { return "virtuel"; }
    unsigned GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, WAVEOUTCAPS& caps) override;
    MMRESULT Query(int deviceId, const TWaveFormatEx& format) override;
    MMRESULT Open(std::unique_ptr<WaveOutDevice>& device, int deviceId, const TWaveFormatEx& format,
                  NotificationQueue* callback) override;

    // What the test controls.
    void SetDeviceCount(unsigned count);
    void FailNextOpen(MMRESULT code);
    void FailNextWrite(MMRESULT code);
    // While held, a reset or a close is answered but not carried out: the device keeps its buffers and
    // tells nothing, like a device that stopped answering. Released, it plays on.
    void HoldStops(bool hold);
    // Plays ms milliseconds of sound on every open, running device.
    void Advance(std::uint32_t ms);
    // A clock thread advancing every 5 ms at speed times real time; 0 stops it.
    void RunInRealTime(double speed);

    // What the test reads.
    int OpenCount() const;
    int OpenDevices() const;
    // Every byte played by the n-th device opened (0-based), in order, kept after it closed.
    std::vector<std::uint8_t> Played(int device) const;
    std::vector<std::uint8_t> LastPlayed() const;
    std::uint32_t LastVolume() const;

private:
    friend class VirtualWaveOutDevice;
    struct DeviceState;

    mutable std::mutex m_mutex;
    unsigned m_deviceCount = 1;
    MMRESULT m_failOpen = MMSYSERR_NOERROR;
    MMRESULT m_failWrite = MMSYSERR_NOERROR;
    bool m_holdStops = false;
    std::vector<std::shared_ptr<DeviceState>> m_devices; // every device ever opened
    std::uint32_t m_lastVolume = 0xFFFF;

    VirtualClock m_clock; // last: stopped before the devices it advances go
};
