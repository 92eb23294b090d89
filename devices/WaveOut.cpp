#include "devices/WaveOut.h"

#include "platform/io/MulDiv.h"

TWaveAudioOut::TWaveAudioOut() = default;

TWaveAudioOut::~TWaveAudioOut()
{
    Destroying();
}

// ---- Device information ---------------------------------------------------------------------------

TWaveOutDeviceSupports TWaveAudioOut::DeviceSupports()
{
    WAVEOUTCAPS caps;
    if (waveOutGetDevCaps(m_deviceId, caps) != MMSYSERR_NOERROR)
        return 0;
    TWaveOutDeviceSupports supports = 0;
    if (caps.dwSupport & WAVECAPS_VOLUME) {
        supports |= dsVolume;
        if (caps.dwSupport & WAVECAPS_LRVOLUME)
            supports |= dsStereoVolume;
    }
    if (caps.dwSupport & WAVECAPS_PITCH)
        supports |= dsPitch;
    if (caps.dwSupport & WAVECAPS_PLAYBACKRATE)
        supports |= dsPlaybackRate;
    if (caps.dwSupport & WAVECAPS_SAMPLEACCURATE)
        supports |= dsPosition;
    if (!(caps.dwSupport & WAVECAPS_SYNC))
        supports |= dsAsynchronize;
    return supports;
}

// ---- Volume, pitch, rate --------------------------------------------------------------------------

std::uint16_t TWaveAudioOut::Volume()
{
    std::uint32_t volume = 0;
    if (GetActive() && (DeviceSupports() & dsVolume) &&
        waveOutGetVolume(m_handle, volume) == MMSYSERR_NOERROR)
        return static_cast<std::uint16_t>(MulDiv(static_cast<std::int32_t>(volume & 0xFFFF), 100, 65535));
    return m_volume;
}

void TWaveAudioOut::SetVolume(std::uint16_t value)
{
    if (value == m_volume)
        return;
    m_volume = value;
    if (GetActive() && (m_options & woSetVolume) && (DeviceSupports() & dsVolume))
        Success(waveOutSetVolume(m_handle, static_cast<std::uint32_t>(MulDiv(m_volume, 65535, 100))));
}

double TWaveAudioOut::Pitch()
{
    return readFixed(m_pitch, dsPitch, waveOutGetPitch);
}

void TWaveAudioOut::SetPitch(double value)
{
    writeFixed(m_pitch, value, woSetPitch, dsPitch, waveOutSetPitch);
}

double TWaveAudioOut::PlaybackRate()
{
    return readFixed(m_playbackRate, dsPlaybackRate, waveOutGetPlaybackRate);
}

void TWaveAudioOut::SetPlaybackRate(double value)
{
    writeFixed(m_playbackRate, value, woSetPlaybackRate, dsPlaybackRate, waveOutSetPlaybackRate);
}

double TWaveAudioOut::readFixed(double stored, TWaveOutDeviceSupports support,
                                MMRESULT (*get)(HWAVEOUT, std::uint32_t&))
{
    if (!GetActive())
        return stored;
    std::uint32_t value = 0;
    if ((DeviceSupports() & support) && Success(get(m_handle, value)))
        return FromFixed1616(value);
    return 1.0;
}

void TWaveAudioOut::writeFixed(double& stored, double value, TWaveOutOptions option,
                               TWaveOutDeviceSupports support, MMRESULT (*set)(HWAVEOUT, std::uint32_t))
{
    if (value == stored)
        return;
    stored = value;
    if (GetActive() && (m_options & option) && (DeviceSupports() & support))
        Success(set(m_handle, ToFixed1616(stored)));
}

void TWaveAudioOut::SetOptions(TWaveOutOptions value)
{
    if (value == m_options)
        return;
    m_options = value;
    if (GetActive())
        ApplyOptions();
}

void TWaveAudioOut::ApplyOptions()
{
    const TWaveOutDeviceSupports supports = DeviceSupports();
    if ((m_options & woSetVolume) && (supports & dsVolume))
        Success(waveOutSetVolume(m_handle, static_cast<std::uint32_t>(MulDiv(m_volume, 65535, 100))));
    if ((m_options & woSetPitch) && (supports & dsPitch))
        Success(waveOutSetPitch(m_handle, ToFixed1616(m_pitch)));
    if ((m_options & woSetPlaybackRate) && (supports & dsPlaybackRate))
        Success(waveOutSetPlaybackRate(m_handle, ToFixed1616(m_playbackRate)));
}

// ---- Open and close -------------------------------------------------------------------------------

bool TWaveAudioOut::InternalClose()
{
    // Only a stop already under way makes this one do nothing. Data that has merely run out still
    // leaves buffers at the device, reading the player's memory: the stop must wait for them too.
    if (!BeginClose(m_stopping))
        return false;
    m_stopping = true;
    const ClearOnExit stopping{m_stopping}, closing{m_closing};
    return CloseAndWait();
}

void TWaveAudioOut::DoWaveOutOpen()
{
    m_closing = false;
    ApplyOptions();
    m_paused = m_paused && Success(waveOutPause(m_handle));
    QueueBuffers();
    DoActivate();
}

void TWaveAudioOut::QueueBuffers()
{
    for (int i = ActiveBufferCount(); i < m_bufferCount; ++i) {
        if (!GetActive() || m_closing)
            break;
        CallbackQueue().Push(MM_WOM_DONE, nullptr);
    }
}

// ---- The refill cycle -----------------------------------------------------------------------------

void TWaveAudioOut::DoWaveOutDone(WAVEHDR* header)
{
    // The last steps run whatever happens in the first ones, so that a failure still ends playback.
    const auto finish = [this, &header] {
        if (m_closing && header)
            DropBuffer(header);
        CloseWhenEmpty();
    };
    try {
        if (header && GetActive())
            Success(waveOutUnprepareHeader(m_handle, header));
        // The buffer about to be filled counts, whether it came back or is to be created.
        const int buffers = ActiveBufferCount() + (header ? 0 : 1);
        if (!m_closing && GetActive() && buffers <= m_bufferCount) {
            std::uint32_t n = 0;
            std::uint32_t loops = 0;
            if (m_copyMode) {
                if (ReallocateBuffer(header, CalcBufferSize(), nullptr)) {
                    n = ReadData(header->lpData, header->dwBufferLength, loops);
                    if (n < header->dwBufferLength)
                        ReallocateBuffer(header, n, nullptr);
                }
            } else {
                std::uint8_t* buffer = nullptr;
                bool freeIt = true;
                n = GetDataPtr(buffer, loops, freeIt);
                if (!buffer)
                    n = 0;
                ReallocateBuffer(header, n, buffer);
                if (header && freeIt && buffer)
                    header->dwUser = reinterpret_cast<std::uintptr_t>(this);
            }
            m_closing = m_closing || n == 0;
            if (!m_closing && header) {
                SetLoops(header, loops);
                WriteBuffer(header);
            }
        } else if (header && !m_closing) {
            // BufferCount was lowered while playing: this one is not sent again.
            ReallocateBuffer(header, 0, nullptr);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool TWaveAudioOut::WriteBuffer(WAVEHDR* header)
{
    return SendBuffer(header, [this, header] {
        DoData(header->lpData, header->dwBufferLength);
        DoLevel(header->lpData, header->dwBufferLength);
    });
}

bool TWaveAudioOut::QueueData(std::uint8_t* buffer, std::uint32_t size, bool freeIt, std::uint32_t loops)
{
    return SendBlock(buffer, size, freeIt, loops, [this](WAVEHDR* header) { return WriteBuffer(header); });
}

std::uint32_t TWaveAudioOut::ReadData(std::uint8_t* /*buffer*/, std::uint32_t /*size*/,
                                      std::uint32_t& /*loops*/)
{
    return 0;
}

std::uint32_t TWaveAudioOut::GetDataPtr(std::uint8_t*& /*buffer*/, std::uint32_t& /*loops*/, bool& /*freeIt*/)
{
    return 0;
}
