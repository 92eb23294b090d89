#include "platform/io/Riff.h"

#include <cstring>

namespace {

std::uint32_t readLE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeLE32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

} // namespace

FourCC StringToFourCC(const char* text)
{
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && text && text[i]; ++i)
        c[i] = text[i];
    return MakeFourCC(c[0], c[1], c[2], c[3]);
}

RiffIO::RiffIO(TStream& stream) : m_stream(stream)
{
    m_stream.Seek(0, SeekOrigin::Beginning);
}

std::int64_t RiffIO::Read(void* buffer, std::size_t count)
{
    try {
        if (m_stream.Seek(static_cast<std::int64_t>(m_offset), SeekOrigin::Beginning) < 0)
            return -1;
        const std::size_t n = m_stream.Read(buffer, count);
        m_offset = m_stream.Position();
        return static_cast<std::int64_t>(n);
    } catch (...) {
        return -1;
    }
}

std::int64_t RiffIO::Write(const void* buffer, std::size_t count)
{
    try {
        if (m_stream.Seek(static_cast<std::int64_t>(m_offset), SeekOrigin::Beginning) < 0)
            return -1;
        const std::size_t n = m_stream.Write(buffer, count);
        m_offset = m_stream.Position();
        return static_cast<std::int64_t>(n);
    } catch (...) {
        return -1;
    }
}

std::int64_t RiffIO::Seek(std::int64_t offset, SeekOrigin origin)
{
    try {
        if (origin == SeekOrigin::Current &&
            m_stream.Seek(static_cast<std::int64_t>(m_offset), SeekOrigin::Beginning) < 0)
            return -1;
        const std::int64_t result = m_stream.Seek(offset, origin);
        if (result >= 0)
            m_offset = static_cast<std::uint64_t>(result);
        return result;
    } catch (...) {
        return -1;
    }
}

bool RiffIO::readExact(void* buffer, std::size_t count)
{
    return Read(buffer, count) == static_cast<std::int64_t>(count);
}

bool RiffIO::writeExact(const void* buffer, std::size_t count)
{
    return Write(buffer, count) == static_cast<std::int64_t>(count);
}

RiffResult RiffIO::Descend(RiffChunkInfo& chunk, const RiffChunkInfo* parent, unsigned flags)
{
    // End of the parent's data; sizes are 32-bit, offsets 64-bit, so this cannot overflow.
    const std::uint64_t parentEnd = parent ? parent->dataOffset + parent->cksize : UINT64_MAX;
    FourCC wantedId = 0;
    bool wantType = false;
    if (flags & RiffFindRiff) {
        wantedId = FourCC_RIFF;
        wantType = true;
    } else if (flags & RiffFindList) {
        wantedId = FourCC_LIST;
        wantType = true;
    } else if (flags & RiffFindChunk) {
        wantedId = chunk.ckid;
    }
    const bool searching = (flags & (RiffFindChunk | RiffFindRiff | RiffFindList)) != 0;

    std::uint64_t pos = m_offset;
    std::uint64_t streamSize = 0;
    try {
        streamSize = m_stream.Size();
    } catch (...) {
        return RiffResult::CannotRead;
    }
    for (;;) {
        if (pos + 8 > parentEnd || pos + 8 > streamSize)
            return RiffResult::ChunkNotFound;
        if (Seek(static_cast<std::int64_t>(pos), SeekOrigin::Beginning) < 0)
            return RiffResult::CannotSeek;
        std::uint8_t header[12];
        if (!readExact(header, 8))
            return RiffResult::ChunkNotFound;
        const FourCC id = readLE32(header);
        const std::uint32_t size = readLE32(header + 4);
        FourCC type = 0;
        const bool hasType = id == FourCC_RIFF || id == FourCC_LIST;
        if (hasType) {
            if (pos + 12 > streamSize || !readExact(header + 8, 4))
                return RiffResult::ChunkNotFound;
            type = readLE32(header + 8);
        }
        const bool match = !searching || (id == wantedId && (!wantType || type == chunk.fccType));
        if (match) {
            chunk.ckid = id;
            chunk.cksize = size;
            chunk.fccType = hasType ? type : 0;
            chunk.dataOffset = pos + 8;
            chunk.dirty = false;
            return RiffResult::Ok;
        }
        pos += 8 + static_cast<std::uint64_t>(size) + (size & 1U);
    }
}

RiffResult RiffIO::Ascend(RiffChunkInfo& chunk)
{
    if (chunk.dirty) {
        const std::uint64_t end = m_offset;
        if (end < chunk.dataOffset || end - chunk.dataOffset > UINT32_MAX)
            return RiffResult::CannotWrite;
        const auto size = static_cast<std::uint32_t>(end - chunk.dataOffset);
        if (size != chunk.cksize) {
            std::uint8_t field[4];
            writeLE32(field, size);
            if (Seek(static_cast<std::int64_t>(chunk.dataOffset - 4), SeekOrigin::Beginning) < 0)
                return RiffResult::CannotSeek;
            if (!writeExact(field, 4))
                return RiffResult::CannotWrite;
            chunk.cksize = size;
        }
        if (size & 1U) {
            const std::uint8_t pad = 0;
            if (Seek(static_cast<std::int64_t>(end), SeekOrigin::Beginning) < 0)
                return RiffResult::CannotSeek;
            if (!writeExact(&pad, 1))
                return RiffResult::CannotWrite;
        }
        chunk.dirty = false;
    }
    const std::uint64_t next = chunk.dataOffset + chunk.cksize + (chunk.cksize & 1U);
    if (Seek(static_cast<std::int64_t>(next), SeekOrigin::Beginning) < 0)
        return RiffResult::CannotSeek;
    return RiffResult::Ok;
}

RiffResult RiffIO::CreateChunk(RiffChunkInfo& chunk, unsigned flags)
{
    if (flags & RiffCreateRiff)
        chunk.ckid = FourCC_RIFF;
    else if (flags & RiffCreateList)
        chunk.ckid = FourCC_LIST;
    const bool hasType = chunk.ckid == FourCC_RIFF || chunk.ckid == FourCC_LIST;
    std::uint8_t header[12];
    writeLE32(header, chunk.ckid);
    writeLE32(header + 4, chunk.cksize);
    writeLE32(header + 8, chunk.fccType);
    const std::uint64_t pos = m_offset;
    if (!writeExact(header, hasType ? 12 : 8))
        return RiffResult::CannotWrite;
    chunk.dataOffset = pos + 8;
    chunk.dirty = true;
    return RiffResult::Ok;
}
