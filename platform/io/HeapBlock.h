// A block of bytes on the C heap, owned, that can be shrunk in place with realloc.
// Used where a buffer is sized once from an estimate and trimmed afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

struct FreeDeleter
{
    void operator()(void* p) const noexcept { std::free(p); }
};

class HeapBlock
{
public:
    HeapBlock() = default;

    // Allocates size bytes, uninitialised; throws std::bad_alloc.
    explicit HeapBlock(std::size_t size) { allocate(size); }

    void allocate(std::size_t size)
    {
        m_data.reset();
        m_size = 0;
        if (size == 0)
            return;
        auto* p = static_cast<std::uint8_t*>(std::malloc(size));
        if (!p)
            throw std::bad_alloc();
        m_data.reset(p);
        m_size = size;
        preferHugePages();
    }

    // Shrinks (or grows) the block keeping its first bytes; size 0 frees it.
    void resize(std::size_t size)
    {
        if (size == 0) {
            m_data.reset();
            m_size = 0;
            return;
        }
        auto* p = static_cast<std::uint8_t*>(std::realloc(m_data.get(), size));
        if (!p)
            throw std::bad_alloc();
        static_cast<void>(m_data.release());
        m_data.reset(p);
        m_size = size;
    }

    std::uint8_t* data() noexcept { return m_data.get(); }
    const std::uint8_t* data() const noexcept { return m_data.get(); }
    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

    // Hands the block over to a caller that frees it with std::free.
    std::uint8_t* release() noexcept
    {
        m_size = 0;
        return m_data.release();
    }

private:
    // On this kind of machine, faulting in a few hundred megabytes in 4 KiB pages costs more than
    // converting them: large blocks ask the kernel for huge pages (a hint only).
    void preferHugePages() noexcept;

    std::unique_ptr<std::uint8_t, FreeDeleter> m_data;
    std::size_t m_size = 0;
};
