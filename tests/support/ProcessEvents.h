// The GUI thread's events, handled from a test the way the program's event loop would handle them.
#pragma once

#include <chrono>
#include <functional>

// Runs the GUI thread's events until the condition holds or the patience runs out; whether it holds.
bool ProcessUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds patience = std::chrono::seconds(3));
