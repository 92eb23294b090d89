// A sound input without sound, for tests: the test drives its clock, the device "records" a signal the
// test gives (a function of the frame index and channel, 16-bit values), and it can fail an open or a
// buffer.
//
// Threads: Advance may run on a clock thread (RunInRealTime); device state is guarded by the backend's
// mutex, and notifications go through each device's queue.
#pragma once

#include "platform/sound/WaveInService.h"
#include "platform/sound/virtual/VirtualWaveBackend.h"

#include <cstdint>
#include <functional>
#include <memory>

struct VirtualWaveInState : VirtualWaveState
{
    bool started = false;
    std::uint64_t frame = 0; // next frame of the signal
};

class VirtualWaveInBackend : public VirtualWaveBackend<WaveInBackend, VirtualWaveInState>,
                             public std::enable_shared_from_this<VirtualWaveInBackend>
{
public:
    using Signal = std::function<int(std::uint64_t frame, unsigned channel)>;

    VirtualWaveInBackend();
    ~VirtualWaveInBackend() override;

    MMRESULT GetDevCaps(int deviceId, WAVEINCAPS& caps) override;

    void SetSignal(Signal signal);
    // Records ms milliseconds on every open, started device.
    void Advance(std::uint32_t ms) override;

private:
    friend class VirtualWaveInDevice;

    std::unique_ptr<WaveInDevice> MakeDevice(std::shared_ptr<VirtualWaveInState> state) override;

    Signal m_signal;
};
