// The wave output service: open a device for a format, send it buffers, get each one back once played,
// pause, restart, reset, close. Backends (PulseAudio, ALSA, virtual) supply the devices; the functions
// below check handles and buffer headers the same way for all of them (WaveService.h).
//
// Threads: the functions are called on the GUI thread. A backend may use threads of its own, which
// only push notifications into the device's NotificationQueue; a header's flags are changed by the
// backend before its MM_WOM_DONE is pushed, and read by the GUI thread after it is popped.
#pragma once

#include "platform/sound/WaveService.h"

#include <cstdint>
#include <memory>
#include <string>

struct WAVEOUTCAPS
{
    std::string szPname;
    std::uint32_t dwFormats = 0; // WAVE_FORMAT_* bits
    std::uint16_t wChannels = 0;
    std::uint32_t dwSupport = 0; // WAVECAPS_* bits
};

constexpr std::uint32_t WAVECAPS_PITCH = 0x01;
constexpr std::uint32_t WAVECAPS_PLAYBACKRATE = 0x02;
constexpr std::uint32_t WAVECAPS_VOLUME = 0x04;
constexpr std::uint32_t WAVECAPS_LRVOLUME = 0x08;
constexpr std::uint32_t WAVECAPS_SYNC = 0x10;
constexpr std::uint32_t WAVECAPS_SAMPLEACCURATE = 0x20;

// Format bits: rate (1 = 11025, 2 = 22050, 4 = 44100 Hz), mono/stereo, 8/16 bits.
constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x001, WAVE_FORMAT_1S08 = 0x002, WAVE_FORMAT_1M16 = 0x004,
                        WAVE_FORMAT_1S16 = 0x008, WAVE_FORMAT_2M08 = 0x010, WAVE_FORMAT_2S08 = 0x020,
                        WAVE_FORMAT_2M16 = 0x040, WAVE_FORMAT_2S16 = 0x080, WAVE_FORMAT_4M08 = 0x100,
                        WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;
constexpr std::uint32_t WAVE_FORMAT_ALL = 0xFFF;

constexpr int WAVE_MAPPER = -1;

// An open output device.
class WaveOutDevice : public WaveDirectionDevice<MM_WOM_OPEN, MM_WOM_CLOSE, MM_WOM_DONE>
{
public:
    // Queues the header (already marked WHDR_INQUEUE); once played: clear WHDR_INQUEUE, set WHDR_DONE,
    // push MM_WOM_DONE with it.
    virtual MMRESULT Write(WAVEHDR* header) = 0;
    virtual MMRESULT Pause() = 0;
    virtual MMRESULT Restart() = 0;
    // Volume: low word left, high word right, 0..0xFFFF each.
    virtual MMRESULT GetVolume(std::uint32_t& volume) = 0;
    virtual MMRESULT SetVolume(std::uint32_t volume) = 0;
    // Pitch and rate in 16.16 fixed point.
    virtual MMRESULT GetPitch(std::uint32_t&) { return MMSYSERR_NOTSUPPORTED; }
    virtual MMRESULT SetPitch(std::uint32_t) { return MMSYSERR_NOTSUPPORTED; }
    virtual MMRESULT GetPlaybackRate(std::uint32_t&) { return MMSYSERR_NOTSUPPORTED; }
    virtual MMRESULT SetPlaybackRate(std::uint32_t) { return MMSYSERR_NOTSUPPORTED; }
};

using WaveOutBackend = WaveBackend<WaveOutDevice, WAVEOUTCAPS>;

// What both directions offer alike (their definitions are shared, see WaveService.h):
// - CurrentWaveOutBackend: the backend the program uses, chosen once, at first use, by probing (a sound
//   server, else ALSA); SetCurrentWaveOutBackend: another (tests install the virtual one before any device
//   is opened).
// - waveOutOpen: with WAVE_FORMAT_QUERY only asks (handle and callback unused); otherwise opens.
// - waveOutGetErrorText: the French text of a code; non-zero for an unknown code.
// Handles are numbers, never pointers: a call with a closed handle gets MMSYSERR_INVALHANDLE.
using HWAVEOUT = std::uintptr_t;
WaveOutBackend& CurrentWaveOutBackend();
void SetCurrentWaveOutBackend(std::shared_ptr<WaveOutBackend> backend);
unsigned waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(int deviceId, WAVEOUTCAPS& caps);
MMRESULT waveOutOpen(HWAVEOUT* handle, int deviceId, const TWaveFormatEx* format, NotificationQueue* callback,
                     std::uint32_t flags);
MMRESULT waveOutClose(HWAVEOUT handle);
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header);
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header);
MMRESULT waveOutReset(HWAVEOUT handle);
MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME& time);
MMRESULT waveOutGetErrorText(MMRESULT code, std::string& text);

// The output's own.
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header);
MMRESULT waveOutPause(HWAVEOUT handle);
MMRESULT waveOutRestart(HWAVEOUT handle);
MMRESULT waveOutGetVolume(HWAVEOUT handle, std::uint32_t& volume);
MMRESULT waveOutSetVolume(HWAVEOUT handle, std::uint32_t volume);
MMRESULT waveOutGetPitch(HWAVEOUT handle, std::uint32_t& pitch);
MMRESULT waveOutSetPitch(HWAVEOUT handle, std::uint32_t pitch);
MMRESULT waveOutGetPlaybackRate(HWAVEOUT handle, std::uint32_t& rate);
MMRESULT waveOutSetPlaybackRate(HWAVEOUT handle, std::uint32_t rate);
