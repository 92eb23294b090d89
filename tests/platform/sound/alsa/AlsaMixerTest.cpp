// The ALSA mixer backend. Its arithmetic and the list of recording sources it builds are checked alone;
// without a sound card, a card that does not exist is refused cleanly; and the whole backend runs on the
// control device ALSA offers over the private sound server of scripts/pulse-test-server.sh, which has a
// "Master" playback element and a "Capture" capture element, both with a volume and a switch.
#include "platform/sound/alsa/AlsaMixer.h"

#include "support/PulseTestServer.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <vector>

// How a failed comparison shows a source line.
void PrintTo(const AlsaRecordingSource& s, std::ostream* out)
{
    *out << "{" << s.name << ", " << s.element << ", " << s.choice << "}";
}

namespace {

using Values = std::vector<std::uint32_t>;

TEST(AlsaMixerScale, VolumesMapOntoTheMixerScaleAndBack)
{
    // The sound server's range, one wider than the mixer's.
    EXPECT_EQ(AlsaVolumeToMixer(0, 0, 65536), 0u);
    EXPECT_EQ(AlsaVolumeToMixer(65536, 0, 65536), 65535u);
    EXPECT_EQ(MixerVolumeToAlsa(65535, 0, 65536), 65536);
    EXPECT_EQ(MixerVolumeToAlsa(0, 0, 65536), 0);
    // A range that does not start at zero, halves rounded away from zero.
    EXPECT_EQ(AlsaVolumeToMixer(-3200, -6400, 0), 32768u);
    EXPECT_EQ(AlsaVolumeToMixer(-6400, -6400, 0), 0u);
    EXPECT_EQ(MixerVolumeToAlsa(65535, -6400, 0), 0);
    EXPECT_EQ(MixerVolumeToAlsa(0, -6400, 0), -6400);
    EXPECT_EQ(AlsaVolumeToMixer(15, 10, 20), 32768u);
    // Out of the bounds: clamped.
    EXPECT_EQ(AlsaVolumeToMixer(40, 0, 31), 65535u);
    EXPECT_EQ(AlsaVolumeToMixer(-1, 0, 31), 0u);
    EXPECT_EQ(MixerVolumeToAlsa(70000, 0, 31), 31);
    // A range of one value.
    EXPECT_EQ(AlsaVolumeToMixer(5, 5, 5), 0u);
    EXPECT_EQ(MixerVolumeToAlsa(40000, 5, 5), 5);

    // On a card's small range every step survives the trip, and the mapping never goes backwards.
    for (const long maximum : {1L, 31L, 63L, 100L, 127L, 255L}) {
        std::uint32_t previous = 0;
        for (long v = 0; v <= maximum; ++v) {
            const std::uint32_t mixer = AlsaVolumeToMixer(v, 0, maximum);
            EXPECT_EQ(MixerVolumeToAlsa(mixer, 0, maximum), v) << v << " / " << maximum;
            EXPECT_GE(mixer, previous);
            previous = mixer;
        }
    }
}

TEST(AlsaMixerSources, CaptureElementsComeFirstWithTheirChoiceThenTheChoicesLeft)
{
    using S = std::vector<AlsaRecordingSource>;
    EXPECT_EQ(AlsaRecordingSources({"Capture", "Mic", "Line"}, {"Mic", "Line", "CD", "Front Mic"}),
              (S{{"Capture", 0, -1}, {"Mic", 1, 0}, {"Line", 2, 1}, {"CD", -1, 2}, {"Front Mic", -1, 3}}));
    // Letter case aside.
    EXPECT_EQ(AlsaRecordingSources({"mic"}, {"Mic"}), (S{{"mic", 0, 0}}));
    // Without a capture-source element: the capture elements alone.
    EXPECT_EQ(AlsaRecordingSources({"Capture", "Mic"}, {}), (S{{"Capture", 0, -1}, {"Mic", 1, -1}}));
    // A choice serves one element only.
    EXPECT_EQ(AlsaRecordingSources({"Mic", "Mic"}, {"Mic"}), (S{{"Mic", 0, 0}, {"Mic", 1, -1}}));
    EXPECT_EQ(AlsaRecordingSources({}, {"Mic", "Line"}), (S{{"Mic", -1, 0}, {"Line", -1, 1}}));
    EXPECT_TRUE(AlsaRecordingSources({}, {}).empty());
}

bool machineHasACard()
{
    int card = -1;
    return snd_card_next(&card) == 0 && card >= 0;
}

TEST(AlsaMixerWithoutCard, CardsThatDoNotExistAreRefused)
{
    EXPECT_EQ(CreateAlsaMixerBackend("hw:99"), nullptr);
    EXPECT_EQ(CreateAlsaMixerBackend("hw:AucuneCarte"), nullptr);
    EXPECT_EQ(CreateAlsaMixerBackend("sonalto_aucun_peripherique"), nullptr);
    EXPECT_EQ(CreateAlsaMixerBackend(""), nullptr);
    const auto first = CreateAlsaMixerBackend("default");
    EXPECT_EQ(first != nullptr, machineHasACard());
    if (first) {
        EXPECT_EQ(first->GetNumDevs(), 1u);
        MIXERCAPS caps;
        EXPECT_EQ(first->GetDevCaps(0, caps), MMSYSERR_NOERROR);
        EXPECT_EQ(caps.cDestinations, 2u);
    }
}

TEST(AlsaMixerWithoutCard, TheProgramsMixerHasNoDeviceWithoutACard)
{
    if (machineHasACard())
        GTEST_SKIP() << "cette machine a une carte son";
    SetCurrentMixerBackend(nullptr); // chosen again at first use
    EXPECT_NE(CurrentMixerBackend().Name(), "ALSA");
    if (CurrentMixerBackend().Name() == "virtuel") {
        EXPECT_EQ(mixerGetNumDevs(), 0u);
        HMIXER h = 0;
        EXPECT_EQ(mixerOpen(&h, 0, {}), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(h, 0u);
    }
    SetCurrentMixerBackend(nullptr);
}

// What a mixer's callback was told.
struct Heard
{
    std::uint32_t message;
    HMIXER mixer;
    std::uint32_t id;
};

class AlsaMixerOnSoundServer : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // The control device goes through the private server: its recording volume changes here.
        s_problem = PrivateServerUnusable(
            [] {
                s_backend = CreateAlsaMixerBackend("pulse");
                return s_backend != nullptr;
            },
            "le périphérique de contrôle ALSA \"pulse\" ne s'ouvre pas (greffons ALSA absents ?)");
    }

    static void TearDownTestSuite() { s_backend.reset(); }

    void SetUp() override
    {
        if (!s_backend)
            SONALTO_WITHOUT_SOUND_SERVER(s_problem);
        SetCurrentMixerBackend(s_backend);
        ASSERT_EQ(mixerOpen(&handle, 0,
                            [this](std::uint32_t m, HMIXER h, std::uint32_t id) {
                                heard.push_back({m, h, id});
                            }),
                  MMSYSERR_NOERROR);
        MIXERLINE capture;
        capture.dwDestination = 1;
        capture.dwSource = 0;
        ASSERT_EQ(mixerGetLineInfo(handle, capture, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
        captureLine = capture.dwLineID;
        MIXERCONTROL c;
        ASSERT_EQ(mixerGetLineControls(handle, captureLine, MIXERCONTROL_CONTROLTYPE_VOLUME, c),
                  MMSYSERR_NOERROR);
        volume = c.dwControlID;
        ASSERT_EQ(mixerGetLineControls(handle, captureLine, MIXERCONTROL_CONTROLTYPE_MUTE, c),
                  MMSYSERR_NOERROR);
        mute = c.dwControlID;
    }

    void TearDown() override
    {
        if (handle != 0) {
            // The server's recording as the other tests expect it: full and on.
            EXPECT_EQ(mixerSetControlDetails(handle, volume, {65535}), MMSYSERR_NOERROR);
            EXPECT_EQ(mixerSetControlDetails(handle, mute, {0}), MMSYSERR_NOERROR);
            EXPECT_EQ(mixerClose(handle), MMSYSERR_NOERROR);
        }
        SetCurrentMixerBackend(nullptr);
    }

    Values get(std::uint32_t control)
    {
        Values values;
        EXPECT_EQ(mixerGetControlDetails(handle, control, values), MMSYSERR_NOERROR);
        return values;
    }

    static std::shared_ptr<MixerBackend> s_backend;
    static std::string s_problem;
    HMIXER handle = 0;
    std::uint32_t captureLine = 0, volume = 0, mute = 0;
    std::vector<Heard> heard;
};

std::shared_ptr<MixerBackend> AlsaMixerOnSoundServer::s_backend;
std::string AlsaMixerOnSoundServer::s_problem;

TEST_F(AlsaMixerOnSoundServer, HasAPlaybackAndARecordingDestination)
{
    EXPECT_EQ(s_backend->GetNumDevs(), 1u);
    MIXERCAPS caps;
    ASSERT_EQ(mixerGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_FALSE(caps.szPname.empty());
    EXPECT_EQ(caps.cDestinations, 2u);
    EXPECT_EQ(mixerGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);

    MIXERLINE playback;
    playback.dwDestination = 0;
    ASSERT_EQ(mixerGetLineInfo(handle, playback, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(playback.szName, "Lecture");
    EXPECT_EQ(playback.cConnections, 0u);
    EXPECT_EQ(playback.cControls, 2u) << "the master volume and switch";
    MIXERCONTROL c;
    EXPECT_EQ(mixerGetLineControls(handle, playback.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, c),
              MMSYSERR_NOERROR);
    EXPECT_EQ(c.lMaximum, 65535);
    EXPECT_EQ(mixerGetLineControls(handle, playback.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, c),
              MIXERR_INVALCONTROL);

    MIXERLINE recording;
    recording.dwDestination = 1;
    ASSERT_EQ(mixerGetLineInfo(handle, recording, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(recording.szName, "Enregistrement");
    EXPECT_EQ(recording.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    ASSERT_EQ(recording.cConnections, 1u);
    EXPECT_EQ(recording.cControls, 1u) << "the selector only";
    ASSERT_EQ(mixerGetLineControls(handle, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, c),
              MMSYSERR_NOERROR);
    EXPECT_EQ(c.cMultipleItems, 1u);

    MIXERLINE capture;
    capture.dwLineID = captureLine;
    ASSERT_EQ(mixerGetLineInfo(handle, capture, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
    EXPECT_EQ(capture.szName, "Capture");
    EXPECT_EQ(capture.dwDestination, 1u);
    EXPECT_EQ(capture.dwSource, 0u);
    EXPECT_EQ(capture.cControls, 2u);

    capture.dwSource = 1;
    EXPECT_EQ(mixerGetLineInfo(handle, capture, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);
    playback.dwDestination = 2;
    EXPECT_EQ(mixerGetLineInfo(handle, playback, MIXER_GETLINEINFOF_DESTINATION), MIXERR_INVALLINE);
    EXPECT_EQ(mixerGetLineInfo(handle, playback, 9), MMSYSERR_INVALFLAG);
    EXPECT_EQ(mixerGetLineControls(handle, 0x12345, MIXERCONTROL_CONTROLTYPE_VOLUME, c), MIXERR_INVALLINE);
}

TEST_F(AlsaMixerOnSoundServer, TheRecordingVolumeGoesToTheServerAndBack)
{
    ASSERT_EQ(mixerSetControlDetails(handle, volume, {0}), MMSYSERR_NOERROR);
    EXPECT_EQ(get(volume), Values{0});
    ASSERT_EQ(mixerSetControlDetails(handle, volume, {65535}), MMSYSERR_NOERROR);
    EXPECT_EQ(get(volume), Values{65535});
    ASSERT_EQ(mixerSetControlDetails(handle, volume, {32768}), MMSYSERR_NOERROR);
    EXPECT_EQ(get(volume), Values{32768});

    // A second mixer of its own sees the same value: it went through the server.
    HMIXER other = 0;
    ASSERT_EQ(mixerOpen(&other, 0, {}), MMSYSERR_NOERROR);
    Values seen;
    EXPECT_EQ(mixerGetControlDetails(other, volume, seen), MMSYSERR_NOERROR);
    EXPECT_EQ(seen, Values{32768});
    EXPECT_EQ(mixerClose(other), MMSYSERR_NOERROR);

    EXPECT_EQ(mixerSetControlDetails(handle, volume, {65536}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(handle, volume, {1, 2}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerSetControlDetails(handle, 0x7777, {1}), MIXERR_INVALCONTROL);
    EXPECT_EQ(get(volume), Values{32768});
}

TEST_F(AlsaMixerOnSoundServer, TheCaptureSwitchIsBothMuteAndSelector)
{
    MIXERLINE recording;
    recording.dwDestination = 1;
    ASSERT_EQ(mixerGetLineInfo(handle, recording, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    MIXERCONTROL c;
    ASSERT_EQ(mixerGetLineControls(handle, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, c),
              MMSYSERR_NOERROR);
    const std::uint32_t selector = c.dwControlID;

    ASSERT_EQ(mixerSetControlDetails(handle, mute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(get(mute), Values{1});
    EXPECT_EQ(get(selector), Values{0}) << "a muted source is not recorded from";
    ASSERT_EQ(mixerSetControlDetails(handle, selector, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(get(mute), Values{0});
    EXPECT_EQ(get(selector), Values{1});

    EXPECT_EQ(mixerSetControlDetails(handle, selector, {0}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixerSetControlDetails(handle, selector, {1, 0}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerSetControlDetails(handle, mute, {2}), MIXERR_INVALVALUE);
    EXPECT_EQ(get(mute), Values{0});
}

TEST_F(AlsaMixerOnSoundServer, AnotherMixersChangeWakesItsDescriptorsAndIsTold)
{
    std::vector<Heard> told;
    HMIXER watcher = 0;
    ASSERT_EQ(mixerOpen(&watcher, 0,
                        [&](std::uint32_t m, HMIXER h, std::uint32_t id) {
                            told.push_back({m, h, id});
                        }),
              MMSYSERR_NOERROR);
    const std::vector<int> fds = mixerGetPollDescriptors(watcher);
    ASSERT_FALSE(fds.empty());
    // Whatever was pending from the open is read first.
    mixerHandleEvents(watcher);
    told.clear();

    ASSERT_EQ(mixerSetControlDetails(handle, volume, {1000}), MMSYSERR_NOERROR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    bool toldOfVolume = false;
    std::vector<pollfd> p;
    p.reserve(fds.size());
    for (const int fd : fds)
        p.push_back({fd, POLLIN, 0});
    while (!toldOfVolume && std::chrono::steady_clock::now() < deadline) {
        if (::poll(p.data(), p.size(), 100) > 0)
            mixerHandleEvents(watcher);
        for (const Heard& h : told)
            toldOfVolume = toldOfVolume || (h.message == MM_MIXM_CONTROL_CHANGE && h.id == volume);
    }
    EXPECT_TRUE(toldOfVolume) << "the watcher's descriptors never told of the volume change";
    for (const Heard& h : told)
        EXPECT_EQ(h.mixer, watcher);
    EXPECT_EQ(mixerClose(watcher), MMSYSERR_NOERROR);
}

} // namespace
