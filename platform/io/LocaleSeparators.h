// The decimal and time separators of the user's locale, as the time and format texts show them.
// Read once from the system locale (LC_NUMERIC and LC_TIME of the environment); tests replace them.
#pragma once

#include <optional>
#include <string>

struct LocaleSeparators
{
    std::string decimal = ".";
    std::string time = ":";
};

// The separators in force: the override when one is set, else the system locale's.
LocaleSeparators CurrentLocaleSeparators();

// Replaces the system's separators until called again with std::nullopt.
void SetLocaleSeparatorsOverride(std::optional<LocaleSeparators> separators);

// Reads the separators of the locale named (empty: the environment's), falling back to "." and ":".
LocaleSeparators ReadSystemLocaleSeparators(const char* localeName = "");
