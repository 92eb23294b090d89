// What the tests on the private sound servers have in common. scripts/pulse-test-server.sh and
// scripts/pipewire-test-server.sh start them for ctest, each test once on each: PULSE_SERVER names the
// PulseAudio-protocol socket of the one in $SONALTO_TEST_PULSE_DIR, and when it could not start,
// $SONALTO_TEST_PULSE_DIR/unavailable says why. The tests change the server with pactl, as the desktop's
// sound settings would, and look at it through a client of their own, from outside the program's backends.
#pragma once

#include "platform/sound/WaveFormat.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>
#include <sys/types.h>
#include <vector>

// Generous: the machine may be busy, and the sanitizers slow everything down.
inline constexpr std::chrono::seconds kPatience{3};

// A duration in whole milliseconds.
long Ms(std::chrono::steady_clock::duration d);

// ---- Formats and samples ------------------------------------------------------------------------------

// A PCM format record: rate, channels and bits, the rest worked out from them.
TWaveFormatEx Pcm(unsigned rate, unsigned channels, unsigned bits);

// Appends one sample, x a fraction of full scale, in the format's encoding: 8-bit unsigned, or 16-bit
// signed little-endian.
void AppendSample(const TWaveFormatEx& format, double x, std::vector<std::uint8_t>& data);

// ---- The private server --------------------------------------------------------------------------------

// Why the tests cannot run here, or empty. Never the user's own server: the tests play sound, load
// devices, change volumes and drop connections, so PULSE_SERVER must be the private server's socket.
std::string PrivateServerMissing();

// What a test suite does first: when the private server is there, makes its backends on it with make(),
// which tells whether they all answered. Why the tests cannot run, or empty: the server missing, or
// `failed` (by default, that the server does not answer) when make() says no.
std::string PrivateServerUnusable(const std::function<bool()>& make, const std::string& failed = {});

// Whether this machine has no sound server on purpose (SONALTO_TEST_NO_SOUND_SERVER=1): the tests on it
// are skipped then. Anywhere else the set-up has installed both servers, and their absence is a fault.
bool NoSoundServerHere();

// In a test or its set-up, when the private server cannot serve, for that reason: skips the test where
// the machine has none on purpose, fails it everywhere else.
#define SONALTO_WITHOUT_SOUND_SERVER(reason)                                                                 \
    do {                                                                                                     \
        if (NoSoundServerHere())                                                                             \
            GTEST_SKIP() << (reason);                                                                        \
        FAIL() << (reason);                                                                                  \
    } while (0)

// The process that serves the PulseAudio protocol on the private server the test talks to: pulseaudio, or
// PipeWire's pipewire-pulse. Nullopt when there is none.
std::optional<pid_t> PrivateServerProcess();

// ---- pactl ---------------------------------------------------------------------------------------------

struct PactlRun
{
    int status = -1; // its exit status; -1 when it could not run or was killed
    std::string out; // its standard output
};

// pactl with those arguments, without a shell in between, on the server PULSE_SERVER names; its labels
// untranslated (LC_ALL=C), whatever the language of the test's environment.
PactlRun Pactl(const std::vector<std::string>& arguments);

// The text without the white space that ends it.
std::string Trimmed(std::string text);

struct ServerSource
{
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    bool monitor = false;
};

// The server's sources in its order, as pactl lists them.
std::vector<ServerSource> ServerSources();

// The server's sources as a mixer's recording destination is to list them: the real inputs, then the
// monitors, each group in the server's order.
std::vector<ServerSource> ExpectedMixerLines();

// Where the source of that name is in the list; nullopt when it is not there.
std::optional<std::size_t> PositionOf(const std::vector<ServerSource>& sources, const std::string& name);

// The percentages of "pactl get-source-volume" and the like, one per channel.
std::vector<int> Percents(const std::string& out);
std::vector<int> SourcePercents(const std::string& source);

// The server's default source's name; empty when pactl fails.
std::string DefaultSource();

// The default source back to the one DefaultSource() gave before the test, as the next test expects to
// find it; nothing when that was empty.
void RestoreDefaultSource(const std::string& saved);

// Until the null sink that stands for the speakers holds, and keeps holding, no more than a few
// milliseconds of sound ahead of the clock (as the script waits for at start): whether it did within the
// patience. A new stream is heard only once what the sink holds has run out. Other tests leave it up to
// two seconds ahead: while one of theirs is the default source (a real input loaded, or set as default)
// the script's loopback follows it away from the sink's monitor, nothing asks the idle sink for a short
// latency, and it renders a long block, which it cannot rewind once the loopback is back.
bool SpeakersCaughtUp();

// A module loaded for the test, unloaded at the end of it at the latest.
class LoadedModule
{
public:
    // "pactl load-module" with these arguments (the module's name first).
    explicit LoadedModule(const std::vector<std::string>& arguments);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return !m_index.empty(); }
    // Unloads it now: whether the server took it away (false when it was not loaded, or is no longer).
    bool Unload();

private:
    std::string m_index;
};

// A null sink (an output, whose monitor is one more source), and a null source (an input). Descriptions
// may hold spaces and accented letters, not quotes. PipeWire has no module-null-source: its null sink made
// a source stands in for it.
std::unique_ptr<LoadedModule> NullSink(const std::string& name, const std::string& description);
std::unique_ptr<LoadedModule> NullSource(const std::string& name, const std::string& description);

// ---- A client of the tests' own ------------------------------------------------------------------------

// Connected to the server on a thread of its own, to look at it and change it from outside the program.
// Tests that need more from it derive from it: requests go through Locked() and are waited for with
// Finish(), within the patience.
class PulseProbe
{
public:
    // On the server PULSE_SERVER names, or on that one (a server string as libpulse reads it).
    explicit PulseProbe(const char* server = nullptr);
    ~PulseProbe();
    PulseProbe(const PulseProbe&) = delete;
    PulseProbe& operator=(const PulseProbe&) = delete;

    bool Ready() const { return m_ready; }

    // The program's connections to the server: the clients of this process that carry its application
    // name. -1 when the server does not answer.
    int OurConnections();

    // What a server restart does to the program: its connections are dropped. How many; -1 on failure.
    int KillOurConnections();

protected:
    pa_threaded_mainloop* Mainloop() const { return m_mainloop; }
    pa_context* Context() const { return m_context; }

    // The request made under the mainloop's lock; its operation, null when refused.
    pa_operation* Locked(const std::function<pa_operation*()>& request);

    // Until done(), asked under the mainloop's lock, holds; false when the patience ran out first.
    bool Poll(const std::function<bool()>& done);

    // Waits for the operation and releases it: whether it completed (not cancelled, not timed out).
    bool Finish(pa_operation* op);

    // Whether a client's or a stream's properties carry the program's application name.
    static bool NamedAfterTheProgram(const pa_proplist* properties);

private:
    // PA_INVALID_INDEX alone when the server did not answer.
    std::vector<std::uint32_t> OurClients();

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    bool m_ready = false;
};
