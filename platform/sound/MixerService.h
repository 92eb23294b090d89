// The mixer service: the sound card's destinations (0: playback, 1: recording), the source lines of each
// destination, and their volume, mute and source-selector controls. Backends supply the mixer devices;
// the functions below find the open mixer by its handle, the same way for all of them.
//
// Lines and controls are found by number: a destination by its index, a source by its destination and
// index, both also by the line identifier the mixer gave them; a control by the identifier of its line
// and its type, then by its own identifier. Identifiers are unique within one open mixer.
//
// Control values are 32-bit unsigned: a volume is one value from lMinimum to lMaximum, a mute one Boolean
// (0 or 1), a selector one Boolean per item (cMultipleItems of them; exactly one true). A selector's items
// list the destination's sources in the reverse order of its source lines: item cMultipleItems - 1 - i
// is source line i.
//
// Threads: the functions are called on the GUI thread. A backend's notifications (a line or a control
// changed elsewhere) are handed to the MixerCallback given at open; it may be called on any thread, but
// never after mixerClose has returned. A backend that is woken by file descriptors instead (ALSA) lists
// them in mixerGetPollDescriptors: the caller watches them on the GUI thread and calls
// mixerHandleEvents when one is readable, which calls the callback there. A device whose card went away
// lists none any more: the caller then stops watching those it watched.
#pragma once

#include "platform/sound/WaveDevice.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// The notifications, as the mixer component dispatches them: the identifier of the line or control.
constexpr std::uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr std::uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

using HMIXER = std::uintptr_t;

struct MIXERCAPS
{
    std::string szPname; // up to 32 characters
    std::uint32_t cDestinations = 0;
};

// Component types of lines.
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;
constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;

constexpr std::uint32_t MIXERLINE_LINEF_ACTIVE = 1;
constexpr std::uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;

struct MIXERLINE
{
    std::uint32_t cbStruct = 168;
    std::uint32_t dwDestination = 0;
    std::uint32_t dwSource = 0;
    std::uint32_t dwLineID = 0;
    std::uint32_t fdwLine = 0;
    std::uint32_t dwComponentType = 0;
    std::uint32_t cChannels = 0;
    std::uint32_t cConnections = 0; // source lines of a destination
    std::uint32_t cControls = 0;
    std::string szShortName; // up to 16 characters
    std::string szName;      // up to 64 characters
};

// How mixerGetLineInfo finds the line.
constexpr std::uint32_t MIXER_GETLINEINFOF_DESTINATION = 0; // by dwDestination
constexpr std::uint32_t MIXER_GETLINEINFOF_SOURCE = 1;      // by dwDestination and dwSource
constexpr std::uint32_t MIXER_GETLINEINFOF_LINEID = 2;      // by dwLineID

constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;

// Control flags: one value for all channels; one value per item (a selector).
constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 1;
constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 2;

struct MIXERCONTROL
{
    std::uint32_t cbStruct = 148;
    std::uint32_t dwControlID = 0;
    std::uint32_t dwControlType = 0;
    std::uint32_t fdwControl = 0;
    std::uint32_t cMultipleItems = 0; // items of a selector
    std::string szShortName;          // up to 16 characters
    std::string szName;               // up to 64 characters
    std::int32_t lMinimum = 0;
    std::int32_t lMaximum = 0;
    std::uint32_t cSteps = 0;
};

// The text as a name field of at most that many characters holds it: cut between UTF-8 characters.
std::string MixerNameField(const std::string& text, std::size_t characters);

// Called with MM_MIXM_LINE_CHANGE or MM_MIXM_CONTROL_CHANGE, the mixer's handle and the identifier.
using MixerCallback = std::function<void(std::uint32_t message, HMIXER mixer, std::uint32_t id)>;

// An open mixer. Its notifications go through the Notify function the service gives it at open.
class MixerDevice
{
public:
    using Notify = std::function<void(std::uint32_t message, std::uint32_t id)>;

    virtual ~MixerDevice() = default;
    virtual MMRESULT GetLineInfo(MIXERLINE& line, std::uint32_t flags) = 0;
    // The line's control of that type: MIXERR_INVALLINE for an unknown line, MIXERR_INVALCONTROL when
    // the line has none of the type.
    virtual MMRESULT GetLineControl(std::uint32_t lineId, std::uint32_t controlType,
                                    MIXERCONTROL& control) = 0;
    // values gets one value per item (one for a volume or a mute). MIXERR_INVALCONTROL for an unknown
    // control.
    virtual MMRESULT GetControlDetails(std::uint32_t controlId, std::vector<std::uint32_t>& values) = 0;
    // values holds one value per item; MMSYSERR_INVALPARAM when the count is wrong, MIXERR_INVALVALUE
    // for a value out of range or a selector without exactly one true item.
    virtual MMRESULT SetControlDetails(std::uint32_t controlId, const std::vector<std::uint32_t>& values) = 0;
    virtual std::vector<int> PollDescriptors() { return {}; }
    virtual void HandleEvents() {}
};

class MixerBackend
{
public:
    virtual ~MixerBackend() = default;
    virtual std::string Name() const = 0;
    virtual unsigned GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(unsigned mixerId, MIXERCAPS& caps) = 0;
    virtual MMRESULT Open(std::unique_ptr<MixerDevice>& device, unsigned mixerId,
                          MixerDevice::Notify notify) = 0;
};

// The backend the program's mixer uses: chosen once, at first use (the sound server's when one answers,
// else the first ALSA card's, else one without devices). Tests install another.
MixerBackend& CurrentMixerBackend();
void SetCurrentMixerBackend(std::shared_ptr<MixerBackend> backend);

unsigned mixerGetNumDevs();
MMRESULT mixerGetDevCaps(unsigned mixerId, MIXERCAPS& caps);
// callback may be empty: then no notification is delivered.
MMRESULT mixerOpen(HMIXER* handle, unsigned mixerId, MixerCallback callback);
MMRESULT mixerClose(HMIXER handle);
MMRESULT mixerGetLineInfo(HMIXER handle, MIXERLINE& line, std::uint32_t flags);
MMRESULT mixerGetLineControls(HMIXER handle, std::uint32_t lineId, std::uint32_t controlType,
                              MIXERCONTROL& control);
MMRESULT mixerGetControlDetails(HMIXER handle, std::uint32_t controlId, std::vector<std::uint32_t>& values);
MMRESULT mixerSetControlDetails(HMIXER handle, std::uint32_t controlId,
                                const std::vector<std::uint32_t>& values);
std::vector<int> mixerGetPollDescriptors(HMIXER handle);
void mixerHandleEvents(HMIXER handle);
