// Where an exception goes when the code that raised it was called by the program's own machinery (a
// device notification, a timer) rather than by a caller that could handle it: the application's error
// box once the windows exist, the standard error stream before.
#pragma once

#include <exception>
#include <functional>

void SetApplicationExceptionHandler(std::function<void(const std::exception&)> handler);
void HandleApplicationException(const std::exception& e);
