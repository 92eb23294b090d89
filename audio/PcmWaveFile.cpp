#include "audio/PcmWaveFile.h"

#include "platform/io/HeapBlock.h"
#include "platform/pcm/PcmConverter.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The largest file LoadFromFile takes: a wave's sizes are 32-bit.
constexpr std::uint64_t MaxFileSize = 0x100000000ULL + 64;

// How much of the samples is read at a time when converting as they are read: small beside an hour, large
// enough that the reads cost no more than one big one.
constexpr std::size_t ReadBlockBytes = 1 << 18;

// Below this many frames in each half, a fold is quicker than starting a thread for it.
constexpr std::size_t ParallelFoldFrames = 1 << 20;

// The file as a stream that only reads, for the header parser: each read goes to the file at the stream's
// position, so that only the chunk headers it visits are read.
class TFileReader : public TStream
{
public:
    TFileReader(int fd, std::uint64_t size, std::string fileName)
        : m_fd(fd), m_size(size), m_fileName(std::move(fileName))
    {
    }
    std::size_t Read(void* buffer, std::size_t count) override
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(m_fd, static_cast<std::uint8_t*>(buffer) + done, count - done,
                                        static_cast<off_t>(m_position + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw EReadError(m_fileName);
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        m_position += done;
        return done;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override
    {
        const std::int64_t base = origin == SeekOrigin::Beginning ? 0
                                  : origin == SeekOrigin::Current ? static_cast<std::int64_t>(m_position)
                                                                  : static_cast<std::int64_t>(m_size);
        if (offset < -base)
            return -1;
        m_position = static_cast<std::uint64_t>(base + offset);
        return static_cast<std::int64_t>(m_position);
    }
    std::uint64_t Size() const override { return m_size; }
    void SetSize(std::uint64_t) override { throw EStreamError("Flux en lecture seule"); }

private:
    int m_fd;
    std::uint64_t m_size;
    std::string m_fileName;
};

PcmLayout layoutOf(const TWaveFormatEx& format)
{
    return PcmLayout{format.nChannels, format.nSamplesPerSec, format.wBitsPerSample};
}

} // namespace

TPcmWaveFile::~TPcmWaveFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TPcmWaveFile::Open(const std::string& fileName)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_format.clear();
    m_dataSize = 0;
    m_dataOffset = 0;
    m_repaired = false;
    m_fileName = fileName;

    // Not blocking: a pipe or a device named by mistake is told apart by fstat, not waited on.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EFOpenError(fileName);
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize > MaxFileSize)
        throw EStreamError("Le fichier " + fileName + " est trop volumineux");

    TFileReader reader(m_fd, fileSize, fileName);
    WaveFormatBlock format;
    std::uint32_t dataSize = 0;
    std::uint32_t dataOffset = 0;
    if (!ReadStreamWaveHeader(reader, format, dataSize, dataOffset))
        return false;
    const TWaveFormatEx& record = *AsWaveFormat(format);
    if (record.wFormatTag != WAVE_FORMAT_PCM || (record.wBitsPerSample != 8 && record.wBitsPerSample != 16))
        return false;
    m_format = std::move(format);
    m_dataSize = dataSize;
    m_dataOffset = dataOffset;
    return true;
}

const TWaveFormatEx& TPcmWaveFile::Format() const
{
    if (m_format.empty())
        throw std::logic_error("TPcmWaveFile: no file open");
    return *AsWaveFormat(m_format);
}

void TPcmWaveFile::RepairPCMFormat()
{
    const TPCMFormat pcm = WaveFormatToPCMFormat(&Format());
    if (pcm == nonePCM)
        return;
    TWaveFormatEx expected{};
    PCMFormatToWaveFormat(expected, pcm);
    auto* record = reinterpret_cast<TWaveFormatEx*>(m_format.data());
    if (record->nAvgBytesPerSec == expected.nAvgBytesPerSec && record->nBlockAlign == expected.nBlockAlign)
        return;
    record->nAvgBytesPerSec = expected.nAvgBytesPerSec;
    record->nBlockAlign = expected.nBlockAlign;
    m_repaired = true;
}

void TPcmWaveFile::readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count) const
{
    TFileReader reader(m_fd, offset + count, m_fileName);
    reader.Seek(static_cast<std::int64_t>(offset), SeekOrigin::Beginning);
    // The file shrank since its header was read: what the header promised is no longer there.
    if (reader.Read(into, count) != count)
        throw EReadError(m_fileName);
}

void TPcmWaveFile::ReadWhole(TWave& wave) const
{
    Format();
    wave.LoadFromFile(m_fileName);
    if (m_repaired)
        wave.RepairPCMFormat();
}

bool TPcmWaveFile::ReadRange(std::uint64_t first, std::uint64_t last, TWave& wave,
                             const TWaveFormatEx* as) const
{
    const TWaveFormatEx& format = Format();
    last = std::min<std::uint64_t>(last, m_dataSize);
    first = std::min(first, last);
    const std::size_t samples = static_cast<std::size_t>(last - first);
    if (!as || SameWaveFormatRecord(format, *as)) {
        const std::size_t header = WaveHeaderSize(format);
        HeapBlock block(header + samples + (samples & 1U));
        readAt(m_dataOffset + first, block.data() + header, samples);
        wave.AdoptSamples(std::move(block), format, samples);
        return true;
    }
    // The converter asks for its input a block at a time; it is read from the file a window at a time.
    const std::size_t frameBytes = format.nBlockAlign;
    const std::size_t frames = samples / frameBytes;
    const std::size_t windowFrames = std::max<std::size_t>(1, ReadBlockBytes / frameBytes);
    // Kept by the thread from one clip to the next: a project of many clips reads into the same memory.
    thread_local HeapBlock window;
    std::size_t windowFirst = 0;
    std::size_t windowCount = 0;
    const auto source = [&](std::size_t from, std::size_t count) -> const std::uint8_t* {
        if (from < windowFirst || from + count > windowFirst + windowCount) {
            windowFirst = from;
            windowCount = std::max(count, std::min(windowFrames, frames - from));
            if (window.size() < windowCount * frameBytes)
                window.allocate(windowCount * frameBytes);
            readAt(m_dataOffset + first + static_cast<std::uint64_t>(from) * frameBytes, window.data(),
                   windowCount * frameBytes);
        }
        return window.data() + (from - windowFirst) * frameBytes;
    };
    HeapBlock converted;
    if (!ConvertWaveFrames(format, frames, source, converted, *as, WaveHeaderSize(*as)))
        return false;
    wave.AdoptConverted(std::move(converted), *as);
    return true;
}

bool TPcmWaveFile::ReadMono16(TWave& wave) const
{
    const TWaveFormatEx& format = Format();
    const PcmLayout from = layoutOf(format);
    if (format.nBlockAlign * 8U != from.channels * from.bits || !IsSupportedPcm(from))
        return false;
    const PcmLayout mono{1, from.rate, from.bits};
    const PcmLayout mono16{1, from.rate, 16};
    TWaveFormatEx result{};
    result.wFormatTag = WAVE_FORMAT_PCM;
    result.nChannels = 1;
    result.nSamplesPerSec = from.rate;
    result.wBitsPerSample = 16;
    result.nBlockAlign = 2;
    result.nAvgBytesPerSec = from.rate * 2;

    const std::size_t frameBytes = format.nBlockAlign;
    const std::size_t frames = m_dataSize / frameBytes;
    const std::size_t header = WaveHeaderSize(result);
    HeapBlock block(header + 2 * frames);
    std::uint8_t* const out = block.data() + header;
    // Frames [first, first + count) read a block at a time and folded into their place in the result.
    const auto fold = [&](std::size_t first, std::size_t count) {
        const std::size_t framesPerRead = std::max<std::size_t>(1, ReadBlockBytes / frameBytes);
        HeapBlock input(std::min(count, framesPerRead) * frameBytes);
        // 8-bit stereo is folded in bytes first and widened after, as the editor always did it: widening
        // first would keep the half step of the average and give other samples.
        HeapBlock folded(from.channels == 2 && from.bits == 8 ? std::min(count, framesPerRead) : 0);
        for (std::size_t done = first; done < first + count;) {
            const std::size_t n = std::min(framesPerRead, first + count - done);
            readAt(m_dataOffset + static_cast<std::uint64_t>(done) * frameBytes, input.data(),
                   n * frameBytes);
            if (folded.size() > 0) {
                ConvertPcmFrames(from, input.data(), n, mono, folded.data());
                ConvertPcmFrames(mono, folded.data(), n, mono16, out + 2 * done);
            } else {
                ConvertPcmFrames(from, input.data(), n, mono16, out + 2 * done);
            }
            done += n;
        }
    };
    // Every frame folds on its own: the second half is read and folded on another core meanwhile, which
    // halves the time an hour-long file keeps the window busy.
    const std::size_t half = frames / 2;
    std::exception_ptr failed;
    std::thread second;
    if (half >= ParallelFoldFrames)
        second = std::thread([&] {
            try {
                fold(half, frames - half);
            } catch (...) {
                failed = std::current_exception();
            }
        });
    try {
        fold(0, second.joinable() ? half : frames);
    } catch (...) {
        if (second.joinable())
            second.join();
        throw;
    }
    if (second.joinable())
        second.join();
    if (failed)
        std::rethrow_exception(failed);
    wave.AdoptSamples(std::move(block), result, 2 * frames);
    return true;
}
