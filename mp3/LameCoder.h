// The MP3 encoder component: encodes a list of 16-bit PCM files, RIFF WAVE or raw, into MP3 files, one
// output file per input file, through the encoder's stream interface (Lame_dll). It configures the
// encoder from its own properties only: the caller hands it input in the rate and channel layout it is
// set to. Progress goes out through its events; failures raise ELameError.
#pragma once

#include "mp3/Lame_dll.h"
#include "platform/io/ListError.h"
#include "platform/io/Persistent.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class ELameError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Stored as one byte, passed to the encoder as its BE_QUALITY_... value.
enum class MPEG_QUALITY : std::uint8_t
{
    NORMAL_QUALITY = 0,
    LOW_QUALITY = 1,
    HIGH_QUALITY = 2,
    VOICE_QUALITY = 3
};

// The encoder's channel modes, by their numbers.
enum class TLameMode : std::int32_t
{
    STEREO = 0,
    JSTEREO = 1,
    DUALCHANNEL = 2,
    MONO = 3
};

// The encoder library's version, read once at construction.
class TLameVersion : public TPersistent
{
public:
    TLameVersion();
    std::string ClassName() const override { return "TLameVersion"; }
    // From another TLameVersion, its four version numbers only.
    void Assign(const TPersistent& source) override;

    std::uint8_t DLLMajorVersion() const { return m_version.dllMajorVersion; }
    std::uint8_t DLLMinorVersion() const { return m_version.dllMinorVersion; }
    std::uint8_t MajorVersion() const { return m_version.majorVersion; }
    std::uint8_t MinorVersion() const { return m_version.minorVersion; }

private:
    BE_VERSION m_version{};
};

class TLameCoder : public TPersistent
{
public:
    using TNotifyEvent = std::function<void(TLameCoder* sender)>;
    using TProcessFileEvent =
        std::function<void(TLameCoder* sender, std::uint16_t num, const std::string& fileName)>;
    using TProgressEvent = std::function<void(TLameCoder* sender, std::uint16_t percentComplete)>;
    using TFileList = std::vector<std::string>;

    TLameCoder();
    std::string ClassName() const override { return "TLameCoder"; }
    // From another TLameCoder, the encoder settings only: neither the lists, nor DefaultExt, Mp3FileName
    // or the events.
    void Assign(const TPersistent& source) override;

    std::uint32_t SampleRate() const { return m_sampleRate; }
    void SetSampleRate(std::uint32_t value) { m_sampleRate = value; }
    std::uint32_t Bitrate() const { return m_bitrate; }
    void SetBitrate(std::uint32_t value) { m_bitrate = value; }
    std::uint32_t MaxBitrate() const { return m_maxBitrate; }
    void SetMaxBitrate(std::uint32_t value) { m_maxBitrate = value; }
    MPEG_QUALITY Quality() const { return m_quality; }
    void SetQuality(MPEG_QUALITY value) { m_quality = value; }
    TLameMode Mode() const { return m_mode; }
    void SetMode(TLameMode value) { m_mode = value; }
    bool Private() const { return m_private; }
    void SetPrivate(bool value) { m_private = value; }
    bool CRC() const { return m_crc; }
    void SetCRC(bool value) { m_crc = value; }
    bool Copyright() const { return m_copyright; }
    void SetCopyright(bool value) { m_copyright = value; }
    bool Original() const { return m_original; }
    void SetOriginal(bool value) { m_original = value; }
    bool WriteVBRHeader() const { return m_writeVBRHeader; }
    void SetWriteVBRHeader(bool value) { m_writeVBRHeader = value; }
    bool EnableVBR() const { return m_enableVBR; }
    // Sets WriteVBRHeader to the same value.
    void SetEnableVBR(bool value);
    std::int32_t VBRQuality() const { return m_vbrQuality; }
    void SetVBRQuality(std::int32_t value) { m_vbrQuality = value; }

    // The lists, to edit in place (no output name is derived then).
    TFileList& InputFiles() { return m_inputFiles; }
    const TFileList& InputFiles() const { return m_inputFiles; }
    TFileList& OutputFiles() { return m_outputFiles; }
    const TFileList& OutputFiles() const { return m_outputFiles; }
    // Copies the names and gives OutputFiles each of them with its extension changed to DefaultExt.
    void SetInputFiles(const TFileList& names);
    void SetOutputFiles(const TFileList& names) { m_outputFiles = names; }

    const TLameVersion& LameVersion() const { return m_version; }
    std::string DefaultExt;
    std::string Mp3FileName; // kept for the component's user; encoding does not read it

    TNotifyEvent OnBeginProcess;
    TProcessFileEvent OnBeginFile;
    TProcessFileEvent OnEndFile;
    TNotifyEvent OnEndProcess;
    TProgressEvent OnProgress;

    // Encodes input file i into output file i for every i, in order. Raises ELameError when the encoder or
    // a read or write fails, the file layer's errors when a file cannot be opened or created, EListError
    // when OutputFiles has no entry for an input. The files of a failed run stay as far as they were
    // written; the remaining files are not encoded.
    void Encode();

    // The configuration record of one file, as the settings stand.
    BE_CONFIG Config() const;

private:
    void encodeFile(int index);

    std::uint32_t m_sampleRate = 44100;
    std::uint32_t m_bitrate = 128;
    std::uint32_t m_maxBitrate = 320;
    MPEG_QUALITY m_quality = MPEG_QUALITY::NORMAL_QUALITY;
    TLameMode m_mode = TLameMode::STEREO;
    bool m_private = false;
    bool m_crc = true;
    bool m_copyright = false;
    bool m_original = false;
    bool m_writeVBRHeader = false;
    bool m_enableVBR = false;
    std::int32_t m_vbrQuality = 4;
    TFileList m_inputFiles;
    TFileList m_outputFiles;
    TLameVersion m_version;

    // The files of the run in progress.
    std::string m_inputFileName;
    std::string m_outputFileName;
};

// A file name with the part from the last dot of its last component on replaced by ext (ext appended
// when there is no dot).
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
