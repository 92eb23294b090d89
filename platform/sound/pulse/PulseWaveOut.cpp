#include "platform/sound/Backends.h"
#include "platform/sound/pulse/PulseConnection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <pulse/pulseaudio.h>
#include <vector>

// Threads: the shared connection's mainloop (PulseConnection.h) runs every callback of the context, the
// streams and the timers. The GUI thread takes the mainloop's lock for each call; callbacks run with it held.
// The only other lock touched under it is a NotificationQueue's own, which nothing here ever holds while
// waiting for the mainloop.

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kConnectTimeout = PulseConnection::kConnectTimeout;
constexpr std::chrono::milliseconds kReplyTimeout = PulseConnection::kReplyTimeout;
// How much sound the server holds ahead of the speaker. Stops and pauses do not wait for it (the server
// rewinds), so it only trades wake-ups against the risk of gaps when the machine is busy.
constexpr pa_usec_t kBufferUsec = 200 * PA_USEC_PER_MSEC;
// How often the position is asked while playing: buffers come back at most this late.
constexpr pa_usec_t kProgressUsec = 25 * PA_USEC_PER_MSEC;
// Silence written after the last sound the device has, longer than a server's processing period
// (PipeWire's is 21 to 43 ms unless configured otherwise), overwritten by the next sound.
constexpr pa_usec_t kPadUsec = 100 * PA_USEC_PER_MSEC;
// How far the server may have read past its last report: a processing period, and the report's delay.
constexpr pa_usec_t kReadAheadUsec = 50 * PA_USEC_PER_MSEC;
const char* const kDefaultDeviceName = "Sortie son";

// Linear amplitude, as the program's volume slider means it, against the server's cubic scale.
pa_volume_t ToPulseVolume(std::uint32_t word)
{
    return pa_sw_volume_from_linear(static_cast<double>(word & 0xFFFF) / 0xFFFF);
}

std::uint32_t FromPulseVolume(pa_volume_t volume)
{
    const double linear = std::clamp(pa_sw_volume_to_linear(volume), 0.0, 1.0);
    return static_cast<std::uint32_t>(std::lround(linear * 0xFFFF));
}

// One open output: one stream at a time (a new one after Reset, so that its byte indices start at 0 again
// and the position needs no guess about what a flush did to them).
//
// Byte counts below are indices into the device's sound in the current stream: m_fed bytes were written,
// m_queued bytes were handed to Write (the difference, at most a partial frame or what the server did not
// ask for yet, waits in the headers). A header comes back once the server reports the sound up to its end
// heard.
//
// The stream itself is always 16-bit, and ends in silence:
// - PipeWire fills a gap in an 8-bit stream with zero bytes, which are the lowest value there, not
//   silence: a full-scale click at every start and end. 8-bit sound is widened on its way (m_scale).
// - PipeWire plays only whole processing periods and holds back a stream's last part shorter than one
//   (and a stream shorter than its prebuffer), whatever the trigger asks: the last buffer of a sound would
//   never come back. There, silence after the device's last sound (m_pad) completes that period; the next
//   sound overwrites it, or what of it the server has not read yet, so that the sound goes on without a gap
//   when it comes in time. Silence that stays in the stream shifts the stream's bytes from the device's
//   (m_shifts). PulseAudio plays a stream's end as it is, once triggered, and needs none of this.
class PulseWaveOutDevice final : public WaveOutDevice
{
public:
    PulseWaveOutDevice(std::shared_ptr<PulseConnection> connection, const TWaveFormatEx& format,
                       NotificationQueue* callback)
        : m_connection(std::move(connection)), m_callback(callback)
    {
        m_spec.format = PA_SAMPLE_S16LE;
        m_spec.channels = static_cast<std::uint8_t>(format.nChannels);
        m_spec.rate = format.nSamplesPerSec;
        m_frame = format.nBlockAlign;
        m_scale = format.wBitsPerSample == 8 ? 2 : 1;
    }

    ~PulseWaveOutDevice() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        DropStream();
    }

    PulseWaveOutDevice(const PulseWaveOutDevice&) = delete;
    PulseWaveOutDevice& operator=(const PulseWaveOutDevice&) = delete;

    // With the mainloop locked: creates the stream and waits until the server accepts or refuses it.
    MMRESULT Open()
    {
        if (const MMRESULT r = NewStream())
            return r;
        m_connection->WaitUntil(
            [this] { return !m_stream || pa_stream_get_state(m_stream.get()) != PA_STREAM_CREATING; },
            kConnectTimeout);
        if (m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY)
            return MMSYSERR_NOERROR;
        const MMRESULT result = m_streamFailed ? PulseErrorResult(m_streamError) : MMSYSERR_BADDEVICEID;
        DropStream();
        return result;
    }

    MMRESULT Write(WAVEHDR* header) override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (!m_stream || m_streamFailed) {
            // The server went away or dropped the stream: try again with a new one.
            if (!m_connection->EnsureReady())
                return MMSYSERR_BADDEVICEID;
            if (const MMRESULT r = NewStream())
                return r;
        }
        m_queue.push_back({header, m_queued, m_queued + header->dwBufferLength});
        m_queued += header->dwBufferLength;
        // Where the server reads now decides how much of the silence after the last sound is overwritten.
        if (m_pad > 0 && StreamReady())
            m_connection->Complete(pa_stream_update_timing_info(m_stream.get(), nullptr, nullptr));
        Feed();
        StartProgress();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Pause() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (m_paused)
            return MMSYSERR_NOERROR;
        m_pausedAt = EstimateHeard();
        m_paused = true;
        StopProgress();
        if (StreamReady())
            ForgetOperation(pa_stream_cork(m_stream.get(), 1, nullptr, nullptr));
        return MMSYSERR_NOERROR;
    }

    MMRESULT Restart() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (!m_paused)
            return MMSYSERR_NOERROR;
        m_paused = false;
        // The last report predates the pause: counting the time since then as played would jump ahead.
        m_shownFloor = std::max(m_shownFloor, m_pausedAt);
        m_extrapolate = false;
        if (StreamReady()) {
            ForgetOperation(pa_stream_cork(m_stream.get(), 0, nullptr, nullptr));
            ForgetOperation(pa_stream_update_timing_info(m_stream.get(), nullptr, nullptr));
        }
        StartProgress();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset() override
    {
        const MainloopLock lock(m_connection->Mainloop());
        if (m_queue.empty() && m_stream && !m_streamFailed) {
            // Everything written was heard: the stream can go on, counting from here.
            m_queued = m_fed;
            m_epoch = m_fed;
            m_heard = std::max(m_heard, m_fed);
            m_shownFloor = m_epoch;
            m_pausedAt = m_epoch;
            return MMSYSERR_NOERROR;
        }
        ReturnQueued();
        // The old stream's sound stops as the server drops it; a failure of the new one shows at the
        // next Write, which tries again.
        NewStream();
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetPosition(MMTIME& time) override
    {
        std::uint64_t bytes = 0;
        {
            const MainloopLock lock(m_connection->Mainloop());
            bytes = m_paused ? m_pausedAt : EstimateHeard();
            bytes = bytes > m_epoch ? bytes - m_epoch : 0;
        }
        SetDeviceTime(time, bytes, bytes / m_frame, m_spec.rate);
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetVolume(std::uint32_t& volume) override
    {
        const MainloopLock lock(m_connection->Mainloop());
        // PipeWire answers with the volume it had before a change that is still on its way.
        if (m_volumeRequest)
            m_connection->Complete(m_volumeRequest.release());
        std::optional<pa_cvolume> current = ServerVolume();
        // A PipeWire stream that has just started reports silence for a few milliseconds, until the
        // server has its volume; a volume of its own it had from the start.
        const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
        while (current && m_connection->IsPipeWire() && !m_volumeSet && pa_cvolume_is_muted(&*current) &&
               std::chrono::steady_clock::now() < deadline) {
            m_connection->WaitUntil([] { return false; }, 5ms);
            current = ServerVolume();
        }
        if (!current || (m_volumeSet && pa_cvolume_equal(&*current, &m_appliedVolume))) {
            // Unchanged since SetVolume: the words as given, not as rounded through the server's scale.
            volume = m_volumeSet ? m_volume : 0xFFFFFFFF;
            return MMSYSERR_NOERROR;
        }
        const std::uint32_t left = FromPulseVolume(current->values[0]);
        const std::uint32_t right = current->channels > 1 ? FromPulseVolume(current->values[1]) : left;
        volume = left | (right << 16);
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetVolume(std::uint32_t volume) override
    {
        const MainloopLock lock(m_connection->Mainloop());
        m_volume = volume;
        m_volumeSet = true;
        pa_cvolume_init(&m_appliedVolume);
        const pa_volume_t left = ToPulseVolume(volume), right = ToPulseVolume(volume >> 16);
        if (m_spec.channels == 2) {
            m_appliedVolume.channels = 2;
            m_appliedVolume.values[0] = left;
            m_appliedVolume.values[1] = right;
        } else {
            // A mono stream has no balance; the louder side wins, so a balance setting never mutes it.
            pa_cvolume_set(&m_appliedVolume, 1, std::max(left, right));
        }
        ApplyVolume();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close() override
    {
        {
            const MainloopLock lock(m_connection->Mainloop());
            if (!m_queue.empty())
                return WAVERR_STILLPLAYING;
            DropStream();
        }
        m_callback->Push(MM_WOM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

private:
    // The stream's volume as the server has it; nullopt when it does not say.
    std::optional<pa_cvolume> ServerVolume()
    {
        if (!StreamReady())
            return std::nullopt;
        pa_cvolume reply{};
        const bool answered = m_connection->Complete(pa_context_get_sink_input_info(
            pa_stream_get_context(m_stream.get()), pa_stream_get_index(m_stream.get()),
            [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
                if (eol == 0 && info)
                    *static_cast<pa_cvolume*>(userdata) = info->volume;
            },
            &reply));
        if (!answered || reply.channels == 0)
            return std::nullopt;
        return reply;
    }

    struct Queued
    {
        WAVEHDR* header;
        std::uint64_t begin;
        std::uint64_t end;
    };

    bool StreamReady() const
    {
        return m_stream && !m_streamFailed && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY;
    }

    MMRESULT NewStream()
    {
        DropStream();
        m_queued = m_fed = m_epoch = m_heard = m_shownFloor = m_pausedAt = 0;
        m_pad = 0;
        m_shifts.assign(1, Shift{0, 0});
        m_extrapolate = false;
        m_streamFailed = false;
        m_streamError = PA_OK;

        pa_context* context = m_connection->Context();
        if (!m_connection->Ready())
            return MMSYSERR_BADDEVICEID;
        const PulseProplistPtr properties(pa_proplist_new());
        pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, "production");
        pa_stream* stream =
            pa_stream_new_with_proplist(context, "Lecture", &m_spec, nullptr, properties.get());
        if (!stream)
            return PulseErrorResult(pa_context_errno(context));
        m_stream.reset(stream);
        m_streamContext.reset(pa_context_ref(context));
        pa_stream_set_state_callback(stream, &PulseWaveOutDevice::OnState, this);
        pa_stream_set_write_callback(stream, &PulseWaveOutDevice::OnWritable, this);
        pa_stream_set_latency_update_callback(stream, &PulseWaveOutDevice::OnTiming, this);

        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        // The silence after the sound takes room in the server's buffer that the sound does not lose. The
        // server starts once it holds that silence's worth: any sound with its silence after it.
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kBufferUsec + kPadUsec, &m_spec));
        attributes.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(kPadUsec, &m_spec));
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        // Timing comes from our own requests (OnProgress), so neither automatic updates nor the
        // library's interpolation is wanted.
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
        if (m_paused)
            flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream, nullptr, &attributes, flags,
                                       m_volumeSet ? &m_appliedVolume : nullptr, nullptr) < 0) {
            const int error = pa_context_errno(context);
            DropStream();
            return PulseErrorResult(error);
        }
        return MMSYSERR_NOERROR;
    }

    void DropStream()
    {
        StopProgress();
        m_volumeRequest.reset();
        // A Reset just after another drops a stream the server has not confirmed yet.
        ReleasePulseStream(*m_connection, m_stream, m_streamContext, kReplyTimeout);
    }

    void ApplyVolume()
    {
        if (!m_volumeSet || !StreamReady())
            return;
        // Kept for GetVolume to wait for; the server takes requests in order, so the last one is enough.
        m_volumeRequest.reset(pa_context_set_sink_input_volume(
            m_streamContext.get(), pa_stream_get_index(m_stream.get()), &m_appliedVolume, nullptr, nullptr));
    }

    // Writes what the server asks for, in whole frames, from the headers, then the silence after it.
    void Feed()
    {
        if (!StreamReady())
            return;
        pa_stream* stream = m_stream.get();
        std::size_t writable = pa_stream_writable_size(stream);
        if (writable == static_cast<std::size_t>(-1))
            return;
        const std::uint64_t available = (m_queued - m_fed) / m_frame * m_frame;
        if (available == 0)
            return;
        // Over the silence, or what of it the server has not read: that room is the sound's again.
        std::int64_t offset = 0;
        if (m_pad > 0) {
            const std::uint64_t overwritten = PadNotRead();
            // Too late for all of it: the rest is heard before the sound goes on.
            if (overwritten < m_pad)
                m_shifts.push_back(Shift{m_fed, m_shifts.back().bytes + m_pad - overwritten});
            offset = -static_cast<std::int64_t>(overwritten);
            writable += overwritten;
            m_pad = 0;
        }
        std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(available, writable / m_scale));
        size -= size % m_frame;
        if (size == 0) {
            if (offset != 0)
                WritePad(offset); // the silence back where it was, for the server to play
            return;
        }
        m_scratch.resize(size * m_scale);
        CopyQueued(m_fed, m_scratch.data(), size);
        if (m_scale == 2) {
            // From the end, in place: unsigned 8-bit to signed 16-bit little-endian.
            for (std::size_t i = size; i-- > 0;) {
                m_scratch[2 * i + 1] = static_cast<std::uint8_t>(m_scratch[i] ^ 0x80);
                m_scratch[2 * i] = 0;
            }
        }
        if (pa_stream_write(stream, m_scratch.data(), m_scratch.size(), nullptr, offset, PA_SEEK_RELATIVE) <
            0)
            return;
        m_fed += size;
        if (m_queued - m_fed < m_frame) {
            if (m_connection->IsPipeWire())
                WritePad(0);
            // Most servers wait for a full prebuffer before they start: a short sound, or the end of a
            // long one after an underrun, might not fill it.
            ForgetOperation(pa_stream_trigger(stream, nullptr, nullptr));
        }
    }

    void WritePad(std::int64_t offset)
    {
        const std::size_t bytes = pa_usec_to_bytes(kPadUsec, &m_spec);
        m_scratch.assign(bytes, 0);
        if (pa_stream_write(m_stream.get(), m_scratch.data(), bytes, nullptr, offset, PA_SEEK_RELATIVE) == 0)
            m_pad = bytes;
    }

    // The stream's byte where the device's byte is (from the last shift on).
    std::uint64_t StreamIndex(std::uint64_t deviceIndex) const
    {
        return deviceIndex * m_scale + m_shifts.back().bytes;
    }

    // The device's byte at the stream's byte; within silence kept in the stream, the one after it.
    std::uint64_t DeviceIndex(std::uint64_t streamIndex) const
    {
        for (std::size_t i = m_shifts.size(); i-- > 0;) {
            const std::uint64_t start = m_shifts[i].from * m_scale + m_shifts[i].bytes;
            if (streamIndex < start && i > 0)
                continue;
            const std::uint64_t device =
                m_shifts[i].from + (streamIndex > start ? streamIndex - start : 0) / m_scale;
            return i + 1 < m_shifts.size() ? std::min(device, m_shifts[i + 1].from) : device;
        }
        return 0;
    }

    // How much of the silence after the sound the server has surely not read yet, by its last report and
    // the time since; none when it has not reported.
    std::uint64_t PadNotRead() const
    {
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream.get());
        if (!timing || timing->read_index_corrupt || m_reportTime == 0)
            return 0;
        pa_usec_t ahead = kReadAheadUsec;
        if (timing->playing)
            ahead += pa_rtclock_now() - m_reportTime;
        const std::uint64_t read = static_cast<std::uint64_t>(std::max<std::int64_t>(timing->read_index, 0)) +
                                   pa_usec_to_bytes(ahead, &m_spec);
        const std::uint64_t padStart = StreamIndex(m_fed), padEnd = padStart + m_pad;
        if (read >= padEnd)
            return 0;
        const std::uint64_t notRead = padEnd - std::max(read, padStart);
        return notRead - notRead % (m_frame * m_scale);
    }

    void CopyQueued(std::uint64_t from, std::uint8_t* to, std::size_t size) const
    {
        for (const Queued& q : m_queue) {
            if (size == 0)
                break;
            if (q.end <= from)
                continue;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, q.end - from));
            std::memcpy(to, q.header->lpData + (from - q.begin), n);
            to += n;
            from += n;
            size -= n;
        }
    }

    // What the last timing report says was heard: what the server took from the stream, less what of it
    // still sits in the sink's buffer (only the part since the stream last started can be ours).
    std::optional<std::uint64_t> ReportedHeard() const
    {
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream.get());
        if (!timing || timing->read_index_corrupt)
            return std::nullopt;
        const auto read = static_cast<std::uint64_t>(std::max<std::int64_t>(timing->read_index, 0));
        const auto inSink = static_cast<std::uint64_t>(pa_usec_to_bytes(timing->sink_usec, &m_spec));
        const auto since = static_cast<std::uint64_t>(std::max<std::int64_t>(timing->since_underrun, 0));
        // Playing: the sink holds at most what it took since the start. Underrun: what it took since
        // (silence) has pushed that much of our sound out already.
        const std::uint64_t pending =
            timing->playing ? std::min(inSink, since) : (inSink > since ? inSink - since : 0);
        return std::min(DeviceIndex(read > pending ? read - pending : 0), m_fed);
    }

    // Between reports, the time since the last one counts as played, never past what was written.
    std::uint64_t EstimateHeard()
    {
        std::uint64_t heard = m_heard;
        if (m_extrapolate && !m_paused) {
            const pa_usec_t elapsed = std::min<pa_usec_t>(pa_rtclock_now() - m_reportTime, 4 * kProgressUsec);
            heard = std::min<std::uint64_t>(heard + pa_usec_to_bytes(elapsed, &m_spec) / m_scale, m_fed);
        }
        m_shownFloor = std::max(m_shownFloor, heard);
        return m_shownFloor;
    }

    void ReturnPlayed()
    {
        while (!m_queue.empty()) {
            const Queued q = m_queue.front();
            if (q.end / m_frame * m_frame > m_heard)
                break;
            m_queue.pop_front();
            MarkHeaderDone(q.header);
            m_callback->Push(MM_WOM_DONE, q.header);
        }
        if (m_queue.empty())
            StopProgress();
    }

    void ReturnQueued()
    {
        std::deque<Queued> returned;
        returned.swap(m_queue);
        m_queued = m_fed;
        for (const Queued& q : returned) {
            MarkHeaderDone(q.header);
            m_callback->Push(MM_WOM_DONE, q.header);
        }
    }

    void StartProgress()
    {
        if (m_progress || m_paused || m_queue.empty() || !m_streamContext)
            return;
        m_progress = pa_context_rttime_new(m_streamContext.get(), pa_rtclock_now() + kProgressUsec,
                                           &PulseWaveOutDevice::OnProgress, this);
    }

    void StopProgress()
    {
        if (!m_progress)
            return;
        m_connection->Api()->time_free(m_progress);
        m_progress = nullptr;
    }

    static void OnState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<PulseWaveOutDevice*>(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            if ((pa_stream_is_corked(stream) == 1) != self->m_paused)
                ForgetOperation(pa_stream_cork(stream, self->m_paused ? 1 : 0, nullptr, nullptr));
            self->ApplyVolume();
            self->Feed();
            self->StartProgress();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            // Killed by the user or the server gone: nothing will play, so nothing must stay queued,
            // or the program would wait for these headers forever.
            self->m_streamFailed = true;
            self->m_streamError = pa_context_errno(pa_stream_get_context(stream));
            self->StopProgress();
            self->ReturnQueued();
            break;
        default:
            break;
        }
        self->m_connection->Signal();
    }

    static void OnWritable(pa_stream*, std::size_t, void* userdata)
    {
        static_cast<PulseWaveOutDevice*>(userdata)->Feed();
    }

    static void OnTiming(pa_stream*, void* userdata)
    {
        auto* self = static_cast<PulseWaveOutDevice*>(userdata);
        const std::optional<std::uint64_t> heard = self->ReportedHeard();
        if (!heard)
            return;
        const pa_timing_info* timing = pa_stream_get_timing_info(self->m_stream.get());
        self->m_heard = std::max(self->m_heard, *heard);
        // Shifts that everything heard is past are of no more use.
        while (self->m_shifts.size() > 1 && self->m_shifts[1].from <= self->m_heard)
            self->m_shifts.erase(self->m_shifts.begin());
        self->m_reportTime = pa_rtclock_now();
        self->m_extrapolate = timing && timing->playing && !self->m_paused;
        self->ReturnPlayed();
    }

    static void OnProgress(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* userdata)
    {
        auto* self = static_cast<PulseWaveOutDevice*>(userdata);
        if (self->m_paused || self->m_queue.empty()) {
            self->StopProgress();
            return;
        }
        if (self->StreamReady())
            ForgetOperation(pa_stream_update_timing_info(self->m_stream.get(), nullptr, nullptr));
        // While a new stream is being set up there is nothing to ask yet; the timer keeps going.
        pa_context_rttime_restart(self->m_streamContext.get(), event, pa_rtclock_now() + kProgressUsec);
    }

    std::shared_ptr<PulseConnection> m_connection;
    NotificationQueue* m_callback;
    pa_sample_spec m_spec{}; // the stream's
    std::size_t m_frame = 1; // the device's
    std::size_t m_scale = 1; // stream bytes per device byte
    std::vector<std::uint8_t> m_scratch;

    PulseStreamPtr m_stream;
    PulseContextPtr m_streamContext; // m_stream's context, which a reconnection may have replaced
    bool m_streamFailed = false;
    int m_streamError = PA_OK;
    pa_time_event* m_progress = nullptr;
    PulseOperationPtr m_volumeRequest; // the last volume sent, until GetVolume waits for it

    struct Shift
    {
        std::uint64_t from;  // the device's bytes from this one on
        std::uint64_t bytes; // are that many bytes further in the stream
    };
    std::uint64_t m_pad = 0; // stream bytes of silence after the device's last byte, 0 when none
    std::vector<Shift> m_shifts{Shift{0, 0}};

    std::deque<Queued> m_queue;
    std::uint64_t m_queued = 0;
    std::uint64_t m_fed = 0;
    std::uint64_t m_epoch = 0;      // where position 0 is, since the last Reset that kept the stream
    std::uint64_t m_heard = 0;      // per the last timing report
    std::uint64_t m_shownFloor = 0; // the position never goes back between resets
    std::uint64_t m_pausedAt = 0;
    pa_usec_t m_reportTime = 0;
    bool m_extrapolate = false;
    bool m_paused = false;

    std::uint32_t m_volume = 0xFFFFFFFF;
    bool m_volumeSet = false;
    pa_cvolume m_appliedVolume{};
};

class PulseWaveOutBackend final : public PulseWaveBackend<WaveOutBackend, PulseWaveOutDevice>
{
public:
    using PulseWaveBackend::PulseWaveBackend;

private:
    void DescribeDevice(WAVEOUTCAPS& caps) override
    {
        caps.szPname = m_connection->DefaultSinkDescription().value_or(kDefaultDeviceName);
        caps.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
    }
};

} // namespace

std::shared_ptr<WaveOutBackend> CreatePulseWaveOutBackend()
{
    return MakePulseBackend<PulseWaveOutBackend>(SharedPulseConnection());
}
