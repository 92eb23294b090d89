#include "platform/sound/WaveDevice.h"

#include "platform/sound/WaveService.h"

std::string WaveErrorText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_NOERROR:
        return "Aucune erreur.";
    case MMSYSERR_ERROR:
        return "Erreur inconnue du périphérique audio.";
    case MMSYSERR_BADDEVICEID:
        return "Aucun périphérique audio n'est disponible (ni serveur de son, ni carte son utilisable).";
    case MMSYSERR_NOTENABLED:
        return "Le pilote audio n'a pas pu être chargé.";
    case MMSYSERR_ALLOCATED:
        return "Le périphérique audio est déjà utilisé par un autre programme.";
    case MMSYSERR_INVALHANDLE:
        return "Le périphérique audio n'est pas ouvert.";
    case MMSYSERR_NODRIVER:
        return "Aucun pilote audio n'est installé.";
    case MMSYSERR_NOMEM:
        return "Mémoire insuffisante pour le périphérique audio.";
    case MMSYSERR_NOTSUPPORTED:
        return "Cette fonction n'est pas prise en charge par le périphérique audio.";
    case MMSYSERR_INVALFLAG:
        return "Option non valide pour le périphérique audio.";
    case MMSYSERR_INVALPARAM:
        return "Paramètre non valide pour le périphérique audio.";
    case WAVERR_BADFORMAT:
        return "Le périphérique audio ne sait pas lire ou enregistrer ce format de son.";
    case WAVERR_STILLPLAYING:
        return "Le périphérique audio est encore en train de jouer.";
    case WAVERR_UNPREPARED:
        return "Le tampon audio n'a pas été préparé.";
    default:
        return {};
    }
}

void NotificationQueue::Push(std::uint32_t message, WAVEHDR* header)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back({message, header});
    }
    m_arrived.notify_one();
    const std::lock_guard<std::mutex> lock(m_wakeMutex);
    if (m_wake)
        m_wake();
}

void NotificationQueue::Detach()
{
    const std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_wake = nullptr;
}

bool NotificationQueue::TryPop(DeviceNotification& notification)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty())
        return false;
    notification = m_queue.front();
    m_queue.pop_front();
    return true;
}

bool NotificationQueue::WaitPop(DeviceNotification& notification, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_arrived.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
        return false;
    notification = m_queue.front();
    m_queue.pop_front();
    return true;
}

bool NotificationQueue::Empty() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.empty();
}

MMRESULT PrepareHeader(bool deviceOpen, WAVEHDR* header)
{
    if (!deviceOpen)
        return MMSYSERR_INVALHANDLE;
    if (!header || !header->lpData)
        return MMSYSERR_INVALPARAM;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(bool deviceOpen, WAVEHDR* header)
{
    if (!deviceOpen)
        return MMSYSERR_INVALHANDLE;
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT QueueHeader(WAVEHDR* header)
{
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveGetErrorText(MMRESULT code, std::string& text)
{
    text = WaveErrorText(code);
    return text.empty() ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

void SetDeviceTime(MMTIME& time, std::uint64_t bytes, std::uint64_t frames, std::uint32_t rate)
{
    switch (time.wType) {
    case MMTIME::Bytes:
        time.value = static_cast<std::uint32_t>(bytes);
        break;
    case MMTIME::Samples:
        time.value = static_cast<std::uint32_t>(frames);
        break;
    default:
        time.wType = MMTIME::Ms;
        time.value = static_cast<std::uint32_t>(frames * 1000 / rate);
        break;
    }
}
