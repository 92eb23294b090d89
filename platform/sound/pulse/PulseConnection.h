// The program's one connection to a PulseAudio (or PipeWire) sound server, shared by the sound server's
// output, input and mixer backends: the threaded mainloop, the context, reconnection after the server
// went away, waiting for a request's reply, and the server's events for whoever listens.
//
// Threads: the mainloop's own thread runs every callback of the context, the streams, the timers and the
// listeners. Any other thread takes the mainloop's lock (MainloopLock) around each use of the context or
// of a stream; callbacks run with it held. Waiting (WaitUntil, Complete, EnsureReady) is for other
// threads only: the mainloop thread would wait for itself. The last owner of the connection must not be
// released on the mainloop thread either.
#pragma once

#include "platform/sound/WaveDevice.h"
#include "platform/sound/WaveFormat.h"
#include "platform/sound/WaveOutService.h" // WAVE_FORMAT_ALL

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>

struct PulseMainloopFree
{
    void operator()(pa_threaded_mainloop* m) const { pa_threaded_mainloop_free(m); }
};
struct PulseContextUnref
{
    void operator()(pa_context* c) const { pa_context_unref(c); }
};
struct PulseStreamUnref
{
    void operator()(pa_stream* s) const { pa_stream_unref(s); }
};
struct PulseProplistFree
{
    void operator()(pa_proplist* p) const { pa_proplist_free(p); }
};
struct PulseOperationUnref
{
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};
using PulseMainloopPtr = std::unique_ptr<pa_threaded_mainloop, PulseMainloopFree>;
using PulseContextPtr = std::unique_ptr<pa_context, PulseContextUnref>;
using PulseStreamPtr = std::unique_ptr<pa_stream, PulseStreamUnref>;
using PulseProplistPtr = std::unique_ptr<pa_proplist, PulseProplistFree>;
using PulseOperationPtr = std::unique_ptr<pa_operation, PulseOperationUnref>;

// Holds the mainloop's lock for a scope. On the mainloop thread, where callbacks already hold it, it
// does nothing. The lock is recursive: a scope inside another on the same thread is fine.
class MainloopLock
{
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop);
    ~MainloopLock();
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* m_mainloop; // null on the mainloop thread
};

// Fire-and-forget requests: the reply, if any, comes through a stream's or the context's own callbacks.
void ForgetOperation(pa_operation* operation);

// A libpulse error code as the wave services report it.
MMRESULT PulseErrorResult(int paError);

// What the sound server's wave devices play and record: PCM, 8 or 16 bits, mono or stereo, 1 to 384000 Hz,
// a block align that matches.
bool IsPulsePcmFormat(const TWaveFormatEx& format);
// A sound server backend offers one device; WAVE_MAPPER means "whichever", which is that one.
bool IsOurPulseDeviceId(int deviceId);

class PulseConnection
{
public:
    // A server that has not answered by then is treated as absent: the caller falls back to ALSA.
    static constexpr std::chrono::milliseconds kConnectTimeout{1500};
    // For questions to a server that is already connected (volume, device name, a new stream).
    static constexpr std::chrono::milliseconds kReplyTimeout{1000};
    // Reconnecting to a vanished server blocks the caller; without this, a program asking for the number
    // of devices in a loop would block in every call.
    static constexpr std::chrono::milliseconds kRetryDelay{3000};

    // Called with the event (facility and type, PA_SUBSCRIPTION_EVENT_*) and the index of what changed.
    // Besides the server's own events, every listener, whatever its mask, gets
    // PA_SUBSCRIPTION_EVENT_SERVER | PA_SUBSCRIPTION_EVENT_REMOVE when the connection is lost, and
    // PA_SUBSCRIPTION_EVENT_SERVER | PA_SUBSCRIPTION_EVENT_NEW when a new one is ready after that (the
    // index is PA_INVALID_INDEX for both): everything known about the server is to be asked again.
    // Runs on the mainloop thread with its lock held; it must not throw, wait or remove the connection.
    using Listener = std::function<void(pa_subscription_event_type_t event, std::uint32_t index)>;
    using ListenerId = std::uint64_t;

    // A new connection of its own, ready; null when no server answers in time. The program's backends
    // share one instead (SharedPulseConnection).
    static std::shared_ptr<PulseConnection> Connect();

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* Mainloop() const { return m_mainloop.get(); }
    pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(m_mainloop.get()); }
    // Wakes whoever waits in WaitUntil, to look at its condition again.
    void Signal() const { pa_threaded_mainloop_signal(m_mainloop.get(), 0); }

    // Any thread, locked or not; neither waits. The server reports the events of the mask from when it
    // has taken the request AddListener sends, which is before it answers any later request of this
    // connection: a request waited for (Complete) after AddListener makes sure of it. After RemoveListener
    // returns the listener is never called again, even when it is removed from inside a listener.
    ListenerId AddListener(pa_subscription_mask_t mask, Listener listener);
    void RemoveListener(ListenerId id);

    // The rest with the mainloop locked.

    // Null while not connected. Replaced by a new one when EnsureReady reconnects.
    pa_context* Context() const { return m_context.get(); }
    bool Ready() const;

    // Reconnects after the server went away (it restarts, e.g. after an update), at most every few seconds.
    bool EnsureReady();

    // Locks the mainloop for EnsureReady: whether the server answers now (reconnecting when it is time).
    bool Answers();

    // Waits until done() holds, for at most timeout. Whatever done() looks at must signal the mainloop
    // when it changes.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // Waits for a request's reply (and takes the request); cancelled, so that its callback will not run,
    // when none comes in time.
    bool Complete(pa_operation* operation, std::chrono::milliseconds timeout = kReplyTimeout);

    // The server's names of the sink new playback streams go to and of the source new record streams
    // come from; nullopt when it names none or does not answer.
    std::optional<std::string> DefaultSinkName();
    std::optional<std::string> DefaultSourceName();
    // Descriptions as the desktop's sound settings show them; nullopt for a device the server does not
    // know. "@DEFAULT_SINK@" and "@DEFAULT_SOURCE@" name the defaults.
    std::optional<std::string> SinkDescription(const std::string& sinkName,
                                               std::chrono::milliseconds timeout = kReplyTimeout);
    std::optional<std::string> SourceDescription(const std::string& sourceName,
                                                 std::chrono::milliseconds timeout = kReplyTimeout);
    // The description of the default sink, when the server names one.
    std::optional<std::string> DefaultSinkDescription();

    // Whether the server is PipeWire's, whose playback differs from PulseAudio's in ways a backend has to
    // make up for (PulseWaveOut.cpp). Asked once per connection.
    bool IsPipeWire() const { return m_pipeWire; }

private:
    struct ListenerEntry
    {
        pa_subscription_mask_t mask;
        std::shared_ptr<Listener> call;
    };

    PulseConnection() = default;

    template <const char* pa_server_info::*name> std::optional<std::string> ServerName();
    template <typename Info>
    std::optional<std::string> Description(
        pa_operation* (*ask)(pa_context*, const char*, void (*)(pa_context*, const Info*, int, void*), void*),
        const std::string& name, std::chrono::milliseconds timeout);
    bool Connecting() const;
    bool StartContext();
    void DropContext();
    pa_subscription_mask_t ListenedMask() const;
    // Asks the server for the events the listeners want; the request is returned for whoever waits.
    pa_operation* Subscribe();
    void Dispatch(pa_subscription_event_type_t event, std::uint32_t index);
    static void OnContextState(pa_context* context, void* userdata);
    static void OnEvent(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                        void* userdata);

    PulseMainloopPtr m_mainloop;
    PulseContextPtr m_context;
    std::chrono::steady_clock::time_point m_lastAttempt;
    bool m_wasReady = false;    // the current context has been ready (its loss is news)
    bool m_lostContext = false; // a context was lost: the next ready one is news too
    bool m_pipeWire = false;

    // Under the mainloop's lock.
    std::map<ListenerId, ListenerEntry> m_listeners;
    ListenerId m_nextListener = 1;
};

// The process's connection, made at the first call and kept while a backend or a device uses it; null
// when no server answers (then asked again at most every kRetryDelay) or when the one there lost its
// server and cannot reconnect yet. It may wait for the server: not on the mainloop thread.
std::shared_ptr<PulseConnection> SharedPulseConnection();
// The same for recording, which has a connection of its own: PipeWire's PulseAudio server holds back what
// a client records while the same connection plays a sound, and hands it over in a burst once the sound has
// ended (a second of sound late, and lost beyond the server's buffer). A server that did not answer one of
// the two is not asked again for the other before kRetryDelay either.
std::shared_ptr<PulseConnection> SharedPulseCaptureConnection();

// Opens a backend's new device (its Open run under the mainloop's lock); on success the device becomes
// the caller's. A device that failed goes away with the lock released.
template <typename Base, typename Device>
MMRESULT OpenPulseDevice(PulseConnection& connection, std::unique_ptr<Base>& device,
                         std::unique_ptr<Device> opened)
{
    MMRESULT result = MMSYSERR_NOERROR;
    {
        const MainloopLock lock(connection.Mainloop());
        result = opened->Open();
    }
    if (result != MMSYSERR_NOERROR)
        return result;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

// Lets go of a device's stream and of the context it belongs to: no callback of it runs any more. A stream
// the server has not confirmed yet cannot be disconnected, and left alone it would stay on the server until
// the program exits: it is waited for, up to timeout. With the mainloop locked.
void ReleasePulseStream(PulseConnection& connection, PulseStreamPtr& stream, PulseContextPtr& context,
                        std::chrono::milliseconds timeout);

// A backend (Made) on the connection; null without one.
template <typename Made> std::shared_ptr<Made> MakePulseBackend(std::shared_ptr<PulseConnection> connection)
{
    return connection ? std::make_shared<Made>(std::move(connection)) : nullptr;
}

// What the sound server's backends (output, input, mixer) share: the connection, and one device while
// the server answers.
template <typename Backend> class PulseBackend : public Backend
{
public:
    explicit PulseBackend(std::shared_ptr<PulseConnection> connection) : m_connection(std::move(connection))
    {
    }

    std::string Name() const override { return "PulseAudio"; }
    unsigned GetNumDevs() override { return m_connection->Answers() ? 1 : 0; }

protected:
    std::shared_ptr<PulseConnection> m_connection;
};

// A wave backend of either direction (Backend: WaveOutBackend, WaveInBackend) whose devices are
// PulseDevice, made with (connection, format, callback) and opened by their Open.
template <typename Backend, typename PulseDevice> class PulseWaveBackend : public PulseBackend<Backend>
{
public:
    using Device = typename Backend::DeviceType;
    using Caps = typename Backend::CapsType;
    using PulseBackend<Backend>::PulseBackend;

    MMRESULT GetDevCaps(int deviceId, Caps& caps) override
    {
        if (!IsOurPulseDeviceId(deviceId))
            return MMSYSERR_BADDEVICEID;
        const MainloopLock lock(this->m_connection->Mainloop());
        if (!this->m_connection->EnsureReady())
            return MMSYSERR_BADDEVICEID;
        DescribeDevice(caps);
        caps.dwFormats = WAVE_FORMAT_ALL;
        caps.wChannels = 2;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Query(int deviceId, const TWaveFormatEx& format) override
    {
        if (!IsOurPulseDeviceId(deviceId))
            return MMSYSERR_BADDEVICEID;
        if (!this->m_connection->Answers())
            return MMSYSERR_BADDEVICEID;
        return IsPulsePcmFormat(format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }

    MMRESULT Open(std::unique_ptr<Device>& device, int deviceId, const TWaveFormatEx& format,
                  NotificationQueue* callback) override
    {
        if (!callback)
            return MMSYSERR_INVALPARAM;
        if (const MMRESULT r = Query(deviceId, format))
            return r;
        if (const MMRESULT r =
                OpenPulseDevice(*this->m_connection, device,
                                std::make_unique<PulseDevice>(this->m_connection, format, callback)))
            return r;
        callback->Push(Device::kOpenMessage, nullptr);
        return MMSYSERR_NOERROR;
    }

protected:
    // With the mainloop locked: the caps' name, and what the direction adds to them.
    virtual void DescribeDevice(Caps& caps) = 0;
};
