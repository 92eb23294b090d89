// The sound server backend against a real server: the private one scripts/pulse-test-server.sh starts for
// ctest, whose null sink stands for the speakers. What reaches the sink is recorded from its monitor.
#include "platform/sound/Backends.h"
#include "platform/sound/WaveOutService.h"
#include "support/PulseTestServer.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kPi = 3.14159265358979323846;
constexpr unsigned kMonitorRate = 44100;
const char* const kMonitor = "sonalto_null.monitor";

// A sine per channel (0 Hz: silence), amplitude as a fraction of full scale, in the format's encoding.
std::vector<std::uint8_t> Sine(const TWaveFormatEx& format, unsigned ms, std::vector<double> hz,
                               double amplitude)
{
    const std::size_t frames = static_cast<std::size_t>(format.nSamplesPerSec) * ms / 1000;
    std::vector<std::uint8_t> data;
    data.reserve(frames * format.nBlockAlign);
    for (std::size_t i = 0; i < frames; ++i)
        for (unsigned c = 0; c < format.nChannels; ++c)
            AppendSample(
                format,
                amplitude * std::sin(2 * kPi * hz[c] * static_cast<double>(i) / format.nSamplesPerSec), data);
    return data;
}

struct Buffer
{
    explicit Buffer(std::vector<std::uint8_t> bytes) : data(std::move(bytes))
    {
        data.reserve(1); // an empty buffer still needs an address
        header.lpData = data.data();
        header.dwBufferLength = static_cast<std::uint32_t>(data.size());
    }
    std::vector<std::uint8_t> data;
    WAVEHDR header;
};

// One output device through the service's functions; reset and closed at the end whatever happened.
class Player
{
public:
    ~Player()
    {
        if (m_open) {
            waveOutReset(m_handle);
            waveOutClose(m_handle);
        }
    }

    MMRESULT Open(const TWaveFormatEx& format)
    {
        const MMRESULT r = waveOutOpen(&m_handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW);
        m_open = r == MMSYSERR_NOERROR;
        return r;
    }

    MMRESULT Write(Buffer& buffer)
    {
        if (const MMRESULT r = waveOutPrepareHeader(m_handle, &buffer.header))
            return r;
        return waveOutWrite(m_handle, &buffer.header);
    }

    MMRESULT Close()
    {
        const MMRESULT r = waveOutClose(m_handle);
        if (r == MMSYSERR_NOERROR)
            m_open = false;
        return r;
    }

    std::optional<DeviceNotification> Next(std::chrono::milliseconds timeout = kPatience)
    {
        DeviceNotification n;
        if (!m_queue.WaitPop(n, timeout))
            return std::nullopt;
        return n;
    }

    // The next notification must be MM_WOM_DONE for this buffer, back for good.
    ::testing::AssertionResult Returned(const Buffer& buffer, std::chrono::milliseconds timeout = kPatience)
    {
        const auto n = Next(timeout);
        if (!n)
            return ::testing::AssertionFailure() << "aucun tampon rendu en " << timeout.count() << " ms";
        if (n->message != MM_WOM_DONE || n->header != &buffer.header)
            return ::testing::AssertionFailure() << "message " << n->message << " pour un autre tampon";
        if ((buffer.header.dwFlags & (WHDR_DONE | WHDR_INQUEUE)) != WHDR_DONE)
            return ::testing::AssertionFailure() << "drapeaux " << buffer.header.dwFlags;
        return ::testing::AssertionSuccess();
    }

    std::uint32_t Position(std::uint32_t type = MMTIME::Ms)
    {
        MMTIME t;
        t.wType = type;
        EXPECT_EQ(waveOutGetPosition(m_handle, t), MMSYSERR_NOERROR);
        EXPECT_EQ(t.wType, type);
        return t.value;
    }

    HWAVEOUT Handle() const { return m_handle; }
    NotificationQueue& Queue() { return m_queue; }

private:
    NotificationQueue m_queue;
    HWAVEOUT m_handle = 0;
    bool m_open = false;
};

// The test's own client, to look at the server from outside the backend: its streams, and what its sink
// played (recorded from the monitor, 16-bit stereo).
class ServerProbe : public PulseProbe
{
public:
    ServerProbe() = default;
    ~ServerProbe() { StopRecording(); }
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    // Streams the backend has on the server (they carry its application name).
    int OurStreams()
    {
        struct Count
        {
            int n = 0;
        } count;
        const bool listed = Finish(Locked([&] {
            return pa_context_get_sink_input_info_list(
                Context(),
                [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
                    if (eol == 0 && info && NamedAfterTheProgram(info->proplist))
                        ++static_cast<Count*>(userdata)->n;
                },
                &count);
        }));
        return listed ? count.n : -1;
    }

    // What a user does from the sound settings: kills the backend's streams. Returns how many.
    int KillOurStreams()
    {
        struct Found
        {
            std::vector<std::uint32_t> indexes;
        } found;
        if (!Finish(Locked([&] {
                return pa_context_get_sink_input_info_list(
                    Context(),
                    [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
                        if (eol == 0 && info && NamedAfterTheProgram(info->proplist))
                            static_cast<Found*>(userdata)->indexes.push_back(info->index);
                    },
                    &found);
            })))
            return -1;
        for (const std::uint32_t index : found.indexes)
            if (!Finish(
                    Locked([&] { return pa_context_kill_sink_input(Context(), index, nullptr, nullptr); })))
                return -1;
        return static_cast<int>(found.indexes.size());
    }

    // The count once the server has caught up with the backend's last requests, which reach it on
    // another connection than ours.
    int OurStreamsSettled(int expected)
    {
        int n = OurStreams();
        for (const auto deadline = Clock::now() + 1s; n != expected && Clock::now() < deadline;
             n = OurStreams())
            std::this_thread::sleep_for(10ms);
        return n;
    }

    bool StartRecording()
    {
        const pa_sample_spec layout{PA_SAMPLE_S16LE, kMonitorRate, 2};
        pa_threaded_mainloop_lock(Mainloop());
        m_record = pa_stream_new(Context(), "sonalto-test-monitor", &layout, nullptr);
        pa_stream_set_read_callback(
            m_record,
            [](pa_stream* s, std::size_t, void* userdata) {
                auto* samples = static_cast<std::vector<std::int16_t>*>(userdata);
                const void* data = nullptr;
                std::size_t size = 0;
                while (pa_stream_peek(s, &data, &size) == 0 && size > 0) {
                    const auto* first = static_cast<const std::int16_t*>(data);
                    if (data)
                        samples->insert(samples->end(), first, first + size / 2);
                    else
                        samples->insert(samples->end(), size / 2, 0); // a hole: nothing was played there
                    pa_stream_drop(s);
                }
            },
            &m_samples);
        // Pieces of 25 ms: asked for 10 ms, PipeWire now and then garbles a piece of what its monitor
        // gives on this small machine, and a test would blame the backend for it.
        pa_buffer_attr attributes{
            static_cast<std::uint32_t>(-1), 0, 0, 0,
            static_cast<std::uint32_t>(pa_usec_to_bytes(25 * PA_USEC_PER_MSEC, &layout))};
        attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
        pa_stream_connect_record(m_record, kMonitor, &attributes, PA_STREAM_ADJUST_LATENCY);
        pa_threaded_mainloop_unlock(Mainloop());
        return Poll([this] { return pa_stream_get_state(m_record) == PA_STREAM_READY; });
    }

    // Everything recorded, left and right interleaved.
    std::vector<std::int16_t> StopRecording()
    {
        if (!m_record)
            return {};
        std::this_thread::sleep_for(150ms); // the monitor runs a little behind the sink
        pa_threaded_mainloop_lock(Mainloop());
        pa_stream_set_read_callback(m_record, nullptr, nullptr);
        pa_stream_disconnect(m_record);
        pa_stream_unref(m_record);
        m_record = nullptr;
        pa_threaded_mainloop_unlock(Mainloop());
        return std::move(m_samples);
    }

private:
    pa_stream* m_record = nullptr;
    std::vector<std::int16_t> m_samples;
};

// One channel of a recording, as fractions of full scale.
std::vector<double> Channel(const std::vector<std::int16_t>& interleaved, int channel)
{
    std::vector<double> out;
    for (std::size_t i = static_cast<std::size_t>(channel); i < interleaved.size(); i += 2)
        out.push_back(interleaved[i] / 32768.0);
    return out;
}

double Rms(const std::vector<double>& x, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += x[i] * x[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
}

// Where a tone is in a recording: from the first to the last sample above a quarter of its amplitude.
struct Span
{
    std::size_t first = 0, last = 0;
    double Ms() const { return (last - first) * 1000.0 / kMonitorRate; }
};

std::optional<Span> ToneSpan(const std::vector<double>& x, double amplitude)
{
    std::optional<Span> span;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) > amplitude / 4) {
            if (!span)
                span = Span{i, i};
            span->last = i;
        }
    }
    return span;
}

double CrossingFrequency(const std::vector<double>& x, std::size_t from, std::size_t to)
{
    int rising = 0;
    std::size_t firstRise = 0, lastRise = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            if (rising == 0)
                firstRise = i;
            lastRise = i;
            ++rising;
        }
    }
    return rising > 1
               ? (rising - 1) * static_cast<double>(kMonitorRate) / static_cast<double>(lastRise - firstRise)
               : 0;
}

// A tone of this frequency and amplitude, lasting this long, with no gap: every 10 ms inside it keeps
// its level (a dropped buffer shows as a hole, a repeated one as a longer tone).
void ExpectTone(const std::vector<double>& x, double hz, double amplitude, double ms)
{
    const auto span = ToneSpan(x, amplitude);
    ASSERT_TRUE(span) << "rien n'est arrivé à la sortie";
    EXPECT_NEAR(span->Ms(), ms, 25);
    const std::size_t edge = kMonitorRate / 50; // resampler ramps at both ends
    ASSERT_GT(span->last, span->first + 3 * edge);
    const std::size_t from = span->first + edge, to = span->last - edge;
    EXPECT_NEAR(CrossingFrequency(x, from, to), hz, hz * 0.01);
    const double expected = amplitude / std::sqrt(2.0);
    EXPECT_NEAR(Rms(x, from, to), expected, expected * 0.1);
    const std::size_t window = kMonitorRate / 100;
    for (std::size_t w = from; w + window <= to; w += window)
        ASSERT_GT(Rms(x, w, w + window), expected * 0.8)
            << "trou à " << (w - span->first) * 1000 / kMonitorRate << " ms";
}

class PulseOutput : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_problem = PrivateServerUnusable([] {
            s_backend = CreatePulseWaveOutBackend();
            return s_backend != nullptr;
        });
    }

    static void TearDownTestSuite()
    {
        SetCurrentWaveOutBackend(nullptr);
        s_backend.reset();
    }

    void SetUp() override
    {
        if (!s_backend)
            SONALTO_WITHOUT_SOUND_SERVER(s_problem);
        SetCurrentWaveOutBackend(s_backend);
        // The tests time what they play against what the sink holds ahead of the clock.
        ASSERT_TRUE(SpeakersCaughtUp()) << "le puits du serveur de test reste en avance";
    }

    static std::shared_ptr<WaveOutBackend> s_backend;
    static std::string s_problem;
};

std::shared_ptr<WaveOutBackend> PulseOutput::s_backend;
std::string PulseOutput::s_problem;

TEST_F(PulseOutput, DescribesTheServersDevice)
{
    EXPECT_EQ(s_backend->Name(), "PulseAudio");
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    WAVEOUTCAPS caps;
    ASSERT_EQ(waveOutGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Sonalto-test"); // the null sink's description, as the script names it
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_ALL);
    EXPECT_EQ(caps.wChannels, 2);
    EXPECT_EQ(caps.dwSupport, WAVECAPS_VOLUME | WAVECAPS_LRVOLUME);
    EXPECT_EQ(waveOutGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);
}

TEST_F(PulseOutput, AcceptsOnlyPcmItCanPlay)
{
    for (const TWaveFormatEx& f : {Pcm(8000, 1, 8), Pcm(11025, 2, 8), Pcm(22050, 1, 16), Pcm(44100, 2, 16),
                                   Pcm(1, 1, 8), Pcm(384000, 2, 16)})
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &f, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR)
            << f.nSamplesPerSec << " Hz " << f.nChannels << " ch " << f.wBitsPerSample << " bits";
    TWaveFormatEx badAlign = Pcm(44100, 2, 16);
    badAlign.nBlockAlign = 2;
    TWaveFormatEx notPcm = Pcm(44100, 2, 16);
    notPcm.wFormatTag = 3; // floating point
    for (const TWaveFormatEx& f : {Pcm(44100, 1, 24), Pcm(44100, 3, 16), Pcm(44100, 2, 32), Pcm(0, 1, 16),
                                   Pcm(384001, 1, 16), badAlign, notPcm})
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &f, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT)
            << f.nSamplesPerSec << " Hz " << f.nChannels << " ch " << f.wBitsPerSample << " bits";
    const TWaveFormatEx good = Pcm(44100, 2, 16);
    EXPECT_EQ(waveOutOpen(nullptr, 3, &good, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);

    Player refused;
    EXPECT_EQ(refused.Open(Pcm(44100, 1, 24)), WAVERR_BADFORMAT);
    EXPECT_TRUE(refused.Queue().Empty()) << "pas de MM_WOM_OPEN pour une ouverture refusée";
}

TEST_F(PulseOutput, PlaysBuffersToTheEndAndReturnsThemInOrder)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    const auto opened = player.Next(0ms);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->message, MM_WOM_OPEN);
    EXPECT_EQ(probe.OurStreamsSettled(1), 1);

    Buffer first(Sine(format, 150, {440}, 0.3)), second(Sine(format, 150, {440}, 0.3));
    const auto start = Clock::now();
    ASSERT_EQ(player.Write(first), MMSYSERR_NOERROR);
    ASSERT_EQ(player.Write(second), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(player.Handle(), &first.header), WAVERR_STILLPLAYING);
    ASSERT_TRUE(player.Returned(first));
    const long firstBack = Ms(Clock::now() - start);
    ASSERT_TRUE(player.Returned(second));
    const long secondBack = Ms(Clock::now() - start);
    EXPECT_GE(firstBack, 120);
    EXPECT_GE(secondBack, 270);
    EXPECT_LT(secondBack, 800);

    // 300 ms of 22050 Hz mono 16-bit, whatever the unit.
    EXPECT_NEAR(player.Position(MMTIME::Ms), 300, 10);
    EXPECT_NEAR(player.Position(MMTIME::Samples), 6615, 220);
    EXPECT_NEAR(player.Position(MMTIME::Bytes), 13230, 441);
    EXPECT_EQ(player.Position(MMTIME::Bytes), 2 * player.Position(MMTIME::Samples));

    EXPECT_EQ(waveOutUnprepareHeader(player.Handle(), &first.header), MMSYSERR_NOERROR);
    ASSERT_EQ(player.Close(), MMSYSERR_NOERROR);
    const auto closed = player.Next(0ms);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->message, MM_WOM_CLOSE);
    EXPECT_EQ(probe.OurStreamsSettled(0), 0) << "le flux doit quitter le serveur à la fermeture";
}

TEST_F(PulseOutput, PlaysBuffersShorterThanTheServersBuffer)
{
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Next());

    // Alone, 30 ms never fill the server's prebuffer.
    Buffer lone(Sine(format, 30, {440, 440}, 0.3));
    auto start = Clock::now();
    ASSERT_EQ(player.Write(lone), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Returned(lone, 1000ms));
    EXPECT_GE(Ms(Clock::now() - start), 25);

    // Again after that underrun, then many small ones in a row, an empty one among them.
    std::vector<std::unique_ptr<Buffer>> buffers;
    for (int i = 0; i < 16; ++i)
        buffers.push_back(std::make_unique<Buffer>(Sine(format, i == 7 ? 0 : 15, {440, 440}, 0.3)));
    start = Clock::now();
    for (auto& b : buffers)
        ASSERT_EQ(player.Write(*b), MMSYSERR_NOERROR);
    for (auto& b : buffers)
        ASSERT_TRUE(player.Returned(*b, 1000ms));
    EXPECT_GE(Ms(Clock::now() - start), 210);
    EXPECT_NEAR(player.Position(), 30 + 225, 10);
}

TEST_F(PulseOutput, ResetStopsAtOnceAndHandsEverythingBack)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    ASSERT_TRUE(probe.StartRecording());
    const TWaveFormatEx format = Pcm(44100, 1, 16);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Next());
    Buffer first(Sine(format, 1000, {1000}, 0.5)), second(Sine(format, 1000, {1000}, 0.5));
    const auto start = Clock::now();
    ASSERT_EQ(player.Write(first), MMSYSERR_NOERROR);
    ASSERT_EQ(player.Write(second), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(player.Queue().Empty()) << "rien n'est encore joué";
    EXPECT_EQ(player.Close(), WAVERR_STILLPLAYING);
    const std::uint32_t before = player.Position();
    EXPECT_GT(before, 120u);
    EXPECT_LT(before, 260u);

    const auto reset = Clock::now();
    ASSERT_EQ(waveOutReset(player.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Returned(first, 100ms));
    ASSERT_TRUE(player.Returned(second, 100ms));
    const long resetMs = Ms(Clock::now() - reset);
    EXPECT_LT(resetMs, 100);
    const long playedMs = Ms(reset - start);
    EXPECT_EQ(player.Position(), 0u);
    EXPECT_EQ(probe.OurStreamsSettled(1), 1) << "le flux est remplacé, pas ajouté";

    const auto heard = Channel(probe.StopRecording(), 0);
    const auto span = ToneSpan(heard, 0.5);
    ASSERT_TRUE(span);
    EXPECT_LT(span->Ms(), playedMs + 60) << "le son a continué après la remise à zéro";
    EXPECT_GT(span->Ms(), playedMs - 100);

    EXPECT_EQ(player.Close(), MMSYSERR_NOERROR);
    const auto closed = player.Next(0ms);
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->message, MM_WOM_CLOSE);
    std::cout << "[   INFO   ] remise à zéro: les deux tampons rendus en " << resetMs << " ms\n";
}

TEST_F(PulseOutput, PauseHoldsThePositionAndTheSound)
{
    const TWaveFormatEx format = Pcm(22050, 2, 8);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Next());
    Buffer buffer(Sine(format, 600, {440, 660}, 0.3));
    const auto start = Clock::now();
    ASSERT_EQ(player.Write(buffer), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(waveOutPause(player.Handle()), MMSYSERR_NOERROR);
    const std::uint32_t paused = player.Position();
    EXPECT_GT(paused, 120u);
    std::this_thread::sleep_for(300ms);
    EXPECT_NEAR(player.Position(), paused, 5);
    EXPECT_TRUE(player.Queue().Empty());

    ASSERT_EQ(waveOutRestart(player.Handle()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(150ms);
    const std::uint32_t resumed = player.Position();
    EXPECT_GT(resumed, paused + 80);
    EXPECT_LT(resumed, paused + 200);
    ASSERT_TRUE(player.Returned(buffer));
    // 600 ms of sound and 300 ms of pause.
    EXPECT_GE(Ms(Clock::now() - start), 870);
    EXPECT_NEAR(player.Position(), 600, 10);

    // A reset while paused keeps the device paused, at 0.
    Buffer more(Sine(format, 200, {440, 660}, 0.3));
    ASSERT_EQ(waveOutPause(player.Handle()), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(player.Handle()), MMSYSERR_NOERROR);
    EXPECT_EQ(player.Position(), 0u);
    ASSERT_EQ(player.Write(more), MMSYSERR_NOERROR);
    EXPECT_FALSE(player.Next(300ms)) << "joué pendant la pause";
    EXPECT_EQ(player.Position(), 0u);
    ASSERT_EQ(waveOutRestart(player.Handle()), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Returned(more, 1000ms));
}

// What the sink played is the wave written: frequency, level, length, no gap, the right channel.
TEST_F(PulseOutput, TheSinkPlaysTheWaveWritten)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    {
        SCOPED_TRACE("16-bit mono, 44100 Hz, two buffers");
        ASSERT_TRUE(probe.StartRecording());
        const TWaveFormatEx format = Pcm(44100, 1, 16);
        Player player;
        ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
        ASSERT_TRUE(player.Next());
        Buffer a(Sine(format, 200, {1000}, 0.5)), b(Sine(format, 200, {1000}, 0.5));
        ASSERT_EQ(player.Write(a), MMSYSERR_NOERROR);
        ASSERT_EQ(player.Write(b), MMSYSERR_NOERROR);
        ASSERT_TRUE(player.Returned(a));
        ASSERT_TRUE(player.Returned(b));
        const auto recorded = probe.StopRecording();
        ExpectTone(Channel(recorded, 0), 1000, 0.5, 400);
        ExpectTone(Channel(recorded, 1), 1000, 0.5, 400);
    }
    {
        SCOPED_TRACE("8-bit stereo, 22050 Hz, tone on the left only");
        ASSERT_TRUE(probe.StartRecording());
        const TWaveFormatEx format = Pcm(22050, 2, 8);
        Player player;
        ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
        ASSERT_TRUE(player.Next());
        Buffer a(Sine(format, 300, {1000, 0}, 0.5));
        ASSERT_EQ(player.Write(a), MMSYSERR_NOERROR);
        ASSERT_TRUE(player.Returned(a));
        const auto recorded = probe.StopRecording();
        const auto left = Channel(recorded, 0), right = Channel(recorded, 1);
        ExpectTone(left, 1000, 0.5, 300);
        EXPECT_LT(Rms(right, 0, right.size()), 0.01) << "le silence (128) doit rester silence à droite";
    }
}

TEST_F(PulseOutput, VolumeIsTheStreamsOwnPerChannel)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Next());
    std::uint32_t volume = 0;
    ASSERT_EQ(waveOutGetVolume(player.Handle(), volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0xFFFFFFFFu) << "un nouveau flux joue à plein volume";
    for (const std::uint32_t v : {0x00000000u, 0x12345678u, 0xFFFF0000u}) {
        ASSERT_EQ(waveOutSetVolume(player.Handle(), v), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutGetVolume(player.Handle(), volume), MMSYSERR_NOERROR);
        EXPECT_EQ(volume, v);
    }

    // Left at half, right at full: the sink gets the left at half the amplitude.
    ASSERT_EQ(waveOutSetVolume(player.Handle(), 0xFFFF8000u), MMSYSERR_NOERROR);
    ASSERT_TRUE(probe.StartRecording());
    Buffer a(Sine(format, 300, {1000, 1000}, 0.5));
    ASSERT_EQ(player.Write(a), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Returned(a));
    const auto recorded = probe.StopRecording();
    ExpectTone(Channel(recorded, 1), 1000, 0.5, 300);
    ExpectTone(Channel(recorded, 0), 1000, 0.25, 300);

    // Another stream is not affected.
    Player other;
    ASSERT_EQ(other.Open(format), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutGetVolume(other.Handle(), volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0xFFFFFFFFu);
}

TEST_F(PulseOutput, TwoDevicesPlayAtTheSameTime)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    const TWaveFormatEx mono = Pcm(22050, 1, 16), stereo = Pcm(11025, 2, 8);
    Player one, two;
    ASSERT_EQ(one.Open(mono), MMSYSERR_NOERROR);
    ASSERT_EQ(two.Open(stereo), MMSYSERR_NOERROR);
    ASSERT_TRUE(one.Next());
    ASSERT_TRUE(two.Next());
    EXPECT_EQ(probe.OurStreamsSettled(2), 2);
    Buffer a(Sine(mono, 400, {500}, 0.3)), b(Sine(stereo, 400, {1500, 1500}, 0.3));
    const auto start = Clock::now();
    ASSERT_EQ(one.Write(a), MMSYSERR_NOERROR);
    ASSERT_EQ(two.Write(b), MMSYSERR_NOERROR);
    ASSERT_TRUE(one.Returned(a));
    ASSERT_TRUE(two.Returned(b));
    const long both = Ms(Clock::now() - start);
    EXPECT_GE(both, 370);
    EXPECT_LT(both, 700) << "l'un après l'autre au lieu d'ensemble";
    EXPECT_EQ(one.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(two.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(probe.OurStreamsSettled(0), 0);
}

// The stream can vanish under the device (killed from the sound settings, server restarted): the
// buffers it held must come back, or the program would wait for them forever, and the device must play
// again at the next write.
TEST_F(PulseOutput, AStreamKilledOnTheServerGivesItsBuffersBack)
{
    ServerProbe probe;
    ASSERT_TRUE(probe.Ready());
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    Player player;
    ASSERT_EQ(player.Open(format), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Next());
    Buffer a(Sine(format, 1000, {440}, 0.3)), b(Sine(format, 1000, {440}, 0.3));
    ASSERT_EQ(player.Write(a), MMSYSERR_NOERROR);
    ASSERT_EQ(player.Write(b), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(probe.KillOurStreams(), 1);
    ASSERT_TRUE(player.Returned(a, 500ms));
    ASSERT_TRUE(player.Returned(b, 500ms));

    Buffer c(Sine(format, 100, {440}, 0.3));
    const auto start = Clock::now();
    ASSERT_EQ(player.Write(c), MMSYSERR_NOERROR);
    ASSERT_TRUE(player.Returned(c, 1000ms));
    EXPECT_GE(Ms(Clock::now() - start), 90);
    EXPECT_NEAR(player.Position(), 100, 10);
    EXPECT_EQ(player.Close(), MMSYSERR_NOERROR);
}

} // namespace
