#include "audio/WaveStorage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// A temporary image being written lost bytes: with memory streams the only cause is a failed allocation.
void checkWritten(std::int64_t written, std::uint64_t wanted)
{
    if (written < 0 || static_cast<std::uint64_t>(written) != wanted)
        throw std::bad_alloc();
}

void writeAll(RiffIO& handle, const std::uint8_t* bytes, std::uint64_t count)
{
    if (count > 0)
        checkWritten(handle.Write(bytes, static_cast<std::size_t>(count)), count);
}

// The holders' assignment: the owned wave object stays, only its bytes are replaced.
void copyWave(TWave& target, const TWave* source)
{
    if (source == &target)
        return;
    if (source)
        target.CopyContentFrom(*source);
    else
        target.Clear();
}

} // namespace

// ---- Links to a storage -------------------------------------------------------------------------

void TStorageLink::Set(TCustomWaveStorage* storage)
{
    if (storage == m_storage)
        return;
    if (m_storage)
        std::erase(m_storage->m_links, this);
    m_storage = storage;
    if (m_storage)
        m_storage->m_links.push_back(this);
}

TCustomWaveStorage::~TCustomWaveStorage()
{
    for (TStorageLink* link : m_links)
        link->m_storage = nullptr;
}

// ---- TWave: details -------------------------------------------------------------------------------

void TWave::ContentChanged()
{
    if (!m_outdated)
        Changed();
}

void TWave::Changed()
{
    m_outdated = true;
    if (OnChange)
        OnChange(this);
}

bool TWave::UpdateDetails() const
{
    if (!m_outdated)
        return m_valid;
    m_valid = false;
    m_outdated = false;
    m_format.clear();
    m_dataSize = 0;
    m_dataOffset = 0;
    TBytesView view(Memory(), static_cast<std::size_t>(Size()));
    WaveFormatBlock format;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    if (ReadStreamWaveHeader(view, format, size, offset)) {
        m_format = std::move(format);
        m_dataSize = size;
        m_dataOffset = offset;
        m_valid = true;
    }
    return m_valid;
}

bool TWave::Valid() const
{
    return UpdateDetails();
}

const TWaveFormatEx* TWave::WaveFormat() const
{
    return UpdateDetails() ? AsWaveFormat(m_format) : nullptr;
}

const std::uint8_t* TWave::Data() const
{
    return UpdateDetails() ? Memory() + m_dataOffset : nullptr;
}

std::uint8_t* TWave::Data()
{
    return UpdateDetails() ? Memory() + m_dataOffset : nullptr;
}

std::uint32_t TWave::DataSize() const
{
    return UpdateDetails() ? m_dataSize : 0;
}

std::uint32_t TWave::DataOffset() const
{
    return UpdateDetails() ? m_dataOffset : 0;
}

std::uint32_t TWave::Duration() const
{
    return UpdateDetails() ? WaveDuration(WaveFormat(), m_dataSize) : 0;
}

std::int32_t TWave::BitRate() const
{
    return UpdateDetails() ? WaveBitRate(WaveFormat()) : 0;
}

std::string TWave::FormatDescription() const
{
    return UpdateDetails() ? WaveFormatDescription(WaveFormat()) : std::string();
}

TPCMFormat TWave::PCMFormat() const
{
    return UpdateDetails() ? WaveFormatToPCMFormat(WaveFormat()) : nonePCM;
}

std::uint32_t TWave::MsToBytes(std::uint32_t ms) const
{
    const TWaveFormatEx* format = WaveFormat();
    return format ? WaveMsToBytes(*format, ms) : 0;
}

// ---- TWave: comparison ----------------------------------------------------------------------------

bool TWave::SameFormat(const TWave& other) const
{
    const TWaveFormatEx* mine = WaveFormat();
    const TWaveFormatEx* theirs = other.WaveFormat();
    return mine && theirs && SameWaveFormatRecord(*mine, *theirs);
}

bool TWave::IsEqual(const TWave& other) const
{
    const bool valid = Valid();
    if (valid != other.Valid())
        return false;
    if (!valid)
        return Size() == other.Size() && (Size() == 0 || std::memcmp(Memory(), other.Memory(), Size()) == 0);
    return DataSize() == other.DataSize() && SameFormat(other) &&
           (DataSize() == 0 || std::memcmp(Data(), other.Data(), DataSize()) == 0);
}

// ---- TWave: editing -------------------------------------------------------------------------------

void TWave::TrimToData()
{
    if (!Valid()) {
        SetSize(0);
        return;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(DataOffset()) + DataSize();
    SetSize(std::min<std::uint64_t>(end, Size()));
}

bool TWave::Delete(std::uint32_t startMs, std::uint32_t lengthMs)
{
    if (!Valid() || lengthMs == 0 || startMs >= Duration())
        return false;
    const WaveFormatBlock format = m_format;
    const std::uint64_t dataSize = DataSize();
    const std::uint64_t start = std::min<std::uint64_t>(MsToBytes(startMs), dataSize);
    const std::uint64_t end = start + MsToBytes(lengthMs);
    const std::uint64_t tail = end < dataSize ? dataSize - end : 0;

    TWave image;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(image, *AsWaveFormat(format), riff, data);
    if (!handle)
        throw std::bad_alloc();
    image.SetCapacity(static_cast<std::size_t>(handle->Offset() + start + tail + 1));
    writeAll(*handle, Data(), start);
    writeAll(*handle, Data() + end, tail);
    if (!EndWaveWriting(std::move(handle), riff, data))
        throw std::bad_alloc();
    SwapContent(image);
    SetPosition(0);
    return true;
}

bool TWave::CopyRange(const TWave& source, std::uint32_t startMs, std::uint32_t endMs)
{
    if (&source == this || !source.Valid()) {
        if (&source != this)
            Clear();
        return false;
    }
    const TWaveFormatEx& format = *source.WaveFormat();
    const std::uint64_t size = source.DataSize();
    // The end first, as Delete would cut it: only a stretch ending before the source's (rounded) length.
    std::uint64_t end = size;
    if (endMs < source.Duration())
        end = std::min<std::uint64_t>(source.MsToBytes(endMs), size);
    // Then the start: Delete(0, startMs) takes that much from the front of what the first cut left, unless
    // that holds less than half a millisecond.
    std::uint64_t start = 0;
    if (startMs > 0 && WaveDuration(&format, static_cast<std::uint32_t>(end)) > 0)
        start = std::min<std::uint64_t>(source.MsToBytes(startMs), end);
    if (start == 0 && end == size) {
        CopyContentFrom(source); // nothing cut: the image as it is
        return true;
    }
    const WaveFormatBlock record(reinterpret_cast<const std::uint8_t*>(&format),
                                 reinterpret_cast<const std::uint8_t*>(&format) +
                                     WaveFormatRecordSize(format));
    TWave image;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(image, *AsWaveFormat(record), riff, data);
    if (!handle)
        throw std::bad_alloc();
    image.SetCapacity(static_cast<std::size_t>(handle->Offset() + (end - start) + 1));
    writeAll(*handle, source.Data() + start, end - start);
    if (!EndWaveWriting(std::move(handle), riff, data))
        throw std::bad_alloc();
    SwapContent(image);
    SetPosition(0);
    return true;
}

bool TWave::Insert(std::uint32_t posMs, const TWave& wave)
{
    if (!SameFormat(wave))
        return false;
    const WaveFormatBlock format = m_format;
    const std::uint64_t dataSize = DataSize();
    const std::uint64_t pos = std::min<std::uint64_t>(MsToBytes(posMs), dataSize);
    const std::uint64_t inserted = wave.DataSize();
    if (dataSize + inserted > UINT32_MAX - WaveHeaderSize(*AsWaveFormat(format)))
        return false; // the result could not be described by 32-bit chunk sizes

    TWave image;
    RiffChunkInfo riff;
    RiffChunkInfo data;
    auto handle = BeginStreamWave(image, *AsWaveFormat(format), riff, data);
    if (!handle)
        throw std::bad_alloc();
    image.SetCapacity(static_cast<std::size_t>(handle->Offset() + dataSize + inserted + 1));
    writeAll(*handle, Data(), pos);
    writeAll(*handle, wave.Data(), inserted);
    writeAll(*handle, Data() + pos, dataSize - pos);
    if (!EndWaveWriting(std::move(handle), riff, data))
        throw std::bad_alloc();
    SwapContent(image);
    SetPosition(0);
    return true;
}

bool TWave::Append(const TWave& wave)
{
    if (!SameFormat(wave))
        return false;
    const std::uint64_t end = static_cast<std::uint64_t>(DataOffset()) + DataSize();
    const std::uint64_t added = wave.DataSize();
    const bool riffAtStart = Size() >= 12 && std::memcmp(Memory(), "RIFF", 4) == 0;
    if (!riffAtStart || end > Size() || Size() > end + 1 || end + added + 1 > UINT32_MAX)
        return Insert(UINT32_MAX, wave); // other chunks after the data: rebuild the image
    if (added == 0)
        return true;
    const std::uint32_t dataSize = DataSize() + static_cast<std::uint32_t>(added);
    const std::uint32_t dataOffset = DataOffset();
    if (&wave == this) {
        TWave copy;
        copy.CopyContentFrom(wave);
        return Append(copy);
    }
    Seek(static_cast<std::int64_t>(end), SeekOrigin::Beginning);
    if (Write(wave.Data(), static_cast<std::size_t>(added)) != added)
        throw std::bad_alloc();
    const std::uint8_t pad = 0;
    if (dataSize & 1U)
        Write(&pad, 1);
    const std::uint64_t imageEnd = static_cast<std::uint64_t>(dataOffset) + dataSize + (dataSize & 1U);
    if (Size() > imageEnd)
        SetSize(imageEnd); // an old pad byte beyond the new end
    const auto putLE32 = [this](std::int64_t at, std::uint32_t value) {
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        Seek(at, SeekOrigin::Beginning);
        Write(bytes, 4);
    };
    putLE32(4, static_cast<std::uint32_t>(imageEnd - 8));
    putLE32(static_cast<std::int64_t>(dataOffset) - 4, dataSize);
    SetPosition(0);
    return true;
}

bool TWave::RepairPCMFormat()
{
    const TPCMFormat pcm = PCMFormat();
    if (pcm == nonePCM)
        return false;
    TWaveFormatEx expected{};
    PCMFormatToWaveFormat(expected, pcm);
    const TWaveFormatEx& own = *WaveFormat();
    if (own.nAvgBytesPerSec == expected.nAvgBytesPerSec && own.nBlockAlign == expected.nBlockAlign)
        return false;
    TBytesView view(Memory(), static_cast<std::size_t>(Size()));
    const std::int64_t record = WaveFormatRecordOffset(view);
    if (record < 0)
        return false;
    std::uint8_t* fields = Memory() + record;
    std::memcpy(fields + offsetof(TWaveFormatEx, nAvgBytesPerSec), &expected.nAvgBytesPerSec,
                sizeof expected.nAvgBytesPerSec);
    std::memcpy(fields + offsetof(TWaveFormatEx, nBlockAlign), &expected.nBlockAlign,
                sizeof expected.nBlockAlign);
    Changed();
    return true;
}

bool TWave::ConvertTo(const TWaveFormatEx& format)
{
    const TWaveFormatEx* own = WaveFormat();
    if (!own)
        return false;
    if (SameWaveFormatRecord(*own, format))
        return true;
    // The samples are converted into a block that leaves room for the header in front: the wave keeps its
    // old content until the new image is complete, and the samples are never held twice.
    HeapBlock block;
    if (!ConvertWaveFormat(*own, Data(), DataSize(), block, format, WaveHeaderSize(format)))
        return false;
    AdoptConverted(std::move(block), format);
    return true;
}

void TWave::AdoptConverted(HeapBlock&& block, const TWaveFormatEx& format)
{
    const std::size_t header = WaveHeaderSize(format);
    if (block.size() < header)
        throw std::invalid_argument("TWave::AdoptConverted: block without room for the header");
    const std::size_t samples = block.size() - header;
    if (samples & 1U)
        block.resize(block.size() + 1);
    AdoptSamples(std::move(block), format, samples);
}

void TWave::AdoptSamples(HeapBlock&& block, const TWaveFormatEx& format, std::size_t samples)
{
    const std::size_t header = WaveHeaderSize(format);
    if (block.size() != header + samples + (samples & 1U))
        throw std::invalid_argument("TWave::AdoptSamples: block of the wrong size");
    if (samples & 1U)
        block.data()[header + samples] = 0;
    TMemoryStream image;
    image.AdoptBlock(std::move(block));
    auto handle = OpenStreamIO(image);
    RiffChunkInfo riff;
    RiffChunkInfo data;
    if (!handle || !WriteWaveHeader(*handle, format, riff, data) || handle->Offset() != header)
        throw std::bad_alloc();
    if (handle->Seek(static_cast<std::int64_t>(header + samples), SeekOrigin::Beginning) < 0 ||
        !EndWaveWriting(std::move(handle), riff, data))
        throw std::bad_alloc();
    SwapContent(image);
    SetPosition(0);
}

bool TWave::ConvertToPCM(TPCMFormat format)
{
    if (format == nonePCM)
        return false;
    TWaveFormatEx record{};
    PCMFormatToWaveFormat(record, format);
    return ConvertTo(record);
}

// ---- Storages -------------------------------------------------------------------------------------

void TWaveStorage::SetWave(const TWave* wave)
{
    copyWave(m_wave, wave);
}

TStream* TWaveStorage::GetWaveStream(int /*index*/)
{
    return &m_wave;
}

bool TWaveStorage::SameContent(const TCustomWaveStorage& storage) const
{
    const auto* other = dynamic_cast<const TWaveStorage*>(&storage);
    return other && m_wave.IsEqual(other->m_wave);
}

void TWaveStorage::Assign(const TPersistent& source)
{
    if (const auto* storage = dynamic_cast<const TWaveStorage*>(&source))
        SetWave(&storage->Wave());
    else if (const auto* item = dynamic_cast<const TWaveItem*>(&source))
        SetWave(&item->Wave());
    else
        AssignError(source);
}

void TWaveStorage::WriteData(TStream& stream) const
{
    m_wave.SaveToStream(stream);
}

void TWaveStorage::ReadData(TStream& stream)
{
    m_wave.LoadFromStream(stream);
}

void TWaveItem::SetWave(const TWave* wave)
{
    copyWave(m_wave, wave);
}

void TWaveItem::Assign(const TPersistent& source)
{
    if (const auto* item = dynamic_cast<const TWaveItem*>(&source)) {
        SetWave(&item->Wave());
        Name = item->Name;
        Tag = item->Tag;
    } else if (const auto* storage = dynamic_cast<const TWaveStorage*>(&source)) {
        SetWave(&storage->Wave());
    } else {
        AssignError(source);
    }
}

std::string TWaveItem::GetDisplayName() const
{
    std::string details;
    if (m_wave.Size() == 0)
        details = "Empty";
    else if (!m_wave.Valid())
        details = "Invalid Content";
    else
        details = m_wave.FormatDescription() + ", " + std::to_string(m_wave.BitRate()) + " kbps, " +
                  MsToTimeString(m_wave.Duration(), 6) + " sec.";
    return Name + " (" + details + ")";
}

void TWaveItem::WriteData(TStream& stream) const
{
    m_wave.SaveToStream(stream);
}

void TWaveItem::ReadData(TStream& stream)
{
    m_wave.LoadFromStream(stream);
}
