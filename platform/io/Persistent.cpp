#include "platform/io/Persistent.h"

void TPersistent::Assign(const TPersistent& source)
{
    AssignError(source);
}

void TPersistent::AssignError(const TPersistent& source) const
{
    throw EConvertError("Impossible d'affecter un " + source.ClassName() + " à un " + ClassName());
}
