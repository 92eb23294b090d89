#include "audio/SoundDecoder.h"

#include "platform/io/FileDescriptor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

ESoundTooLongError::ESoundTooLongError(const std::string& fileName)
    : EStreamError("Le fichier " + fileName +
                   " est trop long pour être ouvert : une fois décodé, il dépasserait 4 Go.")
{
}

namespace {

constexpr std::array<unsigned, 5> WaveRates = {8000, 11025, 22050, 44100, 48000};
// As many as the resampler mixes.
constexpr int MostChannels = 64;
// The rates a source may have, as the program's PCM converter takes them: a header claiming a gigahertz
// would have the resampler build its filters for minutes.
constexpr int LowestRate = 1000;
constexpr int HighestRate = 384000;

// ---- Owners of FFmpeg's handles -------------------------------------------------------------------

struct IoContextFree
{
    void operator()(AVIOContext* io) const
    {
        // FFmpeg may have replaced the buffer given at the start: the one it holds now is ours to free.
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct FormatContextClose
{
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct CodecContextFree
{
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct PacketFree
{
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFree
{
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerFree
{
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};

using IoContextPtr = std::unique_ptr<AVIOContext, IoContextFree>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextClose>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;

class ChannelLayout
{
public:
    ChannelLayout() = default;
    ~ChannelLayout() { av_channel_layout_uninit(&m_layout); }
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;

    // A frame's layout; one whose channels are not named gets the usual layout of that many channels, which
    // the mixer knows how to bring down to stereo.
    void assignFrom(const AVChannelLayout& layout)
    {
        av_channel_layout_uninit(&m_layout);
        if (layout.order != AV_CHANNEL_ORDER_NATIVE || av_channel_layout_copy(&m_layout, &layout) < 0)
            av_channel_layout_default(&m_layout, layout.nb_channels);
    }
    bool same(const AVChannelLayout& layout) const
    {
        ChannelLayout other;
        other.assignFrom(layout);
        return av_channel_layout_compare(&m_layout, &other.m_layout) == 0;
    }
    AVChannelLayout* get() { return &m_layout; }

private:
    AVChannelLayout m_layout{};
};

void quietLibraries()
{
    // A damaged frame in the middle of a file is skipped as a player would, without a word on the terminal.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Other files named inside the one given (playlists, image sequences, references to other media) are never
// opened: a sound file has no business reading anything else, on this machine or elsewhere.
int refuseOtherFiles(AVFormatContext* /*format*/, AVIOContext** /*pb*/, const char* /*url*/, int /*flags*/,
                     AVDictionary** /*options*/)
{
    return AVERROR(EPERM);
}

// ---- What FFmpeg reads ----------------------------------------------------------------------------

// The bytes of the input, read through our own callbacks: a file name is never taken for a protocol or an
// address, and the share read so far gives the progress.
class Input
{
public:
    virtual ~Input() = default;
    virtual int read(std::uint8_t* buffer, int size) = 0;
    virtual std::int64_t seekTo(std::int64_t position) = 0;
    std::int64_t size() const { return m_size; }
    std::int64_t position() const { return m_position; }
    double done() const
    {
        return m_size > 0 ? std::min(1.0, static_cast<double>(m_position) / static_cast<double>(m_size))
                          : 0.0;
    }

protected:
    std::int64_t m_size = 0;
    std::int64_t m_position = 0;
};

class FileInput : public Input
{
public:
    explicit FileInput(const std::string& fileName)
        // Without O_NONBLOCK, opening a pipe would wait for a writer that may never come.
        : m_fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        struct stat st
        {
        };
        if (m_fd.get() < 0 || ::fstat(m_fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            throw EFOpenError(fileName);
        m_size = st.st_size;
    }
    int read(std::uint8_t* buffer, int size) override
    {
        for (;;) {
            const ssize_t got = ::read(m_fd.get(), buffer, static_cast<std::size_t>(size));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                m_failed = true;
                return AVERROR(EIO);
            }
            m_position += got;
            return got == 0 ? AVERROR_EOF : static_cast<int>(got);
        }
    }
    std::int64_t seekTo(std::int64_t position) override
    {
        const off_t at = ::lseek(m_fd.get(), static_cast<off_t>(position), SEEK_SET);
        if (at < 0)
            return AVERROR(EINVAL);
        m_position = at;
        return at;
    }
    bool failed() const { return m_failed; }

private:
    FileDescriptor m_fd;
    bool m_failed = false;
};

class MemoryInput : public Input
{
public:
    MemoryInput(const void* data, std::size_t size) : m_data(static_cast<const std::uint8_t*>(data))
    {
        m_size = static_cast<std::int64_t>(size);
    }
    int read(std::uint8_t* buffer, int size) override
    {
        const std::int64_t count = std::min<std::int64_t>(size, m_size - m_position);
        if (count <= 0)
            return AVERROR_EOF;
        std::memcpy(buffer, m_data + m_position, static_cast<std::size_t>(count));
        m_position += count;
        return static_cast<int>(count);
    }
    std::int64_t seekTo(std::int64_t position) override
    {
        if (position < 0)
            return AVERROR(EINVAL);
        // FFmpeg may seek past the end; reads there find nothing, as in a file.
        m_position = position;
        return position;
    }

private:
    const std::uint8_t* m_data;
};

int readInput(void* opaque, std::uint8_t* buffer, int size)
{
    return static_cast<Input*>(opaque)->read(buffer, size);
}

std::int64_t seekInput(void* opaque, std::int64_t offset, int whence)
{
    auto* input = static_cast<Input*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return input->size();
    case SEEK_SET:
        return input->seekTo(offset);
    case SEEK_CUR:
        return input->seekTo(input->position() + offset);
    case SEEK_END:
        return input->seekTo(input->size() + offset);
    default:
        return AVERROR(EINVAL);
    }
}

// ---- The decoded wave -----------------------------------------------------------------------------

// Converts decoded frames, whatever their sample format, rate and channels, into 16-bit PCM written straight
// into the block that becomes the wave's image: the samples are held once, never copied into a second
// buffer. The output's channels and rate are those of the first frame; a stream that changes format midway
// is converted to them too.
class PcmOutput
{
public:
    PcmOutput(std::uint64_t maxDataBytes, std::string name) : m_maxData(maxDataBytes), m_name(std::move(name))
    {
    }

    // expectedSeconds: the container's idea of the length, 0 when it has none.
    void append(const AVFrame& frame, double expectedSeconds)
    {
        if (frame.nb_samples <= 0 || frame.sample_rate < LowestRate || frame.sample_rate > HighestRate ||
            frame.ch_layout.nb_channels <= 0 || frame.ch_layout.nb_channels > MostChannels)
            return;
        if (!m_swr || frame.format != m_inFormat || frame.sample_rate != m_inRate ||
            !m_inLayout.same(frame.ch_layout)) {
            if (m_swr)
                drain();
            if (m_channels == 0)
                start(frame, expectedSeconds);
            if (!configure(frame))
                return;
        }
        convert(const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
    }

    // The samples the resampler still holds.
    void finish()
    {
        if (m_swr)
            drain();
    }

    bool empty() const { return m_dataBytes == 0; }

    void moveInto(TWave& wave)
    {
        TWaveFormatEx format{};
        const auto rate = std::find(WaveRates.begin(), WaveRates.end(), m_rate);
        FillPCMFormat(format, m_channels == 2, static_cast<int>(rate - WaveRates.begin()), true);
        m_block.resize(m_header + static_cast<std::size_t>(m_dataBytes));
        // The header goes in front of the samples already in place, as the wave's own conversions do it.
        TMemoryStream image;
        image.AdoptBlock(std::move(m_block));
        auto handle = OpenStreamIO(image);
        RiffChunkInfo riff;
        RiffChunkInfo data;
        if (!handle || !WriteWaveHeader(*handle, format, riff, data) || handle->Offset() != m_header)
            throw std::bad_alloc();
        if (handle->Seek(static_cast<std::int64_t>(m_header + m_dataBytes), SeekOrigin::Beginning) < 0 ||
            !EndWaveWriting(std::move(handle), riff, data))
            throw std::bad_alloc();
        wave.SwapContent(image);
        wave.SetPosition(0);
    }

private:
    std::size_t frameBytes() const { return 2 * static_cast<std::size_t>(m_channels); }

    void start(const AVFrame& frame, double expectedSeconds)
    {
        m_channels = frame.ch_layout.nb_channels == 1 ? 1 : 2;
        m_rate = DecodedRate(static_cast<unsigned>(frame.sample_rate));
        TWaveFormatEx format{};
        FillPCMFormat(format, m_channels == 2, 0, true);
        m_header = WaveHeaderSize(format);
        // Room for the length the container announces, so that an hour-long file is not moved as it grows.
        // The announcement may be false: beyond a limit the block grows with what really comes.
        constexpr double MostTrusted = 1 << 30;
        const double announced = (expectedSeconds + 1) * m_rate * static_cast<double>(frameBytes());
        const double reserved = std::min({announced, MostTrusted, static_cast<double>(m_maxData)});
        // In plain pages: faulting a decoded hour in as huge pages measured several times slower, the kernel
        // clearing each one whole before the decoder writes a byte of it.
        try {
            m_block.resize(m_header + static_cast<std::size_t>(std::max(reserved, 0.0)));
        } catch (const std::bad_alloc&) {
            m_block.resize(m_header + (std::size_t{16} << 20));
        }
    }

    bool configure(const AVFrame& frame)
    {
        m_swr.reset();
        m_inLayout.assignFrom(frame.ch_layout);
        m_inFormat = frame.format;
        m_inRate = frame.sample_rate;
        AVChannelLayout out{};
        av_channel_layout_default(&out, m_channels);
        const auto make = [&](bool soxr) {
            SwrContext* raw = nullptr;
            if (swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_S16, static_cast<int>(m_rate), m_inLayout.get(),
                                    static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0,
                                    nullptr) < 0)
                return ResamplerPtr();
            ResamplerPtr swr(raw);
            // The same resampler as the program's own PCM converter.
            if (soxr)
                av_opt_set_int(raw, "resampler", SWR_ENGINE_SOXR, 0);
            return swr_init(raw) < 0 ? ResamplerPtr() : std::move(swr);
        };
        const bool resampled = static_cast<unsigned>(frame.sample_rate) != m_rate;
        m_swr = make(resampled);
        if (!m_swr && resampled)
            m_swr = make(false);
        av_channel_layout_uninit(&out);
        return m_swr != nullptr;
    }

    std::uint8_t* room(std::size_t bytes)
    {
        const std::size_t needed = m_header + static_cast<std::size_t>(m_dataBytes) + bytes;
        if (needed > m_block.size()) {
            // By half again, in whole megabytes: large blocks grow by remapping their pages, not by copying.
            std::size_t capacity = std::max(needed, m_block.size() + m_block.size() / 2);
            capacity = (capacity + 0xFFFFF) & ~static_cast<std::size_t>(0xFFFFF);
            capacity = std::min(capacity, m_header + static_cast<std::size_t>(m_maxData) + bytes);
            m_block.resize(std::max(capacity, needed));
        }
        return m_block.data() + m_header + m_dataBytes;
    }

    // in null: what the resampler holds back.
    void convert(const std::uint8_t** in, int count)
    {
        const int most = swr_get_out_samples(m_swr.get(), count);
        if (most <= 0)
            return;
        std::uint8_t* out = room(static_cast<std::size_t>(most) * frameBytes());
        const int got = swr_convert(m_swr.get(), &out, most, in, count);
        if (got <= 0)
            return;
        m_dataBytes += static_cast<std::uint64_t>(got) * frameBytes();
        if (m_dataBytes > m_maxData)
            throw ESoundTooLongError(m_name);
    }

    void drain() { convert(nullptr, 0); }

    std::uint64_t m_maxData;
    std::string m_name;
    HeapBlock m_block;
    std::size_t m_header = 0;
    std::uint64_t m_dataBytes = 0;
    unsigned m_channels = 0;
    unsigned m_rate = 0;
    ResamplerPtr m_swr;
    int m_inFormat = -1;
    int m_inRate = 0;
    ChannelLayout m_inLayout;
};

// ---- Decoding -------------------------------------------------------------------------------------

// Reading errors in a row after which the rest of a damaged file is given up.
constexpr int MostReadErrors = 64;
// Packets read without the input moving on, after which a demuxer is taken to be going round in circles.
constexpr long MostPacketsInPlace = 1000000;

double expectedSeconds(const AVFormatContext& format, const AVStream& stream)
{
    if (stream.duration > 0 && stream.time_base.num > 0 && stream.time_base.den > 0)
        return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
    if (format.duration > 0)
        return static_cast<double>(format.duration) / AV_TIME_BASE;
    return 0;
}

TSoundLoad decode(Input& input, const std::string& nameHint, const std::string& name, TWave& wave,
                  const TDecodeOptions& options)
{
    quietLibraries();
    constexpr int BufferSize = 64 * 1024;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(BufferSize));
    if (!buffer)
        throw std::bad_alloc();
    IoContextPtr io(avio_alloc_context(buffer, BufferSize, 0, &input, readInput, nullptr, seekInput));
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    raw->pb = io.get();
    raw->io_open = refuseOtherFiles;
    // On failure FFmpeg frees the context itself (and leaves our reader alone).
    if (avformat_open_input(&raw, nameHint.c_str(), nullptr, nullptr) < 0)
        return TSoundLoad::NotSound;
    FormatContextPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return TSoundLoad::NotSound;

    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder)
        return TSoundLoad::NotSound;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != index)
            format->streams[i]->discard = AVDISCARD_ALL;
    const AVStream& stream = *format->streams[index];

    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec)
        throw std::bad_alloc();
    if (avcodec_parameters_to_context(codec.get(), stream.codecpar) < 0)
        return TSoundLoad::NotSound;
    // The packets' time base lets the decoder drop the encoder's delay and padding the container names
    // (AV_PKT_DATA_SKIP_SAMPLES, which the generic decoding layer applies as long as we do not ask to
    // skip by hand): an MP3 starts at its first real sample, and every load cuts the same samples.
    codec->pkt_timebase = stream.time_base;
    // FLAC and a few others decode frames on every core; the order of the samples stays the same.
    codec->thread_count = 0;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return TSoundLoad::NotSound;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        throw std::bad_alloc();
    PcmOutput output(options.MaxDataBytes, name);
    const double expected = expectedSeconds(*format, stream);

    const auto receiveAll = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            output.append(*frame, expected);
            av_frame_unref(frame.get());
        }
    };
    const auto send = [&](const AVPacket* p) {
        // A packet the decoder refuses is damaged data: it is left out and the decode goes on.
        if (avcodec_send_packet(codec.get(), p) == AVERROR(EAGAIN)) {
            receiveAll();
            static_cast<void>(avcodec_send_packet(codec.get(), p));
        }
        receiveAll();
    };

    int readErrors = 0;
    long packetsInPlace = 0;
    std::int64_t lastPosition = -1;
    for (;;) {
        if (options.Progress && !options.Progress(input.done()))
            return TSoundLoad::Cancelled;
        const int result = av_read_frame(format.get(), packet.get());
        if (result == AVERROR_EOF)
            break;
        if (result < 0) {
            if (avio_feof(io.get()) || ++readErrors > MostReadErrors)
                break;
            continue;
        }
        readErrors = 0;
        if (input.position() != lastPosition) {
            lastPosition = input.position();
            packetsInPlace = 0;
        } else if (++packetsInPlace > MostPacketsInPlace) {
            av_packet_unref(packet.get());
            break;
        }
        if (packet->stream_index == index)
            send(packet.get());
        av_packet_unref(packet.get());
    }
    send(nullptr);
    output.finish();
    if (auto* file = dynamic_cast<FileInput*>(&input); file && file->failed())
        throw EReadError(name);
    if (output.empty())
        return TSoundLoad::NotSound;
    if (options.Progress && !options.Progress(1.0))
        return TSoundLoad::Cancelled;
    output.moveInto(wave);
    return TSoundLoad::Loaded;
}

// "RIFF", a size, "WAVE": a file the program may be able to read itself.
bool startsAsRiffWave(const std::string& fileName)
{
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw EFOpenError(fileName);
    std::array<char, 12> head{};
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd.get(), head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got == head.size() && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WAVE", 4) == 0;
}

} // namespace

unsigned DecodedRate(unsigned sourceRate)
{
    for (const unsigned rate : WaveRates)
        if (sourceRate <= rate)
            return rate;
    return WaveRates.back();
}

bool IsPcmWave(const TWave& wave)
{
    const TWaveFormatEx* format = wave.WaveFormat();
    return format && format->wFormatTag == WAVE_FORMAT_PCM &&
           (format->wBitsPerSample == 8 || format->wBitsPerSample == 16);
}

bool FoldStereoInPlace(TWave& wave)
{
    const TPCMFormat stereo = wave.PCMFormat();
    if (stereo != Stereo16bit8000Hz && stereo != Stereo16bit11025Hz && stereo != Stereo16bit22050Hz &&
        stereo != Stereo16bit44100Hz && stereo != Stereo16bit48000Hz)
        return false;
    TWaveFormatEx mono{};
    // Each stereo format comes right after its mono one in the table.
    PCMFormatToWaveFormat(mono, static_cast<TPCMFormat>(stereo - 1));
    const std::size_t header = WaveHeaderSize(mono);
    const std::size_t offset = wave.DataOffset();
    // Mono sample i is written from the header's end on, after frame i is read: it may cover that frame's
    // own bytes, never the next frame's, as long as the samples do not start more than one sample earlier.
    if (offset + 2 < header)
        return false;
    const std::size_t frames = wave.DataSize() / 4;

    TMemoryStream image;
    image.SwapContent(wave);
    std::uint8_t* const base = image.Memory();
    for (std::size_t i = 0; i < frames; ++i) {
        std::int16_t left = 0;
        std::int16_t right = 0;
        std::memcpy(&left, base + offset + 4 * i, 2);
        std::memcpy(&right, base + offset + 4 * i + 2, 2);
        const auto folded = static_cast<std::int16_t>((left + right) >> 1);
        std::memcpy(base + header + 2 * i, &folded, 2);
    }
    image.SetSize(header + 2 * frames);
    auto handle = OpenStreamIO(image);
    RiffChunkInfo riff;
    RiffChunkInfo data;
    if (!handle || !WriteWaveHeader(*handle, mono, riff, data) || handle->Offset() != header ||
        handle->Seek(static_cast<std::int64_t>(header + 2 * frames), SeekOrigin::Beginning) < 0 ||
        !EndWaveWriting(std::move(handle), riff, data))
        throw std::bad_alloc();
    wave.SwapContent(image);
    wave.SetPosition(0);
    return true;
}

TSoundLoad DecodeSoundFile(const std::string& fileName, TWave& wave, const TDecodeOptions& options)
{
    FileInput input(fileName);
    return decode(input, fileName, fileName, wave, options);
}

TSoundLoad DecodeSoundBytes(const void* data, std::size_t size, TWave& wave, const TDecodeOptions& options,
                            const std::string& nameHint)
{
    MemoryInput input(data, size);
    return decode(input, nameHint, nameHint, wave, options);
}

TSoundLoad LoadSoundFile(const std::string& fileName, TWave& wave, const TDecodeOptions& options,
                         bool* decoded)
{
    if (decoded)
        *decoded = false;
    if (startsAsRiffWave(fileName)) {
        TWave staged;
        staged.LoadFromFile(fileName);
        if (IsPcmWave(staged)) {
            wave.SwapContent(staged);
            wave.SetPosition(0);
            return TSoundLoad::Loaded;
        }
    }
    if (decoded)
        *decoded = true;
    return DecodeSoundFile(fileName, wave, options);
}
