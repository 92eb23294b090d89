// A sound output without sound, for tests: the test drives its clock (or lets it run at a multiple of
// real time), reads every byte each device played, and can make an open or a write fail.
//
// Threads: Advance may run on a clock thread of its own (RunInRealTime); the device state is guarded
// by the backend's mutex, and notifications go through each device's queue.
#pragma once

#include "platform/sound/WaveOutService.h"
#include "platform/sound/virtual/VirtualWaveBackend.h"

#include <cstdint>
#include <memory>
#include <vector>

struct VirtualWaveOutState : VirtualWaveState
{
    std::size_t offsetInFirst = 0;
    std::vector<std::uint8_t> played;
    bool paused = false;
    std::uint32_t volume = 0xFFFFFFFF;
};

class VirtualWaveOutBackend : public VirtualWaveBackend<WaveOutBackend, VirtualWaveOutState>,
                              public std::enable_shared_from_this<VirtualWaveOutBackend>
{
public:
    VirtualWaveOutBackend() = default;
    ~VirtualWaveOutBackend() override;

    MMRESULT GetDevCaps(int deviceId, WAVEOUTCAPS& caps) override;

    // What the test controls.
    void FailNextWrite(MMRESULT code);
    // While held, a reset or a close is answered but not carried out: the device keeps its buffers and
    // tells nothing, like a device that stopped answering. Released, it plays on.
    void HoldStops(bool hold);
    // Plays ms milliseconds of sound on every open, running device.
    void Advance(std::uint32_t ms) override;

    // What the test reads.
    int OpenCount() const;
    // Every byte played by the n-th device opened (0-based), in order, kept after it closed.
    std::vector<std::uint8_t> Played(int device) const;
    std::vector<std::uint8_t> LastPlayed() const;
    std::uint32_t LastVolume() const;

private:
    friend class VirtualWaveOutDevice;

    std::unique_ptr<WaveOutDevice> MakeDevice(std::shared_ptr<VirtualWaveOutState> state) override;

    MMRESULT m_failWrite = MMSYSERR_NOERROR;
    std::uint32_t m_lastVolume = 0xFFFF;
};
