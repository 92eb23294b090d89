#include "platform/io/HeapBlock.h"

#include <sys/mman.h>

void HeapBlock::preferHugePages() noexcept
{
#ifdef MADV_HUGEPAGE
    constexpr std::size_t hugePage = std::size_t{2} << 20;
    if (m_size < 4 * hugePage)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(m_data.get());
    const std::size_t head = (hugePage - start % hugePage) % hugePage;
    const std::size_t length = (m_size - head) / hugePage * hugePage;
    static_cast<void>(madvise(m_data.get() + head, length, MADV_HUGEPAGE));
#endif
}
