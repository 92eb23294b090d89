#include "devices/WaveIn.h"

#include <cstring>
#include <thread>
#include <utility>

TWaveAudioIn::TWaveAudioIn() = default;

TWaveAudioIn::~TWaveAudioIn()
{
    Destroying();
}

void TWaveAudioIn::SetPCMFormat(TPCMFormat format)
{
    if (format == m_pcmFormat)
        return;
    if (GetActive())
        throw EWaveAudioInvalidOperation("Audio format cannot be changed while device is open");
    m_pcmFormat = format;
}

int TWaveAudioIn::GetNumDevs()
{
    return static_cast<int>(waveInGetNumDevs());
}

std::string TWaveAudioIn::GetDeviceName()
{
    WAVEINCAPS caps;
    return waveInGetDevCaps(m_deviceId, caps) == MMSYSERR_NOERROR ? caps.szPname : std::string();
}

std::set<TPCMFormat> TWaveAudioIn::GetDeviceFormats()
{
    WAVEINCAPS caps;
    return waveInGetDevCaps(m_deviceId, caps) == MMSYSERR_NOERROR ? FormatsFromCaps(caps.dwFormats)
                                                                  : std::set<TPCMFormat>();
}

std::uint32_t TWaveAudioIn::GetPosition()
{
    if (!GetActive())
        return 0;
    MMTIME time;
    time.wType = MMTIME::Ms;
    return Success(waveInGetPosition(m_handle, time)) ? MMTimeToMs(time) : 0;
}

std::string TWaveAudioIn::GetErrorText(MMRESULT code)
{
    std::string text;
    return waveInGetErrorText(code, text) == MMSYSERR_NOERROR ? text : std::string();
}

const TWaveFormatEx* TWaveAudioIn::GetWaveFormat(WaveFormatBlock& storage)
{
    if (m_pcmFormat != nonePCM) {
        storage.assign(sizeof(TWaveFormatEx), 0);
        PCMFormatToWaveFormat(*reinterpret_cast<TWaveFormatEx*>(storage.data()), m_pcmFormat);
        return AsWaveFormat(storage);
    }
    if (OnFormat)
        OnFormat(this, storage);
    return AsWaveFormat(storage);
}

MMRESULT TWaveAudioIn::ValidateDevice()
{
    WAVEINCAPS caps;
    return waveInGetDevCaps(m_deviceId, caps);
}

bool TWaveAudioIn::QueryFormat(const TWaveFormatEx& format)
{
    return waveInOpen(nullptr, m_deviceId, &format, nullptr, 0x0001) == MMSYSERR_NOERROR;
}

bool TWaveAudioIn::InternalOpen()
{
    if (GetActive()) {
        if (m_closing)
            return false;
        throw EWaveAudioInvalidOperation("Device is aleardy open");
    }
    WaveFormatBlock storage;
    const TWaveFormatEx* format = GetWaveFormat(storage);
    if (!Success(waveInOpen(nullptr, m_deviceId, format, nullptr, 0x0001)))
        return false;
    std::memcpy(&m_currentFormat, format, 16);
    m_currentFormat.cbSize = 0;
    // A record whose byte rate gives no buffer at all cannot be played or recorded, whatever the device says.
    if (CalcBufferSize() == 0)
        return Success(WAVERR_BADFORMAT);
    m_closeRequested = false;
    m_failedWith = MMSYSERR_NOERROR;
    return Success(waveInOpen(&m_handle, m_deviceId, format, &CallbackQueue(), 0));
}

bool TWaveAudioIn::InternalClose()
{
    if (m_closing)
        return false;
    if (!GetActive())
        throw EWaveAudioInvalidOperation("Device is aleardy close");
    m_closing = true;
    bool result = false;
    try {
        if (!m_paused && !Success(waveInStop(m_handle))) {
            m_closing = false;
            return false;
        }
        if (ActiveBufferCount() > 0) {
            result = Success(waveInReset(m_handle));
        } else if (!m_closeRequested) {
            m_closeRequested = true;
            result = Success(waveInClose(m_handle));
        } else {
            result = true;
        }
        std::this_thread::yield();
        if (result)
            WaitForClose();
    } catch (...) {
        m_closing = false;
        throw;
    }
    m_closing = false;
    return result;
}

bool TWaveAudioIn::Pause()
{
    if (m_paused || (GetActive() && !Success(waveInStop(m_handle))))
        return false;
    m_paused = true;
    DoPause();
    return true;
}

bool TWaveAudioIn::Resume()
{
    if (!m_paused || (GetActive() && !Success(waveInStart(m_handle))))
        return false;
    m_paused = false;
    DoResume();
    return true;
}

void TWaveAudioIn::QueueBuffers()
{
    while (ActiveBufferCount() < m_bufferCount && GetActive() && !m_closing) {
        WAVEHDR* header = nullptr;
        try {
            if (!ReallocateBuffer(header, CalcBufferSize(), nullptr))
                return;
            if (!AddBuffer(header)) {
                ReallocateBuffer(header, 0, nullptr);
                return;
            }
        } catch (...) {
            ReallocateBuffer(header, 0, nullptr);
            return;
        }
    }
}

bool TWaveAudioIn::AddBuffer(WAVEHDR* header)
{
    bool preparedHere = false;
    if (!(header->dwFlags & WHDR_PREPARED)) {
        if (!Success(waveInPrepareHeader(m_handle, header)))
            return false;
        preparedHere = true;
    }
    try {
        if (Success(waveInAddBuffer(m_handle, header)))
            return true;
    } catch (...) {
        if (preparedHere)
            waveInUnprepareHeader(m_handle, header);
        throw;
    }
    if (preparedHere)
        waveInUnprepareHeader(m_handle, header);
    return false;
}

bool TWaveAudioIn::QueueData(std::uint8_t* buffer, std::uint32_t size, bool freeIt)
{
    WAVEHDR* header = nullptr;
    if (!ReallocateBuffer(header, size, buffer))
        return false;
    if (freeIt)
        header->dwUser = reinterpret_cast<std::uintptr_t>(this);
    try {
        if (AddBuffer(header))
            return true;
    } catch (...) {
        ReallocateBuffer(header, 0, nullptr);
        throw;
    }
    ReallocateBuffer(header, 0, nullptr);
    return false;
}

void TWaveAudioIn::DoWaveInOpen()
{
    QueueBuffers();
    if (!m_paused && !Success(waveInStart(m_handle)))
        m_paused = true;
    DoActivate();
}

void TWaveAudioIn::DoWaveInClose()
{
    m_handle = 0;
    if (m_failedWith != MMSYSERR_NOERROR)
        m_lastError = std::exchange(m_failedWith, MMSYSERR_NOERROR);
    DoDeactivate();
}

void TWaveAudioIn::DoWaveInData(WAVEHDR* header)
{
    bool refused = false; // the device would not take the buffer back: it has failed for good
    const auto finish = [this, &refused] {
        if (refused && !m_closing && GetActive()) {
            // Nothing more can be recorded (the error is reported already): the device gives back what
            // it still holds, and the recording ends as if stopped, with the closed notification.
            m_closing = true;
            m_failedWith = m_lastError;
            if (ActiveBufferCount() > 0)
                waveInReset(m_handle);
        }
        if (m_closing && ActiveBufferCount() == 0 && GetActive() && !m_closeRequested) {
            m_closeRequested = true;
            Success(waveInClose(m_handle));
        }
    };
    try {
        if (header && GetActive() && Success(waveInUnprepareHeader(m_handle, header)) &&
            header->dwBytesRecorded > 0) {
            DoLevel(header->lpData, header->dwBytesRecorded);
            DoData(header->lpData, header->dwBytesRecorded);
            bool freeIt = true;
            ProcessData(header->lpData, header->dwBytesRecorded, freeIt);
            if (!freeIt)
                header->dwUser = 0;
        }
        bool handedBack = false;
        if (header && !m_closing && GetActive() && ActiveBufferCount() <= m_bufferCount &&
            ReallocateBuffer(header, CalcBufferSize(), nullptr)) {
            refused = true;
            handedBack = AddBuffer(header);
            refused = !handedBack;
        }
        if (!handedBack && header)
            ReallocateBuffer(header, 0, nullptr);
    } catch (...) {
        if (header) {
            if ((header->dwFlags & WHDR_PREPARED) && GetActive())
                waveInUnprepareHeader(m_handle, header);
            ReallocateBuffer(header, 0, nullptr);
        }
        finish();
        throw;
    }
    finish();
}
