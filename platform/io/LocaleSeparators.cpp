#include "platform/io/LocaleSeparators.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>
#include <mutex>

namespace {

std::mutex g_mutex;
std::optional<LocaleSeparators> g_override;
std::optional<LocaleSeparators> g_system;

// The time format of a locale ("%H:%M:%S", "%T", "%H.%M.%S"...): the separator is what follows the hours.
std::string timeSeparatorOf(const char* timeFormat)
{
    if (!timeFormat)
        return ":";
    std::string format(timeFormat);
    const auto pos = format.find("%H");
    if (pos != std::string::npos && pos + 2 < format.size() && format[pos + 2] != '%')
        return std::string(1, format[pos + 2]);
    const auto posI = format.find("%I");
    if (posI != std::string::npos && posI + 2 < format.size() && format[posI + 2] != '%')
        return std::string(1, format[posI + 2]);
    return ":";
}

} // namespace

LocaleSeparators ReadSystemLocaleSeparators(const char* localeName)
{
    LocaleSeparators result;
    locale_t loc = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, localeName ? localeName : "",
                             static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr))
        return result;
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    if (radix && *radix)
        result.decimal = radix;
    result.time = timeSeparatorOf(nl_langinfo_l(T_FMT, loc));
    freelocale(loc);
    return result;
}

LocaleSeparators CurrentLocaleSeparators()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_override)
        return *g_override;
    if (!g_system)
        g_system = ReadSystemLocaleSeparators("");
    return *g_system;
}

void SetLocaleSeparatorsOverride(std::optional<LocaleSeparators> separators)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_override = std::move(separators);
}
