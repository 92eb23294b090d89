#include "platform/sound/alsa/AlsaMixer.h"

#include "platform/sound/MixerIds.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <utility>

namespace {

constexpr std::uint32_t MixerMaximum = 65535;

enum Kind : unsigned
{
    VolumeKind,
    MuteKind,
    SelectKind
};

constexpr std::uint32_t KindTypes[3] = {MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLTYPE_MUTE,
                                        MIXERCONTROL_CONTROLTYPE_MUX};

constexpr unsigned RecordingDestination = 1;

bool meansNoDevice(int err)
{
    return err == -ENOENT || err == -ENODEV || err == -ENXIO;
}

MMRESULT resultOf(int err)
{
    if (err >= 0)
        return MMSYSERR_NOERROR;
    if (meansNoDevice(err))
        return MMSYSERR_NODRIVER;
    return err == -ENOMEM ? MMSYSERR_NOMEM : MMSYSERR_ERROR;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::uint32_t componentTypeOf(const std::string& name)
{
    const std::string lower = lowered(name);
    if (lower.find("mic") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (lower.find("line") != std::string::npos)
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    return MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
}

struct MixerCloser
{
    void operator()(snd_mixer_t* mixer) const { snd_mixer_close(mixer); }
};
using MixerPtr = std::unique_ptr<snd_mixer_t, MixerCloser>;

// The simple-mixer view of a control device, every element loaded.
int openMixer(const std::string& ctlName, MixerPtr& mixer)
{
    snd_mixer_t* raw = nullptr;
    if (const int err = snd_mixer_open(&raw, 0); err < 0)
        return err;
    MixerPtr opened(raw);
    if (const int err = snd_mixer_attach(raw, ctlName.c_str()); err < 0)
        return err;
    if (const int err = snd_mixer_selem_register(raw, nullptr, nullptr); err < 0)
        return err;
    if (const int err = snd_mixer_load(raw); err < 0)
        return err;
    mixer = std::move(opened);
    return 0;
}

// The control device of a card name: "default" is the first card, "hw:X" a card by number or identifier.
bool controlDeviceOf(const std::string& cardName, std::string& ctlName)
{
    if (cardName == "default") {
        int card = -1;
        if (snd_card_next(&card) < 0 || card < 0)
            return false;
        ctlName = "hw:" + std::to_string(card);
        return true;
    }
    if (cardName.rfind("hw:", 0) == 0) {
        const int card = snd_card_get_index(cardName.substr(3).c_str());
        if (card < 0)
            return false;
        ctlName = "hw:" + std::to_string(card);
        return true;
    }
    ctlName = cardName;
    return !ctlName.empty();
}

// The card's own name, as its driver gives it; the control device's name when it gives none.
std::string productNameOf(const std::string& ctlName)
{
    std::string name = ctlName;
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ctlName.c_str(), SND_CTL_NONBLOCK) < 0)
        return name;
    snd_ctl_card_info_t* info = nullptr;
    if (snd_ctl_card_info_malloc(&info) == 0) {
        if (snd_ctl_card_info(ctl, info) == 0) {
            const char* cardName = snd_ctl_card_info_get_name(info);
            if (cardName && *cardName)
                name = cardName;
        }
        snd_ctl_card_info_free(info);
    }
    snd_ctl_close(ctl);
    return name;
}

std::string elementName(snd_mixer_elem_t* elem)
{
    std::string name = snd_mixer_selem_get_name(elem);
    if (const unsigned index = snd_mixer_selem_get_index(elem); index > 0)
        name += " " + std::to_string(index);
    return name;
}

// A line of the model: the element it reads (null for none, or once the card removed it) and which of
// its sides.
struct AlsaLine
{
    std::string name;
    std::uint32_t componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    snd_mixer_elem_t* elem = nullptr;
    bool playback = false;
    int choice = -1; // the capture-source choice that selects it

    bool HasVolume() const
    {
        return elem && (playback ? snd_mixer_selem_has_playback_volume(elem) != 0
                                 : snd_mixer_selem_has_capture_volume(elem) != 0);
    }
    bool HasMute() const
    {
        return elem && (playback ? snd_mixer_selem_has_playback_switch(elem) != 0
                                 : snd_mixer_selem_has_capture_switch(elem) != 0);
    }
};

} // namespace

std::vector<AlsaRecordingSource> AlsaRecordingSources(const std::vector<std::string>& captureElements,
                                                      const std::vector<std::string>& sourceChoices)
{
    std::vector<AlsaRecordingSource> sources;
    std::vector<bool> taken(sourceChoices.size(), false);
    for (std::size_t e = 0; e < captureElements.size(); ++e) {
        AlsaRecordingSource source{captureElements[e], static_cast<int>(e), -1};
        const std::string wanted = lowered(captureElements[e]);
        for (std::size_t c = 0; c < sourceChoices.size(); ++c)
            if (!taken[c] && lowered(sourceChoices[c]) == wanted) {
                source.choice = static_cast<int>(c);
                taken[c] = true;
                break;
            }
        sources.push_back(std::move(source));
    }
    for (std::size_t c = 0; c < sourceChoices.size(); ++c)
        if (!taken[c])
            sources.push_back({sourceChoices[c], -1, static_cast<int>(c)});
    return sources;
}

std::uint32_t AlsaVolumeToMixer(long value, long minimum, long maximum)
{
    if (maximum <= minimum)
        return 0;
    value = std::clamp(value, minimum, maximum);
    const double span = static_cast<double>(maximum) - static_cast<double>(minimum);
    const double offset = static_cast<double>(value) - static_cast<double>(minimum);
    return static_cast<std::uint32_t>(std::lround(offset * MixerMaximum / span));
}

long MixerVolumeToAlsa(std::uint32_t value, long minimum, long maximum)
{
    if (maximum <= minimum)
        return minimum;
    value = std::min(value, MixerMaximum);
    const double span = static_cast<double>(maximum) - static_cast<double>(minimum);
    return minimum + std::lround(static_cast<double>(value) * span / MixerMaximum);
}

namespace {

class AlsaMixerDevice : public MixerDevice
{
public:
    static MMRESULT Open(const std::string& ctlName, Notify notify, std::unique_ptr<MixerDevice>& device)
    {
        MixerPtr mixer;
        if (const int err = openMixer(ctlName, mixer); err < 0)
            return resultOf(err);
        device.reset(new AlsaMixerDevice(std::move(mixer), std::move(notify)));
        return MMSYSERR_NOERROR;
    }

    ~AlsaMixerDevice() override
    {
        // Closing removes every element, which ALSA tells their callbacks: nobody listens any more.
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_mixer.get()); e; e = snd_mixer_elem_next(e))
            snd_mixer_elem_set_callback(e, nullptr);
    }

    AlsaMixerDevice(const AlsaMixerDevice&) = delete;
    AlsaMixerDevice& operator=(const AlsaMixerDevice&) = delete;

    MMRESULT GetLineInfo(MIXERLINE& info, std::uint32_t flags) override
    {
        MixerLinePlace place;
        if (const MMRESULT r = RequestedMixerLine(info, flags, place))
            return r;
        const auto [destination, source] = place;
        const AlsaLine* line = lineAt(destination, source);
        if (!line)
            return MIXERR_INVALLINE;
        std::uint32_t controls = 0;
        for (const Kind kind : {VolumeKind, MuteKind, SelectKind})
            if (hasControl(destination, source, kind))
                ++controls;
        DescribeMixerLine(info, place, line->componentType,
                          source < 0 && destination == RecordingDestination
                              ? static_cast<std::uint32_t>(m_sources.size())
                              : 0,
                          controls, line->name);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineControl(std::uint32_t lineId, std::uint32_t controlType, MIXERCONTROL& control) override
    {
        MixerLinePlace place;
        if (!DecodeMixerLine(lineId, place))
            return MIXERR_INVALLINE;
        const unsigned destination = place.destination;
        const int source = place.source;
        const AlsaLine* line = lineAt(destination, source);
        if (!line)
            return MIXERR_INVALLINE;
        const auto found = std::find(std::begin(KindTypes), std::end(KindTypes), controlType);
        if (found == std::end(KindTypes))
            return MIXERR_INVALCONTROL;
        const auto kind = static_cast<Kind>(found - std::begin(KindTypes));
        if (!hasControl(destination, source, kind))
            return MIXERR_INVALCONTROL;
        control.cbStruct = 148;
        control.dwControlID = MixerControlId(destination, source, kind);
        control.dwControlType = controlType;
        control.fdwControl =
            MIXERCONTROL_CONTROLF_UNIFORM | (kind == SelectKind ? MIXERCONTROL_CONTROLF_MULTIPLE : 0);
        control.cMultipleItems = kind == SelectKind ? static_cast<std::uint32_t>(m_sources.size()) : 0;
        const char* name = kind == VolumeKind ? "Volume"
                           : kind == MuteKind ? "Muet"
                                              : "Source d'enregistrement";
        control.szShortName = MixerNameField(name, 16);
        control.szName = MixerNameField(name, 64);
        control.lMinimum = 0;
        control.lMaximum = kind == VolumeKind ? static_cast<std::int32_t>(MixerMaximum) : 1;
        control.cSteps = kind == VolumeKind ? volumeSteps(*line) : 0;
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetControlDetails(std::uint32_t controlId, std::vector<std::uint32_t>& values) override
    {
        unsigned destination = 0;
        int source = -1;
        Kind kind = VolumeKind;
        if (!decodeControl(controlId, destination, source, kind))
            return MIXERR_INVALCONTROL;
        const AlsaLine& line = *lineAt(destination, source);
        if (kind == SelectKind)
            return readSelector(values);
        if (kind == VolumeKind) {
            long minimum = 0, maximum = 0, value = 0;
            const int err = line.playback
                                ? snd_mixer_selem_get_playback_volume_range(line.elem, &minimum, &maximum)
                                : snd_mixer_selem_get_capture_volume_range(line.elem, &minimum, &maximum);
            if (err < 0)
                return resultOf(err);
            const int got =
                line.playback
                    ? snd_mixer_selem_get_playback_volume(line.elem, SND_MIXER_SCHN_FRONT_LEFT, &value)
                    : snd_mixer_selem_get_capture_volume(line.elem, SND_MIXER_SCHN_FRONT_LEFT, &value);
            if (got < 0)
                return resultOf(got);
            values = {AlsaVolumeToMixer(value, minimum, maximum)};
            return MMSYSERR_NOERROR;
        }
        int on = 0;
        const int got = line.playback
                            ? snd_mixer_selem_get_playback_switch(line.elem, SND_MIXER_SCHN_FRONT_LEFT, &on)
                            : snd_mixer_selem_get_capture_switch(line.elem, SND_MIXER_SCHN_FRONT_LEFT, &on);
        if (got < 0)
            return resultOf(got);
        values = {on ? 0U : 1U};
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetControlDetails(std::uint32_t controlId, const std::vector<std::uint32_t>& values) override
    {
        unsigned destination = 0;
        int source = -1;
        Kind kind = VolumeKind;
        if (!decodeControl(controlId, destination, source, kind))
            return MIXERR_INVALCONTROL;
        if (kind == SelectKind)
            return writeSelector(values);
        if (values.size() != 1)
            return MMSYSERR_INVALPARAM;
        const AlsaLine& line = *lineAt(destination, source);
        if (kind == VolumeKind) {
            if (values[0] > MixerMaximum)
                return MIXERR_INVALVALUE;
            long minimum = 0, maximum = 0;
            const int err = line.playback
                                ? snd_mixer_selem_get_playback_volume_range(line.elem, &minimum, &maximum)
                                : snd_mixer_selem_get_capture_volume_range(line.elem, &minimum, &maximum);
            if (err < 0)
                return resultOf(err);
            const long value = MixerVolumeToAlsa(values[0], minimum, maximum);
            return resultOf(line.playback ? snd_mixer_selem_set_playback_volume_all(line.elem, value)
                                          : snd_mixer_selem_set_capture_volume_all(line.elem, value));
        }
        if (values[0] > 1)
            return MIXERR_INVALVALUE;
        const int on = values[0] == 0 ? 1 : 0;
        return resultOf(line.playback ? snd_mixer_selem_set_playback_switch_all(line.elem, on)
                                      : snd_mixer_selem_set_capture_switch_all(line.elem, on));
    }

    std::vector<int> PollDescriptors() override
    {
        if (m_broken)
            return {};
        const int count = snd_mixer_poll_descriptors_count(m_mixer.get());
        if (count <= 0)
            return {};
        std::vector<pollfd> fds(static_cast<std::size_t>(count));
        const int filled =
            snd_mixer_poll_descriptors(m_mixer.get(), fds.data(), static_cast<unsigned>(count));
        std::vector<int> descriptors;
        for (int i = 0; i < filled && i < count; ++i)
            descriptors.push_back(fds[static_cast<std::size_t>(i)].fd);
        return descriptors;
    }

    void HandleEvents() override
    {
        if (m_broken)
            return;
        // A card that is gone leaves its descriptors readable for good: they are no longer to be watched.
        if (const int err = snd_mixer_handle_events(m_mixer.get());
            err < 0 && err != -EAGAIN && err != -EINTR)
            m_broken = true;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pending;
        pending.swap(m_pending);
        for (const auto& [message, id] : pending)
            if (m_notify)
                m_notify(message, id);
    }

private:
    AlsaMixerDevice(MixerPtr mixer, Notify notify) : m_mixer(std::move(mixer)), m_notify(std::move(notify))
    {
        m_playback.name = "Lecture";
        m_playback.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        m_playback.playback = true;
        m_recording.name = "Enregistrement";
        m_recording.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        describe();
    }

    void describe()
    {
        snd_mixer_elem_t* master = nullptr;
        snd_mixer_elem_t* firstPlayback = nullptr;
        std::vector<snd_mixer_elem_t*> captures;
        std::vector<std::string> captureNames;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_mixer.get()); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e))
                continue;
            snd_mixer_elem_set_callback(e, &AlsaMixerDevice::elementChanged);
            snd_mixer_elem_set_callback_private(e, this);
            const std::string name = elementName(e);
            if (snd_mixer_selem_is_enumerated(e)) {
                if (!m_sourceChoice && snd_mixer_selem_is_enum_capture(e))
                    m_sourceChoice = e;
                continue;
            }
            if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e)) {
                captures.push_back(e);
                captureNames.push_back(name);
            }
            const bool playback =
                snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e);
            if (!master && playback && name == "Master")
                master = e;
            if (!firstPlayback && snd_mixer_selem_has_playback_volume(e))
                firstPlayback = e;
        }
        m_playback.elem = master ? master : firstPlayback;

        std::vector<std::string> choices;
        if (m_sourceChoice) {
            const int items = snd_mixer_selem_get_enum_items(m_sourceChoice);
            for (int i = 0; i < items; ++i) {
                char text[64] = {};
                snd_mixer_selem_get_enum_item_name(m_sourceChoice, static_cast<unsigned>(i), sizeof text - 1,
                                                   text);
                choices.emplace_back(text);
            }
        }
        for (const AlsaRecordingSource& s : AlsaRecordingSources(captureNames, choices)) {
            if (m_sources.size() >= kMixerMaxSources)
                break;
            AlsaLine line;
            line.name = s.name;
            line.componentType = componentTypeOf(s.name);
            line.elem = s.element >= 0 ? captures[static_cast<std::size_t>(s.element)] : nullptr;
            line.choice = s.choice;
            m_sources.push_back(std::move(line));
        }
    }

    static int elementChanged(snd_mixer_elem_t* elem, unsigned int mask)
    {
        if (auto* self = static_cast<AlsaMixerDevice*>(snd_mixer_elem_get_callback_private(elem)))
            self->changed(elem, mask);
        return 0;
    }

    void changed(snd_mixer_elem_t* elem, unsigned int mask)
    {
        const bool removed = mask == SND_CTL_EVENT_MASK_REMOVE;
        bool selectorToo = elem == m_sourceChoice;
        const auto tell = [this](std::uint32_t message, std::uint32_t id) {
            if (std::find(m_pending.begin(), m_pending.end(), std::make_pair(message, id)) == m_pending.end())
                m_pending.emplace_back(message, id);
        };
        const auto visit = [&](unsigned destination, int source, AlsaLine& line) {
            if (line.elem != elem)
                return;
            if (removed) {
                // The line loses its controls, and the recording destination perhaps its selector.
                line.elem = nullptr;
                tell(MM_MIXM_LINE_CHANGE, MixerLineId(destination, source));
                if (destination == RecordingDestination)
                    tell(MM_MIXM_LINE_CHANGE, MixerLineId(RecordingDestination, -1));
                return;
            }
            if (mask & SND_CTL_EVENT_MASK_VALUE) {
                if (line.HasVolume())
                    tell(MM_MIXM_CONTROL_CHANGE, MixerControlId(destination, source, VolumeKind));
                if (line.HasMute()) {
                    tell(MM_MIXM_CONTROL_CHANGE, MixerControlId(destination, source, MuteKind));
                    // Without a capture-source element, the capture switches are the selector.
                    selectorToo = selectorToo || (destination == RecordingDestination && !m_sourceChoice);
                }
            }
            if (mask & SND_CTL_EVENT_MASK_INFO)
                tell(MM_MIXM_LINE_CHANGE, MixerLineId(destination, source));
        };
        visit(0, -1, m_playback);
        for (std::size_t s = 0; s < m_sources.size(); ++s)
            visit(RecordingDestination, static_cast<int>(s), m_sources[s]);
        if (removed && elem == m_sourceChoice) {
            m_sourceChoice = nullptr;
            tell(MM_MIXM_LINE_CHANGE, MixerLineId(RecordingDestination, -1));
        } else if (selectorToo && (mask & SND_CTL_EVENT_MASK_VALUE) && hasSelector()) {
            tell(MM_MIXM_CONTROL_CHANGE, MixerControlId(RecordingDestination, -1, SelectKind));
        }
    }

    AlsaLine* lineAt(unsigned destination, int source)
    {
        if (destination == 0)
            return source == -1 ? &m_playback : nullptr;
        if (destination != RecordingDestination || source < -1)
            return nullptr;
        if (source == -1)
            return &m_recording;
        return static_cast<std::size_t>(source) < m_sources.size()
                   ? &m_sources[static_cast<std::size_t>(source)]
                   : nullptr;
    }

    bool hasSelector() const
    {
        if (m_sources.empty())
            return false;
        if (m_sourceChoice)
            return true;
        return std::any_of(m_sources.begin(), m_sources.end(), [](const AlsaLine& l) { return l.HasMute(); });
    }

    bool hasControl(unsigned destination, int source, Kind kind)
    {
        const AlsaLine* line = lineAt(destination, source);
        if (!line)
            return false;
        if (kind == SelectKind)
            return destination == RecordingDestination && source == -1 && hasSelector();
        return kind == VolumeKind ? line->HasVolume() : line->HasMute();
    }

    bool decodeControl(std::uint32_t id, unsigned& destination, int& source, Kind& kind)
    {
        MixerControlPlace place;
        if (!DecodeMixerControl(id, place) || place.control > SelectKind)
            return false;
        destination = place.line.destination;
        source = place.line.source;
        kind = static_cast<Kind>(place.control);
        return hasControl(destination, source, kind);
    }

    std::uint32_t volumeSteps(const AlsaLine& line) const
    {
        long minimum = 0, maximum = 0;
        const int err = line.playback
                            ? snd_mixer_selem_get_playback_volume_range(line.elem, &minimum, &maximum)
                            : snd_mixer_selem_get_capture_volume_range(line.elem, &minimum, &maximum);
        if (err < 0 || maximum <= minimum)
            return 0;
        return static_cast<std::uint32_t>(std::min<long>(maximum - minimum, MixerMaximum));
    }

    // One value per source line, in reverse order: the selected one true.
    MMRESULT readSelector(std::vector<std::uint32_t>& values)
    {
        const std::size_t n = m_sources.size();
        values.assign(n, 0);
        if (m_sourceChoice) {
            unsigned item = 0;
            if (const int err =
                    snd_mixer_selem_get_enum_item(m_sourceChoice, SND_MIXER_SCHN_FRONT_LEFT, &item);
                err < 0)
                return resultOf(err);
            for (std::size_t i = 0; i < n; ++i)
                if (m_sources[i].choice == static_cast<int>(item))
                    values[n - 1 - i] = 1;
            return MMSYSERR_NOERROR;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (!m_sources[i].HasMute())
                continue;
            int on = 0;
            if (const int err =
                    snd_mixer_selem_get_capture_switch(m_sources[i].elem, SND_MIXER_SCHN_FRONT_LEFT, &on);
                err < 0)
                return resultOf(err);
            values[n - 1 - i] = on ? 1 : 0;
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT writeSelector(const std::vector<std::uint32_t>& values)
    {
        const std::size_t n = m_sources.size();
        if (values.size() != n)
            return MMSYSERR_INVALPARAM;
        if (std::any_of(values.begin(), values.end(), [](std::uint32_t v) { return v > 1; }) ||
            std::count(values.begin(), values.end(), 1U) != 1)
            return MIXERR_INVALVALUE;
        const std::size_t chosen =
            n - 1 - static_cast<std::size_t>(std::find(values.begin(), values.end(), 1U) - values.begin());
        if (m_sourceChoice) {
            const int choice = m_sources[chosen].choice;
            if (choice < 0)
                return MIXERR_INVALVALUE;
            // Every channel of the choice: a card may keep one per channel.
            MMRESULT result = MMSYSERR_NOERROR;
            for (int channel = SND_MIXER_SCHN_FRONT_LEFT; channel <= SND_MIXER_SCHN_LAST; ++channel) {
                const int err = snd_mixer_selem_set_enum_item(
                    m_sourceChoice, static_cast<snd_mixer_selem_channel_id_t>(channel),
                    static_cast<unsigned>(choice));
                if (err < 0) {
                    if (channel == SND_MIXER_SCHN_FRONT_LEFT)
                        result = resultOf(err);
                    break;
                }
            }
            return result;
        }
        if (!m_sources[chosen].HasMute())
            return MIXERR_INVALVALUE;
        // The chosen line's capture on first, so that the card never records from nothing.
        if (const int err = snd_mixer_selem_set_capture_switch_all(m_sources[chosen].elem, 1); err < 0)
            return resultOf(err);
        for (std::size_t i = 0; i < n; ++i)
            if (i != chosen && m_sources[i].HasMute())
                if (const int err = snd_mixer_selem_set_capture_switch_all(m_sources[i].elem, 0); err < 0)
                    return resultOf(err);
        return MMSYSERR_NOERROR;
    }

    MixerPtr m_mixer;
    Notify m_notify;
    AlsaLine m_playback;
    AlsaLine m_recording;
    std::vector<AlsaLine> m_sources;
    snd_mixer_elem_t* m_sourceChoice = nullptr; // the card's capture-source element, if any
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_pending;
    bool m_broken = false;
};

class AlsaMixerBackend : public MixerBackend
{
public:
    AlsaMixerBackend(std::string ctlName, std::string productName)
        : m_ctlName(std::move(ctlName)), m_productName(std::move(productName))
    {
    }

    std::string Name() const override { return "ALSA"; }

    unsigned GetNumDevs() override
    {
        // A card that failed to open is asked again: it may be back.
        if (!m_present) {
            snd_ctl_t* ctl = nullptr;
            const int err = snd_ctl_open(&ctl, m_ctlName.c_str(), SND_CTL_NONBLOCK);
            if (err == 0)
                snd_ctl_close(ctl);
            m_present = err == 0 || !meansNoDevice(err);
        }
        return m_present ? 1 : 0;
    }

    MMRESULT GetDevCaps(unsigned mixerId, MIXERCAPS& caps) override
    {
        if (mixerId != 0)
            return MMSYSERR_BADDEVICEID;
        caps.szPname = MixerNameField(m_productName, 32);
        caps.cDestinations = 2;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Open(std::unique_ptr<MixerDevice>& device, unsigned mixerId, MixerDevice::Notify notify) override
    {
        if (mixerId != 0)
            return MMSYSERR_BADDEVICEID;
        const MMRESULT result = AlsaMixerDevice::Open(m_ctlName, std::move(notify), device);
        m_present = result != MMSYSERR_NODRIVER;
        return result;
    }

private:
    const std::string m_ctlName;
    const std::string m_productName;
    std::atomic<bool> m_present{true};
};

} // namespace

std::shared_ptr<MixerBackend> CreateAlsaMixerBackend(const std::string& cardName)
{
    std::string ctlName;
    if (!controlDeviceOf(cardName, ctlName))
        return nullptr;
    MixerPtr probe;
    if (openMixer(ctlName, probe) < 0)
        return nullptr;
    probe.reset();
    return std::make_shared<AlsaMixerBackend>(ctlName, productNameOf(ctlName));
}
