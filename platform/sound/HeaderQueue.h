// The headers a device holds, for the backends whose devices hand them back one by one as they go: the
// front one is being played or filled, offset bytes of it so far. DoneMessage is the direction's
// (MM_WOM_DONE, MM_WIM_DATA).
//
// Threads: none of its own; the device's lock, or the sound server's mainloop lock, guards it.
#pragma once

#include "platform/sound/WaveDevice.h"

#include <cstddef>
#include <cstdint>
#include <deque>

template <std::uint32_t DoneMessage> class HeaderQueue
{
public:
    explicit HeaderQueue(NotificationQueue* callback) : m_callback(callback) {}

    bool empty() const { return m_headers.empty(); }
    WAVEHDR* front() const { return m_headers.front(); }
    void push_back(WAVEHDR* header) { m_headers.push_back(header); }

    // Fields change before the notification, and the notification is pushed at once, so that every
    // header reaches the callback in queue order, whoever hands it back.
    void ReturnFront()
    {
        WAVEHDR* header = m_headers.front();
        m_headers.pop_front();
        if constexpr (DoneMessage == MM_WIM_DATA)
            header->dwBytesRecorded =
                static_cast<std::uint32_t>(offset); // a recording says how much it holds
        offset = 0;
        MarkHeaderDone(header);
        m_callback->Push(DoneMessage, header);
    }

    void ReturnAll()
    {
        while (!empty())
            ReturnFront();
    }

    std::size_t offset = 0; // bytes of the front header already played or filled

private:
    NotificationQueue* const m_callback;
    std::deque<WAVEHDR*> m_headers;
};
