// The wave output component: opens an output device, keeps BufferCount buffers of BufferLength
// milliseconds queued, refills each one as the device hands it back, and closes when the data runs
// out or when told to stop. Where the data comes from is the players' business.
#pragma once

#include "devices/WaveIO.h"
#include "platform/sound/WaveOutService.h"

#include <cstdint>

enum TWaveOutOption : unsigned
{
    woSetVolume = 1,
    woSetPitch = 2,
    woSetPlaybackRate = 4
};
using TWaveOutOptions = unsigned;

enum TWaveOutDeviceSupport : unsigned
{
    dsVolume = 1,
    dsStereoVolume = 2,
    dsPitch = 4,
    dsPlaybackRate = 8,
    dsPosition = 16,
    dsAsynchronize = 32,
};
using TWaveOutDeviceSupports = unsigned;

// The output service's calls, for the device core.
inline constexpr TWaveServiceCalls<HWAVEOUT, WAVEOUTCAPS> WaveOutCalls{
    waveOutGetNumDevs,      waveOutGetDevCaps,   waveOutOpen,    waveOutClose, waveOutPrepareHeader,
    waveOutUnprepareHeader, waveOutWrite,        waveOutReset,   waveOutPause, waveOutRestart,
    waveOutGetPosition,     waveOutGetErrorText, CALLBACK_WINDOW};

class TWaveAudioOut : public TWaveAudioDevice<HWAVEOUT, WAVEOUTCAPS, WaveOutCalls>
{
public:
    TWaveAudioOut();
    ~TWaveAudioOut() override;

    TWaveOutDeviceSupports DeviceSupports();

    std::uint16_t Volume();
    void SetVolume(std::uint16_t value);
    double Pitch();
    void SetPitch(double value);
    double PlaybackRate();
    void SetPlaybackRate(double value);
    TWaveOutOptions Options() const { return m_options; }
    void SetOptions(TWaveOutOptions value);

    // Sends an explicit block outside the refill cycle; freeIt gives the block to the device.
    virtual bool QueueData(std::uint8_t* buffer, std::uint32_t size, bool freeIt, std::uint32_t loops);

protected:
    virtual bool WriteBuffer(WAVEHDR* header);
    // Copy mode: fills buffer with up to size bytes; the number placed.
    virtual std::uint32_t ReadData(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& loops);
    // Direct mode: points buffer at the next block; its size.
    virtual std::uint32_t GetDataPtr(std::uint8_t*& buffer, std::uint32_t& loops, bool& freeIt);

    void DoWaveOutOpen() override;
    void DoWaveOutClose() override { DeviceClosed(); }
    void DoWaveOutDone(WAVEHDR* header) override;
    bool InternalClose() override;
    void QueueBuffers() override;
    void ApplyOptions();

    bool m_copyMode = true;
    // A stop asked through Active := false is in progress.
    bool m_stopping = false;

private:
    // A 16.16 setting (pitch, rate): the device's while it is open (1.0 when it has none), else the one
    // kept for the next open.
    double readFixed(double stored, TWaveOutDeviceSupports support,
                     MMRESULT (*get)(HWAVEOUT, std::uint32_t&));
    void writeFixed(double& stored, double value, TWaveOutOptions option, TWaveOutDeviceSupports support,
                    MMRESULT (*set)(HWAVEOUT, std::uint32_t));

    std::uint16_t m_volume = 75;
    double m_pitch = 1.0;
    double m_playbackRate = 1.0;
    TWaveOutOptions m_options = 0;
};
