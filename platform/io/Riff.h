// Chunk-oriented I/O of RIFF images over a byte stream: find, enter and leave chunks, create chunks
// whose sizes are written when they are left. The handle keeps its own offset in the stream, so
// several handles (or the stream's owner) may move the stream's position between calls.
#pragma once

#include "platform/io/Stream.h"

#include <cstddef>
#include <cstdint>

using FourCC = std::uint32_t;

constexpr FourCC MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<FourCC>(static_cast<std::uint8_t>(a)) |
           (static_cast<FourCC>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<FourCC>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<FourCC>(static_cast<std::uint8_t>(d)) << 24);
}

// Up to four characters, padded with spaces ("fmt" and "fmt " are the same code).
FourCC StringToFourCC(const char* text);

constexpr FourCC FourCC_RIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr FourCC FourCC_LIST = MakeFourCC('L', 'I', 'S', 'T');

struct RiffChunkInfo
{
    FourCC ckid = 0;
    std::uint32_t cksize = 0;
    FourCC fccType = 0;           // form or list type of a RIFF or LIST chunk
    std::uint64_t dataOffset = 0; // first byte after the size field
    bool dirty = false;           // created here: its size is written when it is left
};

enum RiffFlags : unsigned
{
    RiffFindChunk = 0x10, // search ckid
    RiffFindRiff = 0x20,  // search a RIFF chunk of form type fccType; with CreateChunk: create one
    RiffFindList = 0x40,  // search a LIST chunk of list type fccType; with CreateChunk: create one
    RiffCreateRiff = 0x20,
    RiffCreateList = 0x40,
};

enum class RiffResult
{
    Ok = 0,
    ChunkNotFound,
    CannotRead,
    CannotWrite,
    CannotSeek
};

class RiffIO
{
public:
    explicit RiffIO(TStream& stream);

    // Each answers -1 when the stream fails or raises.
    std::int64_t Read(void* buffer, std::size_t count);
    std::int64_t Write(const void* buffer, std::size_t count);
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin);
    std::uint64_t Offset() const { return m_offset; }

    // Enters the chunk at the current offset, or searches forward for the one that flags name, never
    // past the end of parent (when given) nor past the end of the stream. On success the offset is at the
    // chunk's data (past the form type for RIFF and LIST chunks).
    RiffResult Descend(RiffChunkInfo& chunk, const RiffChunkInfo* parent, unsigned flags);
    // Leaves a chunk: a created one gets its final size and a pad byte when odd; the offset goes past it.
    RiffResult Ascend(RiffChunkInfo& chunk);
    // Writes a chunk header (with the form or list type for RIFF/LIST) at the current offset.
    RiffResult CreateChunk(RiffChunkInfo& chunk, unsigned flags);

    TStream& stream() { return m_stream; }

private:
    bool readExact(void* buffer, std::size_t count);
    bool writeExact(const void* buffer, std::size_t count);

    TStream& m_stream;
    std::uint64_t m_offset = 0;
};
