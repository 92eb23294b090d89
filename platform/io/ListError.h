// Asking a list for an item it does not have: "Indice de liste hors limites (%d)".
#pragma once

#include <stdexcept>

class EListError : public std::out_of_range
{
public:
    explicit EListError(int index);
};
