// How many threads this test process has, for the checks that a device leaves none behind.
#pragma once

#include <chrono>
#include <filesystem>
#include <thread>

inline int ThreadCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// A joined thread has finished, yet the kernel may list it under /proc a moment longer: the count is
// read again for up to a second until it comes down to what is expected.
inline int ThreadCountOnceSettled(int expected)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int count = ThreadCount();
    while (count != expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        count = ThreadCount();
    }
    return count;
}
