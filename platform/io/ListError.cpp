#include "platform/io/ListError.h"

#include <string>

EListError::EListError(int index)
    : std::out_of_range("Indice de liste hors limites (" + std::to_string(index) + ")")
{
}
