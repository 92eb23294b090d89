// The wave input service: open a device for a format, hand it empty buffers, get each one back filled,
// start, stop, reset, close. Backends supply the devices; the functions below check handles and
// buffer headers the same way for all of them (WaveService.h).
//
// Threads: the functions are called on the GUI thread. A backend's own threads only fill queued buffers
// and push notifications into the device's NotificationQueue; a header's fields (dwBytesRecorded,
// dwFlags) are set by the backend before its MM_WIM_DATA is pushed, and read after it is popped.
#pragma once

#include "platform/sound/WaveService.h"

#include <cstdint>
#include <memory>
#include <string>

struct WAVEINCAPS
{
    std::string szPname;
    std::uint32_t dwFormats = 0; // WAVE_FORMAT_* bits, as for output
    std::uint16_t wChannels = 0;
};

// An open input device.
class WaveInDevice : public WaveDirectionDevice<MM_WIM_OPEN, MM_WIM_CLOSE, MM_WIM_DATA>
{
public:
    // Queues an empty header (already marked WHDR_INQUEUE); once filled (or handed back by a reset):
    // set dwBytesRecorded, clear WHDR_INQUEUE, set WHDR_DONE, push MM_WIM_DATA with it.
    virtual MMRESULT AddBuffer(WAVEHDR* header) = 0;
    virtual MMRESULT Start() = 0;
    // Stops recording; the buffer being filled comes back with what it holds, the others stay queued.
    virtual MMRESULT Stop() = 0;
};

using WaveInBackend = WaveBackend<WaveInDevice, WAVEINCAPS>;

// What both directions offer alike (their definitions are shared, see WaveService.h):
// - CurrentWaveInBackend: the backend the program uses, chosen once, at first use, by probing (a sound
//   server, else ALSA); SetCurrentWaveInBackend: another (tests install the virtual one before any device
//   is opened).
// - waveInOpen: with WAVE_FORMAT_QUERY only asks (handle and callback unused); otherwise opens.
// - waveInGetErrorText: the French text of a code; non-zero for an unknown code.
// Handles are numbers, never pointers: a call with a closed handle gets MMSYSERR_INVALHANDLE.
using HWAVEIN = std::uintptr_t;
WaveInBackend& CurrentWaveInBackend();
void SetCurrentWaveInBackend(std::shared_ptr<WaveInBackend> backend);
unsigned waveInGetNumDevs();
MMRESULT waveInGetDevCaps(int deviceId, WAVEINCAPS& caps);
MMRESULT waveInOpen(HWAVEIN* handle, int deviceId, const TWaveFormatEx* format, NotificationQueue* callback,
                    std::uint32_t flags);
MMRESULT waveInClose(HWAVEIN handle);
MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header);
MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header);
MMRESULT waveInReset(HWAVEIN handle);
MMRESULT waveInGetPosition(HWAVEIN handle, MMTIME& time);
MMRESULT waveInGetErrorText(MMRESULT code, std::string& text);

// The input's own.
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header);
MMRESULT waveInStart(HWAVEIN handle);
MMRESULT waveInStop(HWAVEIN handle);
