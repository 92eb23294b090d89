#include "platform/sound/CaptureSource.h"

#include <mutex>

namespace {

struct Choice
{
    std::mutex mutex;
    std::string source;
};

Choice& choice()
{
    static Choice c;
    return c;
}

} // namespace

std::string SelectedCaptureSource()
{
    Choice& c = choice();
    const std::lock_guard<std::mutex> lock(c.mutex);
    return c.source;
}

void SelectCaptureSource(const std::string& sourceName)
{
    Choice& c = choice();
    const std::lock_guard<std::mutex> lock(c.mutex);
    c.source = sourceName;
}
