#include "support/PulseTestServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

long Ms(std::chrono::steady_clock::duration d)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// ---- Formats and samples ------------------------------------------------------------------------------

TWaveFormatEx Pcm(unsigned rate, unsigned channels, unsigned bits)
{
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    return TWaveFormatEx{WAVE_FORMAT_PCM, static_cast<std::uint16_t>(channels), rate, rate * align,
                         align,           static_cast<std::uint16_t>(bits),     0};
}

void AppendSample(const TWaveFormatEx& format, double x, std::vector<std::uint8_t>& data)
{
    if (format.wBitsPerSample == 8) {
        data.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * x)));
    } else {
        const auto s = static_cast<std::int16_t>(std::lround(32767 * x));
        data.push_back(static_cast<std::uint8_t>(s & 0xFF));
        data.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
}

// ---- The private server --------------------------------------------------------------------------------

std::string PrivateServerMissing()
{
    const char* dir = std::getenv("SONALTO_TEST_PULSE_DIR");
    const char* server = std::getenv("PULSE_SERVER");
    if (!dir || !server || std::string(server) != std::string("unix:") + dir + "/native")
        return "lancé hors de ctest: il faut un serveur de son privé de scripts/pulse-test-server.sh ou "
               "scripts/pipewire-test-server.sh (SONALTO_TEST_PULSE_DIR et PULSE_SERVER)";
    std::ifstream why(std::string(dir) + "/unavailable");
    std::string reason;
    if (why && std::getline(why, reason))
        return "serveur de son de test indisponible: " + reason;
    return {};
}

std::string PrivateServerUnusable(const std::function<bool()>& make, const std::string& failed)
{
    std::string missing = PrivateServerMissing();
    if (!missing.empty())
        return missing;
    if (make())
        return {};
    if (!failed.empty())
        return failed;
    // PrivateServerMissing() has checked that PULSE_SERVER is set.
    return std::string("le serveur de son de test ne répond pas sur ") + std::getenv("PULSE_SERVER");
}

bool NoSoundServerHere()
{
    const char* none = std::getenv("SONALTO_TEST_NO_SOUND_SERVER");
    return none && std::string(none) == "1";
}

namespace {

// The process's name, and whether it runs in that folder's private environment (the servers' own
// runtime folder), so that a stale pid file cannot name another process.
bool PrivateProcess(pid_t pid, const std::string& name, const std::string& dir)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string actual;
    if (!std::getline(comm, actual) || actual != name)
        return false;
    if (name == "pulseaudio")
        return true; // the pid file is the server's own, in its folder
    std::ifstream environment("/proc/" + std::to_string(pid) + "/environ");
    for (std::string variable; std::getline(environment, variable, '\0');)
        if (variable == "XDG_RUNTIME_DIR=" + dir)
            return true;
    return false;
}

} // namespace

std::optional<pid_t> PrivateServerProcess()
{
    const char* dir = std::getenv("SONALTO_TEST_PULSE_DIR");
    if (!dir)
        return std::nullopt;
    long pid = 0;
    // pulse-test-server.sh: the server's own pid file.
    if (std::ifstream file(std::string(dir) + "/pulse/pid");
        file >> pid && pid > 1 && PrivateProcess(static_cast<pid_t>(pid), "pulseaudio", dir))
        return static_cast<pid_t>(pid);
    // pipewire-test-server.sh: one line per process, its name then its pid.
    std::ifstream pids(std::string(dir) + "/pids");
    for (std::string name; pids >> name >> pid;)
        if (name == "pipewire-pulse" && pid > 1 && PrivateProcess(static_cast<pid_t>(pid), name, dir))
            return static_cast<pid_t>(pid);
    return std::nullopt;
}

// ---- pactl ---------------------------------------------------------------------------------------------

PactlRun Pactl(const std::vector<std::string>& arguments)
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
    PactlRun run;
    if (spawned == 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(ends[0], buffer, sizeof buffer);
            if (got > 0)
                run.out.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                break;
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(ends[0]);
    return run;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

std::vector<ServerSource> ServerSources()
{
    std::vector<ServerSource> sources;
    std::istringstream lines(Pactl({"list", "sources"}).out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Source #", 0) == 0) {
            sources.push_back({});
            sources.back().index = static_cast<std::uint32_t>(std::stoul(line.substr(8)));
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
    return sources;
}

std::vector<ServerSource> ExpectedMixerLines()
{
    std::vector<ServerSource> sources = ServerSources();
    std::stable_partition(sources.begin(), sources.end(), [](const ServerSource& s) { return !s.monitor; });
    return sources;
}

std::optional<std::size_t> PositionOf(const std::vector<ServerSource>& sources, const std::string& name)
{
    const auto found = std::find_if(sources.begin(), sources.end(),
                                    [&name](const ServerSource& s) { return s.name == name; });
    if (found == sources.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - sources.begin());
}

std::vector<int> Percents(const std::string& out)
{
    std::vector<int> percents;
    const std::regex percent(R"(/\s*(\d+)%)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), percent); it != std::sregex_iterator(); ++it)
        percents.push_back(std::stoi((*it)[1]));
    return percents;
}

std::vector<int> SourcePercents(const std::string& source)
{
    return Percents(Pactl({"get-source-volume", source}).out);
}

std::string DefaultSource()
{
    const PactlRun run = Pactl({"get-default-source"});
    return run.status == 0 ? Trimmed(run.out) : std::string();
}

void RestoreDefaultSource(const std::string& saved)
{
    if (!saved.empty() && DefaultSource() != saved)
        Pactl({"set-default-source", saved});
}

bool SpeakersCaughtUp()
{
    constexpr long kCaughtUpUsec = 30000;
    // Right at the end of such a block it may start another one: it has to stay caught up a while.
    constexpr auto kSettled = 150ms;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    std::optional<std::chrono::steady_clock::time_point> caughtUpSince;
    while (true) {
        // "pactl list sinks": the sink's Name line, then later its "Latency: N usec, configured M usec".
        std::istringstream lines(Pactl({"list", "sinks"}).out);
        bool ours = false;
        std::optional<long> latency;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Sink #", 0) == 0)
                ours = false;
            else if (line == "\tName: sonalto_null")
                ours = true;
            else if (ours && line.rfind("\tLatency: ", 0) == 0)
                latency = std::strtol(line.c_str() + std::strlen("\tLatency: "), nullptr, 10);
        }
        const auto now = std::chrono::steady_clock::now();
        if (!latency || *latency >= kCaughtUpUsec)
            caughtUpSince.reset();
        else if (!caughtUpSince)
            caughtUpSince = now;
        else if (now - *caughtUpSince >= kSettled)
            return true;
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
}

LoadedModule::LoadedModule(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{"load-module"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const PactlRun run = Pactl(all);
    if (run.status == 0)
        m_index = Trimmed(run.out);
}

LoadedModule::~LoadedModule()
{
    Unload();
}

bool LoadedModule::Unload()
{
    if (!Loaded())
        return false;
    const bool unloaded = Pactl({"unload-module", m_index}).status == 0;
    m_index.clear();
    return unloaded;
}

std::unique_ptr<LoadedModule> NullSink(const std::string& name, const std::string& description)
{
    return std::make_unique<LoadedModule>(
        std::vector<std::string>{"module-null-sink", "sink_name=" + name,
                                 "sink_properties=\"device.description='" + description + "'\""});
}

std::unique_ptr<LoadedModule> NullSource(const std::string& name, const std::string& description)
{
    auto source = std::make_unique<LoadedModule>(std::vector<std::string>{
        "module-null-source", "source_name=" + name, "description=\"" + description + "\""});
    if (source->Loaded())
        return source;
    return std::make_unique<LoadedModule>(
        std::vector<std::string>{"module-null-sink", "media.class=Audio/Source/Virtual", "sink_name=" + name,
                                 "channel_map=front-left,front-right",
                                 "sink_properties=\"device.description='" + description + "'\""});
}

// ---- A client of the tests' own ------------------------------------------------------------------------

PulseProbe::PulseProbe(const char* server)
{
    m_mainloop = pa_threaded_mainloop_new();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "sonalto-test-probe");
    pa_context_connect(m_context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    pa_threaded_mainloop_start(m_mainloop);
    // A server that refuses the connection is known at once: no need to wait the patience out.
    Poll([this] {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    pa_threaded_mainloop_lock(m_mainloop);
    m_ready = pa_context_get_state(m_context) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(m_mainloop);
}

PulseProbe::~PulseProbe()
{
    pa_threaded_mainloop_lock(m_mainloop);
    pa_context_disconnect(m_context);
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_context_unref(m_context);
    pa_threaded_mainloop_free(m_mainloop);
}

int PulseProbe::OurConnections()
{
    const std::vector<std::uint32_t> clients = OurClients();
    return clients.size() == 1 && clients[0] == PA_INVALID_INDEX ? -1 : static_cast<int>(clients.size());
}

int PulseProbe::KillOurConnections()
{
    const std::vector<std::uint32_t> clients = OurClients();
    for (const std::uint32_t client : clients)
        if (client == PA_INVALID_INDEX ||
            !Finish(Locked([&] { return pa_context_kill_client(m_context, client, nullptr, nullptr); })))
            return -1;
    return static_cast<int>(clients.size());
}

pa_operation* PulseProbe::Locked(const std::function<pa_operation*()>& request)
{
    pa_threaded_mainloop_lock(m_mainloop);
    pa_operation* op = request();
    pa_threaded_mainloop_unlock(m_mainloop);
    return op;
}

bool PulseProbe::Poll(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        pa_threaded_mainloop_lock(m_mainloop);
        const bool ok = done();
        pa_threaded_mainloop_unlock(m_mainloop);
        if (ok)
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

bool PulseProbe::Finish(pa_operation* op)
{
    if (!op)
        return false;
    const bool done = Poll([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    pa_threaded_mainloop_lock(m_mainloop);
    const bool succeeded = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!done)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(m_mainloop);
    return succeeded;
}

bool PulseProbe::NamedAfterTheProgram(const pa_proplist* properties)
{
    const char* app = pa_proplist_gets(properties, PA_PROP_APPLICATION_NAME);
    return app && std::string(app) == "Sonalto";
}

std::vector<std::uint32_t> PulseProbe::OurClients()
{
    struct Found
    {
        std::vector<std::uint32_t> clients;
    } found;
    if (!Finish(Locked([&] {
            return pa_context_get_client_info_list(
                m_context,
                [](pa_context*, const pa_client_info* info, int eol, void* userdata) {
                    if (eol != 0 || !info || !NamedAfterTheProgram(info->proplist))
                        return;
                    // Other test programs may use the same server at the same time: only this process.
                    const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
                    if (pid && std::string(pid) == std::to_string(getpid()))
                        static_cast<Found*>(userdata)->clients.push_back(info->index);
                },
                &found);
        })))
        return {PA_INVALID_INDEX};
    return found.clients;
}
