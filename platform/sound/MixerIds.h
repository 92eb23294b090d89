// How the ALSA and virtual mixers number and describe their lines and controls: a line by its destination
// and source (-1 for the destination's own line), a control by its line and its index on that line.
#pragma once

#include "platform/sound/MixerService.h"

#include <cstdint>
#include <string>

// Line identifiers have the top bit set, control identifiers never: the two cannot be mistaken.
constexpr std::uint32_t kMixerLineBit = 0x80000000U;
constexpr unsigned kMixerMaxSources = 4094;

struct MixerLinePlace
{
    unsigned destination = 0;
    int source = -1;
};

struct MixerControlPlace
{
    MixerLinePlace line;
    unsigned control = 0;
};

inline std::uint32_t MixerLineId(unsigned destination, int source)
{
    return kMixerLineBit | (destination << 16) | static_cast<std::uint32_t>(source + 1);
}

inline std::uint32_t MixerControlId(unsigned destination, int source, unsigned control)
{
    return ((destination + 1) << 20) | (static_cast<std::uint32_t>(source + 1) << 8) | (control + 1);
}

// The line an identifier names; false for a control's.
inline bool DecodeMixerLine(std::uint32_t id, MixerLinePlace& place)
{
    if ((id & kMixerLineBit) == 0)
        return false;
    place.destination = (id >> 16) & 0x7FFF;
    place.source = static_cast<int>(id & 0xFFFF) - 1;
    return true;
}

// The control an identifier names; false for a line's.
inline bool DecodeMixerControl(std::uint32_t id, MixerControlPlace& place)
{
    if ((id & kMixerLineBit) != 0 || (id >> 20) == 0 || (id & 0xFF) == 0)
        return false;
    place.line.destination = (id >> 20) - 1;
    place.line.source = static_cast<int>((id >> 8) & 0xFFF) - 1;
    place.control = (id & 0xFF) - 1;
    return true;
}

// The line a mixerGetLineInfo request names (flags: MIXER_GETLINEINFOF_*); whether it exists is the
// mixer's to say.
inline MMRESULT RequestedMixerLine(const MIXERLINE& info, std::uint32_t flags, MixerLinePlace& place)
{
    switch (flags) {
    case MIXER_GETLINEINFOF_DESTINATION:
        place = {info.dwDestination, -1};
        return MMSYSERR_NOERROR;
    case MIXER_GETLINEINFOF_SOURCE:
        if (info.dwSource > kMixerMaxSources)
            return MIXERR_INVALLINE;
        place = {info.dwDestination, static_cast<int>(info.dwSource)};
        return MMSYSERR_NOERROR;
    case MIXER_GETLINEINFOF_LINEID:
        return DecodeMixerLine(info.dwLineID, place) ? MMSYSERR_NOERROR : MIXERR_INVALLINE;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

// Fills the answer to mixerGetLineInfo for the line at place (one channel, always active).
inline void DescribeMixerLine(MIXERLINE& info, const MixerLinePlace& place, std::uint32_t componentType,
                              std::uint32_t connections, std::uint32_t controls, const std::string& name)
{
    info.dwDestination = place.destination;
    info.dwSource = place.source < 0 ? 0 : static_cast<std::uint32_t>(place.source);
    info.dwLineID = MixerLineId(place.destination, place.source);
    info.fdwLine = MIXERLINE_LINEF_ACTIVE | (place.source < 0 ? 0 : MIXERLINE_LINEF_SOURCE);
    info.dwComponentType = componentType;
    info.cChannels = 1;
    info.cConnections = connections;
    info.cControls = controls;
    info.szShortName = MixerNameField(name, 16);
    info.szName = MixerNameField(name, 64);
}
