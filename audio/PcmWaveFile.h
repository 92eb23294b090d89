// A RIFF WAVE file of 8- or 16-bit PCM read in parts: its header once, then only the samples asked for, or
// all of them folded to mono 16-bit block by block as they are read. What a project's clips and the editor
// take from hour-long recordings without holding the whole file in memory.
// Threads: once open, a file is only read (at given offsets, into buffers of each call's own), so several
// threads may read ranges of it at once; ReadMono16 folds the second half on a thread of its own.
#pragma once

#include "audio/WaveStorage.h"

#include <cstdint>
#include <string>

class TPcmWaveFile
{
public:
    TPcmWaveFile() = default;
    ~TPcmWaveFile();
    TPcmWaveFile(const TPcmWaveFile&) = delete;
    TPcmWaveFile& operator=(const TPcmWaveFile&) = delete;

    // Reads the header. False, and nothing more read, when the file is not a regular file holding a RIFF
    // WAVE of 8- or 16-bit PCM: such a file is one for LoadSoundFile. Raises EFOpenError when the file
    // cannot be opened, EStreamError when it is too large for a wave.
    bool Open(const std::string& fileName);

    // The "fmt " record (18 bytes and its extra bytes), and the sample bytes the file really holds.
    const TWaveFormatEx& Format() const;
    std::uint32_t DataSize() const { return m_dataSize; }
    // Where the samples start in the file.
    std::uint32_t DataOffset() const { return m_dataOffset; }
    // Takes the byte rate and block alignment that channels, bits and rate give, as TWave::RepairPCMFormat
    // does for a wave in memory; the images read afterwards carry them.
    void RepairPCMFormat();

    // The whole file as TMemoryStream::LoadFromFile reads it, with a repaired record when it was repaired.
    void ReadWhole(TWave& wave) const;
    // Sample bytes [first, last) (limited to the data) as a wave of their own in Format(): the same image
    // that TWave::Delete leaves of the whole file when it cuts everything else away. With as, converted
    // to that format while it is read, as ConvertTo converts the whole: false, and the wave unchanged, when
    // ConvertTo would refuse.
    bool ReadRange(std::uint64_t first, std::uint64_t last, TWave& wave,
                   const TWaveFormatEx* as = nullptr) const;
    // Every whole frame folded to mono (the two channels averaged, as ConvertToPCM folds them) and then
    // widened to 16 bits, as the file is read: the result is the mono image alone. False, and the wave
    // unchanged, for a record whose block alignment disagrees with its channels and bits.
    bool ReadMono16(TWave& wave) const;

private:
    void readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count) const;

    std::string m_fileName;
    int m_fd = -1;
    WaveFormatBlock m_format;
    std::uint32_t m_dataSize = 0;
    std::uint32_t m_dataOffset = 0;
    bool m_repaired = false;
};
