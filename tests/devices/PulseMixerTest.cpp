// The mixer component as the recording window uses it, on the sound server's mixer: the private server
// scripts/pulse-test-server.sh starts for ctest. The server is changed with pactl, as the desktop's sound
// settings would change it.
#include "devices/WaveMixer.h"
#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "platform/sound/WaveInService.h"
#include "platform/sound/WaveOutService.h"
#include "support/ProcessEvents.h"
#include "support/PulseTestServer.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kMicro = "sonalto_composant_micro";
const char* const kSink = "sonalto_composant_d";
const char* const kMonitor = "sonalto_composant_d.monitor";

struct ControlEvent
{
    int line;
    TMixerControlType kind;
    bool onGuiThread;
};

class PulseAudioMixer : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_problem = PrivateServerUnusable([] {
            s_mixer = CreatePulseMixerBackend();
            s_input = CreatePulseWaveInBackend();
            return s_mixer && s_input;
        });
    }

    static void TearDownTestSuite()
    {
        s_mixer.reset();
        s_input.reset();
    }

    void SetUp() override
    {
        if (!s_problem.empty())
            SONALTO_WITHOUT_SOUND_SERVER(s_problem);
        SelectCaptureSource("");
        SetCurrentMixerBackend(s_mixer);
        SetCurrentWaveInBackend(s_input);
        m_defaultSource = DefaultSource();
        m_sink = NullSink(kSink, "Poste élève D");
        m_micro = NullSource(kMicro, "Micro du bureau");
        ASSERT_TRUE(m_sink->Loaded() && m_micro->Loaded()) << "pactl load-module a échoué";
    }

    void TearDown() override
    {
        m_micro.reset();
        m_sink.reset();
        RestoreDefaultSource(m_defaultSource);
        SelectCaptureSource("");
        SetCurrentMixerBackend(nullptr);
        SetCurrentWaveInBackend(nullptr);
    }

    static std::shared_ptr<MixerBackend> s_mixer;
    static std::shared_ptr<WaveInBackend> s_input;
    static std::string s_problem;
    std::unique_ptr<LoadedModule> m_sink, m_micro;
    std::string m_defaultSource;
};

std::shared_ptr<MixerBackend> PulseAudioMixer::s_mixer;
std::shared_ptr<WaveInBackend> PulseAudioMixer::s_input;
std::string PulseAudioMixer::s_problem;

TEST_F(PulseAudioMixer, TheRecordingWindowsMixerOnTheSoundServer)
{
    TAudioMixer mixer;
    ASSERT_EQ(mixer.OpenResult(), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer.MixerName(), "Serveur son");
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.DestinationName(), "Enregistrement");

    // The lines as the desktop names the sources, real inputs first.
    const std::vector<ServerSource> expected = ExpectedMixerLines();
    ASSERT_EQ(mixer.LineCount(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(mixer.Lines(static_cast<int>(i))->Name(), expected[i].description) << i;
    const std::optional<std::size_t> microAt = PositionOf(expected, kMicro);
    const std::optional<std::size_t> monitorAt = PositionOf(expected, kMonitor);
    ASSERT_EQ(microAt, std::size_t{0}) << "la seule entrée réelle du serveur de test vient en premier";
    ASSERT_TRUE(monitorAt) << kMonitor;
    ASSERT_GT(*monitorAt, 0u);
    const int micro = static_cast<int>(*microAt);
    const int monitor = static_cast<int>(*monitorAt);
    EXPECT_EQ(mixer.Lines(micro)->Name(), "Micro du bureau");
    EXPECT_NE(mixer.Lines(monitor)->Name().find("Poste élève D"), std::string::npos);

    std::vector<ControlEvent> events;
    mixer.OnControlChange = [&](TAudioMixer* sender, TAudioMixerLine* line, TMixerControlType kind) {
        EXPECT_EQ(sender, &mixer);
        events.push_back(
            {line->Index(), kind, QThread::currentThread() == QCoreApplication::instance()->thread()});
    };
    const auto heard = [&events](int line, TMixerControlType kind) {
        return std::any_of(events.begin(), events.end(),
                           [&](const ControlEvent& e) { return e.line == line && e.kind == kind; });
    };

    // The volume in percent, as the server shows it.
    TAudioMixerLine* line = mixer.Lines(micro);
    line->SetVolume(40);
    EXPECT_EQ(line->LastError(), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{40, 40}));
    EXPECT_EQ(line->Volume(), 40);
    // Its own change comes back as news too; then one made elsewhere.
    ASSERT_TRUE(ProcessUntil([&] { return heard(micro, mcVolume); }));
    events.clear();
    ASSERT_EQ(Pactl({"set-source-volume", kMicro, "65%"}).status, 0);
    ASSERT_TRUE(ProcessUntil([&] { return heard(micro, mcVolume); }));
    EXPECT_EQ(line->Volume(), 65);
    Pactl({"set-source-mute", kMicro, "1"});
    ASSERT_TRUE(ProcessUntil([&] { return heard(micro, mcMute); }));
    EXPECT_TRUE(std::all_of(events.begin(), events.end(), [](const ControlEvent& e) {
        return e.onGuiThread;
    })) << "les événements arrivent sur le fil de l'interface";

    // The choice of source is the recorder's: the input device is named after it, the desktop's default
    // stays.
    events.clear();
    const std::string desktopDefault = DefaultSource();
    ASSERT_NE(desktopDefault, kMonitor);
    mixer.DestinationLine()->SelectSource(monitor);
    EXPECT_EQ(mixer.DestinationLine()->LastError(), MMSYSERR_NOERROR);
    EXPECT_EQ(SelectedCaptureSource(), kMonitor);
    WAVEINCAPS caps;
    ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, mixer.Lines(monitor)->Name());
    EXPECT_EQ(DefaultSource(), desktopDefault);
    ASSERT_TRUE(ProcessUntil([&] { return heard(-1, mcSelect); }));
    mixer.DestinationLine()->SelectSource(micro);
    EXPECT_EQ(SelectedCaptureSource(), kMicro);
    ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Micro du bureau");

    // A recorder plugged in: the recording destination line changed.
    std::vector<int> changedLines;
    mixer.OnLineChange = [&changedLines](TAudioMixer*, TAudioMixerLine* changed) {
        changedLines.push_back(changed->Index());
    };
    const auto plugged = NullSource("sonalto_composant_usb", "Micro USB");
    ASSERT_TRUE(plugged->Loaded());
    ASSERT_TRUE(ProcessUntil(
        [&] { return std::find(changedLines.begin(), changedLines.end(), -1) != changedLines.end(); }));
}

} // namespace
