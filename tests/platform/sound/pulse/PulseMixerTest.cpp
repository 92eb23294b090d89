// The sound server's mixer against a real server: the private one scripts/pulse-test-server.sh starts for
// ctest. The test changes the server the way the desktop's sound settings would, with pactl, and looks at
// what the mixer shows and tells; what the mixer sets it checks with pactl too.
#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "platform/sound/MixerService.h"
#include "platform/sound/pulse/PulseConnection.h"
#include "support/PulseTestServer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Values = std::vector<std::uint32_t>;

const char* const kMicro = "sonalto_mixer_micro";
// Longer than a line's name may be, with accented letters before the cut.
const std::string kLongDescription =
    "Micro de la salle de musique, poste du professeur, côté de la fenêtre à gauche près du piano";

std::string SourceMute(const std::string& source)
{
    return Trimmed(Pactl({"get-source-mute", source}).out);
}

// ---- What the mixer tells ---------------------------------------------------------------------------

struct Heard
{
    std::uint32_t message;
    std::uint32_t id;
};

// The mixer's notifications, from whatever thread they come, waited for from the test's.
class Notifications
{
public:
    MixerCallback Callback()
    {
        return [this](std::uint32_t message, HMIXER, std::uint32_t id) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_heard.push_back({message, id});
            m_arrived.notify_all();
        };
    }

    std::size_t Count() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_heard.size();
    }

    // Whether that one came, from the first'th on, within the patience.
    bool Saw(std::uint32_t message, std::uint32_t id, std::size_t first)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, kPatience, [&] { return CountLocked(message, id, first) > 0; });
    }

    std::size_t CountOf(std::uint32_t message, std::uint32_t id, std::size_t first) const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return CountLocked(message, id, first);
    }

private:
    std::size_t CountLocked(std::uint32_t message, std::uint32_t id, std::size_t first) const
    {
        std::size_t count = 0;
        for (std::size_t i = first; i < m_heard.size(); ++i)
            if (m_heard[i].message == message && m_heard[i].id == id)
                ++count;
        return count;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Heard> m_heard;
};

class PulseMixer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_problem = PrivateServerUnusable([] {
            s_backend = CreatePulseMixerBackend();
            return s_backend != nullptr;
        });
    }

    static void TearDownTestSuite() { s_backend.reset(); }

    void SetUp() override
    {
        if (!s_problem.empty())
            SONALTO_WITHOUT_SOUND_SERVER(s_problem);
        SelectCaptureSource("");
        SetCurrentMixerBackend(s_backend);
        m_defaultSource = DefaultSource();
        // Two more outputs, whose monitors are two more lines, and a real input loaded after them: the
        // server lists it after monitors, the mixer must not.
        m_sinkA = NullSink("sonalto_mixer_a", "Poste élève A");
        m_sinkB = NullSink("sonalto_mixer_b", "Poste élève B");
        m_micro = NullSource(kMicro, kLongDescription);
        ASSERT_TRUE(m_sinkA->Loaded() && m_sinkB->Loaded() && m_micro->Loaded())
            << "pactl load-module a échoué";
        ASSERT_EQ(mixerOpen(&m_mixer, 0, m_heard.Callback()), MMSYSERR_NOERROR);
        ASSERT_NE(m_mixer, 0u);
    }

    void TearDown() override
    {
        if (m_mixer != 0) {
            EXPECT_EQ(mixerClose(m_mixer), MMSYSERR_NOERROR);
        }
        m_micro.reset();
        m_sinkB.reset();
        m_sinkA.reset();
        RestoreDefaultSource(m_defaultSource);
        SelectCaptureSource("");
        SetCurrentMixerBackend(nullptr);
    }

    MIXERLINE Destination(std::uint32_t destination)
    {
        MIXERLINE line;
        line.dwDestination = destination;
        EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
        return line;
    }

    std::vector<MIXERLINE> Lines()
    {
        std::vector<MIXERLINE> lines;
        const std::uint32_t count = Destination(1).cConnections;
        for (std::uint32_t i = 0; i < count; ++i) {
            MIXERLINE line;
            line.dwDestination = 1;
            line.dwSource = i;
            EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR) << i;
            lines.push_back(line);
        }
        return lines;
    }

    // The control's identifier; 0 when the line has none of the type.
    std::uint32_t ControlId(std::uint32_t lineId, std::uint32_t type)
    {
        MIXERCONTROL control;
        if (mixerGetLineControls(m_mixer, lineId, type, control) != MMSYSERR_NOERROR)
            return 0;
        return control.dwControlID;
    }

    Values Get(std::uint32_t controlId)
    {
        Values values;
        EXPECT_EQ(mixerGetControlDetails(m_mixer, controlId, values), MMSYSERR_NOERROR);
        return values;
    }

    MMRESULT Set(std::uint32_t controlId, const Values& values)
    {
        return mixerSetControlDetails(m_mixer, controlId, values);
    }

    // The source line of that server name.
    MIXERLINE LineOf(const std::string& source)
    {
        const std::optional<std::size_t> position = PositionOf(ExpectedMixerLines(), source);
        const std::vector<MIXERLINE> lines = Lines();
        if (position && *position < lines.size())
            return lines[*position];
        ADD_FAILURE() << source << ": aucune ligne de ce nom";
        return MIXERLINE{};
    }

    static std::shared_ptr<MixerBackend> s_backend;
    static std::string s_problem;
    std::unique_ptr<LoadedModule> m_sinkA, m_sinkB, m_micro;
    std::string m_defaultSource;
    Notifications m_heard;
    HMIXER m_mixer = 0;
};

std::shared_ptr<MixerBackend> PulseMixer::s_backend;
std::string PulseMixer::s_problem;

// ---- The device and its destinations --------------------------------------------------------------

TEST_F(PulseMixer, OneMixerWithThePlaybackAndTheRecordingDestination)
{
    EXPECT_EQ(s_backend->Name(), "PulseAudio");
    // The program's own choice, when a server answers.
    SetCurrentMixerBackend(nullptr);
    EXPECT_EQ(CurrentMixerBackend().Name(), "PulseAudio");
    SetCurrentMixerBackend(s_backend);
    EXPECT_EQ(mixerGetNumDevs(), 1u);
    MIXERCAPS caps;
    ASSERT_EQ(mixerGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Serveur son");
    EXPECT_EQ(caps.cDestinations, 2u);

    const MIXERLINE playback = Destination(0);
    EXPECT_EQ(playback.szName, "Lecture");
    EXPECT_EQ(playback.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(playback.cConnections, 0u);
    EXPECT_EQ(playback.cControls, 2u);
    MIXERCONTROL volume;
    ASSERT_EQ(mixerGetLineControls(m_mixer, playback.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, volume),
              MMSYSERR_NOERROR);
    EXPECT_EQ(volume.lMinimum, 0);
    EXPECT_EQ(volume.lMaximum, 65535);
    const std::uint32_t mute = ControlId(playback.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_NE(mute, 0u);
    EXPECT_EQ(ControlId(playback.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX), 0u);

    const MIXERLINE recording = Destination(1);
    EXPECT_EQ(recording.szName, "Enregistrement");
    EXPECT_EQ(recording.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    EXPECT_EQ(recording.cConnections, ServerSources().size());
    EXPECT_EQ(recording.cControls, 1u);
    MIXERCONTROL selector;
    ASSERT_EQ(mixerGetLineControls(m_mixer, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, selector),
              MMSYSERR_NOERROR);
    EXPECT_EQ(selector.cMultipleItems, recording.cConnections);
    EXPECT_NE(selector.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE, 0u);
    EXPECT_EQ(ControlId(recording.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME), 0u);

    // The playback destination is the default sink: its volume and mute, both ways.
    const std::vector<int> sinkBefore = Percents(Pactl({"get-sink-volume", "@DEFAULT_SINK@"}).out);
    ASSERT_FALSE(sinkBefore.empty());
    ASSERT_EQ(Set(volume.dwControlID, {32768}), MMSYSERR_NOERROR);
    EXPECT_EQ(Percents(Pactl({"get-sink-volume", "@DEFAULT_SINK@"}).out),
              std::vector<int>(sinkBefore.size(), 50));
    EXPECT_EQ(Get(volume.dwControlID), Values{32768});
    ASSERT_EQ(Set(mute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(Trimmed(Pactl({"get-sink-mute", "@DEFAULT_SINK@"}).out), "Mute: yes");
    const std::size_t from = m_heard.Count();
    Pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
    EXPECT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, mute, from));
    EXPECT_EQ(Get(mute), Values{0});
    // The mute's news came after the mixer's own volume change's: what comes now is the next one.
    const std::size_t fromVolume = m_heard.Count();
    Pactl({"set-sink-volume", "@DEFAULT_SINK@", "25%"});
    EXPECT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume.dwControlID, fromVolume));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, mute, fromVolume), 0u);
    EXPECT_NEAR(Get(volume.dwControlID).at(0), 16384, 1);

    std::vector<std::string> restore{"set-sink-volume", "@DEFAULT_SINK@"};
    for (const int p : sinkBefore)
        restore.push_back(std::to_string(p) + "%");
    Pactl(restore);
}

// ---- The recording destination's lines ------------------------------------------------------------

TEST_F(PulseMixer, TheRecordingLinesAreTheServersSourcesRealInputsFirst)
{
    const std::vector<ServerSource> server = ServerSources();
    // Otherwise the order would prove nothing.
    const std::optional<std::size_t> micro = PositionOf(server, kMicro);
    ASSERT_TRUE(micro);
    ASSERT_TRUE(std::any_of(server.begin(), server.begin() + static_cast<long>(*micro),
                            [](const ServerSource& s) { return s.monitor; }))
        << "le serveur devrait lister l'entrée chargée après des moniteurs";

    const std::vector<ServerSource> expected = ExpectedMixerLines();
    const std::vector<MIXERLINE> lines = Lines();
    ASSERT_EQ(lines.size(), expected.size());
    std::size_t realInputs = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(lines[i].dwDestination, 1u);
        EXPECT_EQ(lines[i].dwSource, i);
        EXPECT_NE(lines[i].fdwLine & MIXERLINE_LINEF_SOURCE, 0u);
        EXPECT_EQ(lines[i].cControls, 2u);
        EXPECT_EQ(lines[i].dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_ANALOG, expected[i].monitor);
        if (expected[i].name == kMicro) {
            // 64 characters, cut between two of them: the bytes would have cut elsewhere.
            EXPECT_EQ(lines[i].szName, "Micro de la salle de musique, poste du professeur, côté de la fe");
            EXPECT_EQ(lines[i].szShortName, "Micro de la sall");
        } else {
            EXPECT_EQ(lines[i].szName, expected[i].description);
        }
        if (!expected[i].monitor)
            ++realInputs;
    }
    EXPECT_EQ(realInputs, 1u) << "une seule entrée réelle sur le serveur de test";
    // The monitors of the outputs loaded here, named after them.
    for (const char* description : {"Poste élève A", "Poste élève B"})
        EXPECT_TRUE(std::any_of(
            lines.begin() + static_cast<long>(realInputs), lines.end(),
            [description](const MIXERLINE& l) { return l.szName.find(description) != std::string::npos; }))
            << description;

    // Identifiers: unique in the open mixer, line and control ones never the same.
    std::set<std::uint32_t> lineIds{Destination(0).dwLineID, Destination(1).dwLineID};
    std::set<std::uint32_t> controlIds{ControlId(Destination(0).dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME),
                                       ControlId(Destination(0).dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE),
                                       ControlId(Destination(1).dwLineID, MIXERCONTROL_CONTROLTYPE_MUX)};
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> controlsOf;
    for (const MIXERLINE& line : lines) {
        lineIds.insert(line.dwLineID);
        const std::uint32_t volume = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
        const std::uint32_t mute = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
        EXPECT_NE(volume, 0u);
        EXPECT_NE(mute, 0u);
        EXPECT_EQ(ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX), 0u);
        controlIds.insert({volume, mute});
        controlsOf[line.dwLineID] = {volume, mute};
    }
    EXPECT_EQ(lineIds.size(), lines.size() + 2);
    EXPECT_EQ(controlIds.size(), 2 * lines.size() + 3);
    for (const std::uint32_t id : controlIds)
        EXPECT_EQ(lineIds.count(id), 0u) << id;

    // A source keeps its identifiers while it exists, wherever a new one puts it.
    const std::size_t from = m_heard.Count();
    const auto second = NullSource("sonalto_mixer_micro2", "Micro du fond");
    ASSERT_TRUE(second->Loaded());
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_LINE_CHANGE, Destination(1).dwLineID, from));
    const std::vector<MIXERLINE> after = Lines();
    ASSERT_EQ(after.size(), lines.size() + 1);
    EXPECT_EQ(after[realInputs].szName, "Micro du fond") << "après les entrées réelles, avant les moniteurs";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        MIXERLINE found;
        found.dwLineID = lines[i].dwLineID;
        ASSERT_EQ(mixerGetLineInfo(m_mixer, found, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
        EXPECT_EQ(found.szName, lines[i].szName);
        EXPECT_EQ(found.dwSource, i < realInputs ? i : i + 1);
        EXPECT_EQ(after[found.dwSource].dwLineID, lines[i].dwLineID);
        EXPECT_EQ(ControlId(found.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME),
                  controlsOf[lines[i].dwLineID].first);
        EXPECT_EQ(ControlId(found.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE),
                  controlsOf[lines[i].dwLineID].second);
    }
}

TEST_F(PulseMixer, SourcesComingAndGoingChangeTheRecordingLine)
{
    const MIXERLINE recording = Destination(1);
    const std::size_t from = m_heard.Count();
    auto sink = NullSink("sonalto_mixer_c", "Poste élève C");
    ASSERT_TRUE(sink->Loaded());
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_LINE_CHANGE, recording.dwLineID, from));
    EXPECT_EQ(Destination(1).cConnections, recording.cConnections + 1);
    MIXERCONTROL selector;
    ASSERT_EQ(mixerGetLineControls(m_mixer, recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, selector),
              MMSYSERR_NOERROR);
    EXPECT_EQ(selector.cMultipleItems, recording.cConnections + 1);
    // The newest monitor comes last.
    const MIXERLINE added = Lines().back();
    EXPECT_NE(added.szName.find("Poste élève C"), std::string::npos) << added.szName;
    const std::uint32_t volume = ControlId(added.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_NE(volume, 0u);
    EXPECT_EQ(Get(volume).size(), 1u);

    const std::size_t beforeRemoval = m_heard.Count();
    sink->Unload();
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_LINE_CHANGE, recording.dwLineID, beforeRemoval));
    EXPECT_EQ(Destination(1).cConnections, recording.cConnections);
    // What was the line's is gone with it.
    MIXERLINE gone;
    gone.dwLineID = added.dwLineID;
    EXPECT_EQ(mixerGetLineInfo(m_mixer, gone, MIXER_GETLINEINFOF_LINEID), MIXERR_INVALLINE);
    MIXERCONTROL control;
    EXPECT_EQ(mixerGetLineControls(m_mixer, added.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control),
              MIXERR_INVALLINE);
    Values values;
    EXPECT_EQ(mixerGetControlDetails(m_mixer, volume, values), MIXERR_INVALCONTROL);
    EXPECT_EQ(Set(volume, {100}), MIXERR_INVALCONTROL);
}

// ---- Volume and mute --------------------------------------------------------------------------------

TEST_F(PulseMixer, VolumeGoesBothWaysAndKeepsTheBalance)
{
    const MIXERLINE line = LineOf(kMicro);
    const std::uint32_t volume = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_NE(volume, 0u);
    ASSERT_NE(mute, 0u);

    // 40 % of the normal volume, on every channel; a change for every open mixer, this one too.
    std::size_t from = m_heard.Count();
    ASSERT_EQ(Set(volume, {26214}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{40, 40}));
    EXPECT_EQ(Get(volume), Values{26214});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume, from));

    // Changed elsewhere: news of the volume alone, which reads as the louder channel.
    from = m_heard.Count();
    ASSERT_EQ(Pactl({"set-source-volume", kMicro, "30%", "60%"}).status, 0);
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume, from));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, mute, from), 0u);
    EXPECT_NEAR(Get(volume).at(0), 39321, 1);

    // Set here, the balance stays.
    from = m_heard.Count();
    ASSERT_EQ(Set(volume, {32768}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{25, 50}));
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume, from));

    // Above the normal volume reads as the maximum; louder still is no news.
    from = m_heard.Count();
    Pactl({"set-source-volume", kMicro, "150%"});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume, from));
    EXPECT_EQ(Get(volume), Values{65535});
    from = m_heard.Count();
    Pactl({"set-source-volume", kMicro, "160%"});
    Pactl({"set-source-mute", kMicro, "1"});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, mute, from));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, volume, from), 0u);

    // Silent channels have no balance left: all get the volume.
    ASSERT_EQ(Set(volume, {0}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{0, 0}));
    ASSERT_EQ(Set(volume, {65535}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{100, 100}));
    EXPECT_EQ(Get(volume), Values{65535});
}

TEST_F(PulseMixer, MuteGoesBothWays)
{
    const MIXERLINE line = LineOf(kMicro);
    const std::uint32_t volume = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = ControlId(line.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_NE(mute, 0u);
    EXPECT_EQ(SourceMute(kMicro), "Mute: no");
    EXPECT_EQ(Get(mute), Values{0});

    std::size_t from = m_heard.Count();
    ASSERT_EQ(Set(mute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourceMute(kMicro), "Mute: yes");
    EXPECT_EQ(Get(mute), Values{1});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, mute, from));

    from = m_heard.Count();
    ASSERT_EQ(Pactl({"set-source-mute", kMicro, "0"}).status, 0);
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, mute, from));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, volume, from), 0u);
    EXPECT_EQ(Get(mute), Values{0});

    // Another source's change is that source's news only.
    const std::string other = ExpectedMixerLines().back().name;
    const std::uint32_t otherMute = ControlId(LineOf(other).dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_NE(otherMute, mute);
    from = m_heard.Count();
    Pactl({"set-source-mute", other, "1"});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, otherMute, from));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, mute, from), 0u);
    EXPECT_EQ(Get(otherMute), Values{1});
    EXPECT_EQ(Get(mute), Values{0});
    Pactl({"set-source-mute", other, "0"});
}

// ---- The selector -------------------------------------------------------------------------------------

TEST_F(PulseMixer, TheSelectorChoosesTheProgramsSourceNotTheDesktopsDefault)
{
    const std::vector<ServerSource> expected = ExpectedMixerLines();
    const std::uint32_t recording = Destination(1).dwLineID;
    MIXERCONTROL selector;
    ASSERT_EQ(mixerGetLineControls(m_mixer, recording, MIXERCONTROL_CONTROLTYPE_MUX, selector),
              MMSYSERR_NOERROR);
    const std::size_t n = selector.cMultipleItems;
    ASSERT_EQ(n, expected.size());
    ASSERT_GE(n, 3u);
    const std::string desktopDefault = DefaultSource();
    ASSERT_FALSE(desktopDefault.empty());

    // Items list the lines backwards: item n - 1 - i is line i.
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(expected[i].name);
        Values values(n, 0);
        values[n - 1 - i] = 1;
        const std::size_t from = m_heard.Count();
        ASSERT_EQ(Set(selector.dwControlID, values), MMSYSERR_NOERROR);
        EXPECT_EQ(SelectedCaptureSource(), expected[i].name);
        EXPECT_EQ(Get(selector.dwControlID), values);
        EXPECT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, selector.dwControlID, from));
    }
    EXPECT_EQ(DefaultSource(), desktopDefault) << "la source par défaut du bureau n'a pas à changer";

    // None chosen, or one that is gone: the server's default source.
    const auto defaultItem = [&](const std::string& source) {
        Values values(n, 0);
        values[n - 1 - PositionOf(expected, source).value()] = 1;
        return values;
    };
    SelectCaptureSource("");
    EXPECT_EQ(Get(selector.dwControlID), defaultItem(desktopDefault));
    SelectCaptureSource("sonalto_nulle_part");
    EXPECT_EQ(Get(selector.dwControlID), defaultItem(desktopDefault));

    // The desktop changes its default while the program has none of its own: the selector shows it.
    SelectCaptureSource("");
    const std::string other = expected[PositionOf(expected, desktopDefault) == std::size_t{0} ? 1 : 0].name;
    std::size_t from = m_heard.Count();
    ASSERT_EQ(Pactl({"set-default-source", other}).status, 0);
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, selector.dwControlID, from));
    EXPECT_EQ(Get(selector.dwControlID), defaultItem(other));

    // With one of its own, the desktop's default is not the selector's business.
    Values first(n, 0);
    first[n - 1] = 1;
    from = m_heard.Count();
    ASSERT_EQ(Set(selector.dwControlID, first), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, selector.dwControlID, from));
    from = m_heard.Count();
    Pactl({"set-default-source", desktopDefault});
    // Events come in order: once the mute's is in, the default's has been looked at.
    const std::uint32_t mute = ControlId(LineOf(kMicro).dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    Pactl({"set-source-mute", kMicro, "1"});
    ASSERT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, mute, from));
    EXPECT_EQ(m_heard.CountOf(MM_MIXM_CONTROL_CHANGE, selector.dwControlID, from), 0u);
    EXPECT_EQ(Get(selector.dwControlID), first);
}

// ---- Bad input ----------------------------------------------------------------------------------------

TEST_F(PulseMixer, BadIdentifiersAndValuesGiveTheirCodes)
{
    HMIXER other = 0;
    EXPECT_EQ(mixerOpen(&other, 1, {}), MMSYSERR_BADDEVICEID);
    MIXERCAPS caps;
    EXPECT_EQ(mixerGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);

    const MIXERLINE recording = Destination(1);
    const MIXERLINE micro = LineOf(kMicro);
    MIXERLINE line;
    line.dwDestination = 2;
    EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_DESTINATION), MIXERR_INVALLINE);
    line.dwDestination = 0; // the playback destination has no source lines
    line.dwSource = 0;
    EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);
    line.dwDestination = 1;
    line.dwSource = recording.cConnections;
    EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);
    EXPECT_EQ(mixerGetLineInfo(m_mixer, line, 7), MMSYSERR_INVALFLAG);
    for (const std::uint32_t id : {0U, micro.dwLineID & 0x7FFFFFFFU, 0x80000000U, 0x8FFFFFF0U, 0xFFFFFFFFU}) {
        line.dwLineID = id;
        EXPECT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_LINEID), MIXERR_INVALLINE) << id;
        MIXERCONTROL control;
        EXPECT_EQ(mixerGetLineControls(m_mixer, id, MIXERCONTROL_CONTROLTYPE_VOLUME, control),
                  MIXERR_INVALLINE)
            << id;
    }
    MIXERCONTROL control;
    EXPECT_EQ(mixerGetLineControls(m_mixer, micro.dwLineID, 0x12345678, control), MIXERR_INVALCONTROL);
    EXPECT_EQ(mixerGetLineControls(m_mixer, micro.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, control),
              MIXERR_INVALCONTROL);

    const std::uint32_t volume = ControlId(micro.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mute = ControlId(micro.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
    const std::uint32_t selector = ControlId(recording.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX);
    ASSERT_NE(volume, 0u);
    Values values;
    for (const std::uint32_t id : {0U, micro.dwLineID, recording.dwLineID, 0x7FFFFFFFU, selector + 1}) {
        EXPECT_EQ(mixerGetControlDetails(m_mixer, id, values), MIXERR_INVALCONTROL) << id;
        EXPECT_EQ(Set(id, {0}), MIXERR_INVALCONTROL) << id;
    }

    ASSERT_EQ(Set(volume, {26214}), MMSYSERR_NOERROR);
    EXPECT_EQ(Set(volume, {65536}), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(volume, {}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Set(volume, {1, 1}), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Set(mute, {2}), MIXERR_INVALVALUE);
    // Refused values leave the server as it was.
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{40, 40}));
    EXPECT_EQ(SourceMute(kMicro), "Mute: no");

    const std::size_t n = recording.cConnections;
    Values none(n, 0), two(n, 0), big(n, 0);
    two[0] = two[1] = 1;
    big[0] = 2;
    EXPECT_EQ(Set(selector, none), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(selector, two), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(selector, big), MIXERR_INVALVALUE);
    EXPECT_EQ(Set(selector, Values(n + 1, 0)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(SelectedCaptureSource(), "");
}

// ---- A server that hangs --------------------------------------------------------------------------------

// Stops a process for a scope, as a server stuck in a loop would be.
class Stopped
{
public:
    explicit Stopped(pid_t pid) : m_pid(pid) { m_stopped = kill(pid, SIGSTOP) == 0; }
    ~Stopped() { Resume(); }
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;

    bool Holds() const { return m_stopped; }
    void Resume()
    {
        if (m_stopped)
            kill(m_pid, SIGCONT);
        m_stopped = false;
    }

private:
    pid_t m_pid;
    bool m_stopped = false;
};

TEST_F(PulseMixer, AHungServerCostsACallNoMoreThanTheReplyTimeout)
{
    const std::optional<pid_t> server = PrivateServerProcess();
    ASSERT_TRUE(server) << "processus du serveur de test introuvable";
    const std::uint32_t volume = ControlId(LineOf(kMicro).dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_NE(volume, 0u);
    ASSERT_EQ(Set(volume, {26214}), MMSYSERR_NOERROR);
    const long timeout = PulseConnection::kReplyTimeout.count();

    Stopped stopped(*server);
    ASSERT_TRUE(stopped.Holds());
    Values values;
    auto start = Clock::now();
    EXPECT_EQ(mixerGetControlDetails(m_mixer, volume, values), MMSYSERR_ERROR);
    long spent = Ms(Clock::now() - start);
    EXPECT_GE(spent, timeout - 50) << "abandonné avant le délai";
    EXPECT_LT(spent, timeout + 500);
    start = Clock::now();
    EXPECT_EQ(Set(volume, {65535}), MMSYSERR_ERROR);
    spent = Ms(Clock::now() - start);
    EXPECT_LT(spent, timeout + 500);
    stopped.Resume();

    // Once it answers again, so does the mixer, on the same connection.
    values.clear();
    EXPECT_EQ(mixerGetControlDetails(m_mixer, volume, values), MMSYSERR_NOERROR);
    ASSERT_EQ(values.size(), 1u);
    // The refused volume may have reached the server after all, late: either value, nothing else.
    EXPECT_TRUE(values[0] == 26214 || values[0] == 65535) << values[0];
    ASSERT_EQ(Set(volume, {13107}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{20, 20}));
}

// ---- A server that goes away --------------------------------------------------------------------------

// Runs call and says whether it came back in reasonable time, with its result.
template <typename Call> bool Prompt(Call call, MMRESULT& result)
{
    const auto start = Clock::now();
    result = call();
    return Clock::now() - start < PulseConnection::kConnectTimeout + 500ms;
}

TEST_F(PulseMixer, AVanishedServerGivesErrorsAndTheMixerWorksAgainWhenItIsBack)
{
    const std::uint32_t recording = Destination(1).dwLineID;
    const std::uint32_t volume = ControlId(LineOf(kMicro).dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t selector = ControlId(recording, MIXERCONTROL_CONTROLTYPE_MUX);
    ASSERT_NE(volume, 0u);

    // The server drops the program, and is nowhere to be found when the program calls again.
    const char* serverVariable = std::getenv("PULSE_SERVER");
    const char* dir = std::getenv("SONALTO_TEST_PULSE_DIR");
    ASSERT_TRUE(serverVariable && dir);
    const std::string server = serverVariable;
    setenv("PULSE_SERVER", ("unix:" + std::string(dir) + "/nulle-part").c_str(), 1);
    std::size_t from = m_heard.Count();
    const int killed = PulseProbe(server.c_str()).KillOurConnections();
    if (killed != 1)
        setenv("PULSE_SERVER", server.c_str(), 1);
    ASSERT_EQ(killed, 1) << "une seule connexion du programme";
    EXPECT_TRUE(m_heard.Saw(MM_MIXM_LINE_CHANGE, recording, from)) << "la perte du serveur est une nouvelle";

    const auto isError = [](MMRESULT r) { return r == MMSYSERR_NODRIVER || r == MMSYSERR_ERROR; };
    MMRESULT result = MMSYSERR_NOERROR;
    MIXERLINE line;
    line.dwDestination = 1;
    EXPECT_TRUE(
        Prompt([&] { return mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_DESTINATION); }, result));
    EXPECT_TRUE(isError(result)) << result;
    Values values;
    EXPECT_TRUE(Prompt([&] { return mixerGetControlDetails(m_mixer, volume, values); }, result));
    EXPECT_TRUE(isError(result)) << result;
    EXPECT_TRUE(Prompt([&] { return mixerGetControlDetails(m_mixer, selector, values); }, result));
    EXPECT_TRUE(isError(result)) << result;
    EXPECT_TRUE(Prompt([&] { return Set(volume, {100}); }, result));
    EXPECT_TRUE(isError(result)) << result;
    MIXERCONTROL control;
    EXPECT_TRUE(Prompt(
        [&] { return mixerGetLineControls(m_mixer, recording, MIXERCONTROL_CONTROLTYPE_MUX, control); },
        result));
    EXPECT_TRUE(isError(result)) << result;
    EXPECT_EQ(mixerGetNumDevs(), 0u);

    // The server is back: within a few seconds the same mixer works again, notifications included.
    setenv("PULSE_SERVER", server.c_str(), 1);
    const auto deadline = Clock::now() + PulseConnection::kRetryDelay + kPatience;
    while (mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_DESTINATION) != MMSYSERR_NOERROR &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    ASSERT_EQ(mixerGetLineInfo(m_mixer, line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(line.cConnections, ExpectedMixerLines().size());
    EXPECT_EQ(mixerGetNumDevs(), 1u);
    // What the mixer knew of the server is asked again: the first change elsewhere is news already.
    from = m_heard.Count();
    Pactl({"set-source-volume", kMicro, "70%"});
    EXPECT_TRUE(m_heard.Saw(MM_MIXM_CONTROL_CHANGE, volume, from));
    EXPECT_NEAR(Get(volume).at(0), 45875, 1);
    ASSERT_EQ(Set(volume, {26214}), MMSYSERR_NOERROR);
    EXPECT_EQ(SourcePercents(kMicro), (std::vector<int>{40, 40}));
}

} // namespace
