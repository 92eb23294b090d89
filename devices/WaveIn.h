// The wave input component: opens an input device, keeps BufferCount buffers of BufferLength
// milliseconds at the device, and hands each filled one to ProcessData with a level report.
#pragma once

#include "devices/WaveIO.h"
#include "platform/sound/WaveInService.h"

#include <functional>

using TWaveAudioGetFormatEvent = std::function<void(TWaveAudioIO* sender, WaveFormatBlock& format)>;

class TWaveAudioIn : public TWaveAudioIO
{
public:
    TWaveAudioIn();
    ~TWaveAudioIn() override;

    bool Pause() override;
    bool Resume() override;
    bool QueryFormat(const TWaveFormatEx& format) override;

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
    void DoWaveInClose() override;
    void DoWaveInData(WAVEHDR* header) override;
    int GetNumDevs() override;
    bool GetActive() override { return m_handle != 0; }
    bool GetPaused() override { return m_paused; }
    std::string GetDeviceName() override;
    std::set<TPCMFormat> GetDeviceFormats() override;
    std::uint32_t GetPosition() override;
    std::string GetErrorText(MMRESULT code) override;
    const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) override;
    MMRESULT ValidateDevice() override;
    bool InternalOpen() override;
    bool InternalClose() override;
    void QueueBuffers() override;

    HWAVEIN m_handle = 0;
    bool m_paused = false;
    bool m_closeRequested = false;
    // The error that ended the recording when the device failed: LastError again once it has closed.
    MMRESULT m_failedWith = MMSYSERR_NOERROR;

private:
    TPCMFormat m_pcmFormat = Mono16bit8000Hz;
};
