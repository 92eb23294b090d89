// The ALSA backend through the wave output service, without a sound card: ALSA's "null" device takes
// everything at once; its "tee" device writes what it is given to a file (to check the bytes) or to a
// named pipe (which blocks like a full card buffer until the test reads it).
#include "platform/sound/Backends.h"
#include "support/ThreadCount.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough for any healthy run, short enough that a lost notification fails instead of hanging.
constexpr auto kPatience = 3s;

TWaveFormatEx Pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits)
{
    TWaveFormatEx f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// A wave cut into buffers, each with content of its own so that a mix-up shows.
class Buffers
{
public:
    Buffers(const TWaveFormatEx& format, const std::vector<std::uint32_t>& lengthsInBytes)
        : m_data(lengthsInBytes.size()), m_headers(lengthsInBytes.size())
    {
        std::uint32_t seed = format.nSamplesPerSec + format.nChannels * 7u + format.wBitsPerSample;
        for (std::size_t i = 0; i < lengthsInBytes.size(); ++i) {
            m_data[i].reserve(1); // an empty buffer still has an address, as the service requires
            m_data[i].resize(lengthsInBytes[i]);
            for (auto& byte : m_data[i]) {
                seed = seed * 1103515245u + 12345u;
                byte = static_cast<std::uint8_t>(seed >> 16);
            }
            m_headers[i].lpData = m_data[i].data();
            m_headers[i].dwBufferLength = lengthsInBytes[i];
        }
    }

    // Lengths in milliseconds of sound, whole frames.
    static Buffers OfDurations(const TWaveFormatEx& format, std::initializer_list<std::uint32_t> ms)
    {
        std::vector<std::uint32_t> bytes;
        for (const std::uint32_t m : ms)
            bytes.push_back(format.nSamplesPerSec * m / 1000 * format.nBlockAlign);
        return Buffers(format, bytes);
    }

    std::size_t size() const { return m_headers.size(); }
    WAVEHDR& operator[](std::size_t i) { return m_headers[i]; }

    // What a device should have played: every whole frame of every buffer, in order.
    std::vector<std::uint8_t> WholeFrames(std::uint16_t blockAlign) const
    {
        std::vector<std::uint8_t> all;
        for (const auto& data : m_data)
            all.insert(all.end(), data.begin(),
                       data.begin() + static_cast<std::ptrdiff_t>(data.size() / blockAlign * blockAlign));
        return all;
    }

private:
    std::vector<std::vector<std::uint8_t>> m_data;
    std::vector<WAVEHDR> m_headers; // never resized once built: the device holds pointers into it
};

// A named pipe for ALSA's "tee" device. Until the test lets it drain, writes into it block once the
// pipe is full, as they do on a real card whose buffer is full; after a few seconds it drains anyway,
// so that a faulty backend fails the test instead of hanging it.
class BlockingSink
{
public:
    BlockingSink()
    {
        char dir[] = "/tmp/sonalto-alsa-XXXXXX";
        if (!mkdtemp(dir))
            return;
        m_dir = dir;
        m_path = m_dir + "/pipe";
        if (mkfifo(m_path.c_str(), 0600) != 0)
            return;
        m_read = open(m_path.c_str(), O_RDONLY | O_NONBLOCK);
        // Our own writer keeps reads from seeing an end of file between ALSA's opens.
        m_keepOpen = open(m_path.c_str(), O_WRONLY | O_NONBLOCK);
        if (m_read < 0 || m_keepOpen < 0)
            return;
        m_thread = std::thread([this] { Run(); });
    }

    ~BlockingSink()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (const int fd : {m_read, m_keepOpen})
            if (fd >= 0)
                close(fd);
        if (!m_dir.empty()) {
            unlink(m_path.c_str());
            rmdir(m_dir.c_str());
        }
    }

    bool Ready() const { return m_thread.joinable(); }
    std::string PcmName() const { return "tee:SLAVE=null,FILE=" + m_path + ",FORMAT=raw"; }
    void Drain() { m_draining = true; }

    // Whether what arrived last, within the time given, is exactly these bytes.
    bool EndsWith(const std::vector<std::uint8_t>& tail, std::chrono::milliseconds patience) const
    {
        const auto deadline = Clock::now() + patience;
        do {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (m_received.size() >= tail.size() &&
                    std::equal(tail.begin(), tail.end(),
                               m_received.end() - static_cast<std::ptrdiff_t>(tail.size())))
                    return true;
            }
            std::this_thread::sleep_for(5ms);
        } while (Clock::now() < deadline);
        return false;
    }

private:
    void Run()
    {
        const auto giveUp = Clock::now() + 2 * kPatience;
        std::vector<std::uint8_t> buffer(1 << 16);
        while (!m_stop) {
            if (!m_draining && Clock::now() < giveUp) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            pollfd p{m_read, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                const ssize_t n = read(m_read, buffer.data(), buffer.size());
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (n > 0)
                    m_received.insert(m_received.end(), buffer.begin(), buffer.begin() + n);
            }
        }
    }

    std::string m_dir, m_path;
    int m_read = -1, m_keepOpen = -1;
    std::atomic<bool> m_draining{false}, m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_received;
    std::thread m_thread;
};

class AlsaOutput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Some sanitizer runtimes start a helper thread along with the program's first one: have it
        // counted in the baseline, not taken for a device thread left behind.
        std::thread([] {}).join();
        m_threadsBefore = ThreadCount();
        Use("null");
    }

    void TearDown() override { SetCurrentWaveOutBackend(nullptr); }

    static void Use(const std::string& pcm) { SetCurrentWaveOutBackend(CreateAlsaWaveOutBackend(pcm)); }

    // Opens and checks that MM_WOM_OPEN came first; 0 when the open failed.
    HWAVEOUT Open(const TWaveFormatEx& format)
    {
        HWAVEOUT handle = 0;
        const MMRESULT r = waveOutOpen(&handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW);
        EXPECT_EQ(r, MMSYSERR_NOERROR);
        if (r != MMSYSERR_NOERROR)
            return 0;
        ExpectNext(MM_WOM_OPEN, nullptr);
        return handle;
    }

    void ExpectNext(std::uint32_t message, const WAVEHDR* header)
    {
        DeviceNotification n;
        ASSERT_TRUE(m_queue.WaitPop(n, kPatience)) << "no notification " << message;
        EXPECT_EQ(n.message, message);
        EXPECT_EQ(n.header, header);
    }

    void ExpectNothingFor(std::chrono::milliseconds time)
    {
        DeviceNotification n;
        EXPECT_FALSE(m_queue.WaitPop(n, time)) << "unexpected notification " << n.message;
    }

    static void WriteAll(HWAVEOUT handle, Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            ASSERT_EQ(waveOutPrepareHeader(handle, &buffers[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutWrite(handle, &buffers[i]), MMSYSERR_NOERROR);
        }
    }

    // Every header comes back once, in order, done and no longer queued.
    void ExpectAllDone(Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            SCOPED_TRACE("buffer " + std::to_string(i));
            ExpectNext(MM_WOM_DONE, &buffers[i]);
            EXPECT_EQ(buffers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
                      WHDR_DONE | WHDR_PREPARED);
        }
    }

    void CloseAndExpectClosed(HWAVEOUT handle, Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i)
            EXPECT_EQ(waveOutUnprepareHeader(handle, &buffers[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
        ExpectNext(MM_WOM_CLOSE, nullptr);
        ExpectNothingFor(0ms);
        EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore)
            << "a device thread outlived its close";
    }

    static std::uint32_t Position(HWAVEOUT handle, MMTIME::Type type)
    {
        MMTIME time;
        time.wType = type;
        EXPECT_EQ(waveOutGetPosition(handle, time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, type);
        return time.value;
    }

    NotificationQueue m_queue;
    int m_threadsBefore = 0;
};

// ---- The device and its formats ------------------------------------------------------------------

TEST_F(AlsaOutput, NullDeviceIsOneDeviceWithoutVolumeThatTakesPlainPcmOnly)
{
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    WAVEOUTCAPS caps;
    ASSERT_EQ(waveOutGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "ALSA null");
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_ALL);
    EXPECT_EQ(caps.dwSupport & (WAVECAPS_VOLUME | WAVECAPS_LRVOLUME), 0u);
    EXPECT_EQ(waveOutGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);

    for (const TWaveFormatEx& good :
         {Pcm(8000, 1, 8), Pcm(22050, 2, 8), Pcm(44100, 1, 16), Pcm(48000, 2, 16)})
        EXPECT_EQ(waveOutOpen(nullptr, 0, &good, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR)
            << good.nSamplesPerSec << " Hz " << good.nChannels << " ch " << good.wBitsPerSample << " bits";

    TWaveFormatEx misaligned = Pcm(44100, 2, 16);
    misaligned.nBlockAlign = 2;
    TWaveFormatEx compressed = Pcm(44100, 1, 16);
    compressed.wFormatTag = 2;
    for (const TWaveFormatEx& bad :
         {Pcm(44100, 2, 24), Pcm(44100, 3, 16), Pcm(0, 1, 16), misaligned, compressed}) {
        EXPECT_EQ(waveOutOpen(nullptr, 0, &bad, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
        HWAVEOUT handle = 0;
        EXPECT_EQ(waveOutOpen(&handle, 0, &bad, &m_queue, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    }
    TWaveFormatEx good = Pcm(44100, 2, 16);
    HWAVEOUT handle = 0;
    EXPECT_EQ(waveOutOpen(&handle, 1, &good, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    ExpectNothingFor(0ms);
    EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore);
}

TEST_F(AlsaOutput, MissingDeviceIsReportedNotOpened)
{
    Use("sonalto_absent");
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    WAVEOUTCAPS caps;
    EXPECT_EQ(waveOutGetDevCaps(0, caps), MMSYSERR_BADDEVICEID);
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &format, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    HWAVEOUT handle = 0;
    EXPECT_EQ(waveOutOpen(&handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&handle, 0, &format, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    ExpectNothingFor(0ms);
    EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore);
}

TEST_F(AlsaOutput, EveryFormatPlaysEveryByteInOrder)
{
    char dir[] = "/tmp/sonalto-alsa-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/played.raw";
    for (const std::uint16_t bits : {8, 16})
        for (const std::uint16_t channels : {1, 2})
            for (const std::uint32_t rate : {11025u, 44100u}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(channels) + " ch " +
                             std::to_string(bits) + " bits");
                Use("tee:SLAVE=null,FILE=" + file + ",FORMAT=raw");
                const TWaveFormatEx format = Pcm(rate, channels, bits);
                const HWAVEOUT handle = Open(format);
                ASSERT_NE(handle, 0u);
                // Lengths that are not whole chunks, one with a stray partial frame and an empty one.
                const std::uint32_t second = rate / 10 * format.nBlockAlign;
                Buffers buffers(format, {rate / 7 * format.nBlockAlign, second + format.nBlockAlign - 1u, 0u,
                                         rate / 3 * format.nBlockAlign});
                ASSERT_NO_FATAL_FAILURE(WriteAll(handle, buffers));
                ASSERT_NO_FATAL_FAILURE(ExpectAllDone(buffers));
                ASSERT_NO_FATAL_FAILURE(CloseAndExpectClosed(handle, buffers));

                std::ifstream in(file, std::ios::binary);
                const std::vector<std::uint8_t> played((std::istreambuf_iterator<char>(in)),
                                                       std::istreambuf_iterator<char>());
                const std::vector<std::uint8_t> expected = buffers.WholeFrames(format.nBlockAlign);
                ASSERT_EQ(played.size(), expected.size());
                EXPECT_TRUE(played == expected) << "bytes reached the device out of order or altered";
            }
    std::filesystem::remove_all(dir);
}

// ---- Playing, pausing, stopping ---------------------------------------------------------------------

TEST_F(AlsaOutput, PlaysToTheEndThenAgainAfterGoingIdle)
{
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    const HWAVEOUT handle = Open(format);
    ASSERT_NE(handle, 0u);
    Buffers buffers = Buffers::OfDurations(format, {50, 50, 50, 50});
    WriteAll(handle, buffers);
    ExpectAllDone(buffers);

    // Everything was handed to ALSA; at most its buffer (well under 250 ms) can be still to play.
    const std::uint32_t bytes = Position(handle, MMTIME::Bytes);
    EXPECT_LE(bytes, 4 * buffers[0].dwBufferLength);
    EXPECT_GE(bytes + format.nAvgBytesPerSec / 4, 4 * buffers[0].dwBufferLength);
    const std::uint32_t samples = Position(handle, MMTIME::Samples); // frames, whatever the channels
    EXPECT_GE(samples, bytes / format.nBlockAlign);
    EXPECT_LE(samples, 4 * buffers[0].dwBufferLength / format.nBlockAlign);
    EXPECT_LE(Position(handle, MMTIME::Ms), 200u);

    // The stream ran dry (an underrun on a real card); the next buffer must still play.
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(waveOutWrite(handle, &buffers[0]), MMSYSERR_NOERROR);
    ExpectNext(MM_WOM_DONE, &buffers[0]);
    EXPECT_EQ(buffers[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    CloseAndExpectClosed(handle, buffers);
}

TEST_F(AlsaOutput, PauseHoldsBuffersUntilRestart)
{
    const TWaveFormatEx format = Pcm(22050, 1, 16);
    const HWAVEOUT handle = Open(format);
    ASSERT_NE(handle, 0u);

    // Paused before anything was sent: nothing starts.
    ASSERT_EQ(waveOutPause(handle), MMSYSERR_NOERROR);
    Buffers first = Buffers::OfDurations(format, {40, 40});
    WriteAll(handle, first);
    ExpectNothingFor(100ms);
    EXPECT_EQ(first[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_INQUEUE);
    EXPECT_EQ(Position(handle, MMTIME::Samples), 0u);
    ASSERT_EQ(waveOutRestart(handle), MMSYSERR_NOERROR);
    ExpectAllDone(first);

    // Paused while the stream runs: ALSA's pause, then its release.
    ASSERT_EQ(waveOutPause(handle), MMSYSERR_NOERROR);
    const std::uint32_t heldAt = Position(handle, MMTIME::Samples);
    Buffers second = Buffers::OfDurations(format, {40, 40, 40});
    WriteAll(handle, second);
    ExpectNothingFor(100ms);
    EXPECT_EQ(waveOutClose(handle), WAVERR_STILLPLAYING);
    EXPECT_EQ(Position(handle, MMTIME::Samples), heldAt);
    ASSERT_EQ(waveOutRestart(handle), MMSYSERR_NOERROR);
    ExpectAllDone(second);
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(waveOutUnprepareHeader(handle, &first[i]), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, second);
}

TEST_F(AlsaOutput, ResetWhileTheDeviceIsStuckInAWriteReturnsEverythingAtOnce)
{
    BlockingSink sink;
    if (!sink.Ready())
        GTEST_SKIP() << "no named pipe could be made in /tmp";
    m_threadsBefore = ThreadCount(); // with the sink's own reader
    Use(sink.PcmName());
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    const HWAVEOUT handle = Open(format);
    ASSERT_NE(handle, 0u);
    Buffers buffers = Buffers::OfDurations(format, {1000, 1000});
    // Should a check fail half-way, the device must let go of the pipe before the pipe goes away.
    struct CloseFirst
    {
        BlockingSink& sink;
        HWAVEOUT handle;
        ~CloseFirst()
        {
            sink.Drain();
            waveOutReset(handle);
            waveOutClose(handle);
        }
    } closeFirst{sink, handle};
    WriteAll(handle, buffers);

    // The pipe holds far less than a second of sound: the first buffer is being written, and blocks.
    ExpectNothingFor(150ms);
    EXPECT_EQ(waveOutClose(handle), WAVERR_STILLPLAYING);

    const auto start = Clock::now();
    ASSERT_EQ(waveOutReset(handle), MMSYSERR_NOERROR);
    ExpectAllDone(buffers);
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(latency, 100ms);
    RecordProperty("ResetLatencyMs", static_cast<int>(latency.count()));
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u);

    // Once ALSA lets go, the device plays the next sound from its first byte: nothing of the
    // abandoned write may leak into it.
    sink.Drain();
    Buffers after = Buffers::OfDurations(format, {70});
    WriteAll(handle, after);
    ExpectAllDone(after);
    for (std::size_t i = 0; i < buffers.size(); ++i)
        EXPECT_EQ(waveOutUnprepareHeader(handle, &buffers[i]), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, after);
    EXPECT_TRUE(sink.EndsWith(after.WholeFrames(format.nBlockAlign), 1s));
}

// Reset races the worker finishing the same headers: each must come back exactly once, in order.
TEST_F(AlsaOutput, ResetRacingPlaybackReturnsEachHeaderOnce)
{
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const HWAVEOUT handle = Open(format);
        ASSERT_NE(handle, 0u);
        Buffers buffers = Buffers::OfDurations(format, {1000, 1000});
        WriteAll(handle, buffers);
        if (round % 3 == 1)
            std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        const auto start = Clock::now();
        ASSERT_EQ(waveOutReset(handle), MMSYSERR_NOERROR);
        ExpectAllDone(buffers);
        EXPECT_LT(Clock::now() - start, 100ms);
        EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u);
        ASSERT_NO_FATAL_FAILURE(CloseAndExpectClosed(handle, buffers));
    }
}

TEST_F(AlsaOutput, VolumeIsKeptPitchAndRateAreNotSupported)
{
    const HWAVEOUT handle = Open(Pcm(44100, 2, 16));
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(waveOutSetVolume(handle, 0x40008000), MMSYSERR_NOERROR);
    std::uint32_t value = 0;
    ASSERT_EQ(waveOutGetVolume(handle, value), MMSYSERR_NOERROR);
    EXPECT_EQ(value, 0x40008000u);
    EXPECT_EQ(waveOutSetPitch(handle, 0x10000), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(waveOutSetPlaybackRate(handle, 0x20000), MMSYSERR_NOTSUPPORTED);
    ASSERT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
    ExpectNext(MM_WOM_CLOSE, nullptr);
}

} // namespace
