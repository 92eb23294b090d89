#include "devices/WaveIO.h"

#include "platform/io/ExceptionHandler.h"
#include "platform/io/MulDiv.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const QEvent::Type DrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// What a device that never confirmed its close may still reach: the queue it pushes into and the
// buffers it holds. Kept for the life of the process (never freed, not even at exit, when such a device
// may still be torn down).
struct AbandonedDevice
{
    std::unique_ptr<NotificationQueue> queue;
    std::vector<WAVEHDR*> buffers;
};

std::vector<AbandonedDevice>& abandonedDevices()
{
    static auto* parked = new std::vector<AbandonedDevice>();
    return *parked;
}

} // namespace

// ---- The hidden receiver --------------------------------------------------------------------------

void TCallbackWindow::Wake()
{
    // One event in flight is enough: its drain takes everything queued by then.
    if (!m_posted.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(DrainEvent));
}

void TCallbackWindow::customEvent(QEvent* event)
{
    if (event->type() != DrainEvent)
        return;
    m_posted = false;
    m_owner.DrainNotifications();
}

// ---- Construction ---------------------------------------------------------------------------------

TWaveAudioIO::TWaveAudioIO() : m_queue(newQueue()), m_window(std::make_unique<TCallbackWindow>(*this)) {}

std::unique_ptr<NotificationQueue> TWaveAudioIO::newQueue()
{
    return std::make_unique<NotificationQueue>([this] { m_window->Wake(); });
}

void TWaveAudioIO::abandonDevice()
{
    m_queue->Detach();
    abandonedDevices().push_back({std::move(m_queue), std::move(m_buffers)});
    m_buffers.clear();
    m_queue = newQueue();
}

TWaveAudioIO::~TWaveAudioIO()
{
    releaseAllBuffers();
}

void TWaveAudioIO::Destroying()
{
    if (m_destroying)
        return;
    // Stopping while the object is still whole. The events are no longer told, the stop's own included:
    // their handlers may belong to objects already gone.
    m_destroying = true;
    try {
        SetActive(false);
    } catch (const std::exception& e) {
        HandleApplicationException(e);
    }
}

void TWaveAudioIO::releaseAllBuffers() noexcept
{
    const auto ownerWord = reinterpret_cast<std::uintptr_t>(this);
    for (WAVEHDR* header : m_buffers) {
        if (header->dwUser == ownerWord)
            std::free(header->lpData);
        delete header;
    }
    m_buffers.clear();
}

// ---- Properties -----------------------------------------------------------------------------------

void TWaveAudioIO::SetActive(bool value)
{
    if (value == GetActive())
        return;
    if (value)
        InternalOpen();
    else
        InternalClose();
}

void TWaveAudioIO::SetBufferLength(std::uint16_t value)
{
    value = std::max<std::uint16_t>(value, 10);
    if (value == m_bufferLength)
        return;
    m_bufferLength = value;
    if (GetActive())
        QueueBuffers();
}

void TWaveAudioIO::SetBufferCount(std::uint16_t value)
{
    if (value == m_bufferCount)
        return;
    m_bufferCount = value;
    if (GetActive())
        QueueBuffers();
}

bool TWaveAudioIO::QueryPCMFormat(TPCMFormat format)
{
    if (format == nonePCM)
        return false;
    TWaveFormatEx record{};
    PCMFormatToWaveFormat(record, format);
    return QueryFormat(record);
}

// ---- Notifications --------------------------------------------------------------------------------

void TWaveAudioIO::DrainNotifications()
{
    // A handler that lets the application run its pending events (a level meter repainting, a message
    // box) would otherwise drain the next notifications inside this one: a recorder would write the next
    // buffer before the one it is handling. They wait for this loop instead.
    if (m_draining)
        return;
    m_draining = true;
    const ClearOnExit draining{m_draining};
    DeviceNotification message;
    while (m_queue->TryPop(message)) {
        // A failure while handling a notification is the application's to show; the next ones still run.
        try {
            WndProc(message);
        } catch (const std::exception& e) {
            HandleApplicationException(e);
        }
    }
}

void TWaveAudioIO::WndProc(const DeviceNotification& message)
{
    switch (message.message) {
    case MM_WOM_OPEN:
        DoWaveOutOpen();
        break;
    case MM_WOM_CLOSE:
        DoWaveOutClose();
        break;
    case MM_WOM_DONE:
        DoWaveOutDone(message.header);
        break;
    case MM_WIM_OPEN:
        DoWaveInOpen();
        break;
    case MM_WIM_CLOSE:
        DoWaveInClose();
        break;
    case MM_WIM_DATA:
        DoWaveInData(message.header);
        break;
    default:
        break;
    }
}

void TWaveAudioIO::WaitForClose()
{
    // Only this device's notifications are handled meanwhile: no other window's events run.
    const auto deadline = std::chrono::steady_clock::now() + CloseTimeout;
    while (GetActive()) {
        DeviceNotification message;
        if (m_queue->WaitPop(message, std::chrono::milliseconds(50))) {
            try {
                WndProc(message);
            } catch (const std::exception& e) {
                HandleApplicationException(e);
            }
        } else if (std::chrono::steady_clock::now() > deadline) {
            // The device never confirmed its close: take it as closed rather than freeze the program.
            // It may still push notifications or hand back the buffers it holds: those stay where it
            // can reach them, and this component starts afresh.
            abandonDevice();
            DoWaveOutClose();
            DoWaveInClose();
            break;
        }
    }
}

// ---- Events ---------------------------------------------------------------------------------------

void TWaveAudioIO::DoActivate()
{
    if (OnActivate && !m_destroying)
        OnActivate(this);
}

void TWaveAudioIO::DoDeactivate()
{
    DoLevel(nullptr, 0);
    m_closing = false;
    if (OnDeactivate && !m_destroying)
        OnDeactivate(this);
}

void TWaveAudioIO::DoPause()
{
    if (OnPause && !m_destroying)
        OnPause(this);
}

void TWaveAudioIO::DoResume()
{
    if (OnResume && !m_destroying)
        OnResume(this);
}

void TWaveAudioIO::DoError()
{
    if (OnError) {
        OnError(this);
        return;
    }
    throw EWaveAudioSysError(LastErrorText());
}

void TWaveAudioIO::DoLevel(const std::uint8_t* buffer, std::uint32_t count)
{
    if (OnLevel && !m_destroying && m_currentFormat.wFormatTag == WAVE_FORMAT_PCM)
        OnLevel(this, PeakLevel(buffer, count, m_currentFormat.wBitsPerSample));
}

void TWaveAudioIO::DoData(const std::uint8_t* buffer, std::uint32_t count)
{
    if (OnData)
        OnData(this, buffer, count);
}

// ---- Services -------------------------------------------------------------------------------------

bool TWaveAudioIO::Success(MMRESULT code)
{
    m_lastError = code;
    if (code == MMSYSERR_NOERROR)
        return true;
    DoError();
    return false;
}

std::uint32_t TWaveAudioIO::CalcBufferSize() const
{
    std::int32_t size =
        MulDiv(m_bufferLength, static_cast<std::int32_t>(m_currentFormat.nAvgBytesPerSec), 1000);
    if (size < 0)
        size = 0;
    const std::uint32_t align = m_currentFormat.nBlockAlign;
    std::uint32_t bytes = static_cast<std::uint32_t>(size);
    if (align != 0 && bytes % align != 0)
        bytes += align - bytes % align;
    return bytes;
}

bool TWaveAudioIO::ReallocateBuffer(WAVEHDR*& header, std::uint32_t size, std::uint8_t* buffer)
{
    const auto ownerWord = reinterpret_cast<std::uintptr_t>(this);
    if (size == 0) {
        if (header) {
            m_buffers.erase(std::remove(m_buffers.begin(), m_buffers.end(), header), m_buffers.end());
            if (header->dwUser == ownerWord)
                std::free(header->lpData);
            delete header;
            header = nullptr;
        }
        return true;
    }
    if (!header) {
        header = new (std::nothrow) WAVEHDR{};
        if (!header)
            return Success(MMSYSERR_NOMEM);
        m_buffers.push_back(header);
    } else if (header->dwUser != ownerWord) {
        header->lpData = nullptr; // not ours to free
        header->dwBufferLength = 0;
    }
    std::uint8_t* data = buffer;
    if (!buffer) {
        data = header->lpData;
        if (!data || header->dwBufferLength != size) {
            auto* resized = static_cast<std::uint8_t*>(std::realloc(data, size));
            if (!resized) {
                ReallocateBuffer(header, 0, nullptr);
                return Success(MMSYSERR_NOMEM);
            }
            data = resized;
        }
    } else if (header->dwUser == ownerWord) {
        std::free(header->lpData);
    }
    *header = WAVEHDR{};
    header->dwUser = buffer ? 0 : ownerWord;
    header->lpData = data;
    header->dwBufferLength = size;
    return true;
}

std::uint32_t TWaveAudioIO::MMTimeToMs(const MMTIME& time) const
{
    const auto mulDiv = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) -> std::uint32_t {
        return c == 0 ? 0 : static_cast<std::uint32_t>((static_cast<std::uint64_t>(a) * b + c / 2) / c);
    };
    switch (time.wType) {
    case MMTIME::Ms:
        return time.value;
    case MMTIME::Samples:
        return mulDiv(time.value, 1000, m_currentFormat.nSamplesPerSec);
    case MMTIME::Bytes:
        return mulDiv(time.value, 1000, m_currentFormat.nAvgBytesPerSec);
    case MMTIME::Smpte:
        return time.hour * 3600000U + time.min * 60000U + time.sec * 1000U;
    default:
        return 0;
    }
}

std::set<TPCMFormat> TWaveAudioIO::FormatsFromCaps(std::uint32_t formatBits)
{
    std::set<TPCMFormat> formats = {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz};
    // Bits 0 to 11: 11025, 22050 and 44100 Hz, each as mono 8, stereo 8, mono 16, stereo 16.
    const TPCMFormat byBit[12] = {Mono8bit11025Hz, Stereo8bit11025Hz, Mono16bit11025Hz, Stereo16bit11025Hz,
                                  Mono8bit22050Hz, Stereo8bit22050Hz, Mono16bit22050Hz, Stereo16bit22050Hz,
                                  Mono8bit44100Hz, Stereo8bit44100Hz, Mono16bit44100Hz, Stereo16bit44100Hz};
    for (unsigned bit = 0; bit < 12; ++bit)
        if (formatBits & (1U << bit))
            formats.insert(byBit[bit]);
    return formats;
}

std::uint32_t TWaveAudioIO::ToFixed1616(double value)
{
    const double whole = std::floor(value);
    const auto high = static_cast<std::uint32_t>(static_cast<std::int32_t>(whole)) & 0xFFFF;
    const auto low = static_cast<std::uint32_t>((value - whole) * 65536) & 0xFFFF;
    return (high << 16) | low;
}

double TWaveAudioIO::FromFixed1616(std::uint32_t value)
{
    const auto high = static_cast<std::int16_t>(value >> 16);
    return high + static_cast<double>(value & 0xFFFF) / 65536;
}
