// Byte streams: the abstract stream, the growable memory stream that waves are built on, a read-only view
// over bytes, and the file helpers with the French error texts the user sees.
#pragma once

#include "platform/io/HeapBlock.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class EStreamError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "Impossible d'ouvrir le fichier %s"
class EFOpenError : public EStreamError
{
public:
    explicit EFOpenError(const std::string& fileName);
};

// "Impossible de créer le fichier %s"
class EFCreateError : public EStreamError
{
public:
    explicit EFCreateError(const std::string& fileName);
};

// "Erreur de lecture du fichier %s"
class EReadError : public EStreamError
{
public:
    explicit EReadError(const std::string& fileName);
};

// "Erreur d'écriture du fichier %s" (a full disk, typically)
class EWriteError : public EStreamError
{
public:
    explicit EWriteError(const std::string& fileName);
};

enum class SeekOrigin
{
    Beginning = 0,
    Current = 1,
    End = 2
};

class TStream
{
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to count bytes at the position; returns the number read.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes count bytes at the position; returns the number written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Returns the new position; a position before the start gives -1 and leaves it unchanged.
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::uint64_t Size() const = 0;
    virtual void SetSize(std::uint64_t size) = 0;

    std::uint64_t Position() const { return m_position; }
    void SetPosition(std::uint64_t position)
    {
        Seek(static_cast<std::int64_t>(position), SeekOrigin::Beginning);
    }

    // Copies count bytes from source (all of it, from its start, when count is 0); returns the bytes copied.
    std::uint64_t CopyFrom(TStream& source, std::uint64_t count);

protected:
    std::uint64_t m_position = 0;
};

// A growable block of memory. Every change of its content goes through Write or SetBlockSize, and ends
// with a call to ContentChanged, which subclasses use to track modifications.
class TMemoryStream : public TStream
{
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::uint64_t Size() const override { return m_size; }
    void SetSize(std::uint64_t size) override;

    void Clear();
    // Replaces the content by all bytes of source (from its start); the position goes to 0.
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& dest) const;
    // The file is read whole into a block sized once; on failure the content is unchanged.
    void LoadFromFile(const std::string& fileName);
    // Creates or truncates the file and writes the whole content.
    void SaveToFile(const std::string& fileName) const;

    // Reserves room for a content of that size without changing it.
    void SetCapacity(std::size_t capacity);
    std::size_t Capacity() const { return m_capacity; }

    std::uint8_t* Memory() { return m_memory; }
    const std::uint8_t* Memory() const { return m_memory; }

    // Replaces the content by a copy of other's bytes; the position goes to 0.
    void CopyContentFrom(const TMemoryStream& other);
    // Takes the block as the new content, without copying; the position goes to 0.
    void AdoptBlock(HeapBlock&& block);

    // Swaps the two blocks (content, size and position) without copying; both streams see a change.
    void SwapContent(TMemoryStream& other);

protected:
    virtual void ContentChanged() {}

private:
    void setBlockSize(std::size_t size, bool exact);
    void adoptBlock(std::uint8_t* memory, std::size_t size);

    std::uint8_t* m_memory = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// A file opened for reading and writing (created or truncated first when asked), read and written at
// the stream's position. A failing write answers fewer bytes than given.
class TFileStream : public TStream
{
public:
    enum Mode
    {
        Create,
        OpenReadWrite
    };
    // Raises EFCreateError or EFOpenError with the file's name.
    TFileStream(const std::string& fileName, Mode mode);
    ~TFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::uint64_t Size() const override;
    void SetSize(std::uint64_t size) override;
    const std::string& FileName() const { return m_fileName; }

private:
    std::string m_fileName;
    int m_fd = -1;
};

// Reads a block of bytes it does not own; writing and resizing are refused.
class TBytesView : public TStream
{
public:
    TBytesView(const void* data, std::size_t size)
        : m_data(static_cast<const std::uint8_t*>(data)), m_size(size)
    {
    }
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::uint64_t Size() const override { return m_size; }
    void SetSize(std::uint64_t) override { throw EStreamError("Flux en lecture seule"); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};
