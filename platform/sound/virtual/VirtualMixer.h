// A mixer without a sound card, for tests: the test describes the devices (destinations, their source
// lines, each line's controls with their ranges and selector items), reads and changes the values as
// another program would, makes calls fail, and sees what the component set. A value set through one open
// mixer is a change for all: every open mixer of the device, that one included, is told of it.
//
// Threads: the description and the values are guarded by the backend's mutex; ChangeElsewhere may run on
// any thread and calls the open mixers' notifications on that thread. A mixer opened after
// UsePollDescriptors(true) is woken instead the way an ALSA mixer is: ChangeElsewhere leaves its
// notifications pending and makes a pipe readable; its owner watches the pipe (PollDescriptors) and calls
// HandleEvents, which delivers them on the owner's thread.
//
// Identifiers: a line's is built from its destination and source, a control's from its line and its
// position there, so that they stay the same across opens; line and control identifiers never meet.
#pragma once

#include "platform/sound/MixerService.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class VirtualMixerBackend : public MixerBackend, public std::enable_shared_from_this<VirtualMixerBackend>
{
public:
    struct Control
    {
        std::uint32_t type = MIXERCONTROL_CONTROLTYPE_VOLUME;
        std::int32_t minimum = 0;
        std::int32_t maximum = 65535;
        std::vector<std::string> items;    // a selector's items, in the selector's order
        std::vector<std::uint32_t> values; // one per item, else one
    };
    struct Line
    {
        std::string name;
        std::uint32_t componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
        std::vector<Control> controls;
    };
    struct Destination
    {
        Line line;
        std::vector<Line> sources;
    };
    struct Device
    {
        std::string name;
        std::vector<Destination> destinations;
    };

    // A sound card as the recording window expects one: destination 0 "Haut-parleurs" (volume, mute, no
    // source), destination 1 "Enregistrement" with the sources named (each with a volume at half and a
    // mute) and a selector whose items list them in reverse order, the first source selected.
    static Device Card(const std::string& name, const std::vector<std::string>& recordingSources);

    VirtualMixerBackend();
    explicit VirtualMixerBackend(std::vector<Device> devices);
    ~VirtualMixerBackend() override;

    std::string Name() const override { return "virtuel"; }
    unsigned GetNumDevs() override;
    MMRESULT GetDevCaps(unsigned mixerId, MIXERCAPS& caps) override;
    MMRESULT Open(std::unique_ptr<MixerDevice>& device, unsigned mixerId,
                  MixerDevice::Notify notify) override;

    // The mixers opened from now on are woken through a pipe rather than notified directly.
    void UsePollDescriptors(bool use);
    // The description changes; open mixers see the new one on their next call.
    void SetDevices(std::vector<Device> devices);
    // The next call of that name ("Open", "GetLineInfo", "GetLineControl", "GetControlDetails",
    // "SetControlDetails") answers code instead.
    void FailNext(const std::string& call, MMRESULT code);

    // Values as the device holds them. source -1: the destination line itself.
    std::vector<std::uint32_t> Values(unsigned mixerId, unsigned destination, int source,
                                      std::uint32_t controlType) const;
    // Sets values as another program would, then notifies every open mixer of that device of the control
    // change (and, with lineToo, of the line change), on the calling thread. Throws std::invalid_argument
    // for a control the device does not have.
    void ChangeElsewhere(unsigned mixerId, unsigned destination, int source, std::uint32_t controlType,
                         std::vector<std::uint32_t> values, bool lineToo = false);
    // The identifiers the open mixers see, for tests that check notifications.
    std::uint32_t LineId(unsigned mixerId, unsigned destination, int source) const;
    std::uint32_t ControlId(unsigned mixerId, unsigned destination, int source,
                            std::uint32_t controlType) const;

    int OpenMixers() const;
    // Every SetControlDetails that reached a device, in order: control identifier and values.
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> SetCalls() const;
    void ClearSetCalls();

private:
    friend class VirtualMixerDevice;
    struct State;
    std::shared_ptr<State> m_state;
};
