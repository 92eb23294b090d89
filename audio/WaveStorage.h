// The in-memory wave (a whole RIFF WAVE image in a growable block, parsed lazily) and the holders that
// own one: the storage placed on windows and clips, and the named item of a collection.
#pragma once

#include "audio/WaveUtils.h"
#include "platform/io/Persistent.h"
#include "platform/io/Stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TWave : public TMemoryStream
{
public:
    using TNotifyEvent = std::function<void(TWave* sender)>;

    TWave() = default;
    ~TWave() override = default;

    // Details of the image, reparsed first when the content changed. An invalid image answers
    // false, null, 0, an empty text or nonePCM.
    bool Valid() const;
    const TWaveFormatEx* WaveFormat() const;
    const std::uint8_t* Data() const;
    std::uint8_t* Data();
    std::uint32_t DataSize() const;
    std::uint32_t DataOffset() const;
    std::uint32_t Duration() const;
    std::int32_t BitRate() const;
    std::string FormatDescription() const;
    TPCMFormat PCMFormat() const;

    // Bytes of a duration, rounded to whole frames (at least to an even count). Expects a valid wave.
    std::uint32_t MsToBytes(std::uint32_t ms) const;

    bool IsEqual(const TWave& other) const;
    bool SameFormat(const TWave& other) const;

    // A PCM image whose byte rate or block alignment disagrees with its channels, bits and rate gets the
    // values computed from those three, written into its own "fmt " record. True when it changed anything.
    bool RepairPCMFormat();

    // Drops everything after the sample data; an invalid wave becomes empty. Never grows the block.
    void TrimToData();

    // Editing: false, and the wave unchanged, when the operation does not apply. The result is always
    // a canonical image ("RIFF"/"WAVE", "fmt " of 18 + extra bytes, "data").
    bool ConvertTo(const TWaveFormatEx& format);
    bool ConvertToPCM(TPCMFormat format);
    bool Delete(std::uint32_t startMs, std::uint32_t lengthMs);
    // This wave becomes the stretch [startMs, endMs) of source, exactly what a copy of the whole source
    // followed by Delete(endMs, everything after) and Delete(0, startMs) leaves, without copying the rest:
    // an extract of an hour-long recording costs the extract. False, and this wave empty, when the source
    // is not valid.
    bool CopyRange(const TWave& source, std::uint32_t startMs, std::uint32_t endMs);
    bool Insert(std::uint32_t posMs, const TWave& wave);
    // Inserts all of wave's samples after this wave's last one, growing the image in place when its
    // data chunk is the last chunk (as it is in every image this program builds): appending clip after
    // clip costs each clip once, not the whole wave each time.
    bool Append(const TWave& wave);

    // Makes this wave the image of format whose samples already stand in block, after WaveHeaderSize(format)
    // bytes left free for the header and followed by one byte more when their count is odd: a wave built
    // straight into its final block, never held twice.
    void AdoptSamples(HeapBlock&& block, const TWaveFormatEx& format, std::size_t samples);
    // The same for a block whose size ends with the samples, as ConvertWaveFrames gives them with
    // WaveHeaderSize(format) bytes of headroom.
    void AdoptConverted(HeapBlock&& block, const TWaveFormatEx& format);

    // Marks the details stale and tells OnChange.
    void Changed();
    // Reparses when stale; returns Valid.
    virtual bool UpdateDetails() const;

    TNotifyEvent OnChange;

protected:
    void ContentChanged() override;

private:
    mutable bool m_outdated = false;
    mutable bool m_valid = false;
    mutable std::uint32_t m_dataSize = 0;
    mutable std::uint32_t m_dataOffset = 0;
    mutable WaveFormatBlock m_format;
};

class TCustomWaveStorage;

// A component's reference to a storage it names but does not own: it turns null when the storage is
// destroyed. GUI thread only, like the storages themselves.
class TStorageLink
{
public:
    TStorageLink() = default;
    ~TStorageLink() { Set(nullptr); }
    TStorageLink(const TStorageLink&) = delete;
    TStorageLink& operator=(const TStorageLink&) = delete;

    TCustomWaveStorage* Get() const { return m_storage; }
    void Set(TCustomWaveStorage* storage);

private:
    friend class TCustomWaveStorage;
    TCustomWaveStorage* m_storage = nullptr;
};

// Holders of a wave that players and windows can name without knowing which kind they hold.
class TCustomWaveStorage : public TPersistent
{
public:
    TCustomWaveStorage() = default;
    ~TCustomWaveStorage() override;
    // A copy is named by nobody yet.
    TCustomWaveStorage(const TCustomWaveStorage&) : TPersistent() {}
    TCustomWaveStorage& operator=(const TCustomWaveStorage&) { return *this; }

    // The wave to play for an index, as a stream.
    virtual TStream* GetWaveStream(int index) = 0;
    virtual bool SameContent(const TCustomWaveStorage& storage) const = 0;

private:
    friend class TStorageLink;
    std::vector<TStorageLink*> m_links;
};

class TWaveStorage : public TCustomWaveStorage
{
public:
    std::string ClassName() const override { return "TWaveStorage"; }

    TWave& Wave() { return m_wave; }
    const TWave& Wave() const { return m_wave; }
    // Copies the bytes of wave (empties when null); the owned wave object itself is never replaced.
    void SetWave(const TWave* wave);

    TStream* GetWaveStream(int index) override;
    bool SameContent(const TCustomWaveStorage& storage) const override;
    void Assign(const TPersistent& source) override;

    // The "Data" property: the whole image, stored only when not empty.
    bool HasData() const { return m_wave.Size() > 0; }
    void WriteData(TStream& stream) const;
    void ReadData(TStream& stream);

private:
    TWave m_wave;
};

class TWaveItem : public TPersistent
{
public:
    std::string ClassName() const override { return "TWaveItem"; }

    TWave& Wave() { return m_wave; }
    const TWave& Wave() const { return m_wave; }
    void SetWave(const TWave* wave);

    std::string Name;
    int Tag = 0;

    void Assign(const TPersistent& source) override;
    // Name + " (" + details + ")", details telling the format and length, "Empty" or "Invalid Content".
    std::string GetDisplayName() const;

    bool HasData() const { return m_wave.Size() > 0; }
    void WriteData(TStream& stream) const;
    void ReadData(TStream& stream);

private:
    TWave m_wave;
};
