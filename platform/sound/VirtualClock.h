// The clock of the virtual sound devices when a test lets them run by themselves: a thread that advances
// them every 5 ms by speed times the real time gone by.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

class VirtualClock
{
public:
    ~VirtualClock() { Stop(); }

    void Run(double speed, std::function<void(std::uint32_t ms)> advance)
    {
        Stop();
        if (speed <= 0)
            return;
        m_running = true;
        m_thread = std::thread([this, speed, advance = std::move(advance)] {
            // The time is measured, not counted in sleeps: each sleep lasts a little longer than asked, and
            // counting them would run the devices slow by that much.
            using Clock = std::chrono::steady_clock;
            const Clock::time_point start = Clock::now();
            double advanced = 0; // virtual milliseconds handed out so far
            while (m_running) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                const double due =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count() * speed;
                const auto whole = static_cast<std::uint32_t>(due - advanced);
                advanced += whole;
                if (whole > 0)
                    advance(whole);
            }
        });
    }

    void Stop()
    {
        if (m_running.exchange(false) && m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
