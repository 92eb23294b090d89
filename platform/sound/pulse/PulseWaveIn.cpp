#include "platform/sound/Backends.h"
#include "platform/sound/CaptureSource.h"
#include "platform/sound/HeaderQueue.h"
#include "platform/sound/pulse/PulseConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Threads: the shared connection's mainloop runs the streams' callbacks; the read callback copies what
// the server sends into the queued headers and hands full ones back. The GUI thread takes the mainloop's
// lock for each call, so headers come back in one order whoever hands them back.

namespace {

using Clock = std::chrono::steady_clock;

// The server sends what it records in pieces about this long: a buffer comes back at most this late.
constexpr pa_usec_t kFragmentUsec = 25 * PA_USEC_PER_MSEC;
// How long a stop waits on PipeWire for the sound recorded before it (see Stop).
constexpr std::chrono::milliseconds kPipeWireTail{50};
const char* const kDefaultDeviceName = "Entrée son";
const char* const kDefaultSource = "@DEFAULT_SOURCE@";

// What is left of a wait that must end by then, at least a millisecond so that a reply already there
// still counts.
std::chrono::milliseconds Left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(1));
}

// One open input: a record stream, corked while stopped. The stream is 16-bit stereo whatever the device's
// format, which is made here: a server's own mixing of stereo into mono differs (PulseAudio averages the
// two channels, PipeWire adds them at -3 dB each, so that a sound on both comes back 3 dB louder, and
// clips sooner), and PipeWire's 8-bit silence is the lowest value instead of the middle one.
// Bytes the server sent wait in the stream (and
// in m_carry, for what did not fit the headers) while no header is queued, so a buffer handed back a
// little late loses nothing. A stream that fails (server gone, source removed, killed by the user) is
// not replaced: the headers come back, and the device answers with an error until it is closed.
class PulseWaveInDevice final : public WaveInDevice
{
public:
    PulseWaveInDevice(std::shared_ptr<PulseConnection> connection, const TWaveFormatEx& format,
                      NotificationQueue* callback)
        : m_connection(std::move(connection)), m_callback(callback), m_frame(format.nBlockAlign),
          m_silence(format.wBitsPerSample == 8 ? 0x80 : 0), m_mono(format.nChannels == 1),
          m_eightBits(format.wBitsPerSample == 8), m_queue(callback)
    {
        m_sample.format = PA_SAMPLE_S16LE;
        m_sample.channels = 2;
        m_sample.rate = format.nSamplesPerSec;
    }

    ~PulseWaveInDevice() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        DropStream(Clock::now() + PulseConnection::kReplyTimeout);
    }

    PulseWaveInDevice(const PulseWaveInDevice&) = delete;
    PulseWaveInDevice& operator=(const PulseWaveInDevice&) = delete;

    // With the mainloop locked: the stream, stopped, from the chosen source.
    MMRESULT Open() { return ConnectStream(Clock::now() + PulseConnection::kReplyTimeout); }

    MMRESULT AddBuffer(WAVEHDR* header) override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (m_failed)
            return FailureCode();
        m_queue.push_back(header);
        Drain();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (m_failed)
            return FailureCode();
        if (m_started)
            return MMSYSERR_NOERROR;
        if (SelectedCaptureSource() != m_chosenSource) {
            // Another source was chosen on the mixer since the stream was made.
            const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
            DropStream(deadline);
            if (const MMRESULT r = ConnectStream(deadline)) {
                Fail(PA_ERR_NOENTITY);
                return r;
            }
        }
        if (!StreamReady())
            return FailureCode();
        m_started = true;
        m_accepting = false;
        Discard();
        // What the server sends before it answers this was recorded before the last stop.
        std::erase_if(m_uncorks, [](const PulseOperationPtr& o) {
            return pa_operation_get_state(o.get()) != PA_OPERATION_RUNNING;
        });
        pa_operation* uncork = pa_stream_cork(m_stream.get(), 0, &PulseWaveInDevice::OnUncorked, this);
        if (!uncork) {
            m_accepting = true;
            return MMSYSERR_NOERROR;
        }
        m_uncorks.emplace_back(uncork);
        ++m_pendingUncorks;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        // PipeWire hands recorded sound over one or two of its processing periods after it was captured:
        // what was said just before the stop is still on its way, and is waited for (it arrives meanwhile).
        if (m_started && m_accepting && m_connection->IsPipeWire())
            m_connection->WaitUntil([] { return false; }, kPipeWireTail);
        if (m_started)
            Drain(); // what the server sent until now was recorded before the stop
        m_started = false;
        m_accepting = false;
        if (!m_queue.empty() && m_queue.offset > 0)
            m_queue.ReturnFront();
        Silence();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        m_started = false;
        m_accepting = false;
        m_queue.ReturnAll();
        m_position = 0;
        Silence();
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        std::uint64_t bytes = 0;
        {
            const MainloopLock lock(m_connection->Mainloop());
            bytes = m_position;
        }
        SetDeviceTime(time, bytes, bytes / m_frame, m_sample.rate);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override
    {
        {
            const MainloopLock lock(m_connection->Mainloop());
            if (!m_queue.empty())
                return WAVERR_STILLPLAYING;
            DropStream(Clock::now() + PulseConnection::kReplyTimeout);
        }
        m_callback->Push(MM_WIM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

private:
    bool StreamReady() const
    {
        return m_stream && !m_failed && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY;
    }

    MMRESULT FailureCode() const
    {
        const MMRESULT code = PulseErrorResult(m_streamError);
        return code == WAVERR_BADFORMAT ? MMSYSERR_ERROR : code; // the format was fine when it opened
    }

    // Connects a stream, corked, to the chosen source; to the default one when the chosen one does not
    // exist (any more).
    MMRESULT ConnectStream(Clock::time_point deadline)
    {
        m_chosenSource = SelectedCaptureSource();
        if (m_chosenSource.empty())
            return TryConnect(nullptr, deadline);
        const MMRESULT chosen = TryConnect(m_chosenSource.c_str(), deadline);
        if (chosen == MMSYSERR_NOERROR || m_streamError != PA_ERR_NOENTITY)
            return chosen;
        return TryConnect(nullptr, deadline);
    }

    MMRESULT TryConnect(const char* source, Clock::time_point deadline)
    {
        DropStream(deadline);
        m_failed = false;
        m_streamError = PA_OK;
        if (!m_connection->Ready())
            return MMSYSERR_BADDEVICEID;
        pa_context* context = m_connection->Context();
        const PulseProplistPtr properties(pa_proplist_new());
        pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, "production");
        pa_stream* stream =
            pa_stream_new_with_proplist(context, "Enregistrement", &m_sample, nullptr, properties.get());
        if (!stream) {
            m_streamError = pa_context_errno(context);
            return PulseErrorResult(m_streamError);
        }
        m_stream.reset(stream);
        m_streamContext.reset(pa_context_ref(context));
        pa_stream_set_state_callback(stream, &PulseWaveInDevice::OnState, this);
        pa_stream_set_read_callback(stream, &PulseWaveInDevice::OnReadable, this);

        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(-1);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(
            std::max<std::size_t>(pa_usec_to_bytes(kFragmentUsec, &m_sample), kStreamFrame));
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        // A source chosen by name stays that source: when it goes, the recording ends with an error
        // instead of going on from another microphone. The default source follows the server's default.
        if (source)
            flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream, source, &attributes, flags) < 0) {
            m_streamError = pa_context_errno(context);
            DropStream(deadline);
            return PulseErrorResult(m_streamError);
        }
        m_connecting = true;
        m_connection->WaitUntil(
            [this] { return !m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_CREATING; },
            Left(deadline));
        m_connecting = false;
        if (m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY)
            return MMSYSERR_NOERROR;
        if (m_streamError == PA_OK)
            m_streamError = PA_ERR_TIMEOUT;
        DropStream(deadline);
        return PulseErrorResult(m_streamError);
    }

    void DropStream(Clock::time_point deadline)
    {
        for (const PulseOperationPtr& uncork : m_uncorks)
            pa_operation_cancel(uncork.get());
        m_uncorks.clear();
        m_pendingUncorks = 0;
        m_carry.clear();
        m_carryAt = 0;
        m_started = false;
        m_accepting = false;
        if (m_stream)
            ReleasePulseStream(*m_connection, m_stream, m_streamContext, Left(deadline));
    }

    // Stops the stream and drops what it holds: the next start begins with fresh sound.
    void Silence()
    {
        Discard();
        if (!StreamReady())
            return;
        ForgetOperation(pa_stream_cork(m_stream.get(), 1, nullptr, nullptr));
        ForgetOperation(pa_stream_flush(m_stream.get(), nullptr, nullptr));
    }

    // Drops what the server sent and nobody took.
    void Discard()
    {
        m_carry.clear();
        m_carryAt = 0;
        if (!StreamReady())
            return;
        const void* data = nullptr;
        std::size_t size = 0;
        while (pa_stream_peek(m_stream.get(), &data, &size) == 0 && size > 0)
            pa_stream_drop(m_stream.get());
    }

    // Copies what the server sent into the queued headers, in order, whole frames only.
    void Drain()
    {
        if (!StreamReady())
            return;
        if (!m_started || !m_accepting) {
            Discard(); // recorded before a stop, or while stopped
            return;
        }
        while (true) {
            Deliver();
            if (m_queue.empty())
                return; // the rest waits in the stream for the next header
            const void* data = nullptr;
            std::size_t size = 0;
            if (pa_stream_peek(m_stream.get(), &data, &size) < 0 || size == 0)
                return;
            if (m_carryAt > 0) {
                m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(m_carryAt));
                m_carryAt = 0;
            }
            if (data) {
                AppendConverted(static_cast<const std::uint8_t*>(data), size);
            } else {
                // A hole: the source gave nothing there.
                m_carry.insert(m_carry.end(), size / kStreamFrame * m_frame, m_silence);
            }
            pa_stream_drop(m_stream.get());
        }
    }

    // The stream's frames in the device's format, after what waits in m_carry.
    void AppendConverted(const std::uint8_t* bytes, std::size_t size)
    {
        const auto put = [this](int value) {
            if (m_eightBits) {
                m_carry.push_back(static_cast<std::uint8_t>(std::clamp((value + 128) >> 8, -128, 127) + 128));
            } else {
                m_carry.push_back(static_cast<std::uint8_t>(value & 0xFF));
                m_carry.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
            }
        };
        for (std::size_t at = 0; at + kStreamFrame <= size; at += kStreamFrame) {
            const int left = static_cast<std::int16_t>(bytes[at] | bytes[at + 1] << 8);
            const int right = static_cast<std::int16_t>(bytes[at + 2] | bytes[at + 3] << 8);
            if (m_mono) {
                put((left + right) / 2);
            } else {
                put(left);
                put(right);
            }
        }
    }

    void Deliver()
    {
        while (!m_queue.empty() && m_carry.size() - m_carryAt >= m_frame) {
            WAVEHDR* header = m_queue.front();
            const std::size_t room = (header->dwBufferLength - m_queue.offset) / m_frame * m_frame;
            if (room == 0) { // too small for a single frame
                m_queue.ReturnFront();
                continue;
            }
            const std::size_t n = std::min(room, (m_carry.size() - m_carryAt) / m_frame * m_frame);
            std::memcpy(header->lpData + m_queue.offset, m_carry.data() + m_carryAt, n);
            m_queue.offset += n;
            m_carryAt += n;
            m_position += n;
            if (header->dwBufferLength - m_queue.offset < m_frame)
                m_queue.ReturnFront();
        }
        if (m_carryAt == m_carry.size()) {
            m_carry.clear();
            m_carryAt = 0;
        }
    }

    // Nothing more will be recorded: every header goes back with what it holds.
    void Fail(int paError)
    {
        m_failed = true;
        if (m_streamError == PA_OK)
            m_streamError = paError;
        m_started = false;
        m_accepting = false;
        m_carry.clear();
        m_carryAt = 0;
        m_queue.ReturnAll();
    }

    static void OnState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<PulseWaveInDevice*>(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const int error = pa_context_errno(pa_stream_get_context(stream));
            if (self->m_connecting) {
                self->m_streamError = error; // the open tells
            } else {
                // The source was removed, the server went away, or the user killed the stream.
                self->Fail(error == PA_OK ? PA_ERR_KILLED : error);
            }
            break;
        }
        default:
            break;
        }
        self->m_connection->Signal();
    }

    static void OnReadable(pa_stream*, std::size_t, void* userdata)
    {
        static_cast<PulseWaveInDevice*>(userdata)->Drain();
    }

    static void OnUncorked(pa_stream*, int, void* userdata)
    {
        auto* self = static_cast<PulseWaveInDevice*>(userdata);
        if (self->m_pendingUncorks > 0)
            --self->m_pendingUncorks;
        if (self->m_pendingUncorks == 0 && self->m_started) {
            self->Discard(); // whatever came before this answer
            self->m_accepting = true;
        }
    }

    std::shared_ptr<PulseConnection> m_connection;
    NotificationQueue* m_callback;
    static constexpr std::size_t kStreamFrame = 4; // 16-bit stereo
    pa_sample_spec m_sample{};                     // the stream's
    const std::size_t m_frame;
    const std::uint8_t m_silence;
    const bool m_mono;
    const bool m_eightBits;

    PulseStreamPtr m_stream;
    PulseContextPtr m_streamContext; // the context m_stream belongs to, which a reconnection may replace
    std::string m_chosenSource;      // the choice the stream was made for
    bool m_connecting = false;
    bool m_failed = false;
    int m_streamError = PA_OK;
    std::vector<PulseOperationPtr> m_uncorks;
    int m_pendingUncorks = 0;

    bool m_started = false;
    bool m_accepting = false;         // started, and the server has taken the start
    HeaderQueue<MM_WIM_DATA> m_queue; // the front one is being filled
    std::vector<std::uint8_t> m_carry;
    std::size_t m_carryAt = 0;    // m_carry's bytes before this are delivered
    std::uint64_t m_position = 0; // bytes handed over since the open or the last reset
};

class PulseWaveInBackend final : public PulseWaveBackend<WaveInBackend, PulseWaveInDevice>
{
public:
    using PulseWaveBackend::PulseWaveBackend;

private:
    // The source a recording would come from.
    void DescribeDevice(WAVEINCAPS& caps) override
    {
        const Clock::time_point deadline = Clock::now() + PulseConnection::kReplyTimeout;
        const std::string chosen = SelectedCaptureSource();
        std::optional<std::string> name;
        if (!chosen.empty())
            name = m_connection->SourceDescription(chosen, Left(deadline));
        if (!name && Clock::now() < deadline)
            name = m_connection->SourceDescription(kDefaultSource, Left(deadline));
        caps.szPname = name.value_or(kDefaultDeviceName);
    }
};

} // namespace

std::shared_ptr<WaveInBackend> CreatePulseWaveInBackend()
{
    return MakePulseBackend<PulseWaveInBackend>(SharedPulseCaptureConnection());
}
