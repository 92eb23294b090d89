// The ALSA capture backend through the wave input service, without a sound card: ALSA's "null" device
// records silence, as fast as it is asked for, so these tests check bytes, counts and order, not time.
// Then the same device with its reads scripted, to play a card that overruns, vanishes or goes quiet.
#include "platform/sound/alsa/AlsaWaveIn.h"

#include "platform/sound/WaveOutService.h" // WAVE_MAPPER, WAVE_FORMAT_QUERY, CALLBACK_WINDOW
#include "platform/sound/alsa/ScriptedAlsaCapture.h"
#include "support/ThreadCount.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough for any healthy run, short enough that a lost notification fails instead of hanging.
constexpr auto kPatience = 3s;
// What the buffers hold before recording: a byte the null device never produces.
constexpr std::uint8_t kUnwritten = 0x5A;

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

// Empty buffers to record into, each filled with a marker so that bytes left unwritten show.
class Buffers
{
public:
    explicit Buffers(const std::vector<std::uint32_t>& lengthsInBytes)
        : m_data(lengthsInBytes.size()), m_headers(lengthsInBytes.size())
    {
        for (std::size_t i = 0; i < lengthsInBytes.size(); ++i) {
            m_data[i].assign(lengthsInBytes[i], kUnwritten);
            m_data[i].reserve(1);
            m_headers[i].lpData = m_data[i].data();
            m_headers[i].dwBufferLength = lengthsInBytes[i];
        }
    }

    std::size_t size() const { return m_headers.size(); }
    WAVEHDR& operator[](std::size_t i) { return m_headers[i]; }

    // Whether the recorded part of buffer i is silence in this format and the rest untouched.
    ::testing::AssertionResult HoldsSilence(std::size_t i, const TWaveFormatEx& format) const
    {
        const std::vector<std::uint8_t>& data = m_data[i];
        const std::uint32_t recorded = m_headers[i].dwBytesRecorded;
        if (recorded > data.size())
            return ::testing::AssertionFailure() << "recorded " << recorded << " of " << data.size();
        if (recorded % format.nBlockAlign != 0)
            return ::testing::AssertionFailure() << "recorded " << recorded << ", not whole frames";
        if (recorded > 0) {
            // 16-bit silence is 0; 8-bit silence is 128, though the null device may give 0.
            const std::uint8_t first = data[0];
            if (first != 0 && !(format.wBitsPerSample == 8 && first == 128))
                return ::testing::AssertionFailure() << "byte 0 is " << int(first) << ", not silence";
            for (std::uint32_t b = 0; b < recorded; ++b)
                if (data[b] != first)
                    return ::testing::AssertionFailure() << "byte " << b << " is " << int(data[b]);
        }
        for (std::size_t b = recorded; b < data.size(); ++b)
            if (data[b] != kUnwritten)
                return ::testing::AssertionFailure() << "byte " << b << " written beyond what was recorded";
        return ::testing::AssertionSuccess();
    }

private:
    std::vector<std::vector<std::uint8_t>> m_data;
    std::vector<WAVEHDR> m_headers; // never resized once built: the device holds pointers into it
};

class AlsaInput : public ::testing::Test
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

    void TearDown() override { SetCurrentWaveInBackend(nullptr); }

    static void Use(const std::string& pcm) { SetCurrentWaveInBackend(CreateAlsaWaveInBackend(pcm)); }

    // Opens and checks that MM_WIM_OPEN came first; 0 when the open failed.
    HWAVEIN Open(const TWaveFormatEx& format)
    {
        HWAVEIN handle = 0;
        const MMRESULT r = waveInOpen(&handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW);
        EXPECT_EQ(r, MMSYSERR_NOERROR);
        if (r != MMSYSERR_NOERROR)
            return 0;
        ExpectNext(MM_WIM_OPEN, nullptr);
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

    static void AddAll(HWAVEIN handle, Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            ASSERT_EQ(waveInPrepareHeader(handle, &buffers[i]), MMSYSERR_NOERROR);
            ASSERT_EQ(waveInAddBuffer(handle, &buffers[i]), MMSYSERR_NOERROR);
        }
    }

    // Buffer i came back next: done, no longer queued, still prepared.
    void ExpectReturned(Buffers& buffers, std::size_t i)
    {
        SCOPED_TRACE("buffer " + std::to_string(i));
        ExpectNext(MM_WIM_DATA, &buffers[i]);
        EXPECT_EQ(buffers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
    }

    void CloseAndExpectClosed(HWAVEIN handle, Buffers& buffers)
    {
        for (std::size_t i = 0; i < buffers.size(); ++i)
            EXPECT_EQ(waveInUnprepareHeader(handle, &buffers[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInClose(handle), MMSYSERR_NOERROR);
        ExpectNext(MM_WIM_CLOSE, nullptr);
        ExpectNothingFor(0ms);
        EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore)
            << "a device thread outlived its close";
    }

    static std::uint32_t Position(HWAVEIN handle, MMTIME::Type type)
    {
        MMTIME time;
        time.wType = type;
        EXPECT_EQ(waveInGetPosition(handle, time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, type);
        return time.value;
    }

    NotificationQueue m_queue;
    int m_threadsBefore = 0;
};

// ---- The device and its formats ------------------------------------------------------------------

TEST_F(AlsaInput, NullDeviceIsOneDeviceThatTakesPlainPcmOnly)
{
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    WAVEINCAPS caps;
    ASSERT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "ALSA null");
    EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_ALL);
    EXPECT_EQ(waveInGetDevCaps(1, caps), MMSYSERR_BADDEVICEID);

    for (const TWaveFormatEx& good :
         {Pcm(1000, 1, 8), Pcm(8000, 1, 8), Pcm(22050, 2, 8), Pcm(44100, 1, 16), Pcm(192000, 2, 16)})
        EXPECT_EQ(waveInOpen(nullptr, 0, &good, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR)
            << good.nSamplesPerSec << " Hz " << good.nChannels << " ch " << good.wBitsPerSample << " bits";

    TWaveFormatEx misaligned = Pcm(44100, 2, 16);
    misaligned.nBlockAlign = 2;
    TWaveFormatEx compressed = Pcm(44100, 1, 16);
    compressed.wFormatTag = 2;
    for (const TWaveFormatEx& bad : {Pcm(44100, 2, 24), Pcm(44100, 3, 16), Pcm(0, 1, 16), Pcm(999, 1, 16),
                                     Pcm(192001, 2, 16), misaligned, compressed}) {
        EXPECT_EQ(waveInOpen(nullptr, 0, &bad, nullptr, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
        HWAVEIN handle = 0;
        EXPECT_EQ(waveInOpen(&handle, 0, &bad, &m_queue, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    }
    const TWaveFormatEx good = Pcm(44100, 2, 16);
    HWAVEIN handle = 0;
    EXPECT_EQ(waveInOpen(&handle, 1, &good, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    ExpectNothingFor(0ms);
    EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore);
}

TEST_F(AlsaInput, MissingDeviceIsReportedNotOpened)
{
    Use("sonalto_absent");
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    WAVEINCAPS caps;
    EXPECT_EQ(waveInGetDevCaps(0, caps), MMSYSERR_BADDEVICEID);
    const TWaveFormatEx format = Pcm(44100, 2, 16);
    EXPECT_EQ(waveInOpen(nullptr, 0, &format, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    HWAVEIN handle = 0;
    EXPECT_EQ(waveInOpen(&handle, WAVE_MAPPER, &format, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&handle, 0, &format, &m_queue, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    ExpectNothingFor(0ms);
    EXPECT_EQ(ThreadCountOnceSettled(m_threadsBefore), m_threadsBefore);
}

// ---- Recording -----------------------------------------------------------------------------------

TEST_F(AlsaInput, EveryFormatFillsBuffersInOrderWithSilence)
{
    for (const std::uint16_t bits : {8, 16})
        for (const std::uint16_t channels : {1, 2})
            for (const std::uint32_t rate : {11025u, 48000u}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(channels) + " ch " +
                             std::to_string(bits) + " bits");
                const TWaveFormatEx format = Pcm(rate, channels, bits);
                const HWAVEIN handle = Open(format);
                ASSERT_NE(handle, 0u);
                // Lengths that are not whole chunks, one with a stray partial frame, one too short for
                // any frame (only for formats of more than one byte a frame).
                const std::uint32_t align = format.nBlockAlign;
                const std::uint32_t tiny = align > 1 ? align - 1 : 0;
                Buffers buffers({rate / 7 * align, rate / 10 * align + align - 1, tiny, rate / 3 * align});
                ASSERT_NO_FATAL_FAILURE(AddAll(handle, buffers));

                // Opened stopped: nothing is recorded before the start.
                ExpectNothingFor(60ms);
                EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u);
                EXPECT_EQ(buffers[0].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_INQUEUE);

                ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
                std::uint64_t total = 0;
                for (std::size_t i = 0; i < buffers.size(); ++i) {
                    ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
                    const std::uint32_t whole = buffers[i].dwBufferLength / align * align;
                    EXPECT_EQ(buffers[i].dwBytesRecorded, whole) << "buffer " << i;
                    EXPECT_TRUE(buffers.HoldsSilence(i, format)) << "buffer " << i;
                    total += whole;
                }
                // Nothing left to fill: the count stops at what the buffers took.
                ExpectNothingFor(30ms);
                EXPECT_EQ(Position(handle, MMTIME::Bytes), total);
                EXPECT_EQ(Position(handle, MMTIME::Ms), total / align * 1000 / rate);
                ASSERT_NO_FATAL_FAILURE(CloseAndExpectClosed(handle, buffers));
            }
}

TEST_F(AlsaInput, StopReturnsThePartBufferAndKeepsTheRestQueued)
{
    const TWaveFormatEx format = Pcm(48000, 2, 16);
    const HWAVEIN handle = Open(format);
    ASSERT_NE(handle, 0u);
    // Far more than the null device fills in the moment between the first bytes and the stop. It fills
    // as fast as it is read, though, so a test thread kept off the processor that long may stop too late:
    // then every buffer came back full, and the stop is tried again.
    constexpr std::size_t kCount = 8;
    std::unique_ptr<Buffers> attempt;
    std::size_t returned = 0;
    std::uint32_t stoppedAt = 0;
    for (int tries = 0; tries < 5; ++tries) {
        if (attempt) {
            for (std::size_t i = 0; i < kCount; ++i)
                EXPECT_EQ(waveInUnprepareHeader(handle, &(*attempt)[i]), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR); // position 0 for the new try
        attempt = std::make_unique<Buffers>(std::vector<std::uint32_t>(kCount, 20 * format.nAvgBytesPerSec));
        Buffers& buffers = *attempt;
        ASSERT_NO_FATAL_FAILURE(AddAll(handle, buffers));
        ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
        const auto deadline = Clock::now() + kPatience;
        while (Position(handle, MMTIME::Bytes) == 0 && Clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(waveInStop(handle), MMSYSERR_NOERROR);
        stoppedAt = Position(handle, MMTIME::Bytes);
        ASSERT_GT(stoppedAt, 0u) << "nothing recorded";

        // Whatever was recorded came back: the full buffers, then the one being filled with its part.
        returned = 0;
        std::uint64_t recorded = 0;
        DeviceNotification n;
        while (m_queue.WaitPop(n, 100ms)) {
            ASSERT_LT(returned, kCount);
            EXPECT_EQ(n.message, MM_WIM_DATA);
            ASSERT_EQ(n.header, &buffers[returned]) << "buffers came back out of order";
            EXPECT_EQ(buffers[returned].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
            EXPECT_GT(buffers[returned].dwBytesRecorded, 0u);
            EXPECT_TRUE(buffers.HoldsSilence(returned, format));
            recorded += buffers[returned].dwBytesRecorded;
            ++returned;
        }
        ASSERT_GE(returned, 1u);
        for (std::size_t i = 0; i + 1 < returned; ++i)
            EXPECT_EQ(buffers[i].dwBytesRecorded, buffers[i].dwBufferLength) << "buffer " << i;
        EXPECT_EQ(recorded, stoppedAt);
        if (returned < kCount)
            break;
    }
    ASSERT_LT(returned, kCount) << "the stop came too late to leave anything queued, every time";
    Buffers& buffers = *attempt;

    // Stopped: the rest stay queued and untouched, the position holds.
    for (std::size_t i = returned; i < kCount; ++i) {
        EXPECT_EQ(buffers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_INQUEUE) << "buffer " << i;
        EXPECT_TRUE(buffers.HoldsSilence(i, format)) << "buffer " << i; // nothing recorded: all marker
    }
    EXPECT_EQ(Position(handle, MMTIME::Bytes), stoppedAt);

    // A reset hands them all back, empty, and the position starts again.
    ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    for (std::size_t i = returned; i < kCount; ++i) {
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
        EXPECT_EQ(buffers[i].dwBytesRecorded, 0u);
    }
    ExpectNothingFor(0ms);
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u);

    // Recording starts again after the stop, into a fresh buffer.
    Buffers again({format.nAvgBytesPerSec / 10});
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, again));
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    ASSERT_NO_FATAL_FAILURE(ExpectReturned(again, 0));
    EXPECT_EQ(again[0].dwBytesRecorded, again[0].dwBufferLength);
    EXPECT_TRUE(again.HoldsSilence(0, format));
    EXPECT_EQ(Position(handle, MMTIME::Bytes), again[0].dwBufferLength);
    EXPECT_EQ(waveInUnprepareHeader(handle, &again[0]), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, buffers);
}

TEST_F(AlsaInput, ResetHandsEveryBufferBackAtOnceInOrder)
{
    const TWaveFormatEx format = Pcm(44100, 1, 16);
    const HWAVEIN handle = Open(format);
    ASSERT_NE(handle, 0u);

    // Never started: they come back empty.
    Buffers idle({4410, 4410, 4410});
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, idle));
    ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    for (std::size_t i = 0; i < idle.size(); ++i) {
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(idle, i));
        EXPECT_EQ(idle[i].dwBytesRecorded, 0u);
        EXPECT_TRUE(idle.HoldsSilence(i, format));
    }
    ExpectNothingFor(50ms);

    // While recording: the full ones first, then the rest, each once, in order, without delay.
    constexpr std::size_t kCount = 8;
    Buffers busy(std::vector<std::uint32_t>(kCount, 30 * format.nAvgBytesPerSec));
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, busy));
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    const auto deadline = Clock::now() + kPatience;
    while (Position(handle, MMTIME::Bytes) == 0 && Clock::now() < deadline)
        std::this_thread::yield();
    const auto resetAt = Clock::now();
    ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u);
    for (std::size_t i = 0; i < kCount; ++i)
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(busy, i));
    // Timed before the contents are checked: that takes a while, for buffers this large.
    EXPECT_LT(Clock::now() - resetAt, 1s) << "the buffers were held back after the reset";
    for (std::size_t i = 0; i < kCount; ++i)
        EXPECT_TRUE(busy.HoldsSilence(i, format)) << "buffer " << i;
    ExpectNothingFor(50ms);
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 0u) << "recording went on after the reset";

    // Everything came back, so the device closes.
    for (std::size_t i = 0; i < idle.size(); ++i)
        EXPECT_EQ(waveInUnprepareHeader(handle, &idle[i]), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, busy);
}

TEST_F(AlsaInput, CloseIsRefusedWhileBuffersAreQueued)
{
    const TWaveFormatEx format = Pcm(8000, 1, 8);
    const HWAVEIN handle = Open(format);
    ASSERT_NE(handle, 0u);
    Buffers buffers({800, 800});
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, buffers));
    EXPECT_EQ(waveInClose(handle), WAVERR_STILLPLAYING);
    ExpectNothingFor(20ms);

    // Still open and working after the refusal.
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
        EXPECT_EQ(buffers[i].dwBytesRecorded, 800u);
        EXPECT_TRUE(buffers.HoldsSilence(i, format));
    }
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 1600u);
    EXPECT_EQ(Position(handle, MMTIME::Ms), 200u);
    ASSERT_NO_FATAL_FAILURE(CloseAndExpectClosed(handle, buffers));
}

// ---- A card that fails -----------------------------------------------------------------------------
// The same null device, its reads scripted: overruns and suspends that ALSA recovers from, and cards
// that vanish or never deliver again, which must end in every buffer coming back and a clear refusal.

constexpr std::uint32_t kRate = 22050;
constexpr std::uint32_t kFrameBytes = 2;               // mono, 16 bits
constexpr std::uint32_t kBufferBytes = kRate / 10 * 2; // 100 ms, as the recording window asks
using Step = ScriptedCapture::Step;

class AlsaCaptureFaults : public AlsaInput
{
protected:
    // Records from a card that plays the script; returns the handle, the buffers queued but not started.
    HWAVEIN OpenScripted(std::vector<Step> script, Step then, Buffers& buffers)
    {
        m_card = std::make_shared<ScriptedCapture>(std::move(script), then, kRate);
        SetCurrentWaveInBackend(CreateAlsaWaveInBackend("null", m_card));
        const HWAVEIN handle = Open(Pcm(kRate, 1, 16));
        if (handle != 0)
            AddAll(handle, buffers);
        return handle;
    }

    // Whether the recorded part of buffer i is the card's pattern from byte `from` on.
    static ::testing::AssertionResult HoldsPattern(Buffers& buffers, std::size_t i, std::uint64_t from)
    {
        const WAVEHDR& h = buffers[i];
        for (std::uint32_t b = 0; b < h.dwBytesRecorded; ++b)
            if (h.lpData[b] != ScriptedCapture::PatternByte(from + b))
                return ::testing::AssertionFailure()
                       << "byte " << b << " of buffer " << i << " is not byte " << from + b << " delivered";
        return ::testing::AssertionSuccess();
    }

    // Waits (without handling anything) until the card has been read at least count times.
    bool WaitForReads(std::size_t count) const
    {
        const auto deadline = Clock::now() + kPatience;
        while (m_card->Reads() < count && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        return m_card->Reads() >= count;
    }

    std::shared_ptr<ScriptedCapture> m_card;
};

struct Transient
{
    const char* name;
    int error;
    bool recovered; // given to ALSA to recover; otherwise waited out
};

void PrintTo(const Transient& fault, std::ostream* out)
{
    *out << fault.name;
}

class TransientFault : public AlsaCaptureFaults, public ::testing::WithParamInterface<Transient>
{
};

TEST_P(TransientFault, IsGotOverInTheMiddleOfABufferAndNothingIsLostOrRepeated)
{
    const Transient fault = GetParam();
    Buffers buffers({kBufferBytes, kBufferBytes, kBufferBytes});
    // Twice in a row, in the middle of the first buffer; then the card delivers at its own pace.
    const HWAVEIN handle = OpenScripted({ScriptedCapture::Frames(300), ScriptedCapture::Fail(fault.error),
                                         ScriptedCapture::Fail(fault.error)},
                                        ScriptedCapture::RealTime(), buffers);
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
        EXPECT_EQ(buffers[i].dwBytesRecorded, kBufferBytes) << "buffer " << i;
        EXPECT_TRUE(HoldsPattern(buffers, i, offset));
        offset += buffers[i].dwBytesRecorded;
    }
    EXPECT_EQ(Position(handle, MMTIME::Bytes), 3 * kBufferBytes);
    if (fault.recovered)
        EXPECT_EQ(m_card->Recovered(), (std::vector<int>{fault.error, fault.error}));
    else
        EXPECT_GE(m_card->Waits(), 2);
    EXPECT_EQ(m_card->FailedReads().size(), 2u);

    // Still recording: a buffer handed over now is filled too.
    Buffers more({kBufferBytes});
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, more));
    ASSERT_NO_FATAL_FAILURE(ExpectReturned(more, 0));
    EXPECT_EQ(more[0].dwBytesRecorded, kBufferBytes);
    EXPECT_TRUE(HoldsPattern(more, 0, offset));
    EXPECT_EQ(waveInUnprepareHeader(handle, &more[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStop(handle), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, buffers);
}

INSTANTIATE_TEST_SUITE_P(AlsaInput, TransientFault,
                         ::testing::Values(Transient{"Overrun", -EPIPE, true},
                                           Transient{"Suspend", -ESTRPIPE, true},
                                           Transient{"Interrupted", -EINTR, true},
                                           Transient{"NothingYet", -EAGAIN, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Fatal
{
    const char* name;
    int error;
    bool endless;     // the card answers this for ever, and the backend tries again first
    MMRESULT refusal; // what the device answers from then on
};

void PrintTo(const Fatal& fault, std::ostream* out)
{
    *out << fault.name;
}

class FatalFault : public AlsaCaptureFaults, public ::testing::WithParamInterface<Fatal>
{
};

TEST_P(FatalFault, EndsTheRecordingAfterAFewAttemptsAndHandsEveryBufferBack)
{
    const Fatal fault = GetParam();
    constexpr std::uint32_t kKept = 1000; // frames recorded before the card fails
    Buffers buffers({kBufferBytes, kBufferBytes, kBufferBytes});
    std::vector<Step> script = {ScriptedCapture::Frames(kKept), ScriptedCapture::Fail(fault.error)};
    const Step then = fault.endless ? ScriptedCapture::Fail(fault.error) : ScriptedCapture::RealTime();
    const HWAVEIN handle = OpenScripted(script, then, buffers);
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);

    // Every buffer comes back, in order: the first with what was recorded, the others empty.
    for (std::size_t i = 0; i < buffers.size(); ++i)
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
    const auto returnedAt = Clock::now();
    EXPECT_EQ(buffers[0].dwBytesRecorded, kKept * kFrameBytes);
    EXPECT_TRUE(HoldsPattern(buffers, 0, 0));
    EXPECT_EQ(buffers[1].dwBytesRecorded, 0u);
    EXPECT_EQ(buffers[2].dwBytesRecorded, 0u);
    EXPECT_TRUE(buffers.HoldsSilence(1, Pcm(kRate, 1, 16))) << "an empty buffer was written";
    EXPECT_EQ(Position(handle, MMTIME::Bytes), kKept * kFrameBytes);

    // A bounded number of attempts, and none once the device has failed.
    const std::vector<Clock::time_point> failed = m_card->FailedReads();
    if (fault.endless) {
        EXPECT_GE(failed.size(), 2u) << "not tried again";
        EXPECT_LE(failed.size(), 16u) << "tried for too long";
    } else {
        EXPECT_EQ(failed.size(), 1u) << "a device that is gone was read again";
    }
    const std::size_t reads = m_card->Reads();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_card->Reads(), reads) << "the card is still being read after the failure";
    // Retries are spread out, not made in a loop that spins: from the second on, at least a chunk of
    // sound apart (20 ms, less some slack for the clock).
    if (failed.size() >= 3) {
        const auto spread = failed.back() - failed[1];
        EXPECT_GE(spread, (failed.size() - 2) * 15ms)
            << std::chrono::duration_cast<std::chrono::microseconds>(spread).count() << " µs for "
            << failed.size() << " attempts";
    }
    EXPECT_LT(returnedAt - failed.front(), 1s) << "the buffers came back late";

    // From now on the device refuses work, with the reason, and the header is not left queued.
    Buffers more({kBufferBytes});
    ASSERT_EQ(waveInPrepareHeader(handle, &more[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(handle, &more[0]), fault.refusal);
    EXPECT_EQ(more[0].dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_EQ(waveInStart(handle), fault.refusal);
    std::string text;
    ASSERT_EQ(waveInGetErrorText(fault.refusal, text), MMSYSERR_NOERROR);
    EXPECT_NE(text.find("périphérique"), std::string::npos) << text;
    ExpectNothingFor(50ms);
    // Stopping and closing still work, at once.
    EXPECT_EQ(waveInStop(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    ExpectNothingFor(0ms);
    EXPECT_EQ(waveInUnprepareHeader(handle, &more[0]), MMSYSERR_NOERROR);
    const auto closing = Clock::now();
    CloseAndExpectClosed(handle, buffers);
    EXPECT_LT(Clock::now() - closing, 500ms);
}

INSTANTIATE_TEST_SUITE_P(AlsaInput, FatalFault,
                         ::testing::Values(Fatal{"Unplugged", -ENODEV, false, MMSYSERR_BADDEVICEID},
                                           Fatal{"InputOutputError", -EIO, false, MMSYSERR_ERROR},
                                           Fatal{"EndlessNothingYet", -EAGAIN, true, MMSYSERR_ERROR},
                                           Fatal{"EndlessOverrun", -EPIPE, true, MMSYSERR_ERROR}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AlsaCaptureFaults, AResetDuringTheRetriesIsPromptAndLeavesTheDeviceUsable)
{
    Buffers buffers({kBufferBytes, kBufferBytes});
    const HWAVEIN handle = OpenScripted({}, ScriptedCapture::Fail(-EAGAIN), buffers);
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitForReads(3)) << "the card was not read";

    // Between two attempts: the reset wakes the worker, which stops trying.
    const auto resetAt = Clock::now();
    ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, i));
        EXPECT_EQ(buffers[i].dwBytesRecorded, 0u);
    }
    EXPECT_LT(Clock::now() - resetAt, 200ms);
    std::this_thread::sleep_for(60ms); // an attempt under way when the reset came ends meanwhile
    const std::size_t reads = m_card->Reads();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_card->Reads(), reads) << "the card is read while the device is stopped";

    // The failures before the reset do not count against the next recording: the card delivers again
    // after a few more of them, and the device records.
    m_card->Rescript({ScriptedCapture::Fail(-EAGAIN), ScriptedCapture::Fail(-EAGAIN),
                      ScriptedCapture::Fail(-EAGAIN), ScriptedCapture::Fail(-EAGAIN),
                      ScriptedCapture::Fail(-EAGAIN)},
                     ScriptedCapture::RealTime());
    const std::uint64_t before = m_card->DeliveredBytes();
    Buffers again({kBufferBytes});
    ASSERT_NO_FATAL_FAILURE(AddAll(handle, again));
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    ASSERT_NO_FATAL_FAILURE(ExpectReturned(again, 0));
    EXPECT_EQ(again[0].dwBytesRecorded, kBufferBytes);
    EXPECT_TRUE(HoldsPattern(again, 0, before));
    EXPECT_EQ(waveInUnprepareHeader(handle, &again[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStop(handle), MMSYSERR_NOERROR);
    CloseAndExpectClosed(handle, buffers);
}

TEST_F(AlsaCaptureFaults, ACloseDuringTheRetriesDoesNotWaitForThem)
{
    Buffers buffers({kBufferBytes});
    const HWAVEIN handle = OpenScripted({}, ScriptedCapture::Fail(-EPIPE), buffers);
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitForReads(3)) << "the card was not read";
    ASSERT_EQ(waveInReset(handle), MMSYSERR_NOERROR);
    ASSERT_NO_FATAL_FAILURE(ExpectReturned(buffers, 0));
    const auto closing = Clock::now();
    CloseAndExpectClosed(handle, buffers);
    EXPECT_LT(Clock::now() - closing, 100ms);
}

} // namespace
