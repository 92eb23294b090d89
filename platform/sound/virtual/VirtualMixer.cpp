#include "platform/sound/virtual/VirtualMixer.h"

#include "platform/io/FileDescriptor.h"
#include "platform/sound/MixerIds.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace {

using Line = VirtualMixerBackend::Line;
using Control = VirtualMixerBackend::Control;
using Device = VirtualMixerBackend::Device;

constexpr unsigned MaxDestinations = 2046; // the highest index
constexpr unsigned MaxControls = 254;

template <typename DeviceT> auto* findLine(DeviceT& device, unsigned destination, int source)
{
    using LineT = std::conditional_t<std::is_const_v<DeviceT>, const Line, Line>;
    LineT* none = nullptr;
    if (destination >= device.destinations.size() || destination > MaxDestinations)
        return none;
    auto& d = device.destinations[destination];
    if (source < 0)
        return source == -1 ? &d.line : none;
    if (static_cast<std::size_t>(source) >= d.sources.size() ||
        static_cast<unsigned>(source) > kMixerMaxSources)
        return none;
    return &d.sources[static_cast<std::size_t>(source)];
}

template <typename DeviceT> auto* findControl(DeviceT& device, const MixerControlPlace& place)
{
    auto* line = findLine(device, place.line.destination, place.line.source);
    using ControlT = std::conditional_t<std::is_const_v<DeviceT>, const Control, Control>;
    ControlT* none = nullptr;
    if (!line || place.control >= line->controls.size() || place.control > MaxControls)
        return none;
    return &line->controls[place.control];
}

// The position of the line's first control of that type, or -1.
int controlOfType(const Line& line, std::uint32_t type)
{
    for (std::size_t i = 0; i < line.controls.size() && i <= MaxControls; ++i)
        if (line.controls[i].type == type)
            return static_cast<int>(i);
    return -1;
}

std::size_t valueCount(const Control& control)
{
    return control.type == MIXERCONTROL_CONTROLTYPE_MUX ? control.items.size() : 1;
}

MMRESULT checkValues(const Control& control, const std::vector<std::uint32_t>& values)
{
    if (values.size() != valueCount(control))
        return MMSYSERR_INVALPARAM;
    switch (control.type) {
    case MIXERCONTROL_CONTROLTYPE_MUX:
        if (std::any_of(values.begin(), values.end(), [](std::uint32_t v) { return v > 1; }) ||
            std::count(values.begin(), values.end(), 1U) != 1)
            return MIXERR_INVALVALUE;
        return MMSYSERR_NOERROR;
    case MIXERCONTROL_CONTROLTYPE_MUTE:
        return values[0] > 1 ? MIXERR_INVALVALUE : MMSYSERR_NOERROR;
    default: {
        const auto v = static_cast<std::int64_t>(values[0]);
        return v < control.minimum || v > control.maximum ? MIXERR_INVALVALUE : MMSYSERR_NOERROR;
    }
    }
}

std::string controlName(std::uint32_t type)
{
    switch (type) {
    case MIXERCONTROL_CONTROLTYPE_VOLUME:
        return "Volume";
    case MIXERCONTROL_CONTROLTYPE_MUTE:
        return "Muet";
    case MIXERCONTROL_CONTROLTYPE_MUX:
        return "Source d'enregistrement";
    default:
        return "Contrôle";
    }
}

std::uint32_t sourceType(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("micro") != std::string::npos || lower.starts_with("mic"))
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (lower.find("ligne") != std::string::npos || lower.find("line") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
}

// One open mixer as the backend sees it: where its notifications go, and whether they still may.
struct OpenMixer
{
    unsigned mixerId = 0;
    MixerDevice::Notify notify;
    // Held while notifying: a close waits for a notification in flight (and may come from one).
    std::recursive_mutex notifyMutex;
    bool open = true;
    // Woken through a pipe: notifications wait here until HandleEvents.
    std::unique_ptr<FileDescriptor> readEnd, writeEnd;
    std::mutex pendingMutex;
    std::deque<std::pair<std::uint32_t, std::uint32_t>> pending;

    void Deliver(std::uint32_t message, std::uint32_t id)
    {
        const std::lock_guard<std::recursive_mutex> lock(notifyMutex);
        if (open && notify)
            notify(message, id);
    }

    void Post(std::uint32_t message, std::uint32_t id)
    {
        if (!writeEnd) {
            Deliver(message, id);
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(pendingMutex);
            pending.emplace_back(message, id);
        }
        // One byte is enough to wake the owner; a full pipe already does.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(writeEnd->get(), &byte, 1);
    }
};

} // namespace

struct VirtualMixerBackend::State
{
    mutable std::mutex mutex;
    std::vector<Device> devices;
    std::map<std::string, MMRESULT> failNext;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> setCalls;
    std::vector<std::shared_ptr<OpenMixer>> open;
    bool usePipes = false;

    // The code the call must answer instead, once (under the mutex).
    MMRESULT takeFailure(const std::string& call)
    {
        const auto it = failNext.find(call);
        if (it == failNext.end())
            return MMSYSERR_NOERROR;
        const MMRESULT code = it->second;
        failNext.erase(it);
        return code;
    }

    std::vector<std::shared_ptr<OpenMixer>> openMixersOf(unsigned mixerId) const
    {
        std::vector<std::shared_ptr<OpenMixer>> found;
        std::copy_if(open.begin(), open.end(), std::back_inserter(found),
                     [mixerId](const std::shared_ptr<OpenMixer>& m) { return m->mixerId == mixerId; });
        return found;
    }
};

class VirtualMixerDevice : public MixerDevice
{
public:
    VirtualMixerDevice(std::shared_ptr<VirtualMixerBackend::State> state, std::shared_ptr<OpenMixer> mixer)
        : m_state(std::move(state)), m_mixer(std::move(mixer))
    {
    }

    ~VirtualMixerDevice() override
    {
        {
            const std::lock_guard<std::mutex> lock(m_state->mutex);
            auto& open = m_state->open;
            open.erase(std::remove(open.begin(), open.end(), m_mixer), open.end());
        }
        const std::lock_guard<std::recursive_mutex> lock(m_mixer->notifyMutex);
        m_mixer->open = false;
    }

    VirtualMixerDevice(const VirtualMixerDevice&) = delete;
    VirtualMixerDevice& operator=(const VirtualMixerDevice&) = delete;

    MMRESULT GetLineInfo(MIXERLINE& info, std::uint32_t flags) override
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (const MMRESULT failed = m_state->takeFailure("GetLineInfo"))
            return failed;
        const Device* device = thisDevice();
        if (!device)
            return MMSYSERR_NODRIVER;
        MixerLinePlace place;
        if (const MMRESULT r = RequestedMixerLine(info, flags, place))
            return r;
        const Line* line = findLine(*device, place.destination, place.source);
        if (!line)
            return MIXERR_INVALLINE;
        const auto& destination = device->destinations[place.destination];
        DescribeMixerLine(info, place, line->componentType,
                          place.source < 0 ? static_cast<std::uint32_t>(destination.sources.size()) : 0,
                          static_cast<std::uint32_t>(line->controls.size()), line->name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineControl(std::uint32_t id, std::uint32_t controlType, MIXERCONTROL& control) override
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (const MMRESULT failed = m_state->takeFailure("GetLineControl"))
            return failed;
        const Device* device = thisDevice();
        if (!device)
            return MMSYSERR_NODRIVER;
        MixerLinePlace place;
        const Line* line =
            DecodeMixerLine(id, place) ? findLine(*device, place.destination, place.source) : nullptr;
        if (!line)
            return MIXERR_INVALLINE;
        const int index = controlOfType(*line, controlType);
        if (index < 0)
            return MIXERR_INVALCONTROL;
        const Control& c = line->controls[static_cast<std::size_t>(index)];
        const bool selector = c.type == MIXERCONTROL_CONTROLTYPE_MUX;
        control.cbStruct = 148;
        control.dwControlID = MixerControlId(place.destination, place.source, static_cast<unsigned>(index));
        control.dwControlType = c.type;
        control.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM | (selector ? MIXERCONTROL_CONTROLF_MULTIPLE : 0);
        control.cMultipleItems = selector ? static_cast<std::uint32_t>(c.items.size()) : 0;
        control.szShortName = MixerNameField(controlName(c.type), 16);
        control.szName = MixerNameField(controlName(c.type), 64);
        const bool ranged = c.type == MIXERCONTROL_CONTROLTYPE_VOLUME;
        control.lMinimum = ranged ? c.minimum : 0;
        control.lMaximum = ranged ? c.maximum : 1;
        control.cSteps =
            ranged ? static_cast<std::uint32_t>(static_cast<std::int64_t>(c.maximum) - c.minimum) : 0;
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetControlDetails(std::uint32_t id, std::vector<std::uint32_t>& values) override
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        if (const MMRESULT failed = m_state->takeFailure("GetControlDetails"))
            return failed;
        const Device* device = thisDevice();
        if (!device)
            return MMSYSERR_NODRIVER;
        MixerControlPlace place;
        const Control* c = DecodeMixerControl(id, place) ? findControl(*device, place) : nullptr;
        if (!c)
            return MIXERR_INVALCONTROL;
        values = c->values;
        values.resize(valueCount(*c), 0);
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetControlDetails(std::uint32_t id, const std::vector<std::uint32_t>& values) override
    {
        std::vector<std::shared_ptr<OpenMixer>> told;
        {
            const std::lock_guard<std::mutex> lock(m_state->mutex);
            if (const MMRESULT failed = m_state->takeFailure("SetControlDetails"))
                return failed;
            Device* device = thisDevice();
            if (!device)
                return MMSYSERR_NODRIVER;
            m_state->setCalls.emplace_back(id, values);
            MixerControlPlace place;
            Control* c = DecodeMixerControl(id, place) ? findControl(*device, place) : nullptr;
            if (!c)
                return MIXERR_INVALCONTROL;
            if (const MMRESULT bad = checkValues(*c, values))
                return bad;
            c->values = values;
            told = m_state->openMixersOf(m_mixer->mixerId);
        }
        for (const auto& m : told)
            m->Post(MM_MIXM_CONTROL_CHANGE, id);
        return MMSYSERR_NOERROR;
    }

    std::vector<int> PollDescriptors() override
    {
        if (!m_mixer->readEnd)
            return {};
        return {m_mixer->readEnd->get()};
    }

    void HandleEvents() override
    {
        if (!m_mixer->readEnd)
            return;
        char bytes[64];
        while (::read(m_mixer->readEnd->get(), bytes, sizeof bytes) > 0) {
        }
        std::deque<std::pair<std::uint32_t, std::uint32_t>> pending;
        {
            const std::lock_guard<std::mutex> lock(m_mixer->pendingMutex);
            pending.swap(m_mixer->pending);
        }
        for (const auto& [message, id] : pending)
            m_mixer->Deliver(message, id);
    }

private:
    // Under the state's mutex. Null when the description lost this device since the open.
    Device* thisDevice()
    {
        return m_mixer->mixerId < m_state->devices.size() ? &m_state->devices[m_mixer->mixerId] : nullptr;
    }

    std::shared_ptr<VirtualMixerBackend::State> m_state;
    std::shared_ptr<OpenMixer> m_mixer;
};

VirtualMixerBackend::VirtualMixerBackend() : m_state(std::make_shared<State>()) {}

VirtualMixerBackend::VirtualMixerBackend(std::vector<Device> devices) : VirtualMixerBackend()
{
    m_state->devices = std::move(devices);
}

VirtualMixerBackend::~VirtualMixerBackend() = default;

VirtualMixerBackend::Device VirtualMixerBackend::Card(const std::string& name,
                                                      const std::vector<std::string>& recordingSources)
{
    Device card;
    card.name = name;
    Destination playback;
    playback.line.name = "Haut-parleurs";
    playback.line.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    playback.line.controls = {Control{MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, {}, {32768}},
                              Control{MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1, {}, {0}}};
    Destination recording;
    recording.line.name = "Enregistrement";
    recording.line.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    for (const std::string& source : recordingSources) {
        Line line;
        line.name = source;
        line.componentType = sourceType(source);
        line.controls = {Control{MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, {}, {32768}},
                         Control{MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1, {}, {0}}};
        recording.sources.push_back(std::move(line));
    }
    // A selector needs something to select: a card without recording sources has none.
    if (!recordingSources.empty()) {
        Control selector{MIXERCONTROL_CONTROLTYPE_MUX, 0, 1, {}, {}};
        selector.items.assign(recordingSources.rbegin(), recordingSources.rend());
        selector.values.assign(recordingSources.size(), 0);
        selector.values.back() = 1; // the first source
        recording.line.controls.push_back(std::move(selector));
    }
    card.destinations = {std::move(playback), std::move(recording)};
    return card;
}

unsigned VirtualMixerBackend::GetNumDevs()
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<unsigned>(m_state->devices.size());
}

MMRESULT VirtualMixerBackend::GetDevCaps(unsigned mixerId, MIXERCAPS& caps)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (mixerId >= m_state->devices.size())
        return MMSYSERR_BADDEVICEID;
    const Device& device = m_state->devices[mixerId];
    caps.szPname = MixerNameField(device.name, 32);
    caps.cDestinations =
        static_cast<std::uint32_t>(std::min<std::size_t>(device.destinations.size(), MaxDestinations + 1));
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualMixerBackend::Open(std::unique_ptr<MixerDevice>& device, unsigned mixerId,
                                   MixerDevice::Notify notify)
{
    auto mixer = std::make_shared<OpenMixer>();
    mixer->mixerId = mixerId;
    mixer->notify = std::move(notify);
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (const MMRESULT failed = m_state->takeFailure("Open"))
        return failed;
    if (mixerId >= m_state->devices.size())
        return MMSYSERR_BADDEVICEID;
    if (m_state->usePipes) {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
            return MMSYSERR_NOMEM;
        mixer->readEnd = std::make_unique<FileDescriptor>(ends[0]);
        mixer->writeEnd = std::make_unique<FileDescriptor>(ends[1]);
    }
    m_state->open.push_back(mixer);
    device = std::make_unique<VirtualMixerDevice>(m_state, std::move(mixer));
    return MMSYSERR_NOERROR;
}

void VirtualMixerBackend::UsePollDescriptors(bool use)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->usePipes = use;
}

void VirtualMixerBackend::SetDevices(std::vector<Device> devices)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->devices = std::move(devices);
}

void VirtualMixerBackend::FailNext(const std::string& call, MMRESULT code)
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->failNext[call] = code;
}

std::vector<std::uint32_t> VirtualMixerBackend::Values(unsigned mixerId, unsigned destination, int source,
                                                       std::uint32_t controlType) const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (mixerId >= m_state->devices.size())
        return {};
    const Line* line = findLine(std::as_const(m_state->devices[mixerId]), destination, source);
    const int index = line ? controlOfType(*line, controlType) : -1;
    return index < 0 ? std::vector<std::uint32_t>{} : line->controls[static_cast<std::size_t>(index)].values;
}

void VirtualMixerBackend::ChangeElsewhere(unsigned mixerId, unsigned destination, int source,
                                          std::uint32_t controlType, std::vector<std::uint32_t> values,
                                          bool lineToo)
{
    std::vector<std::shared_ptr<OpenMixer>> told;
    std::uint32_t control = 0;
    {
        const std::lock_guard<std::mutex> lock(m_state->mutex);
        Line* line = mixerId < m_state->devices.size()
                         ? findLine(m_state->devices[mixerId], destination, source)
                         : nullptr;
        const int index = line ? controlOfType(*line, controlType) : -1;
        if (index < 0)
            throw std::invalid_argument("Contrôle inconnu du mixeur virtuel");
        line->controls[static_cast<std::size_t>(index)].values = std::move(values);
        control = MixerControlId(destination, source, static_cast<unsigned>(index));
        told = m_state->openMixersOf(mixerId);
    }
    for (const auto& m : told) {
        m->Post(MM_MIXM_CONTROL_CHANGE, control);
        if (lineToo)
            m->Post(MM_MIXM_LINE_CHANGE, MixerLineId(destination, source));
    }
}

std::uint32_t VirtualMixerBackend::LineId(unsigned mixerId, unsigned destination, int source) const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (mixerId >= m_state->devices.size() ||
        !findLine(std::as_const(m_state->devices[mixerId]), destination, source))
        return 0;
    return MixerLineId(destination, source);
}

std::uint32_t VirtualMixerBackend::ControlId(unsigned mixerId, unsigned destination, int source,
                                             std::uint32_t controlType) const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (mixerId >= m_state->devices.size())
        return 0;
    const Line* line = findLine(std::as_const(m_state->devices[mixerId]), destination, source);
    const int index = line ? controlOfType(*line, controlType) : -1;
    return index < 0 ? 0 : MixerControlId(destination, source, static_cast<unsigned>(index));
}

int VirtualMixerBackend::OpenMixers() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<int>(m_state->open.size());
}

std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> VirtualMixerBackend::SetCalls() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->setCalls;
}

void VirtualMixerBackend::ClearSetCalls()
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->setCalls.clear();
}
