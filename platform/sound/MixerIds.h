// How the ALSA and virtual mixers number their lines and controls: a line by its destination and source
// (-1 for the destination's own line), a control by its line and its index on that line.
#pragma once

#include <cstdint>

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
