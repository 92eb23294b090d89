#include "platform/sound/pulse/PulseConnection.h"

#include "platform/sound/WaveOutService.h"

#include <mutex>
#include <utility>
#include <vector>

MainloopLock::MainloopLock(pa_threaded_mainloop* mainloop)
    : m_mainloop(pa_threaded_mainloop_in_thread(mainloop) ? nullptr : mainloop)
{
    if (m_mainloop)
        pa_threaded_mainloop_lock(m_mainloop);
}

MainloopLock::~MainloopLock()
{
    if (m_mainloop)
        pa_threaded_mainloop_unlock(m_mainloop);
}

void ForgetOperation(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

MMRESULT PulseErrorResult(int paError)
{
    switch (paError) {
    case PA_ERR_INVALID:
    case PA_ERR_NOTSUPPORTED:
        return WAVERR_BADFORMAT;
    case PA_ERR_BUSY:
    case PA_ERR_EXIST:
    case PA_ERR_TOOLARGE:
        return MMSYSERR_ALLOCATED;
    case PA_ERR_NOENTITY:
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_TIMEOUT:
    case PA_ERR_KILLED:
    case PA_ERR_BADSTATE:
        return MMSYSERR_BADDEVICEID;
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
        return MMSYSERR_NOTENABLED;
    default:
        return MMSYSERR_ERROR;
    }
}

std::shared_ptr<PulseConnection> PulseConnection::Connect()
{
    std::shared_ptr<PulseConnection> connection(new PulseConnection);
    connection->m_mainloop.reset(pa_threaded_mainloop_new());
    if (!connection->m_mainloop)
        return nullptr;
    pa_threaded_mainloop_set_name(connection->m_mainloop.get(), "sonalto-son");
    if (pa_threaded_mainloop_start(connection->m_mainloop.get()) < 0)
        return nullptr;
    {
        const MainloopLock lock(connection->Mainloop());
        if (!connection->StartContext())
            return nullptr;
    }
    return connection;
}

PulseConnection::~PulseConnection()
{
    if (!m_mainloop)
        return;
    {
        const MainloopLock lock(Mainloop());
        DropContext();
        m_listeners.clear();
    }
    pa_threaded_mainloop_stop(m_mainloop.get());
}

PulseConnection::ListenerId PulseConnection::AddListener(pa_subscription_mask_t mask, Listener listener)
{
    const MainloopLock lock(Mainloop());
    const pa_subscription_mask_t before = ListenedMask();
    const ListenerId id = m_nextListener++;
    m_listeners.emplace(id, ListenerEntry{mask, std::make_shared<Listener>(std::move(listener))});
    if (Ready() && (mask & ~before) != 0)
        ForgetOperation(Subscribe());
    return id;
}

void PulseConnection::RemoveListener(ListenerId id)
{
    const MainloopLock lock(Mainloop());
    if (m_listeners.erase(id) == 0)
        return;
    // Events nobody wants any more need not cross the socket; the server takes the smaller mask in turn.
    if (Ready())
        ForgetOperation(Subscribe());
}

bool PulseConnection::Ready() const
{
    return m_context && pa_context_get_state(m_context.get()) == PA_CONTEXT_READY;
}

bool PulseConnection::EnsureReady()
{
    if (Ready())
        return true;
    if (m_context && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context.get()))) {
        WaitUntil([this] { return !Connecting(); }, kConnectTimeout);
        return Ready();
    }
    if (std::chrono::steady_clock::now() - m_lastAttempt < kRetryDelay)
        return false;
    return StartContext();
}

bool PulseConnection::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    struct Alarm
    {
        pa_threaded_mainloop* mainloop;
        bool rang = false;
    } alarm{m_mainloop.get()};
    const auto ring = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* a = static_cast<Alarm*>(userdata);
        a->rang = true;
        pa_threaded_mainloop_signal(a->mainloop, 0);
    };
    const pa_usec_t delay = static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC;
    pa_time_event* event = nullptr;
    if (m_context) {
        // The monotonic clock: a change of the wall clock must not stretch the wait.
        event = pa_context_rttime_new(m_context.get(), pa_rtclock_now() + delay, ring, &alarm);
    } else {
        struct timeval at;
        pa_timeval_add(pa_gettimeofday(&at), delay);
        event = Api()->time_new(Api(), &at, ring, &alarm);
    }
    if (!event)
        return done();
    while (!done() && !alarm.rang)
        pa_threaded_mainloop_wait(m_mainloop.get());
    Api()->time_free(event);
    return done();
}

bool PulseConnection::Complete(pa_operation* raw, std::chrono::milliseconds timeout)
{
    if (!raw)
        return false;
    const PulseOperationPtr operation(raw);
    pa_operation_set_state_callback(
        raw,
        [](pa_operation*, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        },
        m_mainloop.get());
    WaitUntil([raw] { return pa_operation_get_state(raw) != PA_OPERATION_RUNNING; }, timeout);
    if (pa_operation_get_state(raw) == PA_OPERATION_RUNNING)
        pa_operation_cancel(raw);
    pa_operation_set_state_callback(raw, nullptr, nullptr);
    return pa_operation_get_state(raw) == PA_OPERATION_DONE;
}

namespace {

// One of the server's default device names (name: the field of pa_server_info) into userdata, a string.
template <const char* pa_server_info::*name>
void OnServerName(pa_context*, const pa_server_info* info, void* userdata)
{
    if (info && info->*name)
        *static_cast<std::string*>(userdata) = info->*name;
}

// A device's description (Info: pa_sink_info, pa_source_info) into userdata, an optional string.
template <typename Info> void OnDescription(pa_context*, const Info* info, int eol, void* userdata)
{
    if (eol == 0 && info && info->description)
        *static_cast<std::optional<std::string>*>(userdata) = info->description;
}

} // namespace

template <const char* pa_server_info::*name> std::optional<std::string> PulseConnection::ServerName()
{
    std::string found;
    if (!m_context || !Complete(pa_context_get_server_info(m_context.get(), &OnServerName<name>, &found)))
        return std::nullopt;
    if (found.empty())
        return std::nullopt;
    return found;
}

std::optional<std::string> PulseConnection::DefaultSinkName()
{
    return ServerName<&pa_server_info::default_sink_name>();
}

std::optional<std::string> PulseConnection::DefaultSourceName()
{
    return ServerName<&pa_server_info::default_source_name>();
}

template <typename Info>
std::optional<std::string> PulseConnection::Description(
    pa_operation* (*ask)(pa_context*, const char*, void (*)(pa_context*, const Info*, int, void*), void*),
    const std::string& name, std::chrono::milliseconds timeout)
{
    std::optional<std::string> description;
    if (!m_context)
        return std::nullopt;
    Complete(ask(m_context.get(), name.c_str(), &OnDescription<Info>, &description), timeout);
    if (description && description->empty())
        return std::nullopt;
    return description;
}

std::optional<std::string> PulseConnection::SinkDescription(const std::string& sinkName,
                                                            std::chrono::milliseconds timeout)
{
    return Description<pa_sink_info>(&pa_context_get_sink_info_by_name, sinkName, timeout);
}

std::optional<std::string> PulseConnection::SourceDescription(const std::string& sourceName,
                                                              std::chrono::milliseconds timeout)
{
    return Description<pa_source_info>(&pa_context_get_source_info_by_name, sourceName, timeout);
}

std::optional<std::string> PulseConnection::DefaultSinkDescription()
{
    const std::optional<std::string> sink = DefaultSinkName();
    return sink ? SinkDescription(*sink) : std::nullopt;
}

bool PulseConnection::Connecting() const
{
    if (!m_context)
        return false;
    const pa_context_state_t state = pa_context_get_state(m_context.get());
    return state != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state);
}

bool PulseConnection::StartContext()
{
    m_lastAttempt = std::chrono::steady_clock::now();
    DropContext();
    const PulseProplistPtr properties(pa_proplist_new());
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, "Sonalto");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ID, "sonalto");
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ICON_NAME, "sonalto");
    m_context.reset(pa_context_new_with_proplist(Api(), "Sonalto", properties.get()));
    if (!m_context)
        return false;
    m_wasReady = false;
    pa_context_set_state_callback(m_context.get(), &PulseConnection::OnContextState, this);
    pa_context_set_subscribe_callback(m_context.get(), &PulseConnection::OnEvent, this);
    // No autospawn: a server that is not running already is not wanted; ALSA serves then.
    if (pa_context_connect(m_context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        DropContext();
        return false;
    }
    WaitUntil([this] { return !Connecting(); }, kConnectTimeout);
    if (!Ready()) {
        DropContext();
        return false;
    }
    // PipeWire names itself in the server's name: "PulseAudio (on PipeWire 0.3.65)".
    std::string name;
    Complete(pa_context_get_server_info(
        m_context.get(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (info && info->server_name)
                *static_cast<std::string*>(userdata) = info->server_name;
        },
        &name));
    m_pipeWire = name.find("PipeWire") != std::string::npos;
    return true;
}

void PulseConnection::DropContext()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context.get(), nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context.get(), nullptr, nullptr);
    pa_context_disconnect(m_context.get());
    m_context.reset();
    if (m_wasReady)
        m_lostContext = true; // dropped while ready: the listeners are told when a new one is ready
    m_wasReady = false;
}

pa_subscription_mask_t PulseConnection::ListenedMask() const
{
    unsigned mask = PA_SUBSCRIPTION_MASK_NULL;
    for (const auto& [id, entry] : m_listeners)
        mask |= entry.mask;
    return static_cast<pa_subscription_mask_t>(mask);
}

pa_operation* PulseConnection::Subscribe()
{
    return pa_context_subscribe(m_context.get(), ListenedMask(), nullptr, nullptr);
}

void PulseConnection::Dispatch(pa_subscription_event_type_t event, std::uint32_t index)
{
    const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    // The connection's own news goes to every listener (the server never sends these two).
    const bool everyone = facility == PA_SUBSCRIPTION_EVENT_SERVER && type != PA_SUBSCRIPTION_EVENT_CHANGE;
    std::vector<std::pair<ListenerId, std::shared_ptr<Listener>>> called;
    for (const auto& [id, entry] : m_listeners)
        if (everyone || pa_subscription_match_flags(entry.mask, event))
            called.emplace_back(id, entry.call);
    for (const auto& [id, call] : called) {
        // A listener before this one may have removed it.
        if (m_listeners.find(id) == m_listeners.end())
            continue;
        try {
            (*call)(event, index);
        } catch (...) {
            // Nothing may unwind through the library's C code; a listener that throws loses this event.
        }
    }
}

void PulseConnection::OnContextState(pa_context* context, void* userdata)
{
    auto* self = static_cast<PulseConnection*>(userdata);
    if (context == self->m_context.get()) {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->m_wasReady = true;
            if (!self->m_listeners.empty())
                ForgetOperation(self->Subscribe());
            if (self->m_lostContext) {
                self->m_lostContext = false;
                self->Dispatch(static_cast<pa_subscription_event_type_t>(PA_SUBSCRIPTION_EVENT_SERVER |
                                                                         PA_SUBSCRIPTION_EVENT_NEW),
                               PA_INVALID_INDEX);
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            if (self->m_wasReady) {
                self->m_wasReady = false;
                self->m_lostContext = true;
                self->Dispatch(static_cast<pa_subscription_event_type_t>(PA_SUBSCRIPTION_EVENT_SERVER |
                                                                         PA_SUBSCRIPTION_EVENT_REMOVE),
                               PA_INVALID_INDEX);
            }
            break;
        default:
            break;
        }
    }
    self->Signal();
}

void PulseConnection::OnEvent(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                              void* userdata)
{
    auto* self = static_cast<PulseConnection*>(userdata);
    if (context == self->m_context.get())
        self->Dispatch(event, index);
}

namespace {

// When no server answered last: every connection asked meanwhile is refused at once, whichever it is.
struct Unreachable
{
    std::mutex mutex;
    std::optional<std::chrono::steady_clock::time_point> since;
};

Unreachable& unreachable()
{
    static Unreachable u;
    return u;
}

// One of the process's connections, made at the first call and kept while someone uses it.
struct SharedSlot
{
    std::mutex mutex;
    std::weak_ptr<PulseConnection> connection;
};

std::shared_ptr<PulseConnection> sharedConnection(SharedSlot& shared)
{
    const std::lock_guard<std::mutex> lock(shared.mutex);
    if (std::shared_ptr<PulseConnection> connection = shared.connection.lock()) {
        const MainloopLock mainloopLock(connection->Mainloop());
        return connection->EnsureReady() ? connection : nullptr;
    }
    Unreachable& server = unreachable();
    {
        // Without a server, every backend asking at start-up would wait for it in turn.
        const std::lock_guard<std::mutex> failed(server.mutex);
        if (server.since && std::chrono::steady_clock::now() - *server.since < PulseConnection::kRetryDelay)
            return nullptr;
    }
    std::shared_ptr<PulseConnection> connection = PulseConnection::Connect();
    const std::lock_guard<std::mutex> failed(server.mutex);
    if (!connection) {
        server.since = std::chrono::steady_clock::now();
        return nullptr;
    }
    server.since.reset();
    shared.connection = connection;
    return connection;
}

} // namespace

std::shared_ptr<PulseConnection> SharedPulseConnection()
{
    static SharedSlot shared;
    return sharedConnection(shared);
}

std::shared_ptr<PulseConnection> SharedPulseCaptureConnection()
{
    static SharedSlot shared;
    return sharedConnection(shared);
}

bool IsPulsePcmFormat(const TWaveFormatEx& format)
{
    constexpr std::uint32_t kMaxRate = 384000;
    return format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec >= 1 &&
           format.nSamplesPerSec <= kMaxRate &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

bool IsOurPulseDeviceId(int deviceId)
{
    return deviceId == 0 || deviceId == WAVE_MAPPER;
}

bool PulseConnection::Answers()
{
    const MainloopLock lock(Mainloop());
    return EnsureReady();
}

void ReleasePulseStream(PulseConnection& connection, PulseStreamPtr& owned, PulseContextPtr& context,
                        std::chrono::milliseconds timeout)
{
    if (!owned)
        return;
    pa_stream* stream = owned.get();
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(
        stream,
        [](pa_stream*, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        },
        connection.Mainloop());
    connection.WaitUntil([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, timeout);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY)
        pa_stream_disconnect(stream);
    owned.reset();
    context.reset();
}
