// The mixer component as the recording window uses it, on the sound server's mixer: the private server
// scripts/pulse-test-server.sh starts for ctest. The server is changed with pactl, as the desktop's sound
// settings would change it.
#include "platform/PulseMixer.h"

#include "devices/WaveMixer.h"
#include "platform/CaptureSource.h"
#include "platform/PulseWaveIn.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

const char* const kMicro = "sonalto_composant_micro";
const char* const kSink = "sonalto_composant_d";
const char* const kMonitor = "sonalto_composant_d.monitor";

// pactl with those arguments (no shell in between), its labels untranslated; its output.
std::string Pactl(const std::vector<std::string>& arguments, int* status = nullptr)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<std::string> words{"pactl"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANGUAGE=", 9) != 0)
            variables.emplace_back(*e);
    variables.emplace_back("LC_ALL=C");
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "pactl", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    std::string out;
    int code = -1;
    if (spawned == 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(ends[0], buffer, sizeof buffer);
            if (got > 0)
                out.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                break;
        }
        int waited = 0;
        while (waitpid(pid, &waited, 0) < 0 && errno == EINTR) {
        }
        code = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
    }
    close(ends[0]);
    if (status)
        *status = code;
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back())))
        out.pop_back();
    return out;
}

struct ServerSource
{
    std::string name;
    std::string description;
    bool monitor = false;
};

// The server's sources as the mixer is to list them: the real inputs, then the monitors.
std::vector<ServerSource> ExpectedLines()
{
    std::vector<ServerSource> sources;
    std::istringstream lines(Pactl({"list", "sources"}));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Source #", 0) == 0) {
            sources.push_back({});
            continue;
        }
        if (sources.empty())
            continue;
        const auto field = [&line](const std::string& label, std::string& into) {
            const std::string prefix = "\t" + label + ": ";
            if (line.rfind(prefix, 0) == 0)
                into = line.substr(prefix.size());
        };
        std::string monitorOf;
        field("Name", sources.back().name);
        field("Description", sources.back().description);
        field("Monitor of Sink", monitorOf);
        if (!monitorOf.empty())
            sources.back().monitor = monitorOf != "n/a";
    }
    std::stable_partition(sources.begin(), sources.end(), [](const ServerSource& s) { return !s.monitor; });
    return sources;
}

int PositionOf(const std::vector<ServerSource>& lines, const std::string& name)
{
    const auto found =
        std::find_if(lines.begin(), lines.end(), [&name](const ServerSource& s) { return s.name == name; });
    return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
}

std::vector<int> SourcePercents(const std::string& source)
{
    const std::string out = Pactl({"get-source-volume", source});
    std::vector<int> percents;
    const std::regex percent(R"(/\s*(\d+)%)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), percent); it != std::sregex_iterator(); ++it)
        percents.push_back(std::stoi((*it)[1]));
    return percents;
}

// A module loaded for the test, unloaded at the end of it at the latest.
class LoadedModule
{
public:
    explicit LoadedModule(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> all{"load-module"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        int status = -1;
        const std::string index = Pactl(all, &status);
        if (status == 0)
            m_index = index;
    }
    ~LoadedModule()
    {
        if (!m_index.empty())
            Pactl({"unload-module", m_index});
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return !m_index.empty(); }

private:
    std::string m_index;
};

// Runs the GUI thread's events until the condition holds or the patience runs out.
bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds patience = 3s)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct ControlEvent
{
    int line;
    TMixerControlType kind;
    bool onGuiThread;
};

// Why the test cannot run here, or empty.
std::string PrivateServerMissing()
{
    const char* dir = std::getenv("SONALTO_TEST_PULSE_DIR");
    const char* server = std::getenv("PULSE_SERVER");
    // Never the user's own server: the test loads devices and changes volumes.
    if (!dir || !server || std::string(server) != std::string("unix:") + dir + "/native")
        return "lancé hors de ctest: il faut le serveur de son privé de scripts/pulse-test-server.sh "
               "(SONALTO_TEST_PULSE_DIR et PULSE_SERVER)";
    std::ifstream why(std::string(dir) + "/unavailable");
    std::string reason;
    if (why && std::getline(why, reason))
        return "serveur de son de test indisponible: " + reason;
    return {};
}

class PulseAudioMixer : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_skip = PrivateServerMissing();
        if (!s_skip.empty())
            return;
        s_mixer = CreatePulseMixerBackend();
        s_input = CreatePulseWaveInBackend();
        if (!s_mixer || !s_input)
            s_skip =
                std::string("le serveur de son de test ne répond pas sur ") + std::getenv("PULSE_SERVER");
    }

    static void TearDownTestSuite()
    {
        s_mixer.reset();
        s_input.reset();
    }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        SelectCaptureSource("");
        SetCurrentMixerBackend(s_mixer);
        SetCurrentWaveInBackend(s_input);
        m_defaultSource = Pactl({"get-default-source"});
        m_sink = std::make_unique<LoadedModule>(
            std::vector<std::string>{"module-null-sink", std::string("sink_name=") + kSink,
                                     "sink_properties=\"device.description='Poste élève D'\""});
        m_micro = std::make_unique<LoadedModule>(std::vector<std::string>{
            "module-null-source", std::string("source_name=") + kMicro, "description=\"Micro du bureau\""});
        ASSERT_TRUE(m_sink->Loaded() && m_micro->Loaded()) << "pactl load-module a échoué";
    }

    void TearDown() override
    {
        m_micro.reset();
        m_sink.reset();
        if (!m_defaultSource.empty() && Pactl({"get-default-source"}) != m_defaultSource)
            Pactl({"set-default-source", m_defaultSource});
        SelectCaptureSource("");
        SetCurrentMixerBackend(nullptr);
        SetCurrentWaveInBackend(nullptr);
    }

    static std::shared_ptr<MixerBackend> s_mixer;
    static std::shared_ptr<WaveInBackend> s_input;
    static std::string s_skip;
    std::unique_ptr<LoadedModule> m_sink, m_micro;
    std::string m_defaultSource;
};

std::shared_ptr<MixerBackend> PulseAudioMixer::s_mixer;
std::shared_ptr<WaveInBackend> PulseAudioMixer::s_input;
std::string PulseAudioMixer::s_skip;

TEST_F(PulseAudioMixer, TheRecordingWindowsMixerOnTheSoundServer)
{
    TAudioMixer mixer;
    ASSERT_EQ(mixer.OpenResult(), MMSYSERR_NOERROR);
    EXPECT_EQ(mixer.MixerName(), "Serveur son");
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.DestinationName(), "Enregistrement");

    // The lines as the desktop names the sources, real inputs first.
    const std::vector<ServerSource> expected = ExpectedLines();
    ASSERT_EQ(mixer.LineCount(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(mixer.Lines(static_cast<int>(i))->Name(), expected[i].description) << i;
    const int micro = PositionOf(expected, kMicro);
    const int monitor = PositionOf(expected, kMonitor);
    ASSERT_EQ(micro, 0) << "la seule entrée réelle du serveur de test vient en premier";
    ASSERT_GT(monitor, 0);
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
    int status = -1;
    Pactl({"set-source-volume", kMicro, "65%"}, &status);
    ASSERT_EQ(status, 0);
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
    const std::string desktopDefault = Pactl({"get-default-source"});
    ASSERT_NE(desktopDefault, kMonitor);
    mixer.DestinationLine()->SelectSource(monitor);
    EXPECT_EQ(mixer.DestinationLine()->LastError(), MMSYSERR_NOERROR);
    EXPECT_EQ(SelectedCaptureSource(), kMonitor);
    WAVEINCAPS caps;
    ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, mixer.Lines(monitor)->Name());
    EXPECT_EQ(Pactl({"get-default-source"}), desktopDefault);
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
    LoadedModule plugged(
        {"module-null-source", "source_name=sonalto_composant_usb", "description=\"Micro USB\""});
    ASSERT_TRUE(plugged.Loaded());
    ASSERT_TRUE(ProcessUntil(
        [&] { return std::find(changedLines.begin(), changedLines.end(), -1) != changedLines.end(); }));
}

} // namespace
