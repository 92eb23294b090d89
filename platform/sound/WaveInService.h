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

// The functions of both directions (WaveService.h), then the input's own; its backend is chosen like
// the output's.
SONALTO_WAVE_SERVICE_DECLARATIONS(In, HWAVEIN, WAVEINCAPS)
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header);
MMRESULT waveInStart(HWAVEIN handle);
MMRESULT waveInStop(HWAVEIN handle);
