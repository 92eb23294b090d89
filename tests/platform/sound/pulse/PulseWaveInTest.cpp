// The sound server's capture backend against a real server: the private one scripts/pulse-test-server.sh
// starts for ctest. What is played into its null sink (through the output service's own backend) is
// recorded from the sink's monitor and compared with what was played.
#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "platform/sound/WaveInService.h"
#include "platform/sound/WaveOutService.h"
#include "platform/sound/pulse/PulseConnection.h"
#include "support/PulseTestServer.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <pulse/pulseaudio.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPi = 3.14159265358979323846;
const char* const kSink = "sonalto_null";
const char* const kMonitor = "sonalto_null.monitor";
const char* const kOtherMonitor = "sonalto_discard.monitor";
constexpr std::uint8_t kUnwritten = 0x5A;

std::string Describe(const TWaveFormatEx& f)
{
    return std::to_string(f.nSamplesPerSec) + " Hz " + std::to_string(f.nChannels) + " ch " +
           std::to_string(f.wBitsPerSample) + " bits";
}

// The test signal, as fractions of full scale, at time t seconds: on the left a sweep from 200 to 600 Hz
// over a second (no stretch of it looks like another, so a lost or repeated piece shows), on the right a
// steady 330 Hz tone at a lower level (a swap of the channels shows).
double Signal(double t, unsigned channel)
{
    if (channel == 0)
        return 0.5 * std::sin(2 * kPi * (200 * t + 200 * t * t));
    return 0.3 * std::sin(2 * kPi * 330 * t);
}

std::vector<std::uint8_t> Encode(const TWaveFormatEx& format, unsigned ms)
{
    const std::size_t frames = static_cast<std::size_t>(format.nSamplesPerSec) * ms / 1000;
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / format.nSamplesPerSec;
        for (unsigned c = 0; c < format.nChannels; ++c)
            AppendSample(format, Signal(t, c), data);
    }
    return data;
}

// One channel of recorded bytes, as fractions of full scale.
std::vector<double> Decode(const TWaveFormatEx& format, const std::vector<std::uint8_t>& data,
                           unsigned channel)
{
    std::vector<double> out;
    for (std::size_t at = channel * format.wBitsPerSample / 8u;
         at + format.wBitsPerSample / 8u <= data.size(); at += format.nBlockAlign) {
        if (format.wBitsPerSample == 8) {
            out.push_back((data[at] - 128) / 128.0);
        } else {
            const auto s = static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
            out.push_back(s / 32768.0);
        }
    }
    return out;
}

// How far a stretch of the recording is from the signal, relative to the signal, when recorded sample m
// is the signal at (m - lag) / rate: for the signal's samples from to to.
double Difference(const std::vector<double>& recorded, unsigned rate, unsigned channel, double lag,
                  std::size_t from, std::size_t to)
{
    const long whole = std::lround(std::floor(lag));
    const double fraction = lag - static_cast<double>(whole);
    double sum = 0, reference = 0;
    for (std::size_t n = from; n < to; ++n) {
        const long at = static_cast<long>(n) + whole;
        const double x = at >= 0 && static_cast<std::size_t>(at) < recorded.size() ? recorded[at] : 0;
        const double e = Signal((static_cast<double>(n) - fraction) / rate, channel);
        sum += (x - e) * (x - e);
        reference += e * e;
    }
    return std::sqrt(sum / reference);
}

// Where the signal is in a recording, from its left channel: near where the recording first rises (the
// server may soften or cut the first milliseconds of a new stream), where the sweep from 100 to 400 ms
// matches best; to a fraction of a sample, as the server's resamplers leave it. Nullopt when nothing was
// recorded.
std::optional<double> SignalLag(const std::vector<double>& left, unsigned rate)
{
    std::size_t onset = 0;
    while (onset < left.size() && std::fabs(left[onset]) < 0.05)
        ++onset;
    if (onset == left.size())
        return std::nullopt;
    // Whole samples first, against the signal computed once.
    const std::size_t from = rate / 10, to = rate * 4 / 10;
    std::vector<double> expected(to);
    for (std::size_t n = from; n < to; ++n)
        expected[n] = Signal(static_cast<double>(n) / rate, 0);
    long lag = static_cast<long>(onset);
    double best = 0;
    for (long l = lag - static_cast<long>(rate / 20), first = l; l <= lag + static_cast<long>(rate / 50);
         ++l) {
        double sum = 0;
        for (std::size_t n = from; n < to; ++n) {
            const long at = static_cast<long>(n) + l;
            const double x = at >= 0 && static_cast<std::size_t>(at) < left.size() ? left[at] : 0;
            sum += (x - expected[n]) * (x - expected[n]);
        }
        if (l == first || sum < best)
            best = sum, lag = l;
    }
    double fine = static_cast<double>(lag);
    double fineBest = Difference(left, rate, 0, fine, from, to);
    for (int k = -16; k <= 16; ++k) {
        const double candidate = static_cast<double>(lag) + k / 32.0;
        if (const double d = Difference(left, rate, 0, candidate, from, to); d < fineBest)
            fineBest = d, fine = candidate;
    }
    return fine;
}

// Whether a channel of the recording holds that channel of the signal, unbroken, from 50 ms into it to ms
// milliseconds: every 20 ms within tolerance of it.
::testing::AssertionResult HoldsSignal(const std::vector<double>& recorded, unsigned rate, unsigned channel,
                                       double lag, unsigned ms, double tolerance)
{
    const std::size_t from = rate / 20, to = static_cast<std::size_t>(rate) * ms / 1000;
    if (static_cast<std::size_t>(std::ceil(lag)) + to > recorded.size())
        return ::testing::AssertionFailure() << "enregistrement trop court: " << recorded.size()
                                             << " échantillons, il en faut " << lag + to;
    const std::size_t window = rate / 50;
    for (std::size_t w = from; w + window <= to; w += window)
        if (const double d = Difference(recorded, rate, channel, lag, w, w + window); d > tolerance)
            return ::testing::AssertionFailure()
                   << "écart relatif " << d << " à " << w * 1000 / rate << " ms du début du signal";
    std::cout << "[   INFO   ] canal " << channel << ": écart relatif "
              << Difference(recorded, rate, channel, lag, from, to) << ", décalage " << lag << "\n";
    return ::testing::AssertionSuccess();
}

// Empty buffers, each filled with a marker so that bytes left unwritten show.
class Buffers
{
public:
    Buffers(std::size_t count, std::uint32_t bytes) : m_data(count), m_headers(count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            m_data[i].assign(bytes, kUnwritten);
            m_data[i].reserve(1);
            m_headers[i].lpData = m_data[i].data();
            m_headers[i].dwBufferLength = bytes;
        }
    }

    std::size_t size() const { return m_headers.size(); }
    WAVEHDR& operator[](std::size_t i) { return m_headers[i]; }

    // The recorded bytes of the buffers, one after the other.
    std::vector<std::uint8_t> Recorded(std::size_t count) const
    {
        std::vector<std::uint8_t> all;
        for (std::size_t i = 0; i < count; ++i)
            all.insert(all.end(), m_data[i].begin(), m_data[i].begin() + m_headers[i].dwBytesRecorded);
        return all;
    }

    // Buffer i's recorded bytes; the buffer is empty again, ready to be queued anew.
    std::vector<std::uint8_t> Take(std::size_t i)
    {
        std::vector<std::uint8_t> recorded(m_data[i].begin(),
                                           m_data[i].begin() + m_headers[i].dwBytesRecorded);
        std::fill(m_data[i].begin(), m_data[i].end(), kUnwritten);
        m_headers[i].dwBytesRecorded = 0;
        return recorded;
    }

    // Nothing past what was recorded was written.
    bool UntouchedPastRecorded(std::size_t i) const
    {
        for (std::size_t b = m_headers[i].dwBytesRecorded; b < m_data[i].size(); ++b)
            if (m_data[i][b] != kUnwritten)
                return false;
        return true;
    }

private:
    std::vector<std::vector<std::uint8_t>> m_data;
    std::vector<WAVEHDR> m_headers; // never resized: the device holds pointers into it
};

// One input device through the service's functions; reset and closed at the end whatever happened,
// before the buffers it made go.
class Input
{
public:
    Buffers& Make(std::size_t count, std::uint32_t bytes) { return m_buffers.emplace_back(count, bytes); }

    ~Input()
    {
        if (m_handle) {
            waveInReset(m_handle);
            waveInClose(m_handle);
        }
    }

    MMRESULT Open(const TWaveFormatEx& format)
    {
        HWAVEIN handle = 0;
        const MMRESULT r = waveInOpen(&handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW);
        if (r == MMSYSERR_NOERROR)
            m_handle = handle;
        return r;
    }

    // Opens, and checks that MM_WIM_OPEN came and nothing else.
    ::testing::AssertionResult Opened(const TWaveFormatEx& format)
    {
        if (const MMRESULT r = Open(format))
            return ::testing::AssertionFailure() << "ouverture refusée: " << r;
        const auto n = Next(0ms);
        if (!n || n->message != MM_WIM_OPEN)
            return ::testing::AssertionFailure() << "pas de MM_WIM_OPEN";
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult AddAll(Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            if (const MMRESULT r = waveInPrepareHeader(m_handle, &buffers[i]))
                return ::testing::AssertionFailure() << "préparation: " << r;
            if (const MMRESULT r = waveInAddBuffer(m_handle, &buffers[i]))
                return ::testing::AssertionFailure() << "ajout: " << r;
        }
        return ::testing::AssertionSuccess();
    }

    std::optional<DeviceNotification> Next(std::chrono::milliseconds timeout = kPatience)
    {
        DeviceNotification n;
        if (!m_queue.WaitPop(n, timeout))
            return std::nullopt;
        return n;
    }

    // The next notification must be MM_WIM_DATA for this header, back for good.
    ::testing::AssertionResult Returned(const WAVEHDR& header, std::chrono::milliseconds timeout = kPatience)
    {
        const auto n = Next(timeout);
        if (!n)
            return ::testing::AssertionFailure() << "aucun tampon rendu en " << timeout.count() << " ms";
        if (n->message != MM_WIM_DATA || n->header != &header)
            return ::testing::AssertionFailure() << "message " << n->message << " pour un autre tampon";
        if ((header.dwFlags & (WHDR_DONE | WHDR_INQUEUE)) != WHDR_DONE)
            return ::testing::AssertionFailure() << "drapeaux " << header.dwFlags;
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Closed()
    {
        if (const MMRESULT r = waveInClose(m_handle))
            return ::testing::AssertionFailure() << "fermeture: " << r;
        m_handle = 0;
        const auto n = Next(0ms);
        if (!n || n->message != MM_WIM_CLOSE)
            return ::testing::AssertionFailure() << "pas de MM_WIM_CLOSE";
        return ::testing::AssertionSuccess();
    }

    std::uint32_t Position(std::uint32_t type)
    {
        MMTIME t;
        t.wType = type;
        EXPECT_EQ(waveInGetPosition(m_handle, t), MMSYSERR_NOERROR);
        EXPECT_EQ(t.wType, type);
        return t.value;
    }

    HWAVEIN Handle() const { return m_handle; }
    NotificationQueue& Queue() { return m_queue; }

private:
    std::deque<Buffers> m_buffers;
    NotificationQueue m_queue;
    HWAVEIN m_handle = 0;
};

// Plays bytes into the default sink (the null sink) through the output service.
class Output
{
public:
    explicit Output(const TWaveFormatEx& format, std::vector<std::uint8_t> data) : m_data(std::move(data))
    {
        m_header.lpData = m_data.data();
        m_header.dwBufferLength = static_cast<std::uint32_t>(m_data.size());
        m_opened =
            waveOutOpen(&m_handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW) == MMSYSERR_NOERROR;
    }
    ~Output()
    {
        if (m_opened) {
            waveOutReset(m_handle);
            waveOutClose(m_handle);
        }
    }

    bool Play()
    {
        return m_opened && waveOutPrepareHeader(m_handle, &m_header) == MMSYSERR_NOERROR &&
               waveOutWrite(m_handle, &m_header) == MMSYSERR_NOERROR;
    }

private:
    NotificationQueue m_queue;
    std::vector<std::uint8_t> m_data;
    WAVEHDR m_header;
    HWAVEOUT m_handle = 0;
    bool m_opened = false;
};

// The test's own client, to look at the server from outside the backend and to change it as a user or
// the system would: load and unload devices, kill the program's connection.
class ServerProbe : public PulseProbe
{
public:
    ServerProbe() = default;
    ~ServerProbe()
    {
        for (const std::uint32_t module : m_modules)
            Finish(Locked([&] { return pa_context_unload_module(Context(), module, nullptr, nullptr); }));
    }
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    // The sources the program records from (its record streams, by their application name).
    std::vector<std::string> OurSources()
    {
        struct Found
        {
            std::vector<std::uint32_t> sources;
        } found;
        if (!Finish(Locked([&] {
                return pa_context_get_source_output_info_list(
                    Context(),
                    [](pa_context*, const pa_source_output_info* info, int eol, void* userdata) {
                        if (eol == 0 && info && NamedAfterTheProgram(info->proplist))
                            static_cast<Found*>(userdata)->sources.push_back(info->source);
                    },
                    &found);
            })))
            return {"?"};
        std::vector<std::string> names;
        for (const std::uint32_t index : found.sources)
            names.push_back(SourceName(index));
        return names;
    }

    // The same once the server has caught up with the backend's requests, made on another connection.
    std::vector<std::string> OurSourcesSettled(const std::vector<std::string>& expected)
    {
        std::vector<std::string> sources = OurSources();
        for (const auto deadline = Clock::now() + 2s; sources != expected && Clock::now() < deadline;
             sources = OurSources())
            std::this_thread::sleep_for(10ms);
        return sources;
    }

    std::string SourceName(std::uint32_t index)
    {
        std::string name;
        Finish(Locked([&] {
            return pa_context_get_source_info_by_index(
                Context(), index,
                [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                    if (eol == 0 && info)
                        *static_cast<std::string*>(userdata) = info->name;
                },
                &name);
        }));
        return name;
    }

    std::string SourceDescription(const std::string& source)
    {
        std::string description;
        Finish(Locked([&] {
            return pa_context_get_source_info_by_name(
                Context(), source.c_str(),
                [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                    if (eol == 0 && info && info->description)
                        *static_cast<std::string*>(userdata) = info->description;
                },
                &description);
        }));
        return description;
    }

    std::string DefaultSource()
    {
        std::string name;
        Finish(Locked([&] {
            return pa_context_get_server_info(
                Context(),
                [](pa_context*, const pa_server_info* info, void* userdata) {
                    if (info && info->default_source_name)
                        *static_cast<std::string*>(userdata) = info->default_source_name;
                },
                &name);
        }));
        return name;
    }

    // A null sink of that name (and its monitor source); unloaded at the latest with the probe.
    std::optional<std::uint32_t> LoadNullSink(const std::string& name)
    {
        struct Loaded
        {
            std::uint32_t index = PA_INVALID_INDEX;
        } loaded;
        const std::string arguments = "sink_name=" + name + " sink_properties=device.description=" + name;
        if (!Finish(Locked([&] {
                return pa_context_load_module(
                    Context(), "module-null-sink", arguments.c_str(),
                    [](pa_context*, std::uint32_t index, void* userdata) {
                        static_cast<Loaded*>(userdata)->index = index;
                    },
                    &loaded);
            })) ||
            loaded.index == PA_INVALID_INDEX)
            return std::nullopt;
        m_modules.push_back(loaded.index);
        return loaded.index;
    }

    bool Unload(std::uint32_t module)
    {
        std::erase(m_modules, module);
        return Finish(Locked([&] { return pa_context_unload_module(Context(), module, nullptr, nullptr); }));
    }

private:
    std::vector<std::uint32_t> m_modules;
};

// The connection as a reconnection after a lost one finds it: at most kRetryDelay after the last attempt.
std::shared_ptr<PulseConnection>
Reconnected(std::shared_ptr<PulseConnection> (*shared)() = SharedPulseConnection)
{
    const auto deadline = Clock::now() + PulseConnection::kRetryDelay + kPatience;
    std::shared_ptr<PulseConnection> connection = shared();
    while (!connection && Clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        connection = shared();
    }
    return connection;
}

// Until the connection has seen the server drop it.
bool Lost(PulseConnection& connection)
{
    for (const auto deadline = Clock::now() + kPatience; Clock::now() < deadline;
         std::this_thread::sleep_for(5ms)) {
        const MainloopLock lock(connection.Mainloop());
        if (!connection.Ready())
            return true;
    }
    return false;
}

// Every event the server sent before it answers this has reached the listeners.
void Sync(PulseConnection& connection)
{
    const MainloopLock lock(connection.Mainloop());
    EXPECT_TRUE(connection.DefaultSourceName());
}

class PulseInput : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_problem = PrivateServerUnusable([] {
            s_input = CreatePulseWaveInBackend();
            s_output = CreatePulseWaveOutBackend();
            return s_input && s_output;
        });
    }

    static void TearDownTestSuite()
    {
        s_input.reset();
        s_output.reset();
    }

    void SetUp() override
    {
        if (!s_problem.empty())
            SONALTO_WITHOUT_SOUND_SERVER(s_problem);
        SelectCaptureSource("");
        SetCurrentWaveInBackend(s_input);
        SetCurrentWaveOutBackend(s_output);
        ASSERT_TRUE(m_probe.Ready());
    }

    void TearDown() override
    {
        SelectCaptureSource("");
        SetCurrentWaveInBackend(nullptr);
        SetCurrentWaveOutBackend(nullptr);
    }

    static std::shared_ptr<WaveInBackend> s_input;
    static std::shared_ptr<WaveOutBackend> s_output;
    static std::string s_problem;
    ServerProbe m_probe;
};

std::shared_ptr<WaveInBackend> PulseInput::s_input;
std::shared_ptr<WaveOutBackend> PulseInput::s_output;
std::string PulseInput::s_problem;

// ---- The device ------------------------------------------------------------------------------------

TEST_F(PulseInput, OneDeviceNamedAfterTheSourceItRecordsFrom)
{
    EXPECT_EQ(s_input->Name(), "PulseAudio");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    WAVEINCAPS caps;
    ASSERT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_ALL);
    EXPECT_EQ(caps.wChannels, 2);
    const std::string defaultSource = m_probe.DefaultSource();
    ASSERT_FALSE(defaultSource.empty());
    EXPECT_EQ(caps.szPname, m_probe.SourceDescription(defaultSource));

    SelectCaptureSource(kOtherMonitor);
    ASSERT_EQ(waveInGetDevCaps(WAVE_MAPPER, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, m_probe.SourceDescription(kOtherMonitor));
    EXPECT_NE(caps.szPname, m_probe.SourceDescription(defaultSource));

    SelectCaptureSource("sonalto_nulle_part");
    ASSERT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, m_probe.SourceDescription(defaultSource)) << "la source choisie n'existe pas";

    EXPECT_EQ(waveInGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);
}

TEST_F(PulseInput, AcceptsOnlyPcmItCanRecord)
{
    for (const TWaveFormatEx& f : {Pcm(8000, 1, 8), Pcm(11025, 2, 8), Pcm(22050, 1, 16), Pcm(44100, 2, 16),
                                   Pcm(1, 1, 8), Pcm(384000, 2, 16)})
        EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &f, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR)
            << Describe(f);
    TWaveFormatEx badAlign = Pcm(44100, 2, 16);
    badAlign.nBlockAlign = 2;
    TWaveFormatEx notPcm = Pcm(44100, 2, 16);
    notPcm.wFormatTag = 3; // floating point
    for (const TWaveFormatEx& f : {Pcm(44100, 1, 24), Pcm(44100, 3, 16), Pcm(44100, 2, 32), Pcm(0, 1, 16),
                                   Pcm(384001, 1, 16), badAlign, notPcm}) {
        EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &f, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT)
            << Describe(f);
        Input refused;
        EXPECT_EQ(refused.Open(f), WAVERR_BADFORMAT) << Describe(f);
        EXPECT_TRUE(refused.Queue().Empty()) << "pas de MM_WIM_OPEN pour une ouverture refusée";
    }
    const TWaveFormatEx good = Pcm(44100, 2, 16);
    EXPECT_EQ(waveInOpen(nullptr, 3, &good, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    HWAVEIN handle = 0;
    EXPECT_EQ(waveInOpen(&handle, 0, &good, nullptr, CALLBACK_WINDOW), MMSYSERR_INVALPARAM);
    EXPECT_EQ(m_probe.OurSourcesSettled({}), std::vector<std::string>{}) << "aucun flux laissé au serveur";
}

// ---- Recording -------------------------------------------------------------------------------------

struct Case
{
    TWaveFormatEx format;
    double tolerance; // relative difference from the signal, per 20 ms (8 bits are coarser)
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << Describe(c.format);
}

class PulseInputRecords : public PulseInput, public ::testing::WithParamInterface<Case>
{
};

// What the sink plays comes back from its monitor: in 100 ms buffers, in order, full, on time, and the
// same signal, unbroken, on the right channels.
TEST_P(PulseInputRecords, TheMonitorGivesBackWhatTheSinkPlays)
{
    const TWaveFormatEx format = GetParam().format;
    SCOPED_TRACE(Describe(format));
    SelectCaptureSource(kMonitor);
    Input input;
    ASSERT_TRUE(input.Opened(format));
    EXPECT_EQ(m_probe.OurSourcesSettled({kMonitor}), std::vector<std::string>{kMonitor});

    // 100 ms, in whole frames; two of them go round as the recorder has them.
    const std::uint32_t frames = format.nSamplesPerSec / 10, bytes = frames * format.nBlockAlign;
    Buffers& buffers = input.Make(2, bytes);
    ASSERT_TRUE(input.AddAll(buffers));
    // Opened stopped: nothing comes before the start.
    EXPECT_FALSE(input.Next(200ms));
    EXPECT_EQ(input.Position(MMTIME::Bytes), 0u);

    Output output(format, Encode(format, 1000));
    const auto start = Clock::now();
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(150ms);
    ASSERT_TRUE(output.Play());

    constexpr std::size_t kRounds = 16;
    std::vector<long> back;
    std::vector<std::uint8_t> recorded;
    for (std::size_t round = 0; round < kRounds; ++round) {
        const std::size_t i = round % 2;
        ASSERT_TRUE(input.Returned(buffers[i])) << "tampon " << round;
        back.push_back(Ms(Clock::now() - start));
        EXPECT_EQ(buffers[i].dwBytesRecorded, bytes) << "tampon " << round << " rendu incomplet";
        EXPECT_TRUE(buffers.UntouchedPastRecorded(i));
        const std::vector<std::uint8_t> taken = buffers.Take(i);
        recorded.insert(recorded.end(), taken.begin(), taken.end());
        // Now and then the program is slow to hand a buffer back: the other one fills up meanwhile, none
        // is left queued, and what the server sends must wait for the next one.
        if (round % 4 == 1)
            std::this_thread::sleep_for(150ms);
        if (round + 2 < kRounds) {
            ASSERT_EQ(waveInAddBuffer(input.Handle(), &buffers[i]), MMSYSERR_NOERROR);
        }
    }
    // Sound is recorded as it comes, so the buffers cannot come back faster; small fragments bring them
    // back soon after they are full.
    for (std::size_t i = 0; i < back.size(); ++i) {
        const long full = static_cast<long>(i + 1) * 100;
        EXPECT_GE(back[i], full - 30) << "tampon " << i;
        EXPECT_LE(back[i], full + 250) << "tampon " << i;
    }
    EXPECT_EQ(input.Position(MMTIME::Bytes), kRounds * bytes);
    EXPECT_EQ(input.Position(MMTIME::Samples), kRounds * frames);
    EXPECT_EQ(input.Position(MMTIME::Ms), kRounds * frames * 1000 / format.nSamplesPerSec);

    const unsigned rate = format.nSamplesPerSec;
    const std::optional<double> lag = SignalLag(Decode(format, recorded, 0), rate);
    ASSERT_TRUE(lag) << "le signal n'a pas été enregistré";
    // Started 150 ms before the sound was played, with a little latency on both sides; PipeWire begins
    // to record at its next processing period, up to a few tens of milliseconds after the start.
    EXPECT_GT(*lag, rate * 0.10);
    EXPECT_LT(*lag, rate * 0.45);
    for (unsigned c = 0; c < format.nChannels; ++c)
        EXPECT_TRUE(HoldsSignal(Decode(format, recorded, c), rate, c, *lag, 950, GetParam().tolerance))
            << "canal " << c;
    ASSERT_TRUE(input.Closed());
    EXPECT_EQ(m_probe.OurSourcesSettled({}), std::vector<std::string>{}) << "le flux doit quitter le serveur";
}

INSTANTIATE_TEST_SUITE_P(Formats, PulseInputRecords,
                         ::testing::Values(Case{Pcm(22050, 1, 16), 0.01}, Case{Pcm(44100, 2, 16), 0.01},
                                           Case{Pcm(11025, 2, 8), 0.08}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             const TWaveFormatEx& f = info.param.format;
                             return std::to_string(f.nSamplesPerSec) + "Hz" + std::to_string(f.nChannels) +
                                    "ch" + std::to_string(f.wBitsPerSample) + "bits";
                         });

TEST_F(PulseInput, StopHandsBackTheBufferBeingFilledAndKeepsTheOthers)
{
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    Input input;
    ASSERT_TRUE(input.Opened(format));
    Buffers& buffers = input.Make(2, format.nAvgBytesPerSec); // a second each
    ASSERT_TRUE(input.AddAll(buffers));
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(waveInStop(input.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(input.Returned(buffers[0], 100ms));
    const std::uint32_t partial = buffers[0].dwBytesRecorded;
    EXPECT_EQ(partial % format.nBlockAlign, 0u);
    EXPECT_GT(partial, format.nAvgBytesPerSec / 5) << "200 ms au moins en 400 ms";
    EXPECT_LT(partial, format.nAvgBytesPerSec / 2);
    EXPECT_TRUE(buffers.UntouchedPastRecorded(0));
    EXPECT_EQ(input.Position(MMTIME::Bytes), partial);

    // Stopped: the other buffer stays, nothing is recorded, and a second stop changes nothing.
    EXPECT_FALSE(input.Next(400ms));
    EXPECT_EQ(input.Position(MMTIME::Bytes), partial);
    EXPECT_EQ(waveInStop(input.Handle()), MMSYSERR_NOERROR);
    EXPECT_FALSE(input.Next(100ms));
    EXPECT_EQ(waveInClose(input.Handle()), WAVERR_STILLPLAYING);

    // Started again, it fills the other one, from the start, in one second.
    const auto restart = Clock::now();
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(input.Returned(buffers[1]));
    const long took = Ms(Clock::now() - restart);
    EXPECT_GE(took, 970);
    EXPECT_LE(took, 1300);
    EXPECT_EQ(buffers[1].dwBytesRecorded, buffers[1].dwBufferLength);
    EXPECT_EQ(input.Position(MMTIME::Bytes), partial + buffers[1].dwBufferLength);
    EXPECT_TRUE(input.Closed());
}

TEST_F(PulseInput, ResetHandsBackEveryBufferAndCloseWaitsForThem)
{
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    Input input;
    ASSERT_TRUE(input.Opened(format));
    Buffers& buffers = input.Make(3, format.nAvgBytesPerSec);
    ASSERT_TRUE(input.AddAll(buffers));
    EXPECT_EQ(waveInClose(input.Handle()), WAVERR_STILLPLAYING) << "des tampons attendent encore";
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(input.Queue().Empty());
    EXPECT_EQ(waveInClose(input.Handle()), WAVERR_STILLPLAYING);
    EXPECT_EQ(m_probe.OurSources().size(), 1u) << "le refus de fermer laisse le flux";

    const auto reset = Clock::now();
    ASSERT_EQ(waveInReset(input.Handle()), MMSYSERR_NOERROR);
    for (std::size_t i = 0; i < buffers.size(); ++i)
        ASSERT_TRUE(input.Returned(buffers[i], 100ms)) << "tampon " << i;
    EXPECT_LT(Ms(Clock::now() - reset), 100);
    EXPECT_GT(buffers[0].dwBytesRecorded, 0u) << "ce qui était enregistré reste dans le premier";
    EXPECT_LT(buffers[0].dwBytesRecorded, buffers[0].dwBufferLength);
    EXPECT_EQ(buffers[1].dwBytesRecorded, 0u);
    EXPECT_EQ(buffers[2].dwBytesRecorded, 0u);
    EXPECT_EQ(input.Position(MMTIME::Bytes), 0u);
    EXPECT_EQ(input.Position(MMTIME::Ms), 0u);
    // Reset also stops: nothing more comes.
    EXPECT_FALSE(input.Next(200ms));
    for (std::size_t i = 0; i < buffers.size(); ++i)
        EXPECT_EQ(waveInUnprepareHeader(input.Handle(), &buffers[i]), MMSYSERR_NOERROR);
    ASSERT_TRUE(input.Closed());
    EXPECT_EQ(m_probe.OurSourcesSettled({}), std::vector<std::string>{});
}

// ---- The source ------------------------------------------------------------------------------------

TEST_F(PulseInput, RecordsFromTheChosenSourceOrElseTheDefaultOne)
{
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    const std::string defaultSource = m_probe.DefaultSource();
    ASSERT_FALSE(defaultSource.empty());
    const std::string other = defaultSource == kOtherMonitor ? kMonitor : kOtherMonitor;
    {
        SCOPED_TRACE("nothing chosen");
        Input input;
        ASSERT_TRUE(input.Opened(format));
        EXPECT_EQ(m_probe.OurSourcesSettled({defaultSource}), std::vector<std::string>{defaultSource});
    }
    {
        SCOPED_TRACE("a source chosen");
        SelectCaptureSource(other);
        Input input;
        ASSERT_TRUE(input.Opened(format));
        EXPECT_EQ(m_probe.OurSourcesSettled({other}), std::vector<std::string>{other});
    }
    {
        SCOPED_TRACE("the chosen source does not exist");
        SelectCaptureSource("sonalto_nulle_part.monitor");
        Input input;
        ASSERT_TRUE(input.Opened(format));
        EXPECT_EQ(m_probe.OurSourcesSettled({defaultSource}), std::vector<std::string>{defaultSource});
        // It records, too.
        Buffers& buffers = input.Make(1, format.nAvgBytesPerSec / 10);
        ASSERT_TRUE(input.AddAll(buffers));
        ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
        ASSERT_TRUE(input.Returned(buffers[0]));
        EXPECT_EQ(buffers[0].dwBytesRecorded, buffers[0].dwBufferLength);
    }
    {
        SCOPED_TRACE("another source chosen while the device is stopped");
        SelectCaptureSource(defaultSource);
        Input input;
        ASSERT_TRUE(input.Opened(format));
        EXPECT_EQ(m_probe.OurSourcesSettled({defaultSource}), std::vector<std::string>{defaultSource});
        SelectCaptureSource(other);
        ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
        EXPECT_EQ(m_probe.OurSourcesSettled({other}), std::vector<std::string>{other});
    }
    EXPECT_EQ(m_probe.OurSourcesSettled({}), std::vector<std::string>{});
}

// A source that goes while recording (a USB microphone pulled out): the buffers come back with what they
// hold, and the device answers with an error until it is closed, instead of waiting forever.
TEST_F(PulseInput, ARemovedSourceEndsTheRecordingWithAnError)
{
    const std::optional<std::uint32_t> module = m_probe.LoadNullSink("sonalto_ephemere");
    ASSERT_TRUE(module) << "impossible de charger module-null-sink";
    SelectCaptureSource("sonalto_ephemere.monitor");
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    Input input;
    ASSERT_TRUE(input.Opened(format));
    EXPECT_EQ(m_probe.OurSourcesSettled({"sonalto_ephemere.monitor"}),
              std::vector<std::string>{"sonalto_ephemere.monitor"});
    // A new null sink renders its first two seconds at once: the sound comes in small pieces after that.
    Buffers& first = input.Make(1, format.nAvgBytesPerSec / 10);
    ASSERT_TRUE(input.AddAll(first));
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(input.Returned(first[0], 5000ms));
    Buffers& buffers = input.Make(3, format.nAvgBytesPerSec);
    ASSERT_TRUE(input.AddAll(buffers));
    std::this_thread::sleep_for(300ms);

    const auto removed = Clock::now();
    ASSERT_TRUE(m_probe.Unload(*module));
    for (std::size_t i = 0; i < buffers.size(); ++i)
        ASSERT_TRUE(input.Returned(buffers[i])) << "tampon " << i;
    EXPECT_LT(Ms(Clock::now() - removed), 1000);
    EXPECT_GT(buffers[0].dwBytesRecorded, format.nAvgBytesPerSec / 10) << "ce qui était enregistré reste";
    EXPECT_TRUE(buffers.UntouchedPastRecorded(0));
    EXPECT_EQ(buffers[1].dwBytesRecorded, 0u);
    EXPECT_EQ(buffers[2].dwBytesRecorded, 0u);
    EXPECT_EQ(input.Position(MMTIME::Bytes), first[0].dwBytesRecorded + buffers[0].dwBytesRecorded);

    // Not moved to another source: the recording ends there.
    EXPECT_EQ(m_probe.OurSourcesSettled({}), std::vector<std::string>{});
    const auto calls = Clock::now();
    EXPECT_EQ(waveInAddBuffer(input.Handle(), &buffers[0]), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(buffers[0].dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(waveInStart(input.Handle()), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInStop(input.Handle()), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInReset(input.Handle()), MMSYSERR_NOERROR);
    EXPECT_EQ(input.Position(MMTIME::Bytes), 0u);
    EXPECT_LT(Ms(Clock::now() - calls), 100) << "une source disparue ne fait pas attendre";
    EXPECT_FALSE(input.Next(100ms));
    EXPECT_TRUE(input.Closed());
}

// The server dropping the program (it restarts): the same as a removed source for an open device, and a
// new device records again from the connection made anew.
TEST_F(PulseInput, ALostConnectionEndsTheRecordingAndTheNextOpenReconnects)
{
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    Input input;
    ASSERT_TRUE(input.Opened(format));
    Buffers& buffers = input.Make(2, format.nAvgBytesPerSec);
    ASSERT_TRUE(input.AddAll(buffers));
    ASSERT_EQ(waveInStart(input.Handle()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    // Recording has its connection, the output and the mixer share the other one.
    EXPECT_EQ(m_probe.OurConnections(), 2) << "une connexion pour l'enregistrement, une pour le reste";
    ASSERT_EQ(m_probe.KillOurConnections(), 2);
    ASSERT_TRUE(input.Returned(buffers[0]));
    ASSERT_TRUE(input.Returned(buffers[1]));
    EXPECT_GT(buffers[0].dwBytesRecorded, 0u);
    EXPECT_EQ(waveInStart(input.Handle()), MMSYSERR_BADDEVICEID);
    EXPECT_TRUE(input.Closed());

    // Reconnecting is tried again a few seconds after the last attempt.
    ASSERT_TRUE(Reconnected());
    Input again;
    ASSERT_TRUE(again.Opened(format));
    Buffers& more = again.Make(1, format.nAvgBytesPerSec / 10);
    ASSERT_TRUE(again.AddAll(more));
    ASSERT_EQ(waveInStart(again.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(again.Returned(more[0]));
    EXPECT_EQ(more[0].dwBytesRecorded, more[0].dwBufferLength);
    EXPECT_TRUE(again.Closed());
}

// ---- The shared connection -------------------------------------------------------------------------

// Events as listeners get them, waited for from the test's thread.
class Events
{
public:
    void Add(pa_subscription_event_type_t event, std::uint32_t index)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_events.emplace_back(event, index);
        m_arrived.notify_all();
    }

    // Whether one like that came (from the first'th on), within the patience.
    bool Saw(unsigned event, std::size_t first = 0)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, kPatience, [&] {
            for (std::size_t i = first; i < m_events.size(); ++i)
                if (m_events[i].first == event)
                    return true;
            return false;
        });
    }

    bool Seen(unsigned event)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [e, i] : m_events)
            if (e == event)
                return true;
        return false;
    }

    std::size_t Count()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_events.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::pair<unsigned, std::uint32_t>> m_events;
};

TEST_F(PulseInput, TwoConnectionsServeEveryBackendAndTellTheirListeners)
{
    const std::shared_ptr<PulseConnection> connection = SharedPulseConnection();
    ASSERT_TRUE(connection);
    EXPECT_EQ(SharedPulseConnection(), connection);
    // Recording has one of its own (on one connection, PipeWire holds back what is recorded while the
    // same connection plays); the output and the mixer share the other.
    const std::shared_ptr<PulseConnection> capture = Reconnected(SharedPulseCaptureConnection);
    ASSERT_TRUE(capture);
    EXPECT_NE(capture, connection);
    EXPECT_EQ(SharedPulseCaptureConnection(), capture);
    EXPECT_EQ(m_probe.OurConnections(), 2)
        << "une pour l'enregistrement, une partagée par la sortie et le mélangeur";

    Events sources, sinks, removedItself;
    const auto sourceListener =
        connection->AddListener(PA_SUBSCRIPTION_MASK_SOURCE,
                                [&](pa_subscription_event_type_t e, std::uint32_t i) { sources.Add(e, i); });
    const auto sinkListener = connection->AddListener(
        PA_SUBSCRIPTION_MASK_SINK, [&](pa_subscription_event_type_t e, std::uint32_t i) { sinks.Add(e, i); });
    PulseConnection::ListenerId once = 0;
    once = connection->AddListener(PA_SUBSCRIPTION_MASK_SINK,
                                   [&](pa_subscription_event_type_t e, std::uint32_t i) {
                                       removedItself.Add(e, i);
                                       connection->RemoveListener(once);
                                   });
    // One that takes another out during the same event: that one is not called any more, even for it.
    Events victim;
    PulseConnection::ListenerId victimId = 0;
    const auto remover =
        connection->AddListener(PA_SUBSCRIPTION_MASK_SINK, [&](pa_subscription_event_type_t, std::uint32_t) {
            connection->RemoveListener(victimId);
        });
    victimId = connection->AddListener(PA_SUBSCRIPTION_MASK_SINK, [&](pa_subscription_event_type_t e,
                                                                      std::uint32_t i) { victim.Add(e, i); });
    Sync(*connection);

    const std::optional<std::uint32_t> module = m_probe.LoadNullSink("sonalto_evenement");
    ASSERT_TRUE(module);
    EXPECT_TRUE(sinks.Saw(PA_SUBSCRIPTION_EVENT_SINK | PA_SUBSCRIPTION_EVENT_NEW));
    EXPECT_TRUE(sources.Saw(PA_SUBSCRIPTION_EVENT_SOURCE | PA_SUBSCRIPTION_EVENT_NEW));
    Sync(*connection);
    EXPECT_EQ(removedItself.Count(), 1u) << "retiré pendant son premier appel";
    EXPECT_EQ(victim.Count(), 0u) << "retiré par un autre avant son tour";
    connection->RemoveListener(remover);
    EXPECT_FALSE(sources.Seen(PA_SUBSCRIPTION_EVENT_SINK | PA_SUBSCRIPTION_EVENT_NEW))
        << "hors de son masque";

    connection->RemoveListener(sinkListener);
    const std::size_t sinksBefore = sinks.Count(), sourcesBefore = sources.Count();
    ASSERT_TRUE(m_probe.Unload(*module));
    EXPECT_TRUE(sources.Saw(PA_SUBSCRIPTION_EVENT_SOURCE | PA_SUBSCRIPTION_EVENT_REMOVE, sourcesBefore));
    Sync(*connection);
    EXPECT_EQ(sinks.Count(), sinksBefore) << "appelé après son retrait";
    EXPECT_EQ(removedItself.Count(), 1u);

    // A lost connection, then the new one, are news to every listener, whatever its mask.
    const std::size_t beforeKill = sources.Count();
    ASSERT_EQ(m_probe.KillOurConnections(), 2);
    EXPECT_TRUE(sources.Saw(PA_SUBSCRIPTION_EVENT_SERVER | PA_SUBSCRIPTION_EVENT_REMOVE, beforeKill));
    EXPECT_TRUE(Lost(*connection));
    EXPECT_EQ(Reconnected(), connection);
    EXPECT_TRUE(sources.Saw(PA_SUBSCRIPTION_EVENT_SERVER | PA_SUBSCRIPTION_EVENT_NEW, beforeKill));
    // And it listens on the new one.
    Sync(*connection);
    const std::size_t beforeLoad = sources.Count();
    ASSERT_TRUE(m_probe.LoadNullSink("sonalto_evenement2"));
    EXPECT_TRUE(sources.Saw(PA_SUBSCRIPTION_EVENT_SOURCE | PA_SUBSCRIPTION_EVENT_NEW, beforeLoad));
    connection->RemoveListener(sourceListener);
    EXPECT_EQ(sinks.Count(), sinksBefore);
    // The recording's connection comes back too, once recording needs it.
    EXPECT_EQ(Reconnected(SharedPulseCaptureConnection), capture);
    EXPECT_EQ(m_probe.OurConnections(), 2);
}

// ---- The program's choice ----------------------------------------------------------------------------

TEST_F(PulseInput, TheProgramRecordsThroughTheSoundServer)
{
    ASSERT_TRUE(Reconnected(SharedPulseCaptureConnection)); // an earlier test may have dropped it
    SetCurrentWaveInBackend(nullptr);
    EXPECT_EQ(CurrentWaveInBackend().Name(), "PulseAudio");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
}

// Run by a ctest entry of its own, without the private server: a server that takes the connection and
// never answers (a hung one) stands in for it here.
TEST(NoSoundServer, TheProgramRecordsThroughAlsaOrNothingAndSaysSo)
{
    if (!std::getenv("SONALTO_TEST_SILENT_SERVER"))
        GTEST_SKIP() << "seulement sans le serveur de son privé (SONALTO_TEST_SILENT_SERVER)";
    const std::string path = "/tmp/sonalto-silent-" + std::to_string(getpid());
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listening, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 8), 0);
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

    auto start = Clock::now();
    EXPECT_FALSE(CreatePulseWaveInBackend());
    const long first = Ms(Clock::now() - start);
    EXPECT_GE(first, PulseConnection::kConnectTimeout.count() - 50) << "abandonné avant le délai";
    EXPECT_LT(first, PulseConnection::kConnectTimeout.count() + 1000);
    // Every backend asking meanwhile gets its answer at once instead of waiting in turn.
    start = Clock::now();
    EXPECT_FALSE(CreatePulseWaveOutBackend());
    EXPECT_FALSE(CreatePulseWaveInBackend());
    EXPECT_FALSE(SharedPulseConnection());
    EXPECT_LT(Ms(Clock::now() - start), 100);
    // Later, the server is asked again.
    std::this_thread::sleep_for(PulseConnection::kRetryDelay);
    start = Clock::now();
    EXPECT_FALSE(CreatePulseWaveInBackend());
    EXPECT_GE(Ms(Clock::now() - start), PulseConnection::kConnectTimeout.count() - 50);

    // No server at all from here on: ALSA's own "default" may go through the sound server too, and would
    // wait for the silent one.
    close(listening);
    unlink(path.c_str());
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
    SetCurrentWaveInBackend(nullptr);
    start = Clock::now();
    WaveInBackend& chosen = CurrentWaveInBackend();
    EXPECT_LT(Ms(Clock::now() - start), 500) << "le serveur vient d'être essayé: pas de nouvelle attente";
    EXPECT_NE(chosen.Name(), "PulseAudio");
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    if (waveInGetNumDevs() > 0) {
        EXPECT_EQ(chosen.Name(), "ALSA") << "une carte son est là";
    } else {
        // No card either: no device, said plainly at every step.
        WAVEINCAPS caps;
        EXPECT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &format, nullptr, WAVE_FORMAT_QUERY),
                  MMSYSERR_BADDEVICEID);
        NotificationQueue queue;
        HWAVEIN handle = 0;
        EXPECT_EQ(waveInOpen(&handle, WAVE_MAPPER, &format, &queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(handle, 0u);
        EXPECT_TRUE(queue.Empty());
        std::string text;
        ASSERT_EQ(waveInGetErrorText(MMSYSERR_BADDEVICEID, text), MMSYSERR_NOERROR);
        EXPECT_NE(text.find("Aucun périphérique audio"), std::string::npos) << text;
    }
    SetCurrentWaveInBackend(nullptr);
}

} // namespace
