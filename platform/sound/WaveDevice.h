// What the sound device services share: result codes and their French texts, the buffer header, the
// notification messages, and the queue through which a device's notifications reach the GUI thread.
//
// Threads: a backend's own threads only push into a NotificationQueue (under its mutex) and call its
// wake function; everything else runs on the GUI thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

using MMRESULT = std::uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// The text the user reads for a result code; empty for an unknown code.
std::string WaveErrorText(MMRESULT code);

// A buffer travelling to a device and back. lpData belongs to whoever filled it, never to the device.
struct WAVEHDR
{
    std::uint8_t* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    std::uintptr_t reserved = 0;
};

constexpr std::uint32_t WHDR_DONE = 1;
constexpr std::uint32_t WHDR_PREPARED = 2;
constexpr std::uint32_t WHDR_BEGINLOOP = 4;
constexpr std::uint32_t WHDR_ENDLOOP = 8;
constexpr std::uint32_t WHDR_INQUEUE = 16;

// Notification messages, as the device components dispatch them.
constexpr std::uint32_t MM_WOM_OPEN = 955;
constexpr std::uint32_t MM_WOM_CLOSE = 956;
constexpr std::uint32_t MM_WOM_DONE = 957;
constexpr std::uint32_t MM_WIM_OPEN = 958;
constexpr std::uint32_t MM_WIM_CLOSE = 959;
constexpr std::uint32_t MM_WIM_DATA = 960;

struct DeviceNotification
{
    std::uint32_t message = 0;
    WAVEHDR* header = nullptr;
};

// One device's notifications, in the order the backend pushed them. Push may be called from any thread;
// the owner pops on the GUI thread. wake is called after each push (for the owner to schedule a drain),
// outside the queue's lock.
class NotificationQueue
{
public:
    explicit NotificationQueue(std::function<void()> wake = {}) : m_wake(std::move(wake)) {}

    void Push(std::uint32_t message, WAVEHDR* header);
    bool TryPop(DeviceNotification& notification);
    // Waits up to timeout for a notification.
    bool WaitPop(DeviceNotification& notification, std::chrono::milliseconds timeout);
    bool Empty() const;
    // No wake call any more, for an owner about to go: once this returns, none is running either.
    void Detach();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<DeviceNotification> m_queue;
    std::mutex m_wakeMutex; // held while the wake function runs or changes
    std::function<void()> m_wake;
};

// Time as a device reports it.
struct MMTIME
{
    enum Type : std::uint32_t
    {
        Ms = 1,
        Samples = 2,
        Bytes = 4,
        Smpte = 8,
        Midi = 16,
        Ticks = 32
    };
    std::uint32_t wType = Ms;
    std::uint32_t value = 0; // ms, samples or bytes
    std::uint8_t hour = 0, min = 0, sec = 0, frame = 0;
};

// Fills time with a device's position: in bytes or in samples (frames) when it asks for them, in
// milliseconds (at rate frames a second) for any other unit.
void SetDeviceTime(MMTIME& time, std::uint64_t bytes, std::uint64_t frames, std::uint32_t rate);

// The open devices of one direction, by handle number: a call with a closed handle finds nothing.
template <typename Device> class DeviceRegistry
{
public:
    std::uintptr_t Add(std::unique_ptr<Device> device)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const std::uintptr_t handle = m_next++;
        m_devices.emplace_back(handle, std::move(device));
        return handle;
    }
    Device* Find(std::uintptr_t handle)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [h, d] : m_devices)
            if (h == handle)
                return d.get();
        return nullptr;
    }
    // Takes the device out; the caller destroys it outside the registry's lock.
    std::unique_ptr<Device> Remove(std::uintptr_t handle)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it)
            if (it->first == handle) {
                std::unique_ptr<Device> device = std::move(it->second);
                m_devices.erase(it);
                return device;
            }
        return nullptr;
    }

private:
    std::mutex m_mutex;
    std::deque<std::pair<std::uintptr_t, std::unique_ptr<Device>>> m_devices;
    std::uintptr_t m_next = 1;
};

// The header checks every device shares.
MMRESULT PrepareHeader(bool deviceOpen, WAVEHDR* header);
MMRESULT UnprepareHeader(bool deviceOpen, WAVEHDR* header);
// Marks a header queued, after checking it may be; the caller hands it to the device.
MMRESULT QueueHeader(WAVEHDR* header);
// Marks a header the device is done with (played, filled or handed back); the device notifies it after.
inline void MarkHeaderDone(WAVEHDR* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
}
