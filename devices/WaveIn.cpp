#include "devices/WaveIn.h"

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

bool TWaveAudioIn::InternalClose()
{
    if (!BeginClose(m_closing))
        return false;
    const ClearOnExit closing{m_closing};
    if (!m_paused && !Success(waveInStop(m_handle)))
        return false;
    return CloseAndWait();
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
    return SendBuffer(header, [] {});
}

bool TWaveAudioIn::QueueData(std::uint8_t* buffer, std::uint32_t size, bool freeIt)
{
    return SendBlock(buffer, size, freeIt, 0, [this](WAVEHDR* header) { return AddBuffer(header); });
}

void TWaveAudioIn::DoWaveInOpen()
{
    QueueBuffers();
    if (!m_paused && !Success(waveInStart(m_handle)))
        m_paused = true;
    DoActivate();
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
        CloseWhenEmpty();
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
        if (header)
            DropBuffer(header);
        finish();
        throw;
    }
    finish();
}
