#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "platform/sound/pulse/PulseConnection.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// One mixer device with two destinations: 0 "Lecture", the default sink's volume and mute, without source
// lines; 1 "Enregistrement", whose source lines are the server's sources (real inputs first, then the
// monitors of the outputs, each in the server's order) and whose selector chooses the source this
// program records from (CaptureSource.h), never the desktop's default source.
//
// Identifiers come from the server's index of the source, so that a line keeps its identifier while its
// source exists, wherever the list puts it. A line's key is the source's index + 1, or kDestinationKey +
// the destination; the line identifier is the key with the top bit set, a control's the key shifted left
// by two with the control's kind in the two low bits. Line and control identifiers never meet.
//
// Threads: every call takes the connection's mainloop lock and gives up waiting for the server after
// kReplyTimeout. The server's events reach the open mixer on the mainloop thread (with the lock held):
// it compares what changed with what it saw last and notifies from there. What it saw last is kept apart
// from what the calls read, so that a call that reads a new value before its event arrives cannot hide
// the event.

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMixerMaximum = 65535;
constexpr std::uint32_t kLineBit = 0x80000000U;
// Keys below this are sources' (index + 1), from here on destinations'.
constexpr std::uint32_t kDestinationKey = 0x10000000U;
constexpr std::uint32_t kPlayback = 0;
constexpr std::uint32_t kRecording = 1;
constexpr std::uint32_t kDestinations = 2;
const char* const kMixerName = "Serveur son";
const char* const kDefaultSink = "@DEFAULT_SINK@";

enum Kind : std::uint32_t
{
    NoKind = 0,
    VolumeKind = 1,
    MuteKind = 2,
    SelectKind = 3
};

constexpr auto kListened = static_cast<pa_subscription_mask_t>(
    PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);

std::optional<std::uint32_t> SourceKey(std::uint32_t index)
{
    // A server would have to create a quarter of a billion sources to get there.
    if (index >= kDestinationKey - 1)
        return std::nullopt;
    return index + 1;
}

constexpr std::uint32_t DestinationKey(std::uint32_t destination)
{
    return kDestinationKey + destination;
}

constexpr std::uint32_t LineIdOf(std::uint32_t key)
{
    return kLineBit | key;
}

constexpr std::uint32_t ControlIdOf(std::uint32_t key, Kind kind)
{
    return (key << 2) | kind;
}

Kind KindOfType(std::uint32_t controlType)
{
    switch (controlType) {
    case MIXERCONTROL_CONTROLTYPE_VOLUME:
        return VolumeKind;
    case MIXERCONTROL_CONTROLTYPE_MUTE:
        return MuteKind;
    case MIXERCONTROL_CONTROLTYPE_MUX:
        return SelectKind;
    default:
        return NoKind;
    }
}

// The server's volume in the control's range: the normal volume is the maximum, anything louder too.
std::uint32_t ToMixerVolume(pa_volume_t volume)
{
    const std::uint64_t v = std::min<std::uint64_t>(volume, PA_VOLUME_NORM);
    return static_cast<std::uint32_t>((v * kMixerMaximum + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM);
}

pa_volume_t ToPulseVolume(std::uint32_t value)
{
    const std::uint64_t v = std::min(value, kMixerMaximum);
    return static_cast<pa_volume_t>((v * PA_VOLUME_NORM + kMixerMaximum / 2) / kMixerMaximum);
}

std::string Lowered(const char* text)
{
    std::string lower = text ? text : "";
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// What a line shows of a source or a sink.
struct DeviceState
{
    std::uint32_t index = PA_INVALID_INDEX;
    std::string name;
    std::string description;
    std::uint32_t componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    std::uint32_t channels = 1;
    pa_cvolume volume{};
    bool mute = false;
    bool monitor = false;

    std::uint32_t MixerVolume() const { return ToMixerVolume(pa_cvolume_max(&volume)); }
};

std::uint32_t ComponentTypeOf(const pa_source_info& info)
{
    if (info.monitor_of_sink != PA_INVALID_INDEX)
        return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
    const std::string form = Lowered(pa_proplist_gets(info.proplist, PA_PROP_DEVICE_FORM_FACTOR));
    if (form == "microphone" || form == "webcam" || form == "headset" || form == "handset")
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    const std::string port = Lowered(info.active_port ? info.active_port->name : nullptr);
    if (port.find("mic") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (port.find("line") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

std::uint32_t ComponentTypeOf(const pa_sink_info&)
{
    return MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
}

// What the mixer keeps of a source or a sink (Info: pa_source_info, pa_sink_info).
template <typename Info> DeviceState StateOf(const Info& info)
{
    DeviceState s;
    s.index = info.index;
    s.name = info.name ? info.name : "";
    // As the desktop's sound settings name it; a device without a description by its name.
    s.description = info.description && *info.description ? info.description : s.name;
    s.componentType = ComponentTypeOf(info);
    s.channels = std::max<std::uint32_t>(info.channel_map.channels, 1);
    s.volume = info.volume;
    s.mute = info.mute != 0;
    if constexpr (std::is_same_v<Info, pa_source_info>)
        s.monitor = info.monitor_of_sink != PA_INVALID_INDEX;
    return s;
}

// Real inputs first, then the monitors, each in the server's order; sources whose index cannot make
// an identifier are left out.
std::vector<DeviceState> LineOrder(std::vector<DeviceState> sources)
{
    std::erase_if(sources, [](const DeviceState& s) { return !SourceKey(s.index); });
    std::stable_partition(sources.begin(), sources.end(), [](const DeviceState& s) { return !s.monitor; });
    return sources;
}

std::chrono::milliseconds Left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

const char* ControlName(Kind kind)
{
    switch (kind) {
    case VolumeKind:
        return "Volume";
    case MuteKind:
        return "Muet";
    default:
        return "Source d'enregistrement";
    }
}

// Collectors for the replies to the requests below (userdata of the library's callbacks).
struct DeviceReply
{
    bool found = false;
    DeviceState state;
};

// Info: pa_source_info, pa_sink_info.
template <typename Info> void OnDeviceReply(pa_context*, const Info* info, int eol, void* userdata)
{
    if (eol == 0 && info) {
        auto* reply = static_cast<DeviceReply*>(userdata);
        reply->found = true;
        reply->state = StateOf(*info);
    }
}

void OnSourceListReply(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    if (eol == 0 && info)
        static_cast<std::vector<DeviceState>*>(userdata)->push_back(StateOf(*info));
}

struct SuccessReply
{
    bool success = false;
};

void OnSuccessReply(pa_context*, int success, void* userdata)
{
    static_cast<SuccessReply*>(userdata)->success = success != 0;
}

class PulseMixerDevice;

// The open mixers of the process: a choice of recording source made through one is news for all.
struct OpenMixers
{
    std::mutex mutex;
    std::vector<PulseMixerDevice*> devices;
};

OpenMixers& openMixers()
{
    static OpenMixers m;
    return m;
}

class PulseMixerDevice final : public MixerDevice
{
public:
    PulseMixerDevice(std::shared_ptr<PulseConnection> connection, Notify notify)
        : m_connection(std::move(connection)), m_notify(std::move(notify))
    {
    }

    ~PulseMixerDevice() override
    {
        {
            OpenMixers& open = openMixers();
            const std::lock_guard<std::mutex> lock(open.mutex);
            std::erase(open.devices, this);
        }
        const MainloopLock lock(m_connection->Mainloop());
        if (m_listener != 0)
            m_connection->RemoveListener(m_listener);
        // Their callbacks point here.
        for (const PulseOperationPtr& request : m_requests)
            if (pa_operation_get_state(request.get()) == PA_OPERATION_RUNNING)
                pa_operation_cancel(request.get());
        m_requests.clear();
    }

    PulseMixerDevice(const PulseMixerDevice&) = delete;
    PulseMixerDevice& operator=(const PulseMixerDevice&) = delete;

    // With the mainloop locked: starts listening, then learns what the server has now, which later events
    // are compared with.
    MMRESULT Open()
    {
        const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
        if (!m_connection->EnsureReady())
            return MMSYSERR_NODRIVER;
        m_listener =
            m_connection->AddListener(kListened, [this](pa_subscription_event_type_t event,
                                                        std::uint32_t index) { OnEvent(event, index); });
        Learn();
        // Waited for here: the mixer is not open before it knows what to compare with.
        std::vector<PulseOperationPtr> requests;
        requests.swap(m_requests);
        bool answered = true;
        for (PulseOperationPtr& request : requests)
            answered = m_connection->Complete(request.release(), Left(deadline)) && answered;
        if (!answered)
            return Unanswered();
        {
            OpenMixers& open = openMixers();
            const std::lock_guard<std::mutex> lock(open.mutex);
            open.devices.push_back(this);
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineInfo(MIXERLINE& info, std::uint32_t flags) override
    {
        std::uint32_t key = 0;
        switch (flags) {
        case MIXER_GETLINEINFOF_DESTINATION:
            if (info.dwDestination >= kDestinations)
                return MIXERR_INVALLINE;
            key = DestinationKey(info.dwDestination);
            break;
        case MIXER_GETLINEINFOF_SOURCE:
            if (info.dwDestination != kRecording)
                return MIXERR_INVALLINE;
            break;
        case MIXER_GETLINEINFOF_LINEID:
            if ((info.dwLineID & kLineBit) == 0)
                return MIXERR_INVALLINE;
            key = info.dwLineID & ~kLineBit;
            if (key == 0 || key >= DestinationKey(kDestinations))
                return MIXERR_INVALLINE;
            break;
        default:
            return MMSYSERR_INVALFLAG;
        }

        const MainloopLock lock(m_connection->Mainloop());
        if (const MMRESULT r = ReadLinesNow())
            return r;

        if (key >= kDestinationKey) {
            FillDestination(info, key - kDestinationKey);
            return MMSYSERR_NOERROR;
        }
        std::size_t position = 0;
        if (flags == MIXER_GETLINEINFOF_SOURCE) {
            if (info.dwSource >= m_lines.size())
                return MIXERR_INVALLINE;
            position = info.dwSource;
        } else if (!FindLine(key - 1, position)) {
            return MIXERR_INVALLINE;
        }
        FillSource(info, position);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineControl(std::uint32_t lineId, std::uint32_t controlType, MIXERCONTROL& control) override
    {
        if ((lineId & kLineBit) == 0)
            return MIXERR_INVALLINE;
        const std::uint32_t key = lineId & ~kLineBit;
        if (key == 0 || key >= DestinationKey(kDestinations))
            return MIXERR_INVALLINE;

        const MainloopLock lock(m_connection->Mainloop());
        if (const MMRESULT r = ReadLinesNow())
            return r;
        std::size_t position = 0;
        if (key < kDestinationKey && !FindLine(key - 1, position))
            return MIXERR_INVALLINE;
        const Kind kind = KindOfType(controlType);
        if (kind == NoKind || !HasControl(key, kind) || (kind == SelectKind && m_lines.empty()))
            return MIXERR_INVALCONTROL;

        control.cbStruct = 148;
        control.dwControlID = ControlIdOf(key, kind);
        control.dwControlType = controlType;
        control.fdwControl =
            MIXERCONTROL_CONTROLF_UNIFORM | (kind == SelectKind ? MIXERCONTROL_CONTROLF_MULTIPLE : 0);
        control.cMultipleItems = kind == SelectKind ? static_cast<std::uint32_t>(m_lines.size()) : 0;
        control.szShortName = MixerNameField(ControlName(kind), 16);
        control.szName = MixerNameField(ControlName(kind), 64);
        control.lMinimum = 0;
        control.lMaximum = kind == VolumeKind ? static_cast<std::int32_t>(kMixerMaximum) : 1;
        // The server's volume has as many steps from silence to the normal volume.
        control.cSteps = kind == VolumeKind ? PA_VOLUME_NORM : 0;
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetControlDetails(std::uint32_t controlId, std::vector<std::uint32_t>& values) override
    {
        std::uint32_t key = 0;
        Kind kind = NoKind;
        if (!DecodeControl(controlId, key, kind))
            return MIXERR_INVALCONTROL;

        const MainloopLock lock(m_connection->Mainloop());
        const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
        if (!m_connection->EnsureReady())
            return MMSYSERR_NODRIVER;
        if (kind == SelectKind)
            return ReadSelector(values, deadline);
        DeviceState state;
        if (const MMRESULT r = ReadDevice(key, state, deadline))
            return r;
        values = {kind == VolumeKind ? state.MixerVolume() : (state.mute ? 1U : 0U)};
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetControlDetails(std::uint32_t controlId, const std::vector<std::uint32_t>& values) override
    {
        std::uint32_t key = 0;
        Kind kind = NoKind;
        if (!DecodeControl(controlId, key, kind))
            return MIXERR_INVALCONTROL;

        bool selected = false;
        {
            const MainloopLock lock(m_connection->Mainloop());
            const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
            if (!m_connection->EnsureReady())
                return MMSYSERR_NODRIVER;
            if (kind == SelectKind) {
                if (const MMRESULT r = WriteSelector(values, deadline))
                    return r;
                selected = true;
            } else {
                if (const MMRESULT r = WriteDevice(key, kind, values, deadline))
                    return r;
            }
        }
        // The server knows nothing of this choice: the open mixers are told here, outside the lock.
        if (selected)
            TellSelectorEverywhere();
        return MMSYSERR_NOERROR;
    }

private:
    void TellSelector()
    {
        if (m_notify)
            m_notify(MM_MIXM_CONTROL_CHANGE, ControlIdOf(DestinationKey(kRecording), SelectKind));
    }

    static void TellSelectorEverywhere()
    {
        OpenMixers& open = openMixers();
        const std::lock_guard<std::mutex> lock(open.mutex);
        for (PulseMixerDevice* device : open.devices)
            device->TellSelector();
    }

    void Tell(std::uint32_t message, std::uint32_t id)
    {
        if (m_notify)
            m_notify(message, id);
    }

    // After a request went unanswered: the server is gone, or too slow.
    MMRESULT Unanswered() const { return m_connection->Ready() ? MMSYSERR_ERROR : MMSYSERR_NODRIVER; }

    bool DecodeControl(std::uint32_t controlId, std::uint32_t& key, Kind& kind) const
    {
        if ((controlId & kLineBit) != 0)
            return false;
        key = controlId >> 2;
        kind = static_cast<Kind>(controlId & 3);
        if (key == 0 || key >= DestinationKey(kDestinations) || kind == NoKind)
            return false;
        // Whether a source's control still exists, the server says when asked.
        return HasControl(key, kind);
    }

    // Whether the line of that key has a control of that kind; a source line's existence aside.
    bool HasControl(std::uint32_t key, Kind kind) const
    {
        if (key == DestinationKey(kPlayback))
            return kind == VolumeKind || kind == MuteKind;
        if (key == DestinationKey(kRecording))
            return kind == SelectKind; // whether there is anything to select, the caller looks at
        return kind == VolumeKind || kind == MuteKind;
    }

    bool FindLine(std::uint32_t sourceIndex, std::size_t& position) const
    {
        const auto found = std::find_if(m_lines.begin(), m_lines.end(), [sourceIndex](const DeviceState& s) {
            return s.index == sourceIndex;
        });
        if (found == m_lines.end())
            return false;
        position = static_cast<std::size_t>(found - m_lines.begin());
        return true;
    }

    // With the lock held: the source lines, for a call that needs nothing else from the server.
    MMRESULT ReadLinesNow()
    {
        const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
        if (!m_connection->EnsureReady())
            return MMSYSERR_NODRIVER;
        return ReadLines(deadline);
    }

    // With the lock held: the list of source lines, asked again when the sources changed.
    MMRESULT ReadLines(Clock::time_point deadline)
    {
        if (!m_linesStale)
            return MMSYSERR_NOERROR;
        pa_context* context = m_connection->Context();
        if (!context)
            return MMSYSERR_NODRIVER;
        std::vector<DeviceState> sources;
        if (!m_connection->Complete(pa_context_get_source_info_list(context, &OnSourceListReply, &sources),
                                    Left(deadline)))
            return Unanswered();
        m_lines = LineOrder(std::move(sources));
        m_linesStale = false;
        return MMSYSERR_NOERROR;
    }

    void FillDestination(MIXERLINE& info, std::uint32_t destination) const
    {
        const bool recording = destination == kRecording;
        const char* name = recording ? "Enregistrement" : "Lecture";
        info.dwDestination = destination;
        info.dwSource = 0;
        info.dwLineID = LineIdOf(DestinationKey(destination));
        info.fdwLine = MIXERLINE_LINEF_ACTIVE;
        info.dwComponentType =
            recording ? MIXERLINE_COMPONENTTYPE_DST_WAVEIN : MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        info.cChannels = 1;
        info.cConnections = recording ? static_cast<std::uint32_t>(m_lines.size()) : 0;
        info.cControls = recording ? (m_lines.empty() ? 0 : 1) : 2;
        info.szShortName = MixerNameField(name, 16);
        info.szName = MixerNameField(name, 64);
    }

    void FillSource(MIXERLINE& info, std::size_t position) const
    {
        const DeviceState& source = m_lines[position];
        info.dwDestination = kRecording;
        info.dwSource = static_cast<std::uint32_t>(position);
        info.dwLineID = LineIdOf(*SourceKey(source.index));
        info.fdwLine = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
        info.dwComponentType = source.componentType;
        info.cChannels = source.channels;
        info.cConnections = 0;
        info.cControls = 2;
        info.szShortName = MixerNameField(source.description, 16);
        info.szName = MixerNameField(source.description, 64);
    }

    // With the lock held: the default sink (key of destination 0) or a source as the server has it now.
    // MIXERR_INVALCONTROL for a source that is gone, MMSYSERR_NODRIVER when the server has no sink.
    MMRESULT ReadDevice(std::uint32_t key, DeviceState& state, Clock::time_point deadline)
    {
        pa_context* context = m_connection->Context();
        if (!context)
            return MMSYSERR_NODRIVER;
        if (key == DestinationKey(kPlayback)) {
            DeviceReply reply;
            if (!m_connection->Complete(pa_context_get_sink_info_by_name(
                                            context, kDefaultSink, &OnDeviceReply<pa_sink_info>, &reply),
                                        Left(deadline)))
                return Unanswered();
            if (!reply.found)
                return MMSYSERR_NODRIVER;
            state = std::move(reply.state);
            return MMSYSERR_NOERROR;
        }
        DeviceReply reply;
        if (!m_connection->Complete(
                pa_context_get_source_info_by_index(context, key - 1, &OnDeviceReply<pa_source_info>, &reply),
                Left(deadline)))
            return Unanswered();
        if (!reply.found)
            return MIXERR_INVALCONTROL;
        state = std::move(reply.state);
        return MMSYSERR_NOERROR;
    }

    MMRESULT WriteDevice(std::uint32_t key, Kind kind, const std::vector<std::uint32_t>& values,
                         Clock::time_point deadline)
    {
        if (values.size() != 1)
            return MMSYSERR_INVALPARAM;
        if (values[0] > (kind == VolumeKind ? kMixerMaximum : 1U))
            return MIXERR_INVALVALUE;
        // The device's channels and their balance, as they are now.
        DeviceState state;
        if (const MMRESULT r = ReadDevice(key, state, deadline))
            return r;
        pa_context* context = m_connection->Context();
        const bool sink = key == DestinationKey(kPlayback);
        SuccessReply reply;
        pa_operation* request = nullptr;
        if (kind == VolumeKind) {
            pa_cvolume volume = state.volume;
            const pa_volume_t target = ToPulseVolume(values[0]);
            // The balance stays; channels that are all silent have none, and all get the volume.
            if (!pa_cvolume_valid(&volume) || pa_cvolume_max(&volume) == PA_VOLUME_MUTED)
                pa_cvolume_set(&volume, state.channels, target);
            else
                pa_cvolume_scale(&volume, target);
            request = sink ? pa_context_set_sink_volume_by_index(context, state.index, &volume,
                                                                 &OnSuccessReply, &reply)
                           : pa_context_set_source_volume_by_index(context, state.index, &volume,
                                                                   &OnSuccessReply, &reply);
        } else {
            const int mute = values[0] != 0 ? 1 : 0;
            request =
                sink ? pa_context_set_sink_mute_by_index(context, state.index, mute, &OnSuccessReply, &reply)
                     : pa_context_set_source_mute_by_index(context, state.index, mute, &OnSuccessReply,
                                                           &reply);
        }
        if (!m_connection->Complete(request, Left(deadline)))
            return Unanswered();
        // Refused: the device went away between the two requests.
        if (!reply.success)
            return sink ? MMSYSERR_NODRIVER : MIXERR_INVALCONTROL;
        return MMSYSERR_NOERROR;
    }

    // One value per source line, in reverse order: the chosen source's true, or the server's default
    // source's when none is chosen or the chosen one is gone.
    MMRESULT ReadSelector(std::vector<std::uint32_t>& values, Clock::time_point deadline)
    {
        if (const MMRESULT r = ReadLines(deadline))
            return r;
        if (m_lines.empty())
            return MIXERR_INVALCONTROL;
        std::size_t position = 0;
        bool found = FindByName(SelectedCaptureSource(), position);
        if (!found) {
            std::string defaultSource;
            pa_context* context = m_connection->Context();
            if (!context || !m_connection->Complete(
                                pa_context_get_server_info(
                                    context,
                                    [](pa_context*, const pa_server_info* info, void* userdata) {
                                        if (info && info->default_source_name)
                                            *static_cast<std::string*>(userdata) = info->default_source_name;
                                    },
                                    &defaultSource),
                                Left(deadline)))
                return Unanswered();
            found = FindByName(defaultSource, position);
        }
        const std::size_t n = m_lines.size();
        values.assign(n, 0);
        if (found)
            values[n - 1 - position] = 1;
        return MMSYSERR_NOERROR;
    }

    MMRESULT WriteSelector(const std::vector<std::uint32_t>& values, Clock::time_point deadline)
    {
        if (const MMRESULT r = ReadLines(deadline))
            return r;
        const std::size_t n = m_lines.size();
        if (n == 0)
            return MIXERR_INVALCONTROL;
        if (values.size() != n)
            return MMSYSERR_INVALPARAM;
        if (std::any_of(values.begin(), values.end(), [](std::uint32_t v) { return v > 1; }) ||
            std::count(values.begin(), values.end(), 1U) != 1)
            return MIXERR_INVALVALUE;
        const auto item =
            static_cast<std::size_t>(std::find(values.begin(), values.end(), 1U) - values.begin());
        SelectCaptureSource(m_lines[n - 1 - item].name);
        return MMSYSERR_NOERROR;
    }

    bool FindByName(const std::string& name, std::size_t& position) const
    {
        if (name.empty())
            return false;
        const auto found = std::find_if(m_lines.begin(), m_lines.end(),
                                        [&name](const DeviceState& s) { return s.name == name; });
        if (found == m_lines.end())
            return false;
        position = static_cast<std::size_t>(found - m_lines.begin());
        return true;
    }

    // ---- The server's events, on the mainloop thread ------------------------------------------------

    // Asks what later events are compared with: every source, the server's defaults, the default sink.
    void Learn()
    {
        pa_context* context = m_connection->Context();
        if (!context)
            return;
        m_seen.clear();
        m_seenSink.reset();
        Track(pa_context_get_source_info_list(context, &PulseMixerDevice::OnLearnedSource, this));
        Track(pa_context_get_server_info(context, &PulseMixerDevice::OnLearnedServer, this));
        Track(
            pa_context_get_sink_info_by_name(context, kDefaultSink, &PulseMixerDevice::OnLearnedSink, this));
    }

    void Track(pa_operation* request)
    {
        if (!request)
            return;
        std::erase_if(m_requests, [](const PulseOperationPtr& r) {
            return pa_operation_get_state(r.get()) != PA_OPERATION_RUNNING;
        });
        m_requests.emplace_back(request);
    }

    void OnEvent(pa_subscription_event_type_t event, std::uint32_t index)
    {
        const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        pa_context* context = m_connection->Context();
        const std::uint32_t recordingLine = LineIdOf(DestinationKey(kRecording));
        switch (facility) {
        case PA_SUBSCRIPTION_EVENT_SERVER:
            if (type == PA_SUBSCRIPTION_EVENT_CHANGE) {
                if (context)
                    Track(pa_context_get_server_info(context, &PulseMixerDevice::OnServerChanged, this));
                return;
            }
            // The connection was lost, or is back: what was known of the server is not any more.
            m_linesStale = true;
            m_seen.clear();
            m_seenSink.reset();
            m_seenDefaultSource.clear();
            m_seenDefaultSink.clear();
            if (type == PA_SUBSCRIPTION_EVENT_NEW)
                Learn();
            Tell(MM_MIXM_LINE_CHANGE, LineIdOf(DestinationKey(kPlayback)));
            Tell(MM_MIXM_LINE_CHANGE, recordingLine);
            return;
        case PA_SUBSCRIPTION_EVENT_SOURCE:
            if (type == PA_SUBSCRIPTION_EVENT_CHANGE) {
                if (context)
                    Track(pa_context_get_source_info_by_index(context, index,
                                                              &PulseMixerDevice::OnSourceChanged, this));
                return;
            }
            if (type == PA_SUBSCRIPTION_EVENT_NEW) {
                if (context)
                    Track(pa_context_get_source_info_by_index(context, index,
                                                              &PulseMixerDevice::OnLearnedSource, this));
            } else {
                m_seen.erase(index);
            }
            // One line more or less, and one item more or less in the selector.
            m_linesStale = true;
            Tell(MM_MIXM_LINE_CHANGE, recordingLine);
            TellSelector();
            return;
        case PA_SUBSCRIPTION_EVENT_SINK:
            if (type == PA_SUBSCRIPTION_EVENT_CHANGE && m_seenSink && m_seenSink->index == index && context)
                Track(pa_context_get_sink_info_by_index(context, index, &PulseMixerDevice::OnSinkChanged,
                                                        this));
            return;
        default:
            return;
        }
    }

    static void OnLearnedSource(pa_context*, const pa_source_info* info, int eol, void* userdata)
    {
        if (eol == 0 && info)
            static_cast<PulseMixerDevice*>(userdata)->m_seen[info->index] = StateOf(*info);
    }

    static void OnLearnedServer(pa_context*, const pa_server_info* info, void* userdata)
    {
        auto* self = static_cast<PulseMixerDevice*>(userdata);
        if (!info)
            return;
        self->m_seenDefaultSource = info->default_source_name ? info->default_source_name : "";
        self->m_seenDefaultSink = info->default_sink_name ? info->default_sink_name : "";
    }

    static void OnLearnedSink(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        if (eol == 0 && info)
            static_cast<PulseMixerDevice*>(userdata)->m_seenSink = StateOf(*info);
    }

    static void OnSourceChanged(pa_context*, const pa_source_info* info, int eol, void* userdata)
    {
        if (eol == 0 && info)
            static_cast<PulseMixerDevice*>(userdata)->SourceChanged(StateOf(*info));
    }

    static void OnSinkChanged(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        if (eol == 0 && info)
            static_cast<PulseMixerDevice*>(userdata)->SinkChanged(StateOf(*info));
    }

    static void OnServerChanged(pa_context*, const pa_server_info* info, void* userdata)
    {
        if (info)
            static_cast<PulseMixerDevice*>(userdata)->ServerChanged(*info);
    }

    // Only what a control shows is news: a volume above the normal one that grows reads the same.
    void SourceChanged(DeviceState now)
    {
        const std::optional<std::uint32_t> key = SourceKey(now.index);
        const auto seen = m_seen.find(now.index);
        if (!key || seen == m_seen.end()) {
            // Nothing to compare with: its arrival was news enough.
            m_seen[now.index] = std::move(now);
            return;
        }
        const DeviceState& before = seen->second;
        if (before.MixerVolume() != now.MixerVolume())
            Tell(MM_MIXM_CONTROL_CHANGE, ControlIdOf(*key, VolumeKind));
        if (before.mute != now.mute)
            Tell(MM_MIXM_CONTROL_CHANGE, ControlIdOf(*key, MuteKind));
        if (before.description != now.description || before.componentType != now.componentType) {
            m_linesStale = true;
            Tell(MM_MIXM_LINE_CHANGE, LineIdOf(*key));
        }
        seen->second = std::move(now);
    }

    void SinkChanged(DeviceState now)
    {
        const std::uint32_t key = DestinationKey(kPlayback);
        if (m_seenSink) {
            if (m_seenSink->MixerVolume() != now.MixerVolume())
                Tell(MM_MIXM_CONTROL_CHANGE, ControlIdOf(key, VolumeKind));
            if (m_seenSink->mute != now.mute)
                Tell(MM_MIXM_CONTROL_CHANGE, ControlIdOf(key, MuteKind));
        }
        m_seenSink = std::move(now);
    }

    void ServerChanged(const pa_server_info& info)
    {
        const std::string source = info.default_source_name ? info.default_source_name : "";
        const std::string sink = info.default_sink_name ? info.default_sink_name : "";
        if (source != m_seenDefaultSource) {
            m_seenDefaultSource = source;
            // The selector shows the default source only while no other is chosen, or the chosen one is gone.
            const std::string chosen = SelectedCaptureSource();
            const bool chosenHere =
                !chosen.empty() && std::any_of(m_seen.begin(), m_seen.end(),
                                               [&chosen](const auto& s) { return s.second.name == chosen; });
            if (!chosenHere)
                TellSelector();
        }
        if (sink != m_seenDefaultSink) {
            m_seenDefaultSink = sink;
            // Playback now goes to another sink: its volume and mute are compared with the former one's.
            if (pa_context* context = m_connection->Context())
                Track(pa_context_get_sink_info_by_name(context, kDefaultSink,
                                                       &PulseMixerDevice::OnSinkChanged, this));
        }
    }

    std::shared_ptr<PulseConnection> m_connection;
    Notify m_notify;
    PulseConnection::ListenerId m_listener = 0;

    // What the calls read: the source lines in their order, asked again once the sources changed.
    std::vector<DeviceState> m_lines;
    bool m_linesStale = true;

    // What the events are compared with, updated by the events alone.
    std::map<std::uint32_t, DeviceState> m_seen;
    std::optional<DeviceState> m_seenSink;
    std::string m_seenDefaultSource;
    std::string m_seenDefaultSink;
    // Requests whose replies come to this mixer: cancelled when it closes.
    std::vector<PulseOperationPtr> m_requests;
};

class PulseMixerBackend final : public PulseBackend<MixerBackend>
{
public:
    using PulseBackend::PulseBackend;

    MMRESULT GetDevCaps(unsigned mixerId, MIXERCAPS& caps) override
    {
        if (mixerId != 0)
            return MMSYSERR_BADDEVICEID;
        caps.szPname = MixerNameField(kMixerName, 32);
        caps.cDestinations = kDestinations;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Open(std::unique_ptr<MixerDevice>& device, unsigned mixerId, MixerDevice::Notify notify) override
    {
        if (mixerId != 0)
            return MMSYSERR_BADDEVICEID;
        return OpenPulseDevice(*m_connection, device,
                               std::make_unique<PulseMixerDevice>(m_connection, std::move(notify)));
    }
};

} // namespace

std::shared_ptr<MixerBackend> CreatePulseMixerBackend()
{
    return MakePulseBackend<PulseMixerBackend>(SharedPulseConnection());
}
