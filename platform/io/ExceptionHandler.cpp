#include "platform/io/ExceptionHandler.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mutex;
std::function<void(const std::exception&)> g_handler;

} // namespace

void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_handler = std::move(handler);
}

void HandleApplicationException(const std::exception& e)
{
    std::function<void(const std::exception&)> handler;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        handler = g_handler;
    }
    if (handler)
        handler(e);
    else
        std::fprintf(stderr, "Sonalto : %s\n", e.what());
}
