// The wave input component: opens an input device, keeps BufferCount buffers of BufferLength
// milliseconds at the device, and hands each filled one to ProcessData with a level report.
#pragma once

#include "devices/WaveIO.h"
#include "platform/sound/WaveInService.h"

#include <cstdint>
#include <functional>

using TWaveAudioGetFormatEvent = std::function<void(TWaveAudioIO* sender, WaveFormatBlock& format)>;

// The input service's calls, for the device core.
inline constexpr TWaveServiceCalls<HWAVEIN, WAVEINCAPS> WaveInCalls{
    waveInGetNumDevs,      waveInGetDevCaps,   waveInOpen,      waveInClose, waveInPrepareHeader,
    waveInUnprepareHeader, waveInAddBuffer,    waveInReset,     waveInStop,  waveInStart,
    waveInGetPosition,     waveInGetErrorText, std::uint32_t{0}};

class TWaveAudioIn : public TWaveAudioDevice<HWAVEIN, WAVEINCAPS, WaveInCalls>
{
public:
    TWaveAudioIn();
    ~TWaveAudioIn() override;

    TPCMFormat PCMFormat() const { return m_pcmFormat; }
    void SetPCMFormat(TPCMFormat format);
    // Asked for a format record when PCMFormat is nonePCM.
    TWaveAudioGetFormatEvent OnFormat;

    virtual bool QueueData(std::uint8_t* buffer, std::uint32_t size, bool freeIt);

protected:
    virtual bool AddBuffer(WAVEHDR* header);
    // Each recorded block; freeIt false keeps the block out of the header's release.
    virtual void ProcessData(const std::uint8_t* /*buffer*/, std::uint32_t /*size*/, bool& /*freeIt*/) {}

    void DoWaveInOpen() override;
    void DoWaveInClose() override { DeviceClosed(); }
    void DoWaveInData(WAVEHDR* header) override;
    const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) override;
    bool InternalClose() override;
    void QueueBuffers() override;

private:
    TPCMFormat m_pcmFormat = Mono16bit8000Hz;
};
