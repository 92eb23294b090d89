#include "devices/WaveMixer.h"

#include "platform/io/ExceptionHandler.h"
#include "platform/io/ListError.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <algorithm>

namespace {

const QEvent::Type MixerEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A mixer notification on its way to the GUI thread.
class MixerEvent : public QEvent
{
public:
    MixerEvent(std::uint32_t message, HMIXER mixer, std::uint32_t id)
        : QEvent(MixerEventType), m_message(message), m_mixer(mixer), m_id(id)
    {
    }
    std::uint32_t Message() const { return m_message; }
    HMIXER Mixer() const { return m_mixer; }
    std::uint32_t Id() const { return m_id; }

private:
    std::uint32_t m_message;
    HMIXER m_mixer;
    std::uint32_t m_id;
};

constexpr std::uint32_t ControlTypes[3] = {MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLTYPE_MUTE,
                                           MIXERCONTROL_CONTROLTYPE_MUX};

// a * b / c rounded to the nearest integer, halves away from zero; c > 0.
std::int64_t scaled(std::int64_t a, std::int64_t b, std::int64_t c)
{
    const std::int64_t product = a * b;
    return product >= 0 ? (product + c / 2) / c : -((-product + c / 2) / c);
}

} // namespace

// The hidden receiver: the mixer's notifications are posted to it from whatever thread the backend
// calls from, and it hands them to its mixer on the GUI thread. Events still posted when it goes are
// dropped with it.
class TAudioMixer::Receiver : public QObject
{
public:
    explicit Receiver(TAudioMixer& owner) : m_owner(owner) {}

    // Safe from any thread, as long as the receiver lives.
    void Post(std::uint32_t message, HMIXER mixer, std::uint32_t id)
    {
        QCoreApplication::postEvent(this, new MixerEvent(message, mixer, id));
    }

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() != MixerEventType)
            return;
        const auto* e = static_cast<const MixerEvent*>(event);
        // A failure in a handler is the application's to show; Qt must not see it.
        try {
            m_owner.MixerMessage(e->Message(), e->Mixer(), e->Id());
        } catch (const std::exception& error) {
            HandleApplicationException(error);
        }
    }

private:
    TAudioMixer& m_owner;
};

// ---- TAudioMixerLine ------------------------------------------------------------------------------

TAudioMixerLine::TAudioMixerLine(TAudioMixer* mixer, int index) : m_index(index), m_mixer(mixer)
{
    Read();
}

void TAudioMixerLine::Read()
{
    m_lineInfo = MIXERLINE{};
    m_lineInfo.cbStruct = 168;
    m_lineInfo.dwDestination = m_mixer->DestinationID();
    if (m_index >= 0) {
        m_lineInfo.dwSource = static_cast<std::uint32_t>(m_index);
        m_lastError = mixerGetLineInfo(m_mixer->Handle(), m_lineInfo, MIXER_GETLINEINFOF_SOURCE);
    } else {
        m_lastError = mixerGetLineInfo(m_mixer->Handle(), m_lineInfo, MIXER_GETLINEINFOF_DESTINATION);
    }
    m_availableControls = 0;
    if (m_lastError != MMSYSERR_NOERROR)
        return;
    for (const TMixerControlType kind : {mcVolume, mcMute, mcSelect}) {
        m_controls[kind] = MIXERCONTROL{};
        m_controls[kind].cbStruct = 148;
        if (mixerGetLineControls(m_mixer->Handle(), m_lineInfo.dwLineID, ControlTypes[kind],
                                 m_controls[kind]) == MMSYSERR_NOERROR)
            m_availableControls |= static_cast<std::uint8_t>(1U << kind);
    }
}

std::string TAudioMixerLine::Name() const
{
    return MixerNameField(m_lineInfo.szName, 64);
}

int TAudioMixerLine::Volume()
{
    m_lastError = MIXERR_INVALCONTROL;
    if (!HasControl(mcVolume))
        return -1;
    const MIXERCONTROL& control = m_controls[mcVolume];
    std::vector<std::uint32_t> values;
    m_lastError = mixerGetControlDetails(m_mixer->Handle(), control.dwControlID, values);
    if (m_lastError != MMSYSERR_NOERROR || values.empty() || control.lMaximum <= 0)
        return -1;
    return static_cast<int>(scaled(values[0], 100, control.lMaximum));
}

void TAudioMixerLine::SetVolume(int percent)
{
    m_lastError = MIXERR_INVALCONTROL;
    if (!HasControl(mcVolume))
        return;
    const MIXERCONTROL& control = m_controls[mcVolume];
    percent = std::clamp(percent, 0, 100);
    const std::int64_t value = scaled(control.lMaximum, percent, 100);
    m_lastError =
        mixerSetControlDetails(m_mixer->Handle(), control.dwControlID, {static_cast<std::uint32_t>(value)});
}

void TAudioMixerLine::SelectSource(int index)
{
    if (!HasControl(mcSelect)) {
        m_lastError = MIXERR_INVALCONTROL;
        return;
    }
    const MIXERCONTROL& control = m_controls[mcSelect];
    if (index < 0 || static_cast<std::uint32_t>(index) >= control.cMultipleItems) {
        m_lastError = MMSYSERR_INVALPARAM;
        return;
    }
    // The selector lists the sources in the reverse order of the source lines.
    std::vector<std::uint32_t> values(control.cMultipleItems, 0);
    values[control.cMultipleItems - 1 - static_cast<std::uint32_t>(index)] = 1;
    m_lastError = mixerSetControlDetails(m_mixer->Handle(), control.dwControlID, values);
}

bool TAudioMixerLine::FindControl(std::uint32_t controlId, TMixerControlType& kind) const
{
    bool found = false;
    for (const TMixerControlType k : {mcVolume, mcMute, mcSelect})
        if (HasControl(k) && m_controls[k].dwControlID == controlId) {
            kind = k;
            found = true;
        }
    return found;
}

// ---- TAudioMixer ----------------------------------------------------------------------------------

TAudioMixer::TAudioMixer()
    : m_destinationLine(std::make_unique<TAudioMixerLine>(this, -1)),
      m_window(std::make_unique<Receiver>(*this))
{
    reopen(false);
}

TAudioMixer::~TAudioMixer()
{
    m_lines.clear();
    m_destinationLine.reset();
    m_notifiers.clear();
    if (m_handle != 0)
        mixerClose(m_handle);
    m_handle = 0;
    // No notification comes after the close: the receiver may go, with whatever it still has posted.
    m_window.reset();
}

void TAudioMixer::reopen(bool linesOnly)
{
    m_lines.clear();
    if (!linesOnly) {
        m_notifiers.clear();
        if (m_handle != 0)
            mixerClose(m_handle);
        m_handle = 0;
        m_caps = MIXERCAPS{};
        mixerGetDevCaps(m_mixerId, m_caps);
        Receiver* receiver = m_window.get();
        m_openResult = mixerOpen(&m_handle, m_mixerId,
                                 [receiver](std::uint32_t message, HMIXER mixer, std::uint32_t id) {
                                     receiver->Post(message, mixer, id);
                                 });
        if (m_openResult != MMSYSERR_NOERROR)
            m_handle = 0;
        watchPollDescriptors();
    }
    if (m_destinationId >= DestinationCount())
        m_destinationId = 0;
    m_destinationLine->Read();
    const unsigned count = LineCount();
    for (unsigned i = 0; i < count; ++i)
        m_lines.push_back(std::make_unique<TAudioMixerLine>(this, static_cast<int>(i)));
}

void TAudioMixer::watchPollDescriptors()
{
    m_notifiers.clear();
    if (m_handle == 0)
        return;
    for (const int fd : mixerGetPollDescriptors(m_handle)) {
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, m_window.get(), [this] {
            mixerHandleEvents(m_handle);
            // A card that went away stays readable: what the device no longer lists is not watched.
            const std::vector<int> listed = mixerGetPollDescriptors(m_handle);
            for (const auto& n : m_notifiers)
                if (std::find(listed.begin(), listed.end(), n->socket()) == listed.end())
                    n->setEnabled(false);
        });
        m_notifiers.push_back(std::move(notifier));
    }
}

void TAudioMixer::SetMixerID(unsigned value)
{
    if (value == m_mixerId || value >= MixerCount())
        return;
    m_mixerId = value;
    reopen(false);
}

void TAudioMixer::SetDestinationID(unsigned value)
{
    if (value == m_destinationId)
        return;
    m_destinationId = value;
    reopen(true);
}

std::string TAudioMixer::MixerName() const
{
    return MixerNameField(m_caps.szPname, 32);
}

void TAudioMixer::SetMixerName(const std::string& value)
{
    if (value == MixerName())
        return;
    QStringList names;
    GetMixerNames(names);
    const auto position = names.indexOf(QString::fromStdString(value));
    if (position >= 0)
        SetMixerID(static_cast<unsigned>(position));
}

std::string TAudioMixer::DestinationName() const
{
    return m_destinationLine->Name();
}

void TAudioMixer::SetDestinationName(const std::string& value)
{
    if (value == DestinationName())
        return;
    QStringList names;
    GetDestinationNames(names);
    const auto position = names.indexOf(QString::fromStdString(value));
    if (position >= 0)
        SetDestinationID(static_cast<unsigned>(position));
}

unsigned TAudioMixer::MixerCount() const
{
    return mixerGetNumDevs();
}

unsigned TAudioMixer::DestinationCount() const
{
    return static_cast<std::uint16_t>(m_caps.cDestinations);
}

unsigned TAudioMixer::LineCount() const
{
    return static_cast<std::uint16_t>(m_destinationLine->LineInfo().cConnections);
}

TAudioMixerLine* TAudioMixer::Lines(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_lines.size())
        throw EListError(index);
    return m_lines[static_cast<std::size_t>(index)].get();
}

int TAudioMixer::GetMixerNames(QStringList& names) const
{
    const unsigned count = MixerCount();
    for (unsigned i = 0; i < count; ++i) {
        MIXERCAPS caps;
        mixerGetDevCaps(i, caps);
        names.append(QString::fromStdString(MixerNameField(caps.szPname, 32)));
    }
    return static_cast<int>(count);
}

int TAudioMixer::GetDestinationNames(QStringList& names) const
{
    const unsigned count = DestinationCount();
    for (unsigned i = 0; i < count; ++i) {
        MIXERLINE line;
        line.dwDestination = i;
        mixerGetLineInfo(m_handle, line, MIXER_GETLINEINFOF_DESTINATION);
        names.append(QString::fromStdString(MixerNameField(line.szName, 64)));
    }
    return static_cast<int>(count);
}

long TAudioMixer::MixerMessage(std::uint32_t message, HMIXER mixer, std::uint32_t id)
{
    // A null handle is no mixer's: a mixer that could not be opened hears nothing.
    if (m_handle == 0 || mixer != m_handle)
        return 0;
    if (message == MM_MIXM_LINE_CHANGE) {
        TAudioMixerLine* found = nullptr;
        if (m_destinationLine->LineInfo().dwLineID == id)
            found = m_destinationLine.get();
        for (std::size_t i = 0; !found && i < m_lines.size(); ++i)
            if (m_lines[i]->LineInfo().dwLineID == id)
                found = m_lines[i].get();
        if (found && OnLineChange)
            OnLineChange(this, found);
    } else if (message == MM_MIXM_CONTROL_CHANGE) {
        TMixerControlType kind = mcVolume;
        TAudioMixerLine* found = nullptr;
        if (m_destinationLine->FindControl(id, kind))
            found = m_destinationLine.get();
        for (std::size_t i = 0; !found && i < m_lines.size(); ++i)
            if (m_lines[i]->FindControl(id, kind))
                found = m_lines[i].get();
        if (found && OnControlChange)
            OnControlChange(this, found, kind);
    }
    return 0;
}
