// The mixer service's handles and codes, over the virtual mixer the component's and the recording
// window's tests rely on: its lines and controls, the checks on the values it is given, the failures it
// can be told to make, and its notifications (direct, from other threads, or through a pipe).
#include "platform/sound/virtual/VirtualMixer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Values = std::vector<std::uint32_t>;

struct Heard
{
    std::uint32_t message;
    HMIXER mixer;
    std::uint32_t id;
    bool operator==(const Heard&) const = default;
};

// What a mixer's callback was told, from whatever thread.
class Listener
{
public:
    MixerCallback Callback()
    {
        return [this](std::uint32_t message, HMIXER mixer, std::uint32_t id) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_heard.push_back({message, mixer, id});
            m_threads.insert(std::this_thread::get_id());
        };
    }
    std::vector<Heard> Heard_() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_heard;
    }
    std::set<std::thread::id> Threads() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Heard> m_heard;
    std::set<std::thread::id> m_threads;
};

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

class MixerService : public testing::Test
{
protected:
    void SetUp() override
    {
        backend = std::make_shared<VirtualMixerBackend>(std::vector<VirtualMixerBackend::Device>{
            VirtualMixerBackend::Card("Carte son", {"Micro", "Entrée ligne", "CD"}),
            VirtualMixerBackend::Card("Carte USB", {"Micro USB"})});
        SetCurrentMixerBackend(backend);
    }
    void TearDown() override
    {
        for (const HMIXER h : opened)
            mixerClose(h);
        SetCurrentMixerBackend(nullptr);
    }

    HMIXER open(unsigned id, MixerCallback callback = {})
    {
        HMIXER h = 0;
        EXPECT_EQ(mixerOpen(&h, id, std::move(callback)), MMSYSERR_NOERROR);
        EXPECT_NE(h, 0u);
        opened.push_back(h);
        return h;
    }

    MIXERLINE destination(HMIXER h, std::uint32_t index, MMRESULT expected = MMSYSERR_NOERROR)
    {
        MIXERLINE line;
        line.dwDestination = index;
        EXPECT_EQ(mixerGetLineInfo(h, line, MIXER_GETLINEINFOF_DESTINATION), expected);
        return line;
    }

    MIXERLINE source(HMIXER h, std::uint32_t dest, std::uint32_t index, MMRESULT expected = MMSYSERR_NOERROR)
    {
        MIXERLINE line;
        line.dwDestination = dest;
        line.dwSource = index;
        EXPECT_EQ(mixerGetLineInfo(h, line, MIXER_GETLINEINFOF_SOURCE), expected);
        return line;
    }

    MIXERCONTROL control(HMIXER h, std::uint32_t lineId, std::uint32_t type,
                         MMRESULT expected = MMSYSERR_NOERROR)
    {
        MIXERCONTROL c;
        EXPECT_EQ(mixerGetLineControls(h, lineId, type, c), expected);
        return c;
    }

    std::shared_ptr<VirtualMixerBackend> backend;
    std::vector<HMIXER> opened;
};

TEST_F(MixerService, CountsDevicesAndRefusesUnknownOnes)
{
    EXPECT_EQ(mixerGetNumDevs(), 2u);
    MIXERCAPS caps;
    ASSERT_EQ(mixerGetDevCaps(1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Carte USB");
    EXPECT_EQ(caps.cDestinations, 2u);
    EXPECT_EQ(mixerGetDevCaps(2, caps), MMSYSERR_BADDEVICEID);

    HMIXER h = 77;
    EXPECT_EQ(mixerOpen(&h, 2, {}), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, 0u) << "a failed open leaves no handle behind";
    EXPECT_EQ(mixerOpen(nullptr, 0, {}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(backend->OpenMixers(), 0);

    SetCurrentMixerBackend(std::make_shared<VirtualMixerBackend>());
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    EXPECT_EQ(mixerOpen(&h, 0, {}), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixerGetDevCaps(0, caps), MMSYSERR_BADDEVICEID);
}

TEST_F(MixerService, HandlesAreCheckedAndCloseOnlyOnce)
{
    const HMIXER a = open(0);
    const HMIXER b = open(0);
    EXPECT_NE(a, b);
    EXPECT_EQ(backend->OpenMixers(), 2);

    MIXERLINE line;
    MIXERCONTROL c;
    Values values{1};
    for (const HMIXER bad : {HMIXER{0}, a + b + 100}) {
        EXPECT_EQ(mixerGetLineInfo(bad, line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(mixerGetLineControls(bad, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, c), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(mixerGetControlDetails(bad, 1, values), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(mixerSetControlDetails(bad, 1, values), MMSYSERR_INVALHANDLE);
        EXPECT_TRUE(mixerGetPollDescriptors(bad).empty());
        mixerHandleEvents(bad); // nothing to do, nothing to break
        EXPECT_EQ(mixerClose(bad), MMSYSERR_INVALHANDLE);
    }

    ASSERT_EQ(mixerClose(a), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(a), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mixerGetLineInfo(a, line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(backend->OpenMixers(), 1);
    // The other one still works.
    EXPECT_EQ(destination(b, 1).szName, "Enregistrement");

    HMIXER c2 = 0;
    ASSERT_EQ(mixerOpen(&c2, 0, {}), MMSYSERR_NOERROR);
    opened.push_back(c2);
    EXPECT_NE(c2, a) << "a closed handle is not given out again";
}

TEST_F(MixerService, DescribesTheCardsDestinationsAndSources)
{
    const HMIXER h = open(0);
    const MIXERLINE playback = destination(h, 0);
    EXPECT_EQ(playback.szName, "Haut-parleurs");
    EXPECT_EQ(playback.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(playback.cConnections, 0u);
    EXPECT_EQ(playback.cControls, 2u);
    EXPECT_EQ(playback.fdwLine & MIXERLINE_LINEF_SOURCE, 0u);

    const MIXERLINE recording = destination(h, 1);
    EXPECT_EQ(recording.szName, "Enregistrement");
    EXPECT_EQ(recording.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    EXPECT_EQ(recording.cConnections, 3u);
    EXPECT_EQ(recording.cControls, 1u);

    const char* names[] = {"Micro", "Entrée ligne", "CD"};
    const std::uint32_t types[] = {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERLINE_COMPONENTTYPE_SRC_LINE,
                                   MIXERLINE_COMPONENTTYPE_SRC_ANALOG};
    std::set<std::uint32_t> lineIds{playback.dwLineID, recording.dwLineID};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const MIXERLINE s = source(h, 1, i);
        EXPECT_EQ(s.szName, names[i]);
        EXPECT_EQ(s.dwComponentType, types[i]) << names[i];
        EXPECT_EQ(s.dwDestination, 1u);
        EXPECT_EQ(s.dwSource, i);
        EXPECT_NE(s.fdwLine & MIXERLINE_LINEF_SOURCE, 0u);
        EXPECT_EQ(s.cControls, 2u);
        EXPECT_EQ(s.dwLineID, backend->LineId(0, 1, static_cast<int>(i)));
        lineIds.insert(s.dwLineID);

        // Found again by its identifier.
        MIXERLINE byId;
        byId.dwLineID = s.dwLineID;
        ASSERT_EQ(mixerGetLineInfo(h, byId, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
        EXPECT_EQ(byId.szName, names[i]);
        EXPECT_EQ(byId.dwSource, i);
    }
    EXPECT_EQ(lineIds.size(), 5u) << "every line has its own identifier";

    destination(h, 2, MIXERR_INVALLINE);
    source(h, 1, 3, MIXERR_INVALLINE);
    source(h, 0, 0, MIXERR_INVALLINE);
    MIXERLINE unknown;
    unknown.dwLineID = 12345;
    EXPECT_EQ(mixerGetLineInfo(h, unknown, MIXER_GETLINEINFOF_LINEID), MIXERR_INVALLINE);
    EXPECT_EQ(mixerGetLineInfo(h, unknown, 7), MMSYSERR_INVALFLAG);
}

TEST_F(MixerService, ControlsHaveTheirRangesItemsAndStartingValues)
{
    const HMIXER h = open(0);
    const MIXERLINE recording = destination(h, 1);
    const MIXERCONTROL selector = control(h, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX);
    EXPECT_EQ(selector.cMultipleItems, 3u);
    EXPECT_EQ(selector.dwControlType, MIXERCONTROL_CONTROLTYPE_MUX);
    control(h, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERR_INVALCONTROL);
    control(h, 12345, MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERR_INVALLINE);

    // The first source is selected: the last item, the items being the sources reversed.
    Values values;
    ASSERT_EQ(mixerGetControlDetails(h, selector.dwControlID, values), MMSYSERR_NOERROR);
    EXPECT_EQ(values, (Values{0, 0, 1}));

    std::set<std::uint32_t> ids{selector.dwControlID};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const MIXERLINE s = source(h, 1, i);
        const MIXERCONTROL volume = control(h, s.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
        EXPECT_EQ(volume.lMinimum, 0);
        EXPECT_EQ(volume.lMaximum, 65535);
        ASSERT_EQ(mixerGetControlDetails(h, volume.dwControlID, values), MMSYSERR_NOERROR);
        EXPECT_EQ(values, Values{32768});
        const MIXERCONTROL mute = control(h, s.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
        ASSERT_EQ(mixerGetControlDetails(h, mute.dwControlID, values), MMSYSERR_NOERROR);
        EXPECT_EQ(values, Values{0});
        control(h, s.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, MIXERR_INVALCONTROL);
        ids.insert(volume.dwControlID);
        ids.insert(mute.dwControlID);
        EXPECT_EQ(volume.dwControlID,
                  backend->ControlId(0, 1, static_cast<int>(i), MIXERCONTROL_CONTROLTYPE_VOLUME));
        EXPECT_NE(volume.dwControlID, s.dwLineID);
    }
    EXPECT_EQ(ids.size(), 7u) << "every control has its own identifier";
    EXPECT_EQ(mixerGetControlDetails(h, 999999, values), MIXERR_INVALCONTROL);
}

TEST_F(MixerService, RefusesValuesOutOfRangeAndKeepsTheOldOnes)
{
    const HMIXER h = open(0);
    const std::uint32_t selector = backend->ControlId(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX);
    const std::uint32_t volume = backend->ControlId(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = backend->ControlId(0, 1, 1, MIXERCONTROL_CONTROLTYPE_MUTE);

    EXPECT_EQ(mixerSetControlDetails(h, selector, {1, 1, 0}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, selector, {0, 0, 0}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, selector, {0, 2, 0}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, selector, {0, 1}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerSetControlDetails(h, volume, {65536}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, volume, {1, 2}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerSetControlDetails(h, volume, {}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerSetControlDetails(h, mute, {2}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, 999999, {0}), MIXERR_INVALCONTROL);
    EXPECT_EQ(backend->Values(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 0, 1}));
    EXPECT_EQ(backend->Values(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{32768});
    EXPECT_EQ(backend->Values(0, 1, 1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{0});

    ASSERT_EQ(mixerSetControlDetails(h, selector, {0, 1, 0}), MMSYSERR_NOERROR);
    ASSERT_EQ(mixerSetControlDetails(h, volume, {65535}), MMSYSERR_NOERROR);
    ASSERT_EQ(mixerSetControlDetails(h, mute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(backend->Values(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 1, 0}));
    EXPECT_EQ(backend->Values(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{65535});
    EXPECT_EQ(backend->Values(0, 1, 1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{1});
    // The other card is another card.
    EXPECT_EQ(backend->Values(1, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{32768});

    const auto calls = backend->SetCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().first, mute);
    EXPECT_EQ(calls.back().second, Values{1});
    backend->ClearSetCalls();
    EXPECT_TRUE(backend->SetCalls().empty());
}

TEST_F(MixerService, AVolumeRangeNeedNotStartAtZero)
{
    VirtualMixerBackend::Device device;
    device.name = "Ampli";
    VirtualMixerBackend::Destination out;
    out.line.name = "Sortie";
    out.line.controls = {{MIXERCONTROL_CONTROLTYPE_VOLUME, 100, 200, {}, {150}}};
    device.destinations = {out};
    backend->SetDevices({device});
    const HMIXER h = open(0);
    const MIXERCONTROL volume = control(h, destination(h, 0).dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(volume.lMinimum, 100);
    EXPECT_EQ(volume.lMaximum, 200);
    EXPECT_EQ(mixerSetControlDetails(h, volume.dwControlID, {99}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, volume.dwControlID, {201}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(h, volume.dwControlID, {100}), MMSYSERR_NOERROR);
    EXPECT_EQ(backend->Values(0, 0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{100});
}

TEST_F(MixerService, EachCallCanBeMadeToFailOnce)
{
    const HMIXER h = open(0);
    const std::uint32_t volume = backend->ControlId(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME);
    Values values;
    MIXERCONTROL c;

    backend->FailNext("GetLineInfo", MMSYSERR_NOMEM);
    destination(h, 1, MMSYSERR_NOMEM);
    destination(h, 1);

    backend->FailNext("GetLineControl", MMSYSERR_ERROR);
    EXPECT_EQ(mixerGetLineControls(h, backend->LineId(0, 1, 0), MIXERCONTROL_CONTROLTYPE_VOLUME, c),
              MMSYSERR_ERROR);
    EXPECT_EQ(mixerGetLineControls(h, backend->LineId(0, 1, 0), MIXERCONTROL_CONTROLTYPE_VOLUME, c),
              MMSYSERR_NOERROR);

    backend->FailNext("GetControlDetails", MMSYSERR_NODRIVER);
    EXPECT_EQ(mixerGetControlDetails(h, volume, values), MMSYSERR_NODRIVER);
    EXPECT_EQ(mixerGetControlDetails(h, volume, values), MMSYSERR_NOERROR);

    backend->FailNext("SetControlDetails", MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(mixerSetControlDetails(h, volume, {5}), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(backend->Values(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{32768});
    EXPECT_EQ(mixerSetControlDetails(h, volume, {5}), MMSYSERR_NOERROR);
    EXPECT_EQ(backend->Values(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{5});

    backend->FailNext("Open", MMSYSERR_ALLOCATED);
    HMIXER refused = 0;
    EXPECT_EQ(mixerOpen(&refused, 0, {}), MMSYSERR_ALLOCATED);
    EXPECT_EQ(refused, 0u);
    EXPECT_EQ(backend->OpenMixers(), 1);
    open(0);
}

TEST_F(MixerService, ChangesElsewhereReachEveryOpenMixerOfThatCardWithItsHandle)
{
    Listener first, second, other;
    const HMIXER a = open(0, first.Callback());
    const HMIXER b = open(0, second.Callback());
    const HMIXER usb = open(1, other.Callback());
    const HMIXER deaf = open(0); // no callback: nothing to tell, nothing to break

    const std::uint32_t volume = backend->ControlId(0, 1, 2, MIXERCONTROL_CONTROLTYPE_VOLUME);
    backend->ChangeElsewhere(0, 1, 2, MIXERCONTROL_CONTROLTYPE_VOLUME, {100}, true);
    const std::uint32_t line = backend->LineId(0, 1, 2);
    EXPECT_EQ(first.Heard_(),
              (std::vector<Heard>{{MM_MIXM_CONTROL_CHANGE, a, volume}, {MM_MIXM_LINE_CHANGE, a, line}}));
    EXPECT_EQ(second.Heard_(),
              (std::vector<Heard>{{MM_MIXM_CONTROL_CHANGE, b, volume}, {MM_MIXM_LINE_CHANGE, b, line}}));
    EXPECT_TRUE(other.Heard_().empty());
    Values values;
    ASSERT_EQ(mixerGetControlDetails(deaf, volume, values), MMSYSERR_NOERROR);
    EXPECT_EQ(values, Values{100});

    // A value set through one mixer is news for all of them, that one included.
    const std::uint32_t selector = backend->ControlId(1, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX);
    ASSERT_EQ(mixerSetControlDetails(usb, selector, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(other.Heard_(), (std::vector<Heard>{{MM_MIXM_CONTROL_CHANGE, usb, selector}}));
    EXPECT_EQ(first.Heard_().size(), 2u);

    // A closed mixer hears nothing more.
    ASSERT_EQ(mixerClose(a), MMSYSERR_NOERROR);
    backend->ChangeElsewhere(0, 1, -1, MIXERCONTROL_CONTROLTYPE_MUX, {1, 0, 0});
    EXPECT_EQ(first.Heard_().size(), 2u);
    EXPECT_EQ(second.Heard_().size(), 3u);

    EXPECT_THROW(backend->ChangeElsewhere(0, 1, 7, MIXERCONTROL_CONTROLTYPE_VOLUME, {1}),
                 std::invalid_argument);
    EXPECT_THROW(backend->ChangeElsewhere(0, 1, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, {1}),
                 std::invalid_argument);
    EXPECT_THROW(backend->ChangeElsewhere(5, 0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, {1}),
                 std::invalid_argument);
}

TEST_F(MixerService, NotificationsComeOnTheThreadThatChanged)
{
    Listener listener;
    open(0, listener.Callback());
    std::thread elsewhere([this] { backend->ChangeElsewhere(0, 0, -1, MIXERCONTROL_CONTROLTYPE_MUTE, {1}); });
    const std::thread::id changer = elsewhere.get_id();
    elsewhere.join();
    ASSERT_EQ(listener.Heard_().size(), 1u);
    EXPECT_EQ(listener.Threads(), std::set<std::thread::id>{changer});
}

TEST_F(MixerService, NoNotificationOnceCloseHasReturned)
{
    // Changes keep coming from another thread while the mixer closes: once mixerClose has returned, the
    // callback must never run again, or the owner it points to may be gone.
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> closed{false}, stop{false};
        std::atomic<int> late{0}, calls{0};
        HMIXER h = 0;
        ASSERT_EQ(mixerOpen(&h, 0,
                            [&](std::uint32_t, HMIXER, std::uint32_t) {
                                ++calls;
                                if (closed)
                                    ++late;
                            }),
                  MMSYSERR_NOERROR);
        std::thread changer([&] {
            std::uint32_t v = 0;
            while (!stop)
                backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {v++ % 65536});
        });
        while (calls < 5) // the changer is running
            std::this_thread::yield();
        ASSERT_EQ(mixerClose(h), MMSYSERR_NOERROR);
        closed = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stop = true;
        changer.join();
        EXPECT_EQ(late, 0) << "round " << round;
    }
}

TEST_F(MixerService, ANotificationMayCloseItsOwnMixer)
{
    HMIXER h = 0;
    MMRESULT closing = MMSYSERR_ERROR;
    ASSERT_EQ(
        mixerOpen(&h, 0, [&](std::uint32_t, HMIXER mixer, std::uint32_t) { closing = mixerClose(mixer); }),
        MMSYSERR_NOERROR);
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_MUTE, {1}, true);
    EXPECT_EQ(closing, MMSYSERR_NOERROR);
    EXPECT_EQ(backend->OpenMixers(), 0);
}

TEST_F(MixerService, APipeWakesTheOwnerWhoDeliversOnItsOwnThread)
{
    backend->UsePollDescriptors(true);
    Listener listener;
    const HMIXER h = open(0, listener.Callback());
    const std::vector<int> fds = mixerGetPollDescriptors(h);
    ASSERT_EQ(fds.size(), 1u);
    EXPECT_FALSE(readable(fds[0]));

    std::thread elsewhere([this] {
        backend->ChangeElsewhere(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME, {7});
        backend->ChangeElsewhere(0, 1, 2, MIXERCONTROL_CONTROLTYPE_MUTE, {1}, true);
    });
    elsewhere.join();
    EXPECT_TRUE(listener.Heard_().empty()) << "nothing is delivered before the owner asks";
    EXPECT_TRUE(readable(fds[0]));

    mixerHandleEvents(h);
    EXPECT_EQ(listener.Heard_(),
              (std::vector<Heard>{
                  {MM_MIXM_CONTROL_CHANGE, h, backend->ControlId(0, 1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME)},
                  {MM_MIXM_CONTROL_CHANGE, h, backend->ControlId(0, 1, 2, MIXERCONTROL_CONTROLTYPE_MUTE)},
                  {MM_MIXM_LINE_CHANGE, h, backend->LineId(0, 1, 2)}}));
    EXPECT_EQ(listener.Threads(), std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_FALSE(readable(fds[0])) << "the pipe is drained";
    mixerHandleEvents(h);
    EXPECT_EQ(listener.Heard_().size(), 3u);

    // Mixers opened before the switch keep being told directly.
    backend->UsePollDescriptors(false);
    Listener direct;
    const HMIXER d = open(0, direct.Callback());
    EXPECT_TRUE(mixerGetPollDescriptors(d).empty());
    backend->ChangeElsewhere(0, 1, 0, MIXERCONTROL_CONTROLTYPE_MUTE, {1});
    EXPECT_EQ(direct.Heard_().size(), 1u);
    EXPECT_EQ(listener.Heard_().size(), 3u);
}

TEST_F(MixerService, ACardWithoutRecordingSourcesHasNoSelector)
{
    backend->SetDevices({VirtualMixerBackend::Card("Muette", {})});
    const HMIXER h = open(0);
    const MIXERLINE recording = destination(h, 1);
    EXPECT_EQ(recording.cConnections, 0u);
    control(h, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, MIXERR_INVALCONTROL);
}

TEST_F(MixerService, LongNamesAreCutBetweenCharacters)
{
    const std::string longName =
        "Entrée analogique à l'arrière du boîtier, prise rose pour le micro à électret";
    backend->SetDevices({VirtualMixerBackend::Card("Périphérique audio intégré très élaboré", {longName})});
    const HMIXER h = open(0);
    const MIXERLINE s = source(h, 1, 0);
    EXPECT_EQ(s.szName, "Entrée analogique à l'arrière du boîtier, prise rose pour le mic");
    EXPECT_EQ(s.szShortName, "Entrée analogiqu");
    MIXERCAPS caps;
    ASSERT_EQ(mixerGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Périphérique audio intégré très ");

    EXPECT_EQ(MixerNameField("été", 2), "ét");
    EXPECT_EQ(MixerNameField("été", 3), "été");
    EXPECT_EQ(MixerNameField("été", 10), "été");
    EXPECT_EQ(MixerNameField("abc", 0), "");
    EXPECT_EQ(s.szName.size(), 64u + 4u) << "64 characters, 4 of them two bytes long";
}

} // namespace
