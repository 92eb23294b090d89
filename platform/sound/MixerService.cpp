#include "platform/sound/MixerService.h"

#include "platform/sound/Backends.h"
#include "platform/sound/ServiceBackend.h"
#include "platform/sound/alsa/AlsaMixer.h"
#include "platform/sound/virtual/VirtualMixer.h"

#include <atomic>
#include <utility>

namespace {

DeviceRegistry<MixerDevice>& devices()
{
    static DeviceRegistry<MixerDevice> r;
    return r;
}

MixerDevice* device(HMIXER handle)
{
    return handle == 0 ? nullptr : devices().Find(handle);
}

// The backend the program's mixer uses, in order of preference. Called once, at first use.
std::shared_ptr<MixerBackend> ChooseMixerBackend()
{
    // The sound server's mixer first: it names the sources as the desktop does.
    if (auto pulse = CreatePulseMixerBackend())
        return pulse;
    if (auto alsa = CreateAlsaMixerBackend("default"))
        return alsa;
    // No card: a mixer service without devices, whose opens fail with a clear code.
    return std::make_shared<VirtualMixerBackend>();
}

ServiceBackend<MixerBackend>& backend()
{
    static ServiceBackend<MixerBackend> b(ChooseMixerBackend);
    return b;
}

} // namespace

std::string MixerNameField(const std::string& text, std::size_t characters)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A byte that does not continue a UTF-8 sequence starts a character.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == characters)
                return text.substr(0, i);
            ++count;
        }
    }
    return text;
}

MixerBackend& CurrentMixerBackend()
{
    return backend().Current();
}

void SetCurrentMixerBackend(std::shared_ptr<MixerBackend> current)
{
    backend().Set(std::move(current));
}

unsigned mixerGetNumDevs()
{
    return CurrentMixerBackend().GetNumDevs();
}

MMRESULT mixerGetDevCaps(unsigned mixerId, MIXERCAPS& caps)
{
    MixerBackend& current = CurrentMixerBackend();
    if (mixerId >= current.GetNumDevs())
        return MMSYSERR_BADDEVICEID;
    return current.GetDevCaps(mixerId, caps);
}

MMRESULT mixerOpen(HMIXER* handle, unsigned mixerId, MixerCallback callback)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = 0;
    MixerBackend& current = CurrentMixerBackend();
    if (mixerId >= current.GetNumDevs())
        return MMSYSERR_BADDEVICEID;
    // The device may notify before its handle is known: those notifications have no mixer to name and
    // are dropped, as they would be for a mixer not yet open.
    auto known = std::make_shared<std::atomic<HMIXER>>(0);
    MixerDevice::Notify notify = [known, callback = std::move(callback)](std::uint32_t message,
                                                                         std::uint32_t id) {
        const HMIXER h = known->load();
        if (h != 0 && callback)
            callback(message, h, id);
    };
    std::unique_ptr<MixerDevice> opened;
    const MMRESULT result = current.Open(opened, mixerId, std::move(notify));
    if (result != MMSYSERR_NOERROR)
        return result;
    if (!opened)
        return MMSYSERR_ERROR;
    *handle = devices().Add(std::move(opened));
    known->store(*handle);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER handle)
{
    if (handle == 0)
        return MMSYSERR_INVALHANDLE;
    // Destroyed here, outside the registry's lock: the device stops notifying before it goes.
    return devices().Remove(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT mixerGetLineInfo(HMIXER handle, MIXERLINE& line, std::uint32_t flags)
{
    MixerDevice* d = device(handle);
    return d ? d->GetLineInfo(line, flags) : MMSYSERR_INVALHANDLE;
}

MMRESULT mixerGetLineControls(HMIXER handle, std::uint32_t lineId, std::uint32_t controlType,
                              MIXERCONTROL& control)
{
    MixerDevice* d = device(handle);
    return d ? d->GetLineControl(lineId, controlType, control) : MMSYSERR_INVALHANDLE;
}

MMRESULT mixerGetControlDetails(HMIXER handle, std::uint32_t controlId, std::vector<std::uint32_t>& values)
{
    MixerDevice* d = device(handle);
    return d ? d->GetControlDetails(controlId, values) : MMSYSERR_INVALHANDLE;
}

MMRESULT mixerSetControlDetails(HMIXER handle, std::uint32_t controlId,
                                const std::vector<std::uint32_t>& values)
{
    MixerDevice* d = device(handle);
    return d ? d->SetControlDetails(controlId, values) : MMSYSERR_INVALHANDLE;
}

std::vector<int> mixerGetPollDescriptors(HMIXER handle)
{
    MixerDevice* d = device(handle);
    return d ? d->PollDescriptors() : std::vector<int>{};
}

void mixerHandleEvents(HMIXER handle)
{
    if (MixerDevice* d = device(handle))
        d->HandleEvents();
}
