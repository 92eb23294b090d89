// What the wave output and input services share, written once for both directions: the backend and
// device interfaces (a direction differs only in its device's calls and capabilities record), and the
// front-end that checks handles and buffer headers the same way for every backend.
//
// Threads: the front-end's functions are called on the GUI thread; the registry has a lock of its own
// because a backend thread may look a device up while the GUI thread closes another.
#pragma once

#include "platform/sound/ServiceBackend.h"
#include "platform/sound/WaveDevice.h"
#include "platform/sound/WaveFormat.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr std::uint32_t CALLBACK_WINDOW = 0x00010000;

// What an open device answers in either direction, and the messages its notifications carry there. The
// service calls a device only with a prepared header that is not queued.
template <std::uint32_t OpenMessage, std::uint32_t CloseMessage, std::uint32_t DoneMessage>
class WaveDirectionDevice
{
public:
    static constexpr std::uint32_t kOpenMessage = OpenMessage;
    static constexpr std::uint32_t kCloseMessage = CloseMessage;
    // A header handed back, played (output) or filled (input).
    static constexpr std::uint32_t kDoneMessage = DoneMessage;

    virtual ~WaveDirectionDevice() = default;
    // Stops and hands every queued header back (kDoneMessage each, in order); position 0.
    virtual MMRESULT Reset() = 0;
    virtual MMRESULT GetPosition(MMTIME& time) = 0;
    // WAVERR_STILLPLAYING while headers are queued. Otherwise stops for good and pushes kCloseMessage;
    // the service then destroys the device.
    virtual MMRESULT Close() = 0;
};

// The backends of one direction: Device is that direction's open device, Caps its capabilities record.
template <typename Device, typename Caps> class WaveBackend
{
public:
    using DeviceType = Device;
    using CapsType = Caps;
    virtual ~WaveBackend() = default;
    virtual std::string Name() const = 0;
    virtual unsigned GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(int deviceId, Caps& caps) = 0;
    // Whether the device would take this format.
    virtual MMRESULT Query(int deviceId, const TWaveFormatEx& format) = 0;
    // Opens the device (an input stopped); on success pushes the direction's open message (MM_WOM_OPEN,
    // MM_WIM_OPEN) into callback, possibly from another thread.
    virtual MMRESULT Open(std::unique_ptr<Device>& device, int deviceId, const TWaveFormatEx& format,
                          NotificationQueue* callback) = 0;
};

// The front-end of one direction over its current backend. Handles are numbers, never pointers: a call
// with a closed handle gets MMSYSERR_INVALHANDLE.
template <typename Backend> class WaveService
{
public:
    using Device = typename Backend::DeviceType;

    explicit WaveService(typename ServiceBackend<Backend>::Probe probe) : m_backend(probe) {}

    ServiceBackend<Backend>& Backends() { return m_backend; }

    unsigned GetNumDevs() { return m_backend.Current().GetNumDevs(); }
    MMRESULT GetDevCaps(int deviceId, typename Backend::CapsType& caps)
    {
        return m_backend.Current().GetDevCaps(deviceId, caps);
    }

    // With WAVE_FORMAT_QUERY only asks (handle and callback unused); otherwise opens.
    MMRESULT Open(std::uintptr_t* handle, int deviceId, const TWaveFormatEx* format,
                  NotificationQueue* callback, std::uint32_t flags)
    {
        if (!format)
            return WAVERR_BADFORMAT; // a wave without a valid header has no format a device could take
        Backend& current = m_backend.Current();
        if (flags & WAVE_FORMAT_QUERY)
            return current.Query(deviceId, *format);
        if (!handle || !callback)
            return MMSYSERR_INVALPARAM;
        std::unique_ptr<Device> opened;
        const MMRESULT result = current.Open(opened, deviceId, *format, callback);
        if (result != MMSYSERR_NOERROR)
            return result;
        *handle = m_devices.Add(std::move(opened));
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close(std::uintptr_t handle)
    {
        Device* d = m_devices.Find(handle);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        const MMRESULT result = d->Close();
        if (result != MMSYSERR_NOERROR)
            return result;
        m_devices.Remove(handle); // destroyed here, outside the registry's lock
        return MMSYSERR_NOERROR;
    }

    MMRESULT Prepare(std::uintptr_t handle, WAVEHDR* header)
    {
        return PrepareHeader(m_devices.Find(handle) != nullptr, header);
    }
    MMRESULT Unprepare(std::uintptr_t handle, WAVEHDR* header)
    {
        return UnprepareHeader(m_devices.Find(handle) != nullptr, header);
    }

    // Hands a prepared header to the device through queue(device, header) (a write, an added buffer)
    // once it passed the checks; the header is out of the queue again when the device refuses it.
    template <typename Queue> MMRESULT QueueBuffer(std::uintptr_t handle, WAVEHDR* header, Queue queue)
    {
        Device* d = m_devices.Find(handle);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        if (const MMRESULT checked = QueueHeader(header))
            return checked;
        const MMRESULT result = queue(*d, header);
        if (result != MMSYSERR_NOERROR)
            header->dwFlags &= ~WHDR_INQUEUE;
        return result;
    }

    // call(device) on the open device the handle names.
    template <typename Call> MMRESULT Forward(std::uintptr_t handle, Call call)
    {
        Device* d = m_devices.Find(handle);
        return d ? call(*d) : MMSYSERR_INVALHANDLE;
    }

private:
    ServiceBackend<Backend> m_backend;
    DeviceRegistry<Device> m_devices;
};

// The French text of a code into text; non-zero for an unknown code.
MMRESULT WaveGetErrorText(MMRESULT code, std::string& text);

// The definitions of the functions a direction's header declares the same way for both directions
// (Direction: Out, In), over the service that probe chooses the backend of.
#define SONALTO_WAVE_SERVICE_FUNCTIONS(Direction, Handle, Caps, probe)                                       \
    namespace {                                                                                              \
    WaveService<Wave##Direction##Backend>& service()                                                         \
    {                                                                                                        \
        static WaveService<Wave##Direction##Backend> s(probe);                                               \
        return s;                                                                                            \
    }                                                                                                        \
    }                                                                                                        \
    Wave##Direction##Backend& CurrentWave##Direction##Backend()                                              \
    {                                                                                                        \
        return service().Backends().Current();                                                               \
    }                                                                                                        \
    void SetCurrentWave##Direction##Backend(std::shared_ptr<Wave##Direction##Backend> current)               \
    {                                                                                                        \
        service().Backends().Set(std::move(current));                                                        \
    }                                                                                                        \
    unsigned wave##Direction##GetNumDevs()                                                                   \
    {                                                                                                        \
        return service().GetNumDevs();                                                                       \
    }                                                                                                        \
    MMRESULT wave##Direction##GetDevCaps(int deviceId, Caps& caps)                                           \
    {                                                                                                        \
        return service().GetDevCaps(deviceId, caps);                                                         \
    }                                                                                                        \
    MMRESULT wave##Direction##Open(Handle* handle, int deviceId, const TWaveFormatEx* format,                \
                                   NotificationQueue* callback, std::uint32_t flags)                         \
    {                                                                                                        \
        return service().Open(handle, deviceId, format, callback, flags);                                    \
    }                                                                                                        \
    MMRESULT wave##Direction##Close(Handle handle)                                                           \
    {                                                                                                        \
        return service().Close(handle);                                                                      \
    }                                                                                                        \
    MMRESULT wave##Direction##PrepareHeader(Handle handle, WAVEHDR* header)                                  \
    {                                                                                                        \
        return service().Prepare(handle, header);                                                            \
    }                                                                                                        \
    MMRESULT wave##Direction##UnprepareHeader(Handle handle, WAVEHDR* header)                                \
    {                                                                                                        \
        return service().Unprepare(handle, header);                                                          \
    }                                                                                                        \
    MMRESULT wave##Direction##Reset(Handle handle)                                                           \
    {                                                                                                        \
        return service().Forward(handle, [](auto& d) { return d.Reset(); });                                 \
    }                                                                                                        \
    MMRESULT wave##Direction##GetPosition(Handle handle, MMTIME& time)                                       \
    {                                                                                                        \
        return service().Forward(handle, [&](auto& d) { return d.GetPosition(time); });                      \
    }                                                                                                        \
    MMRESULT wave##Direction##GetErrorText(MMRESULT code, std::string& text)                                 \
    {                                                                                                        \
        return WaveGetErrorText(code, text);                                                                 \
    }

// A service function (its declaration in call) that hands the open device's expression back.
#define SONALTO_WAVE_FORWARD(Device, call, expression)                                                       \
    MMRESULT call                                                                                            \
    {                                                                                                        \
        return service().Forward(handle, [&](Device& d) { return d.expression; });                           \
    }
