#include "mp3/LameCoder.h"

#include "audio/WaveUtils.h"
#include "platform/io/Stream.h"

#include <QCoreApplication>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t True32 = 0xFFFFFFFF; // a 32-bit boolean set from true: all bits on
constexpr std::size_t HeaderSize = 44;

std::uint32_t longBool(bool value)
{
    return value ? True32 : 0;
}

// An input file read through the stream interface, so that the RIFF reader can find its chunks.
class InputFile : public TStream
{
public:
    InputFile() = default;
    ~InputFile() override { Close(); }

    void Open(const std::string& fileName)
    {
        m_fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info = {};
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            Close();
            throw EFOpenError(fileName);
        }
        m_size = static_cast<std::uint64_t>(info.st_size);
        m_position = 0;
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Reads until count bytes are in or the file ends or fails.
    std::size_t Read(void* buffer, std::size_t count) override
    {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, out + done, count - done, static_cast<off_t>(m_position));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
            m_position += static_cast<std::uint64_t>(n);
        }
        return done;
    }
    std::size_t Write(const void* /*buffer*/, std::size_t /*count*/) override { return 0; }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override
    {
        std::int64_t base = 0;
        if (origin == SeekOrigin::Current)
            base = static_cast<std::int64_t>(m_position);
        else if (origin == SeekOrigin::End)
            base = static_cast<std::int64_t>(m_size);
        const std::int64_t target = base + offset;
        if (target < 0)
            return -1;
        m_position = static_cast<std::uint64_t>(target);
        return target;
    }
    std::uint64_t Size() const override { return m_size; }
    void SetSize(std::uint64_t /*size*/) override { throw EStreamError("Flux en lecture seule"); }

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties the one of that name.
    void Create(const std::string& fileName)
    {
        m_fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
            throw EFCreateError(fileName);
    }
    // Returns the number of bytes written: fewer than count when the disk is full or the write fails.
    std::size_t Write(const std::uint8_t* data, std::size_t count)
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(m_fd, data + done, count - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }
    // False when the system reports a write that failed late.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd = -1;
};

// Closes its encoder stream when it goes.
class EncoderStream
{
public:
    EncoderStream() = default;
    ~EncoderStream() { Close(); }
    EncoderStream(const EncoderStream&) = delete;
    EncoderStream& operator=(const EncoderStream&) = delete;

    HBE_STREAM* Receive() { return &m_handle; }
    HBE_STREAM Get() const { return m_handle; }
    void Close()
    {
        if (m_handle != 0)
            beCloseStream(m_handle);
        m_handle = 0;
    }

private:
    HBE_STREAM m_handle = 0;
};

const std::string& item(const TLameCoder::TFileList& list, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        throw EListError(index);
    return list[static_cast<std::size_t>(index)];
}

// The user interface stays responsive during a long run.
void processMessages()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace

std::string ChangeFileExt(const std::string& fileName, const std::string& ext)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return fileName + ext;
    return fileName.substr(0, dot) + ext;
}

// ---- TLameVersion ---------------------------------------------------------------------------------

TLameVersion::TLameVersion()
{
    beVersion(&m_version);
}

void TLameVersion::Assign(const TPersistent& source)
{
    const auto* other = dynamic_cast<const TLameVersion*>(&source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    m_version.dllMajorVersion = other->m_version.dllMajorVersion;
    m_version.dllMinorVersion = other->m_version.dllMinorVersion;
    m_version.majorVersion = other->m_version.majorVersion;
    m_version.minorVersion = other->m_version.minorVersion;
}

// ---- TLameCoder -----------------------------------------------------------------------------------

TLameCoder::TLameCoder() : DefaultExt(".mp3") {}

void TLameCoder::Assign(const TPersistent& source)
{
    const auto* other = dynamic_cast<const TLameCoder*>(&source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    m_sampleRate = other->m_sampleRate;
    m_mode = other->m_mode;
    m_bitrate = other->m_bitrate;
    m_maxBitrate = other->m_maxBitrate;
    m_quality = other->m_quality;
    m_private = other->m_private;
    m_crc = other->m_crc;
    m_copyright = other->m_copyright;
    m_original = other->m_original;
    m_writeVBRHeader = other->m_writeVBRHeader;
    m_enableVBR = other->m_enableVBR;
    m_vbrQuality = other->m_vbrQuality;
}

void TLameCoder::SetEnableVBR(bool value)
{
    m_enableVBR = value;
    m_writeVBRHeader = value;
}

void TLameCoder::SetInputFiles(const TFileList& names)
{
    m_inputFiles = names;
    m_outputFiles.clear();
    for (const std::string& name : m_inputFiles)
        m_outputFiles.push_back(ChangeFileExt(name, DefaultExt));
}

BE_CONFIG TLameCoder::Config() const
{
    BE_CONFIG config{};
    config.configKind = BE_CONFIG_LAME;
    config.structVersion = 1;
    config.structSize = sizeof(BE_CONFIG);
    config.sampleRate = m_sampleRate;
    config.resampleRate = 0;
    config.mode = static_cast<std::int32_t>(m_mode);
    config.bitrate = m_bitrate;
    config.maxBitrate = m_maxBitrate;
    config.quality = static_cast<std::int32_t>(m_quality);
    config.mpegVersion = BE_MPEG1;
    config.psyModel = 0;
    config.emphasis = 0;
    config.privateBit = longBool(m_private);
    config.crc = longBool(m_crc);
    config.copyright = longBool(m_copyright);
    config.original = longBool(m_original);
    config.writeVBRHeader = longBool(m_writeVBRHeader);
    config.enableVBR = longBool(m_enableVBR);
    config.vbrQuality = m_vbrQuality;
    return config;
}

void TLameCoder::Encode()
{
    if (OnBeginProcess)
        OnBeginProcess(this);
    for (std::size_t i = 0; i < m_inputFiles.size(); ++i) {
        encodeFile(static_cast<int>(i));
        if (OnEndFile)
            OnEndFile(this, static_cast<std::uint16_t>(i), m_outputFileName);
    }
    if (OnEndProcess)
        OnEndProcess(this);
}

void TLameCoder::encodeFile(int index)
{
    // Declared in the reverse order of their release, which the destructors follow on a failure: the
    // input buffer, the input file, the output file, the output buffer, the encoder stream.
    const BE_CONFIG config = Config();
    EncoderStream stream;
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t bufferSize = 0;
    const BE_ERR init = beInitStream(&config, &samplesPerChunk, &bufferSize, stream.Receive());
    if (init != BE_ERR_SUCCESSFUL)
        throw ELameError("beInitStream failed " + std::to_string(init));
    auto output = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);

    m_inputFileName = item(m_inputFiles, index);
    if (OnBeginFile)
        OnBeginFile(this, static_cast<std::uint16_t>(index), m_inputFileName);

    OutputFile outFile;
    InputFile inFile;
    inFile.Open(m_inputFileName);
    m_outputFileName = item(m_outputFiles, index);
    outFile.Create(m_outputFileName);

    std::array<std::uint8_t, HeaderSize> header{};
    const std::size_t headerBytes = inFile.Read(header.data(), header.size());
    std::uint32_t chunkSize = 0;
    std::uint64_t dataLength = 0;
    if (headerBytes >= 12 && std::memcmp(header.data() + 8, "WAVE", 4) == 0) {
        // Exactly the samples of the "data" chunk, wherever the header puts them.
        WaveFormatBlock format;
        std::uint32_t dataSize = 0;
        std::uint32_t dataOffset = 0;
        if (headerBytes < HeaderSize || !ReadStreamWaveHeader(inFile, format, dataSize, dataOffset))
            throw ELameError("En-tête WAVE illisible dans le fichier " + m_inputFileName);
        chunkSize = samplesPerChunk * AsWaveFormat(format)->nBlockAlign;
        dataLength = dataSize;
        inFile.Seek(dataOffset, SeekOrigin::Beginning);
    } else {
        chunkSize = m_mode == TLameMode::MONO ? samplesPerChunk : 2 * samplesPerChunk;
        dataLength = inFile.Size();
        inFile.Seek(0, SeekOrigin::Beginning);
    }
    const auto chunkLength = static_cast<std::uint16_t>(chunkSize);
    if (chunkLength == 0)
        throw ELameError("Alignement de bloc invalide dans le fichier " + m_inputFileName);
    // 16-bit storage, so that the samples are read in place; filled byte by byte.
    auto input = std::make_unique_for_overwrite<std::int16_t[]>((chunkLength + 1U) / 2U);

    std::uint64_t done = 0;
    while (done != dataLength) {
        const std::uint64_t n = done + chunkLength < dataLength ? chunkLength : dataLength - done;
        if (inFile.Read(input.get(), n) != n)
            throw ELameError("Read Error");
        std::uint32_t produced = 0;
        const BE_ERR result = beEncodeChunk(stream.Get(), static_cast<std::uint32_t>(n / 2), input.get(),
                                            output.get(), &produced);
        if (result != BE_ERR_SUCCESSFUL)
            throw ELameError("beEncodeChunk failed " + std::to_string(result));
        if (outFile.Write(output.get(), produced) != produced)
            throw ELameError("Write Error");
        done += n;
        const auto percent =
            static_cast<std::uint16_t>(static_cast<double>(done) / static_cast<double>(dataLength) * 100.0);
        if (OnProgress)
            OnProgress(this, percent);
        processMessages();
    }

    std::uint32_t produced = 0;
    beDeinitStream(stream.Get(), output.get(), &produced);
    if (outFile.Write(output.get(), produced) != produced)
        throw ELameError("Write error");

    input.reset();
    inFile.Close();
    if (!outFile.Close())
        throw ELameError("Write error");
    output.reset();
    stream.Close();
}
