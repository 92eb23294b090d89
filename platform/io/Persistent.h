// Objects that can copy their content from another object of a kind they know.
#pragma once

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TPersistent
{
public:
    virtual ~TPersistent() = default;
    virtual std::string ClassName() const = 0;
    // Copies source's content; the default refuses with EConvertError, as does every class
    // for a source it does not know.
    virtual void Assign(const TPersistent& source);

protected:
    [[noreturn]] void AssignError(const TPersistent& source) const;
};
