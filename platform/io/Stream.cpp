#include "platform/io/Stream.h"

#include "platform/io/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A wave image never exceeds what 32-bit chunk sizes can describe; a larger file is not one of ours.
constexpr std::uint64_t MaxFileSize = 0x100000000ULL + 64;

std::int64_t seekTarget(std::int64_t offset, SeekOrigin origin, std::uint64_t position, std::uint64_t size)
{
    std::int64_t base = 0;
    switch (origin) {
    case SeekOrigin::Beginning:
        base = 0;
        break;
    case SeekOrigin::Current:
        base = static_cast<std::int64_t>(position);
        break;
    case SeekOrigin::End:
        base = static_cast<std::int64_t>(size);
        break;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return -1;
    return target;
}

} // namespace

EFOpenError::EFOpenError(const std::string& fileName)
    : EStreamError("Impossible d'ouvrir le fichier " + fileName)
{
}

EFCreateError::EFCreateError(const std::string& fileName)
    : EStreamError("Impossible de créer le fichier " + fileName)
{
}

EReadError::EReadError(const std::string& fileName) : EStreamError("Erreur de lecture du fichier " + fileName)
{
}

EWriteError::EWriteError(const std::string& fileName)
    : EStreamError("Erreur d'écriture du fichier " + fileName)
{
}

std::uint64_t TStream::CopyFrom(TStream& source, std::uint64_t count)
{
    if (count == 0) {
        source.Seek(0, SeekOrigin::Beginning);
        count = source.Size();
    }
    std::uint8_t buffer[65536];
    std::uint64_t copied = 0;
    while (copied < count) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, count - copied));
        const std::size_t got = source.Read(buffer, want);
        if (got == 0)
            break;
        if (Write(buffer, got) != got)
            throw EStreamError("Erreur d'écriture dans le flux");
        copied += got;
    }
    return copied;
}

TMemoryStream::~TMemoryStream()
{
    std::free(m_memory);
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (m_position >= m_size || count == 0)
        return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - m_position));
    std::memcpy(buffer, m_memory + m_position, n);
    m_position += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return 0;
    std::uint64_t end = 0;
    if (__builtin_add_overflow(m_position, static_cast<std::uint64_t>(count), &end) ||
        end > std::numeric_limits<std::size_t>::max() / 2)
        throw std::bad_alloc();
    if (end > m_size) {
        const std::size_t oldSize = m_size;
        setBlockSize(static_cast<std::size_t>(end), false);
        // A write past the end leaves no stale bytes in the gap.
        if (m_position > oldSize)
            std::memset(m_memory + oldSize, 0, static_cast<std::size_t>(m_position - oldSize));
    }
    std::memcpy(m_memory + m_position, buffer, count);
    m_position = end;
    ContentChanged();
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    const std::int64_t target = seekTarget(offset, origin, m_position, m_size);
    if (target >= 0)
        m_position = static_cast<std::uint64_t>(target);
    return target;
}

void TMemoryStream::SetSize(std::uint64_t size)
{
    if (size > std::numeric_limits<std::size_t>::max() / 2)
        throw std::bad_alloc();
    const std::size_t oldSize = m_size;
    setBlockSize(static_cast<std::size_t>(size), true);
    if (m_size > oldSize)
        std::memset(m_memory + oldSize, 0, m_size - oldSize);
    if (m_position > m_size)
        m_position = m_size;
    ContentChanged();
}

void TMemoryStream::Clear()
{
    std::free(m_memory);
    m_memory = nullptr;
    m_size = 0;
    m_capacity = 0;
    m_position = 0;
    ContentChanged();
}

void TMemoryStream::SetCapacity(std::size_t capacity)
{
    if (capacity < m_size || capacity == m_capacity)
        return;
    auto* p = static_cast<std::uint8_t*>(std::realloc(m_memory, capacity == 0 ? 1 : capacity));
    if (!p)
        throw std::bad_alloc();
    m_memory = p;
    m_capacity = capacity;
}

void TMemoryStream::setBlockSize(std::size_t size, bool exact)
{
    if (size == 0) {
        std::free(m_memory);
        m_memory = nullptr;
        m_capacity = 0;
        m_size = 0;
        return;
    }
    std::size_t capacity = size;
    if (!exact) {
        if (size <= m_capacity) {
            m_size = size;
            return;
        }
        // Grow by half again, in whole 64 KiB steps, so that a wave built by many small writes
        // is not copied at each of them.
        capacity = std::max(size, m_capacity + m_capacity / 2);
        capacity = (capacity + 0xFFFF) & ~static_cast<std::size_t>(0xFFFF);
    }
    if (capacity != m_capacity) {
        auto* p = static_cast<std::uint8_t*>(std::realloc(m_memory, capacity));
        if (!p)
            throw std::bad_alloc();
        m_memory = p;
        m_capacity = capacity;
    }
    m_size = size;
}

void TMemoryStream::adoptBlock(std::uint8_t* memory, std::size_t size)
{
    std::free(m_memory);
    m_memory = memory;
    m_size = size;
    m_capacity = size;
    m_position = 0;
    ContentChanged();
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    if (&source == this)
        return;
    source.Seek(0, SeekOrigin::Beginning);
    const std::uint64_t size = source.Size();
    if (const auto* mem = dynamic_cast<const TMemoryStream*>(&source)) {
        CopyContentFrom(*mem);
        return;
    }
    // The new content is read aside and taken in one step: whoever watches the changes sees the
    // stream only before or after, never half loaded.
    if (size > std::numeric_limits<std::size_t>::max() / 2)
        throw std::bad_alloc();
    HeapBlock block(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < block.size()) {
        const std::size_t got = source.Read(block.data() + done, block.size() - done);
        if (got == 0)
            break;
        done += got;
    }
    if (done < block.size())
        block.resize(done);
    AdoptBlock(std::move(block));
}

void TMemoryStream::CopyContentFrom(const TMemoryStream& other)
{
    if (&other == this)
        return;
    HeapBlock block(other.m_size);
    if (other.m_size)
        std::memcpy(block.data(), other.m_memory, other.m_size);
    AdoptBlock(std::move(block));
}

void TMemoryStream::AdoptBlock(HeapBlock&& block)
{
    const std::size_t size = block.size();
    adoptBlock(block.release(), size);
}

void TMemoryStream::SaveToStream(TStream& dest) const
{
    if (m_size == 0)
        return;
    if (dest.Write(m_memory, m_size) != m_size)
        throw EStreamError("Erreur d'écriture dans le flux");
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st
    {
    };
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError(fileName);
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize > MaxFileSize)
        throw EStreamError("Le fichier " + fileName + " est trop volumineux");

    HeapBlock block(static_cast<std::size_t>(fileSize));
    std::size_t done = 0;
    while (done < fileSize) {
        const ssize_t got = ::read(fd.get(), block.data() + done, static_cast<std::size_t>(fileSize) - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EReadError(fileName);
        }
        if (got == 0)
            break; // the file shrank meanwhile: keep what was there
        done += static_cast<std::size_t>(got);
    }
    if (done < block.size())
        block.resize(done);
    AdoptBlock(std::move(block));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const
{
    FileDescriptor fd(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw EFCreateError(fileName);
    std::size_t done = 0;
    while (done < m_size) {
        const ssize_t put = ::write(fd.get(), m_memory + done, m_size - done);
        if (put <= 0) {
            if (put < 0 && errno == EINTR)
                continue;
            throw EWriteError(fileName);
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd.release()) != 0)
        throw EWriteError(fileName);
}

void TMemoryStream::SwapContent(TMemoryStream& other)
{
    if (&other == this)
        return;
    std::swap(m_memory, other.m_memory);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_position, other.m_position);
    ContentChanged();
    other.ContentChanged();
}

std::size_t TBytesView::Read(void* buffer, std::size_t count)
{
    if (m_position >= m_size || count == 0)
        return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - m_position));
    std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    return n;
}

std::int64_t TBytesView::Seek(std::int64_t offset, SeekOrigin origin)
{
    const std::int64_t target = seekTarget(offset, origin, m_position, m_size);
    if (target >= 0)
        m_position = static_cast<std::uint64_t>(target);
    return target;
}

TFileStream::TFileStream(const std::string& fileName, Mode mode) : m_fileName(fileName)
{
    const int flags = mode == Create ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDWR | O_CLOEXEC);
    m_fd = ::open(fileName.c_str(), flags, 0666);
    if (m_fd < 0) {
        if (mode == Create)
            throw EFCreateError(fileName);
        throw EFOpenError(fileName);
    }
}

TFileStream::~TFileStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(m_fd, static_cast<char*>(buffer) + done, count - done,
                                    static_cast<off_t>(m_position + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    m_position += done;
    return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(m_fd, static_cast<const char*>(buffer) + done, count - done,
                                     static_cast<off_t>(m_position + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    m_position += done;
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, SeekOrigin origin)
{
    const std::int64_t target = seekTarget(offset, origin, m_position, Size());
    if (target >= 0)
        m_position = static_cast<std::uint64_t>(target);
    return target;
}

std::uint64_t TFileStream::Size() const
{
    struct stat st
    {
    };
    return ::fstat(m_fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

void TFileStream::SetSize(std::uint64_t size)
{
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        throw EWriteError(m_fileName);
    if (m_position > size)
        m_position = size;
}
